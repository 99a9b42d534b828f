#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

#include "ftp/HostAddress.h"
#include "ftp/ListingParsers.h"
#include "ftp/ServerTrust.h"

// One logged-in connection to a server, kept open across operations: every
// operation runs on the same libcurl easy handle inside a private multi
// handle, whose connection cache keeps the log-in alive between them. The
// protocol (plain FTP, FTP over TLS, SFTP) is chosen at the log-in and stays
// inside: callers see the same operations for each.
// Private to the FTP layer, beneath the handle-based calls of wininet.h. Paths
// are raw bytes for the server, absolute ("/a/b") or relative to the log-in
// folder. No curl header is needed to include this one: the handles are held
// by libcurl's own opaque names.
//
// Over TLS the server's certificate must verify against the system's
// authorities and the host name, or be one the user trusts (ServerTrust):
// then every connection of the session, control and data alike, is held to
// that certificate's public key. Over SFTP the host key must be the known one
// or one the user accepts.
typedef void CURL;  // as libcurl declares its easy handle
typedef void CURLM; // and its multi handle

class FtpSession {
public:
    FtpSession();
    ~FtpSession();
    FtpSession(const FtpSession&) = delete;
    FtpSession& operator=(const FtpSession&) = delete;

    // Asks through the message seam when the server's certificate or host key
    // needs the user's word; false when the log-in fails or the user declines.
    bool logIn(const HostAddress& address, const QByteArray& user, const QByteArray& password);

    // The entries of a folder, or nothing when it cannot be listed.
    std::optional<QList<RemoteEntry>> list(const QByteArray& folder);

    // The server's reply code to an FTP command outside a transfer (0 when
    // none arrived, and always over SFTP). The argument must be checked for
    // control bytes by the caller.
    int command(const QByteArray& verb, const QByteArray& argument);

    // Absolute paths. True when the server did it.
    bool makeDirectory(const QByteArray& path);
    bool deleteFile(const QByteArray& path);
    // False only when the server says there is no such file.
    bool fileExists(const QByteArray& path);
    // Gives a file a new name (RNFR and RNTO, or the SFTP rename); true when
    // the server confirmed it.
    bool rename(const QByteArray& from, const QByteArray& to);

    QByteArray absolutePath(const QByteArray& path) const;
    QByteArray entryPath() const { return entryPath_; }
    bool isAlive();
    // Lets the commands of a pair (the rename) go out in one write where the
    // connection and the server allow it, which saves a round trip per pair.
    // Off unless set; the server is tried once per connection.
    void setSendTogether(bool on) {
        together_ = !on                            ? Together::Off
                    : together_ == Together::Works ? Together::Works
                                                   : Together::Untried;
    }

    // While set, operations on this thread call `callback` every few
    // milliseconds while they wait for the server (not from within a call of
    // it), for instance to keep a window working; when it answers false the
    // operation gives up and fails. The callback must not throw. An empty one
    // unsets it.
    static void setWaitCallback(std::function<bool()> callback);

    bool uploadActive() const { return upload_.active; }
    bool beginUpload(const QByteArray& path);
    // Whether the last operation failed on a refusal the server replied with,
    // the exchange complete, rather than on a broken connection.
    bool refusedByServer() const { return refusedByServer_; }
    // Takes all the bytes, waiting for room in the send buffer as long as it
    // takes; false once the upload has failed.
    bool writeUpload(const char* data, qsizetype size);
    // Lets buffered bytes go out for at most maxWaitMs, returning as soon as
    // at most `target` bytes wait, with a target of 0 only once the server has
    // acknowledged them all. Answers the bytes still waiting, -1 once the
    // upload has failed.
    qsizetype drainUpload(qsizetype target, int maxWaitMs);
    bool finishUpload();
    void abortUpload();

private:
    struct Reply {
        QByteArray command;
        int code = 0;
        QList<QByteArray> lines;
        // Adds a received line; true once it ended the reply (code is set).
        bool take(const QByteArray& line);
    };
    struct Upload {
        bool active = false;
        bool started = false; // the server accepted STOR: curl asked for data
        bool paused = false;
        bool finishing = false;
        bool done = false;
        int result = 0;
        // A ring: curl takes bytes from `head` while the caller appends
        // behind them, so that reading the file and sending overlap.
        // Allocated once per upload.
        std::vector<char> buffer;
        qsizetype head = 0;
        qsizetype filled = 0;
        QElapsedTimer sinceDrained;
    };
    enum class Step { Reached, Ended, OutOfTime };

    // libcurl's callbacks into the session, defined beside the code that
    // sets them up.
    struct Callbacks;
    static constexpr int kNoSocket = -1;
    static constexpr int kErrorTextSize = 256;

    // This connection's number in the transcript.
    const int number_;

    void resetOptions();
    int attemptLogIn();
    bool logInOverTls();
    bool logInOverSsh();
    std::optional<ServerTrust::CertificateDetails> probeCertificate(QString* nameProblem);
    std::optional<ServerTrust::CertificateDetails> peerCertificate() const;
    int sftpQuote(const QByteArray& command);
    bool isSftp() const { return address_.protocol == RemoteProtocol::Sftp; }
    QByteArray urlFor(const QByteArray& path) const;
    int perform();
    // Sends FTP commands, one after another, outside any transfer and without
    // changing folder; answers libcurl's result (replies are in replies_).
    int performCommands(const QList<QByteArray>& commands);
    bool canSendTogether();
    // Sends FTP commands in one write and reads their replies (in replies_);
    // false when they did not all come within limitMs, or the connection
    // failed: the connection is then dropped.
    bool sendTogether(const QList<QByteArray>& commands, qint64 limitMs);
    // Takes the easy handle out of the multi handle after an operation,
    // noting the control connection's socket.
    void leaveMulti();
    // Bookkeeping once a transfer has ended with curl's result.
    void transferEnded(int result);
    void cutConnection();
    // A fresh multi handle in place of the old one, whose cached connection
    // goes with it: the next operation logs in afresh.
    void replaceMulti();
    template <typename Done> Step drive(Done done, int maxWaitMs = -1);
    void waitForCurl(int maxWaitMs);
    void resumeUpload();
    qsizetype queuedOnLine() const;
    const Reply* replyTo(const QByteArray& command) const;

    CURL* easy_ = nullptr;
    CURLM* multi_ = nullptr;
    bool inMulti_ = false;
    HostAddress address_;
    int idleRounds_ = 0;
    int lastSocket_ = kNoSocket;
    int dataSocket_ = kNoSocket;
    int controlSocket_ = kNoSocket;
    enum class Together { Off, Untried, Works };
    Together together_ = Together::Off;
    QByteArray baseUrl_;
    char errorText_[kErrorTextSize] = {};
    // TLS: the public key pin of a certificate the user trusts (empty: the
    // authorities decide) and its fingerprint; certificate details are
    // gathered while logging in.
    QByteArray pin_;
    QByteArray fingerprint_;
    bool wantCertInfo_ = false;
    // A probe that checks the certificate's name alone.
    bool checkNameOnly_ = false;
    bool freshConnect_ = false;
    // SFTP: the host key the session accepts, and the one the server offered.
    QByteArray acceptedHostKey_;
    QByteArray offeredHostKey_;
    QByteArray entryPath_;
    bool mlsd_ = false;
    QList<Reply> replies_;
    QByteArray received_;
    bool receiveOverflow_ = false;
    Upload upload_;
    bool lastFailed_ = false;
    // The wait callback asked the operation under way to give up.
    bool givenUp_ = false;
    bool refusedByServer_ = false;
};
