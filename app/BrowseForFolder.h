#pragma once

#include <QString>

#include <functional>

class QWidget;

// The local folder picker: the platform's folder dialog titled with the
// prompt, opening at the start folder. Answers the chosen folder as a plain
// file-system path, or the empty text when the user cancels.
QString BrowseForFolder(QWidget* owner, const QString& prompt, const QString& startFolder);

// Tests replace the dialog with a function that answers as a user would.
using FolderDialog =
    std::function<QString(QWidget* owner, const QString& prompt, const QString& startFolder)>;
FolderDialog SetFolderDialog(FolderDialog dialog);
