#include "compare/RemoteQueries.h"

#include "ftp/SessionPool.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr std::chrono::milliseconds kWaitStep{10};

} // namespace

void AskEach(const Session& main, int extra, int count,
             const std::function<bool(const Session&, int)>& ask,
             const std::function<void()>& whileWaiting) {
    if (count <= 0)
        return;
    SessionPool pool(main, std::max(extra, 0));
    std::mutex mutex;
    std::condition_variable changed;
    int next = 0;
    std::deque<int> retries;
    int running = pool.capacity() + 1;
    bool stopping = false;

    const auto work = [&](int worker) {
        const Session* session = worker == 0 ? &main : pool.wait(worker - 1);
        std::unique_lock lock(mutex);
        while (session && !stopping) {
            int index = -1;
            if (worker == 0 && !retries.empty()) {
                index = retries.front();
                retries.pop_front();
            } else if (next < count) {
                index = next++;
            } else if (worker == 0 && running > 1) {
                // Another session may still hand an item back.
                changed.wait(lock);
                continue;
            } else {
                break;
            }
            lock.unlock();
            bool answered = false;
            try {
                answered = ask(*session, index);
            } catch (...) {
            }
            lock.lock();
            if (!answered && worker > 0) {
                retries.push_back(index);
                session = nullptr;
                changed.notify_all();
            }
        }
        --running;
        changed.notify_all();
        lock.unlock();
        if (worker > 0)
            pool.close(worker - 1);
    };

    std::vector<std::thread> workers;
    for (int worker = 0; worker <= pool.capacity(); ++worker)
        workers.emplace_back(work, worker);

    std::exception_ptr stopped;
    {
        std::unique_lock lock(mutex);
        while (running > 0) {
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
