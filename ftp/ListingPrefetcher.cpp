#include "ftp/ListingPrefetcher.h"

#include <chrono>

namespace {

// How often a waiting take() hands control to its caller's callback.
constexpr std::chrono::milliseconds kWaitStep{10};

// An extra session that failed this many listings the main session then made
// is logged out: it costs time and brings nothing.
constexpr int kStrikesToRetire = 2;

} // namespace

ListingPrefetcher::ListingPrefetcher(const Session& main, int extra)
    : main_(main), pool_(main, extra) {
    workers_.reserve(size_t(pool_.capacity()) + 1);
    strikes_.assign(size_t(pool_.capacity()) + 1, 0);
    awaitingVerdict_.assign(size_t(pool_.capacity()) + 1, false);
    for (int worker = 0; worker <= pool_.capacity(); ++worker)
        workers_.emplace_back([this, worker] { work(worker); });
}

ListingPrefetcher::~ListingPrefetcher() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    workAdded_.notify_all();
    for (std::thread& worker : workers_)
        worker.join();
    // The pool logs the extra sessions out as it goes.
}

void ListingPrefetcher::add(const QString& pattern) {
    {
        const std::lock_guard lock(mutex_);
        tasks_.push_back(Task{pattern, State::Queued, {}, 0});
    }
    workAdded_.notify_one();
}

int ListingPrefetcher::count() const {
    const std::lock_guard lock(mutex_);
    return int(tasks_.size());
}

Result<RemoteListing> ListingPrefetcher::take(int index,
                                              const std::function<void()>& whileWaiting) {
    std::unique_lock lock(mutex_);
    Task& task = tasks_.at(size_t(index));
    const auto done = [&] { return task.state == State::Done; };
    while (!done()) {
        listingDone_.wait_for(lock, kWaitStep, done);
        if (whileWaiting && !done()) {
            lock.unlock();
            whileWaiting();
            lock.lock();
        }
    }
    return std::move(*task.listing);
}

int ListingPrefetcher::nextTask(int worker, std::unique_lock<std::mutex>& lock) {
    for (;;) {
        if (stopping_ || (worker > 0 && strikes_[size_t(worker)] >= kStrikesToRetire))
            return -1;
        // After a failed listing an extra session waits for the main
        // session's verdict on that folder before it lists anything else.
        if (worker > 0 && awaitingVerdict_[size_t(worker)]) {
            workAdded_.wait(lock);
            continue;
        }
        // The main session takes the retries first: the walk may be waiting
        // for one of them.
        if (worker == 0 && !retries_.empty()) {
            const size_t index = retries_.front();
            retries_.pop_front();
            return int(index);
        }
        if (nextQueued_ < tasks_.size())
            return int(nextQueued_++);
        workAdded_.wait(lock);
    }
}

void ListingPrefetcher::work(int worker) {
    const Session* session = &main_;
    if (worker > 0) {
        session = pool_.wait(worker - 1);
        if (!session)
            return;
    }
    std::unique_lock lock(mutex_);
    for (;;) {
        const int index = nextTask(worker, lock);
        if (index < 0)
            break;
        Task& task = tasks_[size_t(index)];
        task.state = State::Fetching;
        const QString pattern = task.pattern;
        lock.unlock();
        Result<RemoteListing> listing =
            Failure{FailureKind::Local, 0, QStringLiteral("the listing failed")};
        try {
            listing = session->list(pattern);
        } catch (...) {
        }
        // An extra session that cannot list a folder says nothing about the
        // folder; a session that no longer answers at all is done.
        bool gone = false;
        if (!listing && worker > 0)
            gone = !session->currentDirectory();
        lock.lock();
        if (!listing && worker > 0) {
            task.state = State::Queued;
            task.failedOn = worker;
            awaitingVerdict_[size_t(worker)] = true;
            retries_.push_back(size_t(index));
            if (gone)
                strikes_[size_t(worker)] = kStrikesToRetire;
            workAdded_.notify_all();
        } else {
            // The main session listed what an extra one could not: that
            // session is the trouble, not the folder.
            if (task.failedOn > 0) {
                if (listing)
                    ++strikes_[size_t(task.failedOn)];
                awaitingVerdict_[size_t(task.failedOn)] = false;
                workAdded_.notify_all();
            }
            task.listing = std::move(listing);
            task.state = State::Done;
            listingDone_.notify_all();
        }
    }
    lock.unlock();
    if (worker > 0)
        pool_.close(worker - 1);
}
