#include "ftp/RemoteNames.h"

#include "core/NameCodec.h"

QString decodeRemoteName(QByteArrayView bytes) {
    return decodeNameBytes(bytes);
}

std::optional<QByteArray> encodeRemoteName(QStringView name) {
    return encodeNameBytes(name);
}

bool hasControlBytes(QByteArrayView bytes) {
    for (char c : bytes) {
        if (c == '\r' || c == '\n' || c == '\0')
            return true;
    }
    return false;
}

bool hasTelnetEscape(QByteArrayView bytes) {
    return bytes.contains('\xFF');
}

SearchPattern splitSearchPattern(const QString& pattern) {
    const qsizetype slash = pattern.lastIndexOf(u'/');
    if (slash < 0)
        return {QString(), pattern};
    return {pattern.left(slash + 1), pattern.mid(slash + 1)};
}
