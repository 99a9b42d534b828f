#include "localfs/LocalNames.h"

#include "core/NameCodec.h"

#include <QStringView>

namespace LocalNames {

QString decode(std::string_view bytes) {
    return decodeNameBytes(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
}

std::optional<QByteArray> encode(const QString& path) {
    if (path.contains(QChar(0)))
        return std::nullopt;
    return encodeNameBytes(path);
}

} // namespace LocalNames
