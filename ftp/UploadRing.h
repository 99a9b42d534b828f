#pragma once

#include <QtGlobal>

#include <memory>

// The send buffer of an upload: a ring that libcurl takes bytes from at the
// head while the caller appends behind them, so that reading the file and
// sending overlap. Its memory is not cleared: pages the uploads never reach
// are never touched.
class UploadRing {
public:
    explicit UploadRing(qsizetype capacity)
        : buffer_(new char[size_t(capacity)]), capacity_(capacity) {}

    qsizetype capacity() const { return capacity_; }
    qsizetype filled() const { return filled_; }
    qsizetype room() const { return capacity() - filled_; }

    // Appends as much of the bytes as fits; answers how many.
    qsizetype append(const char* data, qsizetype size);
    // Moves up to `max` bytes from the head into `out`; answers how many.
    qsizetype take(char* out, qsizetype max);
    // Drops what it holds, for the next upload.
    void clear() { head_ = filled_ = 0; }

private:
    std::unique_ptr<char[]> buffer_;
    qsizetype capacity_;
    qsizetype head_ = 0;
    qsizetype filled_ = 0;
};
