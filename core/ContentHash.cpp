#include "core/ContentHash.h"

#include <array>

namespace {

struct Named {
    HashAlgorithm algorithm;
    const char* name;
    int hexLength;
};

constexpr Named kNamed[] = {
    {HashAlgorithm::Sha256, "SHA-256", 64},
    {HashAlgorithm::Sha1, "SHA-1", 40},
    {HashAlgorithm::Md5, "MD5", 32},
    {HashAlgorithm::Crc32, "CRC32", 8},
};

// The CRC-32 of zip and XCRC (reflected polynomial 0xEDB88320).
constexpr std::array<quint32, 256> makeCrcTable() {
    std::array<quint32, 256> table{};
    for (quint32 n = 0; n < 256; ++n) {
        quint32 c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}
constexpr std::array<quint32, 256> kCrcTable = makeCrcTable();

std::optional<QCryptographicHash::Algorithm> cryptographic(HashAlgorithm algorithm) {
    switch (algorithm) {
    case HashAlgorithm::Sha256:
        return QCryptographicHash::Sha256;
    case HashAlgorithm::Sha1:
        return QCryptographicHash::Sha1;
    case HashAlgorithm::Md5:
        return QCryptographicHash::Md5;
    case HashAlgorithm::Crc32:
    case HashAlgorithm::None:
        break;
    }
    return std::nullopt;
}

} // namespace

QByteArray HashAlgorithmName(HashAlgorithm algorithm) {
    for (const Named& n : kNamed) {
        if (n.algorithm == algorithm)
            return n.name;
    }
    return {};
}

std::optional<HashAlgorithm> HashAlgorithmFromName(QByteArrayView name) {
    for (const Named& n : kNamed) {
        if (name.compare(QByteArrayView(n.name), Qt::CaseInsensitive) == 0)
            return n.algorithm;
    }
    return std::nullopt;
}

int HashHexLength(HashAlgorithm algorithm) {
    for (const Named& n : kNamed) {
        if (n.algorithm == algorithm)
            return n.hexLength;
    }
    return 0;
}

ContentHash::ContentHash(HashAlgorithm algorithm) : algorithm_(algorithm) {
    if (const auto a = cryptographic(algorithm))
        hash_.emplace(*a);
}

void ContentHash::add(const char* data, qsizetype size) {
    if (hash_) {
        hash_->addData(QByteArrayView(data, size));
        return;
    }
    quint32 c = crc_;
    for (qsizetype i = 0; i < size; ++i)
        c = kCrcTable[(c ^ quint8(data[i])) & 0xFFu] ^ (c >> 8);
    crc_ = c;
}

QByteArray ContentHash::hex() const {
    if (hash_)
        return hash_->result().toHex();
    if (algorithm_ != HashAlgorithm::Crc32)
        return {};
    return QByteArray::number(crc_ ^ 0xFFFFFFFFu, 16).rightJustified(8, '0');
}
