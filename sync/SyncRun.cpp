#include "sync/SyncRun.h"

#include "compare/BusyScope.h"
#include "compare/ResultListModel.h"
#include "compare/RunHost.h"
#include "compare/RunProgress.h"
#include "core/ErrorTrap.h"
#include "core/MessageSeam.h"
#include "core/UiYield.h"
#include "ftp/FtpTranscript.h"
#include "ftp/SessionPool.h"
#include "sync/ParallelRows.h"
#include "sync/RowSink.h"
#include "sync/RowTransfer.h"
#include "sync/SyncRunLines.h"
#include "sync/SyncRunState.h"
#include "sync/SyncSteps.h"

#include <algorithm>
#include <optional>

using namespace SyncRunLines;

namespace {

// The one-at-a-time run shows everything at once, on the thread it runs on.
class WindowSink : public RowSink {
public:
    WindowSink(ResultListModel& model, const ErrorTrap& trap) : model_(model), trap_(trap) {}
    void setAction(int row, const QString& text) override { model_.setAction(row, text); }
    void message(const QString& text) override { MessageSeam::plain(text); }
    void report(const QString& description, int line) override { trap_.report(description, line); }
    void yield() override { UiYield::processPending(); }

private:
    ResultListModel& model_;
    const ErrorTrap& trap_;
};

class SyncRun {
public:
    explicit SyncRun(RunHost& host)
        : host_(host), session_(host.session()), model_(host.resultList()), trap_(location()) {}

    void run();

private:
    ParallelRows::Result runInOrder();
    int tickedRows() const;
    void mark(int row, RowTransfer::Outcome outcome);

    RunHost& host_;
    const Session& session_;
    ResultListModel& model_;
    ErrorTrap trap_;
    SyncRunState state_;
};

void SyncRun::run() {
    UiYield::processNow();
    if (host_.isBusy())
        return;
    BusyScope busy(host_);
    const FtpTranscript::RunScope transcript("sync", host_.session().settings(),
                                             host_.remoteFolderText(), host_.localFolderText());

    if (model_.rowCount() == 0) {
        trap_.at(EmptyList, [] { MessageSeam::plain(QStringLiteral("No files selected.")); });
        return;
    }

    RunProgress* const progress = host_.progress();
    if (progress)
        progress->syncStarts(model_);

    // More sessions only pay where there are rows to spread over them, and
    // only over a main session that works. Those the server refuses are
    // simply not there.
    // Under rules that compare times, the next compare must see an uploaded
    // file's time equal to its local copy's.
    state_.setStampsTimes(host_.compareRules().usesTimes());
    const int extra = std::min(host_.transfers(), tickedRows()) - 1;
    ParallelRows::Result result;
    if (extra <= 0 || !session_.isConnected()) {
        result = runInOrder();
    } else {
        // The host's sessions (a compare's) serve the run and stay; without
        // them the run has a pool of its own, whose sessions are logged out
        // as the run ends, whichever way it ends.
        std::optional<SessionPool> own;
        SessionPool* pool = host_.sessionPool();
        if (!pool)
            pool = &own.emplace();
        pool->useSettings(session_.settings());
        result = ParallelRows(model_, state_, session_, *pool, extra).run();
    }
    // Before the box, so that the line tells what was done while it shows.
    if (progress)
        progress->syncEnds(result.stopped);
    if (result.stopped) {
        trap_.at(OpenRemote, [] {
            MessageSeam::plain(QStringLiteral("Cant create requested file on server"));
        });
        return;
    }

    // Failed rows stay, ticked, so that the next run takes them up again.
    trap_.at(End, [&] {
        MessageSeam::plain(DoneMessage(int(result.failed.size())));
        if (result.failed.isEmpty())
            model_.clear();
        else
            model_.keepOnly(result.failed);
    });
}

ParallelRows::Result SyncRun::runInOrder() {
    WindowSink sink(model_, trap_);
    RowTransfer transfer(session_, state_, sink);
    ParallelRows::Result result;
    const int n = model_.rowCount();
    for (int i = 0; i < n; ++i) {
        UiYield::processPending();
        // Nothing removes single rows during a run, but a list emptied behind
        // the run's back must not be read past its end.
        if (i >= model_.rowCount())
            break;
        if (!model_.isChecked(i))
            continue;
        const RowTransfer::Outcome outcome =
            transfer.carryOut({i, model_.kind(i), model_.source(i), model_.destination(i)});
        if (outcome == RowTransfer::Outcome::Stop) {
            result.stopped = true;
            break;
        }
        mark(i, outcome);
        if (outcome == RowTransfer::Outcome::Fail)
            result.failed.append(i);
    }
    return result;
}

int SyncRun::tickedRows() const {
    int ticked = 0;
    for (int i = 0; i < model_.rowCount(); ++i)
        ticked += model_.isChecked(i) ? 1 : 0;
    return ticked;
}

void SyncRun::mark(int row, RowTransfer::Outcome outcome) {
    trap_.at(Mark, [&] {
        model_.setAction(row, outcome == RowTransfer::Outcome::Done ? QStringLiteral("Done")
                                                                    : QStringLiteral("Fail"));
    });
}

} // namespace

void RunSync(RunHost& host) {
    SyncRun(host).run();
}
