#pragma once

#include "ftp/Session.h"

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>

// A real FTP server on 127.0.0.1 at a free port, serving a fresh temporary
// folder, for the lifetime of this object.
//
// Pyftpdlib is the scriptable server (tests/support/ftpserver.py, run by
// /usr/bin/python3): faults can be injected while it runs. Vsftpd is the
// production server; it offers no MLSD, so listings go through LIST, and it
// speaks FTP over TLS with a throwaway self-signed certificate. The SFTP
// servers are rclone's (password log-in, the temporary folder as "/") and
// OpenSSH's sshd (as root only: a test account with a password, whose home
// is the temporary folder), each with a throwaway host key.
class FtpTestServer {
public:
    enum class Kind { Pyftpdlib, Vsftpd, RcloneSftp, OpenSshSftp };
    enum class Tls { None, Explicit, Implicit };
    // What the TLS certificate is like: self-signed for "localhost", the same
    // but valid only in the past, or for "otherhost" only and signed by a
    // throwaway authority.
    enum class Certificate { SelfSigned, Expired, OtherName };

    struct Options {
        bool hideMlsd = false;   // FEAT without MLSD, so clients fall back to LIST
        bool dosListing = false; // LIST answers in DOS/IIS style
        // Vsftpd: explicit or implicit. Pyftpdlib: explicit only, and it
        // drops every data connection before any TLS, as a server whose data
        // connections never carry TLS.
        Tls tls = Tls::None;
        Certificate certificate = Certificate::SelfSigned;
        // Uploads reach the server no faster than this, as over a slow line
        // (0: no limit). Vsftpd slows downloads too.
        qint64 uploadBytesPerSecond = 0;
        bool anonymous = false; // also lets "anonymous" in, with any password
        // Connections one client address may hold at once; beyond that the
        // server answers 421 and hangs up (0: the server's own limit).
        int maxConnectionsPerAddress = 0;
        // Pyftpdlib: hides MLSD and has LIST answer as servers in other
        // locales or set-ups do: "german" ("2. Mär 16:27"), "chinese"
        // ("3月  2日 16:27"), "iso" ("2005-04-08 11:22"), "multiword-owner"
        // (owner and group of several words), or "unreadable" (lines no LIST
        // parser reads). Dates older than half a year show their year.
        QString listStyle = QString();
        // Seconds a control connection may stay idle before the server
        // answers "421" and closes it (0: the server's own limit).
        int idleTimeoutS = 0;
        // Pyftpdlib: every this many commands on a connection, the command is
        // answered "421" and the connection closed instead (0: never).
        int dropEvery = 0;
        // Pyftpdlib: "none" withdraws MFMT, so that no modification time can
        // be set; "site-utime" sets them only by SITE UTIME (the form with
        // the path first and "UTC" last).
        QString timeSetting = QString();
        // Pyftpdlib: "hash" offers HASH (listed in FEAT, SHA-256 selected);
        // "xsha256" answers XSHA256 without listing it.
        QString hashCommands = QString();
        // Vsftpd: whether "MDTM time path" sets a file's time (its default).
        bool mdtmWrite = true;
        // Vsftpd over TLS: whether it logs every handshake and transfer, for
        // dataConnectionsResumed(). Off, it does no more work per file than
        // without TLS (benchmarks).
        bool logTls = true;
        // Pyftpdlib: every PASS is answered this much later, as by a server
        // whose log-ins are slow (0: at once).
        int logInDelayMs = 0;
    };

    // A fault for one FTP command (upper-case verb: "STOR", "DELE", "MKD",
    // "LIST", "MLSD", "PASV", "EPSV", "CWD", ...).
    //   "refuse"    reply 550 instead of carrying out the command
    //   "refuse-if-exists" the same, only when the argument names an existing entry
    //   "drop"      close the control connection instead of replying
    //   "drop-data" close the data connection after afterBytes bytes
    //   "drop-session" the same, and the control connection with it
    //   "slow-data" read the upload's data at bytesPerSecond
    //   "delay"     wait delayMs before handling the command
    //   "pasv-foreign" (PASV only) name another address in the reply
    //   "lose-following" carry it out, and throw away commands already sent after it
    //   "close-after" carry it out, then close the control connection
    // count: how many times the fault fires (-1: always).
    struct Fault {
        QString command;
        QString action;
        qint64 afterBytes = 0;
        int delayMs = 0;
        int count = -1;
        QString pathContains; // only when the argument contains this text
        qint64 bytesPerSecond = 0;
        // Only on the connections the server accepted from the one up to
        // the other, counted from 1 (0: no bound).
        int fromConnection = 0;
        int untilConnection = 0;
    };

    explicit FtpTestServer(Kind kind = Kind::Pyftpdlib);
    FtpTestServer(Kind kind, Options options);
    ~FtpTestServer();
    FtpTestServer(const FtpTestServer&) = delete;
    FtpTestServer& operator=(const FtpTestServer&) = delete;

    // Starts the server and waits until it accepts connections. On failure
    // answers false with a reason (tests start servers through TestServers.h).
    bool start(QString* reason = nullptr);
    // The account's password from the next start() on (pyftpdlib; vsftpd
    // takes any). "secret" unless set.
    void setPassword(const QString& password) { password_ = password; }
    void stop();

    QString host() const { return QStringLiteral("127.0.0.1"); }
    // The host box's text for this server: the host with the scheme of its
    // protocol ("ftpes://127.0.0.1", "sftp://127.0.0.1", ...).
    QString hostText() const;
    // The remote path of rootPath(), ending in "/".
    QString remoteRoot() const;
    // Hands the files a test put into rootPath() to the server's account, so
    // that clients may change them. Only sshd serves as another user than
    // the test's; for the others this does nothing.
    void ownFiles();
    quint16 port() const { return port_; }
    QString user() const;
    QString password() const;
    // The settings that log in to this server's account.
    ConnectionSettings settings() const {
        return {hostText(), QString::number(port()), user(), password()};
    }
    // Opens the session with settings() (the session closes what it held).
    bool logIn(Session& session) const {
        return session.openInternet() && session.connect(settings());
    }

    // The local folder that is the FTP root "/" of the account.
    QString rootPath() const;

    // A loopback port that was free a moment ago (bound, then released): where
    // nothing listens, so connecting to it is refused.
    static quint16 freeLoopbackPort();

    // How many connections to the server's control port are established
    // right now (read from the system's table of TCP sockets): the logged-in
    // sessions clients hold.
    int openControlConnections() const;

    // What the server proves itself with: the PEM of its TLS certificate, or
    // its SSH host key in wire format. Empty when it has none.
    QByteArray certificatePem() const;
    QByteArray hostKeyBlob() const;

    void addFault(const Fault& fault); // pyftpdlib only
    void clearFaults();

    // Every command line that reached the server so far, in order, as the
    // server received it (pyftpdlib only; passwords masked).
    QList<QByteArray> commandLog() const;

    // For each TLS data connection the server has accepted so far, in order,
    // whether its handshake resumed a session of the client's (vsftpd over
    // TLS only, from its log).
    QList<bool> dataConnectionsResumed() const;

private:
    bool startPyftpdlib(QString* reason);
    bool startVsftpd(QString* reason);
    bool startRclone(QString* reason);
    bool startSshd(QString* reason);
    bool makeCertificate(QString* reason);
    bool makeHostKey(QString* reason);
    bool startWatched(const QString& program, const QStringList& args, quint16 port,
                      QString* reason);
    bool waitForPortLine(QString* reason);
    void writeFaults();

    Kind kind_;
    Options options_;
    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<QTemporaryDir> workDir_; // configuration, logs, faults
    std::unique_ptr<QProcess> process_;
    quint16 port_ = 0;
    QString password_ = QStringLiteral("secret");
    QList<Fault> faults_;
    QList<int> faultIds_;
    int nextFaultId_ = 1;
};

Q_DECLARE_METATYPE(FtpTestServer::Kind)
Q_DECLARE_METATYPE(FtpTestServer::Tls)
Q_DECLARE_METATYPE(FtpTestServer::Certificate)
