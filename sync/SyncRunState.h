#pragma once

#include <QHash>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <mutex>

// What the rows of one sync run learn about the server and share, whichever
// session carries them out: the folders already created, and whether the
// server keeps renamed files. Safe to use from several threads at once.
class SyncRunState {
public:
    // Claims a folder level for creation. True when the caller is to create
    // it now and then call folderCreated(); false when it was created earlier
    // in the run. While another thread is creating it, waits until that has
    // been answered, so that nothing is put into a folder before its MKD came
    // back.
    bool claimFolder(const QString& level);
    // The level has been asked for (refused or not: a refusal usually means
    // that it exists); also after a creation that was not claimed.
    void folderCreated(const QString& level);

    // Whether each uploaded file is to carry its local modification time, for
    // rules that compare times.
    bool stampsTimes() const { return stampsTimes_.load(); }
    void setStampsTimes(bool on) { stampsTimes_.store(on); }

    bool renamesRefused() const { return renamesRefused_.load(); }
    void setRenamesRefused() { renamesRefused_.store(true); }

private:
    enum class Folder { Creating, Created };
    std::mutex mutex_;
    std::condition_variable answered_;
    QHash<QString, Folder> folders_;
    std::atomic<bool> renamesRefused_ = false;
    std::atomic<bool> stampsTimes_ = false;
};
