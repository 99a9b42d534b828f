#include "sync/ParallelRows.h"

#include "compare/ResultListModel.h"
#include "core/ErrorTrap.h"
#include "core/MessageSeam.h"
#include "core/UiYield.h"
#include "core/VbError.h"
#include "ftp/SessionPool.h"
#include "sync/RowSink.h"
#include "sync/SyncRunLines.h"

#include <QElapsedTimer>
#include <QHash>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

namespace {

using Outcome = RowTransfer::Outcome;
using Row = RowTransfer::Row;

// How long the user-interface thread waits for news from the helpers before
// it lets the window work again.
constexpr auto kNewsWait = std::chrono::milliseconds(10);

// What a helper tells the user-interface thread.
struct News {
    enum class Kind { Action, Message, Report, Finished };
    News() = default;
    News(Kind kind, int row, QString text = {}, int line = 0)
        : kind(kind), row(row), text(std::move(text)), line(line) {}

    Kind kind = Kind::Action;
    int row = -1;
    QString text;
    int line = 0;
    Outcome outcome = Outcome::Done;
    // Finished: the row did nothing because its session was lost; another
    // session is to take it up.
    bool again = false;
    // Finished: the helper has ended, its session lost.
    bool retired = false;
};

// What the user-interface thread and the helpers share, under one lock.
struct Board {
    std::mutex mutex;
    std::condition_variable work; // a row to start, or the end
    std::condition_variable news;
    std::deque<Row> rows;
    std::deque<News> inbox;
    bool closing = false;
    // A remote file could not be created: no further row starts.
    bool stopping = false;
    // Read by the helpers between the steps of an upload, without the lock.
    std::atomic<bool> abort = false;
    // Helpers that have not retired. The last one never does: it carries on
    // as a single session would.
    int live = 0;

    void post(News news) {
        {
            const std::lock_guard lock(mutex);
            inbox.push_back(std::move(news));
        }
        this->news.notify_one();
    }
};

class HelperSink : public RowSink {
public:
    explicit HelperSink(Board& board) : board_(board) {}
    void setAction(int row, const QString& text) override {
        board_.post({News::Kind::Action, row, text});
    }
    void message(const QString& text) override { board_.post({News::Kind::Message, -1, text}); }
    void report(const QString& description, int line) override {
        board_.post({News::Kind::Report, -1, description, line});
    }
    void yield() override {
        if (board_.abort.load())
            throw RunAborted{};
    }

private:
    Board& board_;
};

// Whether the session still answers; asked only after a row went wrong.
bool stillConnected(const Session& session) {
    return session.currentDirectory().ok();
}

// Works for the run over one session: the main one, or one taken from the
// pool, which it gives back as it ends (as broken when its connection was
// lost), so that the goodbyes of a pool that keeps nothing overlap.
void helper(Board& board, const Session& main, Session* taken, SessionPool& pool,
            SyncRunState& state) {
    struct Leave {
        const Session& session;
        Session* taken;
        SessionPool& pool;
        bool lost = false;
        ~Leave() {
            // Later runs may want one command at a time.
            session.sendCommandsTogether(false);
            if (taken)
                pool.giveBack(taken, lost);
        }
    } leave{taken ? *taken : main, taken, pool};
    const Session& session = leave.session;
    // The point of several connections is fewer waits for replies; the two
    // commands of each rename then go out together too, where the server
    // copes.
    session.sendCommandsTogether(true);
    HelperSink sink(board);
    RowTransfer transfer(session, state, sink, RowTransfer::Sharing::Shared);
    for (;;) {
        Row row;
        {
            std::unique_lock lock(board.mutex);
            board.work.wait(lock, [&] {
                return board.abort.load() || board.closing || board.stopping || !board.rows.empty();
            });
            if (board.abort.load() || board.stopping || board.rows.empty())
                return;
            row = std::move(board.rows.front());
            board.rows.pop_front();
        }
        News done{News::Kind::Finished, row.index};
        try {
            done.outcome = transfer.carryOut(row);
        } catch (const RunAborted&) {
            return;
        } catch (...) {
            done.outcome = Outcome::Fail;
        }
        const bool lost = done.outcome != Outcome::Done && !stillConnected(session);
        {
            const std::lock_guard lock(board.mutex);
            if (lost && board.live > 1) {
                --board.live;
                done.retired = true;
                // An upload cut off by the loss keeps its "Fail"; a row that
                // could not even begin goes to a session that works.
                done.again = done.outcome == Outcome::Stop || row.kind == RowKind::Delete;
            }
            if (done.outcome == Outcome::Stop && !done.again)
                board.stopping = true;
        }
        const bool retired = done.retired;
        board.post(std::move(done));
        if (retired) {
            leave.lost = true;
            return;
        }
    }
}

// Whether `inner` is `outer` or lies below it as a remote path.
bool within(const QString& outer, const QString& inner) {
    if (!inner.startsWith(outer))
        return false;
    return inner.size() == outer.size() || outer.endsWith(QLatin1Char('/')) ||
           inner.at(outer.size()) == QLatin1Char('/');
}

} // namespace

ParallelRows::ParallelRows(ResultListModel& model, SyncRunState& state, const Session& main,
                           SessionPool& pool, int extra)
    : model_(model), state_(state), main_(main), pool_(pool), extra_(std::max(extra, 0)) {}

ParallelRows::Result ParallelRows::run() {
    ErrorTrap trap(SyncRunLines::location());
    Board board;
    std::vector<std::thread> helpers;
    helpers.reserve(size_t(extra_) + 1);
    // Log-ins still under way when the work is done are nobody's concern
    // here: the helpers at work end with their last rows.
    const auto end = [&](bool abort) {
        {
            const std::lock_guard lock(board.mutex);
            board.closing = true;
            if (abort)
                board.abort.store(true);
        }
        board.work.notify_all();
        for (std::thread& t : helpers) {
            if (t.joinable())
                t.join();
        }
    };

    Result result;
    const int n = model_.rowCount();
    int next = 0;
    std::set<int> again;
    QHash<int, QString> running; // row: the remote path it changes
    // Rows are handed out a little ahead, so that a helper that ends a row
    // starts its next one without waiting for this thread: up to this many
    // per helper are under way or waiting for one.
    constexpr int kRowsPerHelper = 2;
    int working = 0; // helpers at work: the main one, and those that joined
    int extrasWorking = 0;
    bool listGone = false;
    // What the rows cost so far, for the question whether more sessions pay.
    int ticked = 0;
    for (int i = 0; i < n; ++i)
        ticked += model_.isChecked(i) ? 1 : 0;
    int handedOut = 0;
    int finished = 0;
    QElapsedTimer sinceStart;
    sinceStart.start();

    const auto spawn = [&](Session* taken) {
        {
            const std::lock_guard lock(board.mutex);
            ++board.live;
        }
        ++working;
        helpers.emplace_back(helper, std::ref(board), std::cref(main_), taken, std::ref(pool_),
                             std::ref(state_));
    };
    // The pool's logged-in sessions join at once; more log in only while the
    // rows left would keep one session busy for longer than a log-in takes.
    const auto recruit = [&] {
        if (extra_ == 0 || result.stopped || listGone)
            return;
        const int left = std::max(ticked - handedOut, 0) + int(again.size());
        if (left == 0)
            return;
        // Before a row has ended, the time the first one has taken so far is
        // what a row costs at least.
        const qint64 perRowMs =
            finished > 0 ? sinceStart.elapsed() * working / finished : sinceStart.elapsed();
        if (SessionPool::worthLoggingIn((left + running.size()) * perRowMs, main_.logInMs()))
            pool_.grow(std::min(extra_, extrasWorking + left));
        for (; extrasWorking < extra_; ++extrasWorking) {
            Session* taken = pool_.take();
            if (!taken)
                break;
            spawn(taken);
        }
    };

    const auto clashes = [&](const QString& path) {
        for (const QString& busy : running) {
            if (within(busy, path) || within(path, busy))
                return true;
        }
        return false;
    };
    const auto startRows = [&] {
        while (running.size() < kRowsPerHelper * working) {
            UiYield::processPending();
            const bool retry = !again.empty();
            const int i = retry ? *again.begin() : next;
            if (!retry && i >= n)
                return;
            // Nothing removes single rows during a run, but a list emptied
            // behind the run's back must not be read past its end.
            if (i >= model_.rowCount()) {
                listGone = true;
                return;
            }
            if (!retry && !model_.isChecked(i)) {
                ++next;
                continue;
            }
            Row row{i, model_.kind(i), model_.source(i), model_.destination(i)};
            const QString path = row.remotePath();
            if (clashes(path))
                return;
            if (retry)
                again.erase(again.begin());
            else
                ++next;
            ++handedOut;
            running.insert(i, path);
            {
                const std::lock_guard lock(board.mutex);
                board.rows.push_back(std::move(row));
            }
            board.work.notify_one();
        }
    };
    const auto mark = [&](int row, Outcome outcome) {
        trap.at(SyncRunLines::Mark, [&] {
            if (row < model_.rowCount())
                model_.setAction(row, outcome == Outcome::Done ? QStringLiteral("Done")
                                                               : QStringLiteral("Fail"));
        });
    };
    const auto take = [&](News& news) {
        switch (news.kind) {
        case News::Kind::Action:
            if (news.row < model_.rowCount())
                model_.setAction(news.row, news.text);
            break;
        case News::Kind::Message:
            MessageSeam::plain(news.text);
            break;
        case News::Kind::Report:
            trap.report(news.text, news.line);
            break;
        case News::Kind::Finished:
            running.remove(news.row);
            ++finished;
            if (news.retired)
                --working;
            if (news.again) {
                again.insert(news.row);
            } else if (news.outcome == Outcome::Stop) {
                result.stopped = true;
                // The rows handed out that no helper took up stay as they
                // were.
                const std::lock_guard lock(board.mutex);
                for (const Row& unstarted : board.rows)
                    running.remove(unstarted.index);
                board.rows.clear();
            } else {
                mark(news.row, news.outcome);
                if (news.outcome == Outcome::Fail)
                    result.failed.append(news.row);
            }
            break;
        }
    };

    try {
        spawn(nullptr);
        for (;;) {
            std::deque<News> inbox;
            {
                const std::lock_guard lock(board.mutex);
                inbox.swap(board.inbox);
            }
            for (News& news : inbox)
                take(news);
            recruit();
            if (!result.stopped && !listGone)
                startRows();
            const bool noMore = result.stopped || listGone || (next >= n && again.empty());
            if (running.isEmpty() && noMore)
                break;
            {
                std::unique_lock lock(board.mutex);
                board.news.wait_for(lock, kNewsWait, [&] { return !board.inbox.empty(); });
            }
            UiYield::processPending();
        }
        end(false);
    } catch (...) {
        // The window was closed: every helper cuts its upload off at its next
        // step, removes what the server received of it and ends.
        end(true);
        throw;
    }
    std::sort(result.failed.begin(), result.failed.end());
    return result;
}
