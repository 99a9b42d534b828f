#pragma once

#include "core/PathTable.h"
#include "ftp/Session.h"

class SessionPool;

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

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

// What a walk of the remote tree could not see.
struct RemoteWalkGaps {
    struct Gap {
        QString folder; // ends with "/"
        Failure failure;
        // The first line of the folder's listing that no parser could read,
        // when that is what is missing.
        QByteArray unreadableLine;
    };
    // Folders the server would not list (a refusal, a name it cannot take)
    // and folders whose listing had lines no parser reads: what lies in them
    // is not known. The walk went on with the other folders.
    QList<Gap> folders;
    // A folder whose listing kept failing on a lost connection: the walk
    // stopped there, and the lists hold only part of the tree.
    std::optional<Gap> lost;

    bool isEmpty() const { return folders.isEmpty() && !lost; }
};

// What a listing told of a remote file beyond its path and size.
struct RemoteFileFacts {
    // Seconds since 1970 in UTC, as exact as `precision` says.
    qint64 modified = 0;
    TimePrecision precision = TimePrecision::None;
    bool link = false;
};

// Told after each folder's listing has been taken in: that folder's path
// (ending in "/"), how many folders the walk has taken in, and how many paths
// the list now holds.
using RemoteWalkProgress = std::function<void(const QString& folder, int folders, qsizetype files)>;

// Lists every file below the queued patterns, breadth first, over the session.
// The caller has put the root pattern at position 1 of the queue; the walk
// appends one pattern per subfolder found and lists the queue from
// nextPosition to its end. Paths and 64-bit sizes are appended to the lists,
// and, when a list for them is given, what else the listings told. What the
// walk could not see goes into *gaps: a remote folder that does
// not exist lists as empty, one the server refuses to list is a gap.
void ListRemoteTree(const Session& session, FolderQueue& queue, const QString& pattern,
                    PathTable& remotePaths, QList<qint64>& remoteSizes, int nextPosition,
                    QList<RemoteFileFacts>* remoteFacts = nullptr, RemoteWalkGaps* gaps = nullptr,
                    const RemoteWalkProgress& progress = {});

// The same walk with up to `transfers` sessions listing folders at once: the
// session and up to transfers - 1 of the pool's, logged in with its settings
// (see ListingPrefetcher for when they join). The queue and the lists come
// out exactly as the walk over the one session leaves them, and with
// transfers <= 1 it is that walk. Without a pool the walk has one of its own
// for its length. While a listing is awaited, whileWaiting is called every few
// milliseconds on this thread, and once after each folder is taken in (an
// exception from it ends the walk). The session is used from another thread
// meanwhile, so nothing else may use it until this returns.
void ListRemoteTree(const Session& session, FolderQueue& queue, const QString& pattern,
                    PathTable& remotePaths, QList<qint64>& remoteSizes, int nextPosition,
                    int transfers, const std::function<void()>& whileWaiting,
                    QList<RemoteFileFacts>* remoteFacts = nullptr, RemoteWalkGaps* gaps = nullptr,
                    const RemoteWalkProgress& progress = {}, SessionPool* pool = nullptr);

// True when the queue holds exactly this pattern.
bool IsQueued(const FolderQueue& queue, const QString& pattern);
