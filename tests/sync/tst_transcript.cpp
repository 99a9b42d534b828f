// The FTP transcript of a compare run and a sync run against a loopback
// server: what it records, where it goes, and that the password stays out.

#include "compare/CompareRun.h"
#include "ftp/FtpTranscript.h"
#include "sync/SyncRun.h"
#include "tests/support/FakeHost.h"
#include "tests/support/MessageRecorder.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestServers.h"

#include <QLoggingCategory>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <curl/curl.h>

namespace {

// Every message of the transcript's category, while installed.
QStringList* captured = nullptr;
QtMessageHandler previousHandler = nullptr;

void capture(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (captured && context.category && QByteArray(context.category) == "pellmor.ftp")
        captured->append(text);
    else
        previousHandler(type, context, text);
}

enum class Switch { LoggingRules, VariableOne, VariableFile };

} // namespace

Q_DECLARE_METATYPE(Switch)

class TestTranscript : public QObject {
    Q_OBJECT

private slots:
    void init() {
        messages_.clear();
        captured = &messages_;
        previousHandler = qInstallMessageHandler(capture);
        local_ = std::make_unique<QTemporaryDir>();
        logDir_ = std::make_unique<QTemporaryDir>();
    }
    void cleanup() {
        qInstallMessageHandler(previousHandler);
        captured = nullptr;
        qunsetenv("PELLMOR_FTP_LOG");
        FtpTranscript::enabled(); // lets the transcript see the variable gone
        QLoggingCategory::setFilterRules(QString());
    }

    void compareAndSyncAreRecorded_data() {
        QTest::addColumn<Switch>("how");
        QTest::addColumn<QString>("password");
        const struct {
            const char* name;
            Switch how;
        } switches[] = {{"logging rules", Switch::LoggingRules},
                        {"PELLMOR_FTP_LOG=1", Switch::VariableOne},
                        {"PELLMOR_FTP_LOG=file", Switch::VariableFile}};
        for (const auto& s : switches) {
            QTest::addRow("%s, plain password", s.name) << s.how << QStringLiteral("secret");
            QTest::addRow("%s, blanks and signs", s.name)
                << s.how << QStringLiteral("p@ss w0rd:%;\"*");
        }
    }
    void compareAndSyncAreRecorded() {
        QFETCH(Switch, how);
        QFETCH(QString, password);
        FtpTestServer server;
        server.setPassword(password);
        START_TEST_SERVER(server);
        QVERIFY(TestFiles::writeFile(server.rootPath() + QStringLiteral("/www/gone.txt"), "x"));
        QVERIFY(TestFiles::writeFile(local_->filePath(QStringLiteral("new.txt")), "hello"));
        const QString logFile = logDir_->filePath(QStringLiteral("ftp.log"));
        switch (how) {
        case Switch::LoggingRules:
            QLoggingCategory::setFilterRules(QStringLiteral("pellmor.ftp.debug=true"));
            break;
        case Switch::VariableOne:
            qputenv("PELLMOR_FTP_LOG", "1");
            break;
        case Switch::VariableFile:
            qputenv("PELLMOR_FTP_LOG", QFile::encodeName(logFile));
            break;
        }

        FakeHost host;
        host.recreateColumns();
        host.hostName = server.host();
        host.port = QString::number(server.port());
        host.userName = server.user();
        host.password = password;
        host.remoteFolder = QStringLiteral("/www/");
        host.localFolder = local_->path() + QLatin1Char('/');
        MessageRecorder boxes;
        RunCompare(host);
        QCOMPARE(host.model.rowCount(), 2); // delete gone.txt, upload new.txt
        RunSync(host);
        QCOMPARE(boxes.texts(), QStringList{QStringLiteral("Done.")});
        host.mainSession.close();

        const QStringList lines =
            how == Switch::VariableFile
                ? QString::fromUtf8(TestFiles::readFile(logFile)).split(u'\n', Qt::SkipEmptyParts)
                : messages_;
        if (how == Switch::VariableFile)
            QVERIFY(messages_.isEmpty());
        QVERIFY(!lines.isEmpty());
        const QRegularExpression stamped(
            QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3} )"));
        // Command and reply lines name their connection.
        const QRegularExpression exchange(QStringLiteral(R"( [<>] )"));
        const QRegularExpression tagged(QStringLiteral(R"(^\S+ #\d+ [<>] )"));
        for (const QString& line : lines) {
            QVERIFY2(stamped.match(line).hasMatch(), qPrintable(line));
            QVERIFY2(!line.contains(password), qPrintable(line));
            if (line.contains(exchange) && !line.contains(QLatin1String(" run ")))
                QVERIFY2(tagged.match(line).hasMatch(), qPrintable(line));
        }
        const QString text = lines.join(u'\n');
        for (const char* expected :
             {"compare run starts: host \"127.0.0.1\"", "user \"user\"", "remote folder \"/www/\"",
              "> USER user", "< 331 ", "> PASS ******", "< 230 ", "> MLSD", "< 226 ",
              "compare run ends", "sync run starts", "> DELE ", "< 250 ", "> STOR ",
              "sync run ends"})
            QVERIFY2(text.contains(QLatin1String(expected)), expected);
        QVERIFY(text.indexOf(QLatin1String("compare run ends")) <
                text.indexOf(QLatin1String("sync run starts")));
    }

    void offByDefault() {
        FtpTestServer server;
        START_TEST_SERVER(server);
        Session session;
        QVERIFY(session.openInternet());
        QVERIFY(session.connect(server.settings()));
        session.close();
        QVERIFY(!FtpTranscript::enabled());
        QCOMPARE(messages_, QStringList());
    }

    void failuresCarryLibcurlsVerdict_data() {
        QTest::addColumn<bool>("refusedPort");
        QTest::addColumn<int>("code");
        QTest::newRow("nothing listens") << true << int(CURLE_COULDNT_CONNECT);
        QTest::newRow("wrong password") << false << int(CURLE_LOGIN_DENIED);
    }
    void failuresCarryLibcurlsVerdict() {
        QFETCH(bool, refusedPort);
        QFETCH(int, code);
        FtpTestServer server;
        START_TEST_SERVER(server);
        ConnectionSettings settings = server.settings();
        if (refusedPort)
            settings.portText = QString::number(FtpTestServer::freeLoopbackPort());
        else
            settings.password = QStringLiteral("wrong");
        QLoggingCategory::setFilterRules(QStringLiteral("pellmor.ftp.debug=true"));

        Session session;
        QVERIFY(session.openInternet());
        QVERIFY(!session.connect(settings));

        const QString verdict = QStringLiteral("libcurl %1: %2")
                                    .arg(code)
                                    .arg(QString::fromUtf8(curl_easy_strerror(CURLcode(code))));
        QVERIFY2(messages_.filter(verdict).size() == 1, qPrintable(messages_.join(u'\n')));
        QVERIFY(!messages_.join(u'\n').contains(QLatin1String("wrong")));
    }

private:
    QStringList messages_;
    std::unique_ptr<QTemporaryDir> local_;
    std::unique_ptr<QTemporaryDir> logDir_;
};

QTEST_GUILESS_MAIN(TestTranscript)
#include "tst_transcript.moc"
