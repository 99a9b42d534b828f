// The other buttons pressed while a sync run uploads: the run's session is
// never closed or replaced, and no press leaves a connection logged in.

#include "app/Form1.h"
#include "app/Form2.h"
#include "core/SettingsStore.h"
#include "core/UiYield.h"
#include "tests/support/AppSandbox.h"
#include "tests/support/MessageRecorder.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestServers.h"
#include "tests/support/WindowDriver.h"

#include <QApplication>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

QByteArray pattern(int size, int seed) {
    QByteArray b(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        b[i] = char((i * 31 + seed + i / 1021) & 0xff);
    return b;
}

// Cancels the remote folder browser as soon as it has listed its folders.
void cancelBrowserWhenShown() {
    auto* timer = new QTimer;
    timer->setInterval(1);
    QObject::connect(timer, &QTimer::timeout, [timer] {
        auto* d = qobject_cast<Form2*>(QApplication::activeModalWidget());
        if (!d || !d->isVisible() || !d->session().isConnected())
            return;
        timer->stop();
        timer->deleteLater();
        d->findChild<QPushButton*>(QStringLiteral("PushButton3"))->click();
    });
    timer->start();
}

} // namespace

class TestButtonsDuringRun : public QObject {
    Q_OBJECT
private slots:
    void init() { sandbox_ = std::make_unique<AppSandbox>(); }
    void cleanup() {
        UiYield::setHook({});
        UiYield::setInterval(15);
        sandbox_.reset();
    }

    void pressesLeaveTheRunsSessionAlone_data() {
        QTest::addColumn<FtpTestServer::Kind>("kind");
        QTest::addColumn<QStringList>("presses");
        QTest::addColumn<QStringList>("messages");
        const QStringList ok{"Connection OK."};
        QTest::newRow("pyftpdlib, three connection tests")
            << FtpTestServer::Kind::Pyftpdlib << QStringList{"test", "test", "test"}
            << QStringList{ok[0], ok[0], ok[0], "Done."};
        QTest::newRow("pyftpdlib, browser opened and cancelled")
            << FtpTestServer::Kind::Pyftpdlib << QStringList{"browse"} << QStringList{"Done."};
        QTest::newRow("vsftpd, both")
            << FtpTestServer::Kind::Vsftpd << QStringList{"test", "browse", "test"}
            << QStringList{ok[0], ok[0], "Done."};
    }

    void pressesLeaveTheRunsSessionAlone() {
        QFETCH(FtpTestServer::Kind, kind);
        QFETCH(QStringList, presses);
        QFETCH(QStringList, messages);
        FtpTestServer server(kind);
        START_TEST_SERVER(server);
        QTemporaryDir local;
        const QStringList names{"a.bin", "b.bin", "c.bin"};
        for (int i = 0; i < names.size(); ++i)
            QVERIFY(TestFiles::writeFile(local.filePath(names[i]), pattern(3 * 1024 * 1024, i)));
        // An older, smaller copy: its row overwrites.
        QVERIFY(TestFiles::writeFile(server.rootPath() + QStringLiteral("/b.bin"), "old"));

        // One session: every connection beyond it is one a press left open.
        SaveSetting(QStringLiteral("Tarvex"), QStringLiteral("Pellmor"),
                    QStringLiteral("Transfers"), QStringLiteral("1"));
        MessageRecorder boxes;
        Form1 f;
        f.Form_Load();
        WindowDriver::typeServer(f, server);
        WindowDriver::type(f, "txtRemoteFolder", QStringLiteral("/"));
        WindowDriver::type(f, "Text1", local.path() + QLatin1Char('/'));
        f.PushButton5_Click();
        QCOMPARE(f.resultList().rowCount(), 3);
        QCOMPARE(server.openControlConnections(), 1);

        // Every press happens while the first file is on its way.
        bool pressed = false;
        int connectionsAfterPresses = -1;
        UiYield::setInterval(0);
        UiYield::setHook([&] {
            if (!pressed && f.resultList().action(0).startsWith(QLatin1String("uploading"))) {
                pressed = true;
                for (const QString& press : presses) {
                    if (press == QLatin1String("browse"))
                        cancelBrowserWhenShown();
                    (press == QLatin1String("browse") ? f.PushButton1_Click()
                                                      : f.PushButton3_Click());
                }
                connectionsAfterPresses = server.openControlConnections();
            }
            QCoreApplication::processEvents();
        });
        f.PushButton6_Click();

        QVERIFY(pressed);
        QCOMPARE(boxes.texts(), messages);
        QCOMPARE(connectionsAfterPresses, 1);
        QCOMPARE(server.openControlConnections(), 1);
        for (const QString& name : names)
            QCOMPARE(TestFiles::readFile(server.rootPath() + QLatin1Char('/') + name),
                     TestFiles::readFile(local.filePath(name)));
    }

private:
    std::unique_ptr<AppSandbox> sandbox_;
};

QTEST_MAIN(TestButtonsDuringRun)
#include "tst_buttons_during_run.moc"
