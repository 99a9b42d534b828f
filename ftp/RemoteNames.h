#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <optional>

// Remote names travel as bytes, decoded with the same escape as local names
// (core/NameCodec.h), so that a remote name and a local name with the same
// bytes are the same text and the name goes back to the server unchanged.
QString decodeRemoteName(QByteArrayView bytes);
// The bytes of a name for the server; nothing when the text holds a lone
// surrogate that no decoded name can contain.
std::optional<QByteArray> encodeRemoteName(QStringView name);

// True for bytes that would end or split an FTP command line.
bool hasControlBytes(QByteArrayView bytes);
// True when the bytes hold 0xFF, which the Telnet rules of the control
// connection make an escape: servers that follow them read the byte (and its
// doubled form) otherwise than servers that take every byte as it is.
bool hasTelnetEscape(QByteArrayView bytes);

// "/www/sub/*.*" -> folder "/www/sub/", name pattern "*.*". The folder is the
// text up to and including its last "/" (empty when there is none).
struct SearchPattern {
    QString folder;
    QString namePattern;
};
SearchPattern splitSearchPattern(const QString& pattern);
