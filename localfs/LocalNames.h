#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <string_view>

// Conversions between the names the file system stores (raw bytes, read as
// UTF-8) and the texts the program works with. Bytes that are not UTF-8 are
// kept with the escape of core/NameCodec.h, the one remote names use too.
namespace LocalNames {

// The text of a name as stored on disk; every name has one, and no two names
// share it.
QString decode(std::string_view bytes);

// The bytes to hand to the system for a path, or nothing when the text holds
// a character that no stored name contains (a NUL, or a surrogate that is
// neither half of a pair nor an escaped byte).
std::optional<QByteArray> encode(const QString& path);

} // namespace LocalNames
