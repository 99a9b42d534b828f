// Every button of the main window over FTP with TLS and over SFTP, against
// loopback servers with throwaway certificates and host keys: the trust
// question comes once, then "Test Connection", compare, sync, compare again
// and the remote folder browser work as over plain FTP.

#include "app/Form1.h"
#include "app/Form2.h"
#include "core/SettingsStore.h"
#include "ftp/Session.h"
#include "tests/support/MessageRecorder.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestServers.h"
#include "tests/support/WindowDriver.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <memory>

using namespace TestFiles;
using namespace WindowDriver;

namespace {

const QString kIdentical = QStringLiteral("No synchronization necessary -- folders are identical");

// Once the browser is up and has listed, runs the script; closes the dialog
// if the script left it open, so that a failed check never hangs the test.
void whenBrowserListed(std::function<void(Form2&)> script) {
    auto* timer = new QTimer;
    timer->setInterval(1);
    QObject::connect(timer, &QTimer::timeout, [timer, script] {
        auto* d = qobject_cast<Form2*>(QApplication::activeModalWidget());
        auto* list = d ? d->findChild<QTreeWidget*>(QStringLiteral("ListView1")) : nullptr;
        if (!list || !d->isVisible() ||
            list->headerItem()->text(0) != QLatin1String("Folders -- Double click"))
            return;
        timer->stop();
        timer->deleteLater();
        script(*d);
        if (d->isVisible())
            d->reject();
    });
    timer->start();
}

QStringList questions(const MessageRecorder& boxes) {
    QStringList asked;
    for (const MessageBoxSpec& b : boxes.boxes()) {
        if (!b.buttons.isEmpty())
            asked << b.text;
    }
    return asked;
}

QStringList plainTexts(const MessageRecorder& boxes) {
    QStringList shown;
    for (const MessageBoxSpec& b : boxes.boxes()) {
        if (b.buttons.isEmpty())
            shown << b.text;
    }
    return shown;
}

} // namespace

class TestSecureForm1 : public QObject {
    Q_OBJECT
private slots:
    void init() {
        config_ = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config_->path()));
        ResetSettingsCache();
        local_ = std::make_unique<QTemporaryDir>();
    }
    void cleanup() { ResetSettingsCache(); }

    void everyButton_data();
    void everyButton();
    void untrustworthyCertificateDeclined_data();
    void untrustworthyCertificateDeclined();
    void dataConnectionWithoutTls();

private:
    std::unique_ptr<QTemporaryDir> config_;
    std::unique_ptr<QTemporaryDir> local_;
};

void TestSecureForm1::everyButton_data() {
    TestServers::addSecureServerRows();
}

void TestSecureForm1::everyButton() {
    QFETCH(FtpTestServer::Kind, kind);
    QFETCH(FtpTestServer::Tls, tls);
    FtpTestServer::Options options;
    options.tls = tls;
    FtpTestServer server(kind, options);
    START_TEST_SERVER(server);
    const QString site = server.rootPath() + QStringLiteral("/www");
    const QString local = local_->path();
    QVERIFY(writeFile(site + QStringLiteral("/old.txt"), "delete me"));
    QVERIFY(writeFile(site + QStringLiteral("/same.txt"), "same"));
    QVERIFY(writeFile(site + QStringLiteral("/sub/small.txt"), "tiny"));
    QVERIFY(writeFile(local + QStringLiteral("/same.txt"), "same"));
    QVERIFY(writeFile(local + QStringLiteral("/sub/small.txt"), QByteArray(5000, '\r')));
    QByteArray binary(70000, Qt::Uninitialized);
    for (int i = 0; i < binary.size(); ++i)
        binary[i] = char((i * 31 + i / 256) & 0xff);
    QVERIFY(
        writeFile(local + QStringLiteral("/new folder/with \"quotes\" and blanks.bin"), binary));
    server.ownFiles();

    MessageRecorder boxes;
    boxes.answers = {QStringLiteral("Trust always")};
    Form1 f;
    f.Form_Load();
    type(f, "txtHostName", server.hostText());
    type(f, "txtPort", QString::number(server.port()));
    type(f, "txtUserName", server.user());
    type(f, "txtPassword", server.password());
    type(f, "txtRemoteFolder", server.remoteRoot() + QStringLiteral("www/"));
    type(f, "Text1", local + QLatin1Char('/'));

    click(f, "PushButton3");
    QCOMPARE(questions(boxes).size(), 1);
    QCOMPARE(plainTexts(boxes), QStringList{QStringLiteral("Connection OK.")});

    // Trusted for good: nothing is asked again, by any button.
    boxes.clear();
    click(f, "PushButton5");
    QCOMPARE(boxes.texts(), QStringList());
    QCOMPARE(f.resultList().rowCount(), 3); // a delete, an upload, an overwrite
    click(f, "PushButton6");
    QCOMPARE(boxes.texts(), QStringList{QStringLiteral("Done.")});
    QCOMPARE(readFile(site + QStringLiteral("/new folder/with \"quotes\" and blanks.bin")), binary);
    QCOMPARE(readFile(site + QStringLiteral("/sub/small.txt")), QByteArray(5000, '\r'));
    QVERIFY(!QFileInfo::exists(site + QStringLiteral("/old.txt")));
    // Uploads went up under other names first: none of those is left.
    QCOMPARE(QDir(site).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden),
             (QStringList{QStringLiteral("new folder"), QStringLiteral("same.txt"),
                          QStringLiteral("sub")}));
    QCOMPARE(QDir(site + QStringLiteral("/sub")).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("small.txt")});
    QCOMPARE(QDir(site + QStringLiteral("/new folder")).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("with \"quotes\" and blanks.bin")});
    boxes.clear();
    click(f, "PushButton5");
    QCOMPARE(boxes.texts(), QStringList{kIdentical});

    boxes.clear();
    type(f, "txtRemoteFolder", QStringLiteral("/elsewhere/"));
    whenBrowserListed([](Form2& d) {
        auto* list = d.findChild<QTreeWidget*>(QStringLiteral("ListView1"));
        const auto found = list->findItems(QStringLiteral("www/"), Qt::MatchExactly);
        if (found.isEmpty())
            return;
        list->setCurrentItem(found.first());
        const QRect r = list->visualItemRect(found.first());
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, r.center());
        click(d, "PushButton2");
    });
    click(f, "PushButton1");
    QCOMPARE(boxes.texts(), QStringList());
    QCOMPARE(f.findChild<QLineEdit*>(QStringLiteral("txtRemoteFolder"))->text(),
             server.remoteRoot() + QStringLiteral("www/"));
}

void TestSecureForm1::untrustworthyCertificateDeclined_data() {
    QTest::addColumn<FtpTestServer::Certificate>("certificate");
    QTest::addColumn<QString>("reason");
    QTest::newRow("expired") << FtpTestServer::Certificate::Expired
                             << QStringLiteral("the certificate has expired");
    QTest::newRow("other name") << FtpTestServer::Certificate::OtherName
                                << QStringLiteral("name does not match 127.0.0.1");
}

void TestSecureForm1::untrustworthyCertificateDeclined() {
    QFETCH(FtpTestServer::Certificate, certificate);
    QFETCH(QString, reason);
    FtpTestServer::Options options;
    options.tls = FtpTestServer::Tls::Explicit;
    options.certificate = certificate;
    FtpTestServer server(FtpTestServer::Kind::Vsftpd, options);
    START_TEST_SERVER(server);
    MessageRecorder boxes;
    boxes.answers = {QStringLiteral("Cancel")};
    Form1 f;
    f.Form_Load();
    typeServer(f, server);
    click(f, "PushButton3");
    const QStringList asked = questions(boxes);
    QCOMPARE(asked.size(), 1);
    QVERIFY2(asked.first().contains(reason), qPrintable(asked.first()));
    QCOMPARE(plainTexts(boxes), QStringList{QStringLiteral("Could not connect.")});
}

void TestSecureForm1::dataConnectionWithoutTls() {
    // The server takes the log-in over TLS but no data connection: the
    // connection test passes, the compare says that it could not list the
    // remote folder and proposes nothing, and a sync of rows made by hand
    // fails every upload with the window's message, in bounded time. The
    // server's copy that an upload would have replaced stays whole, and
    // nothing of an upload reaches the server.
    FtpTestServer::Options options;
    options.tls = FtpTestServer::Tls::Explicit;
    FtpTestServer server(FtpTestServer::Kind::Pyftpdlib, options);
    START_TEST_SERVER(server);
    const QString site = server.rootPath() + QStringLiteral("/www");
    QVERIFY(writeFile(site + QStringLiteral("/a.txt"), "the old copy"));
    QVERIFY(writeFile(local_->path() + QStringLiteral("/a.txt"), "a new copy, longer"));
    QVERIFY(writeFile(local_->path() + QStringLiteral("/sub/b.txt"), "b"));
    MessageRecorder boxes;
    boxes.answers = {QStringLiteral("This time")};
    Form1 f;
    f.Form_Load();
    typeServer(f, server);
    type(f, "txtRemoteFolder", QStringLiteral("/www/"));
    type(f, "Text1", local_->path() + QLatin1Char('/'));
    click(f, "PushButton3");
    QCOMPARE(plainTexts(boxes), QStringList{QStringLiteral("Connection OK.")});
    boxes.clear();
    click(f, "PushButton5");
    QCOMPARE(boxes.texts().size(), 1);
    QVERIFY2(boxes.texts().first().contains(QStringLiteral("/www/")),
             qPrintable(boxes.texts().first()));
    QCOMPARE(f.resultList().rowCount(), 0);
    boxes.clear();
    f.resultList().addRow(RowKind::Overwrite, local_->path() + QStringLiteral("/a.txt"),
                          QStringLiteral("/www/a.txt"));
    f.resultList().addRow(RowKind::Upload, local_->path() + QStringLiteral("/sub/b.txt"),
                          QStringLiteral("/www/sub/b.txt"));
    click(f, "PushButton6");
    QVERIFY2(!boxes.texts().isEmpty() &&
                 boxes.texts().first() == QStringLiteral("Cant create requested file on server"),
             qPrintable(boxes.texts().join(QLatin1Char('|'))));
    QCOMPARE(readFile(site + QStringLiteral("/a.txt")), QByteArray("the old copy"));
    QVERIFY(!QFileInfo::exists(site + QStringLiteral("/sub/b.txt")));
}

QTEST_MAIN(TestSecureForm1)
#include "tst_secure_form1.moc"
