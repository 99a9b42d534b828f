#include "ftp/UploadRing.h"

#include <algorithm>
#include <cstring>

qsizetype UploadRing::append(const char* data, qsizetype size) {
    qsizetype appended = 0;
    // At most two copies: up to the end of the buffer, then from its start.
    while (size > 0 && filled_ < capacity()) {
        const qsizetype tail = (head_ + filled_) % capacity();
        const qsizetype n = std::min({size, capacity() - filled_, capacity() - tail});
        std::memcpy(buffer_.get() + tail, data, size_t(n));
        filled_ += n;
        data += n;
        size -= n;
        appended += n;
    }
    return appended;
}

qsizetype UploadRing::take(char* out, qsizetype max) {
    const qsizetype n = std::min(filled_, max);
    const qsizetype first = std::min(n, capacity() - head_);
    std::memcpy(out, buffer_.get() + head_, size_t(first));
    std::memcpy(out + first, buffer_.get(), size_t(n - first));
    head_ = (head_ + n) % capacity();
    filled_ -= n;
    if (filled_ == 0)
        head_ = 0; // the next bytes then go in with one copy
    return n;
}
