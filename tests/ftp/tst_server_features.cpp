// Hashes as servers compute them, and what a server's FEAT and hash replies
// say.

#include "core/ContentHash.h"
#include "ftp/ServerFeatures.h"

#include <QTest>

Q_DECLARE_METATYPE(HashAlgorithm)

class TestServerFeatures : public QObject {
    Q_OBJECT
private slots:
    void contentHash_data();
    void contentHash();
    void featOffers_data();
    void featOffers();
    void hashReplies_data();
    void hashReplies();
};

void TestServerFeatures::contentHash_data() {
    QTest::addColumn<HashAlgorithm>("algorithm");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("block"); // bytes per add()
    QTest::addColumn<QByteArray>("hex");
    const QByteArray check = "123456789";
    QTest::newRow("SHA-256") << HashAlgorithm::Sha256 << check << 4
                             << QByteArray("15e2b0d3c33891ebb0f1ef609ec419420c20e320ce94c65fbc8c"
                                           "3312448eb225");
    QTest::newRow("SHA-1") << HashAlgorithm::Sha1 << check << 9
                           << QByteArray("f7c3bc1d808e04732adf679965ccc34ca7ae3441");
    QTest::newRow("MD5") << HashAlgorithm::Md5 << check << 2
                         << QByteArray("25f9e794323b453885f5181f1b624d0b");
    QTest::newRow("CRC32") << HashAlgorithm::Crc32 << check << 9 << QByteArray("cbf43926");
    QTest::newRow("CRC32 in blocks")
        << HashAlgorithm::Crc32 << check << 2 << QByteArray("cbf43926");
    QTest::newRow("CRC32 of nothing, with its zeros")
        << HashAlgorithm::Crc32 << QByteArray() << 1 << QByteArray("00000000");
}

void TestServerFeatures::contentHash() {
    QFETCH(HashAlgorithm, algorithm);
    QFETCH(QByteArray, input);
    QFETCH(int, block);
    QFETCH(QByteArray, hex);
    ContentHash hash(algorithm);
    for (qsizetype at = 0; at < input.size(); at += block)
        hash.add(input.constData() + at, std::min<qsizetype>(block, input.size() - at));
    QCOMPARE(hash.hex(), hex);
    QCOMPARE(hex.size(), HashHexLength(algorithm));
}

void TestServerFeatures::featOffers_data() {
    QTest::addColumn<QList<QByteArray>>("lines");
    QTest::addColumn<bool>("mfmt");
    QTest::addColumn<QList<HashAlgorithm>>("hashes");
    QTest::addColumn<HashAlgorithm>("selected");
    QTest::addColumn<QList<HashAlgorithm>>("xHashes");
    using A = HashAlgorithm;
    QTest::newRow("nothing beyond the basics")
        << QList<QByteArray>{"211-Features:", " MDTM", " SIZE", "211 End"} << false << QList<A>{}
        << A::None << QList<A>{};
    QTest::newRow("MFMT and the draft's HASH")
        << QList<QByteArray>{"211-Features:", " MFMT", " HASH SHA-1;SHA-256*;MD5;CRC32", "211 End"}
        << true << QList<A>{A::Sha1, A::Sha256, A::Md5, A::Crc32} << A::Sha256 << QList<A>{};
    QTest::newRow("algorithms unknown here are left out")
        << QList<QByteArray>{" HASH SHA-512*;md5"} << false << QList<A>{A::Md5} << A::None
        << QList<A>{};
    QTest::newRow("X commands listed")
        << QList<QByteArray>{" XCRC", " xmd5", " XSHA256", " XSHA512"} << false << QList<A>{}
        << A::None << QList<A>{A::Crc32, A::Md5, A::Sha256};
}

void TestServerFeatures::featOffers() {
    QFETCH(QList<QByteArray>, lines);
    QFETCH(bool, mfmt);
    QFETCH(QList<HashAlgorithm>, hashes);
    QFETCH(HashAlgorithm, selected);
    QFETCH(QList<HashAlgorithm>, xHashes);
    const ServerFeatures f = ServerFeatures::fromFeat(lines);
    QCOMPARE(f.mfmt, mfmt);
    QCOMPARE(f.hashAlgorithms, hashes);
    QCOMPARE(f.hashSelected, selected);
    QList<HashAlgorithm> x = f.xHashes;
    std::sort(x.begin(), x.end());
    std::sort(xHashes.begin(), xHashes.end());
    QCOMPARE(x, xHashes);
}

void TestServerFeatures::hashReplies_data() {
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<HashAlgorithm>("algorithm");
    QTest::addColumn<bool>("hashCommand");
    QTest::addColumn<QByteArray>("hash");
    const QByteArray md5 = "25f9e794323b453885f5181f1b624d0b";
    QTest::newRow("HASH") << "213 MD5 0-9 " + md5 + " /www/a b.txt" << HashAlgorithm::Md5 << true
                          << md5;
    QTest::newRow("HASH in capitals")
        << "213 MD5 0-9 " + md5.toUpper() + " /a" << HashAlgorithm::Md5 << true << md5;
    QTest::newRow("HASH of another algorithm")
        << "213 SHA-1 0-9 " + md5 + " /a" << HashAlgorithm::Md5 << true << QByteArray();
    QTest::newRow("HASH cut short")
        << QByteArray("213 MD5 0-9") << HashAlgorithm::Md5 << true << QByteArray();
    QTest::newRow("X command") << "250 " + md5 << HashAlgorithm::Md5 << false << md5;
    QTest::newRow("X command with the path")
        << "213 /www/a.txt " + md5 << HashAlgorithm::Md5 << false << md5;
    QTest::newRow("XCRC") << QByteArray("250 CBF43926") << HashAlgorithm::Crc32 << false
                          << QByteArray("cbf43926");
    QTest::newRow("a hash of the wrong length")
        << "250 " + md5.left(30) << HashAlgorithm::Md5 << false << QByteArray();
}

void TestServerFeatures::hashReplies() {
    QFETCH(QByteArray, reply);
    QFETCH(HashAlgorithm, algorithm);
    QFETCH(bool, hashCommand);
    QFETCH(QByteArray, hash);
    QCOMPARE(HashFromReply(reply, HashMethod{algorithm, hashCommand}), hash);
}

QTEST_GUILESS_MAIN(TestServerFeatures)
#include "tst_server_features.moc"
