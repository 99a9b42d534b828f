#include "ftp/ListingPrefetcher.h"

#include <chrono>

namespace {

// How often a waiting take() hands control to its caller's callback.
constexpr std::chrono::milliseconds kWaitStep{10};

} // namespace

ListingPrefetcher::ListingPrefetcher(const Session& main, int extra)
    : main_(main), pool_(main, extra) {
    workers_.reserve(size_t(pool_.capacity()) + 1);
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
        tasks_.push_back(Task{pattern, State::Queued, {}});
    }
    workAdded_.notify_one();
}

int ListingPrefetcher::count() const {
    const std::lock_guard lock(mutex_);
    return int(tasks_.size());
}

FolderListing ListingPrefetcher::take(int index, const std::function<void()>& whileWaiting) {
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
    return std::move(task.listing);
}

int ListingPrefetcher::nextTask(int worker, std::unique_lock<std::mutex>& lock) {
    for (;;) {
        if (stopping_)
            return -1;
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
            return;
        Task& task = tasks_[size_t(index)];
        task.state = State::Fetching;
        const QString pattern = task.pattern;
        lock.unlock();
        FolderListing listing;
        try {
            listing = FetchFolderListing(*session, pattern);
        } catch (...) {
            listing = FolderListing();
        }
        // An extra session that cannot list a folder says nothing about the
        // folder; whether it is still connected decides if it goes on.
        bool retire = false;
        if (!listing.listed && worker > 0) {
            QString folder;
            retire = !session->currentDirectory(&folder);
        }
        lock.lock();
        if (!listing.listed && worker > 0) {
            task.state = State::Queued;
            retries_.push_back(size_t(index));
            workAdded_.notify_all();
        } else {
            task.listing = std::move(listing);
            task.state = State::Done;
            listingDone_.notify_all();
        }
        if (retire) {
            lock.unlock();
            pool_.close(worker - 1);
            return;
        }
    }
}
