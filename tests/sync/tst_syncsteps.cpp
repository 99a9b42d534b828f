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
        QTest::newRow("byte 0xFF of a remote name")
            << QStringLiteral("/a") + QChar(0xDCFF) + QStringLiteral("b") << false;
        QTest::newRow("other bytes of remote names")
            << QStringLiteral("/a") + QChar(0xDCFE) + QChar(0xDC80) << true;
        QTest::newRow("y with diaeresis, U+00FF") << QStringLiteral("/\u00ff.txt") << true;
    }
    void sendablePaths() {
        QFETCH(QString, path);
        QFETCH(bool, sendable);
        QCOMPARE(IsSendableRemotePath(path), sendable);
    }

    void temporaryUploadNames_data() {
        QTest::addColumn<QString>("remotePath");
        QTest::addColumn<QString>("name");
        const QString long240(240, QLatin1Char('n'));
        QTest::newRow("beside the file") << "/www/sub/page.html"
                                         << "/www/sub/~page.html.00c0ffee.part";
        QTest::newRow("no folder") << "page.html"
                                   << "~page.html.00c0ffee.part";
        QTest::newRow("longest name kept whole")
            << QStringLiteral("/") + long240 << QStringLiteral("/~") + long240 + ".00c0ffee.part";
        QTest::newRow("longer name cut") << QStringLiteral("/") + long240 + "tail"
                                         << QStringLiteral("/~") + long240 + ".00c0ffee.part";
        // 3 bytes each: 80 of them fill 240 bytes, the 81st does not fit.
        QTest::newRow("cut between characters")
            << QStringLiteral("/") + QString(81, QChar(0x20ac))
            << QStringLiteral("/~") + QString(80, QChar(0x20ac)) + ".00c0ffee.part";
        QTest::newRow("never inside a surrogate pair")
            << QStringLiteral("/") + QString(239, QLatin1Char('n')) + QStringLiteral("\U0001F600")
            << QStringLiteral("/~") + QString(239, QLatin1Char('n')) + ".00c0ffee.part";
    }
    void temporaryUploadNames() {
        QFETCH(QString, remotePath);
        QFETCH(QString, name);
        QCOMPARE(TemporaryUploadName(remotePath, 0xc0ffee), name);
    }

    void doneMessages_data() {
        QTest::addColumn<int>("failed");
        QTest::addColumn<QString>("message");
        QTest::newRow("none") << 0 << "Done.";
        QTest::newRow("one") << 1 << "Done. 1 file failed.";
        QTest::newRow("several") << 12 << "Done. 12 files failed.";
    }
    void doneMessages() {
        QFETCH(int, failed);
        QFETCH(QString, message);
        QCOMPARE(DoneMessage(failed), message);
    }
};

QTEST_APPLESS_MAIN(TestSyncSteps)
#include "tst_syncsteps.moc"
