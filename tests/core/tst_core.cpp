#include "core/ErrorTrap.h"
#include "core/NameCodec.h"
#include "core/UiYield.h"
#include "core/VbError.h"
#include "tests/support/MessageRecorder.h"

#include <QtTest>

class TestCore : public QObject {
    Q_OBJECT
private slots:
    void reportTextIsExact();
    void trapReportsAndCarriesOn_data();
    void trapReportsAndCarriesOn();
    void plainMessageUsesApplicationTitle();
    void yieldIsThrottled();
    void abortUnwindsAtNextYield();
    void storedNames_data();
    void storedNames();
};

void TestCore::reportTextIsExact() {
    QCOMPARE(ErrorTrap::reportText(QStringLiteral("Type mismatch"),
                                   QStringLiteral("Gantrel2021/08/31.Form1.PushButton3_Click"),
                                   106),
             QStringLiteral("Type mismatch\r\nin Gantrel2021/08/31.Form1.PushButton3_Click at line "
                            "106\r\rPlease email screenshot of this message to ") +
                 MessageSeam::supportAddress());
}

void TestCore::trapReportsAndCarriesOn_data() {
    QTest::addColumn<int>("failing");
    QTest::addColumn<QString>("description");
    QTest::newRow("vb error") << 0 << QStringLiteral("Overflow");
    QTest::newRow("std exception") << 1 << QStringLiteral("boom");
    QTest::newRow("out of memory") << 2 << QStringLiteral("Out of memory");
}

void TestCore::trapReportsAndCarriesOn() {
    QFETCH(int, failing);
    QFETCH(QString, description);
    MessageRecorder rec;
    ErrorTrap trap(QStringLiteral("Gantrel2021/08/31.Form1.Test"));
    QList<int> ran;
    trap.at(100, [&] { ran << 100; });
    const bool ok = trap.at(102, [&] {
        if (failing == 0)
            throw VbError::overflow();
        if (failing == 1)
            throw std::runtime_error("boom");
        throw std::bad_alloc();
    });
    trap.at(104, [&] { ran << 104; });
    QVERIFY(!ok);
    QCOMPARE(ran, (QList<int>{100, 104}));
    QCOMPARE(rec.boxes().size(), 1);
    const MessageBoxSpec& box = rec.boxes().first();
    QCOMPARE(box.caption, QStringLiteral("Application Error"));
    QCOMPARE(box.icon, MessageBoxSpec::Icon::Warning);
    QVERIFY(box.text.startsWith(
        description + QStringLiteral("\r\nin Gantrel2021/08/31.Form1.Test at line 102\r\r")));
}

void TestCore::plainMessageUsesApplicationTitle() {
    MessageRecorder rec;
    const QString old = MessageSeam::applicationTitle();
    MessageSeam::setApplicationTitle(QStringLiteral("Title X"));
    MessageSeam::plain(QStringLiteral("Done."));
    MessageSeam::setApplicationTitle(old);
    QCOMPARE(rec.boxes().size(), 1);
    QCOMPARE(rec.boxes().first().caption, QStringLiteral("Title X"));
    QCOMPARE(rec.boxes().first().icon, MessageBoxSpec::Icon::None);
    QCOMPARE(rec.boxes().first().text, QStringLiteral("Done."));
}

void TestCore::yieldIsThrottled() {
    int yields = 0;
    auto previous = UiYield::setHook([&] { ++yields; });
    UiYield::setInterval(1000);
    UiYield::processNow();
    for (int i = 0; i < 100000; ++i)
        UiYield::processPending();
    UiYield::setInterval(15);
    UiYield::setHook(previous);
    QCOMPARE(yields, 1);
}

void TestCore::abortUnwindsAtNextYield() {
    auto previous = UiYield::setHook([] { UiYield::requestAbort(); });
    bool finished = false;
    bool aborted = false;
    try {
        UiYield::processNow();
        finished = true;
    } catch (const RunAborted&) {
        aborted = true;
    }
    UiYield::setHook(previous);
    UiYield::resetAbort();
    QVERIFY(aborted);
    QVERIFY(!finished);
}

void TestCore::storedNames_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("shown");
    QTest::newRow("ASCII") << QByteArray("a b.txt") << "a b.txt";
    QTest::newRow("UTF-8") << QByteArray("caf\xc3\xa9 \xf0\x9f\x98\x80")
                           << QString::fromUtf8("caf\xc3\xa9 \xf0\x9f\x98\x80");
    QTest::newRow("Latin-1 byte") << QByteArray("caf\xe9.txt") << "caf\\xE9.txt";
    QTest::newRow("UTF-8 and a stray byte")
        << QByteArray("\xc3\xa9\x80") << QString::fromUtf8("\xc3\xa9") + "\\x80";
    QTest::newRow("cut sequence") << QByteArray("a\xe2\x82") << "a\\xE2\\x82";
    QTest::newRow("overlong slash") << QByteArray("\xc0\xaf") << "\\xC0\\xAF";
}

void TestCore::storedNames() {
    // Every stored name comes back with its own bytes, and is shown without
    // characters that a display cannot draw.
    QFETCH(QByteArray, bytes);
    QFETCH(QString, shown);
    const QString text = decodeNameBytes(bytes);
    QCOMPARE(encodeNameBytes(text), std::optional<QByteArray>(bytes));
    QCOMPARE(readableName(text), shown);
}

QTEST_GUILESS_MAIN(TestCore)
#include "tst_core.moc"
