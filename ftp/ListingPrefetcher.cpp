#include "ftp/ListingPrefetcher.h"

#include <algorithm>
#include <chrono>

namespace {

// How often a waiting take() hands control to its caller's callback.
constexpr std::chrono::milliseconds kWaitStep{10};

// An extra session that failed this many listings the main session then made
// is let go: it costs time and brings nothing.
constexpr int kStrikesToRetire = 2;

} // namespace

ListingPrefetcher::ListingPrefetcher(const Session& main, SessionPool& pool, int extra,
                                     ListedTimes times)
    : main_(main), pool_(pool), extra_(std::max(extra, 0)), times_(times) {
    strikes_.assign(1, 0);
    awaitingVerdict_.assign(1, false);
    sinceStart_.start();
    workers_.emplace_back([this] { work(0, &main_); });
}

ListingPrefetcher::~ListingPrefetcher() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    workAdded_.notify_all();
    for (std::thread& worker : workers_)
        worker.join();
    // Each worker has given its session back as it ended.
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

void ListingPrefetcher::recruit() {
    if (extra_ == 0)
        return;
    int working = 0;
    int waiting = 0;
    int fetching = 0;
    qint64 perListingMs = 0;
    {
        const std::lock_guard lock(mutex_);
        if (stopping_)
            return;
        working = int(workers_.size()) - 1;
        waiting = int(tasks_.size() - nextQueued_ + retries_.size());
        // The listings under way are work left too, however far they are.
        fetching = fetching_;
        // Before the first listing has come, the time it has taken so far is
        // what one costs at least.
        perListingMs = listed_ > 0 ? listingMs_ / listed_ : sinceStart_.elapsed();
    }
    if (waiting == 0)
        return;
    if (SessionPool::worthLoggingIn((waiting + fetching) * perListingMs, main_.logInMs()))
        pool_.grow(std::min(extra_, working + waiting));
    // Sessions that are logged in cost nothing more.
    for (; working < extra_; ++working) {
        Session* session = pool_.take();
        if (!session)
            break;
        const int worker = working + 1;
        {
            const std::lock_guard lock(mutex_);
            strikes_.push_back(0);
            awaitingVerdict_.push_back(false);
        }
        workers_.emplace_back([this, worker, session] {
            work(worker, session);
            int strikes = 0;
            {
                const std::lock_guard lock(mutex_);
                strikes = strikes_[size_t(worker)];
            }
            pool_.giveBack(session, strikes >= kStrikesToRetire);
        });
    }
}

Result<RemoteListing> ListingPrefetcher::take(int index,
                                              const std::function<void()>& whileWaiting) {
    recruit();
    std::unique_lock lock(mutex_);
    Task& task = tasks_.at(size_t(index));
    const auto done = [&] { return task.state == State::Done; };
    while (!done()) {
        listingDone_.wait_for(lock, kWaitStep, done);
        if (!done()) {
            lock.unlock();
            recruit();
            if (whileWaiting)
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

void ListingPrefetcher::work(int worker, const Session* session) {
    std::unique_lock lock(mutex_);
    for (;;) {
        const int index = nextTask(worker, lock);
        if (index < 0)
            break;
        Task& task = tasks_[size_t(index)];
        task.state = State::Fetching;
        ++fetching_;
        const QString pattern = task.pattern;
        lock.unlock();
        QElapsedTimer took;
        took.start();
        Result<RemoteListing> listing =
            Failure{FailureKind::Local, 0, QStringLiteral("the listing failed")};
        try {
            listing = session->list(pattern, times_);
        } catch (...) {
        }
        const qint64 ms = took.elapsed();
        // An extra session that cannot list a folder says nothing about the
        // folder; a session that no longer answers at all is done.
        bool gone = false;
        if (!listing && worker > 0)
            gone = !session->currentDirectory();
        lock.lock();
        --fetching_;
        ++listed_;
        listingMs_ += ms;
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
}
