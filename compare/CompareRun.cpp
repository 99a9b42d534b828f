#include "compare/CompareRun.h"

#include "localfs/AddFolder.h"
#include "compare/Compare.h"
#include "app/core/ErrorTrap.h"
#include "app/core/MessageSeam.h"
#include "ftp/RemoteTree.h"
#include "compare/ResultListModel.h"
#include "compare/RunHost.h"
#include "ftp/Session.h"
#include "ftp/SessionGlobals.h"
#include "app/core/UiYield.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

namespace {

const QString kDeleteAction = QStringLiteral(" could be deleted");
const QString kUploadAction = QStringLiteral(" could be uploaded to");
const QString kOverwriteAction = QStringLiteral(" could be overwriten");

// How long rows may wait in a batch before the list is told about them: one
// insertion per batch keeps a view from relaying itself out 100,000 times,
// while the user still sees the list grow.
constexpr int kRowBatchMs = 15;
// A view takes time per announced row too, so a batch also stays short enough
// to be announced without a noticeable pause.
constexpr qsizetype kRowBatchMax = 4096;

// Back to idle on every way out, also when the closed window unwinds the run.
class BusyScope {
public:
    explicit BusyScope(RunHost& host) : host_(host) {}
    ~BusyScope() {
        host_.setHourglass(false);
        host_.setBusy(false);
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    RunHost& host_;
};

// Adds the rows of one pass in batches on a time budget, so that the list
// follows the growth and the window stays responsive.
class RowFiller {
public:
    RowFiller(RunHost& host, QString action) : host_(host), action_(std::move(action)) {
        sinceFlush_.start();
    }

    void add(const QString& source, const QString& destination = {}) {
        sources_.append(source);
        destinations_.append(destination);
        if (sources_.size() >= kRowBatchMax || sinceFlush_.elapsed() >= kRowBatchMs)
            flush();
        UiYield::processPending();
    }

    void flush() {
        sinceFlush_.start();
        if (sources_.isEmpty())
            return;
        const int first = host_.resultList().addRows(sources_, action_, destinations_);
        host_.makeRowVisible(first + int(sources_.size()) - 1);
        sources_.clear();
        destinations_.clear();
    }

private:
    RunHost& host_;
    QString action_;
    QStringList sources_;
    QStringList destinations_;
    QElapsedTimer sinceFlush_;
};

QString withTrailing(const QString& folder, QChar separator) {
    return folder.endsWith(separator) ? folder : folder + separator;
}

bool isReadableFolder(const QString& folder) {
    const QFileInfo info(folder);
    return info.isDir() && info.isReadable() && info.isExecutable();
}

} // namespace

void AddProposedRows(RunHost& host, ErrorTrap& trap, const CompareLists& lists,
                     const QString& localFolder, const QString& remoteFolder) {
    const QChar separator = QDir::separator();
    const auto destinationOf = [&](const QString& localPath) {
        QString below = trimRoot(localPath, localFolder);
        below.replace(separator, u'/');
        return remoteFolder + below;
    };

    QStringList candidates;
    trap.at(136, [&] { candidates = FindDeleteCandidates(lists.localPaths, lists.remotePaths); });
    trap.at(138, [&] {
        RowFiller rows(host, kDeleteAction);
        for (const QString& r : std::as_const(candidates))
            rows.add(r);
        rows.flush();
    });

    candidates.clear();
    trap.at(140, [&] { candidates = FindUploadCandidates(lists.localPaths, lists.remotePaths); });
    trap.at(142, [&] {
        RowFiller rows(host, kUploadAction);
        for (const QString& l : std::as_const(candidates))
            rows.add(l, destinationOf(l));
        rows.flush();
    });

    candidates.clear();
    trap.at(144, [&] {
        candidates = FindOverwriteCandidates(lists.localPaths, lists.remotePaths, lists.localSizes,
                                             lists.remoteSizes);
    });
    trap.at(146, [&] {
        RowFiller rows(host, kOverwriteAction);
        for (const QString& l : std::as_const(candidates))
            rows.add(l, destinationOf(l));
        rows.flush();
    });
}

void RunCompare(RunHost& host) {
    if (host.isBusy())
        return;
    host.setBusy(true);
    BusyScope idleAtEnd(host);

    ErrorTrap trap(QStringLiteral("Gantrel2021/08/31.Form1.PushButton5_Click"));
    const QChar separator = QDir::separator();

    trap.at(100, [&] { host.setHourglass(true); });
    trap.at(102, [&] { host.resultList().clear(); });

    // The folders as typed, each taken as ending with its separator ("/www"
    // is the folder /www). They are read once: every row then describes the
    // two trees that were actually compared, whatever is typed meanwhile.
    QString typedLocalFolder;
    QString localFolder;
    QString remoteFolder;
    bool missingFolder = true;
    trap.at(104, [&] {
        typedLocalFolder = host.localFolderText();
        localFolder = typedLocalFolder;
        remoteFolder = host.remoteFolderText();
        missingFolder = localFolder.isEmpty() || remoteFolder.isEmpty();
    });
    if (missingFolder) {
        trap.at(106, [&] {
            MessageSeam::plain(QStringLiteral("You forgot to input local/remote folder."));
        });
        return;
    }
    trap.at(108, [&] {
        localFolder = withTrailing(localFolder, separator);
        remoteFolder = withTrailing(remoteFolder, u'/');
    });

    // A mistyped or unmounted local folder would otherwise read as an empty
    // tree and propose deleting every remote file.
    const auto refuseLocalFolder = [&] {
        trap.at(110, [&] {
            MessageSeam::plain(
                QStringLiteral("The local folder does not exist or cannot be read: ") +
                typedLocalFolder);
        });
    };
    bool localReadable = false;
    trap.at(110, [&] { localReadable = isReadableFolder(localFolder); });
    if (!localReadable) {
        refuseLocalFolder();
        return;
    }

    CompareLists lists;

    QStringList folders{localFolder};
    trap.at(112, [&] { GetSubDirectories2016(folders, true); });
    if (folders.isEmpty() || folders.constFirst() != localFolder) {
        refuseLocalFolder();
        return;
    }

    for (const QString& folder : std::as_const(folders)) {
        QStringList names;
        if (!trap.at(114, [&] { names = GetFileList(folder, QStringLiteral("*.*")); }))
            continue;
        for (const QString& name : std::as_const(names)) {
            if (name.startsWith(u'~'))
                continue;
            const QString path = folder + name;
            lists.localPaths.append(path);
            qint64 size = 0;
            trap.at(116, [&] { size = QFileInfo(path).size(); });
            lists.localSizes.append(size);
            UiYield::processPending();
        }
    }

    // The previous run's connection (or the connection test's) would otherwise
    // stay logged in until the program ends; servers limit those per client.
    trap.at(118, [&] {
        if (hConnect)
            InternetCloseHandle(hConnect);
        if (hInternet)
            InternetCloseHandle(hInternet);
    });

    trap.at(120, [&] { hInternet = OpenInternetSession(); });
    if (!hInternet)
        return;

    hConnect = 0;
    trap.at(122, [&] {
        hConnect = ConnectFtp(hInternet, host.hostNameText(), host.portText(), host.userNameText(),
                              host.passwordText());
    });
    if (!hConnect) {
        trap.at(124, [&] { MessageSeam::plain(QStringLiteral("Could not connect.")); });
        trap.at(126, [&] { InternetCloseHandle(hInternet); });
        return;
    }

    trap.at(128, [&] { remotePattern = remoteFolder + QStringLiteral("*.*"); });
    trap.at(130, [&] {
        host.folderQueue().clear();
        host.folderQueue().append(remotePattern);
    });
    trap.at(132, [&] {
        ListRemoteTree(host.folderQueue(), remotePattern, lists.remotePaths, lists.remoteSizes, 2);
    });
    trap.at(134, [&] { host.recreateColumns(); });

    AddProposedRows(host, trap, lists, localFolder, remoteFolder);

    trap.at(148, [&] { host.setListOption(true); });
    trap.at(150, [&] { host.resultList().setAllChecked(true); });
    trap.at(152, [&] {
        const int rowCount = host.resultList().rowCount();
        if (rowCount == 0)
            MessageSeam::plain(
                QStringLiteral("No synchronization necessary -- folders are identical"));
        else
            host.makeRowVisible(rowCount - 1);
    });
}
