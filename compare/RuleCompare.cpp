#include "compare/RuleCompare.h"

#include "compare/Compare.h"
#include "compare/RemoteQueries.h"
#include "compare/RowFiller.h"
#include "compare/RuleMatch.h"
#include "compare/RunHost.h"
#include "core/UiYield.h"
#include "localfs/LocalHasher.h"

#include <QDir>
#include <QSet>

#include <atomic>
#include <functional>
#include <optional>
#include <vector>

namespace {

// The statements of the rules' steps, numbered on from the compare run's.
namespace At {
constexpr int hashMethod = 154;
constexpr int match = 156;
constexpr int hashes = 158;
constexpr int times = 160;
constexpr int timeSetting = 162;
constexpr int addDeletes = 138;
constexpr int addUploads = 142;
constexpr int addOverwrites = 146;
} // namespace At

// Local files are read by this many threads: enough to keep a disk busy,
// few enough to leave the machine to the rest of the run.
constexpr int kHashThreads = 2;
// Extra sessions pay for their log-ins only over this many questions.
constexpr int kQuestionsPerExtraSession = 64;

void yield() {
    UiYield::processPending();
}

// The first failure of those the server gave, with the path it was about,
// and how many there were.
struct Unanswered {
    int count = 0;
    QString first;
};

Unanswered unanswered(const std::vector<std::optional<Failure>>& failures,
                      const std::function<QString(int)>& pathOf) {
    Unanswered result;
    for (size_t k = 0; k < failures.size(); ++k) {
        if (!failures[k])
            continue;
        if (result.count++ == 0)
            result.first = pathOf(int(k)) + QStringLiteral(": ") + failures[k]->describe();
    }
    return result;
}

// One question over the main session, asked on a thread of its own so that
// the window works while the server answers.
void askOnce(const Session& session, const std::function<void(const Session&)>& ask) {
    AskEach(
        session, 0, 1,
        [&](const Session& s, int) {
            ask(s);
            return true;
        },
        yield);
}

} // namespace

QString RuleCompare::noHashNote() {
    return QStringLiteral("The server offers no hash command (HASH, XSHA256, XSHA1, XMD5 or "
                          "XCRC), so files of the same size are compared by their modification "
                          "times instead of their contents.");
}

QString RuleCompare::noExactTimesNote() {
    return QStringLiteral("The server does not tell exact modification times, so files of the "
                          "same size count as unchanged on it: the time rule falls back to size "
                          "for this server.");
}

QString RuleCompare::unaskedNote(const QString& what, int count, const QString& first,
                                 const QString& fallback) {
    return QStringLiteral("The server did not tell the %1 of %2 remote %3 (%4), so %5")
        .arg(what, QString::number(count),
             count == 1 ? QStringLiteral("file") : QStringLiteral("files"), first, fallback);
}

QString RuleCompare::noTimeSettingNote() {
    return QStringLiteral("The server does not let modification times be set, so an upload "
                          "would never make the times equal: the time rule falls back to size "
                          "for this server.");
}

RuleCompare::RuleCompare(RunHost& host, const CompareRules& rules) : host_(host), rules_(rules) {}

RuleCompare::~RuleCompare() = default;

void RuleCompare::note(const QString& text) {
    if (!notes_.contains(text))
        notes_.append(text);
}

void RuleCompare::beforeRemoteWalk(ErrorTrap& trap, const CompareLists& lists) {
    if (rules_.overwrite != CompareRules::Overwrite::Content)
        return;
    trap.at(At::hashMethod, [&] {
        askOnce(host_.session(), [&](const Session& s) {
            const auto method = s.hashMethod();
            hashMethod_ = method ? *method : HashMethod{};
        });
        if (hashMethod_.isNone()) {
            note(noHashNote());
            return;
        }
        hasher_ =
            std::make_unique<LocalHasher>(lists.localPaths, hashMethod_.algorithm, kHashThreads);
    });
}

void RuleCompare::addRows(ErrorTrap& trap, const CompareLists& lists, const QString& localFolder,
                          const QString& remoteFolder) {
    std::unique_ptr<RuleMatch> match;
    trap.at(At::match,
            [&] { match = std::make_unique<RuleMatch>(lists, localFolder, remoteFolder, rules_); });
    if (!match)
        return;
    const Session& session = host_.session();
    const auto extraFor = [&](qsizetype questions) {
        return questions >= kQuestionsPerExtraSession ? host_.transfers() - 1 : 0;
    };

    RuleFacts facts;
    const QList<std::pair<int, int>> same =
        rules_.usesTimes() ? match->sameSizePairs() : QList<std::pair<int, int>>();
    if (hasher_ && !same.isEmpty()) {
        trap.at(At::hashes, [&] {
            QList<int> locals;
            QList<int> remotes;
            QSet<int> seenLocal;
            QSet<int> seenRemote;
            for (const auto& [i, j] : same) {
                if (!seenLocal.contains(i)) {
                    seenLocal.insert(i);
                    locals.append(i);
                }
                if (!seenRemote.contains(j)) {
                    seenRemote.insert(j);
                    remotes.append(j);
                }
            }
            hasher_->keepOnly(locals);
            std::vector<QByteArray> remoteHashes(size_t(remotes.size()));
            std::vector<std::optional<Failure>> failures(size_t(remotes.size()));
            AskEach(
                session, extraFor(remotes.size()), int(remotes.size()),
                [&](const Session& s, int k) {
                    const auto hash = s.hashOf(lists.remotePaths.at(remotes.at(k)), hashMethod_);
                    if (hash)
                        remoteHashes[size_t(k)] = *hash;
                    failures[size_t(k)] = hash ? std::nullopt : std::optional(hash.failure());
                    return hash || !hash.failure().isConnectionProblem();
                },
                yield, host_.sessionPool());
            const Unanswered missed =
                unanswered(failures, [&](int k) { return lists.remotePaths.at(remotes.at(k)); });
            if (missed.count > 0)
                note(unaskedNote(QStringLiteral("hash"), missed.count, missed.first,
                                 QStringLiteral("they are compared by their modification times "
                                                "instead of their contents.")));
            for (qsizetype k = 0; k < remotes.size(); ++k) {
                if (!remoteHashes[size_t(k)].isEmpty())
                    facts.remoteHashes.insert(remotes.at(k), remoteHashes[size_t(k)]);
            }
            for (int i : std::as_const(locals))
                facts.localHashes.insert(i, hasher_->wait(i, yield));
            facts.hashName = QString::fromLatin1(HashAlgorithmName(hashMethod_.algorithm));
        });
    }
    hasher_.reset();

    if (!same.isEmpty()) {
        trap.at(At::times, [&] {
            const QList<int> needed = match->remoteTimesNeeded(facts);
            std::vector<std::optional<qint64>> times(size_t(needed.size()));
            std::vector<std::optional<Failure>> failures(size_t(needed.size()));
            std::atomic<bool> untold = false;
            AskEach(
                session, extraFor(needed.size()), int(needed.size()),
                [&](const Session& s, int k) {
                    const auto time = s.modifiedTime(lists.remotePaths.at(needed.at(k)));
                    if (time && time->isValid())
                        times[size_t(k)] = time->toSecsSinceEpoch();
                    else if (time)
                        untold = true;
                    failures[size_t(k)] = time ? std::nullopt : std::optional(time.failure());
                    return time || !time.failure().isConnectionProblem();
                },
                yield, host_.sessionPool());
            const Unanswered missed =
                unanswered(failures, [&](int k) { return lists.remotePaths.at(needed.at(k)); });
            if (missed.count > 0)
                note(unaskedNote(QStringLiteral("modification time"), missed.count, missed.first,
                                 QStringLiteral("they count as unchanged unless their sizes "
                                                "differ.")));
            for (qsizetype k = 0; k < needed.size(); ++k) {
                if (times[size_t(k)])
                    facts.remoteTimes.insert(needed.at(k), *times[size_t(k)]);
            }
            if (untold)
                note(noExactTimesNote());
        });
        // Times decide only where the next upload makes them equal.
        trap.at(At::timeSetting, [&] {
            const auto differing = match->firstTimeDifference(facts);
            if (!differing || session.announcesTimeSetting())
                return;
            const qint64 seconds = match->remoteTime(*differing, facts).value_or(0);
            bool set = false;
            askOnce(session, [&](const Session& s) {
                const auto answer =
                    s.setModifiedTime(lists.remotePaths.at(*differing),
                                      QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC));
                set = answer && *answer;
            });
            if (!set) {
                facts.timesUsable = false;
                note(noTimeSettingNote());
            }
        });
    }

    QList<RuleRow> rows;
    trap.at(At::match, [&] { rows = match->rows(facts); });
    const QChar separator = QDir::separator();
    const auto destinationOf = [&](const QString& localPath) {
        QString below = trimRoot(localPath, localFolder);
        below.replace(separator, u'/');
        return remoteFolder + below;
    };
    const struct {
        RowKind kind;
        int at;
    } groups[] = {{RowKind::Delete, At::addDeletes},
                  {RowKind::Upload, At::addUploads},
                  {RowKind::Overwrite, At::addOverwrites}};
    for (const auto& group : groups) {
        trap.at(group.at, [&] {
            RowFiller filler(host_, group.kind);
            for (const RuleRow& row : std::as_const(rows)) {
                if (row.kind != group.kind)
                    continue;
                // Nothing is proposed for a remote place whose contents are
                // unknown.
                if (row.kind == RowKind::Delete) {
                    const QString& remote = lists.remotePaths.at(row.remote);
                    if (!LiesInUnseenFolder(lists, remote))
                        filler.add(remote, {}, row.reason);
                } else {
                    const QString& source = lists.localPaths.at(row.local);
                    const QString destination = destinationOf(source);
                    if (!LiesInUnseenFolder(lists, destination))
                        filler.add(source, destination, row.reason);
                }
            }
            filler.flush();
        });
    }
}
