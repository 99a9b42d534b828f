#pragma once

#include "compare/ResultListModel.h"
#include "compare/RunHost.h"
#include "ftp/RemoteTree.h"
#include "ftp/SessionPool.h"

#include <QList>
#include <QString>

#include <memory>

// A window stand-in for the compare and sync runs: the box texts are plain
// fields a test sets, and everything the run does to the window is recorded.
class FakeHost : public RunHost {
public:
    QString hostName = QStringLiteral("127.0.0.1");
    QString port = QStringLiteral("21");
    QString userName;
    QString password;
    QString remoteFolder = QStringLiteral("/");
    QString localFolder;

    ResultListModel model;
    FolderQueue queue;
    Session mainSession;
    int transferCount = 1;
    CompareRules rules;
    // Set, the host keeps extra sessions between runs as the window does.
    std::unique_ptr<SessionPool> pool;
    bool busy = false;
    bool hourglass = false;
    int columnsRecreated = 0;
    bool listOption = false;
    QList<int> visibleRows;

    QString hostNameText() const override { return hostName; }
    QString portText() const override { return port; }
    QString userNameText() const override { return userName; }
    QString passwordText() const override { return password; }
    QString remoteFolderText() const override { return remoteFolder; }
    QString localFolderText() const override { return localFolder; }
    ResultListModel& resultList() override { return model; }
    void recreateColumns() override {
        ++columnsRecreated;
        model.setColumns(
            {QStringLiteral("Source"), QStringLiteral("Action"), QStringLiteral("Destination")});
    }
    void makeRowVisible(int row) override { visibleRows.append(row); }
    void setListOption(bool on) override { listOption = on; }
    FolderQueue& folderQueue() override { return queue; }
    Session& session() override { return mainSession; }
    int transfers() const override { return transferCount; }
    CompareRules compareRules() const override { return rules; }
    SessionPool* sessionPool() override { return pool.get(); }
    bool isBusy() const override { return busy; }
    void setBusy(bool b) override { busy = b; }
    void setHourglass(bool on) override { hourglass = on; }
};
