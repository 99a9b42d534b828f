#include "sync/SyncRunState.h"

bool SyncRunState::claimFolder(const QString& level) {
    std::unique_lock lock(mutex_);
    answered_.wait(lock, [&] {
        const auto it = folders_.constFind(level);
        return it == folders_.constEnd() || *it == Folder::Created;
    });
    if (folders_.contains(level))
        return false;
    folders_.insert(level, Folder::Creating);
    return true;
}

void SyncRunState::folderCreated(const QString& level) {
    {
        const std::lock_guard lock(mutex_);
        folders_.insert(level, Folder::Created);
    }
    answered_.notify_all();
}
