#include "compare/Compare.h"

#include "compare/NameIndex.h"
#include "core/UiYield.h"

#include <QDir>
#include <QHash>
#include <QSet>
#include <QStringView>

#include <algorithm>
#include <vector>

// The finders index names by views into the callers' tables, which stay
// unchanged while a finder runs, so no name is copied.

namespace {

QStringView nameView(QStringView path, QChar separator) {
    return path.sliced(path.lastIndexOf(separator) + 1);
}

QStringView localName(const QString& path) {
    return nameView(path, QDir::separator());
}

QStringView remoteName(const QString& path) {
    return nameView(path, u'/');
}

// The paths whose names none of the other paths bear, in their order.
QStringList unmatched(const PathTable& paths, const PathTable& otherPaths) {
    const NameIndex otherNames(otherPaths);
    QStringList result;
    for (qsizetype i = 0; i < paths.size(); ++i) {
        UiYield::processPending();
        if (!otherNames.contains(paths.name(i)))
            result.append(paths.at(i));
    }
    return result;
}

PathTable localTable(const QStringList& paths) {
    return PathTable::fromStringList(paths, QDir::separator());
}

PathTable remoteTable(const QStringList& paths) {
    return PathTable::fromStringList(paths, u'/');
}

} // namespace

QString AfterLastBackslash(const QString& text) {
    return localName(text).toString();
}

QString FileNameOf(const QString& path, int kind) {
    switch (kind) {
    case 1:
        return AfterLastBackslash(path);
    case 2:
        return remoteName(path).toString();
    default:
        return {};
    }
}

QStringList FindDeleteCandidates(const PathTable& localPaths, const PathTable& remotePaths) {
    return unmatched(remotePaths, localPaths);
}

QStringList FindDeleteCandidates(const QStringList& localPaths, const QStringList& remotePaths) {
    return FindDeleteCandidates(localTable(localPaths), remoteTable(remotePaths));
}

QStringList FindUploadCandidates(const PathTable& localPaths, const PathTable& remotePaths) {
    return unmatched(localPaths, remotePaths);
}

QStringList FindUploadCandidates(const QStringList& localPaths, const QStringList& remotePaths) {
    return FindUploadCandidates(localTable(localPaths), remoteTable(remotePaths));
}

QStringList FindOverwriteCandidates(const PathTable& localPaths, const PathTable& remotePaths,
                                    const QList<qint64>& localSizes,
                                    const QList<qint64>& remoteSizes) {
    const NameIndex remoteNames(remotePaths);
    QStringList result;
    for (qsizetype i = 0; i < localPaths.size(); ++i) {
        UiYield::processPending();
        const qint64 size = localSizes.value(i, 0);
        // Once for every smaller remote namesake.
        qsizetype smaller = 0;
        for (qsizetype j = remoteNames.first(localPaths.name(i)); j >= 0; j = remoteNames.next(j))
            smaller += remoteSizes.value(j, 0) < size ? 1 : 0;
        if (smaller == 0)
            continue;
        const QString path = localPaths.at(i);
        for (qsizetype k = 0; k < smaller; ++k)
            result.append(path);
    }
    return result;
}

QStringList FindOverwriteCandidates(const QStringList& localPaths, const QStringList& remotePaths,
                                    const QList<qint64>& localSizes,
                                    const QList<qint64>& remoteSizes) {
    return FindOverwriteCandidates(localTable(localPaths), remoteTable(remotePaths), localSizes,
                                   remoteSizes);
}

QString trimRoot(const QString& path, const QString& root) {
    // Positions counted from 1, 0 when the root does not occur: the text from
    // position (length of root + that position) on.
    const qsizetype found = path.indexOf(root) + 1;
    const qsizetype start = root.size() + found - 1;
    if (start >= path.size())
        return QString();
    return path.mid(start);
}
