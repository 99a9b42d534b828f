#include "app/TestConnection.h"
#include "core/ErrorTrap.h"
#include "core/VbError.h"
#include "ftp/RemoteUpload.h"
#include "ftp/Session.h"
#include "tests/support/MessageRecorder.h"
#include "tests/support/TestServers.h"

#include <QtTest>

#include <atomic>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
const QString kLocation = QStringLiteral("Gantrel2021/08/31.Form1.PushButton3_Click");

QString report(const QString& description, int line) {
    return ErrorTrap::reportText(description, kLocation, line);
}
} // namespace

class TestSession : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();

    void convertPortText_data();
    void convertPortText();
    void testConnection_data();
    void testConnection();
    void secondTestReplacesFirstSession();
    void anotherSessionLogsInAlike();
    void reportsAreBoxesOfTheRightKind();
    void emptyUserNameLogsInAnonymously_data();
    void emptyUserNameLogsInAnonymously();
    void sessionsWorkFromSeveralThreadsAtOnce();

private:
    ConnectionSettings settings(const QString& portText, const QString& password) const {
        return {server_.host(), portText, server_.user(), password};
    }
    ConnectionSettings rightSettings() const {
        return settings(QString::number(server_.port()), server_.password());
    }

    Session session_;
    FtpTestServer server_;
    bool serverUp_ = false;
    QString serverReason_;
};

void TestSession::initTestCase() {
    serverUp_ = server_.start(&serverReason_);
}

void TestSession::cleanup() {
    session_.close();
}

void TestSession::convertPortText_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("port"); // -1: error expected
    QTest::addColumn<int>("errorNumber");

    QTest::newRow("plain") << "21" << 21 << 0;
    QTest::newRow("blanks around") << "  2121 " << 2121 << 0;
    QTest::newRow("zero means 21") << "0" << 21 << 0;
    QTest::newRow("rounds up") << "21.6" << 22 << 0;
    QTest::newRow("rounds down") << "21.4" << 21 << 0;
    QTest::newRow("half to even, down") << "22.5" << 22 << 0;
    QTest::newRow("half to even, up") << "23.5" << 24 << 0;
    QTest::newRow("small negative rounds to zero") << "-0.4" << 21 << 0;
    QTest::newRow("exponent") << "2.1e3" << 2100 << 0;
    QTest::newRow("above 32767") << "40000" << 40000 << 0;
    QTest::newRow("top of range") << "65535" << 65535 << 0;
    QTest::newRow("plus sign") << "+990" << 990 << 0;

    QTest::newRow("letters") << "ftp" << -1 << VbError::TypeMismatch;
    QTest::newRow("empty") << "" << -1 << VbError::TypeMismatch;
    QTest::newRow("blanks only") << "   " << -1 << VbError::TypeMismatch;
    QTest::newRow("number then letters") << "21a" << -1 << VbError::TypeMismatch;
    QTest::newRow("inner blank") << "2 1" << -1 << VbError::TypeMismatch;
    QTest::newRow("beyond 65535") << "70000" << -1 << VbError::Overflow;
    QTest::newRow("rounds beyond 65535") << "65535.5" << -1 << VbError::Overflow;
    QTest::newRow("negative") << "-1" << -1 << VbError::Overflow;
    QTest::newRow("huge exponent") << "1e400" << -1 << VbError::Overflow;
}

void TestSession::convertPortText() {
    QFETCH(QString, text);
    QFETCH(int, port);
    QFETCH(int, errorNumber);
    if (port >= 0) {
        QCOMPARE(int(ConvertPortText(text)), port);
        return;
    }
    try {
        ConvertPortText(text);
        QFAIL("no error for a text that is no port");
    } catch (const VbError& e) {
        QCOMPARE(e.number(), errorNumber);
    }
}

void TestSession::testConnection_data() {
    QTest::addColumn<QString>("portText"); // "<server>" and "<closed>" stand for real ports
    QTest::addColumn<bool>("rightPassword");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<bool>("connected");

    const QStringList refused{"Could not connect."};
    QTest::newRow("log-in accepted") << "<server>" << true << QStringList{"Connection OK."} << true;
    QTest::newRow("port text rounded to the server's port")
        << "<server>.4" << true << QStringList{"Connection OK."} << true;
    QTest::newRow("wrong password") << "<server>" << false << refused << false;
    QTest::newRow("nobody listening") << "<closed>" << true << refused << false;
    QTest::newRow("letters") << "abc" << true
                             << QStringList{report("Type mismatch", 106), refused[0]} << false;
    QTest::newRow("empty") << "" << true << QStringList{report("Type mismatch", 106), refused[0]}
                           << false;
    QTest::newRow("out of range") << "70000" << true
                                  << QStringList{report("Overflow", 106), refused[0]} << false;
}

void TestSession::testConnection() {
    QFETCH(QString, portText);
    QFETCH(bool, rightPassword);
    QFETCH(QStringList, messages);
    QFETCH(bool, connected);
    REQUIRE_TEST_SERVER(serverUp_, serverReason_);

    portText.replace(QStringLiteral("<server>"), QString::number(server_.port()));
    portText.replace(QStringLiteral("<closed>"),
                     QString::number(FtpTestServer::freeLoopbackPort()));
    const QString password = rightPassword ? server_.password() : server_.password() + "x";

    MessageRecorder recorder;
    TestConnection(session_, settings(portText, password));
    QCOMPARE(recorder.texts(), messages);
    if (connected) {
        QVERIFY(session_.hasInternet());
        QVERIFY(session_.isConnected());
        // The session stays open and usable.
        QCOMPARE(*session_.currentDirectory(), QStringLiteral("/"));
    } else {
        QVERIFY(!session_.isConnected());
        // What was prepared is not left behind for anyone to use.
        QVERIFY(!session_.hasInternet());
    }
}

void TestSession::secondTestReplacesFirstSession() {
    REQUIRE_TEST_SERVER(serverUp_, serverReason_);
    MessageRecorder recorder;
    TestConnection(session_, rightSettings());
    const int firstConnect = session_.connectionNumber();
    TestConnection(session_, rightSettings());
    QCOMPARE(recorder.texts(), QStringList({"Connection OK.", "Connection OK."}));
    QVERIFY(session_.isConnected() && session_.connectionNumber() != firstConnect);

    // The first log-in is closed, not left behind for nothing to use.
    QTRY_COMPARE(server_.openControlConnections(), 1);
    QVERIFY(session_.currentDirectory());
}

void TestSession::anotherSessionLogsInAlike() {
    REQUIRE_TEST_SERVER(serverUp_, serverReason_);
    QVERIFY(session_.openInternet());
    QVERIFY(session_.connect(rightSettings()));
    std::unique_ptr<Session> another = session_.openAnother();
    QVERIFY(another);
    QVERIFY(another->connectionNumber() != session_.connectionNumber());
    QVERIFY(another->currentDirectory());
    // Each closes on its own: the main session goes on after the other ends.
    another.reset();
    QVERIFY(session_.currentDirectory());

    Session refused;
    QVERIFY(refused.openInternet());
    QVERIFY(!refused.connect(settings(QString::number(server_.port()), QStringLiteral("wrong"))));
    QVERIFY(!refused.openAnother());
}

void TestSession::reportsAreBoxesOfTheRightKind() {
    REQUIRE_TEST_SERVER(serverUp_, serverReason_);
    MessageRecorder recorder;
    TestConnection(session_, settings(QStringLiteral("x"), server_.password()));
    QCOMPARE(recorder.boxes().size(), 2);
    QCOMPARE(recorder.boxes()[0].caption, ErrorTrap::caption());
    QCOMPARE(recorder.boxes()[0].icon, MessageBoxSpec::Icon::Warning);
    QCOMPARE(recorder.boxes()[1].caption, MessageSeam::applicationTitle());
    QCOMPARE(recorder.boxes()[1].icon, MessageBoxSpec::Icon::None);
}

void TestSession::emptyUserNameLogsInAnonymously_data() {
    QTest::addColumn<FtpTestServer::Kind>("kind");
    QTest::addColumn<bool>("anonymousAllowed");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("passwordSent"); // pyftpdlib logs it; empty: not checked

    const auto py = FtpTestServer::Kind::Pyftpdlib;
    const auto vs = FtpTestServer::Kind::Vsftpd;
    QTest::newRow("pyftpdlib, no password") << py << true << ""
                                            << "Connection OK." << QByteArray("PASS anonymous@");
    QTest::newRow("pyftpdlib, own password")
        << py << true << "me@example.org"
        << "Connection OK." << QByteArray("PASS me@example.org");
    QTest::newRow("pyftpdlib, anonymous not allowed") << py << false << ""
                                                      << "Could not connect." << QByteArray();
    QTest::newRow("vsftpd, no password") << vs << true << ""
                                         << "Connection OK." << QByteArray();
    QTest::newRow("vsftpd, anonymous not allowed") << vs << false << ""
                                                   << "Could not connect." << QByteArray();
}

void TestSession::emptyUserNameLogsInAnonymously() {
    QFETCH(FtpTestServer::Kind, kind);
    QFETCH(bool, anonymousAllowed);
    QFETCH(QString, password);
    QFETCH(QString, message);
    QFETCH(QByteArray, passwordSent);
    FtpTestServer::Options options;
    options.anonymous = anonymousAllowed;
    FtpTestServer server(kind, options);
    QString reason;
    if (!server.start(&reason))
        QSKIP(qPrintable(QStringLiteral("no test server: ") + reason));

    MessageRecorder recorder;
    Session session;
    TestConnection(session, {server.host(), QString::number(server.port()), QString(), password});

    QCOMPARE(recorder.texts(), QStringList{message});
    if (kind == FtpTestServer::Kind::Pyftpdlib) {
        const QList<QByteArray> log = server.commandLog();
        QVERIFY(log.contains("USER anonymous"));
        QVERIFY(!log.contains("USER"));
        if (!passwordSent.isEmpty())
            QVERIFY(log.contains(passwordSent));
    }
}

// A run carries out rows over several sessions, each from its own thread:
// handles opened, used and closed at once on different connections must never
// reach each other's objects. Every file arrives whole under its own name.
void TestSession::sessionsWorkFromSeveralThreadsAtOnce() {
    REQUIRE_TEST_SERVER(serverUp_, serverReason_);
    QVERIFY(server_.logIn(session_));
    std::vector<std::unique_ptr<Session>> sessions;
    for (int i = 0; i < 3; ++i) {
        sessions.push_back(session_.openAnother());
        QVERIFY(sessions.back());
    }
    sessions.push_back(nullptr); // the main session takes the last share

    constexpr int kFilesEach = 6;
    const QString folder = server_.remoteRoot() + QStringLiteral("threads/");
    QVERIFY(session_.createDirectory(folder));
    const auto content = [](int worker, int file) {
        return QByteArray(1000 * (file + 1), char('a' + worker)) + QByteArray::number(file);
    };
    std::atomic<int> failures{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < int(sessions.size()); ++w) {
        const Session& session = sessions[size_t(w)] ? *sessions[size_t(w)] : session_;
        workers.emplace_back([&, w] {
            for (int f = 0; f < kFilesEach; ++f) {
                const QString path = folder + QStringLiteral("w%1-%2.bin").arg(w).arg(f);
                const QByteArray bytes = content(w, f);
                auto file = session.openUpload(path);
                const bool ok =
                    file && (*file)->write(bytes.constData(), bytes.size()) && (*file)->finish();
                file = Failure{};
                if (!ok || !session.list(folder + QStringLiteral("*.*")))
                    ++failures;
            }
        });
    }
    for (std::thread& t : workers)
        t.join();
    QCOMPARE(failures.load(), 0);

    const QDir local(server_.rootPath() + QStringLiteral("/threads"));
    QCOMPARE(local.entryList(QDir::Files).size(), qsizetype(sessions.size()) * kFilesEach);
    for (int w = 0; w < int(sessions.size()); ++w) {
        for (int f = 0; f < kFilesEach; ++f) {
            QFile file(local.filePath(QStringLiteral("w%1-%2.bin").arg(w).arg(f)));
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), content(w, f));
        }
    }
}

QTEST_GUILESS_MAIN(TestSession)
#include "tst_session.moc"
