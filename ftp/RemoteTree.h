#pragma once

#include "ftp/Session.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

// The queue of remote listing patterns of one walk: ordered, positions from 1,
// with a constant-time membership test.
class FolderQueue {
public:
    void clear();
    void append(const QString& pattern);
    int count() const;
    const QString& item(int position) const; // position counted from 1
    bool contains(const QString& pattern) const;

private:
    QStringList items_;
    QSet<QString> index_;
};

// Lists every file below the queued patterns, breadth first, over the session.
// The caller has put the root pattern at position 1 of the queue; the walk
// appends one pattern per subfolder found and lists the queue from
// nextPosition to its end. Paths and 64-bit sizes are appended to the lists.
void ListRemoteTree(const Session& session, FolderQueue& queue, const QString& pattern,
                    QStringList& remotePaths, QList<qint64>& remoteSizes, int nextPosition);

// True when the queue holds exactly this pattern.
bool IsQueued(const FolderQueue& queue, const QString& pattern);
