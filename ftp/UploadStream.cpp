#include "ftp/UploadStream.h"

#include "ftp/CurlTransfer.h"

#include <curl/curl.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace {

// Callers write small blocks, and waking curl for each of them would cap the
// speed: curl is woken once this much waits.
constexpr qsizetype kNudge = 64 * 1024;

} // namespace

Result<> UploadStream::begin() {
    if (active_)
        return Failure{FailureKind::Local, 0, QStringLiteral("an upload is under way")};
    active_ = true;
    started_ = paused_ = finishing_ = false;
    // One buffer serves every upload of the connection: made afresh for each
    // of a thousand small files, its megabyte cost more than sending them.
    if (!ring_)
        ring_ = std::make_unique<UploadRing>(kBufferSize);
    ring_->clear();
    sinceDrained_.invalidate();
    transfer_.start(this);
    // The server has accepted the upload once curl asks for the first data.
    if (transfer_.drive([this] { return started_; }) == CurlTransfer::Step::Reached) {
        // The data connection is the last one curl opened.
        dataSocket_ = transfer_.lastSocket();
        return {};
    }
    transfer_.leave(transfer_.ended() ? transfer_.result() : int(CURLE_SEND_ERROR));
    active_ = false;
    ring_->clear();
    return transfer_.lastFailure();
}

size_t UploadStream::feed(char* data, size_t max) {
    started_ = true;
    if (!active_ || ring_->filled() == 0) {
        if (finishing_)
            return 0;
        paused_ = true;
        return CURL_READFUNC_PAUSE;
    }
    return size_t(ring_->take(data, qsizetype(max)));
}

void UploadStream::resume() {
    if (paused_) {
        paused_ = false;
        curl_easy_pause(transfer_.easy(), CURLPAUSE_CONT);
    }
}

Failure UploadStream::failed() const {
    if (!active_)
        return {FailureKind::NotConnected, 0, QStringLiteral("no upload under way")};
    if (transfer_.ended() && transfer_.result() == CURLE_OK)
        return {FailureKind::Protocol, 0, QStringLiteral("the server ended the upload early")};
    return transfer_.failureOf(transfer_.ended() ? transfer_.result() : int(CURLE_SEND_ERROR));
}

Result<> UploadStream::write(const char* data, qsizetype size) {
    if (!active_ || transfer_.ended())
        return failed();
    while (size > 0) {
        if (ring_->room() == 0) {
            resume();
            if (transfer_.drive([this] { return ring_->room() > 0; }) !=
                CurlTransfer::Step::Reached)
                return failed();
        }
        const qsizetype n = ring_->append(data, size);
        data += n;
        size -= n;
    }
    if (ring_->filled() < kNudge)
        return {};
    // Let curl take what it can at once, so the line stays busy while the
    // caller reads on.
    resume();
    if (transfer_.drive([] { return true; }) != CurlTransfer::Step::Reached)
        return failed();
    return {};
}

qsizetype UploadStream::queuedOnLine() const {
    // Bytes the system has taken but the server has not yet acknowledged. On
    // a slow line they can be megabytes, and curl waits for the server's
    // final reply without returning once the file has ended.
    if (dataSocket_ < 0)
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

Result<qsizetype> UploadStream::drain(qsizetype target, int maxWaitMs) {
    if (!active_ || transfer_.ended())
        return failed();
    resume();
    // Only the last wait looks at the line: the bytes the system holds need
    // no waiting for while more follow, and counting them would keep a fast
    // line from filling.
    const auto waiting = [this, target] {
        return ring_->filled() + (target == 0 ? queuedOnLine() : 0);
    };
    const qsizetype before = waiting();
    if (transfer_.drive([&] { return waiting() <= target; }, maxWaitMs) ==
        CurlTransfer::Step::Ended)
        return failed();
    const qsizetype after = waiting();
    // A line that takes nothing for as long as a server may take to answer
    // is given up, as curl gives up a silent server.
    if (after == 0 || after < before || !sinceDrained_.isValid()) {
        sinceDrained_.start();
    } else if (sinceDrained_.hasExpired(CurlTransfer::kResponseTimeoutS * 1000)) {
        abort();
        return Failure{FailureKind::TimedOut, 0, QStringLiteral("the upload stalled")};
    }
    return after;
}

Result<> UploadStream::finish() {
    if (!active_)
        return failed();
    finishing_ = true;
    if (!transfer_.ended()) {
        resume();
        transfer_.drive([] { return false; });
    }
    const bool ok = transfer_.ended() && transfer_.result() == CURLE_OK;
    transfer_.leave(ok                  ? int(CURLE_OK)
                    : transfer_.ended() ? transfer_.result()
                                        : int(CURLE_SEND_ERROR));
    active_ = false;
    ring_->clear();
    dataSocket_ = -1;
    if (ok)
        return {};
    return transfer_.lastFailure();
}

void UploadStream::abort() {
    if (!active_)
        return;
    transfer_.cut();
    active_ = false;
    ring_->clear();
    dataSocket_ = -1;
}
