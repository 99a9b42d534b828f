#pragma once

#include <QString>

// Where the work on one row of a sync run shows itself. The one-at-a-time run
// hands everything straight to the window; a helper thread of a run over
// several sessions passes it on to the user-interface thread, which alone
// touches the list and shows boxes.
class RowSink {
public:
    virtual ~RowSink() = default;
    // The row's action text.
    virtual void setAction(int row, const QString& text) = 0;
    // A plain message box.
    virtual void message(const QString& text) = 0;
    // The run's error report for a failed statement.
    virtual void report(const QString& description, int line) = 0;
    // Called between the steps of an upload so that the window keeps working;
    // throws RunAborted once the window has been closed.
    virtual void yield() = 0;
};
