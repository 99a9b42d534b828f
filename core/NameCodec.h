#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <optional>

// Names that file systems and servers store are bytes, usually but not always
// UTF-8. The program works with texts, so every name is decoded as UTF-8 and
// a byte that is not part of a valid sequence becomes the lone surrogate
// U+DC00 + byte. No valid UTF-8 decodes to such a surrogate, so the mapping
// is one to one and a name goes back to the system with the bytes it came with.

// The text of a stored name. Never fails.
QString decodeNameBytes(QByteArrayView bytes);

// The stored bytes of a text; nothing when the text holds a surrogate that no
// decoded name can contain (an unpaired high one, or a low one outside
// U+DC80..U+DCFF).
std::optional<QByteArray> encodeNameBytes(QStringView text);

// True when the character stands for one byte of a name that is not UTF-8.
bool isEscapedByte(QChar c);

// The text to show the user: each escaped byte as "\x" and two upper-case hex
// digits, everything else as it is. For display only; the work goes on with
// the name itself.
QString readableName(const QString& text);
