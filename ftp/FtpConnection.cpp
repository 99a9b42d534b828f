#include "ftp/FtpConnection.h"

#include "ftp/SecureLogIn.h"

#include <curl/curl.h>

namespace {

// Reply codes that say a command is not offered at all, rather than refused
// for its argument.
bool notOffered(int code) {
    return code == 202 || code == 500 || code == 502 || code == 504;
}

// How long a server may take to answer two commands sent together, the first
// time a connection tries it.
constexpr qint64 kTogetherTrialMs = 5000;
// libcurl's largest upload buffer.
constexpr long kSftpUploadBuffer = 2 * 1024 * 1024;

// A path in an SFTP quote command: in double quotes, with the quote and the
// backslash escaped, so that blanks and quotes in names survive.
QByteArray sftpQuoted(const QByteArray& path) {
    QByteArray out = "\"";
    for (char c : path) {
        if (c == '"' || c == '\\')
            out.append('\\');
        out.append(c);
    }
    out.append('"');
    return out;
}

// The facts of a folder listing the program reads are the type, the size and,
// where the caller wants it, the time. A server that lists more by default
// (permissions, owner, inode numbers, or a time nobody reads: work for the
// server on every file) is asked for these alone, as the MLST feature line
// allows: the facts the server offers, "*" after those it lists now.
struct MlstFacts {
    QByteArray wanted;
    QByteArray listed;
};
MlstFacts mlstFacts(const QByteArray& offered, bool withTimes) {
    MlstFacts facts;
    for (QByteArray fact : offered.split(';')) {
        fact = fact.trimmed();
        if (fact.isEmpty())
            continue;
        const bool listed = fact.endsWith('*');
        if (listed)
            fact.chop(1);
        const QByteArray name = fact.toLower();
        if (name == "type" || name == "size" || (withTimes && name == "modify"))
            facts.wanted += fact + ';';
        if (listed)
            facts.listed += fact + ';';
    }
    return facts;
}

} // namespace

FtpConnection::FtpConnection() = default;

FtpConnection::~FtpConnection() {
    upload_.abort();
}

Result<> FtpConnection::ready() {
    if (upload_.active())
        return Failure{FailureKind::Local, 0, QStringLiteral("an upload is under way")};
    if (isSftp())
        return {};
    // A server that closed the connection while it was idle (with a "421" or
    // without) has it let go here rather than by curl unnoticed.
    if (const int socket = transfer_.controlSocket();
        socket >= 0 && ControlChannel::hasUnread(socket))
        transfer_.forgetConnection();
    if (transfer_.connectionsLetGo() != settledAt_) {
        // The next command logs in afresh, and the new connection knows
        // nothing of what was asked of the old one: a server that wants to be
        // told of UTF-8 would read the next names in another encoding.
        settledAt_ = transfer_.connectionsLetGo();
        mlstListed_ = mlstByDefault_;
        if (utf8_) {
            const auto told = command("OPTS", "UTF8 ON");
            if (!told && told.failure().isConnectionProblem())
                return told.failure();
        }
    }
    return {};
}

int FtpConnection::attemptLogIn() {
    transfer_.resetOptions();
    const QByteArray url = transfer_.baseUrl() + '/';
    CURL* e = transfer_.easy();
    curl_easy_setopt(e, CURLOPT_URL, url.constData());
    curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    curl_slist* quote = nullptr;
    if (!isSftp()) {
        curl_easy_setopt(e, CURLOPT_FTP_FILEMETHOD, long(CURLFTPMETHOD_NOCWD));
        quote = curl_slist_append(nullptr, "*FEAT");
        curl_easy_setopt(e, CURLOPT_QUOTE, quote);
    }
    const int rc = transfer_.perform();
    curl_easy_setopt(e, CURLOPT_QUOTE, nullptr);
    curl_slist_free_all(quote);
    return rc;
}

Result<> FtpConnection::logIn(const HostAddress& address, const QByteArray& user,
                              const QByteArray& password) {
    if (!isUsable())
        return Failure{FailureKind::Local, 0, QStringLiteral("libcurl could not start")};
    transfer_.setAddress(address);
    curl_easy_setopt(transfer_.easy(), CURLOPT_USERNAME, user.constData());
    curl_easy_setopt(transfer_.easy(), CURLOPT_PASSWORD, password.constData());
    SecureLogIn secure(transfer_, [this] { return attemptLogIn(); });
    bool ok = false;
    if (address.usesTls())
        ok = secure.overTls();
    else if (isSftp())
        ok = secure.overSsh();
    else
        ok = attemptLogIn() == CURLE_OK;
    transfer_.trust().wantCertInfo = false;
    transfer_.trust().freshConnect = false;
    if (!ok)
        return transfer_.lastFailed()
                   ? transfer_.lastFailure()
                   : Failure{FailureKind::Secure, 0, QStringLiteral("the server is not trusted")};

    char* entry = nullptr;
    if (curl_easy_getinfo(transfer_.easy(), CURLINFO_FTP_ENTRY_PATH, &entry) == CURLE_OK && entry)
        entryPath_ = entry;
    if (entryPath_.isEmpty())
        entryPath_ = "/";
    if (isSftp())
        return {};

    if (const auto* feat = transfer_.channel().replyTo("FEAT"); feat && feat->code == 211) {
        features_ = ServerFeatures::fromFeat(feat->lines);
        hashSelected_ = features_.hashSelected;
        for (const QByteArray& line : feat->lines) {
            const QByteArray f = line.trimmed().toUpper();
            if (f == "UTF8")
                utf8_ = true;
            if (f == "MLSD" || f.startsWith("MLST"))
                mlsd_ = true;
            if (f.startsWith("MLST ")) {
                mlstOffered_ = line.trimmed().mid(5);
                mlstByDefault_ = mlstListed_ = mlstFacts(mlstOffered_, true).listed;
            }
        }
    }
    settledAt_ = transfer_.connectionsLetGo();
    if (utf8_) {
        // Servers that offer UTF8 may still want to be told.
        (void)command("OPTS", "UTF8 ON");
    }
    return {};
}

Result<> FtpConnection::askForFacts(bool withTimes) {
    if (mlstOffered_.isEmpty())
        return {};
    const QByteArray wanted = mlstFacts(mlstOffered_, withTimes).wanted;
    if (wanted == mlstListed_)
        return {};
    const auto answer = command("OPTS", "MLST " + wanted);
    if (!answer && answer.failure().isConnectionProblem())
        return answer.failure();
    // Asked once either way: a server that declines lists as it did.
    mlstListed_ = wanted;
    return {};
}

QByteArray FtpConnection::absolutePath(const QByteArray& path) const {
    if (path.startsWith('/'))
        return path;
    QByteArray base = entryPath_;
    if (!base.endsWith('/'))
        base.append('/');
    return base + path;
}

Result<ParsedListing> FtpConnection::list(const QByteArray& folder, bool withTimes) {
    if (auto idle = ready(); !idle)
        return idle.failure();
    if (mlsd_) {
        if (auto asked = askForFacts(withTimes); !asked)
            return asked.failure();
    }
    QByteArray path = folder;
    if (!path.isEmpty() && !path.endsWith('/'))
        path.append('/');
    transfer_.resetOptions();
    CURL* e = transfer_.easy();
    const QByteArray url = transfer_.urlFor(path);
    curl_easy_setopt(e, CURLOPT_URL, url.constData());
    // "-a" asks servers that hide dot files by default to show them. An SFTP
    // folder URL lists in the style of "ls -l". MLSD names its folder, which
    // saves a CWD before every listing; LIST, whose argument some servers
    // read as options, goes to its folder first.
    if (!isSftp())
        curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, mlsd_ ? "MLSD" : "LIST -a");
    if (mlsd_ && !path.isEmpty())
        curl_easy_setopt(e, CURLOPT_FTP_FILEMETHOD, long(CURLFTPMETHOD_NOCWD));
    const int rc = transfer_.perform();
    curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, nullptr);
    const QByteArray data = transfer_.takeReceived();
    if (rc != CURLE_OK)
        return transfer_.lastFailure();
    if (transfer_.receiveOverflowed())
        return Failure{FailureKind::Protocol, 0, QStringLiteral("the listing is too large")};
    return parseListing(data, mlsd_ ? ListingFormat::Mlsd : ListingFormat::List);
}

int FtpConnection::performCommands(const QList<QByteArray>& commands) {
    // "*": a refused command must not make curl drop the control connection;
    // the reply codes come from the reply lines instead.
    curl_slist* quote = nullptr;
    for (const QByteArray& command : commands)
        quote = curl_slist_append(quote, ('*' + command).constData());
    // The server's root, absolute: with no folder to change to, curl sends no
    // CWD around the commands (their arguments are absolute paths).
    const QByteArray url = transfer_.baseUrl() + "/%2F";
    CURL* e = transfer_.easy();
    curl_easy_setopt(e, CURLOPT_URL, url.constData());
    curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(e, CURLOPT_FTP_FILEMETHOD, long(CURLFTPMETHOD_NOCWD));
    curl_easy_setopt(e, CURLOPT_QUOTE, quote);
    const int rc = transfer_.perform();
    curl_easy_setopt(e, CURLOPT_QUOTE, nullptr);
    curl_slist_free_all(quote);
    return rc;
}

Result<int> FtpConnection::command(const QByteArray& verb, const QByteArray& argument) {
    if (auto idle = ready(); !idle)
        return idle.failure();
    transfer_.resetOptions();
    const QByteArray cmd = argument.isEmpty() ? verb : verb + ' ' + argument;
    if (performCommands({cmd}) != CURLE_OK)
        return transfer_.lastFailure();
    const auto* reply = transfer_.channel().replyTo(cmd);
    if (!reply || reply->code == 0)
        return Failure{FailureKind::Protocol, 0, QStringLiteral("no reply to ") + verb};
    return reply->code;
}

Result<> FtpConnection::commandAnswered(const QByteArray& verb, const QByteArray& argument,
                                        const std::function<bool(int)>& accepted) {
    const auto code = command(verb, argument);
    if (!code)
        return code.failure();
    if (!accepted(*code))
        return refusal(argument.isEmpty() ? verb : verb + ' ' + argument);
    return {};
}

Failure FtpConnection::refusal(const QByteArray& command) const {
    const auto* reply = transfer_.channel().replyTo(command);
    if (!reply)
        return {FailureKind::Protocol, 0, QStringLiteral("no reply")};
    // "421": the server is closing the connection, whatever the command was.
    return {reply->code == 421 ? FailureKind::ConnectionLost : FailureKind::Refused, reply->code,
            QString::fromUtf8(reply->text())};
}

int FtpConnection::sftpQuote(const QByteArray& line) {
    transfer_.resetOptions();
    curl_slist* quote = curl_slist_append(nullptr, line.constData());
    const QByteArray url = transfer_.baseUrl() + '/';
    CURL* e = transfer_.easy();
    curl_easy_setopt(e, CURLOPT_URL, url.constData());
    curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(e, CURLOPT_QUOTE, quote);
    const int rc = transfer_.perform();
    curl_easy_setopt(e, CURLOPT_QUOTE, nullptr);
    curl_slist_free_all(quote);
    return rc;
}

Result<> FtpConnection::sftpOutcome(int result) const {
    if (result == CURLE_OK)
        return {};
    return transfer_.lastFailure();
}

Result<> FtpConnection::makeDirectory(const QByteArray& path) {
    if (auto idle = ready(); !idle)
        return idle;
    if (isSftp())
        return sftpOutcome(sftpQuote("mkdir " + sftpQuoted(path)));
    return commandAnswered("MKD", path, [](int code) { return code == 257; });
}

Result<> FtpConnection::deleteFile(const QByteArray& path) {
    if (auto idle = ready(); !idle)
        return idle;
    if (isSftp())
        return sftpOutcome(sftpQuote("rm " + sftpQuoted(path)));
    return commandAnswered("DELE", path, [](int code) { return code / 100 == 2; });
}

Result<bool> FtpConnection::fileExists(const QByteArray& path) {
    if (auto idle = ready(); !idle)
        return idle.failure();
    if (isSftp()) {
        transfer_.resetOptions();
        const QByteArray url = transfer_.urlFor(path);
        curl_easy_setopt(transfer_.easy(), CURLOPT_URL, url.constData());
        curl_easy_setopt(transfer_.easy(), CURLOPT_NOBODY, 1L);
        const int rc = transfer_.perform();
        if (rc == CURLE_REMOTE_FILE_NOT_FOUND)
            return false;
        if (rc != CURLE_OK)
            return transfer_.lastFailure();
        return true;
    }
    // Some servers refuse SIZE in ASCII mode, which the last listing may have
    // left on.
    (void)command("TYPE", "I");
    const auto code = command("SIZE", path);
    if (!code)
        return code.failure();
    if (*code == 421)
        return refusal("SIZE " + path);
    return *code != 550;
}

Result<> FtpConnection::rename(const QByteArray& from, const QByteArray& to) {
    if (auto idle = ready(); !idle)
        return idle;
    if (isSftp())
        return sftpOutcome(sftpQuote("rename " + sftpQuoted(from) + ' ' + sftpQuoted(to)));
    transfer_.resetOptions();
    // Both in one exchange; an RNTO after a refused RNFR is refused in turn.
    const QByteArray rnfr = "RNFR " + from;
    const QByteArray rnto = "RNTO " + to;
    if (canSendTogether()) {
        if (auto sent = sendTogether({rnfr, rnto}, CurlTransfer::kResponseTimeoutS * 1000); !sent) {
            together_ = Together::Untried; // the next connection is tried afresh
            return sent;
        }
    } else if (performCommands({rnfr, rnto}) != CURLE_OK) {
        return transfer_.lastFailure();
    }
    const auto* first = transfer_.channel().replyTo(rnfr);
    const auto* second = transfer_.channel().replyTo(rnto);
    if (!first || first->code != 350)
        return refusal(rnfr);
    if (!second || second->code / 100 != 2)
        return refusal(rnto);
    return {};
}

void FtpConnection::setSendTogether(bool on) {
    together_ = !on                            ? Together::Off
                : together_ == Together::Works ? Together::Works
                                               : Together::Untried;
}

bool FtpConnection::canSendTogether() {
    const int socket = transfer_.controlSocket();
    if (together_ == Together::Off || transfer_.address().protocol != RemoteProtocol::Ftp ||
        socket < 0 || upload_.active())
        return false;
    // Anything the server sent unasked (a "421" before it closes an idle
    // connection, the close itself) is curl's to find: it then logs in
    // afresh.
    if (ControlChannel::hasUnread(socket))
        return false;
    if (together_ == Together::Works)
        return true;
    // Some servers, and some firewalls that watch FTP, lose or refuse a
    // command sent before the reply to the one before. Two NOOPs tell, once
    // per connection: a server that does not answer both soon gets every
    // command one at a time, over a new connection (the old one may still
    // owe a reply).
    together_ = sendTogether({"NOOP", "NOOP"}, kTogetherTrialMs) ? Together::Works : Together::Off;
    return together_ == Together::Works;
}

Result<> FtpConnection::sendTogether(const QList<QByteArray>& commands, qint64 limitMs) {
    // Only on a plain connection (a TLS one is curl's to read and write) and
    // while no transfer runs, so curl has nothing in flight on it. Replies
    // that do not come, or bytes beyond them, leave the connection's state
    // unknown: it is dropped, and the next operation logs in afresh.
    const char* why = nullptr;
    if (!transfer_.channel().sendTogether(transfer_.controlSocket(), commands, limitMs, &why)) {
        transfer_.dropConnection(why);
        return transfer_.lastFailure();
    }
    transfer_.noteOutcome(true);
    return {};
}

Result<> FtpConnection::checkAlive() {
    if (auto idle = ready(); !idle)
        return idle;
    if (isSftp()) {
        transfer_.resetOptions();
        const QByteArray url = transfer_.baseUrl() + '/';
        curl_easy_setopt(transfer_.easy(), CURLOPT_URL, url.constData());
        curl_easy_setopt(transfer_.easy(), CURLOPT_NOBODY, 1L);
        return sftpOutcome(transfer_.perform());
    }
    return commandAnswered("NOOP", {}, [](int code) { return code / 100 == 2; });
}

Result<> FtpConnection::beginUpload(const QByteArray& path) {
    if (auto idle = ready(); !idle)
        return idle;
    transfer_.resetOptions();
    CURL* e = transfer_.easy();
    const QByteArray url = transfer_.urlFor(path);
    curl_easy_setopt(e, CURLOPT_URL, url.constData());
    curl_easy_setopt(e, CURLOPT_UPLOAD, 1L);
    // An SFTP upload keeps in flight what one call of the SSH library was
    // handed, and the library waits for the server's answers to all of it
    // before it takes more: libcurl's default of 64 KiB left the line idle
    // between every two such rounds.
    if (isSftp())
        curl_easy_setopt(e, CURLOPT_UPLOAD_BUFFERSIZE, kSftpUploadBuffer);
    // An absolute path goes with STOR as it is: no CWD before every file,
    // which costs a round trip each, and more where commands come between.
    if (path.startsWith('/'))
        curl_easy_setopt(e, CURLOPT_FTP_FILEMETHOD, long(CURLFTPMETHOD_NOCWD));
    return upload_.begin();
}

Result<ControlChannel::Reply> FtpConnection::ask(const QByteArray& line) {
    if (auto idle = ready(); !idle)
        return idle.failure();
    transfer_.resetOptions();
    if (performCommands({line}) != CURLE_OK)
        return transfer_.lastFailure();
    const auto* reply = transfer_.channel().replyTo(line);
    if (!reply || reply->code == 0)
        return Failure{FailureKind::Protocol, 0,
                       QStringLiteral("no reply to ") + line.split(' ').first()};
    if (reply->code == 421)
        return refusal(line);
    return *reply;
}

Result<QDateTime> FtpConnection::modifiedTime(const QByteArray& path) {
    if (auto idle = ready(); !idle)
        return idle.failure();
    if (isSftp()) {
        transfer_.resetOptions();
        CURL* e = transfer_.easy();
        const QByteArray url = transfer_.urlFor(path);
        curl_easy_setopt(e, CURLOPT_URL, url.constData());
        curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
        curl_easy_setopt(e, CURLOPT_FILETIME, 1L);
        const int rc = transfer_.perform();
        curl_easy_setopt(e, CURLOPT_FILETIME, 0L);
        if (rc != CURLE_OK)
            return transfer_.lastFailure();
        curl_off_t seconds = -1;
        if (curl_easy_getinfo(e, CURLINFO_FILETIME_T, &seconds) != CURLE_OK || seconds < 0)
            return QDateTime();
        return QDateTime::fromSecsSinceEpoch(qint64(seconds), Qt::UTC);
    }
    if (!mdtmOffered_)
        return QDateTime();
    const QByteArray line = "MDTM " + path;
    const auto reply = ask(line);
    if (!reply)
        return reply.failure();
    if (notOffered(reply->code)) {
        mdtmOffered_ = false;
        return QDateTime();
    }
    if (reply->code != 213)
        return refusal(line);
    // "213 YYYYMMDDHHMMSS", perhaps with a fraction of a second.
    const QByteArray stamp = reply->text().mid(4).trimmed().left(14);
    QDateTime time =
        QDateTime::fromString(QString::fromLatin1(stamp), QStringLiteral("yyyyMMddHHmmss"));
    if (!time.isValid())
        return Failure{FailureKind::Protocol, 213, QString::fromUtf8(reply->text())};
    time.setTimeSpec(Qt::UTC);
    return time;
}

Result<bool> FtpConnection::setModifiedTime(const QByteArray& path, const QDateTime& utc) {
    if (auto idle = ready(); !idle)
        return idle.failure();
    if (timeSetter_ == TimeSetter::None)
        return false;
    if (isSftp()) {
        // curl reads the date as an HTTP date.
        const QByteArray date =
            utc.toUTC().toString(QStringLiteral("ddd, dd MMM yyyy HH:mm:ss 'GMT'")).toLatin1();
        if (sftpQuote("mtime " + sftpQuoted(date) + ' ' + sftpQuoted(path)) == CURLE_OK) {
            timeSetter_ = TimeSetter::Attributes;
            return true;
        }
        const Failure failure = transfer_.lastFailure();
        if (failure.isConnectionProblem() || timeSetter_ == TimeSetter::Attributes)
            return failure;
        timeSetter_ = TimeSetter::None;
        return false;
    }

    const QByteArray stamp = utc.toUTC().toString(QStringLiteral("yyyyMMddHHmmss")).toLatin1();
    const struct {
        TimeSetter setter;
        QByteArray line;
    } ways[] = {
        {TimeSetter::Mfmt, "MFMT " + stamp + ' ' + path},
        // Servers such as vsftpd set the time this way where allowed.
        {TimeSetter::MdtmWrite, "MDTM " + stamp + ' ' + path},
        {TimeSetter::SiteUtime, "SITE UTIME " + stamp + ' ' + path},
        {TimeSetter::SiteUtimeLong,
         "SITE UTIME " + path + ' ' + stamp + ' ' + stamp + ' ' + stamp + " UTC"},
    };
    for (const auto& way : ways) {
        if (timeSetter_ != TimeSetter::Unknown && timeSetter_ != way.setter)
            continue;
        const auto reply = ask(way.line);
        if (!reply)
            return reply.failure();
        if (reply->code / 100 == 2) {
            timeSetter_ = way.setter;
            return true;
        }
        // A way that worked before, or one the server announced, refuses
        // this file only.
        const bool announced = way.setter == TimeSetter::Mfmt && features_.mfmt;
        if (timeSetter_ == way.setter || (announced && !notOffered(reply->code)))
            return refusal(way.line);
    }
    timeSetter_ = TimeSetter::None;
    return false;
}

Result<HashMethod> FtpConnection::hashMethod() {
    if (hashMethod_)
        return *hashMethod_;
    if (isSftp()) {
        hashMethod_ = HashMethod{};
        return *hashMethod_;
    }
    constexpr HashAlgorithm byStrength[] = {HashAlgorithm::Sha256, HashAlgorithm::Sha1,
                                            HashAlgorithm::Md5, HashAlgorithm::Crc32};
    for (HashAlgorithm a : byStrength) {
        if (features_.hashAlgorithms.contains(a)) {
            hashMethod_ = HashMethod{a, true};
            return *hashMethod_;
        }
    }
    for (HashAlgorithm a : byStrength) {
        if (features_.xHashes.contains(a)) {
            hashMethod_ = HashMethod{a, false};
            return *hashMethod_;
        }
    }
    // Some servers answer X commands they do not list. Without a file, one
    // that knows the command says that a file is missing; one that does not
    // says so.
    for (HashAlgorithm a : byStrength) {
        const auto reply = ask(HashXCommand(a));
        if (!reply)
            return reply.failure();
        if (!notOffered(reply->code)) {
            hashMethod_ = HashMethod{a, false};
            return *hashMethod_;
        }
    }
    hashMethod_ = HashMethod{};
    return *hashMethod_;
}

Result<QByteArray> FtpConnection::hashOf(const QByteArray& path, const HashMethod& method) {
    if (method.isNone() || isSftp())
        return Failure{FailureKind::Protocol, 0, QStringLiteral("no hash command")};
    QByteArray line = HashXCommand(method.algorithm) + ' ' + path;
    if (method.hashCommand) {
        if (hashSelected_ != method.algorithm) {
            const QByteArray choose = "OPTS HASH " + HashAlgorithmName(method.algorithm);
            const auto chosen = ask(choose);
            if (!chosen)
                return chosen.failure();
            if (chosen->code / 100 != 2)
                return refusal(choose);
            hashSelected_ = method.algorithm;
        }
        line = "HASH " + path;
    }
    const auto reply = ask(line);
    if (!reply)
        return reply.failure();
    if (reply->code / 100 != 2)
        return refusal(line);
    const QByteArray hash = HashFromReply(reply->text(), method);
    if (hash.isEmpty())
        return Failure{FailureKind::Protocol, reply->code, QString::fromUtf8(reply->text())};
    return hash;
}
