#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QCryptographicHash>

#include <optional>

// The hash algorithms a server may compute for a file, strongest first.
enum class HashAlgorithm { None, Sha256, Sha1, Md5, Crc32 };

// The algorithm's name as servers spell it in FEAT and HASH replies ("SHA-256",
// "SHA-1", "MD5", "CRC32"); empty for None.
QByteArray HashAlgorithmName(HashAlgorithm algorithm);
// The algorithm a name stands for, letter case ignored; none when unknown.
std::optional<HashAlgorithm> HashAlgorithmFromName(QByteArrayView name);
// How many hex digits a hash of the algorithm has.
int HashHexLength(HashAlgorithm algorithm);

// A hash computed block by block, so that a file of any size is hashed in a
// bounded buffer.
class ContentHash {
public:
    explicit ContentHash(HashAlgorithm algorithm);

    void add(const char* data, qsizetype size);
    // The hash in lower-case hex.
    QByteArray hex() const;

private:
    HashAlgorithm algorithm_;
    std::optional<QCryptographicHash> hash_;
    quint32 crc_ = 0xFFFFFFFFu;
};
