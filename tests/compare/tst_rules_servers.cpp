// The compare rules against real servers: what a web site's edits look like
// under them, the times uploads carry and how they read back, the hashes a
// server computes, and the notes where a server cannot serve a rule.

#include "compare/CompareRun.h"
#include "compare/RuleCompare.h"
#include "core/UiYield.h"
#include "ftp/ServerTrust.h"
#include "sync/SyncRun.h"
#include "tests/support/FakeHost.h"
#include "tests/support/MessageRecorder.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestServers.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

using Kind = FtpTestServer::Kind;
using Overwrite = CompareRules::Overwrite;

// Relative path ("/"-separated) to contents.
using Files = QMap<QString, QByteArray>;

const QString kIdentical = QStringLiteral("No synchronization necessary -- folders are identical");
// Every file's time unless a row says otherwise: a local file a row calls
// newer is a minute younger than its remote copy.
constexpr qint64 kTime = 1'700'000'000;
constexpr qint64 kNewer = kTime + 60;

bool setTime(const QString& path, qint64 seconds) {
    const timespec times[2] = {{time_t(seconds), 0}, {time_t(seconds), 0}};
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

qint64 timeOf(const QString& path) {
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? qint64(st.st_mtim.tv_sec) : -1;
}

bool put(const QString& root, const Files& files, const QStringList& newer = {}) {
    for (auto it = files.begin(); it != files.end(); ++it) {
        const QString path = root + QLatin1Char('/') + it.key();
        if (!TestFiles::writeFile(path, it.value()) ||
            !setTime(path, newer.contains(it.key()) ? kNewer : kTime))
            return false;
    }
    return true;
}

// A server as the rows name it.
struct ServerSetup {
    Kind kind = Kind::Pyftpdlib;
    QString timeSetting;
    QString hashCommands;
    bool mdtmWrite = true;
    // Pyftpdlib: no MLSD, so that times come to the minute from LIST.
    bool hideMlsd = false;
};

ServerSetup pyftpdlib(const QString& timeSetting = {}, const QString& hashCommands = {}) {
    ServerSetup setup;
    setup.timeSetting = timeSetting;
    setup.hashCommands = hashCommands;
    return setup;
}

ServerSetup vsftpd(bool mdtmWrite = true) {
    ServerSetup setup;
    setup.kind = Kind::Vsftpd;
    setup.mdtmWrite = mdtmWrite;
    return setup;
}

ServerSetup sftp(Kind kind) {
    ServerSetup setup;
    setup.kind = kind;
    return setup;
}

} // namespace

Q_DECLARE_METATYPE(ServerSetup)
Q_DECLARE_METATYPE(Files)

class TestRulesAgainstServers : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void webSiteEdits_data();
    void webSiteEdits();
    void uploadsCarryTheirTimes_data();
    void uploadsCarryTheirTimes();
    void rulesFallBack_data();
    void rulesFallBack();
    void contentsByHash_data();
    void contentsByHash();
    void questionsTheServerRefuses_data();
    void questionsTheServerRefuses();
    void syncLeavesNothingToDo_data();
    void syncLeavesNothingToDo();

private:
    // Starts the server with the remote folder "www/" in it and points the
    // host at both folders; false when the server is missing (reported).
    bool start(const ServerSetup& setup);
    QString remoteRoot() const { return server_->rootPath() + QStringLiteral("/www"); }
    // The rows as "action|path below the folders", in list order.
    QStringList rows() const;
    // Compare, sync, compare: answers the messages of the last compare.
    QStringList syncAndCompareAgain(MessageRecorder& boxes);

    std::unique_ptr<FtpTestServer> server_;
    std::unique_ptr<QTemporaryDir> local_;
    std::unique_ptr<FakeHost> host_;
};

void TestRulesAgainstServers::init() {
    local_ = std::make_unique<QTemporaryDir>();
    QVERIFY(local_->isValid());
    ServerTrust::forgetThisRun();
}

void TestRulesAgainstServers::cleanup() {
    host_.reset();
    server_.reset();
}

bool TestRulesAgainstServers::start(const ServerSetup& setup) {
    FtpTestServer::Options options;
    options.timeSetting = setup.timeSetting;
    options.hashCommands = setup.hashCommands;
    options.mdtmWrite = setup.mdtmWrite;
    options.hideMlsd = setup.hideMlsd;
    server_ = std::make_unique<FtpTestServer>(setup.kind, options);
    if (!TestServers::start(*server_, __FILE__, __LINE__))
        return false;
    if (!QDir().mkpath(remoteRoot()))
        return false;
    ServerTrust::trustHostKeyForThisRun("127.0.0.1", server_->port(), server_->hostKeyBlob());
    host_ = std::make_unique<FakeHost>();
    host_->hostName = server_->hostText();
    host_->port = QString::number(server_->port());
    host_->userName = server_->user();
    host_->password = server_->password();
    host_->remoteFolder = server_->remoteRoot() + QStringLiteral("www/");
    host_->localFolder = local_->path() + QLatin1Char('/');
    return true;
}

QStringList TestRulesAgainstServers::rows() const {
    QStringList out;
    const ResultListModel& m = host_->model;
    for (int i = 0; i < m.rowCount(); ++i) {
        const bool gone = m.kind(i) == RowKind::Delete;
        const QString remote = gone ? m.source(i) : m.destination(i);
        const QString kind = gone                           ? "delete"
                             : m.kind(i) == RowKind::Upload ? "upload"
                                                            : "overwrite";
        out << kind + '|' + remote.mid(host_->remoteFolder.size());
    }
    return out;
}

QStringList TestRulesAgainstServers::syncAndCompareAgain(MessageRecorder& boxes) {
    boxes.clear();
    RunSync(*host_);
    if (boxes.texts() != QStringList{"Done."})
        return QStringList{"sync: " + boxes.texts().join(" / ")};
    server_->ownFiles();
    boxes.clear();
    RunCompare(*host_);
    return boxes.texts() + rows();
}

void TestRulesAgainstServers::webSiteEdits_data() {
    QTest::addColumn<ServerSetup>("setup");
    QTest::addColumn<Overwrite>("overwrite");
    QTest::addColumn<Files>("local");
    QTest::addColumn<Files>("remote");
    QTest::addColumn<QStringList>("newer"); // local files edited after the last upload
    QTest::addColumn<QStringList>("expected");

    const struct {
        const char* name;
        ServerSetup setup;
        Overwrite overwrite;
    } servers[] = {
        {"pyftpdlib, size or time", pyftpdlib(), Overwrite::Time},
        {"vsftpd, size or time", vsftpd(), Overwrite::Time},
        {"pyftpdlib with HASH, content", pyftpdlib({}, "hash"), Overwrite::Content},
    };
    const QByteArray page = "<p>welcome</p>";
    const QByteArray blog = "<p>blog</p>";
    for (const auto& s : servers) {
        const auto row = [&](const char* edit) -> QTestData& {
            return QTest::addRow("%s: %s", s.name, edit) << s.setup << s.overwrite;
        };
        row("a typo fixed, same size")
            << Files{{"index.html", "<p>colour: tan</p>"}}
            << Files{{"index.html", "<p>colour: tna</p>"}} << QStringList{"index.html"}
            << QStringList{"overwrite|index.html"};
        row("a paragraph removed")
            << Files{{"about.html", "<p>one</p>"}} << Files{{"about.html", "<p>one</p><p>two</p>"}}
            << QStringList{"about.html"} << QStringList{"overwrite|about.html"};
        row("a new folder's index.html")
            << Files{{"index.html", page}, {"blog/index.html", blog}, {"news/index.html", page}}
            << Files{{"index.html", page}, {"blog/index.html", blog}} << QStringList{}
            << QStringList{"upload|news/index.html"};
        row("namesakes elsewhere on the server")
            << Files{{"x/a.txt", QByteArray(100, 'a')}}
            << Files{{"x/a.txt", QByteArray(100, 'a')},
                     {"y/a.txt", QByteArray(50, 'a')},
                     {"z/a.txt", QByteArray(60, 'a')}}
            << QStringList{} << QStringList{"delete|y/a.txt", "delete|z/a.txt"};
    }
}

void TestRulesAgainstServers::webSiteEdits() {
    QFETCH(ServerSetup, setup);
    QFETCH(Overwrite, overwrite);
    QFETCH(Files, local);
    QFETCH(Files, remote);
    QFETCH(QStringList, newer);
    QFETCH(QStringList, expected);
    if (!start(setup))
        return;
    QVERIFY(put(local_->path(), local, newer));
    QVERIFY(put(remoteRoot(), remote));
    server_->ownFiles();
    host_->rules = {CompareRules::Match::Path, overwrite};
    MessageRecorder boxes;

    RunCompare(*host_);

    QCOMPARE(boxes.texts(), QStringList{});
    QStringList found = rows();
    found.sort();
    QCOMPARE(found, expected);
    QCOMPARE(syncAndCompareAgain(boxes), QStringList{kIdentical});
    for (auto it = local.begin(); it != local.end(); ++it)
        QCOMPARE(TestFiles::readFile(remoteRoot() + '/' + it.key()), it.value());
}

void TestRulesAgainstServers::uploadsCarryTheirTimes_data() {
    QTest::addColumn<ServerSetup>("setup");
    QTest::newRow("pyftpdlib: MFMT") << pyftpdlib();
    QTest::newRow("pyftpdlib: SITE UTIME only") << pyftpdlib("site-utime");
    QTest::newRow("vsftpd: MDTM with a time") << vsftpd();
    QTest::newRow("rclone: SFTP attributes") << sftp(Kind::RcloneSftp);
    QTest::newRow("sshd: SFTP attributes") << sftp(Kind::OpenSshSftp);
}

void TestRulesAgainstServers::uploadsCarryTheirTimes() {
    // A new file and an edited one: both arrive with their local times, read
    // back as such through the server, and compare as equal afterwards.
    QFETCH(ServerSetup, setup);
    if (!start(setup))
        return;
    QVERIFY(put(local_->path(), {{"new/page.html", "new page"}, {"old.html", "edited"}},
                {"new/page.html", "old.html"}));
    QVERIFY(put(remoteRoot(), {{"old.html", "edited"}}));
    server_->ownFiles();
    host_->rules = {CompareRules::Match::Path, Overwrite::Time};
    MessageRecorder boxes;

    RunCompare(*host_);
    QCOMPARE(rows(), (QStringList{"upload|new/page.html", "overwrite|old.html"}));
    QCOMPARE(syncAndCompareAgain(boxes), QStringList{kIdentical});

    for (const QString rel : {"new/page.html", "old.html"}) {
        QCOMPARE(timeOf(remoteRoot() + '/' + rel), kNewer);
        const auto told = host_->session().modifiedTime(host_->remoteFolder + rel);
        QVERIFY2(told, qPrintable(told.failure().describe()));
        QCOMPARE(told->toSecsSinceEpoch(), kNewer);
    }
}

void TestRulesAgainstServers::rulesFallBack_data() {
    QTest::addColumn<ServerSetup>("setup");
    QTest::addColumn<Overwrite>("overwrite");
    QTest::addColumn<QString>("note");
    // The same size on both sides, the local file newer and, where it counts,
    // a byte changed: only times or contents could tell.
    QTest::newRow("pyftpdlib sets no times")
        << pyftpdlib("none") << Overwrite::Time << RuleCompare::noTimeSettingNote();
    QTest::newRow("vsftpd sets no times")
        << vsftpd(false) << Overwrite::Time << RuleCompare::noTimeSettingNote();
    QTest::newRow("pyftpdlib computes no hashes")
        << pyftpdlib("none") << Overwrite::Content << RuleCompare::noHashNote();
    QTest::newRow("SFTP computes no hashes")
        << sftp(Kind::RcloneSftp) << Overwrite::Content << RuleCompare::noHashNote();
}

void TestRulesAgainstServers::rulesFallBack() {
    QFETCH(ServerSetup, setup);
    QFETCH(Overwrite, overwrite);
    QFETCH(QString, note);
    if (!start(setup))
        return;
    QVERIFY(put(local_->path(), {{"a.html", "<p>abc</p>"}}, {"a.html"}));
    QVERIFY(put(remoteRoot(), {{"a.html", "<p>abd</p>"}}));
    server_->ownFiles();
    host_->rules = {CompareRules::Match::Path, overwrite};
    MessageRecorder boxes;

    RunCompare(*host_);

    QStringList expected{note};
    // Content falls back to time, which still tells where the server sets
    // times; where it sets none, it falls back to size in turn.
    if (overwrite == Overwrite::Content && setup.timeSetting == "none")
        expected << RuleCompare::noTimeSettingNote() << kIdentical;
    else if (overwrite == Overwrite::Time)
        expected << kIdentical;
    QCOMPARE(boxes.texts(), expected);
    QCOMPARE(rows(),
             expected.contains(kIdentical) ? QStringList{} : QStringList{"overwrite|a.html"});
    QCOMPARE(timeOf(remoteRoot() + "/a.html"), kTime);
}

void TestRulesAgainstServers::questionsTheServerRefuses_data() {
    QTest::addColumn<ServerSetup>("setup");
    QTest::addColumn<Overwrite>("overwrite");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("what");
    QTest::addColumn<QStringList>("expectedRows");
    ServerSetup listOnly = pyftpdlib();
    listOnly.hideMlsd = true;
    // Without its hash, the file is told by its newer time; without its
    // exact time, it counts as unchanged.
    QTest::newRow("HASH refused") << pyftpdlib({}, "hash") << Overwrite::Content << "HASH"
                                  << "hash" << QStringList{"overwrite|a.html"};
    QTest::newRow("MDTM refused") << listOnly << Overwrite::Time << "MDTM"
                                  << "modification time" << QStringList{};
}

// A server that will not answer the question a rule asks of a file: the
// compare says so, naming the file and the server's answer, and does what
// the rule does without the answer.
void TestRulesAgainstServers::questionsTheServerRefuses() {
    QFETCH(ServerSetup, setup);
    QFETCH(Overwrite, overwrite);
    QFETCH(QString, command);
    QFETCH(QString, what);
    QFETCH(QStringList, expectedRows);
    if (!start(setup))
        return;
    QVERIFY(put(local_->path(), {{"a.html", "<p>abc</p>"}}, {"a.html"}));
    QVERIFY(put(remoteRoot(), {{"a.html", "<p>abd</p>"}}));
    server_->ownFiles();
    FtpTestServer::Fault refuse;
    refuse.command = command;
    refuse.action = QStringLiteral("refuse");
    server_->addFault(refuse);
    host_->rules = {CompareRules::Match::Path, overwrite};
    MessageRecorder boxes;

    RunCompare(*host_);

    QVERIFY(!boxes.texts().isEmpty());
    const QString said = boxes.texts().first();
    QVERIFY2(said.startsWith(
                 QStringLiteral("The server did not tell the %1 of 1 remote file (%2a.html: ")
                     .arg(what, host_->remoteFolder)) &&
                 said.contains(QStringLiteral("550")),
             qPrintable(said));
    QCOMPARE(rows(), expectedRows);
}

void TestRulesAgainstServers::contentsByHash_data() {
    QTest::addColumn<ServerSetup>("setup");
    QTest::newRow("HASH offered in FEAT") << pyftpdlib({}, "hash");
    QTest::newRow("XSHA256 answered, not offered") << pyftpdlib({}, "xsha256");
}

void TestRulesAgainstServers::contentsByHash() {
    QFETCH(ServerSetup, setup);
    if (!start(setup))
        return;
    // same.html only looks newer; changed.html has one byte changed and the
    // same time; longer.html says so by its size.
    QVERIFY(put(local_->path(),
                {{"same.html", "<p>same</p>"},
                 {"changed.html", "<p>12345</p>"},
                 {"longer.html", "<p>longer</p>"}},
                {"same.html"}));
    QVERIFY(put(remoteRoot(), {{"same.html", "<p>same</p>"},
                               {"changed.html", "<p>12845</p>"},
                               {"longer.html", "<p>long</p>"}}));
    host_->rules = {CompareRules::Match::Path, Overwrite::Content};
    MessageRecorder boxes;

    RunCompare(*host_);

    QCOMPARE(boxes.texts(), QStringList{});
    QMap<QString, QString> reasons;
    for (int i = 0; i < host_->model.rowCount(); ++i)
        reasons.insert(rows().at(i), host_->model.reason(i));
    QCOMPARE(reasons, (QMap<QString, QString>{
                          {"overwrite|changed.html", "same size, different content (SHA-256)"},
                          {"overwrite|longer.html", "remote 11 bytes, local 13 bytes"}}));
    QCOMPARE(syncAndCompareAgain(boxes), QStringList{kIdentical});
}

void TestRulesAgainstServers::syncLeavesNothingToDo_data() {
    QTest::addColumn<ServerSetup>("setup");
    QTest::addColumn<Overwrite>("overwrite");
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<int>("files");
    QTest::addColumn<int>("transfers");
    const struct {
        const char* name;
        ServerSetup setup;
    } servers[] = {{"pyftpdlib with HASH", pyftpdlib({}, "hash")}, {"vsftpd", vsftpd()}};
    for (const auto& s : servers)
        for (Overwrite o :
             {Overwrite::Smaller, Overwrite::Size, Overwrite::Time, Overwrite::Content})
            QTest::addRow("%s, %s", s.name, qPrintable(CompareRules::word(o)))
                << s.setup << o << quint32(int(o) + 7) << 16 << 1;
    // Enough files of equal size that times and hashes are asked over several
    // sessions, and uploads made by several.
    QTest::newRow("vsftpd, time, four sessions") << vsftpd() << Overwrite::Time << 21u << 150 << 4;
    QTest::newRow("pyftpdlib with HASH, content, four sessions")
        << pyftpdlib({}, "hash") << Overwrite::Content << 22u << 150 << 4;
}

void TestRulesAgainstServers::syncLeavesNothingToDo() {
    QFETCH(ServerSetup, setup);
    QFETCH(Overwrite, overwrite);
    QFETCH(quint32, seed);
    QFETCH(int, files);
    QFETCH(int, transfers);
    if (!start(setup))
        return;
    host_->transferCount = transfers;
    // Paths on one side, the other or both, in sizes and times equal or not.
    QRandomGenerator random(seed);
    const QStringList folders{"", "a/", "a/b/", "c/"};
    const QStringList names{"index.html", "x.txt", "X.txt", "y.css"};
    Files local, remote;
    QStringList newer;
    for (int i = 0; i < files; ++i) {
        const QString name = files <= 16 ? names.at(random.bounded(int(names.size())))
                                         : QStringLiteral("f%1.txt").arg(i);
        const QString path = folders.at(random.bounded(int(folders.size()))) + name;
        const QByteArray bytes(random.bounded(3), char('a' + random.bounded(2)));
        const int where = random.bounded(3);
        if (where != 1)
            local.insert(path, bytes);
        if (where != 0)
            remote.insert(path, where == 2 && random.bounded(2) ? bytes : QByteArray("ab"));
        if (random.bounded(2))
            newer << path;
    }
    QVERIFY(put(local_->path(), local, newer));
    QVERIFY(put(remoteRoot(), remote));
    host_->rules = {CompareRules::Match::Path, overwrite};
    MessageRecorder boxes;

    RunCompare(*host_);
    QVERIFY(host_->model.rowCount() > 0);
    // Where the server computes no hashes, each compare says so.
    QStringList after = syncAndCompareAgain(boxes);
    after.removeAll(RuleCompare::noHashNote());
    QCOMPARE(after, QStringList{kIdentical});
}

QTEST_GUILESS_MAIN(TestRulesAgainstServers)
#include "tst_rules_servers.moc"
