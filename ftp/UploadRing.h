#pragma once

#include <QtGlobal>

#include <vector>

// The send buffer of an upload: a ring that libcurl takes bytes from at the
// head while the caller appends behind them, so that reading the file and
// sending overlap. Allocated once per upload.
class UploadRing {
public:
    explicit UploadRing(qsizetype capacity) : buffer_(size_t(capacity)) {}

    qsizetype capacity() const { return qsizetype(buffer_.size()); }
    qsizetype filled() const { return filled_; }
    qsizetype room() const { return capacity() - filled_; }

    // Appends as much of the bytes as fits; answers how many.
    qsizetype append(const char* data, qsizetype size);
    // Moves up to `max` bytes from the head into `out`; answers how many.
    qsizetype take(char* out, qsizetype max);

private:
    std::vector<char> buffer_;
    qsizetype head_ = 0;
    qsizetype filled_ = 0;
};
