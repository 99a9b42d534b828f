#pragma once

#include <QFile>
#include <QString>
#include <QStringList>

// Local folders: the tree walk and the file lists of one folder. Paths use the
// platform's separator; a folder path in a folder list ends with it.

// True when the path can be queried and is a folder. Never throws.
bool IsDirectory(const QString& path);

// True when a character of the name is a control character (below 32, or 127
// to 159), a "?", or has no counterpart in the locale's encoding. A byte of a
// name that is not UTF-8, kept as its escape, is safe: it goes back as it came.
bool HasUnsafeChars(const QString& name);

// Extends the folder list in place: the given entries first (less those whose
// listing was refused or not found), then every folder below them, breadth
// first. With recurse clear only the first level is added.
// When `unreadable` is given, every place whose contents the walk could not
// see is appended to it in walk order: a folder whose listing was refused or
// failed, one that can be listed but not entered, one whose path is too long
// for the system, and a link whose target cannot be reached (a path without
// the trailing separator). Files there are missing from the file lists.
void GetSubDirectories2016(QStringList& folders, bool recurse, QStringList* unreadable = nullptr);

// The bare names of the openable files directly in the folder that match the
// pattern ("*.*" matches every name). The folder may end with a separator or not.
QStringList GetFileList(const QString& folder, const QString& pattern);

// True only for an existing regular file (or a link to one) whose attributes
// can be read. Never throws.
bool CanOpenFile(const QString& path);

// The length in bytes of the file the path names. Throws VbError (file not
// found) when it cannot be queried.
qint64 LocalFileLength(const QString& path);

// The length in bytes and the modification time (whole seconds since 1970,
// UTC) of the file the path names, from one query. Throws VbError (file not
// found) when it cannot be queried.
struct LocalFileFacts {
    qint64 size = 0;
    qint64 modified = 0;
};
LocalFileFacts LocalFileStatus(const QString& path);

// Opens the file the path names for unbuffered reading, by the bytes of its
// stored name. Throws VbError: file not found when it is missing, permission
// denied when it is not a regular file or refuses to be opened.
void OpenLocalFile(QFile& file, const QString& path);

// The platform's path separator.
QChar PathSeparator();
