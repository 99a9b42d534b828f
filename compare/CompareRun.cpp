#include "compare/CompareRun.h"

#include "compare/BusyScope.h"
#include "compare/Compare.h"
#include "compare/ResultListModel.h"
#include "compare/RowFiller.h"
#include "compare/RuleCompare.h"
#include "compare/RunHost.h"
#include "compare/RunProgress.h"
#include "core/ErrorTrap.h"
#include "core/MessageSeam.h"
#include "core/NameCodec.h"
#include "core/UiYield.h"
#include "core/VbError.h"
#include "ftp/FtpTranscript.h"
#include "ftp/RemoteTree.h"
#include "ftp/SessionPool.h"
#include "localfs/AddFolder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSet>

#include <algorithm>

namespace {

// The statements of the compare run as its error report numbers them.
namespace At {
const QString location = ErrorTrap::locationOf("Form1", "PushButton5_Click");
constexpr int hourglass = 100;
constexpr int clearList = 102;
constexpr int readFolders = 104;
constexpr int missingFolder = 106;
constexpr int trailingSeparators = 108;
// The check and its refusal share a number.
constexpr int checkLocalFolder = 110;
constexpr int refuseLocalFolder = 110;
constexpr int walkLocalFolders = 112;
constexpr int listLocalFiles = 114;
constexpr int localFileSize = 116;
constexpr int closePreviousSession = 118;
constexpr int openInternet = 120;
constexpr int connect = 122;
constexpr int refused = 124;
constexpr int closeInternet = 126;
constexpr int remotePattern = 128;
constexpr int queueRoot = 130;
constexpr int walkRemoteTree = 132;
constexpr int recreateColumns = 134;
constexpr int findDeletes = 136;
constexpr int addDeletes = 138;
constexpr int findUploads = 140;
constexpr int addUploads = 142;
constexpr int findOverwrites = 144;
constexpr int addOverwrites = 146;
constexpr int listOption = 148;
constexpr int tickAll = 150;
constexpr int result = 152;
} // namespace At

// While it lives, FTP calls of this thread let the window work as they wait
// for the server. A close of the window makes the call under way give up and
// is noted in *closed; the run is to unwind afterwards.
class YieldWhileWaiting {
public:
    explicit YieldWhileWaiting(bool* closed) {
        Session::setWaitCallback([closed] {
            try {
                UiYield::processPending();
                return true;
            } catch (const RunAborted&) {
                *closed = true;
                return false;
            }
        });
    }
    ~YieldWhileWaiting() { Session::setWaitCallback({}); }
    YieldWhileWaiting(const YieldWhileWaiting&) = delete;
    YieldWhileWaiting& operator=(const YieldWhileWaiting&) = delete;
};

// How many unreadable local places the message names; a long list would
// push the message box off the screen.
constexpr qsizetype kUnreadableNamed = 5;

// A local tree of at least this many files has the host's extra sessions log
// in along with the main one.
constexpr qsizetype kManyFiles = 100;

// The first few entries of a list, one a line, and how many more there are.
QString namedList(const QStringList& lines) {
    QString text;
    const qsizetype named = std::min(lines.size(), kUnreadableNamed);
    for (qsizetype i = 0; i < named; ++i)
        text += u'\n' + lines.at(i);
    if (lines.size() > named)
        text += QStringLiteral("\n... and %1 more").arg(lines.size() - named);
    return text;
}

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

    const auto addRows = [&](RowKind kind, const QStringList& sources) {
        RowFiller rows(host, kind);
        for (const QString& source : sources) {
            if (kind == RowKind::Delete) {
                if (!LiesInUnseenFolder(lists, source))
                    rows.add(source);
            } else if (const QString destination = destinationOf(source);
                       !LiesInUnseenFolder(lists, destination)) {
                rows.add(source, destination);
            }
        }
        rows.flush();
    };

    QStringList candidates;
    trap.at(At::findDeletes, [&] {
        if (lists.unreadableLocal.isEmpty())
            candidates = FindDeleteCandidates(lists.localPaths, lists.remotePaths);
    });
    trap.at(At::addDeletes, [&] { addRows(RowKind::Delete, candidates); });

    candidates.clear();
    trap.at(At::findUploads,
            [&] { candidates = FindUploadCandidates(lists.localPaths, lists.remotePaths); });
    trap.at(At::addUploads, [&] { addRows(RowKind::Upload, candidates); });

    candidates.clear();
    trap.at(At::findOverwrites, [&] {
        candidates = FindOverwriteCandidates(lists.localPaths, lists.remotePaths, lists.localSizes,
                                             lists.remoteSizes);
    });
    trap.at(At::addOverwrites, [&] { addRows(RowKind::Overwrite, candidates); });
}

bool LiesInUnseenFolder(const CompareLists& lists, const QString& remotePath) {
    const QSet<QString>& folders = lists.unseenRemote;
    if (folders.isEmpty())
        return false;
    for (qsizetype slash = remotePath.indexOf(u'/'); slash >= 0;
         slash = remotePath.indexOf(u'/', slash + 1)) {
        if (folders.contains(remotePath.left(slash + 1)))
            return true;
    }
    return false;
}

QString UnreadableLocalMessage(const QStringList& unreadable) {
    QString text =
        unreadable.size() == 1
            ? QStringLiteral("A local folder could not be read:")
            : QStringLiteral("%1 local folders could not be read:").arg(unreadable.size());
    QStringList names;
    for (const QString& folder : unreadable)
        names.append(readableName(folder));
    text += namedList(names);
    text += unreadable.size() == 1
                ? QStringLiteral("\n\nNo remote file is proposed for deletion, as the files "
                                 "in it are unknown.")
                : QStringLiteral("\n\nNo remote file is proposed for deletion, as the files "
                                 "in them are unknown.");
    return text;
}

QString UnseenRemoteMessage(const RemoteWalkGaps& gaps) {
    const qsizetype count = gaps.folders.size();
    QString text = count == 1 ? QStringLiteral("A remote folder could not be listed:")
                              : QStringLiteral("%1 remote folders could not be listed:").arg(count);
    QStringList lines;
    for (const RemoteWalkGaps::Gap& gap : gaps.folders) {
        const QString why = gap.unreadableLine.isEmpty()
                                ? gap.failure.describe()
                                : QStringLiteral("a line of its listing could not be read: \"%1\"")
                                      .arg(readableName(decodeNameBytes(gap.unreadableLine)));
        lines.append(readableName(gap.folder) + QStringLiteral(" (") + why + u')');
    }
    text += namedList(lines);
    text += count == 1 ? QStringLiteral("\n\nNothing is proposed for what lies in it, as its "
                                        "files are unknown.")
                       : QStringLiteral("\n\nNothing is proposed for what lies in them, as "
                                        "their files are unknown.");
    return text;
}

QString LostWalkMessage(const RemoteWalkGaps::Gap& lost) {
    return QStringLiteral("The connection to the server failed while listing the remote folder "
                          "%1 (%2).\n\nNothing is proposed, as the remote folder was not seen "
                          "whole. Please compare again.")
        .arg(readableName(lost.folder), lost.failure.describe());
}

CompareRun::CompareRun(RunHost& host) : host_(host), trap_(At::location) {}

CompareRun::~CompareRun() = default;

void RunCompare(RunHost& host) {
    CompareRun(host).run();
}

void CompareRun::run() {
    if (host_.isBusy())
        return;
    BusyScope busy(host_);
    const FtpTranscript::RunScope transcript("compare", host_.connectionSettings(),
                                             host_.remoteFolderText(), host_.localFolderText());
    rules_ = host_.compareRules();
    if (!rules_.isDefault())
        ruleCompare_ = std::make_unique<RuleCompare>(host_, rules_);

    trap_.at(At::hourglass, [&] { host_.setHourglass(true); });
    trap_.at(At::clearList, [&] { host_.resultList().clear(); });
    RunProgress* const progress = host_.progress();
    if (progress)
        progress->compareStarts();
    if (!readFolders() || !walkLocalTree() || !openSession()) {
        // The message has said why; a line of counts would suggest a result.
        if (progress)
            progress->clear();
        return;
    }
    if (ruleCompare_)
        ruleCompare_->beforeRemoteWalk(trap_, lists_);
    const bool seen = walkRemoteTree();
    trap_.at(At::recreateColumns, [&] { host_.recreateColumns(); });
    if (!seen) {
        if (progress)
            progress->clear();
        trap_.at(At::result, [&] { MessageSeam::plain(LostWalkMessage(*remoteGaps_.lost)); });
        return;
    }
    if (ruleCompare_)
        ruleCompare_->addRows(trap_, lists_, localFolder_, remoteFolder_);
    else
        AddProposedRows(host_, trap_, lists_, localFolder_, remoteFolder_);
    finish();
}

bool CompareRun::readFolders() {
    // The folders as typed, each taken as ending with its separator ("/www"
    // is the folder /www). They are read once: every row then describes the
    // two trees that were actually compared, whatever is typed meanwhile.
    bool missingFolder = true;
    trap_.at(At::readFolders, [&] {
        typedLocalFolder_ = host_.localFolderText();
        localFolder_ = typedLocalFolder_;
        remoteFolder_ = host_.remoteFolderText();
        missingFolder = localFolder_.isEmpty() || remoteFolder_.isEmpty();
    });
    if (missingFolder) {
        trap_.at(At::missingFolder, [&] {
            MessageSeam::plain(QStringLiteral("You forgot to input local/remote folder."));
        });
        return false;
    }
    trap_.at(At::trailingSeparators, [&] {
        localFolder_ = withTrailing(localFolder_, QDir::separator());
        remoteFolder_ = withTrailing(remoteFolder_, u'/');
    });

    // A mistyped or unmounted local folder would otherwise read as an empty
    // tree and propose deleting every remote file.
    bool localReadable = false;
    trap_.at(At::checkLocalFolder, [&] { localReadable = isReadableFolder(localFolder_); });
    if (!localReadable)
        refuseLocalFolder();
    return localReadable;
}

void CompareRun::refuseLocalFolder() {
    trap_.at(At::refuseLocalFolder, [&] {
        MessageSeam::plain(QStringLiteral("The local folder does not exist or cannot be read: ") +
                           typedLocalFolder_);
    });
}

bool CompareRun::walkLocalTree() {
    QStringList folders{localFolder_};
    trap_.at(At::walkLocalFolders,
             [&] { GetSubDirectories2016(folders, true, &lists_.unreadableLocal); });
    if (folders.isEmpty() || folders.constFirst() != localFolder_) {
        refuseLocalFolder();
        return false;
    }

    RunProgress* const progress = host_.progress();
    int listed = 0;
    for (const QString& folder : std::as_const(folders)) {
        ++listed;
        QStringList names;
        if (!trap_.at(At::listLocalFiles,
                      [&] { names = GetFileList(folder, QStringLiteral("*.*")); })) {
            lists_.unreadableLocal.append(folder);
            continue;
        }
        for (const QString& name : std::as_const(names)) {
            if (name.startsWith(u'~'))
                continue;
            const QString path = folder + name;
            lists_.localPaths.append(path);
            qint64 size = 0;
            if (rules_.usesTimes()) {
                // The time comes with the size, from the same query.
                LocalFileFacts facts;
                trap_.at(At::localFileSize, [&] { facts = LocalFileStatus(path); });
                size = facts.size;
                lists_.localTimes.append(facts.modified);
            } else {
                trap_.at(At::localFileSize, [&] { size = LocalFileLength(path); });
            }
            lists_.localSizes.append(size);
            UiYield::processPending();
        }
        if (progress)
            progress->listed(folder, listed, lists_.localPaths.size());
    }
    return true;
}

bool CompareRun::openSession() {
    Session& session = host_.session();
    // The previous run's connection (or the connection test's) would otherwise
    // stay logged in until the program ends; servers limit those per client.
    trap_.at(At::closePreviousSession, [&] { session.close(); });

    bool haveInternet = false;
    trap_.at(At::openInternet, [&] { haveInternet = session.openInternet(); });
    if (!haveInternet)
        return false;

    // The host's extra sessions serve every run with the same settings;
    // those of other settings are logged out.
    ConnectionSettings settings;
    trap_.at(At::connect, [&] { settings = host_.connectionSettings(); });
    SessionPool* const pool = host_.sessionPool();
    if (pool) {
        pool->useSettings(settings);
        if (host_.transfers() <= 1)
            pool->close();
        // A tree this large keeps several sessions busy, in its walk or in
        // the sync after it, for longer than a log-in takes: theirs go side
        // by side with the main one's, so that a server slow to log in costs
        // that wait once.
        else if (lists_.localPaths.size() >= kManyFiles)
            pool->grow(host_.transfers() - 1);
    }

    // The log-in takes several round trips, on a slow line seconds; a server
    // that does not answer holds it until a time-out. The window works
    // meanwhile, and a close ends the log-in at once.
    bool closed = false;
    bool connected = false;
    {
        const YieldWhileWaiting yielding(&closed);
        trap_.at(At::connect, [&] { connected = session.connect(settings); });
    }
    if (closed)
        throw RunAborted{};
    if (!connected) {
        if (pool)
            pool->close();
        trap_.at(At::refused, [&] { MessageSeam::plain(QStringLiteral("Could not connect.")); });
        trap_.at(At::closeInternet, [&] { session.closeInternet(); });
    }
    return connected;
}

bool CompareRun::walkRemoteTree() {
    trap_.at(At::remotePattern, [&] { remotePattern_ = remoteFolder_ + QStringLiteral("*.*"); });
    trap_.at(At::queueRoot, [&] {
        host_.folderQueue().clear();
        host_.folderQueue().append(remotePattern_);
    });
    RunProgress* const progress = host_.progress();
    const auto listed = [progress](const QString& folder, int folders, qsizetype files) {
        if (progress)
            progress->listed(folder, folders, files);
    };
    // With more than one session the listings come from other threads while
    // this one waits, and the window stays responsive meanwhile.
    trap_.at(At::walkRemoteTree, [&] {
        ListRemoteTree(
            host_.session(), host_.folderQueue(), remotePattern_, lists_.remotePaths,
            lists_.remoteSizes, 2, host_.transfers(), [] { UiYield::processPending(); },
            ruleCompare_ ? &lists_.remoteFacts : nullptr, &remoteGaps_, listed,
            host_.sessionPool());
    });
    for (const RemoteWalkGaps::Gap& gap : std::as_const(remoteGaps_.folders))
        lists_.unseenRemote.insert(gap.folder);
    return !remoteGaps_.lost;
}

void CompareRun::finish() {
    if (RunProgress* const progress = host_.progress())
        progress->compareEnds(lists_.localPaths.size(), lists_.remotePaths.size(),
                              host_.resultList().rowCount());
    if (ruleCompare_) {
        for (const QString& note : ruleCompare_->notes())
            trap_.at(At::result, [&] { host_.compareNote(note); });
    }
    if (!lists_.unreadableLocal.isEmpty())
        trap_.at(At::result,
                 [&] { MessageSeam::plain(UnreadableLocalMessage(lists_.unreadableLocal)); });
    if (!remoteGaps_.folders.isEmpty())
        trap_.at(At::result, [&] { MessageSeam::plain(UnseenRemoteMessage(remoteGaps_)); });
    trap_.at(At::listOption, [&] { host_.setListOption(true); });
    trap_.at(At::tickAll, [&] { host_.resultList().setAllChecked(true); });
    trap_.at(At::result, [&] {
        // Folders that could not be read were not compared, so the trees are
        // not known to be identical; the message about them has said so.
        const int rowCount = host_.resultList().rowCount();
        if (rowCount > 0)
            host_.makeRowVisible(rowCount - 1);
        else if (lists_.unreadableLocal.isEmpty() && remoteGaps_.folders.isEmpty())
            MessageSeam::plain(
                QStringLiteral("No synchronization necessary -- folders are identical"));
    });
}
