#include "ftp/CurlTransfer.h"

#include "ftp/CurlResults.h"
#include "ftp/FtpTranscript.h"
#include "ftp/UploadStream.h"

#include <QDeadlineTimer>
#include <QString>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <type_traits>

#include <curl/curl.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/select.h>
#include <sys/socket.h>

namespace {

constexpr long kConnectTimeoutS = 20;
// How long closing a connection waits for the reply to its QUIT.
constexpr long kQuitTimeoutS = 3;
constexpr long kTlsDataWakeMs = 10;
// How often a wait callback is called while a transfer waits.
constexpr long kCallbackEveryMs = 10;
constexpr qsizetype kMaxReceived = qsizetype(512) * 1024 * 1024;
// While curl watches sockets without a timer of its own, a wake-up after this
// long costs nothing; any socket event ends the wait sooner.
constexpr long kSocketWaitCeilingMs = 1000;
// Curl watching nothing at all (a paused upload whose bytes are still on the
// line): how long to wait on its timer at most.
constexpr long kIdleCeilingMs = 1;
// Bytes the system may hold unsent on an upload's connection. Without a
// bound it takes megabytes on a slow line, which the progress shown would run
// ahead of and curl would wait for without returning at the end.
constexpr int kUnsentOnLine = 128 * 1024;

bool ensureGlobalInit() {
    static const bool ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ok;
}

QByteArray percentEscaped(const QByteArray& segment) {
    QByteArray out;
    out.reserve(segment.size() * 3);
    static const char hex[] = "0123456789ABCDEF";
    for (char ch : segment) {
        const auto c = quint8(ch);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~') {
            out.append(ch);
        } else {
            out.append('%');
            out.append(hex[c >> 4]);
            out.append(hex[c & 15]);
        }
    }
    return out;
}

QByteArray withoutLineEnd(const char* data, size_t size) {
    QByteArray line(data, qsizetype(size));
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    return line;
}

// Code that ran on this thread before (the window's drawing, string
// routines of the libraries) may leave the upper halves of the AVX registers
// in use, and until they are cleared every legacy SSE instruction pays for
// it: the ciphers of SSH and TLS, which encrypt block by block with such
// instructions, then ran at a third of their speed (128 MiB over SFTP took a
// second of CPU more). Clearing them before each step of a transfer costs a
// few cycles.
void clearUpperVectorState() {
#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
    static const bool avx = __builtin_cpu_supports("avx");
    if (avx)
        __asm__ volatile("vzeroupper");
#endif
}

// The wait callback of this thread, and whether it is being called.
thread_local std::function<bool()> waitCallback;
thread_local bool inWaitCallback = false;

// Connections are numbered in the order they are made, for the transcript.
std::atomic<int> connectionsMade{0};

} // namespace

struct CurlTransfer::Callbacks {
    // The header holds curl's socket and error buffer by their plain values.
    static_assert(std::is_same_v<curl_socket_t, int> && CURL_SOCKET_BAD == CurlTransfer::kNoSocket);
    static_assert(CURL_ERROR_SIZE == CurlTransfer::kErrorTextSize);

    static int onDebug(CURL*, curl_infotype type, char* data, size_t size, void* self) {
        auto* t = static_cast<CurlTransfer*>(self);
        if (type == CURLINFO_HEADER_OUT) {
            QByteArray line = withoutLineEnd(data, size);
            if (line.startsWith("PASS "))
                line = "PASS"; // the password stays out of everything kept
            t->channel_.noteSent(line);
        } else if (type == CURLINFO_HEADER_IN) {
            t->channel_.noteReceived(withoutLineEnd(data, size));
        }
        return 0;
    }

    static size_t onWrite(char* data, size_t size, size_t count, void* self) {
        auto* t = static_cast<CurlTransfer*>(self);
        const size_t n = size * count;
        if (t->received_.size() + qsizetype(n) > kMaxReceived) {
            t->receiveOverflow_ = true;
            return 0;
        }
        t->received_.append(data, qsizetype(n));
        return n;
    }

    static size_t onRead(char* data, size_t size, size_t count, void* self) {
        auto* t = static_cast<CurlTransfer*>(self);
        return t->upload_ ? t->upload_->feed(data, size * count) : 0;
    }

    static int onHostKey(void* self, int, const char* key, size_t length) {
        Trust& trust = static_cast<CurlTransfer*>(self)->trust_;
        trust.offeredHostKey = QByteArray(key, qsizetype(length));
        return !trust.acceptedHostKey.isEmpty() && trust.offeredHostKey == trust.acceptedHostKey
                   ? CURLKHMATCH_OK
                   : CURLKHMATCH_MISMATCH;
    }

    static int onSocket(void* self, curl_socket_t socket, curlsocktype) {
        static_cast<CurlTransfer*>(self)->lastSocket_ = socket;
#ifdef TCP_NOTSENT_LOWAT
        ::setsockopt(socket, IPPROTO_TCP, TCP_NOTSENT_LOWAT, &kUnsentOnLine, sizeof kUnsentOnLine);
#endif
        return CURL_SOCKOPT_OK;
    }
};

bool CurlTransfer::libraryReady() {
    return ensureGlobalInit();
}

CurlTransfer::CurlTransfer() : number_(++connectionsMade), channel_(number_) {
    ensureGlobalInit();
    easy_ = curl_easy_init();
    multi_ = curl_multi_init();
}

CurlTransfer::~CurlTransfer() {
    if (easy_ && lastFailed_)
        cutSocket();
    if (inMulti_)
        curl_multi_remove_handle(multi_, easy_);
    if (easy_ && multi_) {
        // The multi handle's clean-up sends QUIT and waits for its reply with
        // the limits of the easy handle added last. A server that never
        // answers QUIT would hold the end of a run for the minute a reply may
        // take mid-transfer; the easy handle is added once more with a short
        // limit, so the polite close costs seconds at the most.
        curl_easy_setopt(easy_, CURLOPT_SERVER_RESPONSE_TIMEOUT, kQuitTimeoutS);
        curl_multi_add_handle(multi_, easy_);
        curl_multi_remove_handle(multi_, easy_);
    }
    if (easy_)
        curl_easy_cleanup(easy_);
    if (multi_)
        curl_multi_cleanup(multi_);
}

void CurlTransfer::setAddress(const HostAddress& address) {
    address_ = address;
    const char* scheme = "ftp://";
    if (address.protocol == RemoteProtocol::FtpImplicitTls)
        scheme = "ftps://";
    else if (address.protocol == RemoteProtocol::Sftp)
        scheme = "sftp://";
    baseUrl_ = scheme + address.hostForUrl + ':' + QByteArray::number(address.port);
}

QByteArray CurlTransfer::urlFor(const QByteArray& path) const {
    QByteArray url = baseUrl_;
    url.append('/');
    QByteArray rest = path;
    if (rest.startsWith('/')) {
        // An SFTP URL's path is absolute as it stands; an FTP URL's is taken
        // from the log-in folder unless its first "/" is escaped.
        if (!isSftp())
            url.append("%2F");
        rest.remove(0, 1);
    } else if (isSftp()) {
        url.append("~/");
    }
    const QList<QByteArray> segments = rest.split('/');
    for (qsizetype i = 0; i < segments.size(); ++i) {
        if (i > 0)
            url.append('/');
        url.append(percentEscaped(segments[i]));
    }
    return url;
}

void CurlTransfer::resetOptions() {
    CURL* e = easy_;
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(e, CURLOPT_DEBUGFUNCTION, &Callbacks::onDebug);
    curl_easy_setopt(e, CURLOPT_DEBUGDATA, this);
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, errorText_);
    errorText_[0] = 0;
    switch (address_.protocol) {
    case RemoteProtocol::Ftp:
        curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "ftp");
        curl_easy_setopt(e, CURLOPT_USE_SSL, long(CURLUSESSL_NONE));
        break;
    case RemoteProtocol::FtpExplicitTls:
    case RemoteProtocol::FtpImplicitTls:
        curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR,
                         address_.protocol == RemoteProtocol::FtpExplicitTls ? "ftp" : "ftps");
        // Control and data connections alike, and no plain fallback.
        curl_easy_setopt(e, CURLOPT_USE_SSL, long(CURLUSESSL_ALL));
        curl_easy_setopt(e, CURLOPT_FTPSSLAUTH, long(CURLFTPAUTH_TLS));
        // Data connections resume the control connection's TLS session, which
        // servers such as vsftpd insist on. TLS 1.3 sessions are resumed with
        // tickets that such servers take once only, and an upload's data
        // connection never reads the fresh ticket it is sent, so the next data
        // connection would be refused; a TLS 1.2 session can be resumed again
        // and again.
        curl_easy_setopt(e, CURLOPT_SSL_SESSIONID_CACHE, 1L);
        curl_easy_setopt(e, CURLOPT_SSLVERSION,
                         long(CURL_SSLVERSION_TLSv1_2) | long(CURL_SSLVERSION_MAX_TLSv1_2));
        curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, trust_.pin.isEmpty() ? 1L : 0L);
        curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST,
                         trust_.pin.isEmpty() || trust_.checkNameOnly ? 2L : 0L);
        curl_easy_setopt(e, CURLOPT_PINNEDPUBLICKEY,
                         trust_.pin.isEmpty() ? nullptr : trust_.pin.constData());
        curl_easy_setopt(e, CURLOPT_CERTINFO, trust_.wantCertInfo ? 1L : 0L);
        // A TLS data connection is not complete before the server takes the
        // transfer command, and until then curl watches that connection
        // alone: the reply to a TYPE sent meanwhile waits for curl's next
        // timer, its head start for IPv6 (200 ms unless set), on every change
        // between listing and upload.
        curl_easy_setopt(e, CURLOPT_HAPPY_EYEBALLS_TIMEOUT_MS, kTlsDataWakeMs);
        break;
    case RemoteProtocol::Sftp:
        curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "sftp");
        curl_easy_setopt(e, CURLOPT_SSH_AUTH_TYPES,
                         long(CURLSSH_AUTH_PASSWORD | CURLSSH_AUTH_KEYBOARD));
        curl_easy_setopt(e, CURLOPT_SSH_HOSTKEYFUNCTION, &Callbacks::onHostKey);
        curl_easy_setopt(e, CURLOPT_SSH_HOSTKEYDATA, this);
        break;
    }
    curl_easy_setopt(e, CURLOPT_FRESH_CONNECT, trust_.freshConnect ? 1L : 0L);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutS);
    curl_easy_setopt(e, CURLOPT_SERVER_RESPONSE_TIMEOUT, kResponseTimeoutS);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, kResponseTimeoutS);
    curl_easy_setopt(e, CURLOPT_FTP_SKIP_PASV_IP, 1L);
    curl_easy_setopt(e, CURLOPT_FTPPORT, nullptr);
    curl_easy_setopt(e, CURLOPT_FTP_USE_EPSV, 1L);
    curl_easy_setopt(e, CURLOPT_TRANSFERTEXT, 0L);
    curl_easy_setopt(e, CURLOPT_FTP_CREATE_MISSING_DIRS, 0L);
    curl_easy_setopt(e, CURLOPT_UPLOAD, 0L);
    curl_easy_setopt(e, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, nullptr);
    curl_easy_setopt(e, CURLOPT_QUOTE, nullptr);
    curl_easy_setopt(e, CURLOPT_FTP_FILEMETHOD, long(CURLFTPMETHOD_SINGLECWD));
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Callbacks::onWrite);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(e, CURLOPT_READFUNCTION, &Callbacks::onRead);
    curl_easy_setopt(e, CURLOPT_READDATA, this);
    curl_easy_setopt(e, CURLOPT_SOCKOPTFUNCTION, &Callbacks::onSocket);
    curl_easy_setopt(e, CURLOPT_SOCKOPTDATA, this);
    curl_easy_setopt(e, CURLOPT_INFILESIZE_LARGE, curl_off_t(-1));
    channel_.clear();
    received_.clear();
    receiveOverflow_ = false;
    upload_ = nullptr;
}

void CurlTransfer::start(UploadStream* upload) {
    upload_ = upload;
    ended_ = false;
    result_ = CURLE_OK;
    curl_multi_add_handle(multi_, easy_);
    inMulti_ = true;
}

int CurlTransfer::perform() {
    start(nullptr);
    drive([] { return false; });
    leave(result_);
    return result_;
}

CurlTransfer::Step CurlTransfer::drive(const std::function<bool()>& done, int maxWaitMs) {
    const QDeadlineTimer deadline =
        maxWaitMs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(maxWaitMs);
    givenUp_ = false;
    for (;;) {
        clearUpperVectorState();
        int running = 0;
        if (curl_multi_perform(multi_, &running) != CURLM_OK) {
            ended_ = true;
            result_ = CURLE_FAILED_INIT;
            return Step::Ended;
        }
        int left = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi_, &left)) {
            if (msg->msg == CURLMSG_DONE) {
                ended_ = true;
                result_ = msg->data.result;
            }
        }
        if (givenUp_) {
            ended_ = true;
            result_ = CURLE_ABORTED_BY_CALLBACK;
        }
        if (ended_)
            return Step::Ended;
        if (done())
            return Step::Reached;
        if (deadline.hasExpired())
            return Step::OutOfTime;
        waitForCurl(deadline.isForever() ? -1 : int(deadline.remainingTime()));
    }
}

void CurlTransfer::waitForCurl(int maxWaitMs) {
    // Waits for what curl waits for: its sockets and its own timer.
    long timerMs = -1;
    curl_multi_timeout(multi_, &timerMs);
    fd_set reads;
    fd_set writes;
    fd_set errors;
    FD_ZERO(&reads);
    FD_ZERO(&writes);
    FD_ZERO(&errors);
    int maxFd = -1;
    curl_multi_fdset(multi_, &reads, &writes, &errors, &maxFd);
    long waitMs = 0;
    if (maxFd >= 0) {
        idleRounds_ = 0;
        waitMs = timerMs < 0 ? kSocketWaitCeilingMs : timerMs;
    } else if (++idleRounds_ > 1) {
        // Nothing to watch twice running: a paused transfer, or one that
        // waits on its timer alone.
        waitMs = timerMs < 0 ? kIdleCeilingMs : std::min(timerMs, kIdleCeilingMs);
    }
    // Otherwise curl has moved on to a step it starts only when called again,
    // watching nothing meanwhile: when the server answers EPSV before curl's
    // call that sent it returns, the data connection is opened on the next
    // call, and a wait here would hold the upload for the whole wait.
    if (maxWaitMs >= 0)
        waitMs = std::min(waitMs, long(maxWaitMs));
    const bool callBack = waitCallback && !inWaitCallback;
    if (callBack)
        waitMs = std::min(waitMs, kCallbackEveryMs);
    if (waitMs > 0)
        curl_multi_poll(multi_, nullptr, 0, int(waitMs), nullptr);
    if (callBack) {
        inWaitCallback = true;
        givenUp_ = !waitCallback();
        inWaitCallback = false;
    }
}

void CurlTransfer::setWaitCallback(std::function<bool()> callback) {
    waitCallback = std::move(callback);
}

bool CurlTransfer::pause(int ms) {
    const QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        const auto step = std::chrono::milliseconds(
            waitCallback && !inWaitCallback
                ? std::min<qint64>(kCallbackEveryMs, deadline.remainingTime())
                : deadline.remainingTime());
        std::this_thread::sleep_for(step);
        if (waitCallback && !inWaitCallback) {
            inWaitCallback = true;
            const bool goOn = waitCallback();
            inWaitCallback = false;
            if (!goOn)
                return false;
        }
    }
    return true;
}

void CurlTransfer::leave(int result) {
    // The connection stays in the multi handle's cache, and its socket stays
    // curl's; it is noted for commands sent together.
    curl_socket_t sock = CURL_SOCKET_BAD;
    if (curl_easy_getinfo(easy_, CURLINFO_ACTIVESOCKET, &sock) != CURLE_OK)
        sock = CURL_SOCKET_BAD;
    controlSocket_ = sock;
    curl_multi_remove_handle(multi_, easy_);
    inMulti_ = false;
    upload_ = nullptr;

    lastFailed_ = result != CURLE_OK;
    lastFailure_ = lastFailed_ ? failureOf(result) : Failure();
    if (lastFailed_)
        FtpTranscript::failure(result, curl_easy_strerror(CURLcode(result)), number_);
    // A connection lost is one curl replaces at the next transfer.
    if (lastFailed_ && lastFailure_.isConnectionProblem())
        ++letGo_;
    if (!lastFailed_ || isSftp() || !CurlResults::leavesControlOutOfStep(result))
        return;
    // The connection is dropped, and the next transfer logs in afresh.
    cutSocket();
    replaceMulti();
}

void CurlTransfer::cut() {
    // Removing a running transfer closes its connections; the next transfer
    // logs in afresh.
    curl_multi_remove_handle(multi_, easy_);
    inMulti_ = false;
    upload_ = nullptr;
    controlSocket_ = kNoSocket;
    ++letGo_;
}

void CurlTransfer::dropConnection(const char* why) {
    FtpTranscript::failure(CURLE_SEND_ERROR, why, number_);
    noteOutcome(false, {FailureKind::ConnectionLost, 0, QString::fromUtf8(why)});
    if (controlSocket_ != kNoSocket)
        ::shutdown(controlSocket_, SHUT_RDWR);
    replaceMulti();
}

void CurlTransfer::forgetConnection() {
    cutSocket();
    replaceMulti();
}

void CurlTransfer::noteOutcome(bool ok, const Failure& failure) {
    lastFailed_ = !ok;
    lastFailure_ = ok ? Failure() : failure;
}

void CurlTransfer::cutSocket() {
    // A server that stopped answering would hold the polite QUIT of a clean-up
    // for minutes: the connection is cut instead.
    curl_socket_t sock = CURL_SOCKET_BAD;
    if (curl_easy_getinfo(easy_, CURLINFO_ACTIVESOCKET, &sock) == CURLE_OK &&
        sock != CURL_SOCKET_BAD)
        ::shutdown(sock, SHUT_RDWR);
}

void CurlTransfer::replaceMulti() {
    ++letGo_;
    // A fresh multi handle in place of the old one, whose cached connection
    // goes with it.
    if (inMulti_) {
        curl_multi_remove_handle(multi_, easy_);
        inMulti_ = false;
    }
    controlSocket_ = kNoSocket;
    curl_multi_cleanup(multi_);
    multi_ = curl_multi_init();
}

QByteArray CurlTransfer::takeReceived() {
    QByteArray data = std::move(received_);
    received_.clear();
    return data;
}

Failure CurlTransfer::failureOf(int result) const {
    return CurlResults::failureOf(result, channel_, errorText_);
}
