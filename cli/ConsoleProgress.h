#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>

#include <cstdio>

class ResultListModel;

// The progress of a sync run as one line on a terminal, rewritten in place:
// the current row's file and percentage, then the whole run's rows, bytes,
// speed and time left. It follows the texts the sync run writes into the
// action column, so the run itself knows nothing of it. Silent when told the
// output is not a terminal.
class ConsoleProgress : public QObject {
    Q_OBJECT
public:
    // Takes the rows and local file sizes from the list as it is now.
    ConsoleProgress(ResultListModel& model, std::FILE* out, bool enabled);

    // Wipes the line, so that other output starts at the left margin; the
    // next change draws it again.
    void clearLine();

    struct Snapshot {
        int row = 0; // counted from 1
        int rows = 0;
        QString file; // the current row's file name
        int percent = 0;
        qint64 bytesDone = 0;
        qint64 bytesTotal = 0;
        qint64 elapsedMs = 0;
    };
    // The text of the line for a moment of the run.
    static QString line(const Snapshot& s);
    static QString formatBytes(qint64 bytes);
    static QString formatDuration(qint64 seconds);

private:
    void onActionChanged(int row);
    void draw(bool force);

    ResultListModel& model_;
    std::FILE* out_;
    bool enabled_;
    bool drawn_ = false;
    QList<qint64> sizes_;
    qint64 total_ = 0;
    qint64 finishedBytes_ = 0;
    Snapshot now_;
    QElapsedTimer run_;
    QElapsedTimer sinceDraw_;
};
