// Matching of local and remote file lists by name and size, and the path
// helpers that turn a local path into its place below the remote folder.

#include "compare/Compare.h"
#include "compare/Transfers.h"
#include "core/UiYield.h"

#include <QDir>
#include <QRandomGenerator>
#include <QTest>

namespace {

// Local paths are written with "/" in the rows and converted to the
// platform's separator here, so the rows read the same on every platform.
QStringList local(const QStringList& paths) {
    QStringList out;
    for (const QString& p : paths)
        out.append(QDir::toNativeSeparators(p));
    return out;
}

// The straightforward pairwise matching the fast finders must agree with.
QString refName(const QString& path, QChar separator) {
    return path.mid(path.lastIndexOf(separator) + 1);
}

struct Reference {
    QStringList deletes, uploads, overwrites;
};

Reference nestedLoop(const QStringList& localPaths, const QStringList& remotePaths,
                     const QList<qint64>& localSizes, const QList<qint64>& remoteSizes) {
    const QChar sep = QDir::separator();
    Reference r;
    for (const QString& rp : remotePaths) {
        bool found = false;
        for (const QString& lp : localPaths)
            if (refName(lp, sep) == refName(rp, u'/')) {
                found = true;
                break;
            }
        if (!found)
            r.deletes.append(rp);
    }
    for (const QString& lp : localPaths) {
        bool found = false;
        for (const QString& rp : remotePaths)
            if (refName(lp, sep) == refName(rp, u'/')) {
                found = true;
                break;
            }
        if (!found)
            r.uploads.append(lp);
    }
    for (qsizetype i = 0; i < localPaths.size(); ++i)
        for (qsizetype j = 0; j < remotePaths.size(); ++j)
            if (refName(localPaths[i], sep) == refName(remotePaths[j], u'/') &&
                remoteSizes.value(j, 0) < localSizes.value(i, 0))
                r.overwrites.append(localPaths[i]);
    return r;
}

} // namespace

class TestCompare : public QObject {
    Q_OBJECT
private slots:
    void init() { UiYield::setInterval(15); }
    void cleanup() { UiYield::setHook({}); }

    void fileNameOf_data();
    void fileNameOf();
    void trimRoot_data();
    void trimRoot();
    void finders_data();
    void finders();
    void agreesWithPairwiseMatching_data();
    void agreesWithPairwiseMatching();
    void yieldsPerItemNotPerPair();
    void transfersSetting_data();
    void transfersSetting();
};

void TestCompare::fileNameOf_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("name");

    const QString sep = QDir::separator();
    QTest::newRow("local nested") << "data" + sep + "sub" + sep + "x.txt" << 1 << "x.txt";
    QTest::newRow("local bare name") << "x.txt" << 1 << "x.txt";
    QTest::newRow("local ends with separator") << "data" + sep << 1 << "";
    QTest::newRow("remote nested") << "/www/sub/x.txt" << 2 << "x.txt";
    QTest::newRow("remote bare name") << "x.txt" << 2 << "x.txt";
    QTest::newRow("remote ends with slash") << "/www/" << 2 << "";
    QTest::newRow("remote keeps backslash") << "/www/a\\b.txt" << 2 << "a\\b.txt";
    QTest::newRow("unknown kind") << "/www/x.txt" << 3 << "";
    QTest::newRow("kind zero") << "/www/x.txt" << 0 << "";
    if (sep != "\\")
        QTest::newRow("backslash is a name character locally")
            << "/data/a\\b.txt" << 1 << "a\\b.txt";
}

void TestCompare::fileNameOf() {
    QFETCH(QString, path);
    QFETCH(int, kind);
    QFETCH(QString, name);
    QCOMPARE(FileNameOf(path, kind), name);
    if (kind == 1)
        QCOMPARE(AfterLastBackslash(path), name);
}

void TestCompare::trimRoot_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("root");
    QTest::addColumn<QString>("result");

    QTest::newRow("root with separator") << "/data/sub/x.txt"
                                         << "/data/"
                                         << "sub/x.txt";
    QTest::newRow("root without separator") << "/data/sub/x.txt"
                                            << "/data"
                                            << "/sub/x.txt";
    QTest::newRow("root not contained") << "/data/sub/x.txt"
                                        << "/xyz/"
                                        << "a/sub/x.txt";
    QTest::newRow("empty root") << "/data/x.txt"
                                << ""
                                << "/data/x.txt";
    QTest::newRow("path equals root") << "/data/"
                                      << "/data/"
                                      << "";
    QTest::newRow("root longer than path") << "/d"
                                           << "/data/long/"
                                           << "";
    QTest::newRow("first occurrence counts") << "/a/b/a/b/x"
                                             << "a/b/"
                                             << "a/b/x";
    QTest::newRow("letter case counts") << "/Data/x.txt"
                                        << "/data/"
                                        << "/x.txt";
}

void TestCompare::trimRoot() {
    QFETCH(QString, path);
    QFETCH(QString, root);
    QFETCH(QString, result);
    QCOMPARE(::trimRoot(path, root), result);
}

void TestCompare::finders_data() {
    QTest::addColumn<QStringList>("localPaths");
    QTest::addColumn<QStringList>("remotePaths");
    QTest::addColumn<QList<qint64>>("localSizes");
    QTest::addColumn<QList<qint64>>("remoteSizes");
    QTest::addColumn<QStringList>("deletes");
    QTest::addColumn<QStringList>("uploads");
    QTest::addColumn<QStringList>("overwrites");

    using L = QList<qint64>;
    const qint64 fourGiB = qint64(4) << 30;

    QTest::newRow("empty remote") << local({"/d/a", "/d/s/b"}) << QStringList{} << L{1, 2} << L{}
                                  << QStringList{} << local({"/d/a", "/d/s/b"}) << QStringList{};
    QTest::newRow("empty local") << QStringList{} << QStringList{"/w/a", "/w/s/b"} << L{} << L{1, 2}
                                 << QStringList{"/w/a", "/w/s/b"} << QStringList{} << QStringList{};
    QTest::newRow("both empty") << QStringList{} << QStringList{} << L{} << L{} << QStringList{}
                                << QStringList{} << QStringList{};
    QTest::newRow("letter case counts")
        << local({"/d/Read.me"}) << QStringList{"/w/read.me"} << L{5} << L{1}
        << QStringList{"/w/read.me"} << local({"/d/Read.me"}) << QStringList{};
    QTest::newRow("match across folders")
        << local({"/d/s1/x.txt"}) << QStringList{"/w/s2/x.txt"} << L{5} << L{5} << QStringList{}
        << QStringList{} << QStringList{};
    QTest::newRow("two local namesakes, one remote")
        << local({"/d/s1/a.txt", "/d/s2/a.txt"}) << QStringList{"/w/a.txt"} << L{3, 3} << L{3}
        << QStringList{} << QStringList{} << QStringList{};
    QTest::newRow("two smaller remote namesakes")
        << local({"/d/a.txt"}) << QStringList{"/x/a.txt", "/y/a.txt"} << L{10} << L{5, 7}
        << QStringList{} << QStringList{} << local({"/d/a.txt", "/d/a.txt"});
    QTest::newRow("equal or larger remote namesakes")
        << local({"/d/a.txt"}) << QStringList{"/x/a.txt", "/y/a.txt"} << L{10} << L{10, 12}
        << QStringList{} << QStringList{} << QStringList{};
    QTest::newRow("one smaller, one larger")
        << local({"/d/a.txt"}) << QStringList{"/x/a.txt", "/y/a.txt"} << L{10} << L{12, 9}
        << QStringList{} << QStringList{} << local({"/d/a.txt"});
    QTest::newRow("missing local size counts as 0")
        << local({"/d/a", "/d/b"}) << QStringList{"/w/a", "/w/b"} << L{7} << L{0, 0}
        << QStringList{} << QStringList{} << local({"/d/a"});
    QTest::newRow("missing remote size counts as 0")
        << local({"/d/a"}) << QStringList{"/w/a"} << L{1} << L{} << QStringList{} << QStringList{}
        << local({"/d/a"});
    QTest::newRow("sizes beyond 32 bits")
        << local({"/d/big", "/d/same"}) << QStringList{"/w/big", "/w/same"}
        << L{fourGiB + 1, fourGiB} << L{1, fourGiB} << QStringList{} << QStringList{}
        << local({"/d/big"});
    QTest::newRow("sizes above 2 GiB are not negative")
        << local({"/d/a"}) << QStringList{"/w/a"} << L{qint64(3000000000)} << L{100}
        << QStringList{} << QStringList{} << local({"/d/a"});
    QTest::newRow("bare names without separators")
        << QStringList{"a", "b"} << QStringList{"b", "c"} << L{1, 2} << L{1, 1} << QStringList{"c"}
        << QStringList{"a"} << QStringList{"b"};
    QTest::newRow("order kept, duplicates kept")
        << local({"/d/z", "/d/y", "/d/s/z"}) << QStringList{"/w/q", "/w/p", "/w/s/q"} << L{1, 1, 1}
        << L{1, 1, 1} << QStringList{"/w/q", "/w/p", "/w/s/q"} << local({"/d/z", "/d/y", "/d/s/z"})
        << QStringList{};
    QTest::newRow("a folder-like remote entry is no name")
        << local({"/d/x"}) << QStringList{"/w/"} << L{1} << L{0} << QStringList{"/w/"}
        << local({"/d/x"}) << QStringList{};
}

void TestCompare::finders() {
    QFETCH(QStringList, localPaths);
    QFETCH(QStringList, remotePaths);
    QFETCH(QList<qint64>, localSizes);
    QFETCH(QList<qint64>, remoteSizes);
    QFETCH(QStringList, deletes);
    QFETCH(QStringList, uploads);
    QFETCH(QStringList, overwrites);

    QCOMPARE(FindDeleteCandidates(localPaths, remotePaths), deletes);
    QCOMPARE(FindUploadCandidates(localPaths, remotePaths), uploads);
    QCOMPARE(FindOverwriteCandidates(localPaths, remotePaths, localSizes, remoteSizes), overwrites);
}

void TestCompare::agreesWithPairwiseMatching_data() {
    QTest::addColumn<quint32>("seed");
    for (quint32 seed : {1u, 7u, 42u, 1234u, 99991u, 31337u, 2024u, 65537u})
        QTest::addRow("seed %u", seed) << seed;
}

void TestCompare::agreesWithPairwiseMatching() {
    QFETCH(quint32, seed);
    QRandomGenerator rng(seed);

    // A small pool of names makes shared names, duplicates and near misses
    // (letter case, "~" prefix, a backslash inside a name) frequent.
    const QStringList pool{"a.txt", "A.txt",      "a.TXT",      "~a.txt",  "b",
                           "B",     "index.html", "Index.html", "c d.png", "x\\y.txt",
                           "~",     "ü.txt",      "U.txt",      ".hidden"};
    const QStringList folders{"", "s1/", "s2/", "s1/deep/", "S1/", "other/x/"};
    const QChar sep = QDir::separator();

    for (int round = 0; round < 25; ++round) {
        QStringList localPaths, remotePaths;
        QList<qint64> localSizes, remoteSizes;
        const int localCount = int(rng.bounded(40));
        const int remoteCount = int(rng.bounded(40));
        const auto randomSize = [&]() -> qint64 {
            switch (rng.bounded(4)) {
            case 0:
                return 0;
            case 1:
                return qint64(rng.bounded(5));
            case 2:
                return (qint64(1) << 31) + qint64(rng.bounded(3)); // 2 GiB and just above
            default:
                return qint64(rng.bounded(1000000));
            }
        };
        for (int i = 0; i < localCount; ++i) {
            QString path = "/home/u/data/" + folders.at(rng.bounded(folders.size())) +
                           pool.at(rng.bounded(pool.size()));
            path.replace(u'/', sep);
            localPaths.append(path);
            localSizes.append(randomSize());
        }
        for (int j = 0; j < remoteCount; ++j) {
            remotePaths.append("/www/" + folders.at(rng.bounded(folders.size())) +
                               pool.at(rng.bounded(pool.size())));
            remoteSizes.append(randomSize());
        }
        // Size lists shorter than their path lists: the missing entries count as 0.
        if (rng.bounded(4) == 0 && !localSizes.isEmpty())
            localSizes.resize(rng.bounded(localSizes.size()));
        if (rng.bounded(4) == 0 && !remoteSizes.isEmpty())
            remoteSizes.resize(rng.bounded(remoteSizes.size()));

        const Reference want = nestedLoop(localPaths, remotePaths, localSizes, remoteSizes);
        QCOMPARE(FindDeleteCandidates(localPaths, remotePaths), want.deletes);
        QCOMPARE(FindUploadCandidates(localPaths, remotePaths), want.uploads);
        QCOMPARE(FindOverwriteCandidates(localPaths, remotePaths, localSizes, remoteSizes),
                 want.overwrites);
    }
}

void TestCompare::yieldsPerItemNotPerPair() {
    // Every yield request is honoured here, so the count shows how often the
    // finders ask: in step with the lists' lengths, not with their product.
    UiYield::setInterval(0);
    qint64 yields = 0;
    UiYield::setHook([&] { ++yields; });

    const int n = 2000;
    QStringList localPaths, remotePaths;
    QList<qint64> sizes;
    for (int i = 0; i < n; ++i) {
        localPaths.append(QDir::toNativeSeparators(QStringLiteral("/d/l%1").arg(i)));
        remotePaths.append(QStringLiteral("/w/r%1").arg(i));
        sizes.append(i);
    }
    QCOMPARE(FindDeleteCandidates(localPaths, remotePaths).size(), n);
    QCOMPARE(FindUploadCandidates(localPaths, remotePaths).size(), n);
    QCOMPARE(FindOverwriteCandidates(localPaths, remotePaths, sizes, sizes).size(), 0);
    QVERIFY(yields >= 3 * n);
    QVERIFY2(yields <= 10 * n, qPrintable(QString::number(yields)));
}

void TestCompare::transfersSetting_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("transfers");
    QTest::newRow("never stored") << QString() << 4;
    QTest::newRow("one") << "1" << 1;
    QTest::newRow("eight") << "8" << 8;
    QTest::newRow("blanks around") << " 2 " << 2;
    QTest::newRow("zero") << "0" << 4;
    QTest::newRow("nine") << "9" << 4;
    QTest::newRow("negative") << "-3" << 4;
    QTest::newRow("fraction") << "2.5" << 4;
    QTest::newRow("words") << "many" << 4;
}

void TestCompare::transfersSetting() {
    QFETCH(QString, text);
    QFETCH(int, transfers);
    QCOMPARE(Transfers::fromText(text), transfers);
}

QTEST_GUILESS_MAIN(TestCompare)
#include "tst_compare.moc"
