#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

// Files and trees for tests, made below folders the test owns. Every writer
// creates the missing parent folders and answers false when the system refuses.
namespace TestFiles {

bool writeFile(const QString& path, const QByteArray& bytes);

// A file of the given length whose content does not matter (sparse, so that
// sizes beyond 2 GiB cost no disk).
bool writeSizedFile(const QString& path, qint64 size);

// Relative path ("/"-separated) to length in bytes; a key that ends in "/"
// makes an empty folder.
using SizedTree = QMap<QString, qint64>;
bool makeTree(const QString& root, const SizedTree& tree);

// The content, or "<missing>" when the file cannot be read, so that a missing
// file never compares equal to an empty one.
QByteArray readFile(const QString& path);

// size bytes in which every byte value occurs (CR, LF and NUL included) and
// no block of 256 repeats the one before.
QByteArray everyByteValue(qint64 size);

QByteArray sha256(const QByteArray& bytes);

// Every file below root (path relative to root) with its size, modification
// time and hash: equal snapshots mean nothing below root changed.
QMap<QString, QString> snapshot(const QString& root);

} // namespace TestFiles
