#include "RemoteTree.h"

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

// Placeholder; the real walk replaces it.
void ListRemoteTree(FolderQueue&, const QString&, QStringList&, QList<qint64>&, int) {}
