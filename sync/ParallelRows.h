#pragma once

#include "sync/RowTransfer.h"

#include <QList>

class ResultListModel;
class SessionPool;
class SyncRunState;

// The ticked rows of the result list carried out over several sessions at
// once, one helper thread per session: the main one starts at once, each of
// the pool's joins the run once its log-in has been answered, and one that
// is refused never does. The calling (user-interface) thread
// alone reads the list, writes the rows' texts and shows the boxes; the
// helpers send it their progress, messages and error reports, and it lets the
// window work while it waits.
//
// Rows start in list order, each on the next free session. A row is handed
// out (its tick read) a little ahead of its start, so that no session waits
// for this thread between rows; it is not handed out while a row under way
// changes the same remote path or a folder above or below it, and no later row
// passes it. A row that failed only because its session was lost, before it
// changed anything, goes to another session, and the lost one's helper ends;
// the last session left fails its rows as a single session would. Once a
// remote file cannot be created, no further row starts and the running ones
// finish.
class ParallelRows {
public:
    struct Result {
        bool stopped = false; // a remote file could not be created
        QList<int> failed;    // the rows marked "Fail", in list order
    };

    // The main session and the pool's are used by nobody else until run()
    // has returned.
    ParallelRows(ResultListModel& model, SyncRunState& state, const Session& main,
                 SessionPool& pool);

    // Throws RunAborted when the window was closed meanwhile, once every
    // helper has ended and every unfinished upload has been cut off and
    // removed.
    Result run();

private:
    ResultListModel& model_;
    SyncRunState& state_;
    const Session& main_;
    SessionPool& pool_;
};
