#include "compare/Compare.h"

#include "core/UiYield.h"

#include <QDir>
#include <QHash>
#include <QSet>
#include <QStringView>

#include <algorithm>
#include <vector>

// The finders key their indexes on views into the callers' lists, which stay
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

template <typename NameOf> QSet<QStringView> nameSet(const QStringList& paths, NameOf nameOf) {
    QSet<QStringView> names;
    names.reserve(paths.size());
    for (const QString& p : paths) {
        names.insert(nameOf(p));
        UiYield::processPending();
    }
    return names;
}

// The paths whose names none of the other paths bear, in their order.
template <typename NameOf, typename OtherNameOf>
QStringList unmatched(const QStringList& paths, NameOf nameOf, const QStringList& otherPaths,
                      OtherNameOf otherNameOf) {
    const QSet<QStringView> otherNames = nameSet(otherPaths, otherNameOf);
    QStringList result;
    for (const QString& p : paths) {
        UiYield::processPending();
        if (!otherNames.contains(nameOf(p)))
            result.append(p);
    }
    return result;
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

QStringList FindDeleteCandidates(const QStringList& localPaths, const QStringList& remotePaths) {
    return unmatched(remotePaths, remoteName, localPaths, localName);
}

QStringList FindUploadCandidates(const QStringList& localPaths, const QStringList& remotePaths) {
    return unmatched(localPaths, localName, remotePaths, remoteName);
}

QStringList FindOverwriteCandidates(const QStringList& localPaths, const QStringList& remotePaths,
                                    const QList<qint64>& localSizes,
                                    const QList<qint64>& remoteSizes) {
    // Per remote name its sizes in ascending order: the number of smaller
    // namesakes of a local file is then one binary search away.
    QHash<QStringView, std::vector<qint64>> remoteSizesByName;
    remoteSizesByName.reserve(remotePaths.size());
    for (qsizetype j = 0; j < remotePaths.size(); ++j) {
        remoteSizesByName[remoteName(remotePaths.at(j))].push_back(remoteSizes.value(j, 0));
        UiYield::processPending();
    }
    for (auto it = remoteSizesByName.begin(); it != remoteSizesByName.end(); ++it) {
        std::sort(it->begin(), it->end());
        UiYield::processPending();
    }

    QStringList result;
    for (qsizetype i = 0; i < localPaths.size(); ++i) {
        UiYield::processPending();
        const auto found = remoteSizesByName.constFind(localName(localPaths.at(i)));
        if (found == remoteSizesByName.cend())
            continue;
        const qint64 size = localSizes.value(i, 0);
        const auto smaller = std::lower_bound(found->begin(), found->end(), size) - found->begin();
        for (qsizetype k = 0; k < smaller; ++k)
            result.append(localPaths.at(i));
    }
    return result;
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
