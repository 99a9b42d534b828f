#pragma once

#include "sync/RowTransfer.h"

#include <QList>

class ResultListModel;
class SessionPool;
class SyncRunState;

// The ticked rows of the result list carried out over several sessions at
// once, one helper thread per session: the main one starts at once, and up to
// `extra` of the pool's join as their log-ins answer: those logged in already
// (a compare's) at once, and more are asked for only while the rows left
// would keep one session busy for longer than a log-in takes. A log-in
// refused never joins, and one still under way when the last row is done is
// not waited for. The calling (user-interface) thread alone reads the list,
// writes the rows' texts and shows the boxes; the helpers send it their
// progress, messages and error reports, and it lets the window work while it
// waits.
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

    // The main session and the sessions taken from the pool are used by
    // nobody else until run() has returned; the pool has them back by then.
    ParallelRows(ResultListModel& model, SyncRunState& state, const Session& main,
                 SessionPool& pool, int extra);

    // Throws RunAborted when the window was closed meanwhile, once every
    // helper has ended and every unfinished upload has been cut off and
    // removed.
    Result run();

private:
    ResultListModel& model_;
    SyncRunState& state_;
    const Session& main_;
    SessionPool& pool_;
    const int extra_;
};
