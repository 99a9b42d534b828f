// The sync run over several sessions at once, against real loopback servers:
// it must leave the server and the rows exactly as one session does.

#include "compare/CompareRun.h"
#include "core/UiYield.h"
#include "core/VbError.h"
#include "sync/SyncRun.h"
#include "tests/support/ActionLog.h"
#include "tests/support/FakeHost.h"
#include "tests/support/FtpTestServer.h"
#include "tests/support/MessageRecorder.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestServers.h"

#include <QDirIterator>
#include <QMap>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

using TestFiles::everyByteValue;
using TestFiles::readFile;
using TestFiles::sha256;
using TestFiles::writeFile;

const QString kUpload = ActionCaption(RowKind::Upload);
const QString kCantCreate = QStringLiteral("Cant create requested file on server");

// Every entry below a server's root, hidden ones included: files by path with
// a hash of their bytes, folders by path with "/".
QMap<QString, QByteArray> serverState(const QString& root) {
    QMap<QString, QByteArray> state;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = path.mid(root.size());
        if (it.fileInfo().isDir())
            state.insert(relative + QLatin1Char('/'), QByteArray());
        else
            state.insert(relative, sha256(readFile(path)));
    }
    return state;
}

// Files whose names hold the temporary mark of an upload.
QStringList partFiles(const QMap<QString, QByteArray>& state) {
    QStringList parts;
    for (auto it = state.cbegin(); it != state.cend(); ++it) {
        if (it.key().section(QLatin1Char('/'), -1).startsWith(QLatin1Char('~')))
            parts << it.key();
    }
    return parts;
}

// A random tree below root: a few folders, names drawn from a small set so
// that the two sides share many (deletes, uploads and overwrites all occur),
// mostly small files and now and then one of several blocks.
void makeRandomTree(const QString& root, QRandomGenerator& random, int files) {
    static const char* const folders[] = {"", "a/", "a/b/", "c/", "c/d/e/", "f g/"};
    for (int i = 0; i < files; ++i) {
        const QString folder = QLatin1String(folders[random.bounded(6)]);
        const QString name = QStringLiteral("n%1.bin").arg(random.bounded(40));
        const qint64 size =
            random.bounded(10) == 0 ? 300000 + random.bounded(200000) : random.bounded(20000);
        QByteArray bytes = everyByteValue(size);
        if (!bytes.isEmpty())
            bytes[0] = char(random.bounded(256));
        writeFile(root + QLatin1Char('/') + folder + name, bytes);
    }
}

FtpTestServer::Fault fault(const char* command, const char* action) {
    FtpTestServer::Fault f;
    f.command = QLatin1String(command);
    f.action = QLatin1String(action);
    return f;
}

// One site: a server, a host pointed at it, the server's log-ins counted.
struct Site {
    std::unique_ptr<FtpTestServer> server;
    std::unique_ptr<FakeHost> host;

    bool start(const char* file, int line, FtpTestServer::Options options = {},
               FtpTestServer::Kind kind = FtpTestServer::Kind::Pyftpdlib) {
        server = std::make_unique<FtpTestServer>(kind, options);
        if (!TestServers::start(*server, file, line))
            return false;
        host = std::make_unique<FakeHost>();
        host->recreateColumns();
        host->hostName = server->host();
        host->port = QString::number(server->port());
        host->userName = server->user();
        host->password = server->password();
        if (server->logIn(host->session()))
            return true;
        QTest::qFail("the test server refused the log-in", file, line);
        return false;
    }
    ResultListModel& rows() { return host->model; }
    QString remote(const QString& path) const { return server->rootPath() + path; }
    int commands(const QByteArray& verb) const {
        int n = 0;
        for (const QByteArray& line : server->commandLog())
            n += line.startsWith(verb + ' ') || line == verb ? 1 : 0;
        return n;
    }
};

} // namespace

class TestSyncSessions : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> local_;

    QString local(const QString& name) const { return local_->filePath(name); }

    // Rows uploading `count` files of `size` bytes each, "u0.bin"...
    void addUploads(Site& site, int count, qint64 size) {
        for (int i = 0; i < count; ++i) {
            const QString name = QStringLiteral("u%1.bin").arg(i);
            QByteArray bytes = everyByteValue(size);
            bytes[0] = char(i);
            QVERIFY(writeFile(local(name), bytes));
            site.rows().addRow(RowKind::Upload, local(name), QLatin1Char('/') + name);
        }
    }

private slots:
    void init() {
        local_ = std::make_unique<QTemporaryDir>();
        UiYield::resetAbort();
    }
    void cleanup() {
        UiYield::setHook({});
        UiYield::setInterval(15);
        UiYield::resetAbort();
        local_.reset();
    }

    // The same compare and sync of the same trees, once over one session and
    // once over several: the same rows, the same texts in each row, the same
    // messages and the server byte for byte the same; the extra sessions
    // logged out at the end. A server slow to log in gets no extra session
    // for a sync that one session does in less time than a log-in takes.
    void severalSessionsEndLikeOne_data() {
        QTest::addColumn<FtpTestServer::Kind>("kind");
        QTest::addColumn<int>("transfers");
        QTest::addColumn<quint32>("seed");
        // A server that throws away commands sent before its reply.
        QTest::addColumn<bool>("losesAhead");
        // How long the server holds each PASS.
        QTest::addColumn<int>("logInDelayMs");
        const auto py = FtpTestServer::Kind::Pyftpdlib;
        for (int transfers : {1, 2, 8}) {
            for (quint32 seed : {11u, 23u, 37u})
                QTest::addRow("transfers %d, tree %u", transfers, seed)
                    << py << transfers << seed << false << 0;
        }
        QTest::newRow("vsftpd, transfers 4, tree 41")
            << FtpTestServer::Kind::Vsftpd << 4 << 41u << false << 0;
        QTest::newRow("losing commands sent ahead, transfers 4, tree 53")
            << py << 4 << 53u << true << 0;
        QTest::newRow("slow log-ins, transfers 4, tree 61") << py << 4 << 61u << false << 1500;
    }
    void severalSessionsEndLikeOne() {
        QFETCH(FtpTestServer::Kind, kind);
        QFETCH(int, transfers);
        QFETCH(quint32, seed);
        QFETCH(bool, losesAhead);
        QFETCH(int, logInDelayMs);
        FtpTestServer::Options options;
        options.logInDelayMs = logInDelayMs;
        // Only pyftpdlib logs the commands it received.
        const bool logged = kind == FtpTestServer::Kind::Pyftpdlib;
        QRandomGenerator random(seed);
        makeRandomTree(local_->path(), random, 50);
        const QRandomGenerator remoteStart = random;

        QMap<QString, QByteArray> states[2];
        QMap<QString, QStringList> texts[2];
        QStringList messages[2];
        QStringList proposed[2];
        for (int run = 0; run < 2; ++run) {
            Site site;
            if (!site.start(__FILE__, __LINE__, options, kind))
                return;
            QRandomGenerator remoteRandom = remoteStart;
            makeRandomTree(site.server->rootPath(), remoteRandom, 50);
            site.server->ownFiles();
            site.host->localFolder = local_->path() + QLatin1Char('/');
            site.host->remoteFolder = QStringLiteral("/");
            MessageRecorder boxes;
            RunCompare(*site.host);
            QVERIFY(boxes.texts().isEmpty());
            for (int i = 0; i < site.rows().rowCount(); ++i)
                proposed[run] << site.rows().action(i) + site.rows().source(i) +
                                     site.rows().destination(i);
            QVERIFY(site.rows().rowCount() > 20);

            site.host->transferCount = run == 0 ? 1 : transfers;
            if (losesAhead)
                site.server->addFault(
                    {QStringLiteral("NOOP"), QStringLiteral("lose-following"), 0, 0, -1, {}});
            const int logInsBefore = site.commands("USER");
            const int logOutsBefore = site.commands("QUIT");
            ActionLog log(site.rows());
            RunSync(*site.host);

            states[run] = serverState(site.server->rootPath());
            texts[run] = log.bySource();
            messages[run] = boxes.texts();
            // As many extra sessions as allowed, every one logged out at the
            // end, and only the main one left.
            const int extra = site.commands("USER") - logInsBefore;
            // (A connection that found commands sent ahead lost logs in
            // again.)
            if (logged && !losesAhead) {
                QCOMPARE(extra, logInDelayMs > 0 ? 0 : site.host->transferCount - 1);
                QCOMPARE(site.commands("QUIT") - logOutsBefore, extra);
            }
            QCOMPARE(site.server->openControlConnections(), 1);
            QVERIFY(!site.host->busy);
        }
        QCOMPARE(proposed[1], proposed[0]);
        QCOMPARE(messages[1], messages[0]);
        QCOMPARE(messages[0], QStringList{QStringLiteral("Done.")});
        QCOMPARE(texts[1], texts[0]);
        QCOMPARE(states[1], states[0]);
        QCOMPARE(partFiles(states[1]), QStringList());
    }

    // A server that closes connections: one left idle between the compare
    // and the sync, or every few commands, also in the middle of the first
    // uploads. The sync, repeated until it ends with "Done.", leaves the
    // server as a server that keeps its connections is left, and every file
    // holds its old or its new bytes after every try.
    void syncOverConnectionsTheServerDrops_data() {
        QTest::addColumn<FtpTestServer::Kind>("kind");
        QTest::addColumn<int>("idleTimeoutS");
        QTest::addColumn<int>("dropEvery");
        QTest::addColumn<bool>("cutUploads");
        QTest::addColumn<int>("transfers");
        const auto py = FtpTestServer::Kind::Pyftpdlib;
        const auto vs = FtpTestServer::Kind::Vsftpd;
        for (int transfers : {1, 4}) {
            QTest::addRow("pyftpdlib idle time-out, %d sessions", transfers)
                << py << 2 << 0 << false << transfers;
            QTest::addRow("vsftpd idle time-out, %d sessions", transfers)
                << vs << 2 << 0 << false << transfers;
        }
        QTest::newRow("421 every 13 commands, 4 sessions") << py << 0 << 13 << false << 4;
        QTest::newRow("421 every 13 commands, uploads cut off, 4 sessions")
            << py << 0 << 13 << true << 4;
    }
    void syncOverConnectionsTheServerDrops() {
        QFETCH(FtpTestServer::Kind, kind);
        QFETCH(int, idleTimeoutS);
        QFETCH(int, dropEvery);
        QFETCH(bool, cutUploads);
        QFETCH(int, transfers);
        QRandomGenerator random(61);
        makeRandomTree(local_->path(), random, 40);
        const QRandomGenerator remoteStart = random;
        const QMap<QString, QByteArray> local = serverState(local_->path());

        QMap<QString, QByteArray> clean;
        QMap<QString, QByteArray> old;
        for (int faulty = 0; faulty < 2; ++faulty) {
            FtpTestServer::Options options;
            if (faulty) {
                options.idleTimeoutS = idleTimeoutS;
                options.dropEvery = dropEvery;
            }
            Site site;
            if (!site.start(__FILE__, __LINE__, options,
                            faulty ? kind : FtpTestServer::Kind::Pyftpdlib))
                return;
            QRandomGenerator remoteRandom = remoteStart;
            makeRandomTree(site.server->rootPath(), remoteRandom, 40);
            site.server->ownFiles();
            old = serverState(site.server->rootPath());
            site.host->localFolder = local_->path() + QLatin1Char('/');
            site.host->remoteFolder = QStringLiteral("/");
            site.host->transferCount = transfers;
            if (faulty && cutUploads) {
                FtpTestServer::Fault cut = fault("STOR", "drop-session");
                cut.afterBytes = 64 * 1024;
                cut.count = 2;
                site.server->addFault(cut);
            }
            QStringList messages;
            int tries = 0;
            while (messages != QStringList{QStringLiteral("Done.")} && tries < 5) {
                ++tries;
                MessageRecorder boxes;
                RunCompare(*site.host);
                QCOMPARE(boxes.texts(), QStringList());
                QVERIFY(site.rows().rowCount() > 10);
                // The server closes the connection the compare left open.
                if (faulty && idleTimeoutS > 0)
                    QTRY_COMPARE_WITH_TIMEOUT(site.server->openControlConnections(), 0,
                                              idleTimeoutS * 10000);
                RunSync(*site.host);
                messages = boxes.texts();
                const QMap<QString, QByteArray> now = serverState(site.server->rootPath());
                for (auto it = now.cbegin(); it != now.cend(); ++it) {
                    if (partFiles({{it.key(), {}}}).isEmpty() && !it.key().endsWith(u'/'))
                        QVERIFY2(it.value() == old.value(it.key()) ||
                                     it.value() == local.value(it.key()),
                                 qPrintable(it.key()));
                }
            }
            QCOMPARE(messages, QStringList{QStringLiteral("Done.")});
            if (idleTimeoutS > 0)
                QCOMPARE(tries, 1);
            const QMap<QString, QByteArray> state = serverState(site.server->rootPath());
            QCOMPARE(partFiles(state), QStringList());
            if (!faulty)
                clean = state;
            else
                QCOMPARE(state, clean);
        }
    }

    // A host that keeps its sessions, as the window does: those a compare
    // logged in serve the sync after it, which logs in no more, and stay
    // logged in until the host lets them go. Kept sessions that the server
    // has closed meanwhile cost log-ins, not rows.
    void compareSessionsServeTheSync_data() {
        QTest::addColumn<FtpTestServer::Kind>("kind");
        QTest::addColumn<int>("idleTimeoutS");
        QTest::newRow("kept sessions") << FtpTestServer::Kind::Pyftpdlib << 0;
        QTest::newRow("kept sessions the server closed meanwhile")
            << FtpTestServer::Kind::Vsftpd << 1;
    }
    void compareSessionsServeTheSync() {
        QFETCH(FtpTestServer::Kind, kind);
        QFETCH(int, idleTimeoutS);
        FtpTestServer::Options options;
        options.idleTimeoutS = idleTimeoutS;
        Site site;
        if (!site.start(__FILE__, __LINE__, options, kind))
            return;
        site.host->pool = std::make_unique<SessionPool>(SessionPool::Keep::Sessions);
        site.host->transferCount = 4;
        // Enough files that the extra sessions log in with the compare's.
        QMap<QString, QByteArray> local;
        for (int i = 0; i < 120; ++i) {
            const QString path = QStringLiteral("/d%1/f%2.bin").arg(i % 4).arg(i);
            local.insert(path, everyByteValue(2000 + i));
            QVERIFY(writeFile(local_->path() + path, local.value(path)));
        }
        site.host->localFolder = local_->path() + QLatin1Char('/');
        site.host->remoteFolder = QStringLiteral("/");
        MessageRecorder boxes;

        RunCompare(*site.host);
        QCOMPARE(site.rows().rowCount(), 120);
        const int extra = site.host->transferCount - 1;
        if (idleTimeoutS > 0)
            QTRY_COMPARE(site.server->openControlConnections(), 0);
        RunSync(*site.host);

        QCOMPARE(boxes.texts(), QStringList{QStringLiteral("Done.")});
        QMap<QString, QByteArray> expected;
        for (auto it = local.cbegin(); it != local.cend(); ++it) {
            expected.insert(it.key().section(QLatin1Char('/'), 0, 1) + QLatin1Char('/'), {});
            expected.insert(it.key(), sha256(it.value()));
        }
        QCOMPARE(serverState(site.server->rootPath()), expected);
        if (idleTimeoutS == 0) {
            // The first log-in is the test's own, then the compare's: the
            // main session and the extra ones.
            QCOMPARE(site.commands("USER"), 2 + extra);
            QCOMPARE(site.server->openControlConnections(), 1 + extra);
        }
        site.host->pool.reset();
        QCOMPARE(site.server->openControlConnections(), 1);
    }

    // A row that changes a remote path waits while an earlier row changes the
    // same path or one above or below it: the end is that of one session.
    void rowsOnOnePathNeverRace_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("delete a file, then upload into a folder of its name") << "clash";
        QTest::newRow("overwrite a file, then delete it") << "late delete";
    }
    void rowsOnOnePathNeverRace() {
        QFETCH(QString, name);
        Site site;
        if (!site.start(__FILE__, __LINE__))
            return;
        site.host->transferCount = 4;
        const QByteArray big = everyByteValue(900000);
        QVERIFY(writeFile(local(QStringLiteral("big.bin")), big));
        QVERIFY(writeFile(local(QStringLiteral("x.txt")), "x"));
        if (name == QLatin1String("clash")) {
            QVERIFY(writeFile(site.remote(QStringLiteral("/a")), "a file named like the folder"));
            site.rows().addRow(RowKind::Delete, QStringLiteral("/a"));
            // A slow delete: a row that did not wait for it would meet the file.
            FtpTestServer::Fault slow = fault("DELE", "delay");
            slow.delayMs = 300;
            site.server->addFault(slow);
            site.rows().addRow(RowKind::Upload, local(QStringLiteral("x.txt")),
                               QStringLiteral("/a/b/x.txt"));
        } else {
            QVERIFY(writeFile(site.remote(QStringLiteral("/n.bin")), "old"));
            site.rows().addRow(RowKind::Overwrite, local(QStringLiteral("big.bin")),
                               QStringLiteral("/n.bin"));
            site.rows().addRow(RowKind::Delete, QStringLiteral("/n.bin"));
        }
        // Other rows keep the sessions busy beside them.
        addUploads(site, 4, 5000);
        MessageRecorder boxes;

        RunSync(*site.host);

        QCOMPARE(boxes.texts(), QStringList{QStringLiteral("Done.")});
        const auto state = serverState(site.server->rootPath());
        if (name == QLatin1String("clash")) {
            QCOMPARE(readFile(site.remote(QStringLiteral("/a/b/x.txt"))), QByteArray("x"));
        } else {
            QVERIFY(!state.contains(QStringLiteral("/n.bin")));
        }
        QCOMPARE(partFiles(state), QStringList());
    }

    // A refused STOR while other rows are under way: no row starts after it,
    // the running ones finish and get their marks, and only then comes the
    // message, once; the list stays.
    void refusedStoreLetsRunningRowsFinish() {
        Site site;
        if (!site.start(__FILE__, __LINE__))
            return;
        site.host->transferCount = 4;
        addUploads(site, 8, 200000);
        FtpTestServer::Fault refuse = fault("STOR", "refuse");
        refuse.pathContains = QStringLiteral("u4.bin");
        site.server->addFault(refuse);
        QStringList actionsAtTheMessage;
        MessageRecorder boxes;
        boxes.onShow = [&](const MessageBoxSpec&) {
            for (int i = 0; i < site.rows().rowCount(); ++i)
                actionsAtTheMessage << site.rows().action(i);
        };

        RunSync(*site.host);

        QCOMPARE(boxes.texts(), QStringList{kCantCreate});
        QCOMPARE(site.rows().rowCount(), 8);
        QCOMPARE(actionsAtTheMessage.size(), 8);
        for (int i = 0; i < 8; ++i) {
            const QString action = site.rows().action(i);
            QCOMPARE(actionsAtTheMessage.at(i), action);
            const bool uploaded = QFileInfo::exists(site.remote(QStringLiteral("/u%1.bin").arg(i)));
            if (i < 4) {
                QCOMPARE(action, QStringLiteral("Done"));
            } else if (i == 4) {
                QCOMPARE(action, kUpload);
            } else {
                // Started before the refusal came back, then finished; or
                // never started.
                QVERIFY2(action == (uploaded ? QStringLiteral("Done") : kUpload),
                         qPrintable(action));
            }
            QCOMPARE(uploaded, action == QStringLiteral("Done"));
        }
        QCOMPARE(partFiles(serverState(site.server->rootPath())), QStringList());
        QVERIFY(!site.host->busy);
        QCOMPARE(site.server->openControlConnections(), 1);
    }

    // A server that lets each address hold only so many connections: the
    // run goes on with the sessions it got and no row fails for it.
    void serverLimitingConnectionsPerAddress_data() {
        QTest::addColumn<int>("limit");
        QTest::newRow("one per address") << 1;
        QTest::newRow("two per address") << 2;
    }
    void serverLimitingConnectionsPerAddress() {
        QFETCH(int, limit);
        FtpTestServer::Options options;
        options.maxConnectionsPerAddress = limit;
        Site site;
        if (!site.start(__FILE__, __LINE__, options))
            return;
        site.host->transferCount = 8;
        addUploads(site, 10, 30000);
        MessageRecorder boxes;

        RunSync(*site.host);

        QCOMPARE(boxes.texts(), QStringList{QStringLiteral("Done.")});
        QCOMPARE(site.rows().rowCount(), 0);
        for (int i = 0; i < 10; ++i)
            QVERIFY(QFileInfo::exists(site.remote(QStringLiteral("/u%1.bin").arg(i))));
        QVERIFY(site.commands("USER") <= limit);
        QCOMPARE(site.server->openControlConnections(), 1);
    }

    // One of several sessions is cut off in the middle of an upload, at every
    // try of the same file: that row fails with its message, the others are
    // carried out.
    void droppedSessionFailsOnlyItsRow() {
        Site site;
        if (!site.start(__FILE__, __LINE__))
            return;
        site.host->transferCount = 3;
        addUploads(site, 8, 300000);
        // The main session (the server's first connection) answers slowly,
        // so that the extra ones surely get rows; one of those is dropped.
        FtpTestServer::Fault slow = fault("STOR", "delay");
        slow.delayMs = 100;
        slow.untilConnection = 1;
        site.server->addFault(slow);
        FtpTestServer::Fault drop = fault("STOR", "drop-session");
        drop.afterBytes = 64 * 1024;
        drop.pathContains = QStringLiteral("u3.bin");
        site.server->addFault(drop);
        MessageRecorder boxes;

        RunSync(*site.host);

        QCOMPARE(boxes.texts().size(), 2);
        QVERIFY2(boxes.texts().first().startsWith(QStringLiteral("Error uploading file..")),
                 qPrintable(boxes.texts().first()));
        QCOMPARE(boxes.texts().last(), QStringLiteral("Done. 1 file failed."));
        QCOMPARE(site.rows().rowCount(), 1);
        QCOMPARE(site.rows().action(0), QStringLiteral("Fail"));
        const QString failed = site.rows().destination(0);
        QCOMPARE(boxes.texts().first(),
                 QStringLiteral("Error uploading file..") + site.rows().source(0));
        for (int i = 0; i < 8; ++i) {
            const QString path = QStringLiteral("/u%1.bin").arg(i);
            QCOMPARE(QFileInfo::exists(site.remote(path)), path != failed);
        }
        QCOMPARE(site.server->openControlConnections(), 1);
    }

    // The window closed in the middle of a run over several sessions: every
    // upload under way is cut off and removed, nothing stands under a real
    // name that is not whole, and every extra session is logged out.
    void closingTheWindowCutsEveryUploadOff() {
        Site site;
        if (!site.start(__FILE__, __LINE__))
            return;
        site.host->transferCount = 4;
        addUploads(site, 6, 2 * 1024 * 1024);
        FtpTestServer::Fault slow = fault("STOR", "slow-data");
        slow.bytesPerSecond = 512 * 1024;
        site.server->addFault(slow);
        UiYield::setInterval(0);
        UiYield::setHook([&] {
            // Two uploads under way, each past its first block.
            int underWay = 0;
            for (int i = 0; i < site.rows().rowCount(); ++i) {
                const QString action = site.rows().action(i);
                underWay += action.startsWith(QStringLiteral("uploading ")) &&
                                    action != QStringLiteral("uploading 0%")
                                ? 1
                                : 0;
            }
            if (underWay >= 2)
                UiYield::requestAbort();
        });
        MessageRecorder boxes;

        bool aborted = false;
        try {
            RunSync(*site.host);
        } catch (const RunAborted&) {
            aborted = true;
        }

        QVERIFY(aborted);
        QVERIFY(boxes.texts().isEmpty());
        const auto state = serverState(site.server->rootPath());
        QCOMPARE(partFiles(state), QStringList());
        for (auto it = state.cbegin(); it != state.cend(); ++it)
            QCOMPARE(readFile(site.remote(it.key())), readFile(local(it.key().mid(1))));
        QCOMPARE(site.server->openControlConnections(), 1);
    }
};

QTEST_GUILESS_MAIN(TestSyncSessions)
#include "tst_sync_sessions.moc"
