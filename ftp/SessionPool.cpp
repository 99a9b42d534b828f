#include "ftp/SessionPool.h"

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

struct SessionPool::Entry {
    enum class State { LoggingIn, Ready, Taken, Gone };
    State state = State::LoggingIn;
    std::unique_ptr<Session> session;
    // Set when the pool closes: a log-in under way gives up at its next wait.
    std::atomic<bool> cancel = false;
    // The log-in's thread has nothing left to do.
    std::atomic<bool> finished = false;
    // Closed while taken: logged out as it is given back.
    bool orphaned = false;
    std::thread opener;
};

SessionPool::SessionPool(Keep keep) : keep_(keep) {}

SessionPool::~SessionPool() {
    close();
}

void SessionPool::useSettings(const ConnectionSettings& settings) {
    bool other = false;
    {
        const std::lock_guard lock(mutex_);
        other = !(settings_ == settings) && !entries_.empty();
    }
    if (other)
        close();
    const std::lock_guard lock(mutex_);
    settings_ = settings;
}

int SessionPool::size() const {
    const std::lock_guard lock(mutex_);
    return int(std::count_if(entries_.cbegin(), entries_.cend(), [](const auto& e) {
        return e->state != Entry::State::Gone && !e->orphaned;
    }));
}

void SessionPool::grow(int count) {
    const std::lock_guard lock(mutex_);
    // Log-ins that failed have ended their threads: they go.
    for (auto it = entries_.begin(); it != entries_.end();) {
        Entry& e = **it;
        if (e.state == Entry::State::Gone && e.finished.load()) {
            if (e.opener.joinable())
                e.opener.join();
            it = entries_.erase(it);
        } else {
            ++it;
        }
    }
    if (refused_)
        return;
    int open = int(std::count_if(entries_.cbegin(), entries_.cend(), [](const auto& e) {
        return e->state != Entry::State::Gone && !e->orphaned;
    }));
    for (; open < std::min(count, kMaxSessions); ++open) {
        auto entry = std::make_shared<Entry>();
        entries_.push_back(entry);
        // Each log-in works on a copy of the settings.
        entry->opener =
            std::thread([this, entry, settings = settings_] { logIn(entry, settings); });
    }
}

void SessionPool::logIn(const std::shared_ptr<Entry>& entry, const ConnectionSettings& settings) {
    auto session = std::make_unique<Session>();
    bool ok = false;
    // A closing pool ends the log-in at its next wait, within milliseconds.
    Session::setWaitCallback([e = entry.get()] { return !e->cancel.load(); });
    try {
        ok = session->openInternet() && session->connect(settings);
    } catch (...) {
        ok = false;
    }
    Session::setWaitCallback({});
    std::unique_ptr<Session> unused;
    {
        const std::lock_guard lock(mutex_);
        if (ok && !entry->cancel.load()) {
            entry->session = std::move(session);
            entry->state = Entry::State::Ready;
        } else {
            if (!ok && !entry->cancel.load())
                refused_ = true;
            entry->state = Entry::State::Gone;
            unused = std::move(session);
        }
    }
    // A session that logged in just as the pool closed logs out here.
    unused.reset();
    entry->finished = true;
}

Session* SessionPool::take() {
    const std::lock_guard lock(mutex_);
    for (const auto& e : entries_) {
        if (e->state == Entry::State::Ready && !e->orphaned) {
            e->state = Entry::State::Taken;
            return e->session.get();
        }
    }
    return nullptr;
}

void SessionPool::giveBack(Session* session, bool broken) {
    std::unique_ptr<Session> leaving;
    std::thread opener;
    {
        const std::lock_guard lock(mutex_);
        const auto it = std::find_if(entries_.begin(), entries_.end(), [session](const auto& e) {
            return e->session.get() == session;
        });
        if (it == entries_.end())
            return;
        Entry& e = **it;
        if (!broken && !e.orphaned && keepsSessions()) {
            e.state = Entry::State::Ready;
            return;
        }
        leaving = std::move(e.session);
        opener = std::move(e.opener);
        entries_.erase(it);
    }
    // Logging out takes a round trip: not under the lock.
    leaving.reset();
    if (opener.joinable())
        opener.join();
}

void SessionPool::close() {
    std::vector<std::unique_ptr<Session>> leaving;
    std::vector<std::thread> openers;
    {
        const std::lock_guard lock(mutex_);
        for (auto it = entries_.begin(); it != entries_.end();) {
            Entry& e = **it;
            if (e.state == Entry::State::Taken) {
                e.orphaned = true;
                ++it;
                continue;
            }
            e.cancel = true;
            if (e.state == Entry::State::Ready)
                leaving.push_back(std::move(e.session));
            if (e.opener.joinable())
                openers.push_back(std::move(e.opener));
            it = entries_.erase(it);
        }
        refused_ = false;
    }
    // The goodbyes go side by side; a log-in that was cut off ends within
    // milliseconds.
    std::vector<std::thread> goodbyes;
    goodbyes.reserve(leaving.size());
    for (auto& session : leaving)
        goodbyes.emplace_back([s = std::move(session)]() mutable { s.reset(); });
    for (std::thread& t : goodbyes)
        t.join();
    for (std::thread& t : openers)
        t.join();
}
