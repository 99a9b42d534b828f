#include "compare/RuleMatch.h"

#include "compare/Compare.h"
#include "core/UiYield.h"

#include <QDateTime>
#include <QDir>
#include <QLocale>
#include <QSet>
#include <QStringView>

namespace {

QStringView nameView(QStringView path, QChar separator) {
    return path.sliced(path.lastIndexOf(separator) + 1);
}

// The English way of writing byte counts ("1,204"), whatever the system's
// language: the other texts of the program are English too.
QString bytesText(qint64 bytes) {
    static const QLocale english(QLocale::English, QLocale::UnitedStates);
    return english.toString(bytes);
}

QString timeText(qint64 seconds) {
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC)
        .toLocalTime()
        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

} // namespace

RuleMatch::RuleMatch(const CompareLists& lists, const QString& localFolder,
                     const QString& remoteFolder, const CompareRules& rules)
    : lists_(lists), rules_(rules) {
    const QStringList& local = lists.localPaths;
    const QStringList& remote = lists.remotePaths;
    const bool deletesKnown = lists.unreadableLocal.isEmpty();

    if (rules.match == CompareRules::Match::Name) {
        const QChar separator = QDir::separator();
        QHash<QStringView, QList<int>> remoteByName;
        remoteByName.reserve(remote.size());
        for (qsizetype j = 0; j < remote.size(); ++j) {
            remoteByName[nameView(remote.at(j), u'/')].append(int(j));
            UiYield::processPending();
        }
        QSet<QStringView> localNames;
        localNames.reserve(local.size());
        for (qsizetype i = 0; i < local.size(); ++i) {
            const QStringView name = nameView(local.at(i), separator);
            localNames.insert(name);
            const auto found = remoteByName.constFind(name);
            if (found == remoteByName.cend()) {
                uploads_.append(int(i));
            } else {
                for (int j : *found)
                    pairs_.append({int(i), j});
            }
            UiYield::processPending();
        }
        for (qsizetype j = 0; deletesKnown && j < remote.size(); ++j) {
            if (!localNames.contains(nameView(remote.at(j), u'/')))
                deletes_.append(int(j));
            UiYield::processPending();
        }
        return;
    }

    // By path: each side's path below its folder, in "/" form. The local
    // paths below the folder take their place the way the uploads' destinations
    // are made.
    const QChar separator = QDir::separator();
    QStringList localBelow;
    localBelow.reserve(local.size());
    for (const QString& path : local) {
        QString below = path.startsWith(localFolder) ? path.mid(localFolder.size())
                                                     : trimRoot(path, localFolder);
        if (separator != u'/')
            below.replace(separator, u'/');
        localBelow.append(below);
    }
    QHash<QStringView, int> remoteByPath;
    remoteByPath.reserve(remote.size());
    for (qsizetype j = 0; j < remote.size(); ++j) {
        const QString& path = remote.at(j);
        const QStringView below = path.startsWith(remoteFolder)
                                      ? QStringView(path).sliced(remoteFolder.size())
                                      : QStringView(path);
        // A server that lists a name twice: the first entry counts.
        if (!remoteByPath.contains(below))
            remoteByPath.insert(below, int(j));
        UiYield::processPending();
    }
    QSet<QStringView> localPaths;
    localPaths.reserve(local.size());
    for (qsizetype i = 0; i < local.size(); ++i) {
        const QStringView below = localBelow.at(i);
        localPaths.insert(below);
        const auto found = remoteByPath.constFind(below);
        if (found == remoteByPath.cend())
            uploads_.append(int(i));
        else
            pairs_.append({int(i), *found});
        UiYield::processPending();
    }
    for (qsizetype j = 0; deletesKnown && j < remote.size(); ++j) {
        const QString& path = remote.at(j);
        const QStringView below = path.startsWith(remoteFolder)
                                      ? QStringView(path).sliced(remoteFolder.size())
                                      : QStringView(path);
        if (!localPaths.contains(below))
            deletes_.append(int(j));
        UiYield::processPending();
    }
}

QList<std::pair<int, int>> RuleMatch::sameSizePairs() const {
    QList<std::pair<int, int>> same;
    for (const auto& [i, j] : pairs_) {
        if (!lists_.remoteFacts.value(j).link &&
            lists_.localSizes.value(i, 0) == lists_.remoteSizes.value(j, 0))
            same.append({i, j});
    }
    return same;
}

std::optional<qint64> RuleMatch::remoteTime(int remote, const RuleFacts& facts) const {
    const RemoteFileFacts listed = lists_.remoteFacts.value(remote);
    if (listed.precision == TimePrecision::Second)
        return listed.modified;
    const auto known = facts.remoteTimes.constFind(remote);
    if (known != facts.remoteTimes.cend())
        return *known;
    return std::nullopt;
}

bool RuleMatch::hashesKnown(int local, int remote, const RuleFacts& facts) const {
    return rules_.overwrite == CompareRules::Overwrite::Content &&
           !facts.localHashes.value(local).isEmpty() && !facts.remoteHashes.value(remote).isEmpty();
}

QList<int> RuleMatch::remoteTimesNeeded(const RuleFacts& facts) const {
    QList<int> needed;
    if (!rules_.usesTimes())
        return needed;
    QSet<int> seen;
    for (const auto& [i, j] : sameSizePairs()) {
        if (hashesKnown(i, j, facts) || remoteTime(j, facts) || seen.contains(j))
            continue;
        seen.insert(j);
        needed.append(j);
    }
    return needed;
}

std::optional<int> RuleMatch::firstTimeDifference(const RuleFacts& facts) const {
    if (!rules_.usesTimes())
        return std::nullopt;
    RuleFacts trusted = facts;
    trusted.timesUsable = true;
    for (const auto& [i, j] : sameSizePairs()) {
        if (!hashesKnown(i, j, facts) && byTime(i, j, trusted) == Verdict::Time)
            return j;
    }
    return std::nullopt;
}

RuleMatch::Verdict RuleMatch::byTime(int local, int remote, const RuleFacts& facts) const {
    if (!facts.timesUsable || local >= lists_.localTimes.size())
        return Verdict::Same;
    const auto remoteSeconds = remoteTime(remote, facts);
    if (!remoteSeconds)
        return Verdict::Same;
    return *remoteSeconds != lists_.localTimes.at(local) ? Verdict::Time : Verdict::Same;
}

RuleMatch::Verdict RuleMatch::verdict(int local, int remote, const RuleFacts& facts) const {
    // A link stands for a file the listing does not show; it is never
    // overwritten on its own account.
    if (lists_.remoteFacts.value(remote).link)
        return Verdict::Same;
    const qint64 localSize = lists_.localSizes.value(local, 0);
    const qint64 remoteSize = lists_.remoteSizes.value(remote, 0);
    switch (rules_.overwrite) {
    case CompareRules::Overwrite::Smaller:
        return remoteSize < localSize ? Verdict::Size : Verdict::Same;
    case CompareRules::Overwrite::Size:
        return remoteSize != localSize ? Verdict::Size : Verdict::Same;
    case CompareRules::Overwrite::Time:
        return remoteSize != localSize ? Verdict::Size : byTime(local, remote, facts);
    case CompareRules::Overwrite::Content:
        if (remoteSize != localSize)
            return Verdict::Size;
        if (hashesKnown(local, remote, facts))
            return facts.localHashes.value(local) != facts.remoteHashes.value(remote)
                       ? Verdict::Content
                       : Verdict::Same;
        return byTime(local, remote, facts);
    }
    return Verdict::Same;
}

QString RuleMatch::reason(Verdict verdict, int local, int remote, const RuleFacts& facts) const {
    switch (verdict) {
    case Verdict::Size:
        return QStringLiteral("remote %1 bytes, local %2 bytes")
            .arg(bytesText(lists_.remoteSizes.value(remote, 0)),
                 bytesText(lists_.localSizes.value(local, 0)));
    case Verdict::Time:
        return QStringLiteral("remote %1, local %2")
            .arg(timeText(remoteTime(remote, facts).value_or(0)),
                 timeText(lists_.localTimes.value(local)));
    case Verdict::Content:
        return QStringLiteral("same size, different content (%1)").arg(facts.hashName);
    case Verdict::Same:
        break;
    }
    return {};
}

QList<RuleRow> RuleMatch::rows(const RuleFacts& facts) const {
    const bool byPath = rules_.match == CompareRules::Match::Path;
    const QString noLocal = byPath ? QStringLiteral("no local file at this path")
                                   : QStringLiteral("no local file of this name");
    const QString noRemote = byPath ? QStringLiteral("no remote file at this path")
                                    : QStringLiteral("no remote file of this name");
    QList<RuleRow> rows;
    for (int j : deletes_)
        rows.append({RowKind::Delete, -1, j, noLocal});
    for (int i : uploads_)
        rows.append({RowKind::Upload, i, -1, noRemote});
    for (const auto& [i, j] : pairs_) {
        const Verdict v = verdict(i, j, facts);
        if (v != Verdict::Same)
            rows.append({RowKind::Overwrite, i, j, reason(v, i, j, facts)});
        UiYield::processPending();
    }
    return rows;
}
