#include "Compare.h"

// Placeholder bodies; the real matching replaces them.
QString AfterLastBackslash(const QString& text) {
    return text;
}
QString FileNameOf(const QString& path, int) {
    return path;
}
QStringList FindDeleteCandidates(const QStringList&, const QStringList&) {
    return {};
}
QStringList FindUploadCandidates(const QStringList&, const QStringList&) {
    return {};
}
QStringList FindOverwriteCandidates(const QStringList&, const QStringList&, const QList<qint64>&,
                                    const QList<qint64>&) {
    return {};
}
QString trimRoot(const QString& path, const QString&) {
    return path;
}
