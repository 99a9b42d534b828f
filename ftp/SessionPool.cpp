#include "ftp/SessionPool.h"

#include <algorithm>
#include <chrono>

namespace {

// How often waitAll() hands control to its caller's callback.
constexpr std::chrono::milliseconds kWaitStep{15};

} // namespace

SessionPool::SessionPool(const Session& main, int extra) : slots_(size_t(std::max(extra, 0))) {
    const ConnectionSettings& settings = main.settings();
    openers_.reserve(slots_.size());
    for (size_t i = 0; i < slots_.size(); ++i) {
        // Each opener works on a copy of the settings: the main session may be
        // reopened by its owner while the log-ins are still under way.
        openers_.emplace_back([this, i, settings] {
            std::unique_ptr<Session> session;
            try {
                session = std::make_unique<Session>();
                if (!session->openInternet() || !session->connect(settings))
                    session.reset();
            } catch (...) {
                session.reset();
            }
            const std::lock_guard lock(mutex_);
            slots_[i].session = std::move(session);
            slots_[i].answered = true;
            answered_.notify_all();
        });
    }
}

SessionPool::~SessionPool() {
    for (std::thread& opener : openers_)
        opener.join();
    // The sessions close as the slots go.
}

Session* SessionPool::wait(int index) {
    std::unique_lock lock(mutex_);
    Slot& slot = slots_.at(size_t(index));
    answered_.wait(lock, [&] { return slot.answered; });
    return slot.session.get();
}

int SessionPool::waitAll(const std::function<void()>& whileWaiting) {
    std::unique_lock lock(mutex_);
    const auto allAnswered = [&] {
        for (const Slot& slot : slots_) {
            if (!slot.answered)
                return false;
        }
        return true;
    };
    while (!allAnswered()) {
        answered_.wait_for(lock, kWaitStep, allAnswered);
        if (whileWaiting && !allAnswered()) {
            lock.unlock();
            whileWaiting();
            lock.lock();
        }
    }
    int open = 0;
    for (const Slot& slot : slots_)
        open += slot.session ? 1 : 0;
    return open;
}

void SessionPool::close(int index) {
    std::unique_ptr<Session> session;
    {
        const std::lock_guard lock(mutex_);
        session = std::move(slots_.at(size_t(index)).session);
    }
    // Logging out takes a round trip: not under the lock.
    session.reset();
}
