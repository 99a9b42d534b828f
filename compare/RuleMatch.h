#pragma once

#include "compare/CompareRules.h"
#include "compare/CompareRun.h"
#include "compare/RowKind.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <optional>
#include <utility>

// One row the chosen rules propose: the local and the remote file it is about
// (-1 for none), and why it is proposed.
struct RuleRow {
    RowKind kind = RowKind::Upload;
    int local = -1;
    int remote = -1;
    QString reason;
    bool operator==(const RuleRow&) const = default;
};

// What the decisions need beyond the two listings, learnt from the server and
// the local files for the pairs that need it.
struct RuleFacts {
    // Exact modification times asked of the server (seconds since 1970, UTC),
    // by remote position.
    QHash<int, qint64> remoteTimes;
    // False when times cannot decide on this server: it tells no exact times,
    // or it sets none, so that an upload would never make them equal.
    bool timesUsable = true;
    // Hashes in lower-case hex by position; a file whose hash could not be had
    // has none, and its pair is decided by time instead.
    QHash<int, QByteArray> remoteHashes;
    QHash<int, QByteArray> localHashes;
    QString hashName; // the algorithm's name, for the reasons
};

// The files of two trees matched under the chosen rules. By name: a local and
// a remote file match when their names are equal, wherever they lie (a local
// file is paired with every remote namesake). By path: when their paths below
// the two folders are equal. The remote files that nothing matches may be
// deleted (none when part of the local tree could not be read), the local
// files that nothing matches may be uploaded, and a matched pair may be
// overwritten where the rule says the remote copy differs: by size alone
// ("smaller", "size"), then by time ("time"), or by content ("content", by
// time where no hashes are known). A remote link is never overwritten.
//
// Rows come in three groups: the deletes in remote order, the uploads in
// local order, the overwrites in local order (and, for one local file, in
// the remote order of its namesakes).
class RuleMatch {
public:
    // The folders end with their separators; the lists hold the local times
    // when the rule compares times, and the remote facts of every file.
    RuleMatch(const CompareLists& lists, const QString& localFolder, const QString& remoteFolder,
              const CompareRules& rules);

    const QList<int>& deletes() const { return deletes_; }
    const QList<int>& uploads() const { return uploads_; }
    // Matched pairs (local, remote) in the order of their overwrite rows.
    const QList<std::pair<int, int>>& pairs() const { return pairs_; }

    // The pairs of equal size, whose decision needs more than the listings
    // under the time and content rules (no links among them).
    QList<std::pair<int, int>> sameSizePairs() const;
    // The remote files whose exact time a decision still needs: from pairs of
    // equal size that no known hashes decide and whose listing was not exact.
    QList<int> remoteTimesNeeded(const RuleFacts& facts) const;
    // The first pair that only a difference in time would have overwritten:
    // its remote position, or none.
    std::optional<int> firstTimeDifference(const RuleFacts& facts) const;
    // The exact time of a remote file, from the listing or the facts.
    std::optional<qint64> remoteTime(int remote, const RuleFacts& facts) const;

    QList<RuleRow> rows(const RuleFacts& facts) const;

private:
    enum class Verdict { Same, Size, Time, Content };
    Verdict verdict(int local, int remote, const RuleFacts& facts) const;
    Verdict byTime(int local, int remote, const RuleFacts& facts) const;
    bool hashesKnown(int local, int remote, const RuleFacts& facts) const;
    QString reason(Verdict verdict, int local, int remote, const RuleFacts& facts) const;

    const CompareLists& lists_;
    const CompareRules rules_;
    QList<int> deletes_;
    QList<int> uploads_;
    QList<std::pair<int, int>> pairs_;
};
