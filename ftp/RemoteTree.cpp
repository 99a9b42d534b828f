#include "ftp/RemoteTree.h"

#include "core/VbError.h"
#include "ftp/ListingPrefetcher.h"
#include "ftp/RemoteNames.h"
#include "ftp/SessionPool.h"

#include <limits>
#include <optional>

namespace {

// A server may present folder cycles (links back to an ancestor); every turn
// round a cycle makes a longer path, so bounding depth and path length ends
// the walk. The folder cap ends it even when a cycle branches.
constexpr int kMaxFolders = 100000;
constexpr int kMaxDepth = 128;
constexpr int kMaxPatternLength = 4096;

QString baseOf(const QString& pattern) {
    return splitSearchPattern(pattern).folder;
}

// Names that cannot stand for a real subfolder: descending into them would
// revisit a folder or build a path that means something else.
bool isWalkableFolderName(const QString& name) {
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/'));
}

void queueSubfolder(FolderQueue& queue, const QString& rootBase, const QString& base,
                    const QString& name) {
    if (!isWalkableFolderName(name))
        return;
    const QString sub = base + name + QStringLiteral("/*.*");
    if (sub.size() > kMaxPatternLength)
        return;
    if (sub.mid(rootBase.size()).count(QLatin1Char('/')) > kMaxDepth)
        return;
    if (IsQueued(queue, sub))
        return;
    if (queue.count() >= kMaxFolders)
        throw VbError::overflow();
    queue.append(sub);
}

// Notes what a listing leaves unseen; false when the walk cannot go on.
bool noteGaps(const QString& pattern, const Result<RemoteListing>& listing, RemoteWalkGaps& gaps) {
    const QString folder = baseOf(pattern);
    if (listing) {
        if (!listing->unreadable.isEmpty())
            gaps.folders.append({folder,
                                 {FailureKind::Protocol, 0,
                                  QStringLiteral("a line of its listing could not be read")},
                                 listing->unreadable.first()});
        return true;
    }
    switch (listing.failure().kind) {
    case FailureKind::Refused:
    case FailureKind::BadName:
    case FailureKind::Protocol:
        gaps.folders.append({folder, listing.failure(), {}});
        return true;
    default:
        gaps.lost = RemoteWalkGaps::Gap{folder, listing.failure(), {}};
        return false;
    }
}

// A remote folder that is not there (or is no folder) lists as nothing, as
// its files are all to be uploaded; only a folder that its parent lists as
// one is refused.
void forgiveMissingRoot(const Session& session, const QString& pattern, RemoteWalkGaps& gaps) {
    const QString root = baseOf(pattern);
    if (gaps.folders.isEmpty() || gaps.folders.first().folder != root ||
        gaps.folders.first().failure.kind != FailureKind::Refused)
        return;
    const auto entry = session.entryOf(root);
    if (entry && (!entry->has_value() || ((*entry)->kind != RemoteEntryKind::Directory &&
                                          (*entry)->kind != RemoteEntryKind::Link)))
        gaps.folders.removeFirst();
}

// Takes one folder's entries into the walk: subfolders into the queue, files
// into the lists. Whichever session fetched the listing, the walk comes out
// the same. False when the walk cannot go on.
bool takeListing(FolderQueue& queue, const QString& rootBase, const QString& pattern,
                 const Result<RemoteListing>& listing, PathTable& remotePaths,
                 QList<qint64>& remoteSizes, QList<RemoteFileFacts>* remoteFacts,
                 RemoteWalkGaps& gaps) {
    if (!noteGaps(pattern, listing, gaps))
        return false;
    if (!listing)
        return true;
    const QString base = baseOf(pattern);
    for (const RemoteEntry& entry : listing->entries) {
        const QString name = decodeRemoteName(entry.name);
        if (entry.kind == RemoteEntryKind::Directory) {
            queueSubfolder(queue, rootBase, base, name);
        } else {
            // A link is matched by name like a file and never walked: a linked
            // folder may lead outside the remote folder. Its listed size says
            // nothing about the file it stands for, so it counts as no smaller
            // than any local namesake and is never proposed for an overwrite
            // on its own account.
            remotePaths.append(base, name);
            remoteSizes.append(entry.kind == RemoteEntryKind::Link
                                   ? std::numeric_limits<qint64>::max()
                                   : entry.size);
            if (remoteFacts)
                remoteFacts->append(
                    {entry.modified.isValid() ? entry.modified.toSecsSinceEpoch() : 0,
                     entry.precision, entry.kind == RemoteEntryKind::Link});
        }
    }
    return true;
}

void walkWithPrefetcher(const Session& session, FolderQueue& queue, const QString& pattern,
                        PathTable& remotePaths, QList<qint64>& remoteSizes, int nextPosition,
                        int transfers, const std::function<void()>& whileWaiting,
                        QList<RemoteFileFacts>* remoteFacts, RemoteWalkGaps& gaps,
                        const RemoteWalkProgress& progress, SessionPool& pool) {
    const QString rootBase = baseOf(pattern);
    ListingPrefetcher prefetcher(session, pool, transfers - 1,
                                 remoteFacts ? ListedTimes::Wanted : ListedTimes::NotNeeded);
    // Listing i of the prefetcher is the pattern for i = 0, then queue
    // position nextPosition + i - 1: the order in which the walk lists them.
    prefetcher.add(pattern);
    int fed = nextPosition;
    const auto feed = [&] {
        for (; fed >= 1 && fed <= queue.count(); ++fed)
            prefetcher.add(queue.item(fed));
    };
    feed();
    for (int index = 0; index < prefetcher.count(); ++index) {
        const QString current = index == 0 ? pattern : queue.item(nextPosition + index - 1);
        if (!takeListing(queue, rootBase, current, prefetcher.take(index, whileWaiting),
                         remotePaths, remoteSizes, remoteFacts, gaps))
            return;
        if (progress)
            progress(baseOf(current), index + 1, remotePaths.size());
        feed();
        // Listings that each come within a wait step never wait long enough
        // to let the window work; a walk of a thousand of them would freeze
        // it for seconds.
        if (whileWaiting)
            whileWaiting();
    }
}

} // namespace

void FolderQueue::clear() {
    items_.clear();
    index_.clear();
}
void FolderQueue::append(const QString& pattern) {
    items_.append(pattern);
    index_.insert(pattern);
}
int FolderQueue::count() const {
    return int(items_.size());
}
const QString& FolderQueue::item(int position) const {
    return items_.at(position - 1);
}
bool FolderQueue::contains(const QString& pattern) const {
    return index_.contains(pattern);
}

bool IsQueued(const FolderQueue& queue, const QString& pattern) {
    return queue.contains(pattern);
}

void ListRemoteTree(const Session& session, FolderQueue& queue, const QString& pattern,
                    PathTable& remotePaths, QList<qint64>& remoteSizes, int nextPosition,
                    QList<RemoteFileFacts>* remoteFacts, RemoteWalkGaps* gaps,
                    const RemoteWalkProgress& progress) {
    RemoteWalkGaps seen;
    // Depth is counted from the folder the walk started in.
    const QString rootBase = baseOf(pattern);
    QString current = pattern;
    int position = nextPosition;
    for (int folders = 1;; ++folders) {
        const auto listing =
            session.list(current, remoteFacts ? ListedTimes::Wanted : ListedTimes::NotNeeded);
        if (!takeListing(queue, rootBase, current, listing, remotePaths, remoteSizes, remoteFacts,
                         seen))
            break;
        if (progress)
            progress(baseOf(current), folders, remotePaths.size());
        if (position < 1 || queue.count() < position)
            break;
        current = queue.item(position);
        ++position;
    }
    forgiveMissingRoot(session, pattern, seen);
    if (gaps)
        *gaps = std::move(seen);
}

void ListRemoteTree(const Session& session, FolderQueue& queue, const QString& pattern,
                    PathTable& remotePaths, QList<qint64>& remoteSizes, int nextPosition,
                    int transfers, const std::function<void()>& whileWaiting,
                    QList<RemoteFileFacts>* remoteFacts, RemoteWalkGaps* gaps,
                    const RemoteWalkProgress& progress, SessionPool* pool) {
    if (transfers <= 1) {
        ListRemoteTree(session, queue, pattern, remotePaths, remoteSizes, nextPosition, remoteFacts,
                       gaps, progress);
        return;
    }
    RemoteWalkGaps seen;
    {
        // Sessions of a pool of the walk's own are logged out as the walk
        // ends; log-ins still under way are cut off.
        std::optional<SessionPool> own;
        if (!pool) {
            own.emplace();
            own->useSettings(session.settings());
            pool = &*own;
        }
        walkWithPrefetcher(session, queue, pattern, remotePaths, remoteSizes, nextPosition,
                           transfers, whileWaiting, remoteFacts, seen, progress, *pool);
    }
    // The session is this thread's again once the prefetcher has gone.
    forgiveMissingRoot(session, pattern, seen);
    if (gaps)
        *gaps = std::move(seen);
}
