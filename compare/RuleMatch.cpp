#include "compare/RuleMatch.h"

#include "compare/NameIndex.h"

#include "compare/Compare.h"
#include "core/UiYield.h"

#include <QDateTime>
#include <QDir>
#include <QLocale>
#include <QSet>
#include <QStringView>

namespace {

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
    const PathTable& local = lists.localPaths;
    const PathTable& remote = lists.remotePaths;
    const bool deletesKnown = lists.unreadableLocal.isEmpty();

    if (rules.match == CompareRules::Match::Name) {
        const NameIndex remoteByName(remote);
        const NameIndex localByName(local);
        for (qsizetype i = 0; i < local.size(); ++i) {
            const qsizetype first = remoteByName.first(local.name(i));
            if (first < 0)
                uploads_.append(int(i));
            for (qsizetype j = first; j >= 0; j = remoteByName.next(j))
                pairs_.append({int(i), int(j)});
            UiYield::processPending();
        }
        for (qsizetype j = 0; deletesKnown && j < remote.size(); ++j) {
            if (!localByName.contains(remote.name(j)))
                deletes_.append(int(j));
            UiYield::processPending();
        }
        return;
    }

    // By path: each side's folders below its root, in "/" form, the local
    // ones taking their place the way the uploads' destinations are made; a
    // file matches the file of the same name in the folder of the same place.
    const QChar separator = QDir::separator();
    const auto below = [&](const QString& folder, const QString& root, bool isLocal) {
        QString place = folder.startsWith(root) ? folder.mid(root.size())
                        : isLocal               ? trimRoot(folder, root)
                                                : folder;
        if (isLocal && separator != u'/')
            place.replace(separator, u'/');
        return place;
    };
    QHash<QString, int> remoteFolderAt;
    for (int f = 0; f < int(remote.folders().size()); ++f)
        remoteFolderAt.insert(below(remote.folders().at(f), remoteFolder, false), f);
    QHash<QString, int> localFolderAt;
    for (int f = 0; f < int(local.folders().size()); ++f)
        localFolderAt.insert(below(local.folders().at(f), localFolder, true), f);
    std::vector<int> remoteFolderOf(size_t(local.folders().size()), -1);
    for (int f = 0; f < int(local.folders().size()); ++f)
        remoteFolderOf[size_t(f)] =
            remoteFolderAt.value(below(local.folders().at(f), localFolder, true), -1);
    std::vector<int> localFolderOf(size_t(remote.folders().size()), -1);
    for (int f = 0; f < int(remote.folders().size()); ++f)
        localFolderOf[size_t(f)] =
            localFolderAt.value(below(remote.folders().at(f), remoteFolder, false), -1);

    // A server that lists a name twice: the first entry counts.
    const NameIndex remoteByPath(remote, NameIndex::Key::FolderAndName);
    const NameIndex localByPath(local, NameIndex::Key::FolderAndName);
    for (qsizetype i = 0; i < local.size(); ++i) {
        const int folder = remoteFolderOf[size_t(local.folderIndex(i))];
        const qsizetype j = folder < 0 ? -1 : remoteByPath.first(local.name(i), folder);
        if (j < 0)
            uploads_.append(int(i));
        else
            pairs_.append({int(i), int(j)});
        UiYield::processPending();
    }
    for (qsizetype j = 0; deletesKnown && j < remote.size(); ++j) {
        const int folder = localFolderOf[size_t(remote.folderIndex(j))];
        if (folder < 0 || !localByPath.contains(remote.name(j), folder))
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
