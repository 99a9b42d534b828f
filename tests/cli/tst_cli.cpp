// The command line, run as the built program without a display, against real
// local trees and a loopback FTP server.

#include "cli/CommandLine.h"
#include "cli/ConsoleProgress.h"
#include "compare/CompareRun.h"
#include "tests/support/FakeHost.h"
#include "tests/support/MessageRecorder.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestServers.h"
#include "tests/support/TreeBuilder.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Relative path ("/"-separated) to contents.
using Tree = QMap<QString, QByteArray>;

bool writeTree(const QString& root, const Tree& tree) {
    for (auto it = tree.begin(); it != tree.end(); ++it) {
        if (!TestFiles::writeFile(root + QLatin1Char('/') + it.key(), it.value()))
            return false;
    }
    return true;
}

Tree readTree(const QString& root) {
    Tree tree;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile f(path);
        if (f.open(QIODevice::ReadOnly))
            tree.insert(QDir(root).relativeFilePath(path), f.readAll());
    }
    return tree;
}

QByteArray contents(QRandomGenerator& random, int size) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& c : bytes)
        c = char(random.bounded(256));
    return bytes;
}

// Trees that exercise the matching: the same name in several folders on either
// side, names that differ only in case, names the compare ignores, sizes on
// both sides of each other.
std::pair<Tree, Tree> tangledTrees(quint32 seed) {
    QRandomGenerator random(seed);
    const QStringList folders{"", "sub/", "sub/deep/", "other/", "x y/"};
    const QStringList names{"a.txt", "b.txt",    "Read.me", "read.me", "~lock.txt",
                            "c.dat", "d e.html", ".hidden", "f.bin"};
    const int sizes[] = {0, 1, 10, 1024, 1025, 3000};
    Tree local, remote;
    for (Tree* tree : {&local, &remote}) {
        const int count = random.bounded(3, 12);
        for (int i = 0; i < count; ++i) {
            const QString path = folders.at(random.bounded(int(folders.size()))) +
                                 names.at(random.bounded(int(names.size())));
            tree->insert(path, contents(random, sizes[random.bounded(int(std::size(sizes)))]));
        }
    }
    return {local, remote};
}

// Trees in which every name lives in one place only, so that one sync brings
// the server in line: each entry is local, remote or both (in any sizes).
std::pair<Tree, Tree> syncableTrees(quint32 seed) {
    QRandomGenerator random(seed);
    Tree local, remote;
    const int count = random.bounded(4, 14);
    for (int i = 0; i < count; ++i) {
        const QString folder =
            QStringList{"", "sub/", "sub/deep/", "new/inner/"}.at(random.bounded(4));
        const QString path = folder + QStringLiteral("file%1.dat").arg(i);
        const int where = random.bounded(3);
        if (where != 1)
            local.insert(path, contents(random, random.bounded(0, 5000)));
        if (where != 0)
            remote.insert(path, contents(random, random.bounded(0, 5000)));
    }
    return {local, remote};
}

struct Outcome {
    int status = -1;
    QStringList lines; // standard output
    QByteArray output; // the same, as bytes
    QString err;
};

// The rows of the default output: one a line, three tab-separated fields
// with \t, \r, \n and \\ undone. A row that is not three fields, or an
// escape that is none of those, is a row that cannot be read back; so is a
// carriage return, which many line readers take for the end of a line.
std::optional<QList<QByteArrayList>> readLines(const QByteArray& output) {
    if (output.contains('\r'))
        return std::nullopt;
    QList<QByteArrayList> rows;
    QByteArrayList lines = output.split('\n');
    if (lines.takeLast() != QByteArray())
        return std::nullopt;
    for (const QByteArray& line : std::as_const(lines)) {
        QByteArrayList fields = line.split('\t');
        if (fields.size() != 3)
            return std::nullopt;
        for (QByteArray& field : fields) {
            QByteArray plain;
            for (qsizetype i = 0; i < field.size(); ++i) {
                if (field[i] != '\\') {
                    plain += field[i];
                    continue;
                }
                const char escaped = ++i < field.size() ? field[i] : '?';
                const qsizetype at = QByteArray("trn\\").indexOf(escaped);
                if (at < 0)
                    return std::nullopt;
                plain += "\t\r\n\\"[at];
            }
            field = plain;
        }
        rows.append(fields);
    }
    return rows;
}

// The rows of --null output: every field ends in a NUL byte.
std::optional<QList<QByteArrayList>> readNulFields(const QByteArray& output) {
    QByteArrayList fields = output.split('\0');
    if (fields.takeLast() != QByteArray() || fields.size() % 3 != 0)
        return std::nullopt;
    QList<QByteArrayList> rows;
    for (qsizetype i = 0; i < fields.size(); i += 3)
        rows.append(fields.mid(i, 3));
    return rows;
}

// One row of the window's list, as the command line prints it.
QString rowLine(const ResultListModel& m, int row) {
    return m.action(row).trimmed() + '\t' + m.source(row) + '\t' + m.destination(row);
}

} // namespace

class TestCli : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void rowsEqualTheWindow_data();
    void rowsEqualTheWindow();
    void syncThenCompareIsIdentical_data();
    void syncThenCompareIsIdentical();
    void badInputChangesNothing_data();
    void badInputChangesNothing();
    void serversThatDropOrRefuse_data();
    void serversThatDropOrRefuse();
    void syncWithoutYesNeedsATerminal();
    void storedSettingsFillTheGaps();
    void passwordSources_data();
    void passwordSources();
    void stoppedSyncIsNotDone();
    void namesThatAreNotUtf8KeepTheirBytes();
    void rowsReadBackWhateverTheNames_data();
    void rowsReadBackWhateverTheNames();
    void commandLineOrWindow_data();
    void commandLineOrWindow();
    void helpAndVersion_data();
    void helpAndVersion();
    void progressLine_data();
    void progressLine();
    void rulesFromOptionsOrSettings_data();
    void rulesFromOptionsOrSettings();

private:
    Outcome run(const QStringList& arguments, const QString& password = QStringLiteral("*"));
    QStringList serverOptions(const QString& remote = QStringLiteral("/www/")) const;
    QString remoteRoot() const { return server_->rootPath() + QStringLiteral("/www"); }

    std::unique_ptr<FtpTestServer> server_;
    std::unique_ptr<QTemporaryDir> local_;
    std::unique_ptr<QTemporaryDir> config_;
};

void TestCli::init() {
    server_ = std::make_unique<FtpTestServer>();
    START_TEST_SERVER(*server_);
    QVERIFY(QDir().mkpath(remoteRoot()));
    local_ = std::make_unique<QTemporaryDir>();
    config_ = std::make_unique<QTemporaryDir>();
    QVERIFY(local_->isValid() && config_->isValid());
}

void TestCli::cleanup() {
    server_.reset();
}

// Runs the program with no display, no terminal, and settings of its own. The
// password goes in through the environment; "*" means the server's.
Outcome TestCli::run(const QStringList& arguments, const QString& password) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "PELLMOR_PASSWORD"})
        env.remove(QLatin1String(name));
    env.insert("XDG_CONFIG_HOME", config_->path());
    if (!password.isNull())
        env.insert("PELLMOR_PASSWORD", password == "*" ? server_->password() : password);

    QProcess program;
    program.setProcessEnvironment(env);
    program.setStandardInputFile(QProcess::nullDevice());
    program.start(QStringLiteral(PELLMOR_BINARY), arguments);
    Outcome out;
    if (!program.waitForFinished(120000) || program.exitStatus() != QProcess::NormalExit) {
        out.err = "did not finish: " + QString::fromLocal8Bit(program.readAllStandardError());
        return out;
    }
    out.status = program.exitCode();
    out.output = program.readAllStandardOutput();
    const QString text = QString::fromLocal8Bit(out.output);
    out.lines = text.split(u'\n', Qt::SkipEmptyParts);
    out.err = QString::fromLocal8Bit(program.readAllStandardError());
    return out;
}

QStringList TestCli::serverOptions(const QString& remote) const {
    return {"--host",  server_->host(), "--port",   QString::number(server_->port()),
            "--user",  server_->user(), "--remote", remote,
            "--local", local_->path()};
}

void TestCli::rowsEqualTheWindow_data() {
    QTest::addColumn<quint32>("seed");
    for (quint32 seed : {1u, 2u, 3u, 4u, 5u, 6u})
        QTest::newRow(qPrintable(QStringLiteral("seed %1").arg(seed))) << seed;
}

void TestCli::rowsEqualTheWindow() {
    QFETCH(quint32, seed);
    const auto [local, remote] = tangledTrees(seed);
    QVERIFY(writeTree(local_->path(), local));
    QVERIFY(writeTree(remoteRoot(), remote));

    MessageRecorder recorder;
    FakeHost window;
    window.port = QString::number(server_->port());
    window.userName = server_->user();
    window.password = server_->password();
    window.remoteFolder = "/www/";
    window.localFolder = local_->path();
    RunCompare(window);
    QStringList expected;
    for (int row = 0; row < window.model.rowCount(); ++row)
        expected.append(rowLine(window.model, row));

    const Outcome out = run(QStringList{"compare"} + serverOptions());

    QCOMPARE(out.lines, expected);
    QCOMPARE(out.status, expected.isEmpty() ? 0 : 1);
    QCOMPARE(out.err.trimmed(), recorder.texts().join('\n'));
}

void TestCli::syncThenCompareIsIdentical_data() {
    QTest::addColumn<quint32>("seed");
    for (quint32 seed : {11u, 12u, 13u})
        QTest::newRow(qPrintable(QStringLiteral("seed %1").arg(seed))) << seed;
}

void TestCli::syncThenCompareIsIdentical() {
    QFETCH(quint32, seed);
    const auto [local, remote] = syncableTrees(seed);
    QVERIFY(writeTree(local_->path(), local));
    QVERIFY(writeTree(remoteRoot(), remote));

    const Outcome compared = run(QStringList{"compare"} + serverOptions());
    const Outcome synced = run(QStringList{"sync", "--yes"} + serverOptions());
    QCOMPARE(synced.status, 0);
    QCOMPARE(synced.lines.size(), compared.lines.size());
    for (int i = 0; i < synced.lines.size(); ++i) {
        // The same rows, each now marked with its outcome.
        QCOMPARE(synced.lines.at(i).section('\t', 0, 0), QStringLiteral("Done"));
        QCOMPARE(synced.lines.at(i).section('\t', 1), compared.lines.at(i).section('\t', 1));
    }

    const Outcome again = run(QStringList{"compare"} + serverOptions());
    QCOMPARE(again.status, 0);
    QCOMPARE(again.lines, QStringList{});
    // Remote files without a local namesake are gone; a local file arrived
    // whole where it was missing or its remote namesake was smaller.
    Tree expected;
    for (auto it = local.begin(); it != local.end(); ++it) {
        const bool keepRemote = remote.contains(it.key()) && remote[it.key()].size() >= it->size();
        expected.insert(it.key(), keepRemote ? remote[it.key()] : it.value());
    }
    QCOMPARE(readTree(remoteRoot()), expected);
}

void TestCli::serversThatDropOrRefuse_data() {
    QTest::addColumn<int>("dropEvery");
    QTest::addColumn<QString>("fault"); // on changing into /www/sub/
    QTest::addColumn<int>("status");    // of the compare
    QTest::addColumn<QString>("message");
    QTest::newRow("421 every 9 commands") << 9 << QString() << 1 << QString();
    QTest::newRow("subfolder refused")
        << 0 << "refuse" << 2 << "A remote folder could not be listed:\n/www/sub/";
    QTest::newRow("connection keeps failing")
        << 0 << "drop" << 2
        << "The connection to the server failed while listing the remote folder /www/sub/";
}

// A server that drops connections gets the rows of one that keeps them; one
// that refuses a folder or keeps failing gets no rows at all, and nothing on
// it changes.
void TestCli::serversThatDropOrRefuse() {
    QFETCH(int, dropEvery);
    QFETCH(QString, fault);
    QFETCH(int, status);
    QFETCH(QString, message);
    const Tree local{{"a.txt", "new a"}, {"sub/b.txt", "new b"}};
    const Tree remote{{"a.txt", "old"}, {"sub/b.txt", "b"}, {"sub/c.txt", "gone"}};
    QVERIFY(writeTree(local_->path(), local));
    QVERIFY(writeTree(remoteRoot(), remote));
    const Outcome clean = run(QStringList{"compare"} + serverOptions());
    QCOMPARE(clean.status, 1);

    FtpTestServer::Options options;
    options.dropEvery = dropEvery;
    server_ = std::make_unique<FtpTestServer>(FtpTestServer::Kind::Pyftpdlib, options);
    START_TEST_SERVER(*server_);
    QVERIFY(writeTree(remoteRoot(), remote));
    for (const char* verb : {"CWD", "MLSD"})
        if (!fault.isEmpty())
            server_->addFault({QLatin1String(verb), fault, 0, 0, -1, QStringLiteral("sub")});
    const Outcome compared = run(QStringList{"compare"} + serverOptions());
    QCOMPARE(compared.status, status);
    if (status == 1) {
        QCOMPARE(compared.lines, clean.lines);
    } else {
        QCOMPARE(compared.lines, QStringList());
        QVERIFY2(compared.err.contains(message), qPrintable(compared.err));
    }
    const Outcome synced = run(QStringList{"sync", "--yes"} + serverOptions());
    QCOMPARE(synced.status, status == 1 ? 0 : 2);
    QCOMPARE(readTree(remoteRoot()), status == 1 ? local : remote);
}

void TestCli::badInputChangesNothing_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("message");

    const QString p = QStringLiteral("*");
    QTest::newRow("unknown option") << QStringList{"--bogus"} << p << "Unknown option 'bogus'";
    QTest::newRow("missing value") << QStringList{"--port"} << p << "Missing value after '--port'";
    QTest::newRow("port not a number") << QStringList{"--port", "2l"} << p << "port";
    QTest::newRow("port out of range") << QStringList{"--port", "70000"} << p << "port";
    QTest::newRow("local folder missing")
        << QStringList{"--local", "/nonexistent/pellmor"} << p << "local folder does not exist";
    QTest::newRow("local folder is a file")
        << QStringList{"--local", "@local/new.txt"} << p << "local folder is not a folder";
    QTest::newRow("remote folder missing")
        << QStringList{"--remote", "/www/missing/"} << p << "remote folder does not exist";
    QTest::newRow("remote folder is a file")
        << QStringList{"--remote", "/www/keep.txt"} << p << "remote folder does not exist";
    QTest::newRow("wrong password") << QStringList{} << "wrong"
                                    << "Could not connect.";
    QTest::newRow("password file unreadable")
        << QStringList{"--password-file", "/nonexistent/pw"} << p << "password file";
    QTest::newRow("no server anywhere") << QStringList{"--host", QString()} << p << "--host";
    QTest::newRow("unexpected argument") << QStringList{"extra"} << p << "unexpected argument";
    QTest::newRow("no sessions") << QStringList{"--transfers", "0"} << p << "--transfers";
    QTest::newRow("too many sessions") << QStringList{"--transfers", "9"} << p << "--transfers";
    QTest::newRow("sessions not a number")
        << QStringList{"--transfers", "all"} << p << "--transfers";
}

void TestCli::badInputChangesNothing() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, password);
    QFETCH(QString, message);
    // A sync would delete keep.txt and upload new.txt.
    const Tree remote{{"keep.txt", "remote"}};
    QVERIFY(writeTree(remoteRoot(), remote));
    QVERIFY(writeTree(local_->path(), {{"new.txt", "local"}}));

    // Each bad option takes the place of its good counterpart; a null value
    // leaves the option out, and "@local" stands for the local folder.
    arguments.replaceInStrings(QRegularExpression("^@local"), local_->path());
    QStringList all = serverOptions();
    for (int i = 0; i + 1 < arguments.size(); i += 2) {
        const qsizetype at = all.indexOf(arguments.at(i));
        if (at >= 0 && arguments.at(i + 1).isNull())
            all.remove(at, 2);
        else if (at >= 0)
            all[at + 1] = arguments.at(i + 1);
        else
            all << arguments.at(i) << arguments.at(i + 1);
    }
    if (arguments.size() % 2)
        all << arguments.last();

    const Outcome out = run(QStringList{"sync", "--yes"} + all, password);

    QCOMPARE(out.status, 2);
    QVERIFY2(out.err.contains(message), qPrintable(out.err));
    QCOMPARE(out.lines, QStringList{});
    QCOMPARE(readTree(remoteRoot()), remote);
}

void TestCli::syncWithoutYesNeedsATerminal() {
    const Tree remote{{"old.txt", "x"}};
    QVERIFY(writeTree(remoteRoot(), remote));
    QVERIFY(writeTree(local_->path(), {{"new.txt", "y"}}));

    const Outcome out = run(QStringList{"sync"} + serverOptions());

    QCOMPARE(out.status, 4);
    QVERIFY2(out.err.contains("--yes") && out.err.contains("nothing was changed"),
             qPrintable(out.err));
    QCOMPARE(readTree(remoteRoot()), remote);
}

void TestCli::storedSettingsFillTheGaps() {
    QVERIFY(writeTree(local_->path(), {{"a.txt", "a"}}));
    const QString file = config_->path() + "/Tarvex.ini";
    {
        QSettings stored(file, QSettings::IniFormat);
        stored.beginGroup("Pellmor");
        stored.setValue("HostName", server_->host());
        stored.setValue("Port", QString::number(server_->port()));
        stored.setValue("UserName", server_->user());
        stored.setValue("Password", server_->password());
        stored.setValue("Remote Folder", "/missing/");
        stored.setValue("Text1", local_->path() + '/');
    }
    QFile before(file);
    QVERIFY(before.open(QIODevice::ReadOnly));
    const QByteArray storedBytes = before.readAll();
    const QString row = "could be uploaded to\t" + local_->path() + "/a.txt\t/www/a.txt";

    // The stored remote folder is missing; the given one wins.
    const Outcome given = run({"compare", "--remote", "/www/"}, QString());
    QCOMPARE(given.lines, QStringList{row});
    QCOMPARE(given.status, 1);

    const Outcome storedOnly = run({"compare"}, QString());
    QCOMPARE(storedOnly.status, 2);
    QVERIFY2(storedOnly.err.contains("/missing/"), qPrintable(storedOnly.err));

    QFile after(file);
    QVERIFY(after.open(QIODevice::ReadOnly));
    QCOMPARE(after.readAll(), storedBytes);
}

void TestCli::passwordSources_data() {
    QTest::addColumn<QString>("environment"); // null: not set
    QTest::addColumn<QString>("file");        // null: no --password-file
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("status");

    const QString right = QStringLiteral("*");
    QTest::newRow("environment") << right << QString() << "wrong" << 1;
    QTest::newRow("file beats environment") << "wrong" << right << "wrong" << 1;
    QTest::newRow("stored when nothing given") << QString() << QString() << right << 1;
    QTest::newRow("environment beats stored") << "wrong" << QString() << right << 2;
}

void TestCli::passwordSources() {
    QFETCH(QString, environment);
    QFETCH(QString, file);
    QFETCH(QString, stored);
    QFETCH(int, status);
    QVERIFY(writeTree(local_->path(), {{"a.txt", "a"}}));
    const auto actual = [&](const QString& p) { return p == "*" ? server_->password() : p; };
    {
        QSettings settings(config_->path() + "/Tarvex.ini", QSettings::IniFormat);
        settings.setValue("Pellmor/Password", actual(stored));
    }
    QStringList arguments = QStringList{"compare"} + serverOptions();
    if (!file.isNull()) {
        QFile pw(config_->path() + "/pw");
        QVERIFY(pw.open(QIODevice::WriteOnly));
        pw.write(actual(file).toUtf8() + "\n");
        arguments << "--password-file" << pw.fileName();
    }

    const Outcome out = run(arguments, environment);

    QVERIFY2(out.status == status, qPrintable(out.err));
}

void TestCli::stoppedSyncIsNotDone() {
    QVERIFY(writeTree(remoteRoot(), {{"old.txt", "x"}}));
    // The files of a folder come before those of its subfolders.
    QVERIFY(writeTree(local_->path(), {{"a.txt", "a"}, {"z/b.txt", "b"}}));
    server_->addFault({"STOR", "refuse", 0, 0, -1, "a.txt"});

    // One session: rows strictly one after another.
    const Outcome out = run(QStringList{"sync", "--yes", "--transfers", "1"} + serverOptions());

    QCOMPARE(out.status, 3);
    QVERIFY2(out.err.contains("Cant create requested file on server"), qPrintable(out.err));
    // The delete is done; the run stops at a.txt and never reaches b.txt.
    QCOMPARE(out.lines,
             (QStringList{"Done\t/www/old.txt\t",
                          "could be uploaded to\t" + local_->path() + "/a.txt\t/www/a.txt",
                          "could be uploaded to\t" + local_->path() + "/z/b.txt\t/www/z/b.txt"}));
}

void TestCli::namesThatAreNotUtf8KeepTheirBytes() {
    const QByteArray local = QFile::encodeName(local_->path()) + "/caf\xe9.txt";
    const QByteArray remote = QFile::encodeName(remoteRoot()) + "/caf\xe9.txt";
    // The temporary folders cannot remove names that are not UTF-8.
    const struct RemoveAtEnd {
        QByteArrayList paths;
        ~RemoveAtEnd() {
            for (const QByteArray& p : paths)
                ::unlink(p.constData());
        }
    } removeAtEnd{{local, remote}};
    if (!TreeBuilder::makeFile(local, "latin-1 name"))
        QSKIP("the file system refuses names that are not valid UTF-8");

    const QByteArray row = local + "\t/www/caf\xe9.txt\n";
    const Outcome compared = run(QStringList{"compare"} + serverOptions());
    QCOMPARE(compared.output, "could be uploaded to\t" + row);
    const Outcome synced = run(QStringList{"sync", "--yes"} + serverOptions());
    QCOMPARE(synced.status, 0);
    QCOMPARE(synced.output, "Done\t" + row);
    QFile copy;
    QVERIFY(copy.open(::open(remote.constData(), O_RDONLY | O_CLOEXEC), QIODevice::ReadOnly,
                      QFileDevice::AutoCloseHandle));
    QCOMPARE(copy.readAll(), QByteArray("latin-1 name"));
}

void TestCli::rowsReadBackWhateverTheNames_data() {
    QTest::addColumn<QByteArray>("name");
    QTest::newRow("plain") << QByteArray("plain.txt");
    QTest::newRow("tab") << QByteArray("a\tb.txt");
    QTest::newRow("carriage return") << QByteArray("a\rb.txt");
    QTest::newRow("line feed") << QByteArray("a\nb.txt");
    // Read back as written, not as the tab its two characters spell.
    QTest::newRow("backslash") << QByteArray("a\\tb\\.txt");
    QTest::newRow("all at once") << QByteArray("\\n\n\t\\\r");
}

void TestCli::rowsReadBackWhateverTheNames() {
    QFETCH(QByteArray, name);
    const QByteArray local = QFile::encodeName(local_->path()) + "/sub/" + name;
    QVERIFY(QDir(local_->path()).mkpath("sub"));
    QVERIFY(TreeBuilder::makeFile(local, "x"));
    const QList<QByteArrayList> expected{{"could be uploaded to", local, "/www/sub/" + name}};

    const Outcome lines = run(QStringList{"compare"} + serverOptions());
    QCOMPARE(lines.status, 1);
    const auto lineRows = readLines(lines.output);
    QVERIFY2(lineRows, lines.output.toPercentEncoding().constData());
    QCOMPARE(*lineRows, expected);

    const Outcome nul = run(QStringList{"compare", "--null"} + serverOptions());
    QCOMPARE(nul.status, 1);
    const auto nulRows = readNulFields(nul.output);
    QVERIFY2(nulRows, nul.output.toPercentEncoding().constData());
    QCOMPARE(*nulRows, expected);
}

void TestCli::commandLineOrWindow_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("commandLine");
    QTest::newRow("no arguments") << QStringList{} << false;
    QTest::newRow("command") << QStringList{"compare", "--yes"} << true;
    QTest::newRow("mistyped command") << QStringList{"comapre"} << true;
    QTest::newRow("long option") << QStringList{"--version"} << true;
    QTest::newRow("short help") << QStringList{"-h"} << true;
    QTest::newRow("short version") << QStringList{"-v"} << true;
    QTest::newRow("window system option") << QStringList{"-platform", "offscreen"} << false;
}

void TestCli::commandLineOrWindow() {
    QFETCH(QStringList, arguments);
    QFETCH(bool, commandLine);
    QList<QByteArray> bytes{"pellmor"};
    for (const QString& a : std::as_const(arguments))
        bytes.append(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& b : bytes)
        argv.push_back(b.data());
    QCOMPARE(IsCommandLineInvocation(int(argv.size()), argv.data()), commandLine);
}

void TestCli::helpAndVersion_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected");
    QTest::newRow("version") << QStringList{"--version"} << "pellmor " PELLMOR_VERSION_TEXT;
    QTest::newRow("help") << QStringList{"--help"} << "Exit status:";
    QTest::newRow("command help") << QStringList{"sync", "--help"} << "Exit status:";
}

void TestCli::helpAndVersion() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);
    const Outcome out = run(arguments);
    QCOMPARE(out.status, 0);
    QVERIFY2(out.lines.join('\n').contains(expected), qPrintable(out.lines.join('\n')));
}

void TestCli::progressLine_data() {
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("percent");
    QTest::addColumn<qint64>("done");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<qint64>("elapsedMs");
    QTest::addColumn<QString>("expected");

    QTest::newRow("just started") << 1 << 0 << qint64(0) << qint64(5000) << qint64(0)
                                  << "[1/4] f.bin 0% | 0 B of 4.9 KiB";
    QTest::newRow("speed and time left")
        << 2 << 50 << qint64(10) * 1024 * 1024 << qint64(30) * 1024 * 1024 << qint64(2000)
        << "[2/4] f.bin 50% | 10.0 MiB of 30.0 MiB | 5.0 MiB/s | 0:04 left";
    QTest::newRow("hours left")
        << 3 << 1 << qint64(1024) << qint64(4) * 1024 * 1024 * 1024 << qint64(1000)
        << "[3/4] f.bin 1% | 1.0 KiB of 4.0 GiB | 1.0 KiB/s | 1165:05:03 left";
    QTest::newRow("finished") << 4 << 100 << qint64(700) << qint64(700) << qint64(900)
                              << "[4/4] f.bin 100% | 700 B of 700 B | 777 B/s | 0:00 left";
}

void TestCli::progressLine() {
    QFETCH(int, row);
    QFETCH(int, percent);
    QFETCH(qint64, done);
    QFETCH(qint64, total);
    QFETCH(qint64, elapsedMs);
    QFETCH(QString, expected);
    ConsoleProgress::Snapshot s;
    s.row = row;
    s.rows = 4;
    s.file = "f.bin";
    s.percent = percent;
    s.bytesDone = done;
    s.bytesTotal = total;
    s.elapsedMs = elapsedMs;
    QCOMPARE(ConsoleProgress::line(s), expected);
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"

void TestCli::rulesFromOptionsOrSettings_data() {
    QTest::addColumn<QString>("stored"); // lines of [Pellmor]
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("lines"); // "L" and "R" stand for the two folders
    QTest::addColumn<QString>("err");

    // a/x.txt is at another place on the server, s.txt is bigger there.
    const QStringList none;
    const QStringList byPath{"could be deleted\tR/b/x.txt\t",
                             "could be uploaded to\tL/a/x.txt\tR/a/x.txt"};
    const QString overwriteS = "could be overwriten\tL/s.txt\tR/s.txt";
    const QString identical = "folders are identical";
    QTest::newRow("nothing given or stored") << "" << none << 0 << none << identical;
    QTest::newRow("--match path") << "" << QStringList{"--match", "path"} << 1 << byPath << "";
    QTest::newRow("--overwrite size")
        << "" << QStringList{"--overwrite", "size"} << 1 << QStringList{overwriteS} << "";
    QTest::newRow("stored rules") << "MatchBy=path\nOverwriteWhen=size\n"
                                  << none << 1 << byPath + QStringList{overwriteS} << "";
    QTest::newRow("options over stored rules")
        << "MatchBy=path\nOverwriteWhen=size\n"
        << QStringList{"--match", "name", "--overwrite", "smaller"} << 0 << none << identical;
    QTest::newRow("a note is no failure")
        << "" << QStringList{"--match", "path", "--overwrite", "content"} << 1
        << byPath + QStringList{overwriteS} << "no hash command";
    QTest::newRow("unknown match") << "" << QStringList{"--match", "folder"} << 2 << none
                                   << "--match takes name or path: folder";
    QTest::newRow("unknown overwrite") << "" << QStringList{"--overwrite", "newer"} << 2 << none
                                       << "--overwrite takes smaller, size, time or content: newer";
}

void TestCli::rulesFromOptionsOrSettings() {
    QFETCH(QString, stored);
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QStringList, lines);
    QFETCH(QString, err);
    QVERIFY(writeTree(local_->path(), {{"a/x.txt", "xyz"}, {"s.txt", "ab"}}));
    QVERIFY(writeTree(remoteRoot(), {{"b/x.txt", "xyz"}, {"s.txt", "abc"}}));
    QVERIFY(
        TestFiles::writeFile(config_->filePath("Tarvex.ini"), ("[Pellmor]\n" + stored).toUtf8()));

    const Outcome out = run(QStringList{"compare"} + serverOptions() + arguments);

    QCOMPARE(out.status, status);
    // The remote mark first: a temporary folder's name may end in "R".
    lines.replaceInStrings("R/", "/www/");
    lines.replaceInStrings("L/", local_->path() + '/');
    QCOMPARE(out.lines, lines);
    QVERIFY2(err.isEmpty() ? out.err.isEmpty() : out.err.contains(err), qPrintable(out.err));
}
