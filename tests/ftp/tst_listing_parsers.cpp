#include "ListingParsers.h"
#include "RemoteNames.h"

#include <QtTest>

class TestListingParsers : public QObject {
    Q_OBJECT

private slots:
    void placeholder() {}
};

QTEST_GUILESS_MAIN(TestListingParsers)
#include "tst_listing_parsers.moc"
