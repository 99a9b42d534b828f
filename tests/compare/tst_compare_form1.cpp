// The compare run and the tick commands in the real main window.

#include "app/Form1.h"
#include "app/MainModule.h"
#include "compare/CompareRun.h"
#include "core/ErrorTrap.h"
#include "core/UiYield.h"
#include "tests/support/AppSandbox.h"
#include "tests/support/FtpTestServer.h"
#include "tests/support/MessageRecorder.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestServers.h"
#include "tests/support/WindowDriver.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

using WindowDriver::click;
using WindowDriver::type;

class TestCompareForm1 : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void tickCommandsInTheMiddleOfARun_data();
    void tickCommandsInTheMiddleOfARun();
    void compareButtonFillsTheList();

private:
    std::unique_ptr<AppSandbox> sandbox_;
};

void TestCompareForm1::init() {
    sandbox_ = std::make_unique<AppSandbox>();
    UiYield::setInterval(0);
}

void TestCompareForm1::cleanup() {
    UiYield::setHook({});
    UiYield::setInterval(15);
    sandbox_.reset();
}

void TestCompareForm1::tickCommandsInTheMiddleOfARun_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("ticked");
    QTest::newRow("Uncheck All") << "PushButton8" << false;
    QTest::newRow("Check All") << "PushButton7" << true;
}

void TestCompareForm1::tickCommandsInTheMiddleOfARun() {
    // While the rows of a long match are being added, the commands act on the
    // rows already in the list; the rows added after them come ticked.
    QFETCH(QString, button);
    QFETCH(bool, ticked);
    MessageRecorder rec;
    Form1 f;
    f.Form_Load();
    f.show();

    CompareLists lists;
    const QString localFolder = QStringLiteral("/l/");
    for (int i = 0; i < 3000; ++i) {
        lists.localPaths.append(QDir::toNativeSeparators(localFolder + QString("u%1").arg(i)));
        lists.localSizes.append(1);
        lists.remotePaths.append(QStringLiteral("/r/d%1").arg(i));
        lists.remoteSizes.append(1);
    }

    ResultListModel& m = f.resultList();
    int rowsAtClick = -1;
    bool allAsClicked = false;
    UiYield::setHook([&] {
        if (rowsAtClick >= 0 || m.rowCount() == 0)
            return;
        if (ticked) // the user had unticked everything so far
            m.setAllChecked(false);
        click(f, button.toLatin1().constData());
        rowsAtClick = m.rowCount();
        allAsClicked = true;
        for (int i = 0; i < rowsAtClick; ++i)
            allAsClicked = allAsClicked && m.isChecked(i) == ticked;
    });
    ErrorTrap trap(QStringLiteral("test"));
    AddProposedRows(f, trap, lists, localFolder, QStringLiteral("/r/"));
    UiYield::setHook({});

    QVERIFY(rowsAtClick > 0);
    QVERIFY(rowsAtClick < m.rowCount());
    QVERIFY(allAsClicked);
    QCOMPARE(m.rowCount(), 6000);
    for (int i = rowsAtClick; i < m.rowCount(); ++i)
        QVERIFY(m.isChecked(i));
    for (int i = 0; i < rowsAtClick; ++i)
        QCOMPARE(m.isChecked(i), ticked);
    QCOMPARE(m.source(0), QStringLiteral("/r/d0"));
    QCOMPARE(m.action(0), QStringLiteral(" could be deleted"));
    QCOMPARE(m.destination(3000), QStringLiteral("/r/u0"));
    QVERIFY(rec.boxes().isEmpty());
}

void TestCompareForm1::compareButtonFillsTheList() {
    FtpTestServer server;
    START_TEST_SERVER(server);
    QTemporaryDir localRoot;
    const QString local = localRoot.path() + QDir::separator();
    for (int i = 0; i < 50; ++i) {
        QVERIFY(TestFiles::writeSizedFile(local + QString("s%1/new%2.txt").arg(i % 5).arg(i), 10));
        QVERIFY(TestFiles::writeSizedFile(
            server.rootPath() + QString("/www/s%1/old%2.txt").arg(i % 3).arg(i), 10));
    }

    MessageRecorder rec;
    Form1 f;
    f.Form_Load();
    f.show();
    WindowDriver::typeServer(f, server);
    type(f, "txtRemoteFolder", QStringLiteral("/www"));
    type(f, "Text1", local);

    // Clicks during the run: a second compare and a sync are ignored, and an
    // "Uncheck All" is undone by the run's final ticking of every row.
    int nestedClicks = 0;
    UiYield::setHook([&] {
        QApplication::processEvents();
        if (nestedClicks == 0 && f.resultList().rowCount() > 0) {
            ++nestedClicks;
            click(f, "PushButton5");
            click(f, "PushButton6");
            click(f, "PushButton8");
        }
    });
    click(f, "PushButton5");
    UiYield::setHook({});

    ResultListModel& m = f.resultList();
    QCOMPARE(nestedClicks, 1);
    QCOMPARE(m.rowCount(), 100);
    for (int i = 0; i < m.rowCount(); ++i)
        QVERIFY(m.isChecked(i));
    QCOMPARE(m.action(0), QStringLiteral(" could be deleted"));
    QCOMPARE(m.action(99), QStringLiteral(" could be uploaded to"));
    QVERIFY(m.destination(99).startsWith(QStringLiteral("/www/s")));
    QVERIFY(rec.boxes().isEmpty());
    QVERIFY(!f.isBusy());
    QCOMPARE(f.pointerState(), Form1::Pointer::Ordinary);
    QCOMPARE(f.findChild<QLineEdit*>("txtRemoteFolder")->text(), QStringLiteral("/www"));

    auto* view = f.findChild<QTreeView*>("ListView3");
    QCOMPARE(view->model()->rowCount(), 100);
    QCOMPARE(view->model()->columnCount(), 3);

    click(f, "PushButton8");
    for (int i = 0; i < m.rowCount(); ++i)
        QVERIFY(!m.isChecked(i));
    click(f, "PushButton7");
    for (int i = 0; i < m.rowCount(); ++i)
        QVERIFY(m.isChecked(i));
}

QTEST_MAIN(TestCompareForm1)
#include "tst_compare_form1.moc"
