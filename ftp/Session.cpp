#include "ftp/Session.h"

#include "core/VbError.h"
#include "core/Wildcard.h"
#include "ftp/CurlTransfer.h"
#include "ftp/FtpConnection.h"
#include "ftp/FtpTranscript.h"
#include "ftp/HostAddress.h"
#include "ftp/RemoteNames.h"
#include "ftp/RemoteUpload.h"

#include <QElapsedTimer>
#include <QRegularExpression>

#include <cmath>

namespace {

// Ties go to the even neighbour, as the port conversion has always done it.
double roundHalfEven(double value) {
    const double lower = std::floor(value);
    const double diff = value - lower;
    if (diff < 0.5)
        return lower;
    if (diff > 0.5)
        return lower + 1;
    return std::fmod(lower, 2.0) == 0 ? lower : lower + 1;
}

// A listing may name byte 0xFF: read the wrong way, it shows another folder
// and changes nothing. An operation that changes the server never names it.
enum class Use { Read, Change };

Result<QByteArray> remoteBytes(const QString& text, Use use = Use::Change) {
    const auto bytes = encodeRemoteName(text);
    if (!bytes || hasControlBytes(*bytes) || (use == Use::Change && hasTelnetEscape(*bytes)))
        return Failure{FailureKind::BadName, 0, QStringLiteral("the name cannot be sent as it is")};
    return *bytes;
}

Result<QByteArray> pathBytes(const QString& text) {
    auto bytes = remoteBytes(text);
    if (bytes && bytes->isEmpty())
        return Failure{FailureKind::BadName, 0, QStringLiteral("no name")};
    return bytes;
}

// An operation is tried this often in all when the connection keeps failing,
// with these pauses before the second and the third try.
constexpr int kTries = 3;
constexpr int kPauseMs[kTries - 1] = {250, 1000};

} // namespace

quint16 ConvertPortText(const QString& portText) {
    // Blanks around the number are tolerated; anything else that is not a plain
    // decimal number (with optional fraction and exponent) is not a port.
    static const QRegularExpression number(
        QStringLiteral(R"(^[+-]?(\d+(\.\d*)?|\.\d+)([eE][+-]?\d+)?$)"));
    const QString text = portText.trimmed();
    if (!number.match(text).hasMatch())
        throw VbError::typeMismatch();
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        throw VbError::overflow();
    const double rounded = roundHalfEven(value);
    if (rounded < 0 || rounded > 65535)
        throw VbError::overflow();
    const auto port = quint16(rounded);
    return port == 0 ? quint16(21) : port;
}

Session::Session() = default;

Session::~Session() {
    close();
}

bool Session::openInternet() {
    close();
    // The connection itself is made by connect(); here libcurl is made ready.
    internetOpen_ = CurlTransfer::libraryReady();
    return internetOpen_;
}

bool Session::connect(const ConnectionSettings& settings) {
    // Each log-in gets a connection of its own; a previous one logs out.
    connection_.reset();
    loggedIn_ = false;
    settings_ = settings;
    connectFailure_ = {FailureKind::NotConnected, 0, {}};
    const quint16 port = ConvertPortText(settings.portText);
    if (!internetOpen_)
        return false;
    // No user name means an anonymous log-in, with the conventional password
    // when none is given; an empty USER is refused by servers that do let
    // anonymous users in.
    QString userText = settings.userName;
    QString passwordText = settings.password;
    if (userText.isEmpty()) {
        userText = QStringLiteral("anonymous");
        if (passwordText.isEmpty())
            passwordText = QStringLiteral("anonymous@");
    }
    const auto address = parseHostAddress(settings.hostName, port);
    const auto user = remoteBytes(userText);
    const auto password = remoteBytes(passwordText);
    if (!address || !user || !password) {
        connectFailure_ = {FailureKind::BadName, 0, QStringLiteral("the host text is not usable")};
        return false;
    }
    auto connection = std::make_shared<FtpConnection>();
    QElapsedTimer logInTime;
    logInTime.start();
    const Result<> loggedIn = connection->logIn(*address, *user, *password);
    logInMs_ = logInTime.elapsed();
    if (!loggedIn) {
        connectFailure_ = loggedIn.failure();
        return false;
    }
    connection_ = std::move(connection);
    loggedIn_ = true;
    return true;
}

void Session::close() {
    loggedIn_ = false;
    closeInternet();
}

void Session::closeInternet() {
    // The connection logs out as it goes.
    connection_.reset();
    internetOpen_ = false;
    loggedIn_ = false;
}

int Session::connectionNumber() const {
    return loggedIn_ && connection_ ? connection_->number() : 0;
}

std::unique_ptr<Session> Session::openAnother() const {
    auto another = std::make_unique<Session>();
    if (!another->openInternet())
        return nullptr;
    try {
        if (!another->connect(settings_))
            return nullptr;
    } catch (const VbError&) {
        return nullptr;
    }
    return another;
}

Result<FtpConnection*> Session::connection() const {
    if (!loggedIn_ || !connection_)
        return Failure{FailureKind::NotConnected, 0, QStringLiteral("not connected")};
    if (connection_->upload().active())
        return Failure{FailureKind::Local, 0, QStringLiteral("an upload is under way")};
    return connection_.get();
}

template <typename Op, typename Done>
auto Session::retrying(FtpConnection& connection, Op op, Done done) const {
    for (int attempt = 1;; ++attempt) {
        auto result = op(connection);
        if (result.ok() || attempt >= kTries)
            return result;
        if (!result.failure().isConnectionProblem()) {
            // A refusal after a lost connection may be the server's answer to
            // an operation the lost connection carried out already.
            if (attempt > 1 && result.failure().kind == FailureKind::Refused && done(connection))
                return decltype(result)(typename decltype(result)::Value());
            return result;
        }
        FtpTranscript::note(QStringLiteral("trying again on a fresh log-in after: %1")
                                .arg(result.failure().describe()),
                            connection.number());
        connection.forgetConnection();
        if (!CurlTransfer::pause(kPauseMs[attempt - 1]))
            return decltype(result)(Failure{FailureKind::Cancelled, 0, QStringLiteral("given up")});
    }
}

template <typename Op> auto Session::retrying(FtpConnection& connection, Op op) const {
    return retrying(connection, op, [](FtpConnection&) { return false; });
}

Result<RemoteListing> Session::list(const QString& pattern, ListedTimes times) const {
    const auto c = connection();
    if (!c)
        return c.failure();
    const SearchPattern split = splitSearchPattern(pattern);
    const auto folder = remoteBytes(split.folder, Use::Read);
    if (!folder)
        return folder.failure();
    auto parsed = retrying(
        **c, [&](FtpConnection& fc) { return fc.list(*folder, times == ListedTimes::Wanted); });
    if (!parsed)
        return parsed.failure();
    RemoteListing listing;
    listing.unreadable = std::move(parsed->unreadable);
    const bool everything = matchesEverything(split.namePattern);
    listing.entries.reserve(parsed->entries.size());
    for (RemoteEntry& entry : parsed->entries) {
        if (everything || matchesWildcard(split.namePattern, decodeRemoteName(entry.name)))
            listing.entries.append(std::move(entry));
    }
    return listing;
}

Result<QString> Session::currentDirectory() const {
    const auto c = connection();
    if (!c)
        return c.failure();
    if (const auto alive = retrying(**c, [](FtpConnection& fc) { return fc.checkAlive(); }); !alive)
        return alive.failure();
    // The log-in folder: listings never change the folder a caller sees as
    // current.
    return decodeRemoteName((*c)->entryPath());
}

Result<Session::Target> Session::target(const QString& remotePath) const {
    const auto c = connection();
    if (!c)
        return c.failure();
    const auto path = pathBytes(remotePath);
    if (!path)
        return path.failure();
    return Target{*c, (*c)->absolutePath(*path)};
}

Result<std::unique_ptr<RemoteUpload>> Session::openUpload(const QString& remotePath) const {
    const auto t = target(remotePath);
    if (!t)
        return t.failure();
    if (t->path.endsWith('/'))
        return Failure{FailureKind::BadName, 0, QStringLiteral("a folder cannot be uploaded")};
    const auto begun =
        retrying(*t->connection, [&](FtpConnection& fc) { return fc.beginUpload(t->path); });
    if (!begun)
        return begun.failure();
    return std::make_unique<RemoteUpload>(connection_, remotePath);
}

Result<> Session::createDirectory(const QString& remotePath) const {
    const auto t = target(remotePath);
    if (!t)
        return t.failure();
    QByteArray path = t->path;
    if (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    return retrying(*t->connection, [&](FtpConnection& fc) { return fc.makeDirectory(path); });
}

Result<> Session::deleteFile(const QString& remotePath) const {
    const auto t = target(remotePath);
    if (!t)
        return t.failure();
    return retrying(
        *t->connection, [&](FtpConnection& fc) { return fc.deleteFile(t->path); },
        [&](FtpConnection& fc) {
            const auto there = fc.fileExists(t->path);
            return there && !*there;
        });
}

Result<> Session::rename(const QString& remotePath, const QString& newPath) const {
    const auto from = target(remotePath);
    if (!from)
        return from.failure();
    const auto to = pathBytes(newPath);
    if (!to)
        return to.failure();
    const QByteArray toPath = from->connection->absolutePath(*to);
    return retrying(
        *from->connection, [&](FtpConnection& fc) { return fc.rename(from->path, toPath); },
        [&](FtpConnection& fc) {
            const auto source = fc.fileExists(from->path);
            const auto target = fc.fileExists(toPath);
            return source && !*source && target && *target;
        });
}

Result<bool> Session::fileExists(const QString& remotePath) const {
    const auto t = target(remotePath);
    if (!t)
        return t.failure();
    return retrying(*t->connection, [&](FtpConnection& fc) { return fc.fileExists(t->path); });
}

Result<std::optional<RemoteEntry>> Session::entryOf(const QString& remotePath) const {
    QString path = remotePath;
    while (path.size() > 1 && path.endsWith(u'/'))
        path.chop(1);
    const SearchPattern parts = splitSearchPattern(path);
    const auto listing = list(parts.folder + QStringLiteral("*.*"));
    if (!listing)
        return listing.failure();
    for (const RemoteEntry& entry : listing->entries) {
        if (decodeRemoteName(entry.name) == parts.namePattern)
            return std::optional<RemoteEntry>(entry);
    }
    return std::optional<RemoteEntry>();
}

Result<QDateTime> Session::modifiedTime(const QString& remotePath) const {
    const auto t = target(remotePath);
    if (!t)
        return t.failure();
    return retrying(*t->connection, [&](FtpConnection& fc) { return fc.modifiedTime(t->path); });
}

Result<bool> Session::setModifiedTime(const QString& remotePath, const QDateTime& utc) const {
    const auto t = target(remotePath);
    if (!t)
        return t.failure();
    return retrying(*t->connection,
                    [&](FtpConnection& fc) { return fc.setModifiedTime(t->path, utc); });
}

bool Session::announcesTimeSetting() const {
    const auto c = connection();
    return c && (*c)->announcesTimeSetting();
}

Result<HashMethod> Session::hashMethod() const {
    const auto c = connection();
    return c ? (*c)->hashMethod() : Result<HashMethod>(c.failure());
}

Result<QByteArray> Session::hashOf(const QString& remotePath, const HashMethod& method) const {
    const auto t = target(remotePath);
    if (!t)
        return t.failure();
    return retrying(*t->connection, [&](FtpConnection& fc) { return fc.hashOf(t->path, method); });
}

void Session::sendCommandsTogether(bool on) const {
    if (const auto c = connection())
        (*c)->setSendTogether(on);
}

void Session::setWaitCallback(std::function<bool()> callback) {
    CurlTransfer::setWaitCallback(std::move(callback));
}
