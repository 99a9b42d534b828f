#pragma once

#include "ftp/Session.h"

#include <algorithm>
#include <list>
#include <memory>
#include <mutex>

// The extra sessions of runs that work over several connections at once, all
// logged in with the same settings as the run's main session. Each log-in
// runs on a thread of its own, and nobody waits for it: a run takes a session
// once its log-in has answered, and one still logging in when the work is done
// holds nothing up. A server that refuses a log-in (a per-address limit, "too
// many connections") leaves fewer sessions, and the pool starts no more
// log-ins until it is closed.
//
// A pool that keeps its sessions (the window's, the command line's) holds them
// logged in between runs, so that the sync after a compare starts with the
// compare's sessions, and lets log-ins still under way go on for the next run.
// One that does not (a run's own) logs each session out as it is given back.
// Closing the pool, which its destruction does too, cuts log-ins under way off
// and logs every session out, the goodbyes side by side.
//
// Any thread may take and give back sessions; a session taken is the taker's
// alone until it is given back, and it must be given back before the pool
// goes.
class SessionPool {
public:
    enum class Keep { Sessions, Nothing };
    // More than the runs ever use.
    static constexpr int kMaxSessions = 16;

    explicit SessionPool(Keep keep = Keep::Nothing);
    ~SessionPool();
    SessionPool(const SessionPool&) = delete;
    SessionPool& operator=(const SessionPool&) = delete;

    bool keepsSessions() const { return keep_ == Keep::Sessions; }

    // Whether work that would keep one session busy for `workMs` more is
    // worth sessions that each take `logInMs` to log in: only then is there
    // work left to share when they join.
    static bool worthLoggingIn(qint64 workMs, qint64 logInMs) {
        return workMs > std::max<qint64>(logInMs, 1);
    }

    // The settings the sessions log in with from now on; a pool holding
    // sessions of other settings is closed first.
    void useSettings(const ConnectionSettings& settings);
    // Starts log-ins until `count` sessions are open or logging in (at most
    // kMaxSessions), unless a log-in was refused since the pool was closed.
    void grow(int count);
    // Sessions open (taken or not) or logging in.
    int size() const;

    // A logged-in session that nobody has taken, or nullptr.
    Session* take();
    // Gives a taken session back: kept for later where the pool keeps its
    // sessions and the session is not `broken` (its connection failed in a
    // way that makes it useless), else logged out in the calling thread.
    void giveBack(Session* session, bool broken = false);

    // Logs out every session that is not taken (those taken are logged out
    // as they are given back) and cuts off the log-ins under way.
    void close();

private:
    struct Entry;
    void logIn(const std::shared_ptr<Entry>& entry, const ConnectionSettings& settings);

    const Keep keep_;
    mutable std::mutex mutex_;
    ConnectionSettings settings_;
    std::list<std::shared_ptr<Entry>> entries_;
    bool refused_ = false;
};
