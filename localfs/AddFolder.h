#pragma once

#include <QString>
#include <QStringList>

// Local folders: the tree walk and the file lists of one folder. Paths use the
// platform's separator; a folder path in a folder list ends with it.

// True when the path can be queried and is a folder. Never throws.
bool IsDirectory(const QString& path);

// True when a character of the name is a control character (below 32, or 127
// to 159), a "?", or has no counterpart in the locale's encoding.
bool HasUnsafeChars(const QString& name);

// Extends the folder list in place: the given entries first (less those whose
// listing was refused or not found), then every folder below them, breadth
// first. With recurse clear only the first level is added.
void GetSubDirectories2016(QStringList& folders, bool recurse);

// The bare names of the openable files directly in the folder that match the
// pattern ("*.*" matches every name). The folder may end with a separator or not.
QStringList GetFileList(const QString& folder, const QString& pattern);

// True only for an existing regular file (or a link to one) whose attributes
// can be read. Never throws.
bool CanOpenFile(const QString& path);

// The platform's path separator.
QChar PathSeparator();
