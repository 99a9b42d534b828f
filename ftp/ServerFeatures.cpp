#include "ftp/ServerFeatures.h"

#include <cctype>

namespace {

constexpr HashAlgorithm kByStrength[] = {HashAlgorithm::Sha256, HashAlgorithm::Sha1,
                                         HashAlgorithm::Md5, HashAlgorithm::Crc32};

bool isHex(QByteArrayView token) {
    for (char c : token) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return !token.isEmpty();
}

} // namespace

QByteArray HashXCommand(HashAlgorithm algorithm) {
    switch (algorithm) {
    case HashAlgorithm::Sha256:
        return "XSHA256";
    case HashAlgorithm::Sha1:
        return "XSHA1";
    case HashAlgorithm::Md5:
        return "XMD5";
    case HashAlgorithm::Crc32:
        return "XCRC";
    case HashAlgorithm::None:
        break;
    }
    return {};
}

ServerFeatures ServerFeatures::fromFeat(const QList<QByteArray>& lines) {
    ServerFeatures f;
    for (const QByteArray& line : lines) {
        const QByteArray feature = line.trimmed();
        const QByteArray upper = feature.toUpper();
        if (upper == "MFMT") {
            f.mfmt = true;
        } else if (upper.startsWith("HASH ")) {
            for (QByteArray name : feature.mid(5).trimmed().split(';')) {
                name = name.trimmed();
                const bool selected = name.endsWith('*');
                if (selected)
                    name.chop(1);
                const auto algorithm = HashAlgorithmFromName(name);
                if (!algorithm)
                    continue;
                f.hashAlgorithms.append(*algorithm);
                if (selected)
                    f.hashSelected = *algorithm;
            }
        } else {
            for (HashAlgorithm a : kByStrength) {
                if (upper == HashXCommand(a))
                    f.xHashes.append(a);
            }
        }
    }
    return f;
}

QByteArray HashFromReply(const QByteArray& replyText, const HashMethod& method) {
    const int length = HashHexLength(method.algorithm);
    QByteArray text = replyText;
    // The reply code leads the text.
    if (text.size() >= 4 && std::isdigit(quint8(text[0])) && std::isdigit(quint8(text[1])) &&
        std::isdigit(quint8(text[2])) && (text[3] == ' ' || text[3] == '-'))
        text.remove(0, 4);
    const QList<QByteArray> tokens = text.simplified().split(' ');
    if (method.hashCommand) {
        // Algorithm, byte range, hash, path.
        if (tokens.size() < 3 ||
            HashAlgorithmFromName(tokens.at(0)) != std::optional(method.algorithm) ||
            tokens.at(2).size() != length || !isHex(tokens.at(2)))
            return {};
        return tokens.at(2).toLower();
    }
    for (const QByteArray& token : std::as_const(tokens)) {
        if (token.size() == length && isHex(token))
            return token.toLower();
    }
    return {};
}
