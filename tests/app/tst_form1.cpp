#include <QtTest>
class TestForm1 : public QObject {
    Q_OBJECT private slots : void placeholder() {}
};
QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
