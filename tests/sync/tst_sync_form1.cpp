// Compare, then sync, in the real main window against loopback servers.

#include "app/Form1.h"
#include "compare/RunProgress.h"
#include "core/SettingsStore.h"
#include "core/UiYield.h"
#include "ftp/Session.h"
#include "tests/support/AppSandbox.h"
#include "tests/support/MessageRecorder.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestServers.h"
#include "tests/support/WindowDriver.h"

#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const QString kIdentical = QStringLiteral("No synchronization necessary -- folders are identical");

bool anyMatches(const QStringList& texts, const QString& pattern) {
    const QRegularExpression re(QLatin1Char('^') + pattern + QLatin1Char('$'));
    for (const QString& text : texts) {
        if (re.match(text).hasMatch())
            return true;
    }
    return false;
}

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

    // The line below the list at fixed points of a compare and a sync: what
    // is being listed with exact counts, each upload with the bytes gone,
    // the speed and the time left, and what was done at the end, also while
    // the last box shows; and the same for assistive technology.
    void progressLineTellsTheRun_data() {
        QTest::addColumn<int>("transfers");
        QTest::newRow("one session") << 1;
        QTest::newRow("four sessions") << 4;
    }
    void progressLineTellsTheRun() {
        QFETCH(int, transfers);
        // Each upload takes about two seconds: long enough for a speed.
        FtpTestServer::Options slowLine;
        slowLine.uploadBytesPerSecond = 40 * 1000;
        FtpTestServer server(FtpTestServer::Kind::Pyftpdlib, slowLine);
        START_TEST_SERVER(server);
        const QString site = server.rootPath() + QStringLiteral("/www");
        const QString local = local_->path();
        QVERIFY(writeFile(site + QStringLiteral("/old.txt"), "delete me"));
        QVERIFY(writeFile(site + QStringLiteral("/sub/same.txt"), "same"));
        QVERIFY(writeFile(local + QStringLiteral("/same.txt"), "same"));
        QVERIFY(writeFile(local + QStringLiteral("/three.bin"), everyByteValue(2000)));
        QVERIFY(writeFile(local + QStringLiteral("/a/one.bin"), everyByteValue(79 * 1000)));
        QVERIFY(writeFile(local + QStringLiteral("/a/two.bin"), everyByteValue(79 * 1000)));
        SaveSetting(QStringLiteral("Tarvex"), QStringLiteral("Pellmor"),
                    QStringLiteral("Transfers"), QString::number(transfers));

        MessageRecorder boxes;
        Form1 f;
        f.Form_Load();
        f.show();
        auto* line = f.findChild<QLabel*>(QStringLiteral("progressLine"));
        QVERIFY(line);
        QAccessibleInterface* const accessible = QAccessible::queryAccessibleInterface(line);
        QVERIFY(accessible);
        WindowDriver::typeServer(f, server);
        type(f, "txtRemoteFolder", QStringLiteral("/www/"));
        type(f, "Text1", local + QLatin1Char('/'));

        // The line as it stands at every point where the run lets the window
        // work, however recently it was drawn.
        QStringList seen;
        UiYield::setInterval(0);
        UiYield::setHook([&] {
            QApplication::processEvents();
            const QString now = f.progress()->text();
            if (seen.isEmpty() || seen.constLast() != now)
                seen.append(now);
        });
        const auto restore = qScopeGuard([] {
            UiYield::setHook({});
            UiYield::setInterval(15);
        });

        click(f, "PushButton5");
        QVERIFY2(boxes.texts().isEmpty(), qPrintable(boxes.texts().join('|')));
        QCOMPARE(f.resultList().rowCount(), 4);
        // The local root is seen once it is taken in, while the next folder is
        // listed; the remote tree once its last folder is.
        QVERIFY2(seen.contains("Listing " + local + "/ \u00b7 1 folder, 2 files so far"),
                 qPrintable(seen.join('\n')));
        QVERIFY2(
            seen.contains(QStringLiteral("Listing /www/sub/ \u00b7 2 folders, 2 files so far")),
            qPrintable(seen.join('\n')));
        const QString compared =
            QStringLiteral("Compared 4 local and 2 remote files in (less than 1 s|\\d+ s): 4 rows");
        QVERIFY2(anyMatches({line->text()}, compared), qPrintable(line->text()));

        seen.clear();
        QString whileDoneShows;
        boxes.onShow = [&](const MessageBoxSpec&) { whileDoneShows = line->text(); };
        click(f, "PushButton6");
        QCOMPARE(boxes.texts(), QStringList{QStringLiteral("Done.")});

        QVERIFY2(seen.contains(QStringLiteral("Deleting 1 of 1 file")),
                 qPrintable(seen.join('\n')));
        const QString speedAndLeft =
            QStringLiteral(" \u00b7 [0-9.]+ kB/s \u00b7 about \\d+ s left");
        const QString uploading =
            QStringLiteral(
                "Uploading [1-3] of 3 files \u00b7 [0-9.]+ of 160.0 kB(%1)? \u00b7 1 delete")
                .arg(speedAndLeft);
        for (const QString& text : std::as_const(seen)) {
            if (text.startsWith(QLatin1String("Uploading")))
                QVERIFY2(anyMatches({text}, uploading), qPrintable(text));
        }
        QVERIFY2(
            anyMatches(seen, QStringLiteral("Uploading . of 3 files \u00b7 [0-9.]+ of 160.0 kB") +
                                 speedAndLeft + QStringLiteral(" \u00b7 1 delete")),
            qPrintable(seen.join('\n')));
        if (transfers == 1) {
            // Strictly one after another: at the start of each upload the
            // ones before it are whole, and nothing else has gone.
            for (const char* done : {"2.0", "81.0"})
                QVERIFY2(anyMatches(seen, QStringLiteral("Uploading . of 3 files \u00b7 %1 of "
                                                         "160.0 kB(%2)? \u00b7 1 delete")
                                              .arg(QRegularExpression::escape(done), speedAndLeft)),
                         qPrintable(seen.join('\n')));
        }
        const QString synced =
            QStringLiteral("Synced 3 files \\(160.0 kB\\) and 1 delete in \\d+ s");
        QVERIFY2(anyMatches({whileDoneShows}, synced), qPrintable(whileDoneShows));
        QCOMPARE(line->text(), whileDoneShows);
        // What a screen reader reads, and is told of each time it changes.
        QCOMPARE(accessible->text(QAccessible::Name), QStringLiteral("Progress"));
        QCOMPARE(accessible->text(QAccessible::Description), line->text());
        QCOMPARE(f.resultList().rowCount(), 0);
    }

private:
    std::unique_ptr<AppSandbox> sandbox_;
    std::unique_ptr<QTemporaryDir> local_;
};

QTEST_MAIN(TestSyncForm1)
#include "tst_sync_form1.moc"
