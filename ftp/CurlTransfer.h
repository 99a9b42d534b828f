#pragma once

#include "ftp/ControlChannel.h"
#include "ftp/HostAddress.h"
#include "ftp/SessionResult.h"

#include <QByteArray>

#include <functional>

// libcurl's names for its handles, without its header.
typedef void CURL;
typedef void CURLM;

class UploadStream;

// The transfer driver of one connection: one libcurl easy handle inside a
// private multi handle, whose connection cache keeps the log-in alive between
// transfers. It sets the options every transfer starts from, runs a transfer
// step by step while the caller waits (calling the thread's wait callback),
// collects the control connection's replies and the data received, feeds an
// upload's bytes, and tells what a failed transfer means (Failure).
//
// Private to the FTP layer; operations (FtpConnection) set their own options
// on easy() after resetOptions().
class CurlTransfer {
public:
    // A server that stops answering is given up after this long.
    static constexpr long kResponseTimeoutS = 60;

    CurlTransfer();
    ~CurlTransfer();
    CurlTransfer(const CurlTransfer&) = delete;
    CurlTransfer& operator=(const CurlTransfer&) = delete;

    bool isUsable() const { return easy_ && multi_; }
    // Whether libcurl could be set up for this process.
    static bool libraryReady();
    // This connection's number in the transcript, in the order they were made.
    int number() const { return number_; }
    CURL* easy() const { return easy_; }

    // Where the transfers go; the scheme follows the protocol.
    void setAddress(const HostAddress& address);
    const HostAddress& address() const { return address_; }
    bool isSftp() const { return address_.protocol == RemoteProtocol::Sftp; }
    const QByteArray& baseUrl() const { return baseUrl_; }
    // The URL of a path: absolute ("/a/b") or relative to the log-in folder,
    // each segment escaped.
    QByteArray urlFor(const QByteArray& path) const;

    // What a secure log-in holds the connection to, read at every reset.
    struct Trust {
        // TLS: the public key pin of a certificate the user trusts (empty:
        // the authorities decide); whether to gather the certificate; a probe
        // that checks the certificate's name alone.
        QByteArray pin;
        bool wantCertInfo = false;
        bool checkNameOnly = false;
        // SSH: the host key the connection accepts, and the one the server
        // offered (set during the handshake).
        QByteArray acceptedHostKey;
        QByteArray offeredHostKey;
        // The next transfer opens a new connection.
        bool freshConnect = false;
    };
    Trust& trust() { return trust_; }
    // libcurl's explanation of the last failure.
    const char* errorText() const { return errorText_; }

    ControlChannel& channel() { return channel_; }
    const ControlChannel& channel() const { return channel_; }

    // Every option back to what each transfer starts from; replies and data
    // of the previous transfer are dropped.
    void resetOptions();

    // Runs a whole transfer; answers libcurl's result.
    int perform();

    // A transfer run step by step (an upload): start() it, drive() it until
    // the caller's condition holds, then leave() it.
    enum class Step { Reached, Ended, OutOfTime };
    void start(UploadStream* upload);
    // Runs the transfer until done() holds, until it ends (result() then
    // holds libcurl's result) or, given a time, until that has passed.
    Step drive(const std::function<bool()>& done, int maxWaitMs = -1);
    bool ended() const { return ended_; }
    int result() const { return result_; }
    // Takes the handle out of the multi handle after a transfer, noting the
    // control connection's socket, and keeps the verdict.
    void leave(int result);
    // Stops a running transfer: its connections close, and the next
    // transfer logs in afresh.
    void cut();
    // Drops the control connection after its state became unknown (commands
    // sent together went wrong): the next transfer logs in afresh.
    void dropConnection(const char* why);
    // Lets go of the connection libcurl keeps, whatever its state: the next
    // transfer logs in afresh.
    void forgetConnection();
    // Counts the control connections let go of, by any of the above or by a
    // transfer that lost its connection or left it out of step: where it
    // changed, the next transfer logs in afresh.
    int connectionsLetGo() const { return letGo_; }

    // The control connection's socket as the last transfer left it, and the
    // last socket libcurl opened (an upload's data connection).
    int controlSocket() const { return controlSocket_; }
    int lastSocket() const { return lastSocket_; }

    // What the last transfer received, and whether it exceeded the bound.
    QByteArray takeReceived();
    bool receiveOverflowed() const { return receiveOverflow_; }

    // Whether the last transfer (or commands sent together) failed, and why.
    bool lastFailed() const { return lastFailed_; }
    const Failure& lastFailure() const { return lastFailure_; }
    // Notes the outcome of commands sent together, which libcurl never saw.
    void noteOutcome(bool ok, const Failure& failure = {});
    // What a transfer that ended with libcurl's result means.
    Failure failureOf(int result) const;

    // While set, transfers on this thread call `callback` every few
    // milliseconds while they wait for the server (not from within a call of
    // it), for instance to keep a window working; when it answers false the
    // transfer gives up. The callback must not throw. An empty one unsets it.
    static void setWaitCallback(std::function<bool()> callback);
    // Waits about `ms` milliseconds, calling the wait callback meanwhile;
    // false when it asked to give up.
    static bool pause(int ms);

private:
    struct Callbacks;
    static constexpr int kNoSocket = -1;
    static constexpr int kErrorTextSize = 256;

    void waitForCurl(int maxWaitMs);
    void cutSocket();
    void replaceMulti();

    const int number_;
    int letGo_ = 0;
    CURL* easy_ = nullptr;
    CURLM* multi_ = nullptr;
    bool inMulti_ = false;
    HostAddress address_;
    QByteArray baseUrl_;
    Trust trust_;
    char errorText_[kErrorTextSize] = {};
    ControlChannel channel_;
    QByteArray received_;
    bool receiveOverflow_ = false;
    UploadStream* upload_ = nullptr;
    bool ended_ = false;
    int result_ = 0;
    int idleRounds_ = 0;
    int lastSocket_ = kNoSocket;
    int controlSocket_ = kNoSocket;
    bool lastFailed_ = false;
    Failure lastFailure_;
    // The wait callback asked the transfer under way to give up.
    bool givenUp_ = false;
};
