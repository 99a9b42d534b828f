#pragma once

#include <QObject>
#include <QString>

#include <cstdio>

class RunProgress;

// The progress line of a run on a terminal, rewritten in place: the same text
// the window shows (see compare/RunProgress.h). A run's last word stays on a
// line of its own. Silent when told the output is not a terminal.
class ConsoleProgress : public QObject {
    Q_OBJECT
public:
    ConsoleProgress(RunProgress& progress, std::FILE* out, bool enabled);

    // Wipes the line, so that other output starts at the left margin; the
    // next change draws it again.
    void clearLine();

    // A sync run's line by rows, "[2/4] f.bin 50% | 10.0 MiB of 30.0 MiB |
    // 5.0 MiB/s | 0:04 left". No longer drawn: the terminal shows the
    // window's text.
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
    void draw(const QString& text);
    void keep(const QString& text);

    std::FILE* out_;
    bool enabled_;
    bool drawn_ = false;
};
