#include "FtpTestServer.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace {

const char* const kPython = "/usr/bin/python3";
const int kStartTimeoutMs = 15000;

QString setReason(QString* reason, const QString& text) {
    if (reason)
        *reason = text;
    return text;
}

} // namespace

FtpTestServer::FtpTestServer(Kind kind) : kind_(kind) {}
FtpTestServer::FtpTestServer(Kind kind, Options options) : kind_(kind), options_(options) {}
FtpTestServer::~FtpTestServer() {
    stop();
}

bool FtpTestServer::start(QString* reason) {
    stop();
    dir_ = std::make_unique<QTemporaryDir>();
    workDir_ = std::make_unique<QTemporaryDir>();
    if (!dir_->isValid() || !workDir_->isValid()) {
        setReason(reason, QStringLiteral("cannot create a temporary folder"));
        return false;
    }
    return kind_ == Kind::Pyftpdlib ? startPyftpdlib(reason) : startVsftpd(reason);
}

bool FtpTestServer::startPyftpdlib(QString* reason) {
    const QString script = QStringLiteral(PELLMOR_TEST_SUPPORT_DIR "/ftpserver.py");
    if (!QFileInfo::exists(QString::fromLatin1(kPython)) || !QFileInfo::exists(script)) {
        setReason(reason, QStringLiteral("/usr/bin/python3 or ftpserver.py missing"));
        return false;
    }
    writeFaults();
    QStringList args{script,
                     QStringLiteral("--root"),
                     dir_->path(),
                     QStringLiteral("--user"),
                     user(),
                     QStringLiteral("--password"),
                     password(),
                     QStringLiteral("--port"),
                     QStringLiteral("0"),
                     QStringLiteral("--faults"),
                     workDir_->filePath(QStringLiteral("faults.json")),
                     QStringLiteral("--log"),
                     workDir_->filePath(QStringLiteral("commands.log"))};
    if (options_.hideMlsd)
        args << QStringLiteral("--hide-mlsd");
    if (options_.dosListing)
        args << QStringLiteral("--dos-list");
    process_ = std::make_unique<QProcess>();
    process_->setProcessChannelMode(QProcess::SeparateChannels);
    process_->start(QString::fromLatin1(kPython), args);
    if (!process_->waitForStarted(kStartTimeoutMs)) {
        setReason(reason,
                  QStringLiteral("cannot start /usr/bin/python3: ") + process_->errorString());
        process_.reset();
        return false;
    }
    return waitForPortLine(reason);
}

bool FtpTestServer::waitForPortLine(QString* reason) {
    QDeadlineTimer deadline(kStartTimeoutMs);
    QByteArray out;
    while (!deadline.hasExpired()) {
        if (!process_->canReadLine() &&
            !process_->waitForReadyRead(int(deadline.remainingTime()))) {
            if (process_->state() == QProcess::NotRunning)
                break;
            continue;
        }
        while (process_->canReadLine()) {
            const QByteArray line = process_->readLine().trimmed();
            if (line.startsWith("PORT ")) {
                bool ok = false;
                const uint port = line.mid(5).toUInt(&ok);
                if (ok && port > 0 && port < 65536) {
                    port_ = quint16(port);
                    return true;
                }
            }
        }
    }
    const QString err = QString::fromLocal8Bit(process_->readAllStandardError()).trimmed();
    setReason(reason, QStringLiteral("the FTP server did not start: ") + err.right(500));
    stop();
    return false;
}

bool FtpTestServer::startVsftpd(QString* reason) {
    setReason(reason, QStringLiteral("vsftpd not supported yet"));
    return false;
}

void FtpTestServer::stop() {
    if (process_) {
        process_->closeWriteChannel();
        process_->terminate();
        if (!process_->waitForFinished(5000)) {
            process_->kill();
            process_->waitForFinished(5000);
        }
        process_.reset();
    }
    port_ = 0;
}

QString FtpTestServer::user() const {
    return QStringLiteral("user");
}
QString FtpTestServer::password() const {
    return QStringLiteral("secret");
}
QString FtpTestServer::rootPath() const {
    return dir_ ? dir_->path() : QString();
}

void FtpTestServer::addFault(const Fault& fault) {
    faults_.append(fault);
    faultIds_.append(nextFaultId_++);
    writeFaults();
}

void FtpTestServer::clearFaults() {
    faults_.clear();
    faultIds_.clear();
    writeFaults();
}

void FtpTestServer::writeFaults() {
    if (!workDir_)
        return;
    QJsonArray list;
    // Ids let the server count firings per fault, so a rewritten file does
    // not reset the faults that already fired.
    for (qsizetype i = 0; i < faults_.size(); ++i) {
        const Fault& f = faults_[i];
        QJsonObject o;
        o[QStringLiteral("id")] = faultIds_[i];
        o[QStringLiteral("command")] = f.command.toUpper();
        o[QStringLiteral("action")] = f.action;
        o[QStringLiteral("afterBytes")] = double(f.afterBytes);
        o[QStringLiteral("delayMs")] = f.delayMs;
        o[QStringLiteral("count")] = f.count;
        o[QStringLiteral("pathContains")] = f.pathContains;
        list.append(o);
    }
    QSaveFile file(workDir_->filePath(QStringLiteral("faults.json")));
    if (file.open(QIODevice::WriteOnly)) {
        file.write(QJsonDocument(list).toJson(QJsonDocument::Compact));
        file.commit();
    }
}

QList<QByteArray> FtpTestServer::commandLog() const {
    if (!workDir_)
        return {};
    QFile file(workDir_->filePath(QStringLiteral("commands.log")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> lines = file.readAll().split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}
