// The host box's schemes, the keyring's key of a server account, and the pure
// parts of the trust store: certificate keys and fingerprints, SSH key names,
// the known-hosts file.

#include "ftp/HostAddress.h"
#include "ftp/PasswordKey.h"
#include "ftp/ServerTrust.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(RemoteProtocol)

namespace {

// A throwaway certificate, and what OpenSSH and OpenSSL say about it.
const QByteArray kCertificatePem = R"(-----BEGIN CERTIFICATE-----
MIIBgjCCASegAwIBAgIUOL4oLKUEysdOQ5ks+S6B91F3ZBMwCgYIKoZIzj0EAwIw
FjEUMBIGA1UEAwwLcGluLmV4YW1wbGUwHhcNMjYxMjA4MTIwNDQwWhcNMzYxMjA1
MTIwNDQwWjAWMRQwEgYDVQQDDAtwaW4uZXhhbXBsZTBZMBMGByqGSM49AgEGCCqG
SM49AwEHA0IABPxqS3+Y0SBLLe9dSqBrp2KgcKGsqq3em5VrZcpCzn/3GRgAF34+
EmCt2w9UuIl0l1lmwolgDVX//6VSN5Tl4a+jUzBRMB0GA1UdDgQWBBQ3guv/Sf3D
NKGYd37CFwPpZJRCKjAfBgNVHSMEGDAWgBQ3guv/Sf3DNKGYd37CFwPpZJRCKjAP
BgNVHRMBAf8EBTADAQH/MAoGCCqGSM49BAMCA0kAMEYCIQCHkJXMadXzskkwXLY3
7N0FeT4v/RIBPF/5GvmBw5353wIhAPRpzH5SAJHPszCXlgUtRhlEDr/JcPR2YB1y
CM3C+WqN
-----END CERTIFICATE-----
)";
const QByteArray kPin = "sha256//uuATs/nUW2j68BqKUpWGFfXWE1JmB+TRq47Uq3mmI0g=";
const QString kFingerprint = QStringLiteral("BE:8F:8A:42:06:C9:05:29:E1:7E:BA:31:02:68:A7:AF:41:"
                                            "69:9E:1D:AA:3C:F9:8D:6C:9B:A4:26:60:21:9C:56");
const QByteArray kHostKey =
    QByteArray::fromBase64("AAAAC3NzaC1lZDI1NTE5AAAAILe6FBPM4yuOBFpygDzR5g7WaOuKsy5XjB1e8AD0FIZr");
const QString kHostKeyFingerprint =
    QStringLiteral("SHA256:lBUoz6G5p7919nFngrMMF8IbOr9ujZYauXHJJwW8CeA");

} // namespace

class TestHostAddress : public QObject {
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
    void passwordKeys_data();
    void passwordKeys();
    void certificateIdentity();
    void brokenCertificateHasNoKey_data();
    void brokenCertificateHasNoKey();
    void hostKeyIdentity();
    void knownHostsKeepsOneKeyPerServer();
    void trustedCertificatesPerHostAndPort();
};

void TestHostAddress::parse_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("portIn");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<RemoteProtocol>("protocol");
    QTest::addColumn<QByteArray>("host");
    QTest::addColumn<int>("port");

    const auto ftp = RemoteProtocol::Ftp;
    const auto ftpes = RemoteProtocol::FtpExplicitTls;
    const auto ftps = RemoteProtocol::FtpImplicitTls;
    const auto sftp = RemoteProtocol::Sftp;
    QTest::newRow("bare host") << "example.com" << 21 << true << ftp << QByteArray("example.com")
                               << 21;
    QTest::newRow("ftp scheme") << "ftp://example.com" << 2121 << true << ftp
                                << QByteArray("example.com") << 2121;
    QTest::newRow("ftpes keeps 21") << "ftpes://h" << 21 << true << ftpes << QByteArray("h") << 21;
    QTest::newRow("ftps: 21 means 990")
        << "ftps://h" << 21 << true << ftps << QByteArray("h") << 990;
    QTest::newRow("ftps: port 0 means 990")
        << "ftps://h" << 0 << true << ftps << QByteArray("h") << 990;
    QTest::newRow("ftps: other port as typed")
        << "ftps://h" << 2990 << true << ftps << QByteArray("h") << 2990;
    QTest::newRow("sftp: 21 means 22") << "sftp://h" << 21 << true << sftp << QByteArray("h") << 22;
    QTest::newRow("sftp: other port as typed")
        << "sftp://h" << 2222 << true << sftp << QByteArray("h") << 2222;
    QTest::newRow("scheme in capitals")
        << "SFTP://h" << 21 << true << sftp << QByteArray("h") << 22;
    QTest::newRow("trailing slash") << "ftpes://h/" << 21 << true << ftpes << QByteArray("h") << 21;
    QTest::newRow("bare IPv6 gets brackets")
        << "::1" << 21 << true << ftp << QByteArray("[::1]") << 21;
    QTest::newRow("bracketed IPv6 after scheme")
        << "sftp://[::1]" << 21 << true << sftp << QByteArray("[::1]") << 22;

    const QByteArray none;
    QTest::newRow("unknown scheme") << "http://h" << 21 << false << ftp << none << 0;
    QTest::newRow("scheme only") << "sftp://" << 21 << false << ftp << none << 0;
    QTest::newRow("path") << "ftps://h/www" << 21 << false << ftp << none << 0;
    QTest::newRow("user part") << "sftp://me@h" << 21 << false << ftp << none << 0;
    QTest::newRow("port in the text") << "sftp://h:2222" << 21 << false << ftp << none << 0;
    QTest::newRow("unbracketed IPv6 after scheme")
        << "ftps://::1" << 21 << false << ftp << none << 0;
    QTest::newRow("blank") << "ftpes://h x" << 21 << false << ftp << none << 0;
    QTest::newRow("line break") << "h\r\nUSER x" << 21 << false << ftp << none << 0;
    QTest::newRow("empty") << "" << 21 << false << ftp << none << 0;
}

void TestHostAddress::parse() {
    QFETCH(QString, text);
    QFETCH(int, portIn);
    QFETCH(bool, valid);
    QFETCH(RemoteProtocol, protocol);
    QFETCH(QByteArray, host);
    QFETCH(int, port);
    const auto address = parseHostAddress(text, quint16(portIn));
    QCOMPARE(address.has_value(), valid);
    if (!address)
        return;
    QCOMPARE(address->protocol, protocol);
    QCOMPARE(address->hostForUrl, host);
    QCOMPARE(int(address->port), port);
}

void TestHostAddress::passwordKeys_data() {
    // Two sets of host, port and user boxes, and whether they name one account.
    QTest::addColumn<QStringList>("first");
    QTest::addColumn<QStringList>("second");
    QTest::addColumn<bool>("same");

    QTest::newRow("letter case of scheme and host")
        << QStringList{"FTP://Example.COM", "21", "u"} << QStringList{"example.com", "21", "u"}
        << true;
    QTest::newRow("blanks and a trailing slash")
        << QStringList{" sftp://h/ ", "22", "u"} << QStringList{"sftp://h", "22", "u"} << true;
    QTest::newRow("21 and 0 mean the scheme's port")
        << QStringList{"ftps://h", "0", "u"} << QStringList{"ftps://h", "990", "u"} << true;
    QTest::newRow("an empty port box means 21")
        << QStringList{"h", "", "u"} << QStringList{"h", "21", "u"} << true;
    QTest::newRow("the port as a session rounds it")
        << QStringList{"h", "2121.4", "u"} << QStringList{"h", "2121", "u"} << true;
    QTest::newRow("another scheme")
        << QStringList{"ftpes://h", "21", "u"} << QStringList{"h", "21", "u"} << false;
    QTest::newRow("letter case of the user")
        << QStringList{"h", "21", "Web"} << QStringList{"h", "21", "web"} << false;
    QTest::newRow("an @ in the user")
        << QStringList{"c", "21", "a@b"} << QStringList{"b@c", "21", "a"} << false;
    QTest::newRow("no user") << QStringList{"h", "21", ""} << QStringList{"h", "21", "@"} << false;
    QTest::newRow("a port typed into the host box")
        << QStringList{"h:21", "21", "u"} << QStringList{"h", "21", "u"} << false;
    QTest::newRow("a port that is no number")
        << QStringList{"h", "2l", "u"} << QStringList{"h", "21", "u"} << false;
}

void TestHostAddress::passwordKeys() {
    QFETCH(QStringList, first);
    QFETCH(QStringList, second);
    QFETCH(bool, same);
    const QString a = passwordKey(first[0], first[1], first[2]);
    const QString b = passwordKey(second[0], second[1], second[2]);
    QVERIFY2((a == b) == same, qPrintable(a + QStringLiteral(" / ") + b));
}

void TestHostAddress::certificateIdentity() {
    const QByteArray der = ServerTrust::derFromPem("Cert:" + kCertificatePem);
    QVERIFY(!der.isEmpty());
    QCOMPARE(ServerTrust::publicKeyPin(der), kPin);
    QCOMPARE(ServerTrust::colonHex(QCryptographicHash::hash(der, QCryptographicHash::Sha256)),
             kFingerprint);
}

void TestHostAddress::brokenCertificateHasNoKey_data() {
    QTest::addColumn<QByteArray>("der");
    const QByteArray der = ServerTrust::derFromPem(kCertificatePem);
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("cut short") << der.left(120);
    QTest::newRow("not a sequence") << QByteArray("\x02\x01\x00", 3);
    QTest::newRow("length beyond the end") << QByteArray("\x30\x84\x7f\xff\xff\xff\x30", 7);
}

void TestHostAddress::brokenCertificateHasNoKey() {
    QFETCH(QByteArray, der);
    QVERIFY(!ServerTrust::subjectPublicKeyInfo(der));
    QCOMPARE(ServerTrust::publicKeyPin(der), QByteArray());
}

void TestHostAddress::hostKeyIdentity() {
    QCOMPARE(ServerTrust::sshKeyType(kHostKey), QStringLiteral("ssh-ed25519"));
    QCOMPARE(ServerTrust::sshFingerprint(kHostKey), kHostKeyFingerprint);
    QCOMPARE(ServerTrust::sshKeyType(QByteArray("\x00\x00\x10\x00xx", 6)),
             QStringLiteral("unknown"));
}

void TestHostAddress::knownHostsKeepsOneKeyPerServer() {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("Pellmor/known_hosts"));
    ServerTrust::setLocations(dir.filePath(QStringLiteral("Tarvex.ini")), file);
    QVERIFY(!ServerTrust::knownHostKey("h", 22));

    const QByteArray other = QByteArray::fromBase64("AAAAC3NzaC1lZDI1NTE5AAAAIAAA");
    ServerTrust::storeHostKey("h", 22, other);
    ServerTrust::storeHostKey("h", 2222, kHostKey);
    ServerTrust::storeHostKey("[::1]", 2222, other);
    ServerTrust::storeHostKey("h", 22, kHostKey); // replaces the first
    QCOMPARE(ServerTrust::knownHostKey("h", 22), std::optional<QByteArray>(kHostKey));
    QCOMPARE(ServerTrust::knownHostKey("h", 2222), std::optional<QByteArray>(kHostKey));
    QCOMPARE(ServerTrust::knownHostKey("[::1]", 2222), std::optional<QByteArray>(other));
    QVERIFY(!ServerTrust::knownHostKey("h", 2223));

    // OpenSSH's own form, so its tools can read and check the file.
    QFile known(file);
    QVERIFY(known.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = known.readAll().trimmed().split('\n');
    QCOMPARE(lines.size(), 3);
    QVERIFY(lines.contains("[h]:2222 ssh-ed25519 " + kHostKey.toBase64()));
    QVERIFY(lines.contains("[::1]:2222 ssh-ed25519 " + other.toBase64()));
    QVERIFY(lines.contains("h ssh-ed25519 " + kHostKey.toBase64()));
}

void TestHostAddress::trustedCertificatesPerHostAndPort() {
    QTemporaryDir dir;
    ServerTrust::setLocations(dir.filePath(QStringLiteral("Tarvex.ini")),
                              dir.filePath(QStringLiteral("known_hosts")));
    const QByteArray fingerprint(32, '\x11');
    ServerTrust::storeCertificate("h", 990, {fingerprint, kPin});
    const auto stored = ServerTrust::trustedCertificate("h", 990);
    QVERIFY(stored);
    QCOMPARE(stored->fingerprint, fingerprint);
    QCOMPARE(stored->publicKeyPin, kPin);
    QVERIFY(!ServerTrust::trustedCertificate("h", 21));
    QVERIFY(!ServerTrust::trustedCertificate("g", 990));

    // Nowhere to keep it: nothing is remembered.
    ServerTrust::setLocations(QString(), QString());
    ServerTrust::storeCertificate("h", 991, {fingerprint, kPin});
    QVERIFY(!ServerTrust::trustedCertificate("h", 991));
}

QTEST_GUILESS_MAIN(TestHostAddress)
#include "tst_host_address.moc"
