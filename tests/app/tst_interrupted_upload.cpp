// The built program cut off in the middle of an upload over a slow line: its
// window closed by the window manager's close button, or the process killed.
// Whatever happens, the server holds either the old copy or the whole new file
// under the real name, never a part of one.
#include "core/SettingsStore.h"
#include "tests/support/AppSandbox.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestServers.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

// Last: the X headers define macros that Qt's headers use as names.
#include "tests/support/XvfbDisplay.h"

namespace {

// Slow enough that an upload of kFileSize takes a few seconds, so that it is
// caught in flight however loaded the machine is.
constexpr qint64 kLineBytesPerSecond = 512 * 1024;
constexpr qint64 kFileSize = 1536 * 1024;

const QString kOverwritten = QStringLiteral("report.bin");
const QString kAdded = QStringLiteral("added.bin");

QByteArray randomBytes(qint64 size, quint32 seed) {
    QRandomGenerator random(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& c : bytes)
        c = char(random.bounded(256));
    return bytes;
}

QByteArray sha256(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

// The main window's client area, in twips.
constexpr int kClientWidthTwips = 8760;

// The centre of a push button placed at (left, top, width, height) twips.
QPoint buttonCentre(QSize window, int left, int top, int width, int height) {
    const double scale = double(window.width()) / kClientWidthTwips;
    return QPoint(int((left + width / 2.0) * scale), int((top + height / 2.0) * scale));
}

} // namespace

class TestInterruptedUpload : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void closingTheWindow_data();
    void closingTheWindow();
    void killingTheProgram_data();
    void killingTheProgram();

private:
    void rows();
    bool startServer(FtpTestServer::Kind kind);
    QString remoteFolder() const { return server_->rootPath() + QStringLiteral("/www"); }
    // The server's file of that name below the remote folder ("" when absent).
    QByteArray remoteFile(const QString& name) const;
    // The names below the remote folder that begin with "~".
    QStringList temporaryFiles() const;
    // How many bytes the temporary upload of that file holds so far (-1: none).
    qint64 partSize(const QString& name) const;
    QStringList commandLine(const QString& command) const;
    QProcessEnvironment environment() const;

    std::unique_ptr<XvfbDisplay> display_;
    bool displayUp_ = false;
    QString displayReason_;
    std::unique_ptr<AppSandbox> sandbox_;
    std::unique_ptr<FtpTestServer> server_;
    std::unique_ptr<QTemporaryDir> local_;
    QByteArray oldCopy_;
    QByteArray newCopy_;
    QByteArray addedCopy_;
};

void TestInterruptedUpload::initTestCase() {
    display_ = std::make_unique<XvfbDisplay>();
    displayUp_ = display_->start(&displayReason_);
}

void TestInterruptedUpload::init() {
    sandbox_ = std::make_unique<AppSandbox>();
    local_ = std::make_unique<QTemporaryDir>();
    QVERIFY(local_->isValid());
    oldCopy_ = randomBytes(kFileSize / 3, 1);
    newCopy_ = randomBytes(kFileSize, 2);
    addedCopy_ = randomBytes(kFileSize, 3);
    QVERIFY(TestFiles::writeFile(local_->filePath(kOverwritten), newCopy_));
    QVERIFY(TestFiles::writeFile(local_->filePath(kAdded), addedCopy_));
}

void TestInterruptedUpload::cleanup() {
    server_.reset();
    local_.reset();
    sandbox_.reset();
}

// Which upload is cut off: the one that replaces an older, smaller copy, or
// the one of a file the server does not have yet; with the uploads running
// side by side (the default), or one after the other.
void TestInterruptedUpload::rows() {
    QTest::addColumn<FtpTestServer::Kind>("kind");
    QTest::addColumn<QString>("cutOff");
    QTest::addColumn<QString>("transfers");
    for (const auto& [label, kind] : {std::pair{"pyftpdlib", FtpTestServer::Kind::Pyftpdlib},
                                      std::pair{"vsftpd", FtpTestServer::Kind::Vsftpd}}) {
        QTest::addRow("%s, overwrite", label) << kind << kOverwritten << QString();
        QTest::addRow("%s, new file", label) << kind << kAdded << QString();
    }
    QTest::newRow("pyftpdlib, overwrite, one transfer")
        << FtpTestServer::Kind::Pyftpdlib << kOverwritten << QStringLiteral("1");
}

bool TestInterruptedUpload::startServer(FtpTestServer::Kind kind) {
    QFETCH(QString, transfers);
    if (!transfers.isNull())
        SaveSetting("Tarvex", "Pellmor", "Transfers", transfers);
    FtpTestServer::Options options;
    options.uploadBytesPerSecond = kLineBytesPerSecond;
    server_ = std::make_unique<FtpTestServer>(kind, options);
    if (!TestServers::start(*server_, __FILE__, __LINE__))
        return false;
    if (!QDir().mkpath(remoteFolder()) ||
        !TestFiles::writeFile(remoteFolder() + QLatin1Char('/') + kOverwritten, oldCopy_)) {
        QTest::qFail("cannot write below the server's root folder", __FILE__, __LINE__);
        return false;
    }
    server_->ownFiles();
    // What the window's boxes hold when it starts.
    SaveSetting("Tarvex", "Pellmor", "HostName", server_->hostText());
    SaveSetting("Tarvex", "Pellmor", "Port", QString::number(server_->port()));
    SaveSetting("Tarvex", "Pellmor", "UserName", server_->user());
    SaveSetting("Tarvex", "Pellmor", "Password", server_->password());
    SaveSetting("Tarvex", "Pellmor", "Remote Folder", server_->remoteRoot() + "www/");
    SaveSetting("Tarvex", "Pellmor", "Text1", local_->path());
    return true;
}

QByteArray TestInterruptedUpload::remoteFile(const QString& name) const {
    QFile f(remoteFolder() + QLatin1Char('/') + name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList TestInterruptedUpload::temporaryFiles() const {
    return QDir(remoteFolder())
        .entryList({QStringLiteral("~*")}, QDir::Files | QDir::Hidden | QDir::System);
}

qint64 TestInterruptedUpload::partSize(const QString& name) const {
    const QFileInfoList parts = QDir(remoteFolder())
                                    .entryInfoList({QLatin1Char('~') + name + QStringLiteral(".*")},
                                                   QDir::Files | QDir::Hidden | QDir::System);
    return parts.isEmpty() ? -1 : parts.first().size();
}

QStringList TestInterruptedUpload::commandLine(const QString& command) const {
    return {command,
            "--host",
            server_->hostText(),
            "--port",
            QString::number(server_->port()),
            "--user",
            server_->user(),
            "--remote",
            server_->remoteRoot() + "www/",
            "--local",
            local_->path()};
}

QProcessEnvironment TestInterruptedUpload::environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", sandbox_->configFolder());
    env.insert("PELLMOR_PASSWORD", server_->password());
    env.remove("QT_QPA_PLATFORM");
    env.remove("DISPLAY");
    return env;
}

void TestInterruptedUpload::closingTheWindow_data() {
    rows();
}

void TestInterruptedUpload::closingTheWindow() {
    QFETCH(FtpTestServer::Kind, kind);
    QFETCH(QString, cutOff);
    REQUIRE_TEST_SERVER(displayUp_, displayReason_);
    if (!startServer(kind))
        return;

    QProcess program;
    QProcessEnvironment env = environment();
    env.insert("DISPLAY", display_->name());
    env.insert("QT_QPA_PLATFORM", "xcb");
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(QStringLiteral(PELLMOR_BINARY), {});
    QVERIFY(program.waitForStarted(10000));
    Window window = 0;
    QTRY_VERIFY_WITH_TIMEOUT((window = display_->findTopLevel("Pellmor")) != 0, 30000);
    const QSize size = display_->size(window);

    // "1. Start Comparing Local and FTP Folders", then "2. Start Syncing": the
    // sync button does nothing while the compare runs, so it is pressed until
    // the first upload has begun.
    display_->click(window, buttonCentre(size, 120, 4245, 8520, 405));
    const QPoint sync = buttonCentre(size, 120, 7980, 8520, 405);
    QTRY_VERIFY_WITH_TIMEOUT(!temporaryFiles().isEmpty() || (display_->click(window, sync), false),
                             60000);
    QTRY_VERIFY_WITH_TIMEOUT(partSize(cutOff) >= kFileSize / 3, 60000);
    QVERIFY2(program.state() == QProcess::Running, "the program ended before it was closed");
    // While the new copy travels, the old one stays whole under the real name.
    if (cutOff == kOverwritten)
        QCOMPARE(sha256(remoteFile(kOverwritten)), sha256(oldCopy_));

    display_->requestClose(window);
    QVERIFY(program.waitForFinished(60000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);

    // The upload that was cut off left the server as it was; the other one,
    // if it ran, either arrived whole or not at all.
    const QByteArray overwritten = remoteFile(kOverwritten);
    if (cutOff == kOverwritten)
        QCOMPARE(sha256(overwritten), sha256(oldCopy_));
    else
        QVERIFY(sha256(overwritten) == sha256(oldCopy_) || sha256(overwritten) == sha256(newCopy_));
    const QByteArray added = remoteFile(kAdded);
    if (cutOff == kAdded)
        QVERIFY(!QFile::exists(remoteFolder() + QLatin1Char('/') + kAdded));
    else
        QVERIFY(added.isEmpty() || sha256(added) == sha256(addedCopy_));
    // The window had time to take its temporary file away.
    QCOMPARE(temporaryFiles(), QStringList());
}

void TestInterruptedUpload::killingTheProgram_data() {
    rows();
}

void TestInterruptedUpload::killingTheProgram() {
    QFETCH(FtpTestServer::Kind, kind);
    QFETCH(QString, cutOff);
    if (!startServer(kind))
        return;

    QProcess program;
    program.setProcessEnvironment(environment());
    program.setStandardInputFile(QProcess::nullDevice());
    program.setStandardOutputFile(QProcess::nullDevice());
    program.start(QStringLiteral(PELLMOR_BINARY), commandLine("sync") << "--yes");
    QVERIFY(program.waitForStarted(10000));
    QTRY_VERIFY_WITH_TIMEOUT(partSize(cutOff) >= kFileSize / 3, 60000);
    QVERIFY2(program.state() == QProcess::Running, "the program ended before it was killed");
    program.kill();
    QVERIFY(program.waitForFinished(30000));

    if (cutOff == kOverwritten)
        QCOMPARE(sha256(remoteFile(kOverwritten)), sha256(oldCopy_));
    else
        QVERIFY(!QFile::exists(remoteFolder() + QLatin1Char('/') + kAdded));
    // Nothing was left to take the temporary file away; the next compare
    // proposes it for deletion, and the next sync brings the server in line.
    const QStringList leftOver = temporaryFiles();

    QProcess compare;
    compare.setProcessEnvironment(environment());
    compare.setStandardInputFile(QProcess::nullDevice());
    compare.start(QStringLiteral(PELLMOR_BINARY), commandLine("compare"));
    QVERIFY(compare.waitForFinished(60000));
    const QString rows = QString::fromLocal8Bit(compare.readAllStandardOutput());
    for (const QString& name : leftOver) {
        const QString deleteRow =
            QStringLiteral("could be deleted\t%1www/%2\t\n").arg(server_->remoteRoot(), name);
        QVERIFY2(rows.contains(deleteRow), qPrintable(rows));
    }

    QProcess again;
    again.setProcessEnvironment(environment());
    again.setStandardInputFile(QProcess::nullDevice());
    again.start(QStringLiteral(PELLMOR_BINARY), commandLine("sync") << "--yes");
    QVERIFY(again.waitForFinished(120000));
    QCOMPARE(again.exitStatus(), QProcess::NormalExit);
    QCOMPARE(again.exitCode(), 0);
    QCOMPARE(QDir(remoteFolder()).entryList(QDir::Files | QDir::Hidden | QDir::System),
             QStringList({kAdded, kOverwritten}));
    QCOMPARE(sha256(remoteFile(kOverwritten)), sha256(newCopy_));
    QCOMPARE(sha256(remoteFile(kAdded)), sha256(addedCopy_));
}

QTEST_GUILESS_MAIN(TestInterruptedUpload)
#include "tst_interrupted_upload.moc"
