#include "compare/RemoteQueries.h"

#include "ftp/SessionPool.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace {

constexpr std::chrono::milliseconds kWaitStep{10};

} // namespace

void AskEach(const Session& main, int extra, int count,
             const std::function<bool(const Session&, int)>& ask,
             const std::function<void()>& whileWaiting, SessionPool* hostPool) {
    if (count <= 0)
        return;
    extra = std::clamp(extra, 0, SessionPool::kMaxSessions);
    // Without the host's pool the questions log their own sessions in and out.
    std::optional<SessionPool> own;
    SessionPool* pool = hostPool;
    if (extra > 0 && !pool) {
        own.emplace();
        own->useSettings(main.settings());
        pool = &*own;
    }
    if (extra > 0)
        pool->grow(extra);

    std::mutex mutex;
    std::condition_variable changed;
    int next = 0;
    std::deque<int> retries;
    int running = 1;
    bool stopping = false;

    // The main session (session null) takes the items that an extra session
    // could not answer first, and stays until no extra session may hand one
    // back; an extra session that failed asks nothing more.
    const auto work = [&](const Session* extraSession) {
        const Session& session = extraSession ? *extraSession : main;
        const bool isMain = extraSession == nullptr;
        bool broken = false;
        std::unique_lock lock(mutex);
        while (!stopping && !broken) {
            int index = -1;
            if (isMain && !retries.empty()) {
                index = retries.front();
                retries.pop_front();
            } else if (next < count) {
                index = next++;
            } else if (isMain && running > 1) {
                changed.wait(lock);
                continue;
            } else {
                break;
            }
            lock.unlock();
            bool answered = false;
            try {
                answered = ask(session, index);
            } catch (...) {
            }
            lock.lock();
            if (!answered && !isMain) {
                retries.push_back(index);
                broken = true;
                changed.notify_all();
            }
        }
        --running;
        changed.notify_all();
        return broken;
    };

    std::vector<std::thread> workers;
    workers.emplace_back([&] { work(nullptr); });
    // Sessions join as their log-ins answer, while items are left to ask.
    const auto recruit = [&](std::unique_lock<std::mutex>& lock) {
        while (int(workers.size()) <= extra && next < count && !stopping) {
            lock.unlock();
            Session* session = pool->take();
            lock.lock();
            if (!session)
                return;
            ++running;
            workers.emplace_back([&, session] {
                const bool broken = work(session);
                pool->giveBack(session, broken);
            });
        }
    };

    std::exception_ptr stopped;
    {
        std::unique_lock lock(mutex);
        while (running > 0) {
            if (extra > 0)
                recruit(lock);
            changed.wait_for(lock, kWaitStep);
            if (running == 0 || !whileWaiting || stopped)
                continue;
            lock.unlock();
            try {
                whileWaiting();
            } catch (...) {
                stopped = std::current_exception();
            }
            lock.lock();
            if (stopped) {
                stopping = true;
                changed.notify_all();
            }
        }
    }
    for (std::thread& worker : workers)
        worker.join();
    if (stopped)
        std::rethrow_exception(stopped);
}
