#include "ftp/RemoteTree.h"
#include "ftp/Session.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestServers.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QtTest>

#include <algorithm>

#include <utime.h>

namespace {

struct Walk {
    FolderQueue queue;
    QStringList paths;
    QList<qint64> sizes;
    int yields = 0; // calls that let the window work
};

QStringList sorted(QStringList list) {
    list.sort();
    return list;
}

QStringList queueItems(const FolderQueue& queue) {
    QStringList items;
    for (int i = 1; i <= queue.count(); ++i)
        items << queue.item(i);
    return items;
}

// A tree of random shape below `folder`: folders with files and subfolders,
// some empty, names repeated across folders, sizes of a few hundred bytes.
// Answers how many folders it made, the folder itself included.
int makeRandomTree(const QString& folder, quint32 seed) {
    QRandomGenerator random(seed);
    const QStringList fileNames{"a", "b.txt", "c.dat", "index.html", "x y", "z"};
    const QStringList folderNames{"s1", "s2", "sub", "t", "u v", "w"};
    QStringList pending{folder};
    int made = 0;
    while (!pending.isEmpty() && made < 40) {
        const QString current = pending.takeFirst();
        if (!QDir().mkpath(current))
            return -1;
        ++made;
        const int files = int(random.bounded(5));
        for (int i = 0; i < files; ++i) {
            const QString name = fileNames.at(random.bounded(int(fileNames.size())));
            if (!TestFiles::writeSizedFile(current + name, random.bounded(700)))
                return -1;
        }
        const int depth = int(current.mid(folder.size()).count(QLatin1Char('/')));
        // The top has subfolders for sure, so that there is a walk to share.
        const int folders = depth == 0  ? 2 + int(random.bounded(3))
                            : depth < 4 ? int(random.bounded(4))
                                        : 0;
        QStringList names = folderNames;
        for (int i = 0; i < folders; ++i)
            pending << current + names.takeAt(random.bounded(int(names.size()))) + '/';
    }
    return made;
}

// Whether two walks came out the same: paths, sizes and the queue, in order.
void compareWalks(const Walk& actual, const Walk& expected) {
    QCOMPARE(actual.paths, expected.paths);
    QCOMPARE(actual.sizes, expected.sizes);
    QCOMPARE(queueItems(actual.queue), queueItems(expected.queue));
}

int listingCommands(const FtpTestServer& server) {
    int count = 0;
    for (const QByteArray& line : server.commandLog()) {
        if (line.startsWith("MLSD") || line.startsWith("LIST"))
            ++count;
    }
    return count;
}

} // namespace

class TestRemoteTree : public QObject {
    Q_OBJECT
private slots:
    void cleanup();

    void isQueued_data();
    void isQueued();
    void breadthFirstOrder_data();
    void breadthFirstOrder();
    void listingStyles_data();
    void listingStyles();
    void foldersWithoutFiles_data();
    void foldersWithoutFiles();
    void unlistableFolderIsSkipped_data();
    void unlistableFolderIsSkipped();
    void sizesBeyond2GiBKeepTheirValue();
    void deepTreeEnds();
    void severalSessionsWalkAsOne_data();
    void severalSessionsWalkAsOne();
    void perAddressLimit_data();
    void perAddressLimit();
    void droppedSessionLosesNoFolder();
    void sessionThatCannotListIsLetGo();

private:
    bool startServer(FtpTestServer& server);
    Walk walk(const QString& remoteFolder, int transfers = 1);

    Session session_;
};

void TestRemoteTree::cleanup() {
    session_.close();
}

// False when the server cannot start or refuses the log-in, the failure (or
// the skip) already recorded.
bool TestRemoteTree::startServer(FtpTestServer& server) {
    if (!TestServers::start(server, __FILE__, __LINE__))
        return false;
    if (server.logIn(session_))
        return true;
    QTest::qFail("the test server refused the log-in", __FILE__, __LINE__);
    return false;
}

// The walk as the compare run starts it: root pattern at position 1.
Walk TestRemoteTree::walk(const QString& remoteFolder, int transfers) {
    Walk w;
    const QString root = remoteFolder + QStringLiteral("*.*");
    w.queue.append(root);
    PathTable paths;
    if (transfers == 1)
        ListRemoteTree(session_, w.queue, root, paths, w.sizes, 2);
    else
        ListRemoteTree(session_, w.queue, root, paths, w.sizes, 2, transfers, [&w] { ++w.yields; });
    w.paths = paths.toStringList();
    return w;
}

void TestRemoteTree::isQueued_data() {
    QTest::addColumn<QStringList>("queued");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<bool>("expected");
    const QStringList q{"/www/*.*", "/www/s1/*.*"};
    QTest::newRow("empty queue") << QStringList{} << "/www/*.*" << false;
    QTest::newRow("later entry") << q << "/www/s1/*.*" << true;
    QTest::newRow("letter case counts") << q << "/WWW/*.*" << false;
    QTest::newRow("prefix only") << q << "/www/s1/" << false;
}

void TestRemoteTree::isQueued() {
    QFETCH(QStringList, queued);
    QFETCH(QString, pattern);
    QFETCH(bool, expected);
    FolderQueue queue;
    for (const QString& p : queued)
        queue.append(p);
    QCOMPARE(IsQueued(queue, pattern), expected);
}

void TestRemoteTree::breadthFirstOrder_data() {
    QTest::addColumn<FtpTestServer::Kind>("kind");
    QTest::addColumn<bool>("hideMlsd");
    QTest::addColumn<bool>("dosListing");
    QTest::newRow("pyftpdlib, MLSD") << FtpTestServer::Kind::Pyftpdlib << false << false;
    QTest::newRow("pyftpdlib, Unix LIST") << FtpTestServer::Kind::Pyftpdlib << true << false;
    QTest::newRow("pyftpdlib, DOS LIST") << FtpTestServer::Kind::Pyftpdlib << true << true;
    QTest::newRow("vsftpd") << FtpTestServer::Kind::Vsftpd << false << false;
}

void TestRemoteTree::breadthFirstOrder() {
    QFETCH(FtpTestServer::Kind, kind);
    QFETCH(bool, hideMlsd);
    QFETCH(bool, dosListing);
    FtpTestServer server(kind, {hideMlsd, dosListing});
    if (!startServer(server))
        return;
    const QString root = server.rootPath() + QStringLiteral("/www/");
    QVERIFY(TestFiles::writeSizedFile(root + "a", 1));
    QVERIFY(TestFiles::writeSizedFile(root + "b", 22));
    QVERIFY(TestFiles::writeSizedFile(root + "s1/c", 333));
    QVERIFY(TestFiles::writeSizedFile(root + "s2/t/d", 4444));

    const Walk w = walk(QStringLiteral("/www/"));

    // Within one folder the server's listing order decides; across folders
    // the order is breadth first.
    QCOMPARE(w.paths.size(), 4);
    QCOMPARE(sorted(w.paths.mid(0, 2)), QStringList({"/www/a", "/www/b"}));
    QCOMPARE(w.paths.mid(2), QStringList({"/www/s1/c", "/www/s2/t/d"}));
    QCOMPARE(w.sizes.size(), w.paths.size());
    for (int i = 0; i < w.paths.size(); ++i) {
        const qint64 expected = QFileInfo(server.rootPath() + w.paths[i]).size();
        QCOMPARE(w.sizes[i], expected);
    }
    const QStringList q = queueItems(w.queue);
    QCOMPARE(q.size(), 4);
    QCOMPARE(q[0], QStringLiteral("/www/*.*"));
    QCOMPARE(sorted(q.mid(1, 2)), QStringList({"/www/s1/*.*", "/www/s2/*.*"}));
    QCOMPARE(q[3], QStringLiteral("/www/s2/t/*.*"));
}

// Servers whose LIST speaks another language, another date format or names
// owners with blanks: the walk still sees every file with its size. Some
// files are old, so that their date shows a year; some names begin with a
// blank or with digits.
void TestRemoteTree::listingStyles_data() {
    QTest::addColumn<QString>("style");
    for (const char* style : {"german", "chinese", "iso", "multiword-owner"})
        QTest::newRow(style) << QString::fromLatin1(style);
}

void TestRemoteTree::listingStyles() {
    QFETCH(QString, style);
    FtpTestServer::Options options;
    options.listStyle = style;
    FtpTestServer server(FtpTestServer::Kind::Pyftpdlib, options);
    if (!startServer(server))
        return;
    const QString root = server.rootPath() + QStringLiteral("/www/");
    // Odd sizes are old: their dates show a year instead of a time.
    const time_t old = QDateTime(QDate(2005, 3, 2), QTime(16, 27), Qt::UTC).toSecsSinceEpoch();
    const utimbuf oldTimes{old, old};
    const QMap<QString, qint64> files{{"/www/a.txt", 1},
                                      {"/www/ lead blank", 12},
                                      {"/www/2005 report.txt", 2005},
                                      {"/www/sub/12 Mar  2 16:27 x", 333},
                                      {"/www/old folder/1,234", 1234568}};
    for (auto it = files.begin(); it != files.end(); ++it) {
        const QString path = server.rootPath() + it.key();
        QVERIFY(TestFiles::writeSizedFile(path, it.value()));
        if (it.value() % 2 == 1)
            QCOMPARE(::utime(QFile::encodeName(path).constData(), &oldTimes), 0);
    }
    QCOMPARE(::utime(QFile::encodeName(root + "old folder").constData(), &oldTimes), 0);

    const Walk w = walk(QStringLiteral("/www/"));
    QMap<QString, qint64> seen;
    for (int i = 0; i < w.paths.size(); ++i)
        seen.insert(w.paths[i], w.sizes.value(i, -1));
    QCOMPARE(seen, files);
    QVERIFY(queueItems(w.queue).contains(QStringLiteral("/www/old folder/*.*")));
}

void TestRemoteTree::foldersWithoutFiles_data() {
    QTest::addColumn<QStringList>("folders"); // created below the server root
    QTest::addColumn<QStringList>("queue");
    QTest::newRow("empty folder") << QStringList{"www"} << QStringList{"/www/*.*"};
    QTest::newRow("missing folder") << QStringList{} << QStringList{"/www/*.*"};
    QTest::newRow("only empty subfolders")
        << QStringList{"www/e1/e2"} << QStringList{"/www/*.*", "/www/e1/*.*", "/www/e1/e2/*.*"};
}

void TestRemoteTree::foldersWithoutFiles() {
    QFETCH(QStringList, folders);
    QFETCH(QStringList, queue);
    FtpTestServer server;
    if (!startServer(server))
        return;
    for (const QString& f : folders)
        QVERIFY(QDir(server.rootPath()).mkpath(f));
    const Walk w = walk(QStringLiteral("/www/"));
    QVERIFY(w.paths.isEmpty());
    QVERIFY(w.sizes.isEmpty());
    QCOMPARE(queueItems(w.queue), queue);
}

void TestRemoteTree::unlistableFolderIsSkipped_data() {
    QTest::addColumn<int>("transfers");
    QTest::newRow("one session") << 1;
    QTest::newRow("four sessions") << 4;
}

void TestRemoteTree::unlistableFolderIsSkipped() {
    QFETCH(int, transfers);
    FtpTestServer server;
    if (!startServer(server))
        return;
    const QString root = server.rootPath() + QStringLiteral("/www/");
    QVERIFY(TestFiles::writeSizedFile(root + "a", 1));
    QVERIFY(TestFiles::writeSizedFile(root + "s1/c", 3));
    QVERIFY(TestFiles::writeSizedFile(root + "s1/deeper/e", 5));
    QVERIFY(TestFiles::writeSizedFile(root + "s2/t/d", 4));
    // Refused however the client asks for the listing: entering the folder
    // or listing it by name.
    for (const char* verb : {"CWD", "MLSD", "LIST", "NLST"})
        server.addFault({QString::fromLatin1(verb), QStringLiteral("refuse"), 0, 0, -1,
                         QStringLiteral("/www/s1")});

    const Walk w = walk(QStringLiteral("/www/"), transfers);
    QCOMPARE(w.paths, QStringList({"/www/a", "/www/s2/t/d"}));
    QVERIFY(queueItems(w.queue).contains(QStringLiteral("/www/s1/*.*")));
}

void TestRemoteTree::sizesBeyond2GiBKeepTheirValue() {
    FtpTestServer server;
    if (!startServer(server))
        return;
    const QString root = server.rootPath() + QStringLiteral("/www/");
    if (!TestFiles::writeSizedFile(root + "big.iso", 3000000000LL))
        QSKIP("the temporary folder cannot hold a sparse file of 3,000,000,000 bytes");
    QVERIFY(TestFiles::writeSizedFile(root + "small", 7));
    const Walk w = walk(QStringLiteral("/www/"));
    QCOMPARE(w.paths.size(), 2);
    const int big = int(w.paths.indexOf(QStringLiteral("/www/big.iso")));
    QVERIFY(big >= 0);
    QCOMPARE(w.sizes[big], 3000000000LL);
    QCOMPARE(w.sizes[1 - big], 7LL);
}

// A tree deeper than any real site ends the walk at the depth bound (which
// also ends a walk round a folder cycle) with everything above it listed.
void TestRemoteTree::deepTreeEnds() {
    FtpTestServer server;
    if (!startServer(server))
        return;
    QString folder = server.rootPath() + QStringLiteral("/www/");
    const int levels = 140;
    for (int i = 0; i <= levels; ++i) {
        QVERIFY(TestFiles::writeSizedFile(folder + "f", i));
        folder += QStringLiteral("d/");
    }
    const Walk w = walk(QStringLiteral("/www/"));
    QCOMPARE(w.paths.size(), 129); // the start folder and 128 levels below it
    QCOMPARE(w.paths.first(), QStringLiteral("/www/f"));
    QCOMPARE(w.paths.last(), QStringLiteral("/www/") + QStringLiteral("d/").repeated(128) + "f");
    QCOMPARE(w.sizes.last(), 128LL);
}

// Listing over several sessions at once changes nothing the walk delivers:
// files, sizes and queue come in the order of the walk over one session.
void TestRemoteTree::severalSessionsWalkAsOne_data() {
    QTest::addColumn<FtpTestServer::Kind>("kind");
    QTest::addColumn<int>("transfers");
    QTest::addColumn<quint32>("seed");
    const quint32 seeds[] = {11, 2024, 777};
    for (const quint32 seed : seeds) {
        for (const int transfers : {2, 8}) {
            QTest::addRow("pyftpdlib, %d sessions, tree %u", transfers, seed)
                << FtpTestServer::Kind::Pyftpdlib << transfers << seed;
        }
    }
    QTest::newRow("vsftpd, 2 sessions") << FtpTestServer::Kind::Vsftpd << 2 << 5u;
    QTest::newRow("vsftpd, 8 sessions") << FtpTestServer::Kind::Vsftpd << 8 << 6u;
}

void TestRemoteTree::severalSessionsWalkAsOne() {
    QFETCH(FtpTestServer::Kind, kind);
    QFETCH(int, transfers);
    QFETCH(quint32, seed);
    FtpTestServer server(kind);
    if (!startServer(server))
        return;
    QVERIFY(makeRandomTree(server.rootPath() + QStringLiteral("/www/"), seed) > 1);

    const Walk one = walk(QStringLiteral("/www/"));
    QVERIFY(!one.paths.isEmpty());
    const Walk several = walk(QStringLiteral("/www/"), transfers);
    compareWalks(several, one);
    // The window gets its turn at least once a folder, however quickly the
    // listings come.
    QVERIFY2(several.yields >= several.queue.count(), qPrintable(QString::number(several.yields)));
    // The extra sessions are gone with the walk; the main one stays.
    QCOMPARE(server.openControlConnections(), 1);
    QVERIFY(session_.isConnected());
}

// A server that lets one address hold only so many connections refuses the
// extra sessions beyond that; the walk goes on over those it has.
void TestRemoteTree::perAddressLimit_data() {
    QTest::addColumn<FtpTestServer::Kind>("kind");
    QTest::addColumn<int>("limit");
    QTest::newRow("pyftpdlib, one per address") << FtpTestServer::Kind::Pyftpdlib << 1;
    QTest::newRow("pyftpdlib, two per address") << FtpTestServer::Kind::Pyftpdlib << 2;
    // Vsftpd counts the probe that saw it start until that connection's
    // process has ended.
    QTest::newRow("vsftpd, two per address") << FtpTestServer::Kind::Vsftpd << 2;
}

void TestRemoteTree::perAddressLimit() {
    QFETCH(FtpTestServer::Kind, kind);
    QFETCH(int, limit);
    FtpTestServer::Options options;
    options.maxConnectionsPerAddress = limit;
    FtpTestServer server(kind, options);
    if (!startServer(server))
        return;
    QVERIFY(makeRandomTree(server.rootPath() + QStringLiteral("/www/"), 99) > 1);

    const Walk one = walk(QStringLiteral("/www/"));
    compareWalks(walk(QStringLiteral("/www/"), 8), one);
    QCOMPARE(server.openControlConnections(), 1);
    // The main session was never what the server turned away.
    compareWalks(walk(QStringLiteral("/www/")), one);
}

// A session that drops in the middle of the walk costs a listing again over
// the main session, never the folder's files.
void TestRemoteTree::droppedSessionLosesNoFolder() {
    FtpTestServer server;
    if (!startServer(server))
        return;
    const int folders = makeRandomTree(server.rootPath() + QStringLiteral("/www/"), 4242);
    QVERIFY(folders > 3);
    const Walk one = walk(QStringLiteral("/www/"));
    QCOMPARE(listingCommands(server), folders);

    // The main session (the server's first connection) lists slowly, so
    // that the extra ones list most folders; the first listing an extra
    // session asks for ends its connection instead.
    FtpTestServer::Fault slow{QStringLiteral("MLSD"), QStringLiteral("delay"), 0, 150, -1, {}};
    slow.untilConnection = 1;
    server.addFault(slow);
    FtpTestServer::Fault drop{QStringLiteral("MLSD"), QStringLiteral("drop"), 0, 0, 1, {}};
    drop.fromConnection = 2;
    server.addFault(drop);

    compareWalks(walk(QStringLiteral("/www/"), 4), one);
    // Every folder once more, and the dropped listing again.
    QCOMPARE(listingCommands(server), 2 * folders + 1);
    QCOMPARE(server.openControlConnections(), 1);
}

// A server that logs extra sessions in but will not list anything over them
// costs the walk a few listings, not one more per folder.
void TestRemoteTree::sessionThatCannotListIsLetGo() {
    FtpTestServer server;
    if (!startServer(server))
        return;
    const int folders = makeRandomTree(server.rootPath() + QStringLiteral("/www/"), 515);
    QVERIFY(folders > 3);
    const Walk one = walk(QStringLiteral("/www/"));
    QCOMPARE(listingCommands(server), folders);

    FtpTestServer::Fault refuse{QStringLiteral("MLSD"), QStringLiteral("refuse"), 0, 0, -1, {}};
    refuse.fromConnection = 2;
    server.addFault(refuse);
    const int extra = 3;
    compareWalks(walk(QStringLiteral("/www/"), extra + 1), one);
    // Each extra session is let go after its second folder that the main
    // session could list.
    QVERIFY2(listingCommands(server) <= 2 * folders + 2 * extra,
             qPrintable(QString::number(listingCommands(server))));
    QCOMPARE(server.openControlConnections(), 1);
}

QTEST_GUILESS_MAIN(TestRemoteTree)
#include "tst_remote_tree.moc"
