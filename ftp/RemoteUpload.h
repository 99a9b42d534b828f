#pragma once

#include "ftp/SessionResult.h"

#include <QString>

#include <memory>

class FtpConnection;

// An upload that a session opened: it takes the file's bytes, and the server
// has the file once finish() succeeds. Destroyed before it finished, it is
// cut off, never completed: the server may keep what it received so far under
// the name the upload was opened with. When its session closes first, every
// call fails (NotConnected).
class RemoteUpload {
public:
    // The send buffer: write() waits only while the bytes do not fit.
    static constexpr qint64 kSendBuffer = 1024 * 1024;

    RemoteUpload(std::weak_ptr<FtpConnection> connection, QString path);
    ~RemoteUpload();
    RemoteUpload(const RemoteUpload&) = delete;
    RemoteUpload& operator=(const RemoteUpload&) = delete;

    // The remote path the upload was opened with.
    const QString& path() const { return path_; }
    bool isOpen() const { return open_; }

    // Sends exactly these bytes; they go into the send buffer.
    Result<> write(const char* data, qint64 size);
    // Lets the buffered bytes go out for at most maxWaitMs milliseconds,
    // returning as soon as at most `target` bytes wait; with a target of 0
    // only once the server has acknowledged every byte written, so that
    // finish() then waits for no more than the server's reply. Answers the
    // bytes still waiting. A caller that must stay responsive waits in such
    // steps, then writes no more than kSendBuffer minus the answer, and
    // write() does not wait.
    Result<qint64> drain(qint64 target, int maxWaitMs);
    // Completes the upload; succeeds once the server confirmed it.
    Result<> finish();
    // Cuts the upload off.
    void abort();

private:
    Result<FtpConnection*> connection() const;

    std::weak_ptr<FtpConnection> connection_;
    QString path_;
    bool open_ = true;
};
