#pragma once

#include "ftp/Session.h"
#include "ftp/SessionPool.h"

#include <QElapsedTimer>
#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// Fetches the listings of a walk's folders ahead of the walk, over the main
// session and up to `extra` sessions of the pool at once (one worker thread
// each), while the walk takes them strictly in the order the patterns were
// added.
//
// The pool's sessions join as their log-ins answer: those logged in already
// at once, and more are asked for only while the folders waiting to be listed
// would keep one session busy for longer than a log-in takes. Nobody waits for
// a log-in.
//
// Patterns are fetched in the order they were added, so the one the walk needs
// next is always among the first asked for. A folder that an extra session
// could not list is listed again over the main session, and that answer
// counts: a connection that broke or was refused only ever costs time, and
// what the walk sees of a folder is what the main session alone would see.
// An extra session whose connection is gone, or that fails listings the main
// session then makes, is given back to the pool as broken and its worker
// ends; the others go on.
//
// The destructor stops the workers (each finishes the listing it is on) and
// gives their sessions back. The main session is used by a worker thread
// from construction to destruction; its owner must leave it alone meanwhile.
class ListingPrefetcher {
public:
    ListingPrefetcher(const Session& main, SessionPool& pool, int extra,
                      ListedTimes times = ListedTimes::Wanted);
    ~ListingPrefetcher();
    ListingPrefetcher(const ListingPrefetcher&) = delete;
    ListingPrefetcher& operator=(const ListingPrefetcher&) = delete;

    // Adds a pattern; patterns are numbered from 0 in the order added.
    void add(const QString& pattern);
    int count() const;

    // Waits for the listing of pattern `index` and hands it over (once per
    // index). Calls whileWaiting on this thread every few milliseconds while
    // it waits; an exception from it leaves this call.
    Result<RemoteListing> take(int index, const std::function<void()>& whileWaiting);

private:
    enum class State { Queued, Fetching, Done };
    struct Task {
        QString pattern;
        State state = State::Queued;
        std::optional<Result<RemoteListing>> listing;
        int failedOn = 0; // the extra worker whose listing failed, if any
    };

    void work(int worker, const Session* session);
    // The next task for a worker, or -1 when it should end. Called locked.
    int nextTask(int worker, std::unique_lock<std::mutex>& lock);
    // Puts the pool's logged-in sessions to work and asks it for more where
    // the work left is worth their log-ins.
    void recruit();

    const Session& main_;
    SessionPool& pool_;
    const int extra_;
    const ListedTimes times_;

    mutable std::mutex mutex_;
    std::condition_variable workAdded_;
    std::condition_variable listingDone_;
    std::deque<Task> tasks_;
    size_t nextQueued_ = 0;
    // Listings that failed on an extra session, for the main session to retry.
    std::deque<size_t> retries_;
    // Per worker: listings it failed that the main session then made.
    std::vector<int> strikes_;
    // Per worker: a listing it failed is still to be made by the main session.
    std::vector<bool> awaitingVerdict_;
    bool stopping_ = false;
    // What the listings cost: how many were made, in how many milliseconds
    // in all, and since when the walk has been listing.
    int listed_ = 0;
    qint64 listingMs_ = 0;
    int fetching_ = 0;
    QElapsedTimer sinceStart_;

    std::vector<std::thread> workers_;
};
