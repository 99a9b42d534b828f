#pragma once

#include "cli/CommandOptions.h"
#include "compare/ResultListModel.h"
#include "compare/RunHost.h"
#include "compare/RunProgress.h"
#include "ftp/RemoteTree.h"
#include "ftp/Session.h"
#include "ftp/SessionPool.h"

// The compare and sync runs without a window: the box texts are the resolved
// command-line settings, the result list is a plain model the command prints,
// the progress line goes to the terminal, and the pointer and display options
// have nothing to show.
class ConsoleHost : public RunHost {
public:
    explicit ConsoleHost(const CommandOptions& options);

    QString hostNameText() const override { return options_.hostName; }
    QString portText() const override { return options_.port; }
    QString userNameText() const override { return options_.userName; }
    QString passwordText() const override { return options_.password; }
    QString remoteFolderText() const override { return options_.remoteFolder; }
    QString localFolderText() const override { return options_.localFolder; }

    ResultListModel& resultList() override { return model_; }
    void recreateColumns() override;
    void makeRowVisible(int) override {}
    void setListOption(bool) override {}

    FolderQueue& folderQueue() override { return queue_; }
    Session& session() override { return session_; }
    int transfers() const override { return options_.transfers; }
    CompareRules compareRules() const override { return options_.rules; }
    // Notes go to standard error with the other messages, but do not count as
    // a problem of the compare.
    void compareNote(const QString& text) override;
    SessionPool* sessionPool() override { return &pool_; }

    RunProgress* progress() override { return &progress_; }

    bool isBusy() const override { return busy_; }
    void setBusy(bool busy) override { busy_ = busy; }
    void setHourglass(bool) override {}

private:
    CommandOptions options_;
    ResultListModel model_;
    RunProgress progress_;
    FolderQueue queue_;
    // Closed when the command ends.
    Session session_;
    // The compare's extra sessions serve the sync after it.
    SessionPool pool_{SessionPool::Keep::Sessions};
    bool busy_ = false;
};
