#pragma once

#include <QCursor>
#include <QString>

#include <optional>

// Reads a Windows cursor file (.CUR): the image and the hot spot stored in its
// directory entry. Answers nothing when the file is missing or not a valid
// cursor.
std::optional<QCursor> LoadCursorFile(const QString& path);
