#include "ftp/RemoteNames.h"
#include "ftp/RemoteUpload.h"
#include "ftp/Session.h"
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
    Session session;

    QString local(const QString& relative) const {
        return server->rootPath() + QLatin1Char('/') + relative;
    }
};

// Starts a server and logs in to it.
#define START_REMOTE(remote, kind, options)                                                        \
    do {                                                                                           \
        (remote).server = std::make_unique<FtpTestServer>(kind, options);                          \
        START_TEST_SERVER(*(remote).server);                                                       \
        QVERIFY((remote).server->logIn((remote).session));                                         \
    } while (false)

struct Listed {
    QString name;
    bool directory;
    qint64 size;
    bool operator==(const Listed&) const = default;
};

// The entries of a listing, sorted by name; *found tells whether there was
// at least one.
QList<Listed> listAll(const Session& session, const QString& pattern, bool* found = nullptr) {
    QList<Listed> out;
    const auto listing = session.list(pattern);
    if (listing) {
        for (const RemoteEntry& e : listing->entries) {
            const bool directory = e.kind == RemoteEntryKind::Directory;
            out.append({decodeRemoteName(e.name), directory, directory ? 0 : e.size});
        }
    }
    if (found)
        *found = !out.isEmpty();
    std::sort(out.begin(), out.end(),
              [](const Listed& a, const Listed& b) { return a.name < b.name; });
    return out;
}

bool upload(const Session& session, const QString& remotePath, const QByteArray& bytes) {
    auto file = session.openUpload(remotePath);
    if (!file)
        return false;
    bool ok = true;
    for (qsizetype sent = 0; sent < bytes.size() && ok; sent += 1024)
        ok = (*file)
                 ->write(bytes.constData() + sent, std::min<qsizetype>(1024, bytes.size() - sent))
                 .ok();
    return (*file)->finish().ok() && ok;
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

class TestOperations : public QObject {
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
    void emptyAndMissingFolderListNothing_data();
    void emptyAndMissingFolderListNothing();
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
    void lostConnectionIsRetriedRefusalIsNot_data();
    void lostConnectionIsRetriedRefusalIsNot();
    void currentDirectory();
    void closedSessionFails();
    void closingSessionCutsOffItsUpload();
    void fileExists();
};

void TestOperations::logIn_data() {
    QTest::addColumn<FtpTestServer::Kind>("kind");
    QTest::addColumn<bool>("rightPassword");
    QTest::newRow("pyftpdlib ok") << FtpTestServer::Kind::Pyftpdlib << true;
    QTest::newRow("pyftpdlib wrong password") << FtpTestServer::Kind::Pyftpdlib << false;
    QTest::newRow("vsftpd ok") << FtpTestServer::Kind::Vsftpd << true;
    QTest::newRow("vsftpd wrong password") << FtpTestServer::Kind::Vsftpd << false;
}

void TestOperations::logIn() {
    QFETCH(FtpTestServer::Kind, kind);
    QFETCH(bool, rightPassword);
    FtpTestServer server(kind);
    START_TEST_SERVER(server);
    if (kind == FtpTestServer::Kind::Vsftpd && !rightPassword)
        QSKIP("the vsftpd test account has no password store: it takes any password");
    Session session;
    QVERIFY(session.openInternet());
    const QString password = rightPassword ? server.password() : QStringLiteral("wrong");
    QCOMPARE(
        session.connect({server.host(), QString::number(server.port()), server.user(), password}),
        rightPassword);
    // A refused password is the server's answer, not a lost connection.
    if (!rightPassword) {
        QCOMPARE(session.connectFailure().kind, FailureKind::Refused);
        QCOMPARE(session.connectFailure().replyCode, 530);
    }
}

void TestOperations::unreachablePortFails() {
    const quint16 port = FtpTestServer::freeLoopbackPort();
    Session session;
    QVERIFY(session.openInternet());
    QVERIFY(!session.connect({QStringLiteral("127.0.0.1"), QString::number(port),
                              QStringLiteral("u"), QStringLiteral("p")}));
    QCOMPARE(session.connectFailure().kind, FailureKind::ConnectionLost);
}

void TestOperations::badHostTextIsRefused_data() {
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

void TestOperations::badHostTextIsRefused() {
    QFETCH(QString, host);
    FtpTestServer server;
    START_TEST_SERVER(server);
    Session session;
    QVERIFY(session.openInternet());
    QVERIFY(
        !session.connect({host, QString::number(server.port()), server.user(), server.password()}));
    QCOMPARE(session.connectFailure().kind, FailureKind::BadName);
    QCOMPARE(countCommands(server, "USER"), 0);
}

void TestOperations::listsFolderEntries_data() {
    QTest::addColumn<FtpTestServer::Kind>("kind");
    QTest::addColumn<bool>("hideMlsd");
    QTest::addColumn<bool>("dos");
    QTest::newRow("pyftpdlib MLSD") << FtpTestServer::Kind::Pyftpdlib << false << false;
    QTest::newRow("pyftpdlib LIST") << FtpTestServer::Kind::Pyftpdlib << true << false;
    QTest::newRow("pyftpdlib DOS LIST") << FtpTestServer::Kind::Pyftpdlib << true << true;
    QTest::newRow("vsftpd") << FtpTestServer::Kind::Vsftpd << false << false;
}

void TestOperations::listsFolderEntries() {
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
    QList<Listed> listed = listAll(r.session, QStringLiteral("/www/*.*"));
    const auto link = std::find_if(listed.begin(), listed.end(),
                                   [](const Listed& e) { return e.name == QLatin1String("link"); });
    QCOMPARE(link != listed.end(), !dos);
    if (link != listed.end()) {
        QVERIFY(!link->directory);
        listed.erase(link);
    }
    QCOMPARE(listed, expected);
    // Where nobody reads the times, a server that lists in facts is spared
    // them; the same connection lists them again when they are wanted.
    const bool facts = kind == FtpTestServer::Kind::Pyftpdlib && !hideMlsd;
    for (const ListedTimes times :
         {ListedTimes::NotNeeded, ListedTimes::Wanted, ListedTimes::NotNeeded}) {
        const auto again = r.session.list(QStringLiteral("/www/*.*"), times);
        QVERIFY(again);
        QCOMPARE(again->entries.size(), listed.size() + (dos ? 0 : 1));
        const bool timed = std::all_of(again->entries.begin(), again->entries.end(),
                                       [](const RemoteEntry& e) { return e.modified.isValid(); });
        QCOMPARE(timed, times == ListedTimes::Wanted || !facts);
    }
}

void TestOperations::patternSplitsFolderAndNames_data() {
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

void TestOperations::patternSplitsFolderAndNames() {
    QFETCH(QString, pattern);
    QFETCH(QStringList, names);
    Remote r;
    START_REMOTE(r, FtpTestServer::Kind::Pyftpdlib, FtpTestServer::Options());
    QVERIFY(QDir(r.server->rootPath()).mkpath(QStringLiteral("www")));
    QVERIFY(TestFiles::writeFile(r.local(QStringLiteral("www/in.txt")), "a"));
    QVERIFY(TestFiles::writeFile(r.local(QStringLiteral("wwwx.txt")), "b"));
    QVERIFY(TestFiles::writeFile(r.local(QStringLiteral("other")), "c"));
    QStringList listed;
    for (const Listed& l : listAll(r.session, pattern))
        listed << l.name;
    QCOMPARE(listed, names);
}

void TestOperations::emptyAndMissingFolderListNothing_data() {
    addKindRows();
}

void TestOperations::emptyAndMissingFolderListNothing() {
    QFETCH(FtpTestServer::Kind, kind);
    Remote r;
    START_REMOTE(r, kind, FtpTestServer::Options());
    QVERIFY(QDir(r.server->rootPath()).mkpath(QStringLiteral("empty")));
    QVERIFY(TestFiles::writeFile(r.local(QStringLiteral("empty/.hidden")), ""));
    QVERIFY(QFile::remove(r.local(QStringLiteral("empty/.hidden"))));
    bool found = true;
    listAll(r.session, QStringLiteral("/empty/*.*"), &found);
    QVERIFY(!found);
    listAll(r.session, QStringLiteral("/missing/*.*"), &found);
    QVERIFY(!found);
    // An empty folder lists; a missing one is the server's refusal.
    QVERIFY(r.session.list(QStringLiteral("/empty/*.*")));
    QVERIFY(r.session.list(QStringLiteral("/missing/*.*")).is(FailureKind::Refused));
    // The session still works after both.
    QVERIFY(TestFiles::writeFile(r.local(QStringLiteral("empty/now")), "1"));
    QCOMPARE(listAll(r.session, QStringLiteral("/empty/*.*")),
             QList<Listed>{(Listed{QStringLiteral("now"), false, 1})});
}

void TestOperations::invalidUtf8NameRoundTrips_data() {
    addKindRows();
}

void TestOperations::invalidUtf8NameRoundTrips() {
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
    QCOMPARE(listAll(r.session, QStringLiteral("/*.*")),
             QList<Listed>{(Listed{expected, false, 4})});
    QVERIFY(r.session.deleteFile(QStringLiteral("/") + expected));
    QVERIFY(::access(localPath.constData(), F_OK) != 0);
}

void TestOperations::largeSizesAreExact_data() {
    QTest::addColumn<FtpTestServer::Kind>("kind");
    QTest::addColumn<qint64>("size");
    QTest::newRow("pyftpdlib 3e9") << FtpTestServer::Kind::Pyftpdlib << qint64(3000000000);
    QTest::newRow("pyftpdlib 5 GiB + 1") << FtpTestServer::Kind::Pyftpdlib << (qint64(5) << 30) + 1;
    QTest::newRow("vsftpd 3e9") << FtpTestServer::Kind::Vsftpd << qint64(3000000000);
}

void TestOperations::largeSizesAreExact() {
    QFETCH(FtpTestServer::Kind, kind);
    QFETCH(qint64, size);
    Remote r;
    START_REMOTE(r, kind, FtpTestServer::Options());
    QFile f(r.local(QStringLiteral("big.bin")));
    QVERIFY(f.open(QIODevice::WriteOnly));
    if (!f.resize(size))
        QSKIP("the temporary folder cannot hold a sparse file of this size");
    f.close();
    QCOMPARE(listAll(r.session, QStringLiteral("/*.*")),
             QList<Listed>{(Listed{QStringLiteral("big.bin"), false, size})});
}

void TestOperations::uploadIsByteExact_data() {
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

void TestOperations::uploadIsByteExact() {
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
    QVERIFY(upload(r.session, name, bytes));
    const QByteArray stored = readFile(r.local(name.mid(1)));
    QCOMPARE(stored.size(), bytes.size());
    QCOMPARE(QCryptographicHash::hash(stored, QCryptographicHash::Sha256),
             QCryptographicHash::hash(bytes, QCryptographicHash::Sha256));
}

void TestOperations::refusedStoreGivesNoHandle() {
    Remote r;
    START_REMOTE(r, FtpTestServer::Kind::Pyftpdlib, FtpTestServer::Options());
    r.server->addFault({QStringLiteral("STOR"), QStringLiteral("refuse"), 0, 0, 1, {}});
    const auto refused = r.session.openUpload(QStringLiteral("/a.bin"));
    QVERIFY(refused.is(FailureKind::Refused));
    QCOMPARE(refused.failure().replyCode, 550);
    QVERIFY(upload(r.session, QStringLiteral("/b.bin"), "hello"));
    QCOMPARE(readFile(r.local(QStringLiteral("b.bin"))), QByteArray("hello"));
    QCOMPARE(countCommands(*r.server, "USER"), 1);
}

void TestOperations::droppedUploadFailsWithoutHanging() {
    Remote r;
    START_REMOTE(r, FtpTestServer::Kind::Pyftpdlib, FtpTestServer::Options());
    r.server->addFault({QStringLiteral("STOR"), QStringLiteral("drop-data"), 100000, 0, 1, {}});
    auto file = r.session.openUpload(QStringLiteral("/a.bin"));
    QVERIFY(file);
    const QByteArray block(1024, 'z');
    bool writesOk = true;
    for (int i = 0; i < 8 * 1024 && writesOk; ++i)
        writesOk = (*file)->write(block.constData(), 1024).ok();
    const auto finished = (*file)->finish();
    QVERIFY(!(writesOk && finished));
    // The data connection broke: no refusal of the server's.
    if (!finished)
        QVERIFY(!finished.is(FailureKind::Refused));
    // The session goes on with the next operation.
    QVERIFY(upload(r.session, QStringLiteral("/b.bin"), "after"));
    QCOMPARE(readFile(r.local(QStringLiteral("b.bin"))), QByteArray("after"));
}

void TestOperations::deleteAnswersServerVerdict_data() {
    addKindRows();
}

void TestOperations::deleteAnswersServerVerdict() {
    QFETCH(FtpTestServer::Kind, kind);
    Remote r;
    START_REMOTE(r, kind, FtpTestServer::Options());
    QVERIFY(QDir(r.server->rootPath()).mkpath(QStringLiteral("d")));
    QVERIFY(TestFiles::writeFile(r.local(QStringLiteral("d/a b.txt")), "1"));
    QVERIFY(TestFiles::writeFile(r.local(QStringLiteral("d/c.txt")), "2"));
    if (kind == FtpTestServer::Kind::Pyftpdlib) {
        r.server->addFault({QStringLiteral("DELE"), QStringLiteral("refuse"), 0, 0, 1, {}});
        QVERIFY(r.session.deleteFile(QStringLiteral("/d/a b.txt")).is(FailureKind::Refused));
        QVERIFY(QFile::exists(r.local(QStringLiteral("d/a b.txt"))));
    }
    QVERIFY(!r.session.deleteFile(QStringLiteral("/d/missing.txt")));
    // A listing leaves the server in another folder; deletes still hit
    // the named file.
    QCOMPARE(listAll(r.session, QStringLiteral("/d/*.*")).size(), 2);
    QVERIFY(r.session.deleteFile(QStringLiteral("/d/a b.txt")));
    QVERIFY(!QFile::exists(r.local(QStringLiteral("d/a b.txt"))));
    QVERIFY(r.session.deleteFile(QStringLiteral("/d/c.txt")));
    QVERIFY(!QFile::exists(r.local(QStringLiteral("d/c.txt"))));
}

void TestOperations::createDirectory_data() {
    addKindRows();
}

void TestOperations::createDirectory() {
    QFETCH(FtpTestServer::Kind, kind);
    Remote r;
    START_REMOTE(r, kind, FtpTestServer::Options());
    QVERIFY(r.session.createDirectory(QStringLiteral("/new folder #1/")));
    QVERIFY(QFileInfo(r.local(QStringLiteral("new folder #1"))).isDir());
    // Already there: the server refuses, and the session carries on.
    QVERIFY(!r.session.createDirectory(QStringLiteral("/new folder #1/")));
    QVERIFY(r.session.createDirectory(QStringLiteral("/new folder #1/inner")));
    QVERIFY(QFileInfo(r.local(QStringLiteral("new folder #1/inner"))).isDir());
}

void TestOperations::controlCharactersNeverReachServer_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("CR LF") << QStringLiteral("/x\r\nDELE /INJECT");
    QTest::newRow("LF") << QStringLiteral("/x\nDELE /INJECT");
    QTest::newRow("CR") << QStringLiteral("/x\rDELE /INJECT");
    QTest::newRow("NUL") << QStringLiteral("/x") + QChar(0) + QStringLiteral("INJECT");
}

void TestOperations::controlCharactersNeverReachServer() {
    QFETCH(QString, name);
    Remote r;
    START_REMOTE(r, FtpTestServer::Kind::Pyftpdlib, FtpTestServer::Options());
    QVERIFY(TestFiles::writeFile(r.local(QStringLiteral("INJECT")), "keep"));
    const qsizetype before = r.server->commandLog().size();
    QVERIFY(r.session.deleteFile(name).is(FailureKind::BadName));
    QVERIFY(r.session.createDirectory(name).is(FailureKind::BadName));
    QVERIFY(r.session.openUpload(name).is(FailureKind::BadName));
    bool found = true;
    listAll(r.session, name + QStringLiteral("/*.*"), &found);
    QVERIFY(!found);
    QCOMPARE(r.server->commandLog().size(), before);
    QCOMPARE(readFile(r.local(QStringLiteral("INJECT"))), QByteArray("keep"));
}

void TestOperations::byteFFNeverReachesServer_data() {
    addKindRows();
}

// Servers that follow the Telnet rules of the control connection read a
// doubled 0xFF as one, others (both test servers) take every byte as it is:
// no form of the byte names one file everywhere, so it is never sent.
void TestOperations::byteFFNeverReachesServer() {
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

    QVERIFY(!r.session.deleteFile(single));
    QVERIFY(!r.session.rename(single, QStringLiteral("/c")));
    QVERIFY(!r.session.createDirectory(single + QStringLiteral("/d")));
    QVERIFY(r.session.openUpload(single).is(FailureKind::BadName));

    for (const QByteArray& name : {QByteArray("a\xFF"
                                              "b"),
                                   QByteArray("a\xFF\xFF"
                                              "b")}) {
        QVERIFY(::access((root + '/' + name).constData(), F_OK) == 0);
    }
    QVERIFY(::access((root + "/c").constData(), F_OK) != 0);
    QCOMPARE(r.server->commandLog().size(), kind == FtpTestServer::Kind::Pyftpdlib ? before : 0);
}

void TestOperations::renameGivesTheFileItsNewName_data() {
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

void TestOperations::renameGivesTheFileItsNewName() {
    QFETCH(FtpTestServer::Kind, kind);
    QFETCH(bool, together);
    QFETCH(bool, losesAhead);
    Remote r;
    START_REMOTE(r, kind, FtpTestServer::Options());
    if (losesAhead)
        r.server->addFault(
            {QStringLiteral("NOOP"), QStringLiteral("lose-following"), 0, 0, -1, {}});
    r.session.sendCommandsTogether(together);
    QVERIFY(TestFiles::writeFile(r.local(QStringLiteral("a")), "new"));
    QVERIFY(TestFiles::writeFile(r.local(QStringLiteral("b")), "old"));

    QVERIFY(r.session.rename(QStringLiteral("/a"), QStringLiteral("/b")));
    QCOMPARE(readFile(r.local(QStringLiteral("b"))), QByteArray("new"));
    QVERIFY(!QFileInfo::exists(r.local(QStringLiteral("a"))));
    // A missing file cannot be renamed, and the session goes on working.
    QVERIFY(!r.session.rename(QStringLiteral("/a"), QStringLiteral("/c")));
    QVERIFY(!QFileInfo::exists(r.local(QStringLiteral("c"))));
    QVERIFY(r.session.rename(QStringLiteral("/b"), QStringLiteral("/c")));
    QCOMPARE(readFile(r.local(QStringLiteral("c"))), QByteArray("new"));
    // Every reply was read: the next command gets its own.
    QVERIFY(r.session.createDirectory(QStringLiteral("/d/")));
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

void TestOperations::renameTogetherAfterServerClosedIdleConnection() {
    // The server closes the connection between two commands, as it does one
    // left idle: the rename logs in afresh rather than failing on it.
    Remote r;
    START_REMOTE(r, FtpTestServer::Kind::Pyftpdlib, FtpTestServer::Options());
    QVERIFY(TestFiles::writeFile(r.local(QStringLiteral("a")), "1"));
    r.session.sendCommandsTogether(true);
    QVERIFY(r.session.rename(QStringLiteral("/a"), QStringLiteral("/b")));
    r.server->addFault({QStringLiteral("MKD"), QStringLiteral("close-after"), 0, 0, 1, {}});
    QVERIFY(r.session.createDirectory(QStringLiteral("/d/")));
    QTRY_COMPARE(r.server->openControlConnections(), 0);
    QVERIFY(r.session.rename(QStringLiteral("/b"), QStringLiteral("/c")));
    QCOMPARE(readFile(r.local(QStringLiteral("c"))), QByteArray("1"));
    QCOMPARE(countCommands(*r.server, "USER"), 2);
}

void TestOperations::foreignPassiveAddressIsNotFollowed() {
    Remote r;
    START_REMOTE(r, FtpTestServer::Kind::Pyftpdlib, FtpTestServer::Options());
    QVERIFY(TestFiles::writeFile(r.local(QStringLiteral("a.txt")), "abc"));
    // Without EPSV the client must use PASV, whose reply names an address
    // where nothing listens.
    r.server->addFault({QStringLiteral("EPSV"), QStringLiteral("refuse"), 0, 0, -1, {}});
    r.server->addFault({QStringLiteral("PASV"), QStringLiteral("pasv-foreign"), 0, 0, -1, {}});
    QCOMPARE(listAll(r.session, QStringLiteral("/*.*")),
             QList<Listed>{(Listed{QStringLiteral("a.txt"), false, 3})});
    QVERIFY(upload(r.session, QStringLiteral("/b.txt"), "xyz"));
    QCOMPARE(readFile(r.local(QStringLiteral("b.txt"))), QByteArray("xyz"));
    QVERIFY(countCommands(*r.server, "PASV") >= 1);
}

void TestOperations::sessionReusesOneLogIn() {
    Remote r;
    START_REMOTE(r, FtpTestServer::Kind::Pyftpdlib, FtpTestServer::Options());
    QVERIFY(QDir(r.server->rootPath()).mkpath(QStringLiteral("a/b")));
    QVERIFY(TestFiles::writeFile(r.local(QStringLiteral("a/b/f")), "1"));
    for (int i = 0; i < 3; ++i)
        QCOMPARE(listAll(r.session, QStringLiteral("/a/b/*.*")).size(), 1);
    QVERIFY(upload(r.session, QStringLiteral("/a/g"), "2"));
    QVERIFY(r.session.createDirectory(QStringLiteral("/a/c/")));
    QVERIFY(r.session.deleteFile(QStringLiteral("/a/g")));
    QCOMPARE(countCommands(*r.server, "USER"), 1);
    QCOMPARE(countCommands(*r.server, "PASS"), 1);
}

void TestOperations::lostConnectionIsRetriedRefusalIsNot_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("tries");
    QTest::addColumn<int>("failure"); // -1: the operation works
    QTest::newRow("dropped once") << "drop" << 1 << 2 << -1;
    QTest::newRow("dropped twice") << "drop" << 2 << 3 << -1;
    QTest::newRow("dropped always") << "drop" << -1 << 3 << int(FailureKind::ConnectionLost);
    QTest::newRow("refused") << "refuse" << -1 << 1 << int(FailureKind::Refused);
}

// A lost connection says nothing about the file: the operation is carried
// out again over a fresh log-in, up to three times. A refusal is final.
void TestOperations::lostConnectionIsRetriedRefusalIsNot() {
    QFETCH(QString, action);
    QFETCH(int, count);
    QFETCH(int, tries);
    QFETCH(int, failure);
    Remote r;
    START_REMOTE(r, FtpTestServer::Kind::Pyftpdlib, FtpTestServer::Options());
    QVERIFY(TestFiles::writeFile(r.local(QStringLiteral("a.txt")), "abc"));
    for (const char* verb : {"MLSD", "DELE", "MKD", "RNFR"})
        r.server->addFault({QLatin1String(verb), action, 0, 0, count, {}});
    const auto listed = r.session.list(QStringLiteral("/*.*"));
    const auto made = r.session.createDirectory(QStringLiteral("/d/"));
    const auto renamed = r.session.rename(QStringLiteral("/a.txt"), QStringLiteral("/b.txt"));
    const auto deleted =
        r.session.deleteFile(failure < 0 ? QStringLiteral("/b.txt") : QStringLiteral("/a.txt"));
    for (const Result<>& result :
         {Result<>(listed ? Result<>() : listed.failure()), made, renamed, deleted}) {
        if (failure < 0)
            QVERIFY2(result.ok(), qPrintable(result.failure().describe()));
        else
            QCOMPARE(int(result.failure().kind), failure);
    }
    for (const char* verb : {"MLSD", "DELE", "MKD", "RNFR"})
        QCOMPARE(countCommands(*r.server, verb), tries);
    QCOMPARE(QFileInfo::exists(r.local(QStringLiteral("d"))), failure < 0);
    QCOMPARE(QFileInfo::exists(r.local(QStringLiteral("a.txt"))), failure >= 0);
    QVERIFY(!QFileInfo::exists(r.local(QStringLiteral("b.txt"))));
    // Every log-in, the retries' too, tells the server it speaks UTF-8.
    QCOMPARE(countCommands(*r.server, "OPTS UTF8"), countCommands(*r.server, "USER"));
}

void TestOperations::currentDirectory() {
    Remote r;
    START_REMOTE(r, FtpTestServer::Kind::Pyftpdlib, FtpTestServer::Options());
    QVERIFY(QDir(r.server->rootPath()).mkpath(QStringLiteral("a")));
    QVERIFY(TestFiles::writeFile(r.local(QStringLiteral("a/f")), "1"));
    QCOMPARE(listAll(r.session, QStringLiteral("/a/*.*")).size(), 1);
    QCOMPARE(*r.session.currentDirectory(), QStringLiteral("/"));
}

void TestOperations::closedSessionFails() {
    Remote r;
    START_REMOTE(r, FtpTestServer::Kind::Pyftpdlib, FtpTestServer::Options());
    QVERIFY(TestFiles::writeFile(r.local(QStringLiteral("a.txt")), "abc"));
    const int first = r.session.connectionNumber();
    QVERIFY(first != 0);
    r.session.close();
    QVERIFY(!r.session.isConnected());
    QCOMPARE(r.session.connectionNumber(), 0);
    QVERIFY(r.session.deleteFile(QStringLiteral("/a.txt")).is(FailureKind::NotConnected));
    QVERIFY(r.session.list(QStringLiteral("/*.*")).is(FailureKind::NotConnected));
    QVERIFY(QFile::exists(r.local(QStringLiteral("a.txt"))));
    // A new log-in never gets a number used before.
    QVERIFY(r.server->logIn(r.session));
    QVERIFY(r.session.connectionNumber() > first);
}

void TestOperations::closingSessionCutsOffItsUpload() {
    Remote r;
    START_REMOTE(r, FtpTestServer::Kind::Pyftpdlib, FtpTestServer::Options());
    auto file = r.session.openUpload(QStringLiteral("/up.bin"));
    QVERIFY(file);
    // Nothing else runs on a session while its upload is open.
    QVERIFY(r.session.list(QStringLiteral("/*.*")).is(FailureKind::Local));
    r.session.close();
    QVERIFY((*file)->write("x", 1).is(FailureKind::NotConnected));
    QVERIFY((*file)->finish().is(FailureKind::NotConnected));
    QTRY_COMPARE(r.server->openControlConnections(), 0);
}

void TestOperations::fileExists() {
    Remote r;
    START_REMOTE(r, FtpTestServer::Kind::Pyftpdlib, FtpTestServer::Options());
    QVERIFY(TestFiles::writeFile(r.local(QStringLiteral("there.txt")), "abc"));
    QVERIFY(*r.session.fileExists(QStringLiteral("/there.txt")));
    QVERIFY(!*r.session.fileExists(QStringLiteral("/gone.txt")));
}

QTEST_GUILESS_MAIN(TestOperations)
#include "tst_operations.moc"
