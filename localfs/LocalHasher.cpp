#include "localfs/LocalHasher.h"

#include "core/VbError.h"
#include "localfs/AddFolder.h"

#include <QFile>

#include <algorithm>
#include <chrono>

namespace {

constexpr qint64 kBlock = 256 * 1024;
constexpr std::chrono::milliseconds kWaitStep{10};

} // namespace

LocalHasher::LocalHasher(const PathTable& paths, HashAlgorithm algorithm, int threads)
    : paths_(paths), algorithm_(algorithm), states_(size_t(paths.size()), State::Queued),
      hashes_(size_t(paths.size())) {
    for (int i = 0; i < std::max(threads, 1); ++i)
        workers_.emplace_back([this] { work(); });
}

LocalHasher::~LocalHasher() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    for (std::thread& worker : workers_)
        worker.join();
}

void LocalHasher::keepOnly(const QList<int>& wanted) {
    const std::lock_guard lock(mutex_);
    std::vector<bool> keep(states_.size(), false);
    for (int index : wanted)
        keep.at(size_t(index)) = true;
    for (size_t i = 0; i < states_.size(); ++i) {
        if (!keep[i] && states_[i] == State::Queued)
            states_[i] = State::Skipped;
    }
    done_.notify_all();
}

QByteArray LocalHasher::wait(int index, const std::function<void()>& whileWaiting) {
    std::unique_lock lock(mutex_);
    const size_t i = size_t(index);
    // A file left out earlier is wanted after all: hashed here and now.
    if (states_.at(i) == State::Skipped) {
        states_[i] = State::Hashing;
        lock.unlock();
        QByteArray hash = hashFile(paths_.at(index));
        lock.lock();
        hashes_[i] = std::move(hash);
        states_[i] = State::Done;
    }
    const auto done = [&] { return states_[i] == State::Done; };
    while (!done()) {
        done_.wait_for(lock, kWaitStep, done);
        if (whileWaiting && !done()) {
            lock.unlock();
            whileWaiting();
            lock.lock();
        }
    }
    return hashes_[i];
}

void LocalHasher::work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        while (next_ < qsizetype(states_.size()) && states_[size_t(next_)] != State::Queued)
            ++next_;
        if (stopping_ || next_ >= qsizetype(states_.size()))
            return;
        const qsizetype index = next_++;
        states_[size_t(index)] = State::Hashing;
        lock.unlock();
        QByteArray hash = hashFile(paths_.at(index));
        lock.lock();
        hashes_[size_t(index)] = std::move(hash);
        states_[size_t(index)] = State::Done;
        done_.notify_all();
    }
}

QByteArray LocalHasher::hashFile(const QString& path) {
    QFile file;
    try {
        OpenLocalFile(file, path);
    } catch (const VbError&) {
        return {};
    }
    ContentHash hash(algorithm_);
    QByteArray buffer(kBlock, Qt::Uninitialized);
    for (;;) {
        {
            const std::lock_guard lock(mutex_);
            if (stopping_)
                return {};
        }
        const qint64 got = file.read(buffer.data(), kBlock);
        if (got < 0)
            return {};
        if (got == 0)
            break;
        hash.add(buffer.constData(), got);
    }
    return hash.hex();
}
