// The session layer over FTP with TLS and over SFTP, against real servers on
// loopback with throwaway certificates and host keys: every operation the
// program uses, the trust questions and the ways a secure connection fails.

#include "ftp/RemoteNames.h"
#include "ftp/RemoteUpload.h"
#include "ftp/ServerTrust.h"
#include "ftp/Session.h"
#include "tests/support/FtpTestServer.h"
#include "tests/support/MessageRecorder.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestServers.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace TestFiles;

namespace {

const QString kTrustAlways = QStringLiteral("Trust always");
const QString kThisTime = QStringLiteral("This time");
const QString kCancel = QStringLiteral("Cancel");

struct Connection {
    Session session;
    bool connected = false;
};

std::unique_ptr<Connection> connectTo(const FtpTestServer& server, const QString& password) {
    auto c = std::make_unique<Connection>();
    c->connected = c->session.openInternet() &&
                   c->session.connect({server.hostText(), QString::number(server.port()),
                                       server.user(), password});
    return c;
}

QStringList listNames(const Session& session, const QString& pattern) {
    QStringList names;
    const auto listing = session.list(pattern);
    if (!listing)
        return names;
    for (const RemoteEntry& e : listing->entries)
        names << decodeRemoteName(e.name) +
                     (e.kind == RemoteEntryKind::Directory ? QStringLiteral("/") : QString());
    names.sort();
    return names;
}

} // namespace

class TestSecure : public QObject {
    Q_OBJECT
private slots:
    void init();

    void everyOperation_data();
    void everyOperation();
    void firstUseAsksOnce_data();
    void firstUseAsksOnce();
    void changedIdentityWarns_data();
    void changedIdentityWarns();
    void untrustworthyCertificateSaysWhy_data();
    void untrustworthyCertificateSaysWhy();
    void refusedConnections_data();
    void refusedConnections();
    void dataConnectionWithoutTlsFails();
    void explicitTlsNeverFallsBackToPlain();

private:
    void addSecureServers();
    std::unique_ptr<FtpTestServer> startServer(FtpTestServer::Kind kind, FtpTestServer::Tls tls);
    std::unique_ptr<QTemporaryDir> config_;
};

void TestSecure::init() {
    config_ = std::make_unique<QTemporaryDir>();
    ServerTrust::setLocations(config_->filePath(QStringLiteral("Tarvex.ini")),
                              config_->filePath(QStringLiteral("Pellmor/known_hosts")));
    ServerTrust::forgetThisRun();
}

void TestSecure::addSecureServers() {
    TestServers::addSecureServerRows();
}

std::unique_ptr<FtpTestServer> TestSecure::startServer(FtpTestServer::Kind kind,
                                                       FtpTestServer::Tls tls) {
    FtpTestServer::Options options;
    options.tls = tls;
    auto server = std::make_unique<FtpTestServer>(kind, options);
    if (!TestServers::start(*server, __FILE__, __LINE__))
        return nullptr;
    return server;
}

void TestSecure::everyOperation_data() {
    addSecureServers();
}

void TestSecure::everyOperation() {
    QFETCH(FtpTestServer::Kind, kind);
    QFETCH(FtpTestServer::Tls, tls);
    auto server = startServer(kind, tls);
    if (!server)
        return;
    const QString root = server->rootPath();
    const QString remote = server->remoteRoot();
    QVERIFY(writeFile(root + QStringLiteral("/www/old file.txt"), "old"));
    QVERIFY(writeFile(root + QStringLiteral("/www/sub/keep.txt"), "keep"));
    server->ownFiles();

    MessageRecorder boxes;
    boxes.answers = {kThisTime};
    auto c = connectTo(*server, server->password());
    QVERIFY(c->connected);
    QCOMPARE(boxes.boxes().size(), 1);

    QCOMPARE(listNames(c->session, remote + QStringLiteral("www/*.*")),
             (QStringList{QStringLiteral("old file.txt"), QStringLiteral("sub/")}));

    const auto folderNow = c->session.currentDirectory();
    QVERIFY(folderNow);
    const QString current = *folderNow;
    QVERIFY2(current.endsWith(QLatin1Char('/')) ? current == remote
                                                : current + QLatin1Char('/') == remote,
             qPrintable(current));

    // Names with blanks and quotes, and bytes that a text transfer would change.
    const QString folder = remote + QStringLiteral("www/new \"dir\" x/");
    QVERIFY(c->session.createDirectory(folder));
    QByteArray payload(3000, Qt::Uninitialized);
    for (int i = 0; i < payload.size(); ++i)
        payload[i] = char((i * 7) & 0xff);
    payload.replace(100, 4, "\r\n\n\r");
    const QString file = folder + QStringLiteral("it's \"quoted\".bin");
    auto h = c->session.openUpload(file);
    QVERIFY(h);
    for (qsizetype at = 0; at < payload.size(); at += 1024)
        QVERIFY((*h)->write(payload.constData() + at, qMin<qsizetype>(1024, payload.size() - at)));
    QVERIFY((*h)->finish());
    QCOMPARE(readFile(root + QStringLiteral("/www/new \"dir\" x/it's \"quoted\".bin")), payload);

    QVERIFY(*c->session.fileExists(remote + QStringLiteral("www/old file.txt")));
    QVERIFY(c->session.deleteFile(remote + QStringLiteral("www/old file.txt")));
    QVERIFY(!QFileInfo::exists(root + QStringLiteral("/www/old file.txt")));
    QVERIFY(!*c->session.fileExists(remote + QStringLiteral("www/old file.txt")));
    QVERIFY(c->session.deleteFile(remote + QStringLiteral("www/old file.txt"))
                .is(FailureKind::Refused));

    // A folder that is not there lists as nothing, and a file cannot be
    // created in it; the session goes on.
    QCOMPARE(listNames(c->session, remote + QStringLiteral("nowhere/*.*")), QStringList());
    QVERIFY(c->session.openUpload(remote + QStringLiteral("nowhere/deeper/x.txt"))
                .is(FailureKind::Refused));
    QCOMPARE(listNames(c->session, remote + QStringLiteral("www/sub/*.*")),
             QStringList{QStringLiteral("keep.txt")});
    QCOMPARE(boxes.boxes().size(), 1);
    // Every data connection resumed a TLS session, so costing no full
    // handshake (the server would refuse one that did not).
    if (tls != FtpTestServer::Tls::None) {
        const QList<bool> resumed = server->dataConnectionsResumed();
        QVERIFY2(resumed.size() >= 3, qPrintable(QString::number(resumed.size())));
        QVERIFY(!resumed.contains(false));
    }
}

void TestSecure::firstUseAsksOnce_data() {
    QTest::addColumn<FtpTestServer::Kind>("kind");
    QTest::addColumn<FtpTestServer::Tls>("tls");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<int>("questionsOnSecondConnect");
    QTest::addColumn<bool>("stored");
    const struct {
        const char* name;
        FtpTestServer::Kind kind;
        FtpTestServer::Tls tls;
    } servers[] = {{"ftpes", FtpTestServer::Kind::Vsftpd, FtpTestServer::Tls::Explicit},
                   {"sftp", FtpTestServer::Kind::RcloneSftp, FtpTestServer::Tls::None}};
    for (const auto& s : servers) {
        QTest::addRow("%s trust always", s.name)
            << s.kind << s.tls << kTrustAlways << true << 0 << true;
        QTest::addRow("%s this time", s.name) << s.kind << s.tls << kThisTime << true << 0 << false;
        QTest::addRow("%s cancel", s.name) << s.kind << s.tls << kCancel << false << 1 << false;
    }
}

void TestSecure::firstUseAsksOnce() {
    QFETCH(FtpTestServer::Kind, kind);
    QFETCH(FtpTestServer::Tls, tls);
    QFETCH(QString, answer);
    QFETCH(bool, connected);
    QFETCH(int, questionsOnSecondConnect);
    QFETCH(bool, stored);
    auto server = startServer(kind, tls);
    if (!server)
        return;

    MessageRecorder boxes;
    boxes.answers = {answer};
    auto first = connectTo(*server, server->password());
    QCOMPARE(first->connected, connected);
    QCOMPARE(boxes.boxes().size(), 1);
    const MessageBoxSpec& box = boxes.boxes().first();
    QCOMPARE(box.buttons, (QStringList{kTrustAlways, kThisTime, kCancel}));
    QCOMPARE(box.buttons[box.escapeButton], kCancel);
    QCOMPARE(box.icon, MessageBoxSpec::Icon::Warning);
    QVERIFY2(box.text.contains(QStringLiteral("127.0.0.1:") + QString::number(server->port())),
             qPrintable(box.text));
    if (tls != FtpTestServer::Tls::None) {
        const QByteArray der = ServerTrust::derFromPem(server->certificatePem());
        QVERIFY(!der.isEmpty());
        for (const QString& part :
             {QStringLiteral("Subject: CN = localhost"), QStringLiteral("Issuer: CN = localhost"),
              QStringLiteral("Valid from: "), QStringLiteral("Valid until: "),
              QStringLiteral("self-signed"), ServerTrust::colonHex(sha256(der))})
            QVERIFY2(box.text.contains(part), qPrintable(part + QStringLiteral(" in ") + box.text));
    } else {
        const QByteArray key = server->hostKeyBlob();
        QVERIFY(!key.isEmpty());
        QVERIFY2(box.text.contains(QStringLiteral("ssh-ed25519")), qPrintable(box.text));
        QVERIFY2(box.text.contains(ServerTrust::sshFingerprint(key)), qPrintable(box.text));
    }

    // Another connection of the same run: asked again only after a refusal.
    boxes.clear();
    boxes.answers = {kThisTime};
    auto second = connectTo(*server, server->password());
    QVERIFY(second->connected);
    QCOMPARE(boxes.boxes().size(), questionsOnSecondConnect);
    QCOMPARE(listNames(second->session, server->remoteRoot() + QStringLiteral("*.*")),
             QStringList());

    // A later run of the program: only a lasting trust spares the question.
    ServerTrust::forgetThisRun();
    QCOMPARE(ServerTrust::trustedCertificate("127.0.0.1", server->port()).has_value() ||
                 ServerTrust::knownHostKey("127.0.0.1", server->port()).has_value(),
             stored);
}

void TestSecure::changedIdentityWarns_data() {
    QTest::addColumn<FtpTestServer::Kind>("kind");
    QTest::addColumn<FtpTestServer::Tls>("tls");
    QTest::addColumn<bool>("sameKey"); // TLS: a new certificate for the same key
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("connected");
    QTest::newRow("ftpes new key, cancel")
        << FtpTestServer::Kind::Vsftpd << FtpTestServer::Tls::Explicit << false << kCancel << false;
    QTest::newRow("ftpes new key, trust always")
        << FtpTestServer::Kind::Vsftpd << FtpTestServer::Tls::Explicit << false << kTrustAlways
        << true;
    QTest::newRow("ftps same key, new certificate")
        << FtpTestServer::Kind::Vsftpd << FtpTestServer::Tls::Implicit << true << kTrustAlways
        << true;
    QTest::newRow("sftp new host key, cancel")
        << FtpTestServer::Kind::RcloneSftp << FtpTestServer::Tls::None << false << kCancel << false;
    QTest::newRow("sftp new host key, trust always")
        << FtpTestServer::Kind::RcloneSftp << FtpTestServer::Tls::None << false << kTrustAlways
        << true;
}

void TestSecure::changedIdentityWarns() {
    QFETCH(FtpTestServer::Kind, kind);
    QFETCH(FtpTestServer::Tls, tls);
    QFETCH(bool, sameKey);
    QFETCH(QString, answer);
    QFETCH(bool, connected);
    auto server = startServer(kind, tls);
    if (!server)
        return;
    const QByteArray host = "127.0.0.1";
    // What the user trusted before: another certificate or host key.
    QByteArray otherCertificate;
    QByteArray otherKey;
    if (tls != FtpTestServer::Tls::None) {
        const QByteArray der = ServerTrust::derFromPem(server->certificatePem());
        QByteArray fingerprint = sha256(der);
        fingerprint[0] = char(fingerprint[0] ^ 0x55);
        const QByteArray pin = sameKey ? ServerTrust::publicKeyPin(der)
                                       : "sha256//" + sha256("another key").toBase64();
        ServerTrust::storeCertificate(host, server->port(), {fingerprint, pin});
        otherCertificate = fingerprint;
    } else {
        otherKey = server->hostKeyBlob();
        otherKey[otherKey.size() - 1] = char(otherKey[otherKey.size() - 1] ^ 0x55);
        ServerTrust::storeHostKey(host, server->port(), otherKey);
    }

    MessageRecorder boxes;
    boxes.answers = {answer};
    auto c = connectTo(*server, server->password());
    QCOMPARE(c->connected, connected);
    QCOMPARE(boxes.boxes().size(), 1);
    const QString text = boxes.boxes().first().text;
    QVERIFY2(text.contains(QStringLiteral("WARNING")) && text.contains(QStringLiteral("changed")) &&
                 text.contains(QStringLiteral("impersonating")),
             qPrintable(text));

    // Only the explicit choice replaced what was stored.
    if (tls != FtpTestServer::Tls::None) {
        const auto stored = ServerTrust::trustedCertificate(host, server->port());
        QVERIFY(stored);
        QCOMPARE(stored->fingerprint == otherCertificate, !connected);
    } else {
        const auto stored = ServerTrust::knownHostKey(host, server->port());
        QVERIFY(stored);
        QCOMPARE(*stored == otherKey, !connected);
    }
}

void TestSecure::untrustworthyCertificateSaysWhy_data() {
    QTest::addColumn<FtpTestServer::Certificate>("certificate");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QStringList>("reasons");
    // The server is reached as 127.0.0.1, which none of the certificates
    // names; each problem is told, not only the first the check met.
    const QString name = QStringLiteral("name does not match 127.0.0.1");
    QTest::newRow("expired, cancel") << FtpTestServer::Certificate::Expired << kCancel
                                     << QStringList{QStringLiteral("expired"), name};
    QTest::newRow("expired, this time") << FtpTestServer::Certificate::Expired << kThisTime
                                        << QStringList{QStringLiteral("expired"), name};
    QTest::newRow("other name, unknown authority, cancel")
        << FtpTestServer::Certificate::OtherName << kCancel
        << QStringList{QStringLiteral("local issuer"), name};
    QTest::newRow("other name, unknown authority, this time")
        << FtpTestServer::Certificate::OtherName << kThisTime
        << QStringList{QStringLiteral("local issuer"), name};
}

void TestSecure::untrustworthyCertificateSaysWhy() {
    QFETCH(FtpTestServer::Certificate, certificate);
    QFETCH(QString, answer);
    QFETCH(QStringList, reasons);
    FtpTestServer::Options options;
    options.tls = FtpTestServer::Tls::Explicit;
    options.certificate = certificate;
    FtpTestServer server(FtpTestServer::Kind::Vsftpd, options);
    if (!TestServers::start(server, __FILE__, __LINE__))
        return;

    MessageRecorder boxes;
    boxes.answers = {answer};
    auto c = connectTo(server, server.password());
    QCOMPARE(boxes.boxes().size(), 1);
    const QString text = boxes.boxes().first().text;
    const qsizetype at = text.indexOf(QStringLiteral("\nReason: "));
    QVERIFY2(at >= 0, qPrintable(text));
    const QString reason = text.mid(at).section(QLatin1Char('\n'), 1, 1);
    for (const QString& part : reasons)
        QVERIFY2(reason.contains(part), qPrintable(part + QStringLiteral(" in ") + reason));
    QVERIFY2(text.contains(
                 ServerTrust::colonHex(sha256(ServerTrust::derFromPem(server.certificatePem())))),
             qPrintable(text));

    // Trusted in spite of it, the certificate carries the session; declined,
    // nothing is connected.
    QCOMPARE(c->connected, answer != kCancel);
    if (c->connected)
        QCOMPARE(listNames(c->session, QStringLiteral("/*.*")), QStringList());
}

void TestSecure::refusedConnections_data() {
    QTest::addColumn<FtpTestServer::Kind>("kind");
    QTest::addColumn<FtpTestServer::Tls>("serverTls");
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<QString>("password");
    // A server without TLS asked for TLS, implicitly (the handshake fails) or
    // explicitly (AUTH TLS is refused); a wrong SFTP password. Each fails at
    // once and asks nothing.
    QTest::newRow("ftps to plain vsftpd")
        << FtpTestServer::Kind::Vsftpd << FtpTestServer::Tls::None << "ftps://"
        << "secret";
    QTest::newRow("ftpes to plain vsftpd")
        << FtpTestServer::Kind::Vsftpd << FtpTestServer::Tls::None << "ftpes://"
        << "secret";
    QTest::newRow("sftp wrong password, rclone")
        << FtpTestServer::Kind::RcloneSftp << FtpTestServer::Tls::None << "sftp://"
        << "wrong";
    QTest::newRow("sftp wrong password, sshd")
        << FtpTestServer::Kind::OpenSshSftp << FtpTestServer::Tls::None << "sftp://"
        << "wrong";
}

void TestSecure::refusedConnections() {
    QFETCH(FtpTestServer::Kind, kind);
    QFETCH(FtpTestServer::Tls, serverTls);
    QFETCH(QString, scheme);
    QFETCH(QString, password);
    auto server = startServer(kind, serverTls);
    if (!server)
        return;
    // The host key is known, so that only the password can fail.
    ServerTrust::storeHostKey("127.0.0.1", server->port(), server->hostKeyBlob());
    MessageRecorder boxes;
    Session session;
    QVERIFY(session.openInternet());
    QVERIFY(!session.connect(
        {scheme + server->host(), QString::number(server->port()), server->user(), password}));
    QCOMPARE(boxes.texts(), QStringList());
}

void TestSecure::dataConnectionWithoutTlsFails() {
    // The control connection speaks TLS but no data connection completes its
    // handshake: listings and uploads fail, each in bounded time, nothing
    // arrives under the file's name, and every command after a failure is
    // answered by its own reply.
    FtpTestServer::Options options;
    options.tls = FtpTestServer::Tls::Explicit;
    FtpTestServer server(FtpTestServer::Kind::Pyftpdlib, options);
    if (!TestServers::start(server, __FILE__, __LINE__))
        return;
    const QString root = server.rootPath();
    QVERIFY(writeFile(root + QStringLiteral("/one.txt"), "one"));
    QVERIFY(writeFile(root + QStringLiteral("/two.txt"), "two"));
    MessageRecorder boxes;
    boxes.answers = {kThisTime};
    auto c = connectTo(server, server.password());
    QVERIFY(c->connected);

    QVERIFY(!c->session.list(QStringLiteral("/*.*")));
    QVERIFY(c->session.deleteFile(QStringLiteral("/one.txt")));
    QVERIFY(!QFileInfo::exists(root + QStringLiteral("/one.txt")));

    // Not a refusal: the server may have created the file before the data
    // connection failed, but nothing of the upload is in it.
    const auto upload = c->session.openUpload(QStringLiteral("/new.bin"));
    QVERIFY(!upload);
    QVERIFY(!upload.is(FailureKind::Refused));
    const QString uploaded = root + QStringLiteral("/new.bin");
    QVERIFY(!QFileInfo::exists(uploaded) || QFileInfo(uploaded).size() == 0);
    QVERIFY(c->session.createDirectory(QStringLiteral("/made")));
    QVERIFY(QFileInfo(root + QStringLiteral("/made")).isDir());
    QVERIFY(c->session.deleteFile(QStringLiteral("/two.txt")));
    QVERIFY(!QFileInfo::exists(root + QStringLiteral("/two.txt")));
    QCOMPARE(boxes.boxes().size(), 1);
}

void TestSecure::explicitTlsNeverFallsBackToPlain() {
    // Pyftpdlib without TLS answers AUTH TLS with a refusal: the password must
    // never be sent in clear after that.
    FtpTestServer server;
    QString reason;
    QVERIFY2(server.start(&reason), qPrintable(reason));
    MessageRecorder boxes;
    Session session;
    QVERIFY(session.openInternet());
    QVERIFY(!session.connect({QStringLiteral("ftpes://") + server.host(),
                              QString::number(server.port()), server.user(), server.password()}));
    const QList<QByteArray> log = server.commandLog();
    QVERIFY(!log.isEmpty());
    for (const QByteArray& line : log) {
        QVERIFY2(!line.startsWith("USER") && !line.startsWith("PASS"), line.constData());
    }
}

QTEST_GUILESS_MAIN(TestSecure)
#include "tst_secure.moc"
