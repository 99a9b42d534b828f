#include "tests/support/TestFiles.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace TestFiles {

namespace {
bool makeParent(const QString& path) {
    return QDir().mkpath(QFileInfo(path).absolutePath());
}
} // namespace

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return makeParent(path) && f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

bool writeSizedFile(const QString& path, qint64 size) {
    QFile f(path);
    return makeParent(path) && f.open(QIODevice::WriteOnly) && f.resize(size);
}

bool makeTree(const QString& root, const SizedTree& tree) {
    for (auto it = tree.begin(); it != tree.end(); ++it) {
        const QString path = root + QLatin1Char('/') + it.key();
        const bool made =
            it.key().endsWith(u'/') ? QDir().mkpath(path) : writeSizedFile(path, it.value());
        if (!made)
            return false;
    }
    return true;
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArrayLiteral("<missing>");
    return f.readAll();
}

QByteArray everyByteValue(qint64 size) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + i / 256) & 0xFF);
    return bytes;
}

QByteArray sha256(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

QMap<QString, QString> snapshot(const QString& root) {
    QMap<QString, QString> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info(path);
        files.insert(path.mid(root.size()),
                     QStringLiteral("%1 %2 %3")
                         .arg(info.size())
                         .arg(info.lastModified().toMSecsSinceEpoch())
                         .arg(QString::fromLatin1(sha256(readFile(path)).toHex())));
    }
    return files;
}

} // namespace TestFiles
