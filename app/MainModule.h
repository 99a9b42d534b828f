#pragma once

#include <QString>

#include <functional>

class QWidget;

// Start-up helpers and the window colour rule shared by every window.

// The application title for a product display name: words are dropped from
// the end (at least one) until at most 40 characters remain. A name without
// any blank is kept whole.
QString ApplicationTitleFor(const QString& displayName);

// Sets the process-wide application title that captions plain messages.
void SetApplicationTitle();

// The file-system path of a special folder followed by one zero character, or
// the empty text when the platform cannot tell it. Identifier 0 is the desktop.
QString GetSpecialFolderPath(int folderId);

// The desktop folder followed by the platform's separator. Throws VbError
// "Invalid procedure call or argument" when the desktop folder is unknown.
QString GetDesktopFolder();

// Tests replace the platform's answer for special folders (empty = unknown).
using SpecialFolderLookup = std::function<QString(int folderId)>;
SpecialFolderLookup SetSpecialFolderLookup(SpecialFolderLookup lookup);

// The program's own folder, without a trailing separator. Tests may move it.
QString ProgramFolder();
void SetProgramFolder(const QString& folder);

// True when the file's time of last change can be read. Never throws.
bool FileExists(const QString& path);

// The optional skin file beside the program, its path relative to the
// program's folder (with the platform's separators).
QString SkinFilePath();
// The optional hand pointer file beside the program.
QString HandCursorPath();

// When the skin file exists, gives the window and its frames, labels, option
// buttons and check boxes the button-face colour. Answers whether it did.
bool ApplySkin(QWidget* window);

// The colour rule alone, without any file test.
void ApplyFormColours(QWidget* window);

// The white design background of a window and its frames and labels.
void ApplyDesignColours(QWidget* window);

// The program's icon, shown by every window.
class QIcon;
QIcon ProgramIcon();
