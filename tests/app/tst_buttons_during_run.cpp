// The other buttons pressed while a sync run uploads: the run's session is
// never closed or replaced, and no press leaves a connection logged in.

#include "app/Form1.h"
#include "app/Form2.h"
#include "app/SettingsStore.h"
#include "app/core/UiYield.h"
#include "tests/support/FtpTestServer.h"
#include "tests/support/MessageRecorder.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
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

bool writeBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray readBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
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
    void init() {
        config_ = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config_->path()));
        ResetSettingsCache();
    }
    void cleanup() {
        UiYield::setHook({});
        UiYield::setInterval(15);
        ResetSettingsCache();
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
        QString reason;
        QVERIFY2(server.start(&reason), qPrintable(reason));
        QTemporaryDir local;
        const QStringList names{"a.bin", "b.bin", "c.bin"};
        for (int i = 0; i < names.size(); ++i)
            QVERIFY(writeBytes(local.filePath(names[i]), pattern(3 * 1024 * 1024, i)));
        // An older, smaller copy: its row overwrites.
        QVERIFY(writeBytes(server.rootPath() + QStringLiteral("/b.bin"), "old"));

        MessageRecorder boxes;
        Form1 f;
        f.Form_Load();
        const auto type = [&f](const char* box, const QString& text) {
            f.findChild<QLineEdit*>(QLatin1String(box))->setText(text);
        };
        type("txtHostName", server.host());
        type("txtPort", QString::number(server.port()));
        type("txtUserName", server.user());
        type("txtPassword", server.password());
        type("txtRemoteFolder", QStringLiteral("/"));
        type("Text1", local.path() + QLatin1Char('/'));
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
            QCOMPARE(readBytes(server.rootPath() + QLatin1Char('/') + name),
                     readBytes(local.filePath(name)));
    }

private:
    std::unique_ptr<QTemporaryDir> config_;
};

QTEST_MAIN(TestButtonsDuringRun)
#include "tst_buttons_during_run.moc"
