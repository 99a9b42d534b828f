#pragma once

#include "ftp/Session.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

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

// What a listing told of a remote file beyond its path and size.
struct RemoteFileFacts {
    // Seconds since 1970 in UTC, as exact as `precision` says.
    qint64 modified = 0;
    TimePrecision precision = TimePrecision::None;
    bool link = false;
};

// Lists every file below the queued patterns, breadth first, over the session.
// The caller has put the root pattern at position 1 of the queue; the walk
// appends one pattern per subfolder found and lists the queue from
// nextPosition to its end. Paths and 64-bit sizes are appended to the lists,
// and, when a list for them is given, what else the listings told.
void ListRemoteTree(const Session& session, FolderQueue& queue, const QString& pattern,
                    QStringList& remotePaths, QList<qint64>& remoteSizes, int nextPosition,
                    QList<RemoteFileFacts>* remoteFacts = nullptr);

// The same walk with up to `transfers` sessions listing folders at once: the
// session and transfers - 1 more logged in with its settings, for the length
// of the walk. The queue and the lists come out exactly as the walk over the
// one session leaves them, and with transfers <= 1 it is that walk. While a
// listing is awaited, whileWaiting is called every few milliseconds on this
// thread, and once after each folder is taken in (an exception from it ends
// the walk). The session is used from
// another thread meanwhile, so nothing else may use it until this returns.
void ListRemoteTree(const Session& session, FolderQueue& queue, const QString& pattern,
                    QStringList& remotePaths, QList<qint64>& remoteSizes, int nextPosition,
                    int transfers, const std::function<void()>& whileWaiting,
                    QList<RemoteFileFacts>* remoteFacts = nullptr);

// True when the queue holds exactly this pattern.
bool IsQueued(const FolderQueue& queue, const QString& pattern);
