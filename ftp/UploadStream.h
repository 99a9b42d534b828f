#pragma once

#include "ftp/SessionResult.h"
#include "ftp/UploadRing.h"

#include <QByteArray>
#include <QElapsedTimer>

#include <memory>

class CurlTransfer;

// The upload under way on one connection, if any: the bytes the caller
// writes go into a send buffer that libcurl takes from as the line allows,
// so that reading the file and sending overlap. Private to the FTP layer.
class UploadStream {
public:
    // The send buffer's size: the caller waits only while its bytes do not fit.
    static constexpr qsizetype kBufferSize = 1024 * 1024;

    explicit UploadStream(CurlTransfer& transfer) : transfer_(transfer) {}
    UploadStream(const UploadStream&) = delete;
    UploadStream& operator=(const UploadStream&) = delete;

    bool active() const { return active_; }

    // Starts an upload to the URL (options already set); succeeds once the
    // server has accepted it.
    Result<> begin();
    // Takes all the bytes, waiting for room in the send buffer as long as it
    // takes; fails once the upload has failed.
    Result<> write(const char* data, qsizetype size);
    // Lets buffered bytes go out for at most maxWaitMs, returning as soon as
    // at most `target` bytes wait, with a target of 0 only once the server has
    // acknowledged them all. Answers the bytes still waiting.
    Result<qsizetype> drain(qsizetype target, int maxWaitMs);
    // Completes the upload; succeeds once the server confirmed it.
    Result<> finish();
    // Cuts the upload off; the next operation logs in afresh.
    void abort();

    // libcurl's read callback: up to `max` bytes of the buffer, or a pause.
    size_t feed(char* data, size_t max);

private:
    void resume();
    qsizetype queuedOnLine() const;
    Failure failed() const;

    CurlTransfer& transfer_;
    bool active_ = false;
    bool started_ = false; // the server accepted STOR: curl asked for data
    bool paused_ = false;
    bool finishing_ = false;
    std::unique_ptr<UploadRing> ring_;
    int dataSocket_ = -1;
    QElapsedTimer sinceDrained_;
};
