#include "app/Form1.h"
#include "app/Form2.h"
#include "app/MainModule.h"
#include "core/ErrorTrap.h"
#include "core/SettingsStore.h"
#include "tests/support/AppSandbox.h"
#include "tests/support/MessageRecorder.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestServers.h"

#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <functional>

namespace {

using Script = std::function<void(Form2&)>;

QTreeWidget* list(Form2& d) {
    return d.findChild<QTreeWidget*>(QStringLiteral("ListView1"));
}

QStringList rows(Form2& d) {
    QStringList r;
    QTreeWidget* l = list(d);
    for (int i = 0; i < l->topLevelItemCount(); ++i)
        r << l->topLevelItem(i)->text(0);
    r.sort();
    return r;
}

QString label(Form2& d) {
    return d.findChild<QLabel*>(QStringLiteral("lblPath"))->text();
}

void click(Form2& d, const char* button) {
    QTest::mouseClick(d.findChild<QPushButton*>(QLatin1String(button)), Qt::LeftButton);
}

void doubleClickRow(Form2& d, const QString& text) {
    QTreeWidget* l = list(d);
    const auto found = l->findItems(text, Qt::MatchExactly);
    QVERIFY2(!found.isEmpty(), qPrintable(text + " is not listed"));
    const QRect r = l->visualItemRect(found.first());
    // A real double-click starts with a press that selects the row.
    QTest::mouseClick(l->viewport(), Qt::LeftButton, {}, r.center());
    QTest::mouseDClick(l->viewport(), Qt::LeftButton, {}, r.center());
}

// Runs the script once the dialog is up and its activation has run (the
// column header is set by the activation, which runs as one event). A script
// that leaves the dialog open gets it closed, so that a failing check can
// never leave the test waiting.
void whenActivated(Script script) {
    auto* timer = new QTimer;
    timer->setInterval(1);
    QObject::connect(timer, &QTimer::timeout, [timer, script] {
        auto* d = qobject_cast<Form2*>(QApplication::activeModalWidget());
        if (!d || !d->isVisible() ||
            list(*d)->headerItem()->text(0) != QLatin1String("Folders -- Double click"))
            return;
        timer->stop();
        timer->deleteLater();
        script(*d);
        if (d->isVisible())
            d->reject();
    });
    timer->start();
}

} // namespace

class TestForm2 : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void layout();
    void firstListShowsRootFolders();
    void browsing_data();
    void browsing();
    void closingEndsTheSession_data();
    void closingEndsTheSession();
    void refusedConnection_data();
    void refusedConnection();
    void unlistableFolderGivesEmptyList();
    void linkedFoldersAreFolders_data();
    void linkedFoldersAreFolders();
    void mainWindowTakesTheResult();
    void hoverRule();

private:
    Form2::ConnectionSource source(const QString& password = {}, const QString& port = {});

    FtpTestServer server_;
    bool serverUp_ = false;
    QString reason_;
    std::unique_ptr<AppSandbox> sandbox_;
};

void TestForm2::initTestCase() {
    serverUp_ = server_.start(&reason_);
    if (serverUp_) {
        const QString root = server_.rootPath();
        QDir(root).mkpath(QStringLiteral("www/logs"));
        QDir(root).mkpath(QStringLiteral("www/a"));
        QDir(root).mkpath(QStringLiteral("pub"));
        QDir(root).mkpath(QStringLiteral("locked/inner"));
        serverUp_ = TestFiles::writeFile(root + QStringLiteral("/www/index.html"), "x");
        if (!serverUp_)
            reason_ = QStringLiteral("cannot write below the server's root folder");
    }
}

void TestForm2::init() {
    REQUIRE_TEST_SERVER(serverUp_, reason_);
    sandbox_ = std::make_unique<AppSandbox>();
}

void TestForm2::cleanup() {
    server_.clearFaults();
    sandbox_.reset();
}

Form2::ConnectionSource TestForm2::source(const QString& password, const QString& port) {
    const ConnectionSettings t{server_.host(),
                               port.isNull() ? QString::number(server_.port()) : port,
                               server_.user(), password.isNull() ? server_.password() : password};
    return [t] { return t; };
}

void TestForm2::layout() {
    Form2 d;
    QCOMPARE(d.windowTitle(), QStringLiteral("Select FTP Folder"));
    const qreal dpi = d.screen()->logicalDotsPerInchX();
    QCOMPARE(d.width(), qRound(8040 * dpi / 1440));
    QCOMPARE(d.findChild<QPushButton*>("PushButton1")->text(), QStringLiteral("Up"));
    QCOMPARE(d.findChild<QPushButton*>("PushButton2")->text(), QStringLiteral("OK"));
    QCOMPARE(d.findChild<QPushButton*>("PushButton3")->text(), QStringLiteral("Cancel"));
    QCOMPARE(d.findChild<QPushButton*>("PushButton3")->x(), qRound(4080 * dpi / 1440));
}

void TestForm2::firstListShowsRootFolders() {
    MessageRecorder recorder;
    Form2 d;
    d.setConnectionSource(source());
    QStringList shown;
    QString caption;
    int columnWidth = 0;
    whenActivated([&](Form2& f) {
        shown = rows(f);
        caption = label(f);
        columnWidth = list(f)->columnWidth(0);
    });
    QCOMPARE(d.SelectFTPFolder(), QString());
    QCOMPARE(shown, QStringList({"locked/", "pub/", "www/"}));
    QCOMPARE(caption, QStringLiteral("Current Path: /"));
    QCOMPARE(columnWidth, qRound(4000 * d.screen()->logicalDotsPerInchX() / 1440));
    QVERIFY(recorder.texts().isEmpty());
}

// Each step: "open <row>", "up", "dblclick-empty". After the steps the
// dialog is closed with OK.
void TestForm2::browsing_data() {
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QStringList>("listed");

    QTest::newRow("two levels down") << QStringList{"open www/", "open logs/"} << "/www/logs/"
                                     << "/www/logs/*.*" << QStringList{};
    QTest::newRow("down then up") << QStringList{"open www/", "open logs/", "up"} << "/www/"
                                  << "/www/*.*" << QStringList{"a/", "logs/"};
    QTest::newRow("up at the root does nothing")
        << QStringList{"up"} << "/"
        << "/*.*" << QStringList{"locked/", "pub/", "www/"};
    QTest::newRow("up twice back to the root")
        << QStringList{"open www/", "open a/", "up", "up"} << "/"
        << "/*.*" << QStringList{"locked/", "pub/", "www/"};
    QTest::newRow("double-click without a selected row")
        << QStringList{"open www/", "open logs/", "dblclick-empty"} << "/www/logs/"
        << "/www/logs/*.*" << QStringList{};
}

void TestForm2::browsing() {
    QFETCH(QStringList, steps);
    QFETCH(QString, path);
    QFETCH(QString, pattern);
    QFETCH(QStringList, listed);
    MessageRecorder recorder;
    Form2 d;
    d.setConnectionSource(source());
    QString caption;
    QStringList shown;
    whenActivated([&](Form2& f) {
        for (const QString& step : steps) {
            if (step.startsWith(QLatin1String("open ")))
                doubleClickRow(f, step.mid(5));
            else if (step == QLatin1String("up"))
                click(f, "PushButton1");
            else {
                list(f)->clearSelection();
                list(f)->setCurrentItem(nullptr);
                QTest::mouseDClick(list(f)->viewport(), Qt::LeftButton, {}, QPoint(5, 200));
            }
        }
        caption = label(f);
        shown = rows(f);
        QCOMPARE(f.remotePattern(), pattern);
        click(f, "PushButton2");
    });
    QCOMPARE(d.SelectFTPFolder(), path);
    QCOMPARE(caption, QStringLiteral("Current Path: ") + path);
    QCOMPARE(shown, listed);
    QVERIFY(recorder.texts().isEmpty());
}

void TestForm2::closingEndsTheSession_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("result");
    QTest::newRow("OK") << "ok"
                        << "/www/";
    QTest::newRow("Cancel") << "cancel"
                            << "";
    QTest::newRow("close box") << "close"
                               << "";
}

void TestForm2::closingEndsTheSession() {
    QFETCH(QString, how);
    QFETCH(QString, result);
    MessageRecorder recorder;
    Form2 d;
    d.setConnectionSource(source());
    bool wasConnected = false;
    whenActivated([&](Form2& f) {
        wasConnected = f.session().isConnected();
        doubleClickRow(f, QStringLiteral("www/"));
        if (how == QLatin1String("ok"))
            click(f, "PushButton2");
        else if (how == QLatin1String("cancel"))
            click(f, "PushButton3");
        else
            f.close();
    });
    QCOMPARE(d.SelectFTPFolder(), result);
    QVERIFY(wasConnected);
    QVERIFY(!d.isVisible());
    // The dialog's session is really closed: the server sees it log out.
    QVERIFY(!d.session().isConnected());
    QVERIFY(!d.session().hasInternet());
    QTRY_COMPARE(server_.openControlConnections(), 0);
    QVERIFY(recorder.texts().isEmpty());
}

void TestForm2::refusedConnection_data() {
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QStringList>("messages");
    const QString loc = QStringLiteral("Gantrel2021/08/31.Form2.Form_Activate");
    QTest::newRow("wrong password") << "wrong" << QString() << QStringList{"Could not connect."};
    QTest::newRow("port text of letters")
        << QString() << "ftp"
        << QStringList{ErrorTrap::reportText("Type mismatch", loc, 116), "Could not connect."};
}

// After an OK at /www/, a reopening whose connect is refused keeps the list
// empty; "Up" then finds no session, and "Cancel" keeps /www/.
void TestForm2::refusedConnection() {
    QFETCH(QString, password);
    QFETCH(QString, port);
    QFETCH(QStringList, messages);
    MessageRecorder recorder;
    Form2 d;
    d.setConnectionSource(source());
    whenActivated([&](Form2& f) {
        doubleClickRow(f, QStringLiteral("www/"));
        click(f, "PushButton2");
    });
    QCOMPARE(d.SelectFTPFolder(), QStringLiteral("/www/"));

    d.setConnectionSource(source(password, port));
    QStringList shown{"<not read>"};
    QString caption;
    QStringList afterActivation;
    whenActivated([&](Form2& f) {
        shown = rows(f);
        caption = label(f);
        afterActivation = recorder.texts();
        click(f, "PushButton1");
        click(f, "PushButton3");
    });
    QCOMPARE(d.SelectFTPFolder(), QStringLiteral("/www/"));
    QCOMPARE(afterActivation, messages);
    QVERIFY(shown.isEmpty());
    QCOMPARE(caption, QStringLiteral("Current Path: "));
    QCOMPARE(recorder.texts(), messages + QStringList{"Could not connect"});
    QVERIFY(!d.session().isConnected());
    QVERIFY(!d.session().hasInternet());
}

void TestForm2::unlistableFolderGivesEmptyList() {
    for (const char* verb : {"CWD", "MLSD", "LIST", "NLST"})
        server_.addFault({QString::fromLatin1(verb), QStringLiteral("refuse"), 0, 0, -1,
                          QStringLiteral("locked")});
    MessageRecorder recorder;
    Form2 d;
    d.setConnectionSource(source());
    QStringList shown{"<not read>"};
    QString caption;
    whenActivated([&](Form2& f) {
        doubleClickRow(f, QStringLiteral("locked/"));
        shown = rows(f);
        caption = label(f);
    });
    d.SelectFTPFolder();
    QVERIFY(shown.isEmpty());
    QCOMPARE(caption, QStringLiteral("Current Path: /locked/"));
    QVERIFY(recorder.texts().isEmpty());
}

void TestForm2::linkedFoldersAreFolders_data() {
    QTest::addColumn<FtpTestServer::Kind>("kind");
    QTest::addColumn<bool>("hideMlsd");
    QTest::newRow("pyftpdlib MLSD") << FtpTestServer::Kind::Pyftpdlib << false;
    QTest::newRow("pyftpdlib LIST") << FtpTestServer::Kind::Pyftpdlib << true;
    QTest::newRow("vsftpd") << FtpTestServer::Kind::Vsftpd << false;
    QTest::newRow("sshd sftp") << FtpTestServer::Kind::OpenSshSftp << false;
}

// Links to folders are listed and entered like folders; links to a file, to
// nothing, or out of the server's reach are not.
void TestForm2::linkedFoldersAreFolders() {
    QFETCH(FtpTestServer::Kind, kind);
    QFETCH(bool, hideMlsd);
    FtpTestServer::Options options;
    options.hideMlsd = hideMlsd;
    FtpTestServer server(kind, options);
    START_TEST_SERVER(server);
    QTemporaryDir outside;
    const QDir root(server.rootPath());
    QVERIFY(root.mkpath(QStringLiteral("real/inner")));
    QVERIFY(root.mkpath(QStringLiteral("empty")));
    QVERIFY(TestFiles::writeFile(root.filePath(QStringLiteral("real/file.txt")), "x"));
    QVERIFY(TestFiles::writeFile(root.filePath(QStringLiteral("note.txt")), "x"));
    QVERIFY(QFile::link(QStringLiteral("real"), root.filePath(QStringLiteral("site"))));
    QVERIFY(QFile::link(QStringLiteral("empty"), root.filePath(QStringLiteral("hollow"))));
    QVERIFY(QFile::link(QStringLiteral("note.txt"), root.filePath(QStringLiteral("notelink"))));
    QVERIFY(QFile::link(QStringLiteral("missing"), root.filePath(QStringLiteral("dangling"))));
    QVERIFY(QFile::link(outside.path(), root.filePath(QStringLiteral("away"))));
    QVERIFY(QFile::link(QStringLiteral("../site"), root.filePath(QStringLiteral("real/back"))));
    server.ownFiles();

    MessageRecorder recorder;
    // The SFTP server's host key is new to the program.
    const bool sftp = kind == FtpTestServer::Kind::OpenSshSftp;
    if (sftp)
        recorder.answers = {QStringLiteral("Trust always")};
    Form2 d;
    const ConnectionSettings settings = server.settings();
    d.setConnectionSource([settings] { return settings; });
    QStringList atRoot, inSite, inBack, inHollow;
    QString caption;
    whenActivated([&](Form2& f) {
        atRoot = rows(f);
        doubleClickRow(f, QStringLiteral("hollow/"));
        inHollow = rows(f);
        click(f, "PushButton1");
        doubleClickRow(f, QStringLiteral("site/"));
        inSite = rows(f);
        doubleClickRow(f, QStringLiteral("back/"));
        inBack = rows(f);
        caption = label(f);
        click(f, "PushButton2");
    });
    const QString chosen = server.remoteRoot() + QStringLiteral("site/back/");
    QCOMPARE(d.SelectFTPFolder(), chosen);
    QCOMPARE(atRoot, QStringList({"empty/", "hollow/", "real/", "site/"}));
    QCOMPARE(inHollow, QStringList());
    QCOMPARE(inSite, QStringList({"back/", "inner/"}));
    QCOMPARE(inBack, QStringList({"back/", "inner/"}));
    QCOMPARE(caption, QStringLiteral("Current Path: ") + chosen);
    QCOMPARE(recorder.texts().size(), sftp ? 1 : 0);
}

// The main window's "..." button: the first "Cancel" gives "/", an "OK" at
// /www/ gives /www/, and a later "Cancel" keeps it.
void TestForm2::mainWindowTakesTheResult() {
    MessageRecorder recorder;
    Form1 main;
    main.Form_Load();
    main.findChild<QLineEdit*>("txtHostName")->setText(server_.host());
    main.findChild<QLineEdit*>("txtPort")->setText(QString::number(server_.port()));
    main.findChild<QLineEdit*>("txtUserName")->setText(server_.user());
    main.findChild<QLineEdit*>("txtPassword")->setText(server_.password());
    auto* remote = main.findChild<QLineEdit*>("txtRemoteFolder");
    auto* browse = main.findChild<QPushButton*>("PushButton1");
    remote->setText(QStringLiteral("/old/"));

    whenActivated([](Form2& f) { click(f, "PushButton3"); });
    browse->click();
    QCOMPARE(remote->text(), QStringLiteral("/"));

    whenActivated([](Form2& f) {
        doubleClickRow(f, QStringLiteral("www/"));
        click(f, "PushButton2");
    });
    browse->click();
    QCOMPARE(remote->text(), QStringLiteral("/www/"));

    QString reopenedAt;
    whenActivated([&](Form2& f) {
        reopenedAt = f.currentPath();
        click(f, "PushButton3");
    });
    browse->click();
    QCOMPARE(reopenedAt, QStringLiteral("/"));
    QCOMPARE(remote->text(), QStringLiteral("/www/"));
    QCOMPARE(GetSetting("Tarvex", "Pellmor", "Remote Folder"), QStringLiteral("/www/"));
    QVERIFY(recorder.texts().isEmpty());
}

void TestForm2::hoverRule() {
    MessageRecorder recorder;
    Form2 d;
    d.setConnectionSource(source());
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    auto move = [](QWidget* w) {
        QMouseEvent e(QEvent::MouseMove, QPointF(2, 2), w->mapToGlobal(QPointF(2, 2)), Qt::NoButton,
                      Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(w, &e);
    };
    move(d.findChild<QPushButton*>("PushButton2"));
    QCOMPARE(d.pointerState(), Form2::Pointer::Custom);
    move(d.findChild<QLabel*>("lblPath"));
    QCOMPARE(d.pointerState(), Form2::Pointer::Ordinary);
    move(d.findChild<QPushButton*>("PushButton1"));
    QCOMPARE(d.pointerState(), Form2::Pointer::Custom);
    move(list(d)->viewport());
    QCOMPARE(d.pointerState(), Form2::Pointer::Ordinary);
    d.reject();
}

QTEST_MAIN(TestForm2)
#include "tst_form2.moc"
