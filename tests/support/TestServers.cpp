#include "tests/support/TestServers.h"

#include <QtTest>

namespace TestServers {

bool skippingAllowed() {
    return qEnvironmentVariable("PELLMOR_ALLOW_SKIP_SERVERS") == QLatin1String("1");
}

bool unavailable(const QString& reason, const char* file, int line) {
    const QByteArray text = QStringLiteral("test server unavailable: %1").arg(reason).toLocal8Bit();
    if (skippingAllowed())
        QTest::qSkip(text.constData(), file, line);
    else
        QTest::qFail(
            (text + " (PELLMOR_ALLOW_SKIP_SERVERS=1 skips such tests instead)").constData(), file,
            line);
    return false;
}

bool start(FtpTestServer& server, const char* file, int line) {
    QString reason;
    return server.start(&reason) || unavailable(reason, file, line);
}

void addKindRows() {
    QTest::addColumn<FtpTestServer::Kind>("kind");
    QTest::newRow("pyftpdlib") << FtpTestServer::Kind::Pyftpdlib;
    QTest::newRow("vsftpd") << FtpTestServer::Kind::Vsftpd;
}

void addSecureServerRows() {
    QTest::addColumn<FtpTestServer::Kind>("kind");
    QTest::addColumn<FtpTestServer::Tls>("tls");
    QTest::newRow("vsftpd ftpes") << FtpTestServer::Kind::Vsftpd << FtpTestServer::Tls::Explicit;
    QTest::newRow("vsftpd ftps") << FtpTestServer::Kind::Vsftpd << FtpTestServer::Tls::Implicit;
    QTest::newRow("rclone sftp") << FtpTestServer::Kind::RcloneSftp << FtpTestServer::Tls::None;
    QTest::newRow("sshd sftp") << FtpTestServer::Kind::OpenSshSftp << FtpTestServer::Tls::None;
}

} // namespace TestServers
