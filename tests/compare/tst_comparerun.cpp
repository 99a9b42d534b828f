// The compare run against real local trees and a loopback FTP server, through
// a window stand-in.

#include "compare/CompareRun.h"
#include "core/UiYield.h"
#include "core/VbError.h"
#include "sync/SyncRun.h"
#include "tests/support/FakeHost.h"
#include "tests/support/MessageRecorder.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestServers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace {

const QString kDeleted = ActionCaption(RowKind::Delete);
const QString kUpload = ActionCaption(RowKind::Upload);
const QString kOverwrite = ActionCaption(RowKind::Overwrite);
const QString kIdentical = QStringLiteral("No synchronization necessary -- folders are identical");

using Tree = TestFiles::SizedTree;
using TestFiles::makeTree;

struct Row {
    QString source, action, destination;
    bool checked;
    bool operator<(const Row& o) const {
        return std::tie(action, source, destination) < std::tie(o.action, o.source, o.destination);
    }
    bool operator==(const Row& o) const {
        return source == o.source && action == o.action && destination == o.destination &&
               checked == o.checked;
    }
};

QList<Row> rowsOf(const ResultListModel& m) {
    QList<Row> rows;
    for (int i = 0; i < m.rowCount(); ++i)
        rows.append({m.source(i), m.action(i), m.destination(i), m.isChecked(i)});
    return rows;
}

QString describe(const QList<Row>& rows) {
    QStringList out;
    for (const Row& r : rows)
        out.append(r.source + " |" + r.action + "| " + r.destination + (r.checked ? "" : " [ ]"));
    return out.join(u'\n');
}

// A local and a remote tree that share some names, in the same folders or in
// others, with the same sizes or others; names that differ only in case and
// names starting with "~" among them.
std::pair<Tree, Tree> randomTreePair(quint32 seed) {
    QRandomGenerator random(seed);
    const QStringList folders{"", "a/", "a/b/", "c/", "c/d e/", "c/f/", "g/h/i/"};
    const QStringList names{"index.html", "x.txt", "y.dat", "z", "~tmp", "Read.me", "read.me"};
    Tree local, remote;
    for (int i = 0; i < 40; ++i) {
        const QString path = folders.at(random.bounded(int(folders.size()))) +
                             names.at(random.bounded(int(names.size())));
        (random.bounded(2) ? local : remote).insert(path, random.bounded(4));
    }
    return {local, remote};
}

} // namespace

class TestCompareRun : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void busyHostIgnoresRuns_data();
    void busyHostIgnoresRuns();
    void missingFolderBox_data();
    void missingFolderBox();
    void unusableLocalFolder_data();
    void unusableLocalFolder();
    void unreachableServer();
    void rowsAgainstServer_data();
    void rowsAgainstServer();
    void rowOrderAndSessionLeftOpen_data();
    void rowOrderAndSessionLeftOpen();
    void folderEditsDuringTheRun();
    void unreadFolderIsNoIdenticalTree();
    void severalSessionsRowsAsOne_data();
    void severalSessionsRowsAsOne();
    void closedWindowMidWalkLeavesOneSession();
    void logInLetsTheWindowWork_data();
    void logInLetsTheWindowWork();
    void serversAsTheyAre_data();
    void serversAsTheyAre();

private:
    void pointAt(FakeHost& host, const FtpTestServer& server);
    std::unique_ptr<QTemporaryDir> localRoot_;
};

void TestCompareRun::init() {
    localRoot_ = std::make_unique<QTemporaryDir>();
    QVERIFY(localRoot_->isValid());
    UiYield::setInterval(15);
}

void TestCompareRun::cleanup() {
    UiYield::setHook({});
    UiYield::resetAbort();
    UiYield::setInterval(15);
}

void TestCompareRun::pointAt(FakeHost& host, const FtpTestServer& server) {
    host.hostName = server.host();
    host.port = QString::number(server.port());
    host.userName = server.user();
    host.password = server.password();
}

void TestCompareRun::busyHostIgnoresRuns_data() {
    QTest::addColumn<bool>("sync");
    QTest::newRow("compare") << false;
    QTest::newRow("sync") << true;
}

void TestCompareRun::busyHostIgnoresRuns() {
    QFETCH(bool, sync);
    MessageRecorder rec;
    FakeHost host;
    host.busy = true;
    host.localFolder = localRoot_->path() + '/';
    host.remoteFolder.clear(); // would give a message if the run went ahead
    host.model.addRow(RowKind::Upload, "/l/a", "/r/a");
    host.model.setChecked(0, false);

    if (sync)
        RunSync(host);
    else
        RunCompare(host);

    QVERIFY(host.busy);
    QVERIFY(!host.hourglass);
    QCOMPARE(host.model.rowCount(), 1);
    QVERIFY(!host.model.isChecked(0));
    QCOMPARE(host.columnsRecreated, 0);
    QCOMPARE(rec.texts(), QStringList{});
}

void TestCompareRun::missingFolderBox_data() {
    QTest::addColumn<bool>("localEmpty");
    QTest::addColumn<bool>("remoteEmpty");
    QTest::newRow("local") << true << false;
    QTest::newRow("remote") << false << true;
    QTest::newRow("both") << true << true;
}

void TestCompareRun::missingFolderBox() {
    QFETCH(bool, localEmpty);
    QFETCH(bool, remoteEmpty);
    MessageRecorder rec;
    FakeHost host;
    host.port = QString::number(FtpTestServer::freeLoopbackPort());
    host.localFolder = localEmpty ? QString() : localRoot_->path() + '/';
    host.remoteFolder = remoteEmpty ? QString() : QStringLiteral("/");
    host.model.addRow(RowKind::Delete, "/old");
    bool hourglassDuringRun = false;
    rec.onShow = [&](const MessageBoxSpec&) { hourglassDuringRun = host.hourglass; };

    RunCompare(host);

    QCOMPARE(rec.texts(), QStringList{"You forgot to input local/remote folder."});
    QCOMPARE(rec.boxes().first().icon, MessageBoxSpec::Icon::None);
    QVERIFY(hourglassDuringRun);
    QCOMPARE(host.model.rowCount(), 0);
    QVERIFY(!host.hourglass);
    QVERIFY(!host.busy);
    QCOMPARE(host.columnsRecreated, 0);
}

void TestCompareRun::unusableLocalFolder_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("missing") << "missing";
    QTest::newRow("a file") << "file";
    QTest::newRow("unreadable") << "unreadable";
}

void TestCompareRun::unusableLocalFolder() {
    // Nothing may be proposed (and the server is not contacted): an empty
    // local tree would propose deleting every remote file.
    QFETCH(QString, kind);
    QString folder = localRoot_->path() + "/nothere/";
    if (kind == "file") {
        folder = localRoot_->path() + "/plain";
        QVERIFY(makeTree(localRoot_->path(), {{"plain", 3}}));
    } else if (kind == "unreadable") {
        folder = localRoot_->path() + "/locked/";
        QVERIFY(makeTree(localRoot_->path(), {{"locked/a.txt", 3}}));
        QVERIFY(QFile::setPermissions(folder, QFileDevice::WriteOwner));
        if (QDir(folder).entryList(QDir::Files).size() > 0) {
            QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                              QFileDevice::ExeOwner);
            QSKIP("running with rights that read any folder");
        }
    }
    MessageRecorder rec;
    FakeHost host;
    host.port = QString::number(FtpTestServer::freeLoopbackPort());
    host.localFolder = folder;
    host.model.addRow(RowKind::Delete, "/old");

    RunCompare(host);

    if (kind == "unreadable")
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner);
    QCOMPARE(rec.texts(),
             QStringList{"The local folder does not exist or cannot be read: " + folder});
    QCOMPARE(host.model.rowCount(), 0);
    QCOMPARE(host.columnsRecreated, 0);
    QVERIFY(!host.busy);
    QVERIFY(!host.hourglass);
}

void TestCompareRun::unreachableServer() {
    QVERIFY(makeTree(localRoot_->path(), {{"a.txt", 3}, {"s/b.txt", 4}, {"s/t/c.txt", 5}}));
    MessageRecorder rec;
    FakeHost host;
    host.port = QString::number(FtpTestServer::freeLoopbackPort());
    host.localFolder = localRoot_->path() + '/';
    host.remoteFolder = "/www/";
    host.model.addRow(RowKind::Delete, "/old");
    host.model.setColumns({"x"});

    // The local tree is read before the server is contacted: each file costs
    // a yield request, all of them made before the failure is reported.
    UiYield::setInterval(0);
    int yields = 0;
    int yieldsBeforeMessage = -1;
    UiYield::setHook([&] { ++yields; });
    rec.onShow = [&](const MessageBoxSpec&) { yieldsBeforeMessage = yields; };

    RunCompare(host);

    QCOMPARE(rec.texts(), QStringList{"Could not connect."});
    QVERIFY2(yieldsBeforeMessage >= 3, qPrintable(QString::number(yieldsBeforeMessage)));
    QCOMPARE(host.model.rowCount(), 0);
    QCOMPARE(host.columnsRecreated, 0);
    QCOMPARE(host.model.columns(), QStringList{"x"});
    QVERIFY(!host.session().isConnected());
    QVERIFY(!host.busy);
    QVERIFY(!host.hourglass);
}

void TestCompareRun::rowsAgainstServer_data() {
    QTest::addColumn<Tree>("local");
    QTest::addColumn<Tree>("remote");      // below the server's root folder
    QTest::addColumn<QString>("localSub"); // the local folder box: root + this
    QTest::addColumn<QString>("remoteFolder");
    QTest::addColumn<QStringList>("rows"); // "action|source|destination", sorted
    QTest::addColumn<QStringList>("messages");

    // In rows, "L" stands for the local folder (with its separator).
    const QString U = kUpload, O = kOverwrite, D = kDeleted;
    const qint64 big = (qint64(4) << 30) + 10; // low 32 bits: 10

    QTest::newRow("identical trees")
        << Tree{{"a.txt", 5}, {"s/b.txt", 7}} << Tree{{"www/a.txt", 5}, {"www/s/b.txt", 7}} << "/"
        << "/www/" << QStringList{} << QStringList{kIdentical};
    QTest::newRow("tilde files ignored locally")
        << Tree{{"~a.txt", 5}, {"~lock", 1}, {"b", 1}} << Tree{{"www/~a.txt", 5}, {"www/b", 1}}
        << "/"
        << "/www/" << QStringList{D + "|/www/~a.txt|"} << QStringList{};
    QTest::newRow("names match across folders")
        << Tree{{"s1/x.txt", 5}} << Tree{{"www/s2/x.txt", 5}} << "/"
        << "/www/" << QStringList{} << QStringList{kIdentical};
    QTest::newRow("letter case counts")
        << Tree{{"Read.me", 5}} << Tree{{"www/read.me", 5}} << "/"
        << "/www/" << QStringList{D + "|/www/read.me|", U + "|L/Read.me|/www/Read.me"}
        << QStringList{};
    QTest::newRow("two smaller namesakes")
        << Tree{{"a.txt", 100}} << Tree{{"www/x/a.txt", 50}, {"www/y/a.txt", 60}} << "/"
        << "/www/" << QStringList{O + "|L/a.txt|/www/a.txt", O + "|L/a.txt|/www/a.txt"}
        << QStringList{};
    QTest::newRow("equal or larger namesakes")
        << Tree{{"a.txt", 100}} << Tree{{"www/x/a.txt", 100}, {"www/y/a.txt", 150}} << "/"
        << "/www/" << QStringList{} << QStringList{kIdentical};
    QTest::newRow("destination below the remote folder")
        << Tree{{"a/b.txt", 1}} << Tree{{"www/", 0}} << "/"
        << "/www/" << QStringList{U + "|L/a/b.txt|/www/a/b.txt"} << QStringList{};
    QTest::newRow("remote folder without trailing slash")
        << Tree{{"a/b.txt", 1}} << Tree{{"www/old", 1}} << "/"
        << "/www" << QStringList{D + "|/www/old|", U + "|L/a/b.txt|/www/a/b.txt"} << QStringList{};
    QTest::newRow("local folder without trailing separator")
        << Tree{{"site/a/b.txt", 1}} << Tree{{"www/", 0}} << "/site"
        << "/www/" << QStringList{U + "|L/a/b.txt|/www/a/b.txt"} << QStringList{};
    QTest::newRow("server root as remote folder")
        << Tree{{"a.txt", 1}} << Tree{{"z.txt", 1}} << "/"
        << "/" << QStringList{D + "|/z.txt|", U + "|L/a.txt|/a.txt"} << QStringList{};
    QTest::newRow("missing remote folder")
        << Tree{{"a.txt", 1}, {"s/b.txt", 2}} << Tree{{"www/a.txt", 0}} << "/"
        << "/nothere/"
        << QStringList{U + "|L/a.txt|/nothere/a.txt", U + "|L/s/b.txt|/nothere/s/b.txt"}
        << QStringList{};
    QTest::newRow("missing remote folder, empty local tree")
        << Tree{{"empty/", 0}} << Tree{{"www/a.txt", 0}} << "/empty"
        << "/nothere/" << QStringList{} << QStringList{kIdentical};
    QTest::newRow("folders get no rows")
        << Tree{{"a.txt", 1}, {"emptydir/", 0}}
        << Tree{{"www/a.txt", 1}, {"www/extra/f.txt", 1}, {"www/extra/deeper/", 0}} << "/"
        << "/www/" << QStringList{D + "|/www/extra/f.txt|"} << QStringList{};
    QTest::newRow("sizes beyond 32 bits")
        << Tree{{"big", big}, {"small", 20}} << Tree{{"www/big", 20}, {"www/small", big}} << "/"
        << "/www/" << QStringList{O + "|L/big|/www/big"} << QStringList{};
}

void TestCompareRun::rowsAgainstServer() {
    QFETCH(Tree, local);
    QFETCH(Tree, remote);
    QFETCH(QString, localSub);
    QFETCH(QString, remoteFolder);
    QFETCH(QStringList, rows);
    QFETCH(QStringList, messages);

    FtpTestServer server;
    START_TEST_SERVER(server);
    QVERIFY(makeTree(localRoot_->path(), local));
    QVERIFY(makeTree(server.rootPath(), remote));

    MessageRecorder rec;
    FakeHost host;
    pointAt(host, server);
    host.localFolder = QDir::toNativeSeparators(localRoot_->path() + localSub);
    host.remoteFolder = remoteFolder;
    host.model.addRow(RowKind::Delete, "/old");

    RunCompare(host);

    QString localFolder = host.localFolder;
    if (!localFolder.endsWith(QDir::separator()))
        localFolder += QDir::separator();
    QStringList got;
    for (const Row& r : rowsOf(host.model)) {
        QVERIFY2(r.checked, qPrintable(r.source));
        QString source = r.source;
        if (source.startsWith(localFolder))
            source = "L/" + QDir::fromNativeSeparators(source.mid(localFolder.size()));
        got.append(r.action + '|' + source + '|' + r.destination);
    }
    got.sort();
    QStringList want = rows;
    want.sort();
    QCOMPARE(got, want);
    QCOMPARE(rec.texts(), messages);
    QCOMPARE(host.columnsRecreated, 1);
    QVERIFY(host.listOption);
    QVERIFY(!host.busy);
    QVERIFY(!host.hourglass);
    // The boxes keep what the user typed.
    QCOMPARE(host.remoteFolder, remoteFolder);
    const QString pattern =
        (remoteFolder.endsWith('/') ? remoteFolder : remoteFolder + '/') + "*.*";
    QVERIFY(host.queue.count() >= 1);
    QCOMPARE(host.queue.item(1), pattern);
    if (!rows.isEmpty())
        QCOMPARE(host.visibleRows.last(), host.model.rowCount() - 1);
}

void TestCompareRun::rowOrderAndSessionLeftOpen_data() {
    TestServers::addKindRows();
}

void TestCompareRun::rowOrderAndSessionLeftOpen() {
    QFETCH(FtpTestServer::Kind, kind);
    FtpTestServer server(kind);
    START_TEST_SERVER(server);
    QVERIFY(makeTree(localRoot_->path(),
                     {{"n1", 1}, {"s/n2", 1}, {"o1", 9}, {"s/o2", 9}, {"same", 3}}));
    QVERIFY(makeTree(server.rootPath(),
                     {{"w/d1", 1}, {"w/s/d2", 1}, {"w/o1", 1}, {"w/o2", 2}, {"w/same", 3}}));

    MessageRecorder rec;
    FakeHost host;
    pointAt(host, server);
    host.localFolder = localRoot_->path() + '/';
    host.remoteFolder = "/w/";
    RunCompare(host);

    const QList<Row> rows = rowsOf(host.model);
    QVERIFY2(rows.size() == 6, qPrintable(describe(rows)));
    // Deletes first, then uploads, then overwrites.
    QStringList actions;
    for (const Row& r : rows)
        actions.append(r.action);
    QCOMPARE(actions, (QStringList{kDeleted, kDeleted, kUpload, kUpload, kOverwrite, kOverwrite}));
    // The root folder's files come before those of its subfolders on both sides.
    QCOMPARE(rows[1].source, QStringLiteral("/w/s/d2"));
    QCOMPARE(rows[3].source, host.localFolder + "s/n2");
    QCOMPARE(rows[5].source, host.localFolder + "s/o2");
    QVERIFY(rec.texts().isEmpty());

    // The session stays logged in for the sync run.
    const Session& session = host.session();
    QVERIFY(session.isConnected());
    QVERIFY(session.currentDirectory());

    // A new run logs in afresh and lets go of the previous connection.
    const int previous = session.connectionNumber();
    RunCompare(host);
    QCOMPARE(host.model.rowCount(), 6);
    QVERIFY(session.isConnected() && session.connectionNumber() != previous);
    QTRY_COMPARE(server.openControlConnections(), 1);
    QVERIFY(session.currentDirectory());
}

void TestCompareRun::unreadFolderIsNoIdenticalTree() {
    // A link to a folder that is not there cannot be read even by root: the
    // trees are not known to be identical, so only the unread folder is told.
    FtpTestServer server;
    START_TEST_SERVER(server);
    QVERIFY(makeTree(localRoot_->path(), {{"same.txt", 3}}));
    QVERIFY(makeTree(server.rootPath(), {{"www/same.txt", 3}, {"www/disk/kept.txt", 4}}));
    QVERIFY(QFile::link(QStringLiteral("/nonexistent/pellmor-disk"),
                        localRoot_->path() + QStringLiteral("/disk")));

    MessageRecorder rec;
    FakeHost host;
    pointAt(host, server);
    host.localFolder = localRoot_->path() + '/';
    host.remoteFolder = "/www/";
    RunCompare(host);

    QCOMPARE(host.model.rowCount(), 0);
    QCOMPARE(rec.texts().size(), 1);
    QVERIFY2(rec.texts().first().contains(QStringLiteral("could not be read")),
             qPrintable(rec.texts().first()));
}

void TestCompareRun::folderEditsDuringTheRun() {
    // The rows describe the trees that were compared, whatever the user types
    // into the folder boxes while the run goes on.
    FtpTestServer server;
    START_TEST_SERVER(server);
    Tree local;
    for (int i = 0; i < 200; ++i)
        local.insert(QString("s/f%1").arg(i), 1);
    QVERIFY(makeTree(localRoot_->path(), local));
    QVERIFY(makeTree(server.rootPath(), {{"www/", 0}}));

    MessageRecorder rec;
    FakeHost host;
    pointAt(host, server);
    host.localFolder = localRoot_->path() + '/';
    host.remoteFolder = "/www/";
    const QString typedLocal = host.localFolder;
    UiYield::setInterval(0);
    UiYield::setHook([&] {
        host.localFolder = "/elsewhere/";
        host.remoteFolder = "/other/";
    });
    RunCompare(host);
    UiYield::setHook({});

    QCOMPARE(host.model.rowCount(), 200);
    for (int i = 0; i < host.model.rowCount(); ++i) {
        QVERIFY(host.model.source(i).startsWith(typedLocal + "s/f"));
        QCOMPARE(host.model.destination(i), "/www/" + host.model.source(i).mid(typedLocal.size()));
    }
}

// Rows and their order do not depend on how many sessions list the server.
// Nor does the run wait for an extra session whose log-in the server holds
// for longer than the walk takes: it is cut off as the walk ends.
void TestCompareRun::severalSessionsRowsAsOne_data() {
    QTest::addColumn<FtpTestServer::Kind>("kind");
    QTest::addColumn<int>("transfers");
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<bool>("extraLogInsHeld");
    for (const quint32 seed : {3u, 58u}) {
        for (const int transfers : {2, 8})
            QTest::addRow("pyftpdlib, %d sessions, trees %u", transfers, seed)
                << FtpTestServer::Kind::Pyftpdlib << transfers << seed << false;
    }
    QTest::newRow("vsftpd, 8 sessions") << FtpTestServer::Kind::Vsftpd << 8 << 71u << false;
    QTest::newRow("extra log-ins held for ten minutes")
        << FtpTestServer::Kind::Pyftpdlib << 4 << 58u << true;
}

void TestCompareRun::severalSessionsRowsAsOne() {
    QFETCH(FtpTestServer::Kind, kind);
    QFETCH(int, transfers);
    QFETCH(quint32, seed);
    QFETCH(bool, extraLogInsHeld);
    FtpTestServer server(kind);
    START_TEST_SERVER(server);
    if (extraLogInsHeld) {
        // The main session (the server's first connections) lists slowly,
        // so that the walk asks for more; theirs never log in.
        FtpTestServer::Fault slow{QStringLiteral("MLSD"), QStringLiteral("delay"), 0, 50, -1, {}};
        slow.untilConnection = 2;
        server.addFault(slow);
        FtpTestServer::Fault held{
            QStringLiteral("PASS"), QStringLiteral("delay"), 0, 600000, -1, {}};
        held.fromConnection = 3;
        server.addFault(held);
    }
    const auto [local, remote] = randomTreePair(seed);
    QVERIFY(makeTree(localRoot_->path(), local));
    Tree below;
    for (auto it = remote.cbegin(); it != remote.cend(); ++it)
        below.insert("www/" + it.key(), it.value());
    QVERIFY(makeTree(server.rootPath(), below));

    MessageRecorder rec;
    FakeHost host;
    pointAt(host, server);
    host.localFolder = localRoot_->path() + '/';
    host.remoteFolder = "/www/";
    RunCompare(host);
    const QList<Row> one = rowsOf(host.model);
    QVERIFY(!one.isEmpty());

    host.transferCount = transfers;
    RunCompare(host);
    const QList<Row> several = rowsOf(host.model);
    QVERIFY2(several == one,
             qPrintable(describe(several) + "\n--- one session:\n" + describe(one)));
    QVERIFY(rec.texts().isEmpty());
    if (extraLogInsHeld) {
        int logIns = 0;
        for (const QByteArray& line : server.commandLog())
            logIns += line.startsWith("USER ") ? 1 : 0;
        QVERIFY2(logIns > 2, "the walk asked for no extra session");
    }
    // The extra sessions are logged out; the main one is kept for the sync run.
    QCOMPARE(server.openControlConnections(), 1);
    QVERIFY(host.session().currentDirectory());
}

// Closing the window unwinds the run while the listings are on their way:
// the extra sessions are logged out all the same.
void TestCompareRun::closedWindowMidWalkLeavesOneSession() {
    FtpTestServer server;
    START_TEST_SERVER(server);
    QVERIFY(makeTree(localRoot_->path(), {{"a.txt", 1}}));
    QVERIFY(makeTree(server.rootPath(), {{"www/s1/a.txt", 1}, {"www/s2/b.txt", 2}}));
    server.addFault({QStringLiteral("MLSD"), QStringLiteral("delay"), 0, 100, -1, {}});

    MessageRecorder rec;
    FakeHost host;
    pointAt(host, server);
    host.localFolder = localRoot_->path() + '/';
    host.remoteFolder = "/www/";
    host.transferCount = 4;
    UiYield::setInterval(0);
    UiYield::setHook([&] {
        if (server.openControlConnections() >= 2)
            UiYield::requestAbort();
    });
    bool aborted = false;
    try {
        RunCompare(host);
    } catch (const RunAborted&) {
        aborted = true;
    }
    QVERIFY(aborted);
    QVERIFY(!host.busy);
    QCOMPARE(server.openControlConnections(), 1);
    QVERIFY(rec.texts().isEmpty());
}

// A server slow to take the password: the window works while the log-in
// waits, and a close of the window ends the log-in there and then.
void TestCompareRun::logInLetsTheWindowWork_data() {
    QTest::addColumn<bool>("close");
    QTest::newRow("window kept open") << false;
    QTest::newRow("window closed") << true;
}

void TestCompareRun::logInLetsTheWindowWork() {
    QFETCH(bool, close);
    FtpTestServer server;
    START_TEST_SERVER(server);
    QVERIFY(makeTree(localRoot_->path(), {{"a.txt", 1}}));
    QVERIFY(makeTree(server.rootPath(), {{"www/b.txt", 2}}));
    // Closed, the log-in must not wait for this reply: it would come after
    // the response time-out.
    server.addFault(
        {QStringLiteral("PASS"), QStringLiteral("delay"), 0, close ? 90000 : 300, 1, {}});

    MessageRecorder rec;
    FakeHost host;
    pointAt(host, server);
    host.localFolder = localRoot_->path() + '/';
    host.remoteFolder = "/www/";
    UiYield::setInterval(0);
    int yieldsAwaitingPassword = 0;
    UiYield::setHook([&] {
        const QList<QByteArray> log = server.commandLog();
        if (!log.isEmpty() && log.constLast().startsWith("PASS")) {
            ++yieldsAwaitingPassword;
            if (close)
                UiYield::requestAbort();
        }
    });
    bool aborted = false;
    try {
        RunCompare(host);
    } catch (const RunAborted&) {
        aborted = true;
    }
    QVERIFY(yieldsAwaitingPassword > 0);
    QCOMPARE(aborted, close);
    QVERIFY(!host.busy);
    QVERIFY(rec.texts().isEmpty());
    if (close) {
        QVERIFY(!host.session().isConnected());
        QTRY_COMPARE(server.openControlConnections(), 0);
    } else {
        QCOMPARE(host.model.rowCount(), 2);
    }
}

void TestCompareRun::serversAsTheyAre_data() {
    // A server that drops connections, lists in another language or format,
    // refuses a folder or keeps failing, against a well-behaved one holding
    // the same tree. message: how what the compare says begins (empty for
    // nothing); unseen: the remote folder whose rows are left out ("" none,
    // "*" every row).
    QTest::addColumn<int>("transfers");
    QTest::addColumn<int>("dropEvery");
    QTest::addColumn<QString>("listStyle");
    QTest::addColumn<QString>("fault"); // "refuse" or "drop" the listing of /www/sub/
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("unseen");
    for (int transfers : {1, 4}) {
        QTest::addRow("421 every 9 commands, %d sessions", transfers)
            << transfers << 9 << QString() << QString() << QString() << QString();
        QTest::addRow("subfolder refused, %d sessions", transfers)
            << transfers << 0 << QString() << "refuse"
            << "A remote folder could not be listed:\n/www/sub/ (refused by the server: 550 "
               "Refused by test.)\n\nNothing is proposed for what lies in it, as its files are "
               "unknown."
            << "/www/sub/";
        QTest::addRow("connection keeps failing, %d sessions", transfers)
            << transfers << 0 << QString() << "drop"
            << "The connection to the server failed while listing the remote folder /www/sub/"
            << "*";
    }
    for (const char* style : {"german", "chinese", "iso", "multiword-owner"})
        QTest::addRow("%s listing", style)
            << 1 << 0 << QString::fromLatin1(style) << QString() << QString() << QString();
    QTest::newRow("listing no parser reads")
        << 1 << 0 << "unreadable" << QString()
        << "A remote folder could not be listed:\n/www/ (a line of its listing could not be read: "
        << "*";
}

void TestCompareRun::serversAsTheyAre() {
    QFETCH(int, transfers);
    QFETCH(int, dropEvery);
    QFETCH(QString, listStyle);
    QFETCH(QString, fault);
    QFETCH(QString, message);
    QFETCH(QString, unseen);
    // Old and new files, smaller and larger, in the root and below it.
    const Tree local{{"index.html", 10}, {"new.txt", 3},     {"sub/a.txt", 5},
                     {"sub/b.txt", 7},   {"sub/c/d.txt", 2}, {"other/e.txt", 4}};
    const Tree remote{{"www/index.html", 4},  {"www/old.txt", 3},      {"www/sub/a.txt", 5},
                      {"www/sub/b.txt", 2},   {"www/sub/gone.txt", 1}, {"www/sub/c/d.txt", 9},
                      {"www/other/e.txt", 1}, {"www/other/f.txt", 1}};
    QVERIFY(makeTree(localRoot_->path(), local));
    const auto compareWith = [&](FtpTestServer& server, QList<Row>* rows, QStringList* texts) {
        MessageRecorder rec;
        FakeHost host;
        pointAt(host, server);
        host.transferCount = transfers;
        host.localFolder = localRoot_->path() + '/';
        host.remoteFolder = QStringLiteral("/www/");
        RunCompare(host);
        *rows = rowsOf(host.model);
        *texts = rec.texts();
    };

    FtpTestServer clean;
    START_TEST_SERVER(clean);
    QVERIFY(makeTree(clean.rootPath(), remote));
    QList<Row> want;
    QStringList cleanTexts;
    compareWith(clean, &want, &cleanTexts);
    QCOMPARE(cleanTexts, QStringList());
    QVERIFY(want.size() >= 6);
    want.erase(std::remove_if(want.begin(), want.end(),
                              [&](const Row& r) {
                                  const QString remotePath =
                                      r.action == kDeleted ? r.source : r.destination;
                                  return unseen == QLatin1String("*") ||
                                         (!unseen.isEmpty() && remotePath.startsWith(unseen));
                              }),
               want.end());

    FtpTestServer::Options options;
    options.dropEvery = dropEvery;
    options.listStyle = listStyle;
    FtpTestServer server(FtpTestServer::Kind::Pyftpdlib, options);
    START_TEST_SERVER(server);
    QVERIFY(makeTree(server.rootPath(), remote));
    // However the client asks for the listing: entering the folder or
    // naming it.
    for (const char* verb : {"CWD", "MLSD"})
        if (!fault.isEmpty())
            server.addFault({QLatin1String(verb), fault, 0, 0, -1, QStringLiteral("sub")});
    QList<Row> got;
    QStringList texts;
    compareWith(server, &got, &texts);
    QVERIFY2(got == want, qPrintable(describe(got) + "\n--- expected:\n" + describe(want)));
    if (message.isEmpty()) {
        QCOMPARE(texts, QStringList());
    } else {
        QCOMPARE(texts.size(), 1);
        QVERIFY2(texts.first().startsWith(message), qPrintable(texts.first()));
    }
}

QTEST_GUILESS_MAIN(TestCompareRun)
#include "tst_comparerun.moc"
