// The matching under every choice of rules against a plain model of what the
// rules say, over random pairs of trees.

#include "compare/Compare.h"
#include "compare/RuleMatch.h"
#include "core/UiYield.h"

#include <QDir>
#include <QRandomGenerator>
#include <QTest>

#include <limits>

Q_DECLARE_METATYPE(CompareRules)

namespace {

using Match = CompareRules::Match;
using Overwrite = CompareRules::Overwrite;

const QString kLocalFolder = QDir::toNativeSeparators(QStringLiteral("/home/me/site/"));
const QString kRemoteFolder = QStringLiteral("/www/");

struct Case {
    CompareLists lists;
    RuleFacts facts;
};

// Trees that share names and paths in every combination: the same name in
// other folders, names that differ in letter case, sizes and times equal or
// not, remote times exact or to the minute, links, known and unknown hashes.
Case randomCase(quint32 seed) {
    QRandomGenerator random(seed);
    const QStringList folders{"", "a/", "a/b/", "c/"};
    const QStringList names{"index.html", "x.txt", "Y.txt", "y.txt"};
    const auto pick = [&](const QStringList& from) {
        return from.at(random.bounded(int(from.size())));
    };
    const qint64 base = 1'800'000'000;
    Case c;
    CompareLists& l = c.lists;
    QStringList usedLocal, usedRemote;
    for (int n = 0; n < 24; ++n) {
        const QString rel = pick(folders) + pick(names);
        if (random.bounded(2)) {
            if (usedLocal.contains(rel))
                continue;
            usedLocal.append(rel);
            l.localPaths.append(kLocalFolder + QDir::toNativeSeparators(rel));
            l.localSizes.append(random.bounded(3));
            l.localTimes.append(base + random.bounded(3));
            if (random.bounded(3) == 0)
                c.facts.localHashes.insert(int(l.localPaths.size()) - 1,
                                           pick({"aa", "bb"}).toLatin1());
        } else {
            if (usedRemote.contains(rel))
                continue;
            usedRemote.append(rel);
            const int j = int(l.remotePaths.size());
            l.remotePaths.append(kRemoteFolder + rel);
            const bool link = random.bounded(10) == 0;
            l.remoteSizes.append(link ? std::numeric_limits<qint64>::max() : random.bounded(3));
            const TimePrecision precision = QList{TimePrecision::Second, TimePrecision::Minute,
                                                  TimePrecision::None}[random.bounded(3)];
            l.remoteFacts.append({base + random.bounded(3), precision, link});
            if (precision != TimePrecision::Second && random.bounded(2))
                c.facts.remoteTimes.insert(j, base + random.bounded(3));
            if (random.bounded(3) == 0)
                c.facts.remoteHashes.insert(j, pick({"aa", "bb"}).toLatin1());
        }
    }
    if (random.bounded(7) == 0)
        l.unreadableLocal.append(kLocalFolder + QStringLiteral("locked/"));
    c.facts.timesUsable = random.bounded(5) != 0;
    c.facts.hashName = QStringLiteral("SHA-256");
    return c;
}

struct Row {
    RowKind kind;
    int local, remote;
    bool operator==(const Row&) const = default;
};

// The rules as they read: what a file is matched by, and when a remote copy
// differs.
QList<Row> model(const Case& c, const CompareRules& rules) {
    const CompareLists& l = c.lists;
    const RuleFacts& f = c.facts;
    const auto localKey = [&](int i) {
        const QString& p = l.localPaths.at(i);
        return rules.match == Match::Name ? p.mid(p.lastIndexOf(QDir::separator()) + 1)
                                          : QDir::fromNativeSeparators(p.mid(kLocalFolder.size()));
    };
    const auto remoteKey = [&](int j) {
        const QString& p = l.remotePaths.at(j);
        return rules.match == Match::Name ? p.mid(p.lastIndexOf(u'/') + 1)
                                          : p.mid(kRemoteFolder.size());
    };
    const auto timesDiffer = [&](int i, int j) {
        const RemoteFileFacts& r = l.remoteFacts.at(j);
        std::optional<qint64> remote;
        if (r.precision == TimePrecision::Second)
            remote = r.modified;
        else if (f.remoteTimes.contains(j))
            remote = f.remoteTimes.value(j);
        return f.timesUsable && remote && *remote != l.localTimes.at(i);
    };
    const auto differs = [&](int i, int j) {
        if (l.remoteFacts.at(j).link)
            return false;
        const qint64 ls = l.localSizes.at(i), rs = l.remoteSizes.at(j);
        switch (rules.overwrite) {
        case Overwrite::Smaller:
            return rs < ls;
        case Overwrite::Size:
            return rs != ls;
        case Overwrite::Time:
            return rs != ls || timesDiffer(i, j);
        case Overwrite::Content:
            if (rs != ls)
                return true;
            if (f.localHashes.contains(i) && f.remoteHashes.contains(j))
                return f.localHashes.value(i) != f.remoteHashes.value(j);
            return timesDiffer(i, j);
        }
        return false;
    };
    const int nl = int(l.localPaths.size()), nr = int(l.remotePaths.size());
    QList<Row> rows;
    for (int j = 0; j < nr && l.unreadableLocal.isEmpty(); ++j) {
        bool matched = false;
        for (int i = 0; i < nl; ++i)
            matched = matched || localKey(i) == remoteKey(j);
        if (!matched)
            rows.append({RowKind::Delete, -1, j});
    }
    for (int i = 0; i < nl; ++i) {
        bool matched = false;
        for (int j = 0; j < nr; ++j)
            matched = matched || localKey(i) == remoteKey(j);
        if (!matched)
            rows.append({RowKind::Upload, i, -1});
    }
    for (int i = 0; i < nl; ++i)
        for (int j = 0; j < nr; ++j)
            if (localKey(i) == remoteKey(j) && differs(i, j))
                rows.append({RowKind::Overwrite, i, j});
    return rows;
}

QString describe(const QList<Row>& rows) {
    QStringList out;
    for (const Row& r : rows)
        out << QStringLiteral("%1 L%2 R%3").arg(int(r.kind)).arg(r.local).arg(r.remote);
    return out.join(u'\n');
}

} // namespace

class TestCompareRules : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        UiYield::setHook([] {});
    }
    void rowsFollowTheRules_data();
    void rowsFollowTheRules();
};

void TestCompareRules::rowsFollowTheRules_data() {
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<CompareRules>("rules");
    for (Match m : {Match::Name, Match::Path})
        for (Overwrite o :
             {Overwrite::Smaller, Overwrite::Size, Overwrite::Time, Overwrite::Content})
            for (quint32 seed = 1; seed <= 12; ++seed)
                QTest::addRow("%s %s %u", qPrintable(CompareRules::word(m)),
                              qPrintable(CompareRules::word(o)), seed)
                    << seed << CompareRules{m, o};
}

void TestCompareRules::rowsFollowTheRules() {
    QFETCH(quint32, seed);
    QFETCH(CompareRules, rules);
    const Case c = randomCase(seed);
    const RuleMatch match(c.lists, kLocalFolder, kRemoteFolder, rules);
    QList<Row> rows;
    for (const RuleRow& r : match.rows(c.facts)) {
        rows.append({r.kind, r.local, r.remote});
        QVERIFY(!r.reason.isEmpty());
    }
    const QList<Row> expected = model(c, rules);
    QVERIFY2(rows == expected,
             qPrintable(describe(rows) + "\n--- expected\n" + describe(expected)));

    if (rules.isDefault()) {
        // The default rules propose exactly what the program's own finders do.
        const CompareLists& l = c.lists;
        QStringList sources;
        for (const Row& r : rows)
            sources << (r.kind == RowKind::Delete ? l.remotePaths.at(r.remote)
                                                  : l.localPaths.at(r.local));
        const QStringList deletes = l.unreadableLocal.isEmpty()
                                        ? FindDeleteCandidates(l.localPaths, l.remotePaths)
                                        : QStringList();
        QCOMPARE(sources, deletes + FindUploadCandidates(l.localPaths, l.remotePaths) +
                              FindOverwriteCandidates(l.localPaths, l.remotePaths, l.localSizes,
                                                      l.remoteSizes));
    }
}

QTEST_GUILESS_MAIN(TestCompareRules)
#include "tst_compare_rules.moc"
