#include "ftp/wininet.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestServers.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSet>
#include <QtTest>

#include <memory>

#include <unistd.h>

namespace {

// One server and a logged-in session on it for the length of a test.
struct Remote {
    std::unique_ptr<FtpTestServer> server;
    HINTERNET internet = 0;
    HINTERNET connection = 0;

    ~Remote() {
        if (internet)
            InternetCloseHandle(internet);
    }
    QString local(const QString& relative) const {
        return server->rootPath() + QLatin1Char('/') + relative;
    }
};

// Starts a server and logs in to it.
#define START_REMOTE(remote, kind, options)                                                        \
    do {                                                                                           \
        (remote).server = std::make_unique<FtpTestServer>(kind, options);                          \
        START_TEST_SERVER(*(remote).server);                                                       \
        (remote).internet = InternetOpenA(QStringLiteral("Pellmor"), INTERNET_OPEN_TYPE_DIRECT,    \
                                          QString(), QString(), 0);                                \
        QVERIFY((remote).internet);                                                                \
        (remote).connection =                                                                      \
            InternetConnectA((remote).internet, (remote).server->host(), (remote).server->port(),  \
                             (remote).server->user(), (remote).server->password(),                 \
                             INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE, 0);                      \
        QVERIFY((remote).connection);                                                              \
    } while (false)

struct Listed {
    QString name;
    bool directory;
    qint64 size;
    bool operator==(const Listed&) const = default;
};

QList<Listed> listAll(HINTERNET connection, const QString& pattern, bool* found = nullptr) {
    QList<Listed> out;
    WIN32_FIND_DATAA data;
    const HINTERNET find = FtpFindFirstFileA(
        connection, pattern, &data, INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
    if (found)
        *found = find != 0;
    if (!find)
        return out;
    do {
        out.append({data.cFileName, data.isDirectory(), data.isDirectory() ? 0 : data.fileSize()});
    } while (InternetFindNextFileA(find, &data));
    InternetCloseHandle(find);
    std::sort(out.begin(), out.end(),
              [](const Listed& a, const Listed& b) { return a.name < b.name; });
    return out;
}

bool upload(HINTERNET connection, const QString& remotePath, const QByteArray& bytes) {
    const HINTERNET file =
        FtpOpenFileA(connection, remotePath, GENERIC_WRITE, FTP_TRANSFER_TYPE_BINARY, 0);
    if (!file)
        return false;
    bool ok = true;
    for (qsizetype sent = 0; sent < bytes.size() && ok; sent += 1024) {
        const auto n = quint32(std::min<qsizetype>(1024, bytes.size() - sent));
        quint32 written = 0;
        ok = InternetWriteFile(file, bytes.constData() + sent, n, &written) && written == n;
    }
    return InternetCloseHandle(file) && ok;
}

qsizetype countCommands(const FtpTestServer& server, const QByteArray& verb) {
    qsizetype n = 0;
    for (const QByteArray& line : server.commandLog()) {
        if (line == verb || line.startsWith(verb + ' '))
            ++n;
    }
    return n;
}

} // namespace

using TestFiles::everyByteValue;
using TestFiles::readFile;
using TestServers::addKindRows;

class TestWininet : public QObject {
    Q_OBJECT

private slots:
    void logIn_data();
    void logIn();
    void unreachablePortFails();
    void badHostTextIsRefused_data();
    void badHostTextIsRefused();
    void listsFolderEntries_data();
    void listsFolderEntries();
    void patternSplitsFolderAndNames_data();
    void patternSplitsFolderAndNames();
    void emptyOrMissingFolderGivesNoHandle_data();
    void emptyOrMissingFolderGivesNoHandle();
    void invalidUtf8NameRoundTrips_data();
    void invalidUtf8NameRoundTrips();
    void largeSizesAreExact_data();
    void largeSizesAreExact();
    void uploadIsByteExact_data();
    void uploadIsByteExact();
    void refusedStoreGivesNoHandle();
    void droppedUploadFailsWithoutHanging();
    void deleteAnswersServerVerdict_data();
    void deleteAnswersServerVerdict();
    void createDirectory_data();
    void createDirectory();
    void controlCharactersNeverReachServer_data();
    void controlCharactersNeverReachServer();
    void byteFFNeverReachesServer_data();
    void byteFFNeverReachesServer();
    void renameGivesTheFileItsNewName_data();
    void renameGivesTheFileItsNewName();
    void renameTogetherAfterServerClosedIdleConnection();
    void foreignPassiveAddressIsNotFollowed();
    void sessionReusesOneLogIn();
    void droppedControlConnectionFailsCleanly();
    void currentDirectory();
    void closedAndUnknownHandlesFail();
    void closingParentClosesChildren();
    void fileExists();
};

void TestWininet::logIn_data() {
    QTest::addColumn<FtpTestServer::Kind>("kind");
    QTest::addColumn<bool>("rightPassword");
    QTest::newRow("pyftpdlib ok") << FtpTestServer::Kind::Pyftpdlib << true;
    QTest::newRow("pyftpdlib wrong password") << FtpTestServer::Kind::Pyftpdlib << false;
    QTest::newRow("vsftpd ok") << FtpTestServer::Kind::Vsftpd << true;
    QTest::newRow("vsftpd wrong password") << FtpTestServer::Kind::Vsftpd << false;
}

void TestWininet::logIn() {
    QFETCH(FtpTestServer::Kind, kind);
    QFETCH(bool, rightPassword);
    FtpTestServer server(kind);
    START_TEST_SERVER(server);
    if (kind == FtpTestServer::Kind::Vsftpd && !rightPassword)
        QSKIP("the vsftpd test account has no password store: it takes any password");
    const HINTERNET internet = InternetOpenA(QStringLiteral("Pellmor"), INTERNET_OPEN_TYPE_DIRECT,
                                             QString(), QString(), 0);
    QVERIFY(internet);
    const QString password = rightPassword ? server.password() : QStringLiteral("wrong");
    const HINTERNET connection =
        InternetConnectA(internet, server.host(), server.port(), server.user(), password,
                         INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE, 0);
    QCOMPARE(connection != 0, rightPassword);
    QVERIFY(InternetCloseHandle(internet));
}

void TestWininet::unreachablePortFails() {
    const quint16 port = FtpTestServer::freeLoopbackPort();
    const HINTERNET internet = InternetOpenA(QString(), INTERNET_OPEN_TYPE_DIRECT, {}, {}, 0);
    QCOMPARE(InternetConnectA(internet, QStringLiteral("127.0.0.1"), port, QStringLiteral("u"),
                              QStringLiteral("p"), INTERNET_SERVICE_FTP, 0, 0),
             HINTERNET(0));
    InternetCloseHandle(internet);
}

void TestWininet::badHostTextIsRefused_data() {
    QTest::addColumn<QString>("host");
    QTest::newRow("unknown scheme") << QStringLiteral("http://127.0.0.1");
    QTest::newRow("path after a scheme") << QStringLiteral("ftp://127.0.0.1/x");
    QTest::newRow("user part after a scheme") << QStringLiteral("ftp://u@127.0.0.1");
    QTest::newRow("blank") << QStringLiteral("127.0.0.1 x");
    QTest::newRow("path") << QStringLiteral("127.0.0.1/x");
    QTest::newRow("user part") << QStringLiteral("u@127.0.0.1");
    QTest::newRow("empty") << QString();
    QTest::newRow("line break") << QStringLiteral("127.0.0.1\r\nUSER x");
}

void TestWininet::badHostTextIsRefused() {
    QFETCH(QString, host);
    FtpTestServer server;
    START_TEST_SERVER(server);
    const HINTERNET internet = InternetOpenA(QString(), INTERNET_OPEN_TYPE_DIRECT, {}, {}, 0);
    QCOMPARE(InternetConnectA(internet, host, server.port(), server.user(), server.password(),
                              INTERNET_SERVICE_FTP, 0, 0),
             HINTERNET(0));
    InternetCloseHandle(internet);
    QCOMPARE(countCommands(server, "USER"), 0);
}

void TestWininet::listsFolderEntries_data() {
    QTest::addColumn<FtpTestServer::Kind>("kind");
    QTest::addColumn<bool>("hideMlsd");
    QTest::addColumn<bool>("dos");
    QTest::newRow("pyftpdlib MLSD") << FtpTestServer::Kind::Pyftpdlib << false << false;
    QTest::newRow("pyftpdlib LIST") << FtpTestServer::Kind::Pyftpdlib << true << false;
    QTest::newRow("pyftpdlib DOS LIST") << FtpTestServer::Kind::Pyftpdlib << true << true;
    QTest::newRow("vsftpd") << FtpTestServer::Kind::Vsftpd << false << false;
}

void TestWininet::listsFolderEntries() {
    QFETCH(FtpTestServer::Kind, kind);
    QFETCH(bool, hideMlsd);
    QFETCH(bool, dos);
    Remote r;
    START_REMOTE(r, kind, (FtpTestServer::Options{hideMlsd, dos}));
    QVERIFY(QDir(r.server->rootPath()).mkpath(QStringLiteral("www/sub folder")));
    const QStringList names{QStringLiteral(".htaccess"),     QStringLiteral("with blank.txt"),
                            QStringLiteral("hash#1.txt"),    QStringLiteral("pct%41.txt"),
                            QStringLiteral("semi;type=a"),   QStringLiteral("Grüße ÄÖ.txt"),
                            QStringLiteral("question?.txt"), QStringLiteral("noext")};
    QList<Listed> expected;
    for (qsizetype i = 0; i < names.size(); ++i) {
        QVERIFY(TestFiles::writeFile(r.local(QStringLiteral("www/") + names[i]),
                                     QByteArray(i + 1, 'x')));
        expected.append({names[i], false, i + 1});
    }
    expected.append({QStringLiteral("sub folder"), true, 0});
    if (!dos) {
        // A link is an entry of its own, never a folder; its size is whatever
        // the server shows for it.
        QVERIFY(
            QFile::link(r.local(QStringLiteral("www/noext")), r.local(QStringLiteral("www/link"))));
    }
    std::sort(expected.begin(), expected.end(),
              [](const Listed& a, const Listed& b) { return a.name < b.name; });
    QList<Listed> listed = listAll(r.connection, QStringLiteral("/www/*.*"));
    const auto link = std::find_if(listed.begin(), listed.end(),
                                   [](const Listed& e) { return e.name == QLatin1String("link"); });
    QCOMPARE(link != listed.end(), !dos);
    if (link != listed.end()) {
        QVERIFY(!link->directory);
        listed.erase(link);
    }
    QCOMPARE(listed, expected);
}

void TestWininet::patternSplitsFolderAndNames_data() {
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("root with name part")
        << QStringLiteral("/www*.*")
        << QStringList{QStringLiteral("www"), QStringLiteral("wwwx.txt")};
    QTest::newRow("subfolder") << QStringLiteral("/www/*.*")
                               << QStringList{QStringLiteral("in.txt")};
    QTest::newRow("extension") << QStringLiteral("/*.txt")
                               << QStringList{QStringLiteral("wwwx.txt")};
}

void TestWininet::patternSplitsFolderAndNames() {
    QFETCH(QString, pattern);
    QFETCH(QStringList, names);
    Remote r;
    START_REMOTE(r, FtpTestServer::Kind::Pyftpdlib, FtpTestServer::Options());
    QVERIFY(QDir(r.server->rootPath()).mkpath(QStringLiteral("www")));
    QVERIFY(TestFiles::writeFile(r.local(QStringLiteral("www/in.txt")), "a"));
    QVERIFY(TestFiles::writeFile(r.local(QStringLiteral("wwwx.txt")), "b"));
    QVERIFY(TestFiles::writeFile(r.local(QStringLiteral("other")), "c"));
    QStringList listed;
    for (const Listed& l : listAll(r.connection, pattern))
        listed << l.name;
    QCOMPARE(listed, names);
}

void TestWininet::emptyOrMissingFolderGivesNoHandle_data() {
    addKindRows();
}

void TestWininet::emptyOrMissingFolderGivesNoHandle() {
    QFETCH(FtpTestServer::Kind, kind);
    Remote r;
    START_REMOTE(r, kind, FtpTestServer::Options());
    QVERIFY(QDir(r.server->rootPath()).mkpath(QStringLiteral("empty")));
    QVERIFY(TestFiles::writeFile(r.local(QStringLiteral("empty/.hidden")), ""));
    QVERIFY(QFile::remove(r.local(QStringLiteral("empty/.hidden"))));
    bool found = true;
    listAll(r.connection, QStringLiteral("/empty/*.*"), &found);
    QVERIFY(!found);
    listAll(r.connection, QStringLiteral("/missing/*.*"), &found);
    QVERIFY(!found);
    // The session still works after both.
    QVERIFY(TestFiles::writeFile(r.local(QStringLiteral("empty/now")), "1"));
    QCOMPARE(listAll(r.connection, QStringLiteral("/empty/*.*")),
             QList<Listed>{(Listed{QStringLiteral("now"), false, 1})});
}

void TestWininet::invalidUtf8NameRoundTrips_data() {
    addKindRows();
}

void TestWininet::invalidUtf8NameRoundTrips() {
    QFETCH(FtpTestServer::Kind, kind);
    Remote r;
    START_REMOTE(r, kind, FtpTestServer::Options());
    const QByteArray rawName("caf\xE9 \xFE.txt");
    const QByteArray localPath = QFile::encodeName(r.server->rootPath()) + '/' + rawName;
    {
        QFile f(QFile::decodeName(localPath));
        // The local file name must hold exactly these bytes.
        FILE* fp = ::fopen(localPath.constData(), "wb");
        QVERIFY(fp);
        ::fputs("data", fp);
        ::fclose(fp);
    }
    const QString expected = QStringLiteral("caf") + QChar(0xDCE9) + QStringLiteral(" ") +
                             QChar(0xDCFE) + QStringLiteral(".txt");
    QCOMPARE(listAll(r.connection, QStringLiteral("/*.*")),
             QList<Listed>{(Listed{expected, false, 4})});
    QVERIFY(FtpDeleteFileA(r.connection, QStringLiteral("/") + expected));
    QVERIFY(::access(localPath.constData(), F_OK) != 0);
}

void TestWininet::largeSizesAreExact_data() {
    QTest::addColumn<FtpTestServer::Kind>("kind");
    QTest::addColumn<qint64>("size");
    QTest::newRow("pyftpdlib 3e9") << FtpTestServer::Kind::Pyftpdlib << qint64(3000000000);
    QTest::newRow("pyftpdlib 5 GiB + 1") << FtpTestServer::Kind::Pyftpdlib << (qint64(5) << 30) + 1;
    QTest::newRow("vsftpd 3e9") << FtpTestServer::Kind::Vsftpd << qint64(3000000000);
}

void TestWininet::largeSizesAreExact() {
    QFETCH(FtpTestServer::Kind, kind);
    QFETCH(qint64, size);
    Remote r;
    START_REMOTE(r, kind, FtpTestServer::Options());
    QFile f(r.local(QStringLiteral("big.bin")));
    QVERIFY(f.open(QIODevice::WriteOnly));
    if (!f.resize(size))
        QSKIP("the temporary folder cannot hold a sparse file of this size");
    f.close();
    WIN32_FIND_DATAA data;
    const HINTERNET find = FtpFindFirstFileA(r.connection, QStringLiteral("/*.*"), &data, 0, 0);
    QVERIFY(find);
    QCOMPARE(data.cFileName, QStringLiteral("big.bin"));
    QCOMPARE(data.nFileSizeHigh, quint32(quint64(size) >> 32));
    QCOMPARE(data.nFileSizeLow, quint32(quint64(size) & 0xFFFFFFFFu));
    InternetCloseHandle(find);
}

void TestWininet::uploadIsByteExact_data() {
    QTest::addColumn<FtpTestServer::Kind>("kind");
    QTest::addColumn<qsizetype>("size");
    QTest::addColumn<QString>("name");
    for (auto kind : {FtpTestServer::Kind::Pyftpdlib, FtpTestServer::Kind::Vsftpd}) {
        const char* k = kind == FtpTestServer::Kind::Pyftpdlib ? "pyftpdlib" : "vsftpd";
        for (qsizetype size : {0, 1024, 1025, 3 * 1024 * 1024 + 17})
            QTest::addRow("%s %lld bytes", k, qlonglong(size)) << kind << size << "/up.bin";
        QTest::addRow("%s awkward name", k)
            << kind << qsizetype(3000) << QStringLiteral("/sub/a #?%;type=a ü.txt");
    }
}

void TestWininet::uploadIsByteExact() {
    QFETCH(FtpTestServer::Kind, kind);
    QFETCH(qsizetype, size);
    QFETCH(QString, name);
    Remote r;
    START_REMOTE(r, kind, FtpTestServer::Options());
    QVERIFY(QDir(r.server->rootPath()).mkpath(QStringLiteral("sub")));
    QByteArray bytes = everyByteValue(size);
    if (size > 4) {
        // Line ends and NUL must survive as they are: no text-mode transfer.
        bytes[0] = '\r';
        bytes[1] = '\n';
        bytes[2] = '\0';
        bytes[3] = '\n';
    }
    QVERIFY(upload(r.connection, name, bytes));
    const QByteArray stored = readFile(r.local(name.mid(1)));
    QCOMPARE(stored.size(), bytes.size());
    QCOMPARE(QCryptographicHash::hash(stored, QCryptographicHash::Sha256),
             QCryptographicHash::hash(bytes, QCryptographicHash::Sha256));
}

void TestWininet::refusedStoreGivesNoHandle() {
    Remote r;
    START_REMOTE(r, FtpTestServer::Kind::Pyftpdlib, FtpTestServer::Options());
    r.server->addFault({QStringLiteral("STOR"), QStringLiteral("refuse"), 0, 0, 1, {}});
    QCOMPARE(FtpOpenFileA(r.connection, QStringLiteral("/a.bin"), GENERIC_WRITE,
                          FTP_TRANSFER_TYPE_BINARY, 0),
             HINTERNET(0));
    QVERIFY(upload(r.connection, QStringLiteral("/b.bin"), "hello"));
    QCOMPARE(readFile(r.local(QStringLiteral("b.bin"))), QByteArray("hello"));
    QCOMPARE(countCommands(*r.server, "USER"), 1);
}

void TestWininet::droppedUploadFailsWithoutHanging() {
    Remote r;
    START_REMOTE(r, FtpTestServer::Kind::Pyftpdlib, FtpTestServer::Options());
    r.server->addFault({QStringLiteral("STOR"), QStringLiteral("drop-data"), 100000, 0, 1, {}});
    const HINTERNET file = FtpOpenFileA(r.connection, QStringLiteral("/a.bin"), GENERIC_WRITE,
                                        FTP_TRANSFER_TYPE_BINARY, 0);
    QVERIFY(file);
    const QByteArray block(1024, 'z');
    bool writesOk = true;
    for (int i = 0; i < 8 * 1024 && writesOk; ++i) {
        quint32 written = 0;
        writesOk = InternetWriteFile(file, block.constData(), 1024, &written);
    }
    const bool closed = InternetCloseHandle(file);
    QVERIFY(!(writesOk && closed));
    // The session goes on with the next operation.
    QVERIFY(upload(r.connection, QStringLiteral("/b.bin"), "after"));
    QCOMPARE(readFile(r.local(QStringLiteral("b.bin"))), QByteArray("after"));
}

void TestWininet::deleteAnswersServerVerdict_data() {
    addKindRows();
}

void TestWininet::deleteAnswersServerVerdict() {
    QFETCH(FtpTestServer::Kind, kind);
    Remote r;
    START_REMOTE(r, kind, FtpTestServer::Options());
    QVERIFY(QDir(r.server->rootPath()).mkpath(QStringLiteral("d")));
    QVERIFY(TestFiles::writeFile(r.local(QStringLiteral("d/a b.txt")), "1"));
    QVERIFY(TestFiles::writeFile(r.local(QStringLiteral("d/c.txt")), "2"));
    if (kind == FtpTestServer::Kind::Pyftpdlib) {
        r.server->addFault({QStringLiteral("DELE"), QStringLiteral("refuse"), 0, 0, 1, {}});
        QVERIFY(!FtpDeleteFileA(r.connection, QStringLiteral("/d/a b.txt")));
        QVERIFY(QFile::exists(r.local(QStringLiteral("d/a b.txt"))));
    }
    QVERIFY(!FtpDeleteFileA(r.connection, QStringLiteral("/d/missing.txt")));
    // A listing leaves the server in another folder; deletes still hit
    // the named file.
    QCOMPARE(listAll(r.connection, QStringLiteral("/d/*.*")).size(), 2);
    QVERIFY(FtpDeleteFileA(r.connection, QStringLiteral("/d/a b.txt")));
    QVERIFY(!QFile::exists(r.local(QStringLiteral("d/a b.txt"))));
    QVERIFY(FtpDeleteFileA(r.connection, QStringLiteral("/d/c.txt")));
    QVERIFY(!QFile::exists(r.local(QStringLiteral("d/c.txt"))));
}

void TestWininet::createDirectory_data() {
    addKindRows();
}

void TestWininet::createDirectory() {
    QFETCH(FtpTestServer::Kind, kind);
    Remote r;
    START_REMOTE(r, kind, FtpTestServer::Options());
    QVERIFY(FtpCreateDirectoryA(r.connection, QStringLiteral("/new folder #1/")));
    QVERIFY(QFileInfo(r.local(QStringLiteral("new folder #1"))).isDir());
    // Already there: the server refuses, and the session carries on.
    QVERIFY(!FtpCreateDirectoryA(r.connection, QStringLiteral("/new folder #1/")));
    QVERIFY(FtpCreateDirectoryA(r.connection, QStringLiteral("/new folder #1/inner")));
    QVERIFY(QFileInfo(r.local(QStringLiteral("new folder #1/inner"))).isDir());
}

void TestWininet::controlCharactersNeverReachServer_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("CR LF") << QStringLiteral("/x\r\nDELE /INJECT");
    QTest::newRow("LF") << QStringLiteral("/x\nDELE /INJECT");
    QTest::newRow("CR") << QStringLiteral("/x\rDELE /INJECT");
    QTest::newRow("NUL") << QStringLiteral("/x") + QChar(0) + QStringLiteral("INJECT");
}

void TestWininet::controlCharactersNeverReachServer() {
    QFETCH(QString, name);
    Remote r;
    START_REMOTE(r, FtpTestServer::Kind::Pyftpdlib, FtpTestServer::Options());
    QVERIFY(TestFiles::writeFile(r.local(QStringLiteral("INJECT")), "keep"));
    const qsizetype before = r.server->commandLog().size();
    QVERIFY(!FtpDeleteFileA(r.connection, name));
    QVERIFY(!FtpCreateDirectoryA(r.connection, name));
    QCOMPARE(FtpOpenFileA(r.connection, name, GENERIC_WRITE, FTP_TRANSFER_TYPE_BINARY, 0),
             HINTERNET(0));
    bool found = true;
    listAll(r.connection, name + QStringLiteral("/*.*"), &found);
    QVERIFY(!found);
    QCOMPARE(r.server->commandLog().size(), before);
    QCOMPARE(readFile(r.local(QStringLiteral("INJECT"))), QByteArray("keep"));
}

void TestWininet::byteFFNeverReachesServer_data() {
    addKindRows();
}

// Servers that follow the Telnet rules of the control connection read a
// doubled 0xFF as one, others (both test servers) take every byte as it is:
// no form of the byte names one file everywhere, so it is never sent.
void TestWininet::byteFFNeverReachesServer() {
    QFETCH(FtpTestServer::Kind, kind);
    Remote r;
    START_REMOTE(r, kind, FtpTestServer::Options());
    const QByteArray root = QFile::encodeName(r.server->rootPath());
    for (const QByteArray& name : {QByteArray("a\xFF"
                                              "b"),
                                   QByteArray("a\xFF\xFF"
                                              "b")}) {
        FILE* fp = ::fopen((root + '/' + name).constData(), "wb");
        QVERIFY(fp);
        ::fputs(name.constData(), fp);
        ::fclose(fp);
    }
    const QString single = QStringLiteral("/a") + QChar(0xDCFF) + QStringLiteral("b");
    const qsizetype before = r.server->commandLog().size();

    QVERIFY(!FtpDeleteFileA(r.connection, single));
    QVERIFY(!FtpRenameFileA(r.connection, single, QStringLiteral("/c")));
    QVERIFY(!FtpCreateDirectoryA(r.connection, single + QStringLiteral("/d")));
    QCOMPARE(FtpOpenFileA(r.connection, single, GENERIC_WRITE, FTP_TRANSFER_TYPE_BINARY, 0),
             HINTERNET(0));

    for (const QByteArray& name : {QByteArray("a\xFF"
                                              "b"),
                                   QByteArray("a\xFF\xFF"
                                              "b")}) {
        QVERIFY(::access((root + '/' + name).constData(), F_OK) == 0);
    }
    QVERIFY(::access((root + "/c").constData(), F_OK) != 0);
    QCOMPARE(r.server->commandLog().size(), kind == FtpTestServer::Kind::Pyftpdlib ? before : 0);
}

void TestWininet::renameGivesTheFileItsNewName_data() {
    // together: the two commands of a rename may go out in one write.
    // losesAhead: the server throws away commands sent before its reply.
    QTest::addColumn<FtpTestServer::Kind>("kind");
    QTest::addColumn<bool>("together");
    QTest::addColumn<bool>("losesAhead");
    using K = FtpTestServer::Kind;
    QTest::newRow("pyftpdlib") << K::Pyftpdlib << false << false;
    QTest::newRow("vsftpd") << K::Vsftpd << false << false;
    QTest::newRow("pyftpdlib, together") << K::Pyftpdlib << true << false;
    QTest::newRow("vsftpd, together") << K::Vsftpd << true << false;
    QTest::newRow("pyftpdlib losing, together") << K::Pyftpdlib << true << true;
}

void TestWininet::renameGivesTheFileItsNewName() {
    QFETCH(FtpTestServer::Kind, kind);
    QFETCH(bool, together);
    QFETCH(bool, losesAhead);
    Remote r;
    START_REMOTE(r, kind, FtpTestServer::Options());
    if (losesAhead)
        r.server->addFault(
            {QStringLiteral("NOOP"), QStringLiteral("lose-following"), 0, 0, -1, {}});
    QVERIFY(FtpSendCommandsTogether(r.connection, together));
    QVERIFY(TestFiles::writeFile(r.local(QStringLiteral("a")), "new"));
    QVERIFY(TestFiles::writeFile(r.local(QStringLiteral("b")), "old"));

    QVERIFY(FtpRenameFileA(r.connection, QStringLiteral("/a"), QStringLiteral("/b")));
    QCOMPARE(readFile(r.local(QStringLiteral("b"))), QByteArray("new"));
    QVERIFY(!QFileInfo::exists(r.local(QStringLiteral("a"))));
    // A missing file cannot be renamed, and the session goes on working.
    QVERIFY(!FtpRenameFileA(r.connection, QStringLiteral("/a"), QStringLiteral("/c")));
    QVERIFY(!QFileInfo::exists(r.local(QStringLiteral("c"))));
    QVERIFY(FtpRenameFileA(r.connection, QStringLiteral("/b"), QStringLiteral("/c")));
    QCOMPARE(readFile(r.local(QStringLiteral("c"))), QByteArray("new"));
    // Every reply was read: the next command gets its own.
    QVERIFY(FtpCreateDirectoryA(r.connection, QStringLiteral("/d/")));
    QVERIFY(QFileInfo(r.local(QStringLiteral("d"))).isDir());
    if (kind != FtpTestServer::Kind::Pyftpdlib)
        return;
    // The server is tried once. One that loses the second NOOP gets the
    // renames one command at a time, over a fresh log-in, since the old
    // connection might still owe a reply.
    QCOMPARE(countCommands(*r.server, "NOOP"), together ? (losesAhead ? 1 : 2) : 0);
    QCOMPARE(countCommands(*r.server, "USER"), losesAhead ? 2 : 1);
    QCOMPARE(countCommands(*r.server, "RNFR"), 3);
    QCOMPARE(countCommands(*r.server, "RNTO"), 3);
}

void TestWininet::renameTogetherAfterServerClosedIdleConnection() {
    // The server closes the connection between two commands, as it does one
    // left idle: the rename logs in afresh rather than failing on it.
    Remote r;
    START_REMOTE(r, FtpTestServer::Kind::Pyftpdlib, FtpTestServer::Options());
    QVERIFY(TestFiles::writeFile(r.local(QStringLiteral("a")), "1"));
    QVERIFY(FtpSendCommandsTogether(r.connection, true));
    QVERIFY(FtpRenameFileA(r.connection, QStringLiteral("/a"), QStringLiteral("/b")));
    r.server->addFault({QStringLiteral("MKD"), QStringLiteral("close-after"), 0, 0, 1, {}});
    QVERIFY(FtpCreateDirectoryA(r.connection, QStringLiteral("/d/")));
    QTRY_COMPARE(r.server->openControlConnections(), 0);
    QVERIFY(FtpRenameFileA(r.connection, QStringLiteral("/b"), QStringLiteral("/c")));
    QCOMPARE(readFile(r.local(QStringLiteral("c"))), QByteArray("1"));
    QCOMPARE(countCommands(*r.server, "USER"), 2);
}

void TestWininet::foreignPassiveAddressIsNotFollowed() {
    Remote r;
    START_REMOTE(r, FtpTestServer::Kind::Pyftpdlib, FtpTestServer::Options());
    QVERIFY(TestFiles::writeFile(r.local(QStringLiteral("a.txt")), "abc"));
    // Without EPSV the client must use PASV, whose reply names an address
    // where nothing listens.
    r.server->addFault({QStringLiteral("EPSV"), QStringLiteral("refuse"), 0, 0, -1, {}});
    r.server->addFault({QStringLiteral("PASV"), QStringLiteral("pasv-foreign"), 0, 0, -1, {}});
    QCOMPARE(listAll(r.connection, QStringLiteral("/*.*")),
             QList<Listed>{(Listed{QStringLiteral("a.txt"), false, 3})});
    QVERIFY(upload(r.connection, QStringLiteral("/b.txt"), "xyz"));
    QCOMPARE(readFile(r.local(QStringLiteral("b.txt"))), QByteArray("xyz"));
    QVERIFY(countCommands(*r.server, "PASV") >= 1);
}

void TestWininet::sessionReusesOneLogIn() {
    Remote r;
    START_REMOTE(r, FtpTestServer::Kind::Pyftpdlib, FtpTestServer::Options());
    QVERIFY(QDir(r.server->rootPath()).mkpath(QStringLiteral("a/b")));
    QVERIFY(TestFiles::writeFile(r.local(QStringLiteral("a/b/f")), "1"));
    for (int i = 0; i < 3; ++i)
        QCOMPARE(listAll(r.connection, QStringLiteral("/a/b/*.*")).size(), 1);
    QVERIFY(upload(r.connection, QStringLiteral("/a/g"), "2"));
    QVERIFY(FtpCreateDirectoryA(r.connection, QStringLiteral("/a/c/")));
    QVERIFY(FtpDeleteFileA(r.connection, QStringLiteral("/a/g")));
    QCOMPARE(countCommands(*r.server, "USER"), 1);
    QCOMPARE(countCommands(*r.server, "PASS"), 1);
}

void TestWininet::droppedControlConnectionFailsCleanly() {
    Remote r;
    START_REMOTE(r, FtpTestServer::Kind::Pyftpdlib, FtpTestServer::Options());
    QVERIFY(TestFiles::writeFile(r.local(QStringLiteral("a.txt")), "abc"));
    r.server->addFault({QStringLiteral("MLSD"), QStringLiteral("drop"), 0, 0, 1, {}});
    r.server->addFault({QStringLiteral("DELE"), QStringLiteral("drop"), 0, 0, 1, {}});
    bool found = true;
    listAll(r.connection, QStringLiteral("/*.*"), &found);
    QVERIFY(!found);
    QVERIFY(!FtpDeleteFileA(r.connection, QStringLiteral("/a.txt")));
    QVERIFY(QFile::exists(r.local(QStringLiteral("a.txt"))));
    // Later calls log in again.
    QCOMPARE(listAll(r.connection, QStringLiteral("/*.*")).size(), 1);
    QVERIFY(FtpDeleteFileA(r.connection, QStringLiteral("/a.txt")));
}

void TestWininet::currentDirectory() {
    Remote r;
    START_REMOTE(r, FtpTestServer::Kind::Pyftpdlib, FtpTestServer::Options());
    QVERIFY(QDir(r.server->rootPath()).mkpath(QStringLiteral("a")));
    QVERIFY(TestFiles::writeFile(r.local(QStringLiteral("a/f")), "1"));
    QCOMPARE(listAll(r.connection, QStringLiteral("/a/*.*")).size(), 1);
    QString folder;
    quint32 length = MAX_PATH;
    QVERIFY(FtpGetCurrentDirectoryA(r.connection, &folder, &length));
    QCOMPARE(folder, QStringLiteral("/"));
    length = 1; // no room for the NUL
    QVERIFY(!FtpGetCurrentDirectoryA(r.connection, &folder, &length));
}

void TestWininet::closedAndUnknownHandlesFail() {
    Remote r;
    START_REMOTE(r, FtpTestServer::Kind::Pyftpdlib, FtpTestServer::Options());
    QVERIFY(TestFiles::writeFile(r.local(QStringLiteral("a.txt")), "abc"));
    WIN32_FIND_DATAA data;
    const HINTERNET find = FtpFindFirstFileA(r.connection, QStringLiteral("/*.*"), &data, 0, 0);
    QVERIFY(find);
    QVERIFY(InternetCloseHandle(find));
    QVERIFY(!InternetCloseHandle(find));
    QVERIFY(!InternetFindNextFileA(find, &data));
    // A handle of the wrong kind is as unknown as a made-up number.
    QCOMPARE(FtpFindFirstFileA(r.internet, QStringLiteral("/*.*"), &data, 0, 0), HINTERNET(0));
    QVERIFY(!InternetWriteFile(r.connection, "x", 1, nullptr));
    const HINTERNET bogus = 0x7FFFFFF0u;
    QVERIFY(!FtpDeleteFileA(bogus, QStringLiteral("/a.txt")));
    QVERIFY(!FtpCreateDirectoryA(bogus, QStringLiteral("/x")));
    QCOMPARE(FtpOpenFileA(bogus, QStringLiteral("/x"), GENERIC_WRITE, 2, 0), HINTERNET(0));
    QVERIFY(!InternetCloseHandle(0));
    QVERIFY(InternetCloseHandle(r.connection));
    QVERIFY(!FtpDeleteFileA(r.connection, QStringLiteral("/a.txt")));
    QVERIFY(QFile::exists(r.local(QStringLiteral("a.txt"))));
    // A new session never gets a number used before.
    const HINTERNET again =
        InternetConnectA(r.internet, r.server->host(), r.server->port(), r.server->user(),
                         r.server->password(), INTERNET_SERVICE_FTP, 0, 0);
    QVERIFY(again);
    QVERIFY(again != r.connection && again != find);
}

void TestWininet::closingParentClosesChildren() {
    Remote r;
    START_REMOTE(r, FtpTestServer::Kind::Pyftpdlib, FtpTestServer::Options());
    QVERIFY(TestFiles::writeFile(r.local(QStringLiteral("a.txt")), "abc"));
    QVERIFY(TestFiles::writeFile(r.local(QStringLiteral("b.txt")), "abc"));
    WIN32_FIND_DATAA data;
    const HINTERNET find = FtpFindFirstFileA(r.connection, QStringLiteral("/*.*"), &data, 0, 0);
    QVERIFY(find);
    const HINTERNET file = FtpOpenFileA(r.connection, QStringLiteral("/up.bin"), GENERIC_WRITE,
                                        FTP_TRANSFER_TYPE_BINARY, 0);
    QVERIFY(file);
    QVERIFY(InternetCloseHandle(r.internet));
    QVERIFY(!InternetFindNextFileA(find, &data));
    QVERIFY(!InternetWriteFile(file, "x", 1, nullptr));
    QVERIFY(!InternetCloseHandle(file));
    QVERIFY(!InternetCloseHandle(r.connection));
    r.internet = 0;
}

void TestWininet::fileExists() {
    Remote r;
    START_REMOTE(r, FtpTestServer::Kind::Pyftpdlib, FtpTestServer::Options());
    QVERIFY(TestFiles::writeFile(r.local(QStringLiteral("there.txt")), "abc"));
    QVERIFY(FtpFileExists(r.connection, QStringLiteral("/there.txt")));
    QVERIFY(!FtpFileExists(r.connection, QStringLiteral("/gone.txt")));
}

QTEST_GUILESS_MAIN(TestWininet)
#include "tst_wininet.moc"
