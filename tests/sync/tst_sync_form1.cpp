// Compare, then sync, in the real main window against loopback servers.

#include "app/Form1.h"
#include "app/SettingsStore.h"
#include "app/core/UiYield.h"
#include "ftp/wininet.h"
#include "tests/support/FtpTestServer.h"
#include "tests/support/MessageRecorder.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const QString kIdentical = QStringLiteral("No synchronization necessary -- folders are identical");

bool writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// Every file below the folder with its size, modification time and hash.
QMap<QString, QString> snapshot(const QString& root) {
    QMap<QString, QString> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        const QFileInfo info(path);
        files.insert(
            path.mid(root.size()),
            QStringLiteral("%1 %2 ").arg(info.size()).arg(info.lastModified().toMSecsSinceEpoch()) +
                QString::fromLatin1(
                    QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex()));
    }
    return files;
}

QByteArray everyByteValue(int size) {
    QByteArray b(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        b[i] = char((i * 13 + i / 256) & 0xff);
    return b;
}

} // namespace

class TestSyncForm1 : public QObject {
    Q_OBJECT
private slots:
    void init() {
        config_ = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config_->path()));
        ResetSettingsCache();
        local_ = std::make_unique<QTemporaryDir>();
    }
    void cleanup() { ResetSettingsCache(); }

    void compareSyncCompare_data() {
        QTest::addColumn<FtpTestServer::Kind>("kind");
        QTest::newRow("pyftpdlib") << FtpTestServer::Kind::Pyftpdlib;
        QTest::newRow("vsftpd") << FtpTestServer::Kind::Vsftpd;
    }
    void compareSyncCompare() {
        QFETCH(FtpTestServer::Kind, kind);
        FtpTestServer server(kind);
        QString reason;
        if (!server.start(&reason))
            QSKIP(qPrintable(QStringLiteral("server not started: ") + reason));
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
        type(f, "txtHostName", server.host());
        type(f, "txtPort", QString::number(server.port()));
        type(f, "txtUserName", server.user());
        type(f, "txtPassword", server.password());
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
        QString reason;
        if (!server.start(&reason))
            QSKIP(qPrintable(QStringLiteral("server not started: ") + reason));
        QVERIFY(writeFile(server.rootPath() + QStringLiteral("/old.txt"), "keep"));
        QVERIFY(writeFile(local_->filePath(QStringLiteral("new.txt")), "new"));

        MessageRecorder boxes;
        Form1 f;
        f.Form_Load();
        type(f, "txtHostName", server.host());
        type(f, "txtPort", QString::number(server.port()));
        type(f, "txtUserName", server.user());
        type(f, "txtPassword", server.password());
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
    static void click(Form1& f, const char* name) { f.findChild<QPushButton*>(name)->click(); }
    static void type(Form1& f, const char* name, const QString& text) {
        f.findChild<QLineEdit*>(name)->setText(text);
    }
    std::unique_ptr<QTemporaryDir> config_;
    std::unique_ptr<QTemporaryDir> local_;
};

QTEST_MAIN(TestSyncForm1)
#include "tst_sync_form1.moc"
