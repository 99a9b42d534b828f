#include "core/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <map>
#include <memory>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {
std::map<QString, std::unique_ptr<QSettings>>& cache() {
    static std::map<QString, std::unique_ptr<QSettings>> c;
    return c;
}

// Creates the file (and its folder) owner-only before any value is written, and
// narrows an existing file that is readable by others.
void protectFile(const QString& path) {
#ifdef Q_OS_UNIX
    const QString dir = QFileInfo(path).absolutePath();
    QDir().mkpath(dir);
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::fchmod(fd, 0600);
        ::close(fd);
    }
#else
    Q_UNUSED(path);
#endif
}

QSettings& settingsFor(const QString& appName) {
    auto& c = cache();
    auto it = c.find(appName);
    if (it == c.end()) {
        auto s = std::make_unique<QSettings>(SettingsFilePath(appName), QSettings::IniFormat);
        it = c.emplace(appName, std::move(s)).first;
    }
    return *it->second;
}

QString keyOf(const QString& section, const QString& key) {
    return section + QLatin1Char('/') + key;
}
} // namespace

QString SettingsFilePath(const QString& appName) {
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QLatin1Char('/') + appName + QStringLiteral(".ini");
}

QString GetSetting(const QString& appName, const QString& section, const QString& key,
                   const QString& defaultValue) {
    QSettings& s = settingsFor(appName);
    const QVariant v = s.value(keyOf(section, key));
    if (!v.isValid())
        return defaultValue;
    return v.toString();
}

void SaveSetting(const QString& appName, const QString& section, const QString& key,
                 const QString& value) {
    QSettings& s = settingsFor(appName);
    protectFile(s.fileName());
    s.setValue(keyOf(section, key), value);
    // A store that cannot be written keeps the value for this session.
    s.sync();
}

bool HasSetting(const QString& appName, const QString& section, const QString& key) {
    return settingsFor(appName).contains(keyOf(section, key));
}

void RemoveSetting(const QString& appName, const QString& section, const QString& key) {
    QSettings& s = settingsFor(appName);
    if (!s.contains(keyOf(section, key)))
        return;
    s.remove(keyOf(section, key));
    s.sync();
}

void ResetSettingsCache() {
    cache().clear();
}
