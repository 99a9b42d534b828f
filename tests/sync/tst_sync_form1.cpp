// Compare, then sync, in the real main window against loopback servers.

#include "app/Form1.h"
#include "core/UiYield.h"
#include "ftp/Session.h"
#include "tests/support/AppSandbox.h"
#include "tests/support/MessageRecorder.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestServers.h"
#include "tests/support/WindowDriver.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const QString kIdentical = QStringLiteral("No synchronization necessary -- folders are identical");

} // namespace

using TestFiles::everyByteValue;
using TestFiles::snapshot;
using TestFiles::writeFile;
using WindowDriver::click;
using WindowDriver::type;

class TestSyncForm1 : public QObject {
    Q_OBJECT
private slots:
    void init() {
        sandbox_ = std::make_unique<AppSandbox>();
        local_ = std::make_unique<QTemporaryDir>();
    }
    void cleanup() { sandbox_.reset(); }

    void compareSyncCompare_data() { TestServers::addKindRows(); }
    void compareSyncCompare() {
        QFETCH(FtpTestServer::Kind, kind);
        FtpTestServer server(kind);
        START_TEST_SERVER(server);
        const QString site = server.rootPath() + QStringLiteral("/www");
        const QString local = local_->path();
        QVERIFY(writeFile(site + QStringLiteral("/old.txt"), "delete me"));
        QVERIFY(writeFile(site + QStringLiteral("/gone/also-old.txt"), "and me"));
        QVERIFY(writeFile(site + QStringLiteral("/same.txt"), "same"));
        QVERIFY(writeFile(site + QStringLiteral("/sub/small.txt"), "tiny"));
        QVERIFY(writeFile(local + QStringLiteral("/same.txt"), "same"));
        QVERIFY(writeFile(local + QStringLiteral("/sub/small.txt"), QByteArray(5000, 'L')));
        QVERIFY(writeFile(local + QStringLiteral("/new/deep/data.bin"), everyByteValue(3000)));
        QVERIFY(writeFile(local + QStringLiteral("/only-folders/a/b/c.txt"), "c\r\n"));
        QVERIFY(writeFile(local + QStringLiteral("/empty.txt"), QByteArray()));
        QVERIFY(writeFile(local + QStringLiteral("/.htaccess"), "Options -Indexes\n"));
        QVERIFY(writeFile(local + QStringLiteral("/~scratch.txt"), "never sent"));
        const auto before = snapshot(local);

        MessageRecorder boxes;
        Form1 f;
        f.Form_Load();
        WindowDriver::typeServer(f, server);
        type(f, "txtRemoteFolder", QStringLiteral("/www/"));
        type(f, "Text1", local + QLatin1Char('/'));

        click(f, "PushButton5");
        QVERIFY2(boxes.texts().isEmpty(), qPrintable(boxes.texts().join('|')));
        QCOMPARE(f.resultList().rowCount(), 7); // 2 deletes, 4 uploads, 1 overwrite

        click(f, "PushButton6");
        QCOMPARE(boxes.texts(), QStringList{QStringLiteral("Done.")});
        QCOMPARE(f.resultList().rowCount(), 0);
        QVERIFY(!f.isBusy());

        QCOMPARE(snapshot(local), before);
        for (const char* name : {"/sub/small.txt", "/new/deep/data.bin", "/only-folders/a/b/c.txt",
                                 "/empty.txt", "/.htaccess"}) {
            QFile remote(site + QLatin1String(name)), mine(local + QLatin1String(name));
            QVERIFY2(remote.open(QIODevice::ReadOnly), name);
            QVERIFY(mine.open(QIODevice::ReadOnly));
            QCOMPARE(remote.readAll(), mine.readAll());
        }
        QVERIFY(!QFileInfo::exists(site + QStringLiteral("/old.txt")));
        QVERIFY(!QFileInfo::exists(site + QStringLiteral("/~scratch.txt")));

        boxes.clear();
        click(f, "PushButton5");
        QCOMPARE(boxes.texts(), QStringList{kIdentical});
    }

    void uncheckAllThenSyncChangesNothing() {
        FtpTestServer server;
        START_TEST_SERVER(server);
        QVERIFY(writeFile(server.rootPath() + QStringLiteral("/old.txt"), "keep"));
        QVERIFY(writeFile(local_->filePath(QStringLiteral("new.txt")), "new"));

        MessageRecorder boxes;
        Form1 f;
        f.Form_Load();
        WindowDriver::typeServer(f, server);
        type(f, "txtRemoteFolder", QStringLiteral("/"));
        type(f, "Text1", local_->path() + QLatin1Char('/'));
        click(f, "PushButton5");
        QCOMPARE(f.resultList().rowCount(), 2);
        click(f, "PushButton8");
        click(f, "PushButton6");

        QCOMPARE(boxes.texts(), QStringList{QStringLiteral("Done.")});
        QCOMPARE(f.resultList().rowCount(), 0);
        QVERIFY(QFileInfo::exists(server.rootPath() + QStringLiteral("/old.txt")));
        QVERIFY(!QFileInfo::exists(server.rootPath() + QStringLiteral("/new.txt")));
    }

private:
    std::unique_ptr<AppSandbox> sandbox_;
    std::unique_ptr<QTemporaryDir> local_;
};

QTEST_MAIN(TestSyncForm1)
#include "tst_sync_form1.moc"
