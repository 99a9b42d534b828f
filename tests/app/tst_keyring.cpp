// The password in the desktop's keyring, against a real Secret Service
// (gnome-keyring-daemon on a private bus): the window stores what is typed
// there and reads it back at the next start, moves a password the settings
// file holds into it, and falls back to the file where no keyring answers; the
// command line reads the same entries. The keyring is read independently with
// secret-tool.

#include "app/Form1.h"
#include "app/MainModule.h"
#include "core/PasswordStore.h"
#include "core/SettingsStore.h"
#include "tests/support/AppSandbox.h"
#include "tests/support/MessageRecorder.h"
#include "tests/support/SecretService.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestServers.h"

#include <QApplication>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QtTest>

#include <sys/stat.h>

namespace {

enum class Keyring { Running, Absent, Frozen };

// Key to password.
using Entries = QMap<QString, QString>;
// Box name and the text typed into it, in order.
using Typing = QList<QPair<QString, QString>>;

const QString kApp = QStringLiteral("Tarvex");
const QString kSection = QStringLiteral("Pellmor");
// A step of the typing: the keyring stops answering from here on.
const QString kHang = QStringLiteral("(the keyring hangs)");

} // namespace

Q_DECLARE_METATYPE(Keyring)

class TestKeyring : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void commandLineReadsIt_data();
    void commandLineReadsIt();
    void passwordKept_data();
    void passwordKept();

private:
    bool prepareKeyring(Keyring keyring);
    // Replaces $host, $port, $user and $password by the test server's.
    QString fill(QString text) const;
    Entries fill(const Entries& entries) const;
    QLineEdit* box(Form1& f, const QString& name) { return f.findChild<QLineEdit*>(name); }

    std::unique_ptr<AppSandbox> sandbox_;
    SpecialFolderLookup previousLookup_;
    // One daemon for every row (see SecretService.h); once stopped, for the
    // rows without a keyring, which come last, it stays stopped.
    SecretService keyring_;
    bool keyringGone_ = false;
    std::unique_ptr<FtpTestServer> server_;
    std::unique_ptr<QTemporaryDir> local_;
};

void TestKeyring::init() {
    sandbox_ = std::make_unique<AppSandbox>();
    previousLookup_ = SetSpecialFolderLookup([](int) { return QStringLiteral("/home/u/Desktop"); });
    local_ = std::make_unique<QTemporaryDir>();
}

void TestKeyring::cleanup() {
    // Calls a frozen keyring still owes end before the next row.
    keyring_.thaw();
    server_.reset();
    SetSpecialFolderLookup(previousLookup_);
    sandbox_.reset();
}

bool TestKeyring::prepareKeyring(Keyring keyring) {
    QString reason;
    if (!SecretService::onPrivateBus(&reason))
        return TestServers::unavailable(reason, __FILE__, __LINE__);
    if (keyring == Keyring::Absent) {
        keyring_.stop();
        keyringGone_ = true;
        return true;
    }
    if (keyringGone_) {
        QTest::qFail("rows with a keyring must come before the rows without", __FILE__, __LINE__);
        return false;
    }
    if (!keyring_.running() && !keyring_.start(&reason))
        return TestServers::unavailable(reason, __FILE__, __LINE__);
    if (!SecretService::clear()) {
        QTest::qFail("the keyring's entries could not be cleared", __FILE__, __LINE__);
        return false;
    }
    return true;
}

QString TestKeyring::fill(QString text) const {
    if (!server_)
        return text;
    return text.replace(QStringLiteral("$host"), server_->host())
        .replace(QStringLiteral("$port"), QString::number(server_->port()))
        .replace(QStringLiteral("$user"), server_->user())
        .replace(QStringLiteral("$password"), server_->password());
}

Entries TestKeyring::fill(const Entries& entries) const {
    Entries filled;
    for (auto it = entries.begin(); it != entries.end(); ++it)
        filled.insert(fill(it.key()), fill(it.value()));
    return filled;
}

void TestKeyring::passwordKept_data() {
    QTest::addColumn<Keyring>("keyring");
    QTest::addColumn<Entries>("fileBefore");
    QTest::addColumn<Entries>("keyringBefore");
    QTest::addColumn<Typing>("typing");
    QTest::addColumn<Keyring>("atNextStart");
    QTest::addColumn<QString>("nextStart"); // the password box at the next start
    // Every entry of the program after the next start, where a keyring answers.
    QTest::addColumn<Entries>("keyringAfter");
    // The next start compares and syncs with the password it shows.
    QTest::addColumn<bool>("sync");

    const auto running = Keyring::Running;
    const Typing serverA = {{"txtHostName", "a.example"}, {"txtUserName", "web"}};
    QTest::newRow("typed: into the keyring")
        << running << Entries{} << Entries{} << serverA + Typing{{"txtPassword", "typed s3cret"}}
        << running << "typed s3cret" << Entries{{"ftp://web@a.example:21", "typed s3cret"}}
        << false;
    QTest::newRow("typed, then synced")
        << running << Entries{} << Entries{}
        << Typing{{"txtHostName", "$host"},
                  {"txtPort", "$port"},
                  {"txtUserName", "$user"},
                  {"txtPassword", "$password"},
                  {"txtRemoteFolder", "/www/"}}
        << running << "$password" << Entries{{"ftp://$user@$host:$port", "$password"}} << true;
    QTest::newRow("moved from the file at the first start")
        << running
        << Entries{{"HostName", "ftps://Files.Example.org/"},
                   {"Port", "21"},
                   {"UserName", "me@home"},
                   {"Password", "clear old"}}
        << Entries{{"ftps://me%40home@files.example.org:990", "older still"},
                   {"ftp://web@a.example:21", "another server's"}}
        << Typing{} << running << "clear old"
        << Entries{{"ftps://me%40home@files.example.org:990", "clear old"},
                   {"ftp://web@a.example:21", "another server's"}}
        << false;
    QTest::newRow("cleared: stored empty")
        << running << Entries{{"HostName", "a.example"}, {"UserName", "web"}}
        << Entries{{"ftp://web@a.example:21", "was here"}} << Typing{{"txtPassword", ""}} << running
        << "" << Entries{{"ftp://web@a.example:21", ""}} << false;
    QTest::newRow("server changed: kept for the new one too")
        << running << Entries{} << Entries{}
        << serverA + Typing{{"txtPassword", "pw a"}, {"txtHostName", "b.example"}} << running
        << "pw a" << Entries{{"ftp://web@a.example:21", "pw a"}, {"ftp://web@b.example:21", "pw a"}}
        << false;
    QTest::newRow("server changed: its own password stays")
        << running << Entries{} << Entries{{"sftp://web@b.example:22", "pw b"}}
        << serverA + Typing{{"txtPassword", "pw a"}, {"txtHostName", "sftp://b.example"}} << running
        << "pw b"
        << Entries{{"ftp://web@a.example:21", "pw a"}, {"sftp://web@b.example:22", "pw b"}}
        << false;
    QTest::newRow("back to the server of the start: its password stays")
        << running << Entries{{"HostName", "sftp://b.example"}, {"UserName", "web"}}
        << Entries{{"sftp://web@b.example:22", "pw b"}}
        << Typing{{"txtHostName", "a.example"},
                  {"txtPassword", "pw a"},
                  {"txtHostName", "sftp://b.example"}}
        << running << "pw b"
        << Entries{{"ftp://web@a.example:21", "pw a"}, {"sftp://web@b.example:22", "pw b"}}
        << false;
    QTest::newRow("keyring hung while typing: the file, then the keyring")
        << running << Entries{} << Entries{}
        << serverA + Typing{{kHang, ""}, {"txtPassword", "kept safe"}} << running << "kept safe"
        << Entries{{"ftp://web@a.example:21", "kept safe"}} << false;
    QTest::newRow("keyring hung: the file")
        << Keyring::Frozen << Entries{{"Password", "from before"}} << Entries{}
        << serverA + Typing{{"txtPassword", "in the file"}} << Keyring::Frozen << "in the file"
        << Entries{} << false;
    // Last: the keyring is stopped for good.
    QTest::newRow("no keyring: the file") << Keyring::Absent << Entries{} << Entries{}
                                          << serverA + Typing{{"txtPassword", "in the file"}}
                                          << Keyring::Absent << "in the file" << Entries{} << false;
}

void TestKeyring::passwordKept() {
    QFETCH(Keyring, keyring);
    QFETCH(Entries, fileBefore);
    QFETCH(Entries, keyringBefore);
    QFETCH(Typing, typing);
    QFETCH(Keyring, atNextStart);
    QFETCH(QString, nextStart);
    QFETCH(Entries, keyringAfter);
    QFETCH(bool, sync);
    if (sync) {
        server_ = std::make_unique<FtpTestServer>();
        // Found in no settings file by chance.
        server_->setPassword(QStringLiteral("pellmor-ftp-pw"));
        START_TEST_SERVER(*server_);
        QVERIFY(QDir().mkpath(server_->rootPath() + QStringLiteral("/www")));
        QVERIFY(TestFiles::writeFile(local_->filePath(QStringLiteral("a.txt")), "a"));
        typing << qMakePair(QStringLiteral("Text1"), local_->path() + QLatin1Char('/'));
    }
    if (!prepareKeyring(keyring == Keyring::Frozen ? Keyring::Running : keyring))
        return;
    for (auto it = keyringBefore.begin(); it != keyringBefore.end(); ++it)
        QVERIFY(SecretService::store(it.key(), it.value()));
    if (keyring == Keyring::Frozen)
        keyring_.freeze();
    for (auto it = fileBefore.begin(); it != fileBefore.end(); ++it)
        SaveSetting(kApp, kSection, it.key(), it.value());
    ResetSettingsCache();

    const QString file = SettingsFilePath(kApp);
    const QString inFile =
        QStringLiteral("No keyring answered; the password is kept in %1, readable by you only.")
            .arg(file);
    const bool hangs = typing.contains(qMakePair(kHang, QString()));
    MessageRecorder boxes;
    {
        Form1 f;
        f.Form_Load();
        for (const auto& [name, text] : typing) {
            if (name == kHang) {
                keyring_.freeze();
                continue;
            }
            box(f, name)->clear();
            QTest::keyClicks(box(f, name), fill(text));
        }
        if (keyring == Keyring::Running && !hangs)
            QCOMPARE(box(f, "txtPassword")->toolTip(), QString());
        else // said once the keyring has not answered in time
            QTRY_COMPARE_WITH_TIMEOUT(box(f, "txtPassword")->toolTip(), inFile,
                                      3 * PasswordStore::kAnswerMs);
    } // closed: the keyring has every edit, or the file has the password
    ResetSettingsCache();
    if (keyring != Keyring::Running || hangs) {
        QSettings stored(file, QSettings::IniFormat);
        QCOMPARE(stored.value(QStringLiteral("Pellmor/Password")).toString(), fill(nextStart));
    }

    if (atNextStart == Keyring::Running)
        keyring_.thaw();
    {
        Form1 f;
        f.Form_Load();
        QCOMPARE(box(f, "txtPassword")->text(), fill(nextStart));
        QCOMPARE(box(f, "txtPassword")->toolTip(),
                 atNextStart == Keyring::Running ? QString() : inFile);
        if (sync) {
            f.findChild<QPushButton*>("PushButton5")->click();
            QCOMPARE(f.resultList().rowCount(), 1);
            f.findChild<QPushButton*>("PushButton6")->click();
            QCOMPARE(TestFiles::readFile(server_->rootPath() + QStringLiteral("/www/a.txt")),
                     QByteArray("a"));
        }
    }
    QCOMPARE(boxes.texts(), sync ? QStringList{QStringLiteral("Done.")} : QStringList());

    const QByteArray bytes = TestFiles::readFile(file);
    if (atNextStart == Keyring::Running) {
        QCOMPARE(SecretService::entries(), fill(keyringAfter));
        // Not a byte of any password, nor the key that held one.
        QVERIFY2(!bytes.contains("Password"), bytes.constData());
        QStringList passwords = fill(keyringAfter).values() + keyringBefore.values();
        passwords << fileBefore.value(QStringLiteral("Password"));
        for (const QString& p : passwords) {
            if (!p.isEmpty())
                QVERIFY2(!bytes.contains(p.toUtf8()), qPrintable(p));
        }
    } else {
        QSettings stored(file, QSettings::IniFormat);
        QCOMPARE(stored.value(QStringLiteral("Pellmor/Password")).toString(), nextStart);
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(file).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0600));
    }
}

void TestKeyring::commandLineReadsIt_data() {
    QTest::addColumn<Keyring>("keyring");
    // What each place holds: "*" the right password, null nothing; in the
    // keyring, "window" is the right one typed into the window.
    QTest::addColumn<QString>("inKeyring");
    QTest::addColumn<Entries>("fileBefore");
    QTest::addColumn<QString>("environment");
    QTest::addColumn<QString>("passwordFile");
    QTest::addColumn<int>("status"); // 1: logged in, 2: refused

    const auto running = Keyring::Running;
    const QString right = QStringLiteral("*");
    const QString wrong = QStringLiteral("wrong");
    const QString none;
    const Entries rightInFile{{"Password", right}};
    QTest::newRow("typed in the window") << running << "window" << Entries{} << none << none << 1;
    QTest::newRow("keyring beats the file")
        << running << right << Entries{{"Password", wrong}} << none << none << 1;
    QTest::newRow("the file where the keyring holds none")
        << running << none << rightInFile << none << none << 1;
    // The window moves it into the keyring at its next start.
    QTest::newRow("the file's for the server it names: no keyring took it")
        << running << wrong
        << Entries{{"HostName", "$host"},
                   {"Port", "$port"},
                   {"UserName", "$user"},
                   {"Password", right}}
        << none << none << 1;
    QTest::newRow("environment beats the keyring")
        << running << right << Entries{} << wrong << none << 2;
    QTest::newRow("password file beats the keyring")
        << running << right << Entries{} << none << wrong << 2;
    QTest::newRow("no keyring: the file")
        << Keyring::Absent << none << rightInFile << none << none << 1;
}

void TestKeyring::commandLineReadsIt() {
    QFETCH(Keyring, keyring);
    QFETCH(QString, inKeyring);
    QFETCH(Entries, fileBefore);
    QFETCH(QString, environment);
    QFETCH(QString, passwordFile);
    QFETCH(int, status);
    server_ = std::make_unique<FtpTestServer>();
    START_TEST_SERVER(*server_);
    QVERIFY(QDir().mkpath(server_->rootPath() + QStringLiteral("/www")));
    QVERIFY(TestFiles::writeFile(local_->filePath(QStringLiteral("a.txt")), "a"));
    // Without a keyring, the program is given a bus that leads nowhere.
    if (!prepareKeyring(Keyring::Running))
        return;
    const auto actual = [&](const QString& p) { return p == "*" ? server_->password() : p; };

    if (inKeyring == QLatin1String("window")) {
        // Written the way the window reads it, the command line's way apart.
        Form1 f;
        f.Form_Load();
        box(f, "txtHostName")->setText(QStringLiteral("FTP://127.0.0.1/"));
        box(f, "txtPort")->setText(QString::number(server_->port()));
        box(f, "txtUserName")->setText(server_->user());
        box(f, "txtPassword")->setText(server_->password());
    } else if (!inKeyring.isNull()) {
        QVERIFY(SecretService::store(fill(QStringLiteral("ftp://$user@$host:$port")),
                                     actual(inKeyring)));
    }
    for (auto it = fileBefore.begin(); it != fileBefore.end(); ++it)
        SaveSetting(kApp, kSection, it.key(), actual(fill(it.value())));
    ResetSettingsCache();

    QStringList arguments{
        "compare",     "--host",        server_->host(), "--port", QString::number(server_->port()),
        "--user",      server_->user(), "--remote",      "/www/",  "--local",
        local_->path()};
    if (!passwordFile.isNull()) {
        const QString path = sandbox_->configFolder() + QStringLiteral("/pw");
        QVERIFY(TestFiles::writeFile(path, actual(passwordFile).toUtf8() + '\n'));
        arguments << "--password-file" << path;
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "PELLMOR_PASSWORD"})
        env.remove(QLatin1String(name));
    if (!environment.isNull())
        env.insert(QStringLiteral("PELLMOR_PASSWORD"), actual(environment));
    if (keyring == Keyring::Absent)
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=") +
                                                                   sandbox_->configFolder() +
                                                                   QStringLiteral("/no-bus"));
    QProcess program;
    program.setProcessEnvironment(env);
    program.setStandardInputFile(QProcess::nullDevice());
    program.start(QStringLiteral(PELLMOR_BINARY), arguments);
    QVERIFY(program.waitForFinished(120000));
    const QString err = QString::fromLocal8Bit(program.readAllStandardError());
    QVERIFY2(program.exitStatus() == QProcess::NormalExit && program.exitCode() == status,
             qPrintable(QStringLiteral("status %1: %2").arg(program.exitCode()).arg(err)));
}

int main(int argc, char** argv) {
    // The keyring is what this test is about.
    qunsetenv("PELLMOR_NO_KEYRING");
    SecretService::enterPrivateBus(argc, argv);
    QApplication app(argc, argv);
    TestKeyring test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_keyring.moc"
