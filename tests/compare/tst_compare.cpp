// Matching of local and remote file lists by name and size, and the path
// helpers that turn a local path into its place below the remote folder.

#include "compare/Compare.h"
#include "compare/RunProgress.h"
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
    void progressText_data();
    void progressText();
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

void TestCompare::progressText_data() {
    using State = RunProgress::State;
    using Phase = RunProgress::Phase;
    QTest::addColumn<State>("state");
    QTest::addColumn<QString>("text");
    const qint64 mb = 1000 * 1000;

    QTest::newRow("no run") << State{} << QString();
    QTest::newRow("listing") << State{.phase = Phase::Listing,
                                      .folder = "/home/me/site/img/",
                                      .folders = 120,
                                      .files = 3402}
                             << "Listing /home/me/site/img/ · 120 folders, 3,402 files so far";
    QTest::newRow("listing one of each")
        << State{.phase = Phase::Listing, .folder = "/www/", .folders = 1, .files = 1}
        << "Listing /www/ · 1 folder, 1 file so far";
    QTest::newRow("compared") << State{.phase = Phase::Compared,
                                       .localFiles = 3402,
                                       .remoteFiles = 3390,
                                       .rows = 25,
                                       .elapsedMs = 4200}
                              << "Compared 3,402 local and 3,390 remote files in 4 s: 25 rows";
    QTest::newRow("compared quickly, nothing to do")
        << State{.phase = Phase::Compared, .localFiles = 1, .remoteFiles = 1, .elapsedMs = 300}
        << "Compared 1 local and 1 remote files in less than 1 s: no rows";
    QTest::newRow("deleting") << State{.phase = Phase::Syncing,
                                       .uploads = 300,
                                       .bytes = 120 * mb,
                                       .deletes = 12,
                                       .deletesDone = 4,
                                       .elapsedMs = 2000}
                              << "Deleting 5 of 12 files";
    QTest::newRow("uploading, too early for a speed")
        << State{.phase = Phase::Syncing,
                 .uploads = 300,
                 .uploadsStarted = 1,
                 .bytes = 120 * mb,
                 .deletes = 12,
                 .deletesDone = 12,
                 .elapsedMs = 3000,
                 .uploadingMs = 999}
        << "Uploading 1 of 300 files · 0.0 of 120.0 MB · 12 deletes";
    QTest::newRow("uploading")
        << State{.phase = Phase::Syncing,
                 .uploads = 300,
                 .uploadsStarted = 123,
                 .uploadsDone = 121,
                 .bytes = 120 * mb,
                 .bytesMoved = 45200 * 1000,
                 .deletes = 12,
                 .deletesDone = 12,
                 .elapsedMs = 25000,
                 .uploadingMs = 20000}
        << "Uploading 123 of 300 files · 45.2 of 120.0 MB · 2.3 MB/s · about 33 s "
           "left · 12 deletes";
    QTest::newRow("hours left")
        << State{.phase = Phase::Syncing,
                 .uploads = 5,
                 .uploadsStarted = 2,
                 .bytes = 4000 * mb,
                 .bytesMoved = 10 * mb,
                 .elapsedMs = 10000,
                 .uploadingMs = 10000}
        << "Uploading 2 of 5 files · 0.0 of 4.0 GB · 1.0 MB/s · about 1 h 7 min left";
    QTest::newRow("a small file") << State{.phase = Phase::Syncing,
                                           .uploads = 1,
                                           .uploadsStarted = 1,
                                           .bytes = 700,
                                           .bytesMoved = 300,
                                           .elapsedMs = 500,
                                           .uploadingMs = 500}
                                  << "Uploading 1 of 1 file · 300 of 700 B";
    QTest::newRow("synced") << State{.phase = Phase::Synced,
                                     .uploads = 300,
                                     .uploadsStarted = 300,
                                     .uploadsDone = 300,
                                     .bytes = 120 * mb,
                                     .bytesMoved = 120 * mb,
                                     .bytesDone = 120 * mb,
                                     .deletes = 12,
                                     .deletesDone = 12,
                                     .elapsedMs = 52000}
                            << "Synced 300 files (120.0 MB) and 12 deletes in 52 s";
    QTest::newRow("synced, one failed") << State{.phase = Phase::Synced,
                                                 .uploads = 3,
                                                 .uploadsStarted = 3,
                                                 .uploadsDone = 2,
                                                 .bytes = 3500,
                                                 .bytesMoved = 3500,
                                                 .bytesDone = 2500,
                                                 .failed = 1,
                                                 .elapsedMs = 125000}
                                        << "Synced 2 files (2.5 kB) in 2 min 5 s; 1 failed";
    QTest::newRow("only deletes") << State{.phase = Phase::Synced,
                                           .deletes = 2,
                                           .deletesDone = 2,
                                           .elapsedMs = 3700000}
                                  << "Synced 2 deletes in 1 h 1 min";
    QTest::newRow("nothing ticked") << State{.phase = Phase::Synced, .elapsedMs = 10}
                                    << "Synced 0 files (0 B) in less than 1 s";
    QTest::newRow("stopped") << State{.phase = Phase::Stopped,
                                      .uploads = 3,
                                      .uploadsStarted = 2,
                                      .uploadsDone = 1,
                                      .bytes = 3,
                                      .bytesMoved = 1,
                                      .bytesDone = 1,
                                      .deletes = 1,
                                      .deletesDone = 1,
                                      .elapsedMs = 3400}
                             << "Stopped after 1 file (1 B) and 1 delete in 3 s";
}

void TestCompare::progressText() {
    QFETCH(RunProgress::State, state);
    QFETCH(QString, text);
    QCOMPARE(RunProgress::describe(state), text);
}

QTEST_GUILESS_MAIN(TestCompare)
#include "tst_compare.moc"
