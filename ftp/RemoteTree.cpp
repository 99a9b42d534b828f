#include "ftp/RemoteTree.h"

#include "app/core/VbError.h"

#include <limits>

namespace {

// A server may present folder cycles (links back to an ancestor); every turn
// round a cycle makes a longer path, so bounding depth and path length ends
// the walk. The folder cap ends it even when a cycle branches.
constexpr int kMaxFolders = 100000;
constexpr int kMaxDepth = 128;
constexpr int kMaxPatternLength = 4096;

QString baseOf(const QString& pattern) {
    const qsizetype slash = pattern.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : pattern.left(slash + 1);
}

QString entryName(const WIN32_FIND_DATAA& data) {
    const qsizetype nul = data.cFileName.indexOf(QChar(0));
    return nul < 0 ? data.cFileName : data.cFileName.left(nul);
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

void listOnePattern(const Session& session, FolderQueue& queue, const QString& rootBase,
                    const QString& pattern, QStringList& remotePaths, QList<qint64>& remoteSizes) {
    WIN32_FIND_DATAA data;
    const HINTERNET find = session.findFirstFile(pattern, &data);
    if (find == 0)
        return;
    const QString base = baseOf(pattern);
    // The find handle is closed before anything else is listed, also when
    // the walk ends early with an error.
    struct Closer {
        HINTERNET h;
        ~Closer() { InternetCloseHandle(h); }
    } closer{find};
    do {
        const QString name = entryName(data);
        if (data.isDirectory()) {
            queueSubfolder(queue, rootBase, base, name);
        } else {
            // A link is matched by name like a file and never walked: a linked
            // folder may lead outside the remote folder. Its listed size says
            // nothing about the file it stands for, so it counts as no smaller
            // than any local namesake and is never proposed for an overwrite
            // on its own account.
            remotePaths.append(base + name);
            remoteSizes.append(data.isLink() ? std::numeric_limits<qint64>::max()
                                             : data.fileSize());
        }
    } while (InternetFindNextFileA(find, &data));
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
                    QStringList& remotePaths, QList<qint64>& remoteSizes, int nextPosition) {
    // Depth is counted from the folder the walk started in.
    const QString rootBase = baseOf(pattern);
    QString current = pattern;
    int position = nextPosition;
    for (;;) {
        listOnePattern(session, queue, rootBase, current, remotePaths, remoteSizes);
        if (position < 1 || queue.count() < position)
            break;
        current = queue.item(position);
        ++position;
    }
}
