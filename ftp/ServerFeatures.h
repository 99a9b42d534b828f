#pragma once

#include "core/ContentHash.h"

#include <QByteArray>
#include <QList>

// What a server's FEAT reply offers beyond the basics: setting modification
// times (MFMT), and hash commands (the HASH of the IETF draft with its
// algorithms, the one in use marked with "*"; and the X commands some servers
// list: XSHA256, XSHA1, XMD5, XCRC).
struct ServerFeatures {
    bool mfmt = false;
    QList<HashAlgorithm> hashAlgorithms;
    HashAlgorithm hashSelected = HashAlgorithm::None;
    QList<HashAlgorithm> xHashes;

    // The lines of a FEAT reply, as received.
    static ServerFeatures fromFeat(const QList<QByteArray>& lines);
};

// How a file's hash is asked for: by HASH (after OPTS HASH picks the
// algorithm) or by the X command of the algorithm.
struct HashMethod {
    HashAlgorithm algorithm = HashAlgorithm::None;
    bool hashCommand = false;

    bool isNone() const { return algorithm == HashAlgorithm::None; }
    bool operator==(const HashMethod&) const = default;
};

// The X command of an algorithm ("XSHA256", "XSHA1", "XMD5", "XCRC").
QByteArray HashXCommand(HashAlgorithm algorithm);

// The hash in a reply to HASH ("213 SHA-256 0-49 <hex> <path>") or to an X
// command ("250 <hex>", some servers adding the path), in lower case; empty
// when the reply holds none of the algorithm's length.
QByteArray HashFromReply(const QByteArray& replyText, const HashMethod& method);
