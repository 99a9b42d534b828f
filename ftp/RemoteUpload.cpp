#include "ftp/RemoteUpload.h"

#include "ftp/FtpConnection.h"

static_assert(RemoteUpload::kSendBuffer == UploadStream::kBufferSize);

RemoteUpload::RemoteUpload(std::weak_ptr<FtpConnection> connection, QString path)
    : connection_(std::move(connection)), path_(std::move(path)) {}

RemoteUpload::~RemoteUpload() {
    abort();
}

Result<FtpConnection*> RemoteUpload::connection() const {
    // The session owns the connection; the upload only ever borrows it for
    // the length of a call, on the session's thread.
    const std::shared_ptr<FtpConnection> held = connection_.lock();
    if (!open_ || !held || !held->upload().active())
        return Failure{FailureKind::NotConnected, 0, QStringLiteral("the upload is closed")};
    return held.get();
}

Result<> RemoteUpload::write(const char* data, qint64 size) {
    const auto c = connection();
    if (!c)
        return c.failure();
    if (!data && size > 0)
        return Failure{FailureKind::Local, 0, QStringLiteral("nothing to write")};
    return (*c)->upload().write(data, size);
}

Result<qint64> RemoteUpload::drain(qint64 target, int maxWaitMs) {
    const auto c = connection();
    if (!c)
        return c.failure();
    const auto waiting = (*c)->upload().drain(target, maxWaitMs);
    if (!waiting)
        return waiting.failure();
    return qint64(*waiting);
}

Result<> RemoteUpload::finish() {
    const auto c = connection();
    if (!c)
        return c.failure();
    open_ = false;
    return (*c)->upload().finish();
}

void RemoteUpload::abort() {
    if (const auto c = connection())
        (*c)->upload().abort();
    open_ = false;
}
