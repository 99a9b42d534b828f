#include "core/Wildcard.h"
#include "ftp/ListingParsers.h"
#include "ftp/RemoteNames.h"

#include <QtTest>

Q_DECLARE_METATYPE(RemoteEntryKind)

namespace {

const RemoteEntryKind File = RemoteEntryKind::File;
const RemoteEntryKind Dir = RemoteEntryKind::Directory;
const RemoteEntryKind Other = RemoteEntryKind::Other;
const RemoteEntryKind Link = RemoteEntryKind::Link;

void addEntryColumns() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("parsed");
    QTest::addColumn<RemoteEntryKind>("kind");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QByteArray>("name");
}

void checkEntry(const std::optional<RemoteEntry>& entry) {
    QFETCH(bool, parsed);
    QCOMPARE(entry.has_value(), parsed);
    if (!parsed)
        return;
    QFETCH(RemoteEntryKind, kind);
    QFETCH(qint64, size);
    QFETCH(QByteArray, name);
    QCOMPARE(entry->kind, kind);
    QCOMPARE(entry->name, name);
    if (kind == File)
        QCOMPARE(entry->size, size);
}

} // namespace

class TestListingParsers : public QObject {
    Q_OBJECT

private slots:
    void unixLines_data();
    void unixLines() { checkEntry(parseListLine(fetchLine())); }
    void dosLines_data();
    void dosLines() { checkEntry(parseListLine(fetchLine())); }
    void mlsdLines_data();
    void mlsdLines() { checkEntry(parseMlsdLine(fetchLine())); }
    void listingDropsUnsafeAndOtherEntries();
    void nameCodecRoundTrips_data();
    void nameCodecRoundTrips();
    void unencodableTextsAreRefused_data();
    void unencodableTextsAreRefused();
    void wildcards_data();
    void wildcards();
    void searchPatternSplit_data();
    void searchPatternSplit();

private:
    static QByteArray fetchLine() {
        QFETCH(QByteArray, line);
        return line;
    }
};

void TestListingParsers::unixLines_data() {
    addEntryColumns();
    QTest::newRow("file, time")
        << QByteArray("-rw-r--r--   1 owner    group        1234 Sep 02 13:47 music.mp3\r\n")
        << true << File << qint64(1234) << QByteArray("music.mp3");
    QTest::newRow("file, year") << QByteArray("-rw-r--r--    1 0        0               3 Dec 08  "
                                              "2019 a.txt")
                                << true << File << qint64(3) << QByteArray("a.txt");
    QTest::newRow("no group column") << QByteArray("-rw-r--r--  1 ftp  512 Jan  1 10:00 short.txt")
                                     << true << File << qint64(512) << QByteArray("short.txt");
    QTest::newRow("folder") << QByteArray("drwxr-xr-x   2 root  root  4096 Mar 31 23:59 www")
                            << true << Dir << qint64(0) << QByteArray("www");
    QTest::newRow("over 4 GiB") << QByteArray("-rw-r--r--   1 u g 5368709121 Feb 28  2021 disk.img")
                                << true << File << qint64(5368709121) << QByteArray("disk.img");
    QTest::newRow("blanks inside and around name")
        << QByteArray("-rw-r--r--   1 u g 7 Jun 15 08:00  two  blanks ") << true << File
        << qint64(7) << QByteArray(" two  blanks ");
    QTest::newRow("name looks like a date")
        << QByteArray("-rw-r--r--   1 u g 9 Jun 15 08:00 Jan 1 2020") << true << File << qint64(9)
        << QByteArray("Jan 1 2020");
    QTest::newRow("owner with digits, sticky bits")
        << QByteArray("drwxrwxrwt  12 1001 1001 4096 Oct  5  2022 tmp") << true << Dir << qint64(0)
        << QByteArray("tmp");
    QTest::newRow("symlink") << QByteArray("lrwxrwxrwx 1 u g 5 Dec 08 03:32 link -> a.txt") << true
                             << Link << qint64(5) << QByteArray("link");
    QTest::newRow("symlink with blanks")
        << QByteArray("lrwxrwxrwx 1 u g 9 Dec 08 03:32 my link -> a b.txt") << true << Link
        << qint64(9) << QByteArray("my link");
    QTest::newRow("device") << QByteArray("crw-rw-rw- 1 root root 1, 3 Jan  1  2020 null") << true
                            << Other << qint64(0) << QByteArray("null");
    QTest::newRow("total line") << QByteArray("total 12") << false << File << qint64(0)
                                << QByteArray();
    QTest::newRow("garbage") << QByteArray("550 No files found") << false << File << qint64(0)
                             << QByteArray();
    QTest::newRow("size not a number") << QByteArray("-rw-r--r-- 1 u g big Jan  1 10:00 x") << false
                                       << File << qint64(0) << QByteArray();
    QTest::newRow("size overflows")
        << QByteArray("-rw-r--r-- 1 u g 99999999999999999999 Jan  1 10:00 x") << false << File
        << qint64(0) << QByteArray();
}

void TestListingParsers::dosLines_data() {
    addEntryColumns();
    QTest::newRow("folder") << QByteArray("12-31-20  10:00PM       <DIR>          www") << true
                            << Dir << qint64(0) << QByteArray("www");
    QTest::newRow("file with blank")
        << QByteArray("01-02-2021  09:15AM             1234 a b.txt\r\n") << true << File
        << qint64(1234) << QByteArray("a b.txt");
    QTest::newRow("over 4 GiB") << QByteArray("07-04-19  12:00PM   6000000000 big.iso") << true
                                << File << qint64(6000000000) << QByteArray("big.iso");
    QTest::newRow("no name") << QByteArray("07-04-19  12:00PM   60") << false << File << qint64(0)
                             << QByteArray();
    QTest::newRow("not a date") << QByteArray("hello world 12 x") << false << File << qint64(0)
                                << QByteArray();
}

void TestListingParsers::mlsdLines_data() {
    addEntryColumns();
    QTest::newRow("file") << QByteArray("type=file;size=42;modify=20210101120000; a b.txt\r\n")
                          << true << File << qint64(42) << QByteArray("a b.txt");
    QTest::newRow("facts in other order and case")
        << QByteArray("Size=7;Type=File;perm=r; x") << true << File << qint64(7) << QByteArray("x");
    QTest::newRow("folder") << QByteArray("type=dir;sizd=4096; www") << true << Dir << qint64(0)
                            << QByteArray("www");
    QTest::newRow("current folder")
        << QByteArray("type=cdir; .") << true << Other << qint64(0) << QByteArray(".");
    QTest::newRow("parent folder")
        << QByteArray("type=pdir; ..") << true << Other << qint64(0) << QByteArray("..");
    QTest::newRow("symlink") << QByteArray("type=OS.unix=symlink;size=5; link") << true << Link
                             << qint64(5) << QByteArray("link");
    QTest::newRow("slink with target") << QByteArray("type=OS.unix=slink:/etc;size=4; etc") << true
                                       << Link << qint64(4) << QByteArray("etc");
    QTest::newRow("name with semicolon and equals")
        << QByteArray("type=file;size=1; a;type=dir") << true << File << qint64(1)
        << QByteArray("a;type=dir");
    QTest::newRow("over 4 GiB") << QByteArray("type=file;size=4294967296; x") << true << File
                                << qint64(4294967296) << QByteArray("x");
    QTest::newRow("no type") << QByteArray("size=1; x") << false << File << qint64(0)
                             << QByteArray();
    QTest::newRow("no name") << QByteArray("type=file;size=1;") << false << File << qint64(0)
                             << QByteArray();
}

void TestListingParsers::listingDropsUnsafeAndOtherEntries() {
    const QByteArray mlsd = "type=cdir; .\r\n"
                            "type=pdir; ..\r\n"
                            "type=dir; ...\r\n"
                            "type=file;size=1; a/b\r\n"
                            "type=file;size=1; a\\b\r\n"
                            "type=OS.unix=symlink; l\r\n"
                            "type=file;size=3; .htaccess\r\n"
                            "type=dir; sub\r\n"
                            "garbage\r\n";
    const QList<RemoteEntry> entries = parseListing(mlsd, ListingFormat::Mlsd).entries;
    QCOMPARE(entries,
             (QList<RemoteEntry>{{"l", Link, 0}, {".htaccess", File, 3}, {"sub", Dir, 0}}));

    const QByteArray list = "total 8\n"
                            "drwxr-xr-x 2 u g 4096 Jan  1 10:00 .\n"
                            "drwxr-xr-x 2 u g 4096 Jan  1 10:00 ..\n"
                            "lrwxrwxrwx 1 u g 1 Jan  1 10:00 up -> ..\n"
                            "lrwxrwxrwx 1 u g 2 Jan  1 10:00 .. -> up\n"
                            "lrwxrwxrwx 1 u g 4 Jan  1 10:00 ln -> /etc\n"
                            "-rw-r--r-- 1 u g 5 Jan  1 10:00 f\n"
                            "12-31-20  10:00PM       <DIR>          d\n";
    QCOMPARE(parseListing(list, ListingFormat::List).entries,
             (QList<RemoteEntry>{{"up", Link, 1}, {"ln", Link, 4}, {"f", File, 5}, {"d", Dir, 0}}));
}

void TestListingParsers::nameCodecRoundTrips_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("ascii") << QByteArray("a b#%.txt") << QStringLiteral("a b#%.txt");
    QTest::newRow("utf-8") << QByteArray("Gr\xC3\xBC\xC3\x9F"
                                         "e \xF0\x9F\x98\x80")
                           << QStringLiteral("Grüße \U0001F600");
    QTest::newRow("latin-1 byte") << QByteArray("caf\xE9") << QStringLiteral("caf\xDCE9");
    QTest::newRow("lone continuation") << QByteArray("\x80x") << QStringLiteral("\xDC80x");
    QTest::newRow("truncated sequence")
        << QByteArray("\xE2\x82") << QString(QChar(0xDCE2)) + QChar(0xDC82);
    QTest::newRow("overlong slash")
        << QByteArray("\xC0\xAF") << QString(QChar(0xDCC0)) + QChar(0xDCAF);
    QTest::newRow("encoded surrogate")
        << QByteArray("\xED\xB3\xBF") << QString(QChar(0xDCED)) + QChar(0xDCB3) + QChar(0xDCBF);
    QTest::newRow("beyond U+10FFFF")
        << QByteArray("\xF4\x90\x80\x80")
        << QString(QChar(0xDCF4)) + QChar(0xDC90) + QChar(0xDC80) + QChar(0xDC80);
}

void TestListingParsers::nameCodecRoundTrips() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(decodeRemoteName(bytes), text);
    QCOMPARE(encodeRemoteName(text), std::optional<QByteArray>(bytes));
}

void TestListingParsers::unencodableTextsAreRefused_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("lone high surrogate") << QString(QChar(0xD800));
    QTest::newRow("escape of an ascii byte") << QString(QChar(0xDC41));
    QTest::newRow("high surrogate at end") << QStringLiteral("a") + QChar(0xDBFF);
}

void TestListingParsers::unencodableTextsAreRefused() {
    QFETCH(QString, text);
    QVERIFY(!encodeRemoteName(text).has_value());
}

void TestListingParsers::wildcards_data() {
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("matches");
    QTest::newRow("*.* no dot") << "*.*"
                                << "README" << true;
    QTest::newRow("*.* dot file") << "*.*"
                                  << ".htaccess" << true;
    QTest::newRow("prefix with extension") << "www*.*"
                                           << "wwwroot.txt" << true;
    QTest::newRow("prefix, no extension") << "www*.*"
                                          << "www" << true;
    QTest::newRow("prefix differs") << "www*.*"
                                    << "ww" << false;
    QTest::newRow("case ignored") << "WWW*.*"
                                  << "www.x" << true;
    QTest::newRow("question mark") << "a?c"
                                   << "abc" << true;
    QTest::newRow("question mark needs a char") << "a?c"
                                                << "ac" << false;
    QTest::newRow("extension") << "*.txt"
                               << "a.txt" << true;
    QTest::newRow("extension differs") << "*.txt"
                                       << "a.txt.bak" << false;
    QTest::newRow("backtracking") << "*a*b"
                                  << "xxaxxab" << true;
    QTest::newRow("literal") << "exact"
                             << "exact" << true;
}

void TestListingParsers::wildcards() {
    QFETCH(QString, pattern);
    QFETCH(QString, name);
    QFETCH(bool, matches);
    QCOMPARE(matchesWildcard(pattern, name), matches);
}

void TestListingParsers::searchPatternSplit_data() {
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("names");
    QTest::newRow("folder") << "/www/sub/*.*"
                            << "/www/sub/"
                            << "*.*";
    QTest::newRow("no separator at end") << "/www*.*"
                                         << "/"
                                         << "www*.*";
    QTest::newRow("relative") << "*.*"
                              << ""
                              << "*.*";
}

void TestListingParsers::searchPatternSplit() {
    QFETCH(QString, pattern);
    QFETCH(QString, folder);
    QFETCH(QString, names);
    const SearchPattern split = splitSearchPattern(pattern);
    QCOMPARE(split.folder, folder);
    QCOMPARE(split.namePattern, names);
}

QTEST_GUILESS_MAIN(TestListingParsers)
#include "tst_listing_parsers.moc"
