#pragma once

#include "ftp/Session.h"

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// The extra sessions of a run that works over several connections at once:
// up to `extra` sessions logged in with the settings of the main one. The
// log-ins start at once, all at the same time, each on a thread of its own,
// and the constructor does not wait for them. A server that refuses some of
// them (a per-address limit, "too many connections") just leaves fewer.
//
// The pool owns the sessions: they are closed, and so logged out, when the
// pool is destroyed, which first waits for log-ins still under way. Any
// thread may wait for a session and then use it; one thread at a time per
// session is the user's business. The main session is only read while the
// log-ins start; it is not used afterwards.
class SessionPool {
public:
    SessionPool(const Session& main, int extra);
    ~SessionPool();
    SessionPool(const SessionPool&) = delete;
    SessionPool& operator=(const SessionPool&) = delete;

    // How many sessions were asked for.
    int capacity() const { return int(slots_.size()); }

    // Waits until log-in `index` has answered; the session, or nullptr when
    // it was refused or has been closed.
    Session* wait(int index);

    // Waits until every log-in has answered, calling whileWaiting (from this
    // thread) every few milliseconds meanwhile, for instance to keep a window
    // responsive. An exception from whileWaiting ends the wait and goes on to
    // the caller. Answers how many sessions are open.
    int waitAll(const std::function<void()>& whileWaiting = {});

    // Logs session `index` out now, for a user that is done with it or whose
    // connection broke. The caller must not be using it on another thread.
    void close(int index);

private:
    struct Slot {
        std::unique_ptr<Session> session;
        bool answered = false;
    };

    std::mutex mutex_;
    std::condition_variable answered_;
    std::vector<Slot> slots_;
    std::vector<std::thread> openers_;
};
