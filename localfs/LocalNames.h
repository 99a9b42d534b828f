#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <string_view>

// Conversions between the names the file system stores (raw bytes, read as
// the locale's encoding, UTF-8) and the texts the program works with.
namespace LocalNames {

// The text of a name as stored on disk, or nothing when the bytes are not
// valid UTF-8: such a name has characters without a counterpart in the
// program's texts and must not be listed under a look-alike.
std::optional<QString> decode(std::string_view bytes);

// The bytes to hand to the system for a path, or nothing when the text holds
// a character that cannot be encoded (an unpaired surrogate or a NUL).
std::optional<QByteArray> encode(const QString& path);

// Windows-style wildcard match, ignoring letter case: "*" is any run of
// characters, "?" exactly one, and a trailing ".*" also matches a name without
// a dot, so "*.*" and "*" match every name. An empty pattern matches every name.
bool matchesPattern(const QString& name, const QString& pattern);

} // namespace LocalNames
