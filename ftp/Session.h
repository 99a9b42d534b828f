#pragma once

#include "ftp/ConnectionSettings.h"
#include "ftp/ListingParsers.h"
#include "ftp/ServerFeatures.h"
#include "ftp/SessionResult.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class FtpConnection;
class RemoteUpload;

// The port text as a port: rounded to the nearest whole number, halves to the
// even one; 0 to 65535 (0 means 21). Throws VbError "Type mismatch" for a text
// that is not a number (or is empty) and "Overflow" outside that range.
quint16 ConvertPortText(const QString& portText);

// One folder's listing: the entries the server listed (names as the server's
// bytes; see decodeRemoteName), in its order, and the lines of its listing that
// no parser could read. A listing with unreadable lines is not the whole folder.
struct RemoteListing {
    QList<RemoteEntry> entries;
    QList<QByteArray> unreadable;
};

// Whether a listing's caller reads the entries' times. A server that lists
// in facts (MLSD) is then spared formatting a time for every file.
enum class ListedTimes { Wanted, NotNeeded };

// One session with a server: a connection opened in two steps, as every
// opener reports them separately (openInternet(), then connect()), and the
// operations the program carries out over it. Whatever the session holds is
// closed in one place: close(), called by the destructor and before the
// session is opened again, so nothing is left open unreferenced or used after
// it was closed.
//
// Every operation answers what happened: its value, or a Failure that says
// why not (a refusal with the server's reply, a lost connection, a bad
// name...). Operations block until the server has answered; connecting gives
// up after 20 seconds, a server that stops answering after 60 seconds. An
// operation that fails because the connection was lost, closed ("421") or
// timed out is carried out again on a fresh log-in, up to three times in all
// with a short pause between; a refusal is never tried again.
//
// Paths are texts: absolute ("/www/a.html") or relative to the log-in folder.
// A name whose bytes are not valid UTF-8 arrives with each invalid byte b as
// the lone surrogate U+DC00 + b and goes back as the same bytes. A text that
// would reach the server as anything but itself is never sent (BadName):
// line ends and NUL, and, in every operation but a listing, byte 0xFF, which
// servers that follow the Telnet rules of the control connection read
// otherwise than those that take every byte as it is.
//
// The operations are const, as a run's helpers share the session; one thread
// at a time may use it.
class Session {
public:
    Session();
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Closes what the session held, then prepares a new connection. Answers
    // whether that worked (it fails only when libcurl cannot start).
    bool openInternet();
    // Connects and logs in (passive mode for FTP). The host box may name the
    // protocol (ftp://, ftpes://, ftps://, sftp://; see HostAddress.h); port 0
    // or 21 then means the protocol's default port. An empty user name logs
    // in as "anonymous". A certificate or host key that needs the user's word
    // is asked about through the message seam. Throws VbError when the port
    // text cannot be converted: nothing is sent then. Answers whether the
    // server accepted the log-in; connectFailure() says why not.
    bool connect(const ConnectionSettings& settings);
    const Failure& connectFailure() const { return connectFailure_; }
    // Closes the connection, then what openInternet() prepared.
    void close();
    // Drops what openInternet() prepared, after a refused connect.
    void closeInternet();

    bool hasInternet() const { return internetOpen_; }
    // True while a logged-in connection is held.
    bool isConnected() const { return loggedIn_; }
    // The connection's number in the transcript (0 when none is held): a new
    // log-in gets a new number.
    int connectionNumber() const;

    // The settings of the last connect().
    const ConnectionSettings& settings() const { return settings_; }
    // How long the last connect() took, in milliseconds: what another
    // session of the same server costs before it can work.
    qint64 logInMs() const { return logInMs_; }

    // A new session logged in with the same settings, or nullptr when it
    // cannot be opened. Never throws.
    std::unique_ptr<Session> openAnother() const;

    // The entries of the folder of a listing pattern (a folder path followed
    // by a name pattern such as "*.*") whose names match the name pattern.
    // An empty folder is an empty listing; "." and ".." never appear.
    Result<RemoteListing> list(const QString& pattern,
                               ListedTimes times = ListedTimes::Wanted) const;
    // The log-in folder, once the connection answers.
    Result<QString> currentDirectory() const;
    // Starts an upload; the server has accepted it once this succeeds. The
    // upload must end before the session is used for anything else.
    Result<std::unique_ptr<RemoteUpload>> openUpload(const QString& remotePath) const;
    // Creates one folder (a trailing "/" is allowed).
    Result<> createDirectory(const QString& remotePath) const;
    Result<> deleteFile(const QString& remotePath) const;
    // Gives a remote file another name. Where the new name is taken, the
    // server decides whether it is replaced.
    Result<> rename(const QString& remotePath, const QString& newPath) const;
    // Whether a remote file is (still) there, asked with SIZE: false only
    // when the server says there is no such file.
    Result<bool> fileExists(const QString& remotePath) const;
    // The entry the listing of its folder holds for a remote path (one
    // ending in "/" names a folder); none when the folder lists without it.
    Result<std::optional<RemoteEntry>> entryOf(const QString& remotePath) const;
    // The modification time the server keeps for a remote file, in UTC to
    // the second (MDTM; over SFTP the file's attributes); an invalid time
    // when the server tells no times.
    Result<QDateTime> modifiedTime(const QString& remotePath) const;
    // Sets a remote file's modification time (UTC, whole seconds) by the
    // first of MFMT, "MDTM time path" and SITE UTIME that the server takes
    // (over SFTP, by the file's attributes). False when it takes none; the
    // session then asks no more.
    Result<bool> setModifiedTime(const QString& remotePath, const QDateTime& utc) const;
    // Whether the server announced at the log-in that it sets times (MFMT).
    bool announcesTimeSetting() const;
    // The strongest hash the server computes for a file and how to ask for
    // it (HASH, XSHA256, XSHA1, XMD5, XCRC); none when it offers none.
    Result<HashMethod> hashMethod() const;
    // A remote file's hash by that method, in lower-case hex.
    Result<QByteArray> hashOf(const QString& remotePath, const HashMethod& method) const;
    // Lets the pair of commands of a rename go out together, in one write,
    // where the server copes (tried once per connection): one round trip
    // instead of two. For runs that use several connections; off unless set.
    void sendCommandsTogether(bool on) const;

    // While set, the operations of this thread call `callback` every few
    // milliseconds while they wait for the server, for instance to keep a
    // window working; an operation gives up (Cancelled) when it answers
    // false. The callback must not throw, and is not called again from
    // within itself. An empty one unsets it.
    static void setWaitCallback(std::function<bool()> callback);

private:
    // The connection for an operation on a path, and the path's absolute
    // bytes for the server.
    struct Target {
        FtpConnection* connection;
        QByteArray path;
    };
    Result<FtpConnection*> connection() const;
    Result<Target> target(const QString& remotePath) const;
    // Runs op(connection) until it succeeds, is refused or has been tried
    // three times; between tries the connection is logged in afresh. When a
    // try after a lost connection is refused, done() tells whether the lost
    // one had carried the operation out after all.
    template <typename Op, typename Done>
    auto retrying(FtpConnection& connection, Op op, Done done) const;
    template <typename Op> auto retrying(FtpConnection& connection, Op op) const;

    std::shared_ptr<FtpConnection> connection_;
    bool internetOpen_ = false;
    bool loggedIn_ = false;
    ConnectionSettings settings_;
    Failure connectFailure_;
    qint64 logInMs_ = 0;
};
