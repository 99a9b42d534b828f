// A compare run followed by a sync run over local trees that cannot be read in
// full, or whose names are not UTF-8, against loopback FTP servers: what the
// server holds before and after, the rows and the messages.

#include "compare/CompareRun.h"
#include "core/NameCodec.h"
#include "core/UiYield.h"
#include "sync/SyncRun.h"
#include "tests/support/FakeHost.h"
#include "tests/support/MessageRecorder.h"
#include "tests/support/TestServers.h"
#include "tests/support/TreeBuilder.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QProcess>
#include <QtTest>

#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace TreeBuilder;

namespace {

const QString kDeleted = QStringLiteral(" could be deleted");
const QString kUpload = QStringLiteral(" could be uploaded to");
const QString kOverwrite = QStringLiteral(" could be overwriten");

// Relative path -> content, both as bytes. A path ending in "/" is a folder.
using Files = QMap<QByteArray, QByteArray>;

bool makeFiles(const QByteArray& root, const Files& files) {
    for (auto it = files.begin(); it != files.end(); ++it) {
        const QList<QByteArray> parts = it.key().split('/');
        QByteArray path = root;
        for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
            path += parts[i] + '/';
            struct stat st;
            if (::stat(path.constData(), &st) != 0 && !makeFolder(path))
                return false;
        }
        if (!parts.constLast().isEmpty() && !makeFile(root + it.key(), it.value()))
            return false;
    }
    return true;
}

QByteArray readAll(const QByteArray& path) {
    QByteArray out;
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return "<unreadable>";
    char buffer[4096];
    for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;)
        out.append(buffer, got);
    ::close(fd);
    return out;
}

QByteArray hashOf(const QByteArray& content) {
    return QCryptographicHash::hash(content, QCryptographicHash::Sha1).toHex();
}

// Relative path -> hash of the content, for every file below root, by the
// bytes of the names.
void hashTree(const QByteArray& root, const QByteArray& relative,
              QMap<QByteArray, QByteArray>& out) {
    DIR* dir = ::opendir((root + relative).constData());
    if (!dir)
        return;
    while (const dirent* d = ::readdir(dir)) {
        const QByteArray name(d->d_name);
        if (name == "." || name == "..")
            continue;
        const QByteArray rel = relative + name;
        struct stat st;
        if (::lstat((root + rel).constData(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode))
            hashTree(root, rel + '/', out);
        else if (S_ISREG(st.st_mode))
            out.insert(rel, hashOf(readAll(root + rel)));
    }
    ::closedir(dir);
}

QMap<QByteArray, QByteArray> hashesOf(const QByteArray& root) {
    QMap<QByteArray, QByteArray> out;
    hashTree(root, {}, out);
    return out;
}

QMap<QByteArray, QByteArray> hashesOf(const Files& files) {
    QMap<QByteArray, QByteArray> out;
    for (auto it = files.begin(); it != files.end(); ++it)
        if (!it.key().endsWith('/'))
            out.insert(it.key(), hashOf(it.value()));
    return out;
}

QString oneLine(QString text) {
    return text.replace(u'\n', QStringLiteral("\\n"));
}

// "action|source|destination|tick", the local folder written as "L/".
QString rowText(const ResultListModel& m, int i, const QString& localFolder) {
    QString source = m.source(i);
    if (source.startsWith(localFolder))
        source = "L/" + source.mid(localFolder.size());
    return m.action(i) + u'|' + source + u'|' + m.destination(i) + u'|' +
           (m.isChecked(i) ? u'x' : u' ');
}

// The test binary doubles as a helper that makes one compare run and one sync
// run and prints what the user would see, so that a local tree can be
// unreadable to it while the suite itself runs as root.
//   --helper <local folder> <port> <user> <password> <remote folder>
// prints "euid\t<n>", then "row\t<row>" and "box\t<text>" lines of the compare
// run, then "sync\t<text>" lines of the sync run.
int helperMain(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 7)
        return 2;
    std::printf("euid\t%d\n", int(::geteuid()));
    MessageRecorder recorder;
    FakeHost host;
    host.localFolder = QString::fromUtf8(argv[2]);
    host.port = QString::fromUtf8(argv[3]);
    host.userName = QString::fromUtf8(argv[4]);
    host.password = QString::fromUtf8(argv[5]);
    host.remoteFolder = QString::fromUtf8(argv[6]);
    RunCompare(host);
    for (int i = 0; i < host.model.rowCount(); ++i)
        std::printf("row\t%s\n", rowText(host.model, i, host.localFolder).toUtf8().constData());
    for (const QString& t : recorder.texts())
        std::printf("box\t%s\n", oneLine(t).toUtf8().constData());
    recorder.clear();
    RunSync(host);
    for (const QString& t : recorder.texts())
        std::printf("sync\t%s\n", oneLine(t).toUtf8().constData());
    return 0;
}

} // namespace

class TestLocalTreeSync : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void unreadableLocalFolders_data();
    void unreadableLocalFolders();
    void namesThatAreNotUtf8_data();
    void namesThatAreNotUtf8();

private:
    QByteArray local_; // ends with "/"
};

void TestLocalTreeSync::init() {
    QByteArray pattern = QDir::tempPath().toUtf8() + "/pellmor-localtree-XXXXXX";
    QVERIFY(::mkdtemp(pattern.data()));
    // The unprivileged helper must reach the tree.
    QVERIFY(::chmod(pattern.constData(), 0755) == 0);
    local_ = pattern + '/';
}

void TestLocalTreeSync::cleanup() {
    removeTree(local_.chopped(1));
}

void TestLocalTreeSync::unreadableLocalFolders_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QStringList>("rows");     // sorted; "L/" is the local folder
    QTest::addColumn<QStringList>("messages"); // of the compare run; "{L}" is the local folder
    QTest::addColumn<bool>("extraDeleted");

    const QString U = kUpload, O = kOverwrite, D = kDeleted;
    const QStringList uploads{O + "|L/old.txt|/www/old.txt|x", U + "|L/new.txt|/www/new.txt|x"};
    const auto one = [](const QString& place) {
        return QStringList{"A local folder could not be read:\\n{L}" + place +
                           "\\n\\nNo remote file is proposed for deletion, as the files in it "
                           "are unknown."};
    };

    QTest::newRow("all readable: surplus remote file deleted")
        << "readable" << QStringList{D + "|/www/extra.txt||x"} + uploads << QStringList{} << true;
    QTest::newRow("folder that cannot be listed (mode 000)")
        << "000" << uploads << one("locked/") << false;
    QTest::newRow("folder that can be listed, not entered (mode r--)")
        << "r--" << uploads << one("locked/") << false;
    QTest::newRow("link to a folder on a disk that is not mounted")
        << "link" << uploads << one("locked") << false;
    QTest::newRow("seven refused folders: five named, and how many")
        << "many" << uploads
        << QStringList{"7 local folders could not be read:\\n{L}locked/\\n{L}z1/\\n{L}z2/\\n"
                       "{L}z3/\\n{L}z4/\\n... and 2 more\\n\\nNo remote file is proposed for "
                       "deletion, as the files in them are unknown."}
        << false;
}

void TestLocalTreeSync::unreadableLocalFolders() {
    QFETCH(QString, kind);
    QFETCH(QStringList, rows);
    QFETCH(QStringList, messages);
    QFETCH(bool, extraDeleted);

    FtpTestServer server;
    START_TEST_SERVER(server);
    const QByteArray remoteRoot = QFile::encodeName(server.rootPath()) + '/';
    const Files remote{{"www/keep.txt", "keep"},
                       {"www/old.txt", "o"},
                       {"www/extra.txt", "only on the server"},
                       {"www/locked/secret.txt", "kept where the user cannot read"}};
    QVERIFY(makeFiles(remoteRoot, remote));
    QVERIFY(makeFiles(local_,
                      {{"keep.txt", "keep"}, {"new.txt", "new file"}, {"old.txt", "old content"}}));
    if (kind == u"link") {
        QVERIFY(makeLink("/nonexistent/pellmor-disk/locked", local_ + "locked"));
    } else {
        QVERIFY(makeFiles(local_, {{"locked/secret.txt", "kept where the user cannot read"}}));
        if (kind == u"many")
            for (int i = 1; i <= 6; ++i)
                QVERIFY(makeFolder(local_ + 'z' + QByteArray::number(i), 0));
        if (kind == u"000" || kind == u"many")
            QVERIFY(::chmod((local_ + "locked").constData(), 0) == 0);
        else if (kind == u"r--")
            QVERIFY(::chmod((local_ + "locked").constData(), 0444) == 0);
    }

    QString program = QCoreApplication::applicationFilePath();
    QStringList args{QStringLiteral("--helper"),
                     QString::fromUtf8(local_),
                     QString::number(server.port()),
                     server.user(),
                     server.password(),
                     QStringLiteral("/www/")};
    if (::geteuid() == 0) {
        args = QStringList{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                           QStringLiteral("--clear-groups"), program} +
               args;
        program = QStringLiteral("setpriv");
    }
    QProcess helper;
    helper.start(program, args);
    QVERIFY2(helper.waitForFinished(60000) && helper.exitStatus() == QProcess::NormalExit &&
                 helper.exitCode() == 0,
             qPrintable(QString::fromLocal8Bit(helper.readAllStandardError())));
    QStringList lines = QString::fromUtf8(helper.readAllStandardOutput()).split(u'\n');
    lines.removeAll(QString());
    QVERIFY(!lines.isEmpty());
    if (lines.takeFirst() == u"euid\t0")
        QSKIP("the helper still runs with root's rights");

    QStringList gotRows, gotBoxes, gotSync;
    for (const QString& line : std::as_const(lines)) {
        const QString value = line.section(u'\t', 1);
        if (line.startsWith(u"row\t"))
            gotRows << value;
        else if (line.startsWith(u"box\t"))
            gotBoxes << value;
        else if (line.startsWith(u"sync\t"))
            gotSync << value;
    }
    gotRows.sort();
    rows.sort();
    QCOMPARE(gotRows, rows);
    for (QString& m : messages)
        m.replace(QStringLiteral("{L}"), QString::fromUtf8(local_));
    QCOMPARE(gotBoxes, messages);
    QCOMPARE(gotSync, QStringList{"Done."});

    // Uploads and overwrites went ahead; nothing the unread folder may hold
    // was deleted.
    Files after = remote;
    after["www/old.txt"] = "old content";
    after["www/new.txt"] = "new file";
    if (extraDeleted)
        after.remove("www/extra.txt");
    QCOMPARE(hashesOf(remoteRoot), hashesOf(after));
}

void TestLocalTreeSync::namesThatAreNotUtf8_data() {
    QTest::addColumn<FtpTestServer::Kind>("kind");
    QTest::newRow("pyftpdlib") << FtpTestServer::Kind::Pyftpdlib;
    QTest::newRow("vsftpd") << FtpTestServer::Kind::Vsftpd;
}

void TestLocalTreeSync::namesThatAreNotUtf8() {
    QFETCH(FtpTestServer::Kind, kind);
    if (!makeFile(local_ + "caf\xe9.txt", "latin-1 name"))
        QSKIP("the file system refuses names that are not valid UTF-8");
    FtpTestServer server(kind);
    START_TEST_SERVER(server);
    const QByteArray remoteRoot = QFile::encodeName(server.rootPath()) + '/';
    // The same bytes in another folder are the same name; the UTF-8 spelling
    // of the same letters is another name.
    // The server's temporary folder cannot remove names that are not UTF-8.
    const struct RemoveAtEnd {
        QByteArray path;
        ~RemoveAtEnd() { removeTree(path); }
    } removeAtEnd{remoteRoot + "www"};
    const Files remote{{"www/keep\xff/old\xff.dat", "twin bytes"},
                       {"www/caf\xc3\xa9.txt", "utf-8 look-alike"}};
    QVERIFY(makeFiles(remoteRoot, remote));
    QVERIFY(
        makeFiles(local_, {{"sub/old\xff.dat", "twin bytes"}, {"dir\xe8/in\xe8.txt", "inside"}}));

    MessageRecorder rec;
    FakeHost host;
    host.hostName = server.host();
    host.port = QString::number(server.port());
    host.userName = server.user();
    host.password = server.password();
    host.localFolder = QString::fromUtf8(local_);
    host.remoteFolder = QStringLiteral("/www/");
    RunCompare(host);

    const QString e9 = decodeNameBytes("\xe9"), e8 = decodeNameBytes("\xe8");
    QStringList rows;
    for (int i = 0; i < host.model.rowCount(); ++i)
        rows << rowText(host.model, i, host.localFolder);
    QCOMPARE(rows, (QStringList{kDeleted + "|/www/caf\u00e9.txt||x",
                                kUpload + "|L/caf" + e9 + ".txt|/www/caf" + e9 + ".txt|x",
                                kUpload + "|L/dir" + e8 + "/in" + e8 + ".txt|/www/dir" + e8 +
                                    "/in" + e8 + ".txt|x"}));
    QCOMPARE(rec.texts(), QStringList{});

    // The list shows the bytes readably; the rows keep the exact names.
    QStringList shown;
    for (int i = 0; i < host.model.rowCount(); ++i)
        for (int c : {int(ResultListModel::SourceColumn), int(ResultListModel::DestinationColumn)})
            shown << host.model.data(host.model.index(i, c), Qt::DisplayRole).toString();
    const QString L = host.localFolder;
    QCOMPARE(shown, (QStringList{"/www/caf\u00e9.txt", "", L + "caf\\xE9.txt", "/www/caf\\xE9.txt",
                                 L + "dir\\xE8/in\\xE8.txt", "/www/dir\\xE8/in\\xE8.txt"}));

    RunSync(host);
    QCOMPARE(rec.texts(), QStringList{"Done."});
    Files after = remote;
    after.remove("www/caf\xc3\xa9.txt");
    after["www/caf\xe9.txt"] = "latin-1 name";
    after["www/dir\xe8/in\xe8.txt"] = "inside";
    QCOMPARE(hashesOf(remoteRoot), hashesOf(after));
}

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--helper") == 0)
        return helperMain(argc, argv);
    QCoreApplication app(argc, argv);
    TestLocalTreeSync test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_localtree_sync.moc"
