#pragma once

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QDir>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <optional>
#include <vector>

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

// A desktop keyring for tests: gnome-keyring-daemon's Secret Service, started
// unlocked on a private D-Bus session bus of the test program's own, with a
// keyring in a temporary folder, so that the user's own keyring is never read
// or written. Header-only, so that only the tests that use it link QtDBus.
//
// enterPrivateBus() comes first in main(): it runs the test program again
// inside dbus-run-session, on a bus that starts no service by itself, so that
// a keyring answers there only while a SecretService runs one. The bus ends
// after the test program: the keyring's library in the program quits the
// program when its bus goes away first.
//
// Start one daemon per test program: the keyring's library keeps its session
// with the first daemon it talked to, and cannot store through a daemon
// started after that one went away.
//
// start() answers false with a reason when dbus-run-session, the daemon or
// secret-tool is missing (tests report that through TestServers.h).
class SecretService {
public:
    // The keyring's name for the program's entries.
    static constexpr const char* kService = "Pellmor";

    SecretService() = default;
    ~SecretService() { stop(); }
    SecretService(const SecretService&) = delete;
    SecretService& operator=(const SecretService&) = delete;

    static void enterPrivateBus(int argc, char** argv) {
        if (qEnvironmentVariableIsSet(kMarker))
            return;
        qputenv(kMarker, "1");
        QByteArray config = "--config-file=" PELLMOR_TEST_SUPPORT_DIR "/private-bus.conf";
        std::vector<char*> arguments{const_cast<char*>("dbus-run-session"), config.data(),
                                     const_cast<char*>("--")};
        for (int i = 0; i < argc; ++i)
            arguments.push_back(argv[i]);
        arguments.push_back(nullptr);
        ::execvp(arguments.front(), arguments.data());
        // Not installed: the test goes on without a bus of its own, and start()
        // says why.
        qunsetenv(kMarker);
    }

    // Whether the program runs on a bus of its own; when it does not, a test
    // must not use any keyring, since the user's own might answer.
    static bool onPrivateBus(QString* reason) {
        if (qEnvironmentVariableIsSet(kMarker))
            return true;
        *reason = QStringLiteral("dbus-run-session is not installed (Debian package dbus-bin)");
        return false;
    }

    bool running() const { return daemon_.state() == QProcess::Running; }

    bool start(QString* reason) {
        if (!onPrivateBus(reason))
            return false;
        const QString daemon =
            QStandardPaths::findExecutable(QStringLiteral("gnome-keyring-daemon"));
        if (daemon.isEmpty()) {
            *reason = QStringLiteral("gnome-keyring-daemon is not installed (Debian package "
                                     "gnome-keyring)");
            return false;
        }
        if (QStandardPaths::findExecutable(QStringLiteral("secret-tool")).isEmpty()) {
            *reason =
                QStringLiteral("secret-tool is not installed (Debian package libsecret-tools)");
            return false;
        }
        home_ = std::make_unique<QTemporaryDir>();
        const QString home = home_->path();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home);
        for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"})
            env.insert(QLatin1String(name), home + QLatin1Char('/') + QLatin1String(name));
        QDir().mkpath(home + QStringLiteral("/run"));
        QFile::setPermissions(home + QStringLiteral("/run"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home + QStringLiteral("/run"));
        daemon_.setProcessEnvironment(env);
        daemon_.setProgram(daemon);
        // --unlock reads the new keyring's password from standard input.
        daemon_.setArguments({"--foreground", "--unlock", "--components=secrets"});
        // Its chatter goes to a log, shown when it does not come up.
        const QString log = home + QStringLiteral("/daemon.log");
        daemon_.setStandardOutputFile(log);
        daemon_.setProcessChannelMode(QProcess::MergedChannels);
        // Ends with the test program, also one that crashed while the daemon
        // was frozen.
        daemon_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        daemon_.start();
        if (!daemon_.waitForStarted(10000)) {
            *reason = QStringLiteral("gnome-keyring-daemon did not start");
            return false;
        }
        daemon_.write("keyring of a test");
        daemon_.closeWriteChannel();
        // Ready once it answers for the Secret Service on the bus.
        const bool ended = QTest::qWaitFor(
            [this] { return registered() || daemon_.state() != QProcess::Running; }, 30000);
        if (!ended || !registered()) {
            QFile output(log);
            output.open(QIODevice::ReadOnly);
            *reason =
                QStringLiteral("gnome-keyring-daemon did not take the Secret Service's name: ") +
                QString::fromLocal8Bit(output.readAll());
            return false;
        }
        return true;
    }

    // The daemon goes; nothing answers for the Secret Service afterwards.
    void stop() {
        if (daemon_.state() == QProcess::NotRunning)
            return;
        thaw();
        daemon_.terminate();
        if (!daemon_.waitForFinished(10000)) {
            daemon_.kill();
            daemon_.waitForFinished(10000);
        }
        // The bus lets the name go a moment after the daemon ended.
        if (!QTest::qWaitFor([] { return !registered(); }, 10000))
            qWarning("gnome-keyring-daemon ended, but its name stayed on the bus");
    }

    // The daemon stops answering without going away, as a hung one does.
    void freeze() {
        if (daemon_.state() == QProcess::Running)
            ::kill(pid_t(daemon_.processId()), SIGSTOP);
    }
    void thaw() {
        if (daemon_.state() == QProcess::Running)
            ::kill(pid_t(daemon_.processId()), SIGCONT);
    }

    // The program's entries, read with secret-tool: key to password.
    static QMap<QString, QString> entries() {
        QProcess search;
        search.start(QStringLiteral("secret-tool"),
                     {"search", "--all", "server", QLatin1String(kService)});
        search.waitForFinished(30000);
        // secret-tool writes the attributes to standard error.
        const QString listing = QString::fromUtf8(search.readAllStandardError());
        QMap<QString, QString> found;
        static const QRegularExpression user(QStringLiteral("^attribute\\.user = (.*)$"),
                                             QRegularExpression::MultilineOption);
        for (auto it = user.globalMatch(listing); it.hasNext();) {
            const QString key = it.next().captured(1);
            found.insert(key, lookup(key).value_or(QStringLiteral("<unreadable>")));
        }
        return found;
    }

    static std::optional<QString> lookup(const QString& key) {
        QProcess lookUp;
        lookUp.start(QStringLiteral("secret-tool"),
                     {"lookup", "server", QLatin1String(kService), "user", key});
        if (!lookUp.waitForFinished(30000) || lookUp.exitStatus() != QProcess::NormalExit ||
            lookUp.exitCode() != 0)
            return std::nullopt;
        return QString::fromUtf8(lookUp.readAllStandardOutput());
    }

    // Takes out every entry of the program.
    static bool clear() {
        QProcess clear;
        clear.start(QStringLiteral("secret-tool"), {"clear", "server", QLatin1String(kService)});
        return clear.waitForFinished(30000) && clear.exitStatus() == QProcess::NormalExit &&
               entries().isEmpty();
    }

    // An entry as the program writes one.
    static bool store(const QString& key, const QString& password) {
        QProcess store;
        store.start(QStringLiteral("secret-tool"),
                    {"store", "--label", QLatin1String(kService), "xdg:schema", "org.qt.keychain",
                     "server", QLatin1String(kService), "user", key, "type", "plaintext"});
        store.write(password.toUtf8());
        store.closeWriteChannel();
        return store.waitForFinished(30000) && store.exitStatus() == QProcess::NormalExit &&
               store.exitCode() == 0;
    }

private:
    static constexpr const char* kMarker = "PELLMOR_PRIVATE_BUS";

    static bool registered() {
        const QDBusReply<bool> reply =
            QDBusConnection::sessionBus().interface()->isServiceRegistered(
                QStringLiteral("org.freedesktop.secrets"));
        return reply.isValid() && reply.value();
    }

    std::unique_ptr<QTemporaryDir> home_;
    QProcess daemon_;
};
