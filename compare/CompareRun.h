#pragma once

#include "compare/CompareRules.h"
#include "core/ErrorTrap.h"
#include "core/PathTable.h"
#include "ftp/RemoteTree.h"

#include <QDir>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <memory>

class RunHost;
class RuleCompare;

// "1. Start Comparing Local and FTP Folders": walks both trees, matches them
// and fills the result list with ticked delete, upload and overwrite rows. The
// session it opens stays open for the sync run.
void RunCompare(RunHost& host);

// The two trees of one compare run: full paths with parallel byte counts (a
// missing count is taken as 0), and the local places whose files could not
// be read.
struct CompareLists {
    PathTable localPaths{QDir::separator()};
    QList<qint64> localSizes;
    PathTable remotePaths{u'/'};
    QList<qint64> remoteSizes;
    QStringList unreadableLocal;
    // Remote folders (ending in "/") whose contents are not known: nothing
    // is proposed for what lies in them.
    QSet<QString> unseenRemote;
    // Filled only where the chosen rules look beyond names and sizes: the
    // local modification times (seconds since 1970, UTC), and what the remote
    // listings told of each file.
    QList<qint64> localTimes;
    QList<RemoteFileFacts> remoteFacts;
};

// Matches the trees and appends the ticked rows to the host's list: the delete
// rows in remote order, then the upload rows, then the overwrite rows in local
// order. Destinations are the remote folder followed by each local path's
// place below the local folder; both folders end with their separator. A pass
// that fails is reported through the trap and adds no rows. When part of the
// local tree could not be read there are no delete rows: files are matched by
// name anywhere in the tree, so any remote file may have its copy there.
void AddProposedRows(RunHost& host, ErrorTrap& trap, const CompareLists& lists,
                     const QString& localFolder, const QString& remoteFolder);

// Whether a remote path lies in a remote folder whose contents the compare
// does not know, so that no row may be proposed for it.
bool LiesInUnseenFolder(const CompareLists& lists, const QString& remotePath);

// The message that names the local places a compare run could not read: the
// first few of them and how many there are in all.
QString UnreadableLocalMessage(const QStringList& unreadable);

// The message that names the remote folders a compare run could not see
// whole (the first few, with the server's reason or the first line of the
// listing that could not be read, and how many there are in all).
QString UnseenRemoteMessage(const RemoteWalkGaps& gaps);
// The message of a compare run that lost the connection in the middle of
// the remote walk.
QString LostWalkMessage(const RemoteWalkGaps::Gap& lost);

// One compare run, step by step: the folders from the boxes, the local walk,
// a fresh main session, the remote walk, the proposed rows, the outcome.
class CompareRun {
public:
    explicit CompareRun(RunHost& host);
    ~CompareRun();
    void run();

private:
    bool readFolders();
    void refuseLocalFolder();
    bool walkLocalTree();
    bool openSession();
    // False when the walk could not see the whole remote tree for a lost
    // connection: the run then proposes nothing.
    bool walkRemoteTree();
    void finish();

    RunHost& host_;
    ErrorTrap trap_;
    QString typedLocalFolder_;
    QString localFolder_;
    QString remoteFolder_;
    // The listing pattern of the remote folder: its path followed by "*.*".
    QString remotePattern_;
    CompareLists lists_;
    RemoteWalkGaps remoteGaps_;
    // The rules read when the run started, and what other rules than the
    // default ones add to the run.
    CompareRules rules_;
    std::unique_ptr<RuleCompare> ruleCompare_;
};
