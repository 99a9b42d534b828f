#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "core/PathTable.h"

// Matching local and remote files by file name alone (exact, letter case
// counting), wherever they lie in either tree. Each finder indexes the names
// once, so it costs time proportional to the sum of the list lengths.

// The part after the last platform separator; the whole text without one.
QString AfterLastBackslash(const QString& text);

// kind 1: a local path (AfterLastBackslash); kind 2: a remote path (after the
// last "/"); any other kind: the empty text.
QString FileNameOf(const QString& path, int kind);

// The finders below take the trees as path tables (compact, for large trees),
// or as lists of whole paths (local ones with the platform's separator,
// remote ones with "/").

// Remote paths whose name no local path bears, in remote order.
QStringList FindDeleteCandidates(const PathTable& localPaths, const PathTable& remotePaths);
QStringList FindDeleteCandidates(const QStringList& localPaths, const QStringList& remotePaths);

// Local paths whose name no remote path bears, in local order.
QStringList FindUploadCandidates(const PathTable& localPaths, const PathTable& remotePaths);
QStringList FindUploadCandidates(const QStringList& localPaths, const QStringList& remotePaths);

// Local paths with a smaller remote namesake, once per such remote file, in
// local order. Missing size entries count as 0.
QStringList FindOverwriteCandidates(const PathTable& localPaths, const PathTable& remotePaths,
                                    const QList<qint64>& localSizes,
                                    const QList<qint64>& remoteSizes);
QStringList FindOverwriteCandidates(const QStringList& localPaths, const QStringList& remotePaths,
                                    const QList<qint64>& localSizes,
                                    const QList<qint64>& remoteSizes);

// What follows the first occurrence of root in path (see the compare run).
QString trimRoot(const QString& path, const QString& root);
