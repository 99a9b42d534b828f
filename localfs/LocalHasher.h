#pragma once

#include "core/ContentHash.h"
#include "core/PathTable.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// Hashes local files on worker threads, in the order of the list, each file
// read in blocks of a bounded buffer. It starts at once, so that the files
// are read while the caller does other work (the remote walk), and the
// caller narrows it down to the files it turns out to need.
//
// The destructor stops the workers; each finishes the block it is on.
class LocalHasher {
public:
    // The table must not change, and must outlive the hasher.
    LocalHasher(const PathTable& paths, HashAlgorithm algorithm, int threads);
    ~LocalHasher();
    LocalHasher(const LocalHasher&) = delete;
    LocalHasher& operator=(const LocalHasher&) = delete;

    // Only these files (positions in the list) are still wanted: the others
    // are left out where they have not been started.
    void keepOnly(const QList<int>& wanted);

    // Waits for the hash of file `index` (lower-case hex), calling
    // whileWaiting on this thread every few milliseconds meanwhile; an
    // exception from it leaves this call. Empty when the file could not be
    // read whole.
    QByteArray wait(int index, const std::function<void()>& whileWaiting);

private:
    enum class State : unsigned char { Queued, Skipped, Hashing, Done };
    void work();
    QByteArray hashFile(const QString& path);

    const PathTable& paths_;
    const HashAlgorithm algorithm_;
    std::mutex mutex_;
    std::condition_variable done_;
    std::vector<State> states_;
    std::vector<QByteArray> hashes_;
    qsizetype next_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};
