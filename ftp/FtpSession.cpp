#include "ftp/FtpSession.h"

#include "ftp/FtpTranscript.h"
#include "ftp/wininet.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QLocale>
#include <QStringList>
#include <QTimeZone>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <type_traits>

#include <curl/curl.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <sys/socket.h>

namespace {

constexpr long kConnectTimeoutS = 20;
constexpr long kResponseTimeoutS = 60;
// How long closing a connection waits for the reply to its QUIT.
constexpr long kQuitTimeoutS = 3;
constexpr long kTlsDataWakeMs = 10;
// How long a server may take to answer two commands sent together, the first
// time a connection tries it.
constexpr qint64 kTogetherTrialMs = 5000;
// How often a wait callback is called while an operation waits.
constexpr long kCallbackEveryMs = 10;
// Bounds on a reply read by this program rather than by curl.
constexpr qsizetype kMaxReplyBytes = 64 * 1024;
constexpr qsizetype kMaxReplyLines = 1000;
// The send buffer of an upload. Callers write small blocks, and waking curl
// for each of them would cap the speed: curl is woken once this much waits.
constexpr qsizetype kUploadBuffer = FTP_UPLOAD_BUFFER;
constexpr qsizetype kUploadNudge = 64 * 1024;
constexpr qsizetype kMaxListing = qsizetype(512) * 1024 * 1024;
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

void ensureGlobalInit() {
    static const bool ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    (void)ok;
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

bool isFinalReplyLine(const QByteArray& line) {
    return line.size() >= 3 && std::isdigit(quint8(line[0])) && std::isdigit(quint8(line[1])) &&
           std::isdigit(quint8(line[2])) && (line.size() == 3 || line[3] == ' ');
}

// Waits until the socket is ready for `events`; false once the deadline has
// passed or the wait failed.
bool waitForSocket(int sock, short events, const QDeadlineTimer& deadline) {
    for (;;) {
        if (deadline.hasExpired())
            return false;
        pollfd p{sock, events, 0};
        const int n = ::poll(&p, 1, int(deadline.remainingTime()));
        if (n > 0)
            return true;
        if (n < 0 && errno != EINTR)
            return false;
    }
}

// Writes all of `bytes` to a non-blocking socket before the deadline.
bool sendAll(int sock, const QByteArray& bytes, const QDeadlineTimer& deadline) {
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(sock, bytes.constData() + sent, size_t(bytes.size() - sent),
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0)
            sent += n;
        else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            return false;
        else if (!waitForSocket(sock, POLLOUT, deadline))
            return false;
    }
    return true;
}

// Appends what the socket has (waiting for something until the deadline);
// false when the connection closed, failed or stayed silent.
bool receiveSome(int sock, QByteArray* into, const QDeadlineTimer& deadline) {
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::recv(sock, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n > 0) {
            into->append(chunk, n);
            return true;
        }
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            return false;
        if (!waitForSocket(sock, POLLIN, deadline))
            return false;
    }
}

// A transfer that failed leaves libcurl's own verdict in the transcript.
void noteResult(int result, int connection) {
    if (result != CURLE_OK)
        FtpTranscript::failure(result, curl_easy_strerror(CURLcode(result)), connection);
}

// The wait callback of this thread, and whether it is being called.
thread_local std::function<bool()> waitCallback;
thread_local bool inWaitCallback = false;

// Connections are numbered in the order they are made, for the transcript.
std::atomic<int> connectionsMade{0};

} // namespace

FtpSession::FtpSession() : number_(++connectionsMade) {
    ensureGlobalInit();
    easy_ = curl_easy_init();
    multi_ = curl_multi_init();
}

FtpSession::~FtpSession() {
    if (upload_.active)
        abortUpload();
    if (easy_ && lastFailed_)
        cutConnection();
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

void FtpSession::cutConnection() {
    // A server that stopped answering would hold the polite QUIT of a clean-up
    // for minutes: the connection is cut instead.
    curl_socket_t sock = CURL_SOCKET_BAD;
    if (curl_easy_getinfo(easy_, CURLINFO_ACTIVESOCKET, &sock) == CURLE_OK &&
        sock != CURL_SOCKET_BAD)
        ::shutdown(sock, SHUT_RDWR);
}

void FtpSession::transferEnded(int result) {
    lastFailed_ = result != CURLE_OK;
    noteResult(result, number_);
    switch (result) {
    // The server refused with a reply of its own; the exchange is complete.
    case CURLE_REMOTE_FILE_NOT_FOUND:
    case CURLE_REMOTE_ACCESS_DENIED:
    case CURLE_UPLOAD_FAILED:
    case CURLE_QUOTE_ERROR:
    case CURLE_FTP_COULDNT_RETR_FILE:
    case CURLE_LOGIN_DENIED:
        refusedByServer_ = true;
        return;
    default:
        refusedByServer_ = false;
        break;
    }
    if (isSftp())
        return;
    switch (result) {
    // A data connection that could not be set up: when it fails after the
    // next command went out, curl keeps the control connection, and every
    // later command would be answered with the reply to the one before.
    case CURLE_COULDNT_CONNECT:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_FTP_WEIRD_SERVER_REPLY:
    case CURLE_FTP_WEIRD_PASV_REPLY:
    case CURLE_FTP_WEIRD_227_FORMAT:
    case CURLE_FTP_CANT_GET_HOST:
    case CURLE_FTP_ACCEPT_FAILED:
    case CURLE_FTP_ACCEPT_TIMEOUT:
        break;
    default:
        return;
    }
    // The connection is dropped, and the next operation logs in afresh.
    if (inMulti_) {
        curl_multi_remove_handle(multi_, easy_);
        inMulti_ = false;
    }
    cutConnection();
    replaceMulti();
}

void FtpSession::replaceMulti() {
    controlSocket_ = kNoSocket;
    curl_multi_cleanup(multi_);
    multi_ = curl_multi_init();
}

bool FtpSession::Reply::take(const QByteArray& line) {
    lines.append(line);
    // A reply of several lines ends with its code and a blank.
    if (!isFinalReplyLine(line) || (lines.size() > 1 && line.left(3) != lines[0].left(3)))
        return false;
    code = line.left(3).toInt();
    return true;
}

void FtpSession::leaveMulti() {
    // The connection stays in the multi handle's cache, and its socket stays
    // curl's; it is noted for the commands sent together (sendTogether).
    curl_socket_t sock = CURL_SOCKET_BAD;
    if (curl_easy_getinfo(easy_, CURLINFO_ACTIVESOCKET, &sock) != CURLE_OK)
        sock = CURL_SOCKET_BAD;
    controlSocket_ = sock;
    curl_multi_remove_handle(multi_, easy_);
    inMulti_ = false;
}

struct FtpSession::Callbacks {
    // The header holds curl's socket and error buffer by their plain values.
    static_assert(std::is_same_v<curl_socket_t, int> && CURL_SOCKET_BAD == FtpSession::kNoSocket);
    static_assert(CURL_ERROR_SIZE == FtpSession::kErrorTextSize);

    static int onDebug(CURL* easy, curl_infotype type, char* data, size_t size, void* self);
    static size_t onWrite(char* data, size_t size, size_t count, void* self);
    static size_t onRead(char* data, size_t size, size_t count, void* self);
    static int onHostKey(void* self, int keyType, const char* key, size_t length);
    static int onSocket(void* self, curl_socket_t socket, curlsocktype purpose);
};

int FtpSession::Callbacks::onDebug(CURL*, curl_infotype type, char* data, size_t size, void* self) {
    auto* s = static_cast<FtpSession*>(self);
    if (type == CURLINFO_HEADER_OUT) {
        QByteArray line(data, qsizetype(size));
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        if (line.startsWith("PASS "))
            line = "PASS"; // the password stays out of everything kept
        FtpTranscript::sent(line, s->number_);
        s->replies_.append({line, 0, {}});
    } else if (type == CURLINFO_HEADER_IN) {
        QByteArray line(data, qsizetype(size));
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        FtpTranscript::received(line, s->number_);
        if (s->replies_.isEmpty() || s->replies_.last().code != 0)
            s->replies_.append({QByteArray(), 0, {}});
        s->replies_.last().take(line);
    }
    return 0;
}

size_t FtpSession::Callbacks::onWrite(char* data, size_t size, size_t count, void* self) {
    auto* s = static_cast<FtpSession*>(self);
    const size_t n = size * count;
    if (s->received_.size() + qsizetype(n) > kMaxListing) {
        s->receiveOverflow_ = true;
        return 0;
    }
    s->received_.append(data, qsizetype(n));
    return n;
}

size_t FtpSession::Callbacks::onRead(char* data, size_t size, size_t count, void* self) {
    auto* s = static_cast<FtpSession*>(self);
    Upload& u = s->upload_;
    u.started = true;
    if (u.filled == 0) {
        if (u.finishing)
            return 0;
        u.paused = true;
        return CURL_READFUNC_PAUSE;
    }
    const auto capacity = qsizetype(u.buffer.size());
    const qsizetype n = std::min<qsizetype>(u.filled, qsizetype(size * count));
    const qsizetype first = std::min(n, capacity - u.head);
    std::memcpy(data, u.buffer.data() + u.head, size_t(first));
    std::memcpy(data + first, u.buffer.data(), size_t(n - first));
    u.head = (u.head + n) % capacity;
    u.filled -= n;
    if (u.filled == 0)
        u.head = 0; // the next bytes then go in with one copy
    return size_t(n);
}

int FtpSession::Callbacks::onHostKey(void* self, int, const char* key, size_t length) {
    auto* s = static_cast<FtpSession*>(self);
    s->offeredHostKey_ = QByteArray(key, qsizetype(length));
    return !s->acceptedHostKey_.isEmpty() && s->offeredHostKey_ == s->acceptedHostKey_
               ? CURLKHMATCH_OK
               : CURLKHMATCH_MISMATCH;
}

int FtpSession::Callbacks::onSocket(void* self, curl_socket_t socket, curlsocktype) {
    static_cast<FtpSession*>(self)->lastSocket_ = socket;
#ifdef TCP_NOTSENT_LOWAT
    ::setsockopt(socket, IPPROTO_TCP, TCP_NOTSENT_LOWAT, &kUnsentOnLine, sizeof kUnsentOnLine);
#endif
    return CURL_SOCKOPT_OK;
}

void FtpSession::resetOptions() {
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
        curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, pin_.isEmpty() ? 1L : 0L);
        curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, pin_.isEmpty() || checkNameOnly_ ? 2L : 0L);
        curl_easy_setopt(e, CURLOPT_PINNEDPUBLICKEY, pin_.isEmpty() ? nullptr : pin_.constData());
        curl_easy_setopt(e, CURLOPT_CERTINFO, wantCertInfo_ ? 1L : 0L);
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
    curl_easy_setopt(e, CURLOPT_FRESH_CONNECT, freshConnect_ ? 1L : 0L);
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
    replies_.clear();
    received_.clear();
    receiveOverflow_ = false;
}

QByteArray FtpSession::urlFor(const QByteArray& path) const {
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

template <typename Done> FtpSession::Step FtpSession::drive(Done done, int maxWaitMs) {
    // Runs the transfer until done() holds, until it ends (upload_.result
    // then holds curl's result) or, given a time, until that has passed.
    const QDeadlineTimer deadline =
        maxWaitMs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(maxWaitMs);
    givenUp_ = false;
    for (;;) {
        int running = 0;
        if (curl_multi_perform(multi_, &running) != CURLM_OK) {
            upload_.done = true;
            upload_.result = CURLE_FAILED_INIT;
            return Step::Ended;
        }
        int left = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi_, &left)) {
            if (msg->msg == CURLMSG_DONE) {
                upload_.done = true;
                upload_.result = msg->data.result;
            }
        }
        if (givenUp_) {
            upload_.done = true;
            upload_.result = CURLE_ABORTED_BY_CALLBACK;
        }
        if (upload_.done)
            return Step::Ended;
        if (done())
            return Step::Reached;
        if (deadline.hasExpired())
            return Step::OutOfTime;
        waitForCurl(deadline.isForever() ? -1 : int(deadline.remainingTime()));
    }
}

void FtpSession::waitForCurl(int maxWaitMs) {
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

void FtpSession::setWaitCallback(std::function<bool()> callback) {
    waitCallback = std::move(callback);
}

int FtpSession::perform() {
    upload_.done = false;
    upload_.result = CURLE_OK;
    curl_multi_add_handle(multi_, easy_);
    inMulti_ = true;
    drive([] { return false; });
    leaveMulti();
    transferEnded(upload_.result);
    return upload_.result;
}

const FtpSession::Reply* FtpSession::replyTo(const QByteArray& command) const {
    for (qsizetype i = replies_.size() - 1; i >= 0; --i) {
        if (replies_[i].command == command)
            return &replies_[i];
    }
    return nullptr;
}

int FtpSession::attemptLogIn() {
    resetOptions();
    const QByteArray url = baseUrl_ + '/';
    curl_easy_setopt(easy_, CURLOPT_URL, url.constData());
    curl_easy_setopt(easy_, CURLOPT_NOBODY, 1L);
    curl_slist* quote = nullptr;
    if (!isSftp()) {
        curl_easy_setopt(easy_, CURLOPT_FTP_FILEMETHOD, long(CURLFTPMETHOD_NOCWD));
        quote = curl_slist_append(nullptr, "*FEAT");
        curl_easy_setopt(easy_, CURLOPT_QUOTE, quote);
    }
    const int rc = perform();
    curl_easy_setopt(easy_, CURLOPT_QUOTE, nullptr);
    curl_slist_free_all(quote);
    return rc;
}

std::optional<ServerTrust::CertificateDetails> FtpSession::peerCertificate() const {
    curl_certinfo* info = nullptr;
    if (curl_easy_getinfo(easy_, CURLINFO_CERTINFO, &info) != CURLE_OK || !info ||
        info->num_of_certs < 1)
        return std::nullopt;
    ServerTrust::CertificateDetails details;
    // The first certificate of the chain is the server's own.
    for (curl_slist* field = info->certinfo[0]; field; field = field->next) {
        const QByteArray line(field->data);
        const qsizetype colon = line.indexOf(':');
        if (colon < 0)
            continue;
        const QByteArray name = line.left(colon);
        const QString value = QString::fromUtf8(line.mid(colon + 1)).trimmed();
        if (name == "Subject")
            details.subject = value;
        else if (name == "Issuer")
            details.issuer = value;
        else if (name == "Start date")
            details.validFrom = value;
        else if (name == "Expire date")
            details.validUntil = value;
        else if (name == "Cert")
            details.der = ServerTrust::derFromPem(line.mid(colon + 1));
    }
    if (details.der.isEmpty())
        return std::nullopt;
    return details;
}

std::optional<ServerTrust::CertificateDetails> FtpSession::probeCertificate(QString* nameProblem) {
    // A pin that no key has ends the connection right after the handshake,
    // before the user name and password go to a server nobody vouches for;
    // the certificate is in hand by then. The authorities name only the first
    // problem they meet, so the name is checked on its own.
    const QByteArray savedPin = pin_;
    pin_ = "sha256//AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=";
    wantCertInfo_ = true;
    freshConnect_ = true;
    checkNameOnly_ = true;
    if (attemptLogIn() == CURLE_PEER_FAILED_VERIFICATION)
        *nameProblem = QString::fromUtf8(errorText_);
    checkNameOnly_ = false;
    auto details = peerCertificate();
    if (!details) {
        // The name check ended the handshake before the chain was read.
        attemptLogIn();
        details = peerCertificate();
    }
    pin_ = savedPin;
    return details;
}

namespace {

// A certificate date as the TLS library prints it ("Dec  6 14:34:43 2026 GMT").
QDateTime certificateDate(const QString& text) {
    QString s = text.simplified();
    if (s.endsWith(QLatin1String(" GMT")))
        s.chop(4);
    const QDateTime t = QLocale::c().toDateTime(s, QStringLiteral("MMM d HH:mm:ss yyyy"));
    return t.isValid() ? QDateTime(t.date(), t.time(), QTimeZone::utc()) : QDateTime();
}

// Every problem with a certificate that did not verify, the first one the
// authorities' check met leading.
QString problemsOf(const QString& firstProblem, const QString& nameProblem, const QByteArray& host,
                   const ServerTrust::CertificateDetails& details) {
    QStringList problems;
    if (!firstProblem.isEmpty() && firstProblem != nameProblem)
        problems << firstProblem;
    if (!nameProblem.isEmpty())
        problems << QStringLiteral("the certificate's name does not match %1")
                        .arg(QString::fromUtf8(host));
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QDateTime from = certificateDate(details.validFrom);
    const QDateTime until = certificateDate(details.validUntil);
    const bool told = firstProblem.contains(QLatin1String("expired")) ||
                      firstProblem.contains(QLatin1String("not yet valid"));
    if (!told && until.isValid() && until < now)
        problems << QStringLiteral("the certificate has expired");
    else if (!told && from.isValid() && now < from)
        problems << QStringLiteral("the certificate is not yet valid");
    return problems.join(QStringLiteral("; "));
}

} // namespace

bool FtpSession::logInOverTls() {
    const QByteArray host = address_.hostForUrl;
    const quint16 port = address_.port;
    const auto trusted = ServerTrust::trustedCertificate(host, port);
    if (trusted) {
        pin_ = trusted->publicKeyPin;
        fingerprint_ = trusted->fingerprint;
    }
    wantCertInfo_ = true;
    int rc = attemptLogIn();
    QString reason;
    bool changed = false;
    if (rc == CURLE_OK) {
        if (!trusted)
            return true; // vouched for by the authorities
        // A resumed TLS session may carry no chain; the key was checked.
        const auto peer = peerCertificate();
        if (!peer ||
            QCryptographicHash::hash(peer->der, QCryptographicHash::Sha256) == fingerprint_)
            return true;
        changed = true;
        reason = QStringLiteral("The certificate differs from the one trusted before.");
    } else if (rc == CURLE_PEER_FAILED_VERIFICATION && !trusted) {
        reason = QString::fromUtf8(errorText_);
    } else if (rc == CURLE_SSL_PINNEDPUBKEYNOTMATCH && trusted) {
        changed = true;
        reason = QStringLiteral("The certificate's key differs from the one trusted before.");
    } else {
        return false;
    }

    QString nameProblem;
    auto details = probeCertificate(&nameProblem);
    if (!details)
        return false;
    details->reason = changed ? reason : problemsOf(reason, nameProblem, host, *details);
    const auto answer = ServerTrust::askCertificate(host, port, *details, changed);
    if (answer == ServerTrust::Answer::Cancel)
        return false;
    const QByteArray pin = ServerTrust::publicKeyPin(details->der);
    if (pin.isEmpty())
        return false;
    pin_ = pin;
    fingerprint_ = QCryptographicHash::hash(details->der, QCryptographicHash::Sha256);
    if (answer == ServerTrust::Answer::Always)
        ServerTrust::storeCertificate(host, port, {fingerprint_, pin_});
    else
        ServerTrust::trustCertificateForThisRun(host, port, {fingerprint_, pin_});
    freshConnect_ = true;
    rc = attemptLogIn();
    freshConnect_ = false;
    return rc == CURLE_OK;
}

bool FtpSession::logInOverSsh() {
    const QByteArray host = address_.hostForUrl;
    const quint16 port = address_.port;
    const auto known = ServerTrust::knownHostKey(host, port);
    acceptedHostKey_ = known.value_or(QByteArray());
    offeredHostKey_.clear();
    if (attemptLogIn() == CURLE_OK)
        return true;
    // Only a key that the session did not accept is a question for the user;
    // a refused password or an unreachable server is not.
    if (offeredHostKey_.isEmpty() || offeredHostKey_ == acceptedHostKey_)
        return false;
    const QByteArray offered = offeredHostKey_;
    const auto answer = ServerTrust::askHostKey(host, port, offered, known);
    if (answer == ServerTrust::Answer::Cancel)
        return false;
    acceptedHostKey_ = offered;
    if (answer == ServerTrust::Answer::Always)
        ServerTrust::storeHostKey(host, port, offered);
    else
        ServerTrust::trustHostKeyForThisRun(host, port, offered);
    return attemptLogIn() == CURLE_OK;
}

bool FtpSession::logIn(const HostAddress& address, const QByteArray& user,
                       const QByteArray& password) {
    if (!easy_ || !multi_)
        return false;
    address_ = address;
    const char* scheme = "ftp://";
    if (address.protocol == RemoteProtocol::FtpImplicitTls)
        scheme = "ftps://";
    else if (address.protocol == RemoteProtocol::Sftp)
        scheme = "sftp://";
    baseUrl_ = scheme + address.hostForUrl + ':' + QByteArray::number(address.port);
    curl_easy_setopt(easy_, CURLOPT_USERNAME, user.constData());
    curl_easy_setopt(easy_, CURLOPT_PASSWORD, password.constData());
    bool ok = false;
    if (address.usesTls())
        ok = logInOverTls();
    else if (isSftp())
        ok = logInOverSsh();
    else
        ok = attemptLogIn() == CURLE_OK;
    wantCertInfo_ = false;
    freshConnect_ = false;
    if (!ok)
        return false;

    char* entry = nullptr;
    if (curl_easy_getinfo(easy_, CURLINFO_FTP_ENTRY_PATH, &entry) == CURLE_OK && entry)
        entryPath_ = entry;
    if (entryPath_.isEmpty())
        entryPath_ = "/";
    if (isSftp())
        return true;

    bool utf8 = false;
    if (const Reply* feat = replyTo("FEAT"); feat && feat->code == 211) {
        for (const QByteArray& line : feat->lines) {
            const QByteArray f = line.trimmed().toUpper();
            if (f == "UTF8")
                utf8 = true;
            if (f == "MLSD" || f.startsWith("MLST"))
                mlsd_ = true;
        }
    }
    if (utf8) {
        // Servers that offer UTF8 may still want to be told.
        command("OPTS", "UTF8 ON");
    }
    return true;
}

QByteArray FtpSession::absolutePath(const QByteArray& path) const {
    if (path.startsWith('/'))
        return path;
    QByteArray base = entryPath_;
    if (!base.endsWith('/'))
        base.append('/');
    return base + path;
}

std::optional<QList<RemoteEntry>> FtpSession::list(const QByteArray& folder) {
    if (upload_.active)
        return std::nullopt;
    QByteArray path = folder;
    if (!path.isEmpty() && !path.endsWith('/'))
        path.append('/');
    resetOptions();
    const QByteArray url = urlFor(path);
    curl_easy_setopt(easy_, CURLOPT_URL, url.constData());
    // "-a" asks servers that hide dot files by default to show them. An SFTP
    // folder URL lists in the style of "ls -l".
    if (!isSftp())
        curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, mlsd_ ? "MLSD" : "LIST -a");
    const int rc = perform();
    curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, nullptr);
    const QByteArray data = std::move(received_);
    received_.clear();
    if (rc != CURLE_OK || receiveOverflow_)
        return std::nullopt;
    return parseListing(data, mlsd_ ? ListingFormat::Mlsd : ListingFormat::List).entries;
}

int FtpSession::performCommands(const QList<QByteArray>& commands) {
    // "*": a refused command must not make curl drop the control connection;
    // the reply codes come from the reply lines instead.
    curl_slist* quote = nullptr;
    for (const QByteArray& command : commands)
        quote = curl_slist_append(quote, ('*' + command).constData());
    // The server's root, absolute: with no folder to change to, curl sends no
    // CWD around the commands (their arguments are absolute paths).
    const QByteArray url = baseUrl_ + "/%2F";
    curl_easy_setopt(easy_, CURLOPT_URL, url.constData());
    curl_easy_setopt(easy_, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(easy_, CURLOPT_FTP_FILEMETHOD, long(CURLFTPMETHOD_NOCWD));
    curl_easy_setopt(easy_, CURLOPT_QUOTE, quote);
    const int rc = perform();
    curl_easy_setopt(easy_, CURLOPT_QUOTE, nullptr);
    curl_slist_free_all(quote);
    return rc;
}

int FtpSession::command(const QByteArray& verb, const QByteArray& argument) {
    if (upload_.active || isSftp())
        return 0;
    resetOptions();
    const QByteArray cmd = argument.isEmpty() ? verb : verb + ' ' + argument;
    if (performCommands({cmd}) != CURLE_OK)
        return 0;
    const Reply* reply = replyTo(cmd);
    return reply ? reply->code : 0;
}

int FtpSession::sftpQuote(const QByteArray& line) {
    if (upload_.active)
        return CURLE_FAILED_INIT;
    resetOptions();
    curl_slist* quote = curl_slist_append(nullptr, line.constData());
    const QByteArray url = baseUrl_ + '/';
    curl_easy_setopt(easy_, CURLOPT_URL, url.constData());
    curl_easy_setopt(easy_, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(easy_, CURLOPT_QUOTE, quote);
    const int rc = perform();
    curl_easy_setopt(easy_, CURLOPT_QUOTE, nullptr);
    curl_slist_free_all(quote);
    return rc;
}

namespace {
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
} // namespace

bool FtpSession::makeDirectory(const QByteArray& path) {
    if (isSftp())
        return sftpQuote("mkdir " + sftpQuoted(path)) == CURLE_OK;
    return command("MKD", path) == 257;
}

bool FtpSession::deleteFile(const QByteArray& path) {
    if (isSftp())
        return sftpQuote("rm " + sftpQuoted(path)) == CURLE_OK;
    return command("DELE", path) / 100 == 2;
}

bool FtpSession::fileExists(const QByteArray& path) {
    if (upload_.active)
        return true;
    if (isSftp()) {
        resetOptions();
        const QByteArray url = urlFor(path);
        curl_easy_setopt(easy_, CURLOPT_URL, url.constData());
        curl_easy_setopt(easy_, CURLOPT_NOBODY, 1L);
        return perform() != CURLE_REMOTE_FILE_NOT_FOUND;
    }
    // Some servers refuse SIZE in ASCII mode, which the last listing may have
    // left on.
    command("TYPE", "I");
    return command("SIZE", path) != 550;
}

bool FtpSession::rename(const QByteArray& from, const QByteArray& to) {
    if (upload_.active)
        return false;
    if (isSftp())
        return sftpQuote("rename " + sftpQuoted(from) + ' ' + sftpQuoted(to)) == CURLE_OK;
    resetOptions();
    // Both in one exchange; an RNTO after a refused RNFR is refused in turn.
    const QByteArray rnfr = "RNFR " + from;
    const QByteArray rnto = "RNTO " + to;
    if (canSendTogether()) {
        if (!sendTogether({rnfr, rnto}, kResponseTimeoutS * 1000)) {
            together_ = Together::Untried; // the next connection is tried afresh
            return false;
        }
    } else if (performCommands({rnfr, rnto}) != CURLE_OK) {
        return false;
    }
    const Reply* first = replyTo(rnfr);
    const Reply* second = replyTo(rnto);
    return first && first->code == 350 && second && second->code / 100 == 2;
}

bool FtpSession::canSendTogether() {
    if (together_ == Together::Off || address_.protocol != RemoteProtocol::Ftp ||
        controlSocket_ == kNoSocket || upload_.active)
        return false;
    // Anything the server sent unasked (a "421" before it closes an idle
    // connection, the close itself) is curl's to find: it then logs in
    // afresh.
    pollfd p{controlSocket_, POLLIN, 0};
    if (::poll(&p, 1, 0) != 0)
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

bool FtpSession::sendTogether(const QList<QByteArray>& commands, qint64 limitMs) {
    // libcurl sends the commands of a list one at a time, each after the
    // reply to the one before: a round trip each. Here they go out in one
    // write on the control connection curl keeps between operations, and the
    // replies are read in order, so a pair costs one round trip. Only on a
    // plain connection (a TLS one is curl's to read and write) and while no
    // transfer runs, so curl has nothing in flight on it. Replies that do not
    // come, or bytes beyond them, leave the connection's state unknown: it is
    // dropped, and the next operation logs in afresh.
    replies_.clear();
    QByteArray out;
    for (const QByteArray& command : commands) {
        out.append(command);
        out.append("\r\n");
        FtpTranscript::sent(command, number_);
        replies_.append({command, 0, {}});
    }
    const int sock = controlSocket_;
    const auto fail = [this](const char* why) {
        FtpTranscript::failure(CURLE_SEND_ERROR, why, number_);
        lastFailed_ = true;
        refusedByServer_ = false;
        ::shutdown(controlSocket_, SHUT_RDWR);
        replaceMulti();
        return false;
    };
    const QDeadlineTimer deadline(limitMs);
    if (!sendAll(sock, out, deadline))
        return fail("the commands could not be sent");
    QByteArray in;
    qsizetype answered = 0;
    while (answered < commands.size()) {
        const qsizetype end = in.indexOf('\n');
        if (end < 0) {
            if (in.size() > kMaxReplyBytes)
                return fail("a reply went on without end");
            if (!receiveSome(sock, &in, deadline))
                return fail("the replies did not come");
            continue;
        }
        QByteArray line = in.left(end);
        in.remove(0, end + 1);
        if (line.endsWith('\r'))
            line.chop(1);
        FtpTranscript::received(line, number_);
        if (replies_[answered].take(line))
            ++answered;
        else if (replies_[answered].lines.size() > kMaxReplyLines)
            return fail("a reply went on without end");
    }
    if (!in.isEmpty())
        return fail("more replies came than commands went out");
    lastFailed_ = false;
    refusedByServer_ = false;
    return true;
}

bool FtpSession::isAlive() {
    if (isSftp()) {
        if (upload_.active)
            return false;
        resetOptions();
        const QByteArray url = baseUrl_ + '/';
        curl_easy_setopt(easy_, CURLOPT_URL, url.constData());
        curl_easy_setopt(easy_, CURLOPT_NOBODY, 1L);
        return perform() == CURLE_OK;
    }
    return command("NOOP", QByteArray()) / 100 == 2;
}

bool FtpSession::beginUpload(const QByteArray& path) {
    if (upload_.active)
        return false;
    resetOptions();
    upload_ = Upload();
    upload_.active = true;
    upload_.buffer.resize(size_t(kUploadBuffer));
    const QByteArray url = urlFor(path);
    curl_easy_setopt(easy_, CURLOPT_URL, url.constData());
    curl_easy_setopt(easy_, CURLOPT_UPLOAD, 1L);
    // An absolute path goes with STOR as it is: no CWD before every file,
    // which costs a round trip each, and more where commands come between.
    if (path.startsWith('/'))
        curl_easy_setopt(easy_, CURLOPT_FTP_FILEMETHOD, long(CURLFTPMETHOD_NOCWD));
    curl_multi_add_handle(multi_, easy_);
    inMulti_ = true;
    // The server has accepted the upload once curl asks for the first data.
    if (drive([this] { return upload_.started; }) == Step::Reached) {
        // The data connection is the last one curl opened.
        dataSocket_ = lastSocket_;
        return true;
    }
    leaveMulti();
    transferEnded(upload_.done ? upload_.result : int(CURLE_SEND_ERROR));
    upload_ = Upload();
    return false;
}

void FtpSession::resumeUpload() {
    if (upload_.paused) {
        upload_.paused = false;
        curl_easy_pause(easy_, CURLPAUSE_CONT);
    }
}

bool FtpSession::writeUpload(const char* data, qsizetype size) {
    if (!upload_.active || upload_.done)
        return false;
    const auto capacity = qsizetype(upload_.buffer.size());
    while (size > 0) {
        if (upload_.filled == capacity) {
            resumeUpload();
            if (drive([this, capacity] { return upload_.filled < capacity; }) != Step::Reached)
                return false;
        }
        const qsizetype tail = (upload_.head + upload_.filled) % capacity;
        const qsizetype n = std::min({size, capacity - upload_.filled, capacity - tail});
        std::memcpy(upload_.buffer.data() + tail, data, size_t(n));
        upload_.filled += n;
        data += n;
        size -= n;
    }
    if (upload_.filled < kUploadNudge)
        return true;
    // Let curl take what it can at once, so the line stays busy while the
    // caller reads on.
    resumeUpload();
    return drive([] { return true; }) == Step::Reached;
}

qsizetype FtpSession::queuedOnLine() const {
    // Bytes the system has taken but the server has not yet acknowledged. On
    // a slow line they can be megabytes, and curl waits for the server's
    // final reply without returning once the file has ended.
    if (dataSocket_ == kNoSocket)
        return 0;
    // Once the connection is no longer open both ways nothing more drains,
    // and the count is that of bytes that will never be acknowledged.
    tcp_info info{};
    socklen_t length = sizeof info;
    if (::getsockopt(dataSocket_, IPPROTO_TCP, TCP_INFO, &info, &length) != 0 ||
        info.tcpi_state != TCP_ESTABLISHED)
        return 0;
    int queued = 0;
    if (::ioctl(dataSocket_, TIOCOUTQ, &queued) != 0)
        return 0;
    return queued;
}

qsizetype FtpSession::drainUpload(qsizetype target, int maxWaitMs) {
    if (!upload_.active || upload_.done)
        return -1;
    resumeUpload();
    // Only the last wait looks at the line: the bytes the system holds need
    // no waiting for while more follow, and counting them would keep a fast
    // line from filling.
    const auto waiting = [this, target] {
        return upload_.filled + (target == 0 ? queuedOnLine() : 0);
    };
    const qsizetype before = waiting();
    if (drive([&] { return waiting() <= target; }, maxWaitMs) == Step::Ended)
        return -1;
    const qsizetype after = waiting();
    // A line that takes nothing for as long as a server may take to answer
    // is given up, as curl gives up a silent server.
    if (after == 0 || after < before || !upload_.sinceDrained.isValid())
        upload_.sinceDrained.start();
    else if (upload_.sinceDrained.hasExpired(kResponseTimeoutS * 1000)) {
        abortUpload();
        return -1;
    }
    return after;
}

bool FtpSession::finishUpload() {
    if (!upload_.active)
        return false;
    upload_.finishing = true;
    if (!upload_.done) {
        resumeUpload();
        drive([] { return false; });
    }
    const bool ok = upload_.done && upload_.result == CURLE_OK;
    leaveMulti();
    transferEnded(ok ? int(CURLE_OK) : upload_.done ? upload_.result : int(CURLE_SEND_ERROR));
    upload_ = Upload();
    dataSocket_ = kNoSocket;
    return ok;
}

void FtpSession::abortUpload() {
    if (!upload_.active)
        return;
    // Removing a running transfer closes its connections; the next operation
    // logs in afresh.
    curl_multi_remove_handle(multi_, easy_);
    inMulti_ = false;
    controlSocket_ = kNoSocket;
    upload_ = Upload();
    dataSocket_ = kNoSocket;
}
