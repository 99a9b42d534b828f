#include "ftp/FtpSession.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include <sys/socket.h>

namespace {

constexpr long kConnectTimeoutS = 20;
constexpr long kResponseTimeoutS = 60;
// Uploads are handed to curl in large pieces: the callers write small
// blocks, and waking curl for each of them would cap the speed.
constexpr qsizetype kUploadChunk = 512 * 1024;
constexpr qsizetype kMaxListing = qsizetype(512) * 1024 * 1024;
constexpr int kPollMs = 1000;

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

} // namespace

FtpSession::FtpSession() {
    ensureGlobalInit();
    easy_ = curl_easy_init();
    multi_ = curl_multi_init();
}

FtpSession::~FtpSession() {
    if (upload_.active)
        abortUpload();
    if (easy_ && lastFailed_) {
        // A server that stopped answering would hold the polite QUIT of the
        // clean-up for minutes: cut the connection instead.
        curl_socket_t sock = CURL_SOCKET_BAD;
        if (curl_easy_getinfo(easy_, CURLINFO_ACTIVESOCKET, &sock) == CURLE_OK &&
            sock != CURL_SOCKET_BAD)
            ::shutdown(sock, SHUT_RDWR);
    }
    if (inMulti_)
        curl_multi_remove_handle(multi_, easy_);
    if (easy_)
        curl_easy_cleanup(easy_);
    if (multi_)
        curl_multi_cleanup(multi_);
}

int FtpSession::onDebug(CURL*, curl_infotype type, char* data, size_t size, void* self) {
    auto* s = static_cast<FtpSession*>(self);
    if (type == CURLINFO_HEADER_OUT) {
        QByteArray line(data, qsizetype(size));
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        if (line.startsWith("PASS "))
            line = "PASS"; // the password stays out of everything kept
        s->replies_.append({line, 0, {}});
    } else if (type == CURLINFO_HEADER_IN) {
        QByteArray line(data, qsizetype(size));
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        if (s->replies_.isEmpty() || s->replies_.last().code != 0)
            s->replies_.append({QByteArray(), 0, {}});
        Reply& r = s->replies_.last();
        r.lines.append(line);
        if (isFinalReplyLine(line) && (r.lines.size() == 1 || line.left(3) == r.lines[0].left(3)))
            r.code = line.left(3).toInt();
    }
    return 0;
}

size_t FtpSession::onWrite(char* data, size_t size, size_t count, void* self) {
    auto* s = static_cast<FtpSession*>(self);
    const size_t n = size * count;
    if (s->received_.size() + qsizetype(n) > kMaxListing) {
        s->receiveOverflow_ = true;
        return 0;
    }
    s->received_.append(data, qsizetype(n));
    return n;
}

size_t FtpSession::onRead(char* data, size_t size, size_t count, void* self) {
    auto* s = static_cast<FtpSession*>(self);
    Upload& u = s->upload_;
    u.started = true;
    const qsizetype avail = u.filled - u.offset;
    if (avail == 0) {
        if (u.finishing)
            return 0;
        u.paused = true;
        return CURL_READFUNC_PAUSE;
    }
    const qsizetype n = std::min<qsizetype>(avail, qsizetype(size * count));
    std::memcpy(data, u.buffer.data() + u.offset, size_t(n));
    u.offset += n;
    if (u.offset == u.filled) {
        u.filled = 0;
        u.offset = 0;
    }
    return size_t(n);
}

void FtpSession::resetOptions() {
    CURL* e = easy_;
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(e, CURLOPT_DEBUGFUNCTION, &FtpSession::onDebug);
    curl_easy_setopt(e, CURLOPT_DEBUGDATA, this);
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "ftp");
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
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &FtpSession::onWrite);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(e, CURLOPT_READFUNCTION, &FtpSession::onRead);
    curl_easy_setopt(e, CURLOPT_READDATA, this);
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
        url.append("%2F");
        rest.remove(0, 1);
    }
    const QList<QByteArray> segments = rest.split('/');
    for (qsizetype i = 0; i < segments.size(); ++i) {
        if (i > 0)
            url.append('/');
        url.append(percentEscaped(segments[i]));
    }
    return url;
}

template <typename Done> bool FtpSession::drive(Done done) {
    // Runs the transfer until done() or until it ends; answers false when it
    // ended. upload_.result then holds curl's result.
    for (;;) {
        int running = 0;
        if (curl_multi_perform(multi_, &running) != CURLM_OK) {
            upload_.done = true;
            upload_.result = CURLE_FAILED_INIT;
            return false;
        }
        int left = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi_, &left)) {
            if (msg->msg == CURLMSG_DONE) {
                upload_.done = true;
                upload_.result = msg->data.result;
            }
        }
        if (upload_.done)
            return false;
        if (done())
            return true;
        curl_multi_poll(multi_, nullptr, 0, kPollMs, nullptr);
    }
}

int FtpSession::perform() {
    upload_.done = false;
    upload_.result = CURLE_OK;
    curl_multi_add_handle(multi_, easy_);
    inMulti_ = true;
    drive([] { return false; });
    curl_multi_remove_handle(multi_, easy_);
    inMulti_ = false;
    lastFailed_ = upload_.result != CURLE_OK;
    return upload_.result;
}

const FtpSession::Reply* FtpSession::replyTo(const QByteArray& command) const {
    for (qsizetype i = replies_.size() - 1; i >= 0; --i) {
        if (replies_[i].command == command)
            return &replies_[i];
    }
    return nullptr;
}

bool FtpSession::logIn(const QByteArray& hostForUrl, quint16 port, const QByteArray& user,
                       const QByteArray& password) {
    if (!easy_ || !multi_)
        return false;
    baseUrl_ = "ftp://" + hostForUrl + ':' + QByteArray::number(port);
    resetOptions();
    curl_easy_setopt(easy_, CURLOPT_USERNAME, user.constData());
    curl_easy_setopt(easy_, CURLOPT_PASSWORD, password.constData());
    const QByteArray url = baseUrl_ + '/';
    curl_easy_setopt(easy_, CURLOPT_URL, url.constData());
    curl_easy_setopt(easy_, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(easy_, CURLOPT_FTP_FILEMETHOD, long(CURLFTPMETHOD_NOCWD));
    curl_slist* quote = curl_slist_append(nullptr, "*FEAT");
    curl_easy_setopt(easy_, CURLOPT_QUOTE, quote);
    const int rc = perform();
    curl_easy_setopt(easy_, CURLOPT_QUOTE, nullptr);
    curl_slist_free_all(quote);
    if (rc != CURLE_OK)
        return false;

    char* entry = nullptr;
    if (curl_easy_getinfo(easy_, CURLINFO_FTP_ENTRY_PATH, &entry) == CURLE_OK && entry)
        entryPath_ = entry;
    if (entryPath_.isEmpty())
        entryPath_ = "/";

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
    // "-a" asks servers that hide dot files by default to show them.
    curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, mlsd_ ? "MLSD" : "LIST -a");
    const int rc = perform();
    curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, nullptr);
    const QByteArray data = std::move(received_);
    received_.clear();
    if (rc != CURLE_OK || receiveOverflow_)
        return std::nullopt;
    return parseListing(data, mlsd_ ? ListingFormat::Mlsd : ListingFormat::List);
}

int FtpSession::command(const QByteArray& verb, const QByteArray& argument) {
    if (upload_.active)
        return 0;
    resetOptions();
    const QByteArray cmd = argument.isEmpty() ? verb : verb + ' ' + argument;
    // "*": a refused command must not make curl drop the control connection;
    // the reply code comes from the reply lines instead.
    const QByteArray quoted = '*' + cmd;
    curl_slist* quote = curl_slist_append(nullptr, quoted.constData());
    const QByteArray url = baseUrl_ + '/';
    curl_easy_setopt(easy_, CURLOPT_URL, url.constData());
    curl_easy_setopt(easy_, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(easy_, CURLOPT_FTP_FILEMETHOD, long(CURLFTPMETHOD_NOCWD));
    curl_easy_setopt(easy_, CURLOPT_QUOTE, quote);
    const int rc = perform();
    curl_easy_setopt(easy_, CURLOPT_QUOTE, nullptr);
    curl_slist_free_all(quote);
    if (rc != CURLE_OK)
        return 0;
    const Reply* reply = replyTo(cmd);
    return reply ? reply->code : 0;
}

bool FtpSession::isAlive() {
    return command("NOOP", QByteArray()) / 100 == 2;
}

bool FtpSession::beginUpload(const QByteArray& path) {
    if (upload_.active)
        return false;
    resetOptions();
    upload_ = Upload();
    upload_.active = true;
    upload_.buffer.resize(size_t(kUploadChunk));
    const QByteArray url = urlFor(path);
    curl_easy_setopt(easy_, CURLOPT_URL, url.constData());
    curl_easy_setopt(easy_, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(easy_, CURLOPT_UPLOAD_BUFFERSIZE, long(kUploadChunk));
    curl_multi_add_handle(multi_, easy_);
    inMulti_ = true;
    // The server has accepted the upload once curl asks for the first data.
    if (drive([this] { return upload_.started; }))
        return true;
    lastFailed_ = upload_.result != CURLE_OK;
    curl_multi_remove_handle(multi_, easy_);
    inMulti_ = false;
    upload_ = Upload();
    return false;
}

bool FtpSession::flushUpload() {
    if (upload_.done)
        return false;
    if (upload_.paused) {
        upload_.paused = false;
        curl_easy_pause(easy_, CURLPAUSE_CONT);
    }
    return drive([this] { return upload_.paused && upload_.filled == 0; });
}

bool FtpSession::writeUpload(const char* data, qsizetype size) {
    if (!upload_.active || upload_.done)
        return false;
    while (size > 0) {
        if (upload_.filled == kUploadChunk && !flushUpload())
            return false;
        const qsizetype n = std::min(size, kUploadChunk - upload_.filled);
        std::memcpy(upload_.buffer.data() + upload_.filled, data, size_t(n));
        upload_.filled += n;
        data += n;
        size -= n;
    }
    return true;
}

bool FtpSession::finishUpload() {
    if (!upload_.active)
        return false;
    upload_.finishing = true;
    if (!upload_.done) {
        if (upload_.paused) {
            upload_.paused = false;
            curl_easy_pause(easy_, CURLPAUSE_CONT);
        }
        drive([] { return false; });
    }
    const bool ok = upload_.done && upload_.result == CURLE_OK;
    lastFailed_ = !ok;
    curl_multi_remove_handle(multi_, easy_);
    inMulti_ = false;
    upload_ = Upload();
    return ok;
}

void FtpSession::abortUpload() {
    if (!upload_.active)
        return;
    // Removing a running transfer closes its connections; the next operation
    // logs in afresh.
    curl_multi_remove_handle(multi_, easy_);
    inMulti_ = false;
    upload_ = Upload();
}
