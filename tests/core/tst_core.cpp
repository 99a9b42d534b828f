#include "app/core/ErrorTrap.h"
#include "tests/support/MessageRecorder.h"
#include "app/core/UiYield.h"
#include "app/core/VbError.h"

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

QTEST_GUILESS_MAIN(TestCore)
#include "tst_core.moc"
