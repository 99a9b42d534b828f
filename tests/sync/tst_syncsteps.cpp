// The pure steps of the sync run: progress, folder levels, names fit to send.

#include "sync/SyncSteps.h"

#include <QtTest>

class TestSyncSteps : public QObject {
    Q_OBJECT
private slots:
    void percent_data() {
        QTest::addColumn<qint64>("sent");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<int>("percent");
        QTest::newRow("start") << qint64(0) << qint64(3000) << 0;
        QTest::newRow("3000 first") << qint64(1024) << qint64(3000) << 34;
        QTest::newRow("3000 second") << qint64(2048) << qint64(3000) << 68;
        QTest::newRow("1025 first") << qint64(1024) << qint64(1025) << 100;
        QTest::newRow("half to even down") << qint64(1024) << qint64(8192) << 12;
        QTest::newRow("half to even up") << qint64(3072) << qint64(8192) << 38;
        QTest::newRow("empty file") << qint64(0) << qint64(0) << 100;
        QTest::newRow("past 2 GiB")
            << qint64(3) * 1024 * 1024 * 1024 << qint64(4) * 1024 * 1024 * 1024 << 75;
        QTest::newRow("past 4 GiB, nearly done") << qint64(5) * 1024 * 1024 * 1024 - 1024 * 1024
                                                 << qint64(5) * 1024 * 1024 * 1024 << 100;
        QTest::newRow("2 GiB + 1, first chunk") << qint64(1024) << (qint64(1) << 31) + 1 << 0;
    }
    void percent() {
        QFETCH(qint64, sent);
        QFETCH(qint64, size);
        QFETCH(int, percent);
        QCOMPARE(UploadPercent(sent, size), percent);
    }

    void folderLevels_data() {
        QTest::addColumn<QString>("parent");
        QTest::addColumn<QStringList>("levels");
        QTest::newRow("one level") << "/www/" << QStringList{"/www/"};
        QTest::newRow("three levels")
            << "/www/a/b/" << QStringList{"/www/", "/www/a/", "/www/a/b/"};
        QTest::newRow("root itself") << "/" << QStringList{};
        QTest::newRow("relative") << "www/a/" << QStringList{"www/", "www/a/"};
        QTest::newRow("doubled slash kept as sent")
            << "/www//a/" << QStringList{"/www/", "/www//", "/www//a/"};
        QTest::newRow("no folder") << "" << QStringList{};
    }
    void folderLevels() {
        QFETCH(QString, parent);
        QFETCH(QStringList, levels);
        QCOMPARE(RemoteFolderLevels(parent), levels);
    }

    void sendablePaths_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("sendable");
        QTest::newRow("plain") << "/www/a b/ü.txt" << true;
        QTest::newRow("backslash is a name character") << "/www/a\\b" << true;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("CR LF") << "/a\r\nDELE /b" << false;
        QTest::newRow("NUL") << QStringLiteral("/a") + QChar(0) + QStringLiteral("b") << false;
        QTest::newRow("tab") << "/a\tb" << false;
        QTest::newRow("DEL") << "/a\x7f" << false;
    }
    void sendablePaths() {
        QFETCH(QString, path);
        QFETCH(bool, sendable);
        QCOMPARE(IsSendableRemotePath(path), sendable);
    }
};

QTEST_APPLESS_MAIN(TestSyncSteps)
#include "tst_syncsteps.moc"
