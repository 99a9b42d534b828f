#include "AddFolder.h"

#include <QDir>

// Placeholder bodies; the real walk replaces them.
bool IsDirectory(const QString&) {
    return false;
}
bool HasUnsafeChars(const QString&) {
    return false;
}
void GetSubDirectories2016(QStringList&, bool) {}
QStringList GetFileList(const QString&, const QString&) {
    return {};
}
bool CanOpenFile(const QString&) {
    return false;
}
QChar PathSeparator() {
    return QDir::separator();
}
