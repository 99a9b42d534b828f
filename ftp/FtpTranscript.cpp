#include "ftp/FtpTranscript.h"

#include <QDateTime>
#include <QFile>

#include <memory>
#include <mutex>

Q_LOGGING_CATEGORY(lcFtp, "pellmor.ftp", QtWarningMsg)

namespace FtpTranscript {

namespace {

const char* const kVariable = "PELLMOR_FTP_LOG";

// Where the lines go, following PELLMOR_FTP_LOG as it is now. Several sessions
// may write at once, each from its own thread; the lock keeps lines whole.
std::recursive_mutex sinkMutex;

struct Sink {
    QByteArray setting;
    bool forced = false; // "1": on whatever the logging rules say
    std::unique_ptr<QFile> file;
};

Sink& sink() {
    const std::lock_guard lock(sinkMutex);
    static Sink s;
    const QByteArray setting = qgetenv(kVariable);
    if (setting == s.setting)
        return s;
    s.setting = setting;
    s.forced = setting == "1";
    s.file.reset();
    if (!setting.isEmpty() && !s.forced) {
        s.file = std::make_unique<QFile>(QFile::decodeName(setting));
        if (!s.file->open(QIODevice::WriteOnly | QIODevice::Append))
            s.file.reset();
    }
    return s;
}

void write(const QString& text) {
    const QString line =
        QDateTime::currentDateTime().toString(Qt::ISODateWithMs) + QLatin1Char(' ') + text;
    const std::lock_guard lock(sinkMutex);
    Sink& s = sink();
    if (s.file) {
        s.file->write(line.toUtf8() + '\n');
        s.file->flush();
    } else {
        // Past the category's own filter, which enabled() has already asked.
        QMessageLogger(nullptr, 0, nullptr, lcFtp().categoryName()).debug().noquote() << line;
    }
}

} // namespace

bool enabled() {
    const std::lock_guard lock(sinkMutex);
    const Sink& s = sink();
    return s.file || s.forced || lcFtp().isDebugEnabled();
}

QString tag(int connection) {
    return QStringLiteral("#%1 ").arg(connection);
}

void sent(const QByteArray& line, int connection) {
    if (!enabled())
        return;
    const bool password = line.left(5).toUpper() == "PASS " || line.toUpper() == "PASS";
    write(tag(connection) + QStringLiteral("> ") +
          (password ? QStringLiteral("PASS ******") : QString::fromUtf8(line)));
}

void received(const QByteArray& line, int connection) {
    if (enabled())
        write(tag(connection) + QStringLiteral("< ") + QString::fromUtf8(line));
}

void failure(int code, const char* text, int connection) {
    if (enabled())
        write(tag(connection) +
              QStringLiteral("libcurl %1: %2").arg(code).arg(QString::fromUtf8(text)));
}

void note(const QString& text, int connection) {
    if (enabled())
        write(tag(connection) + text);
}

RunScope::RunScope(const char* run, const ConnectionSettings& settings, const QString& remoteFolder,
                   const QString& localFolder)
    : run_(run) {
    if (enabled())
        write(QStringLiteral("%1 run starts: host \"%2\", port \"%3\", user \"%4\", "
                             "remote folder \"%5\", local folder \"%6\"")
                  .arg(QLatin1String(run_), settings.hostName, settings.portText, settings.userName,
                       remoteFolder, localFolder));
}

RunScope::~RunScope() {
    if (enabled())
        write(QStringLiteral("%1 run ends").arg(QLatin1String(run_)));
}

} // namespace FtpTranscript
