#include "core/Wildcard.h"
#include "ftp/ListingParsers.h"
#include "ftp/RemoteNames.h"

#include <QtTest>

Q_DECLARE_METATYPE(RemoteEntryKind)
Q_DECLARE_METATYPE(TimePrecision)

namespace {

const RemoteEntryKind File = RemoteEntryKind::File;
const RemoteEntryKind Dir = RemoteEntryKind::Directory;
const RemoteEntryKind Other = RemoteEntryKind::Other;
const RemoteEntryKind Link = RemoteEntryKind::Link;
const TimePrecision Undated = TimePrecision::None;
const TimePrecision Day = TimePrecision::Day;
const TimePrecision Minute = TimePrecision::Minute;
const TimePrecision Second = TimePrecision::Second;

QDateTime utc(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), Qt::UTC);
}

// The listings are read as on this day: dates without a year fall into the
// twelve months up to it.
const QDateTime kNow = utc(2024, 6, 15, 12, 0);

void addEntryColumns() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("parsed");
    QTest::addColumn<RemoteEntryKind>("kind");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QDateTime>("modified");
    QTest::addColumn<TimePrecision>("precision");
}

void entry(const char* tag, const QByteArray& line, RemoteEntryKind kind, qint64 size,
           const QByteArray& name, const QDateTime& modified = {},
           TimePrecision precision = Undated) {
    QTest::newRow(tag) << line << true << kind << size << name << modified << precision;
}

void refused(const char* tag, const QByteArray& line) {
    QTest::newRow(tag) << line << false << File << qint64(0) << QByteArray() << QDateTime()
                       << Undated;
}

void checkEntry(const std::optional<RemoteEntry>& entry) {
    QFETCH(bool, parsed);
    QCOMPARE(entry.has_value(), parsed);
    if (!parsed)
        return;
    QFETCH(RemoteEntryKind, kind);
    QFETCH(qint64, size);
    QFETCH(QByteArray, name);
    QFETCH(QDateTime, modified);
    QFETCH(TimePrecision, precision);
    QCOMPARE(entry->kind, kind);
    QCOMPARE(entry->name, name);
    if (kind == File)
        QCOMPARE(entry->size, size);
    QCOMPARE(entry->precision, precision);
    QCOMPARE(entry->modified, modified);
    if (modified.isValid())
        QCOMPARE(entry->modified.timeSpec(), Qt::UTC);
}

} // namespace

class TestListingParsers : public QObject {
    Q_OBJECT

private slots:
    void unixLines_data();
    void unixLines() { checkEntry(parseListLine(fetchLine(), kNow)); }
    void dosLines_data();
    void dosLines() { checkEntry(parseListLine(fetchLine(), kNow)); }
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

// Lines of "ls -l" as servers send them, by the locale or program that made
// them. A date without a year is the latest one not after the day after kNow.
void TestListingParsers::unixLines_data() {
    addEntryColumns();
    // C locale (English)
    entry("C: file, time", "-rw-r--r--   1 owner    group        1234 Sep 02 13:47 music.mp3\r\n",
          File, 1234, "music.mp3", utc(2023, 9, 2, 13, 47), Minute);
    entry("C: file, year", "-rw-r--r--    1 0        0               3 Dec 08  2019 a.txt", File, 3,
          "a.txt", utc(2019, 12, 8), Day);
    entry("C: no group column", "-rw-r--r--  1 ftp  512 Jan  1 10:00 short.txt", File, 512,
          "short.txt", utc(2024, 1, 1, 10, 0), Minute);
    entry("C: folder", "drwxr-xr-x   2 root  root  4096 Mar 31 23:59 www", Dir, 0, "www",
          utc(2024, 3, 31, 23, 59), Minute);
    entry("C: over 4 GiB", "-rw-r--r--   1 u g 5368709121 Feb 28  2021 disk.img", File, 5368709121,
          "disk.img", utc(2021, 2, 28), Day);
    entry("C: time tomorrow is this year (server clock ahead)", "-rw-r--r-- 1 u g 1 Jun 16 09:00 x",
          File, 1, "x", utc(2024, 6, 16, 9, 0), Minute);
    entry("C: time two days ahead is last year", "-rw-r--r-- 1 u g 1 Jun 17 13:00 x", File, 1, "x",
          utc(2023, 6, 17, 13, 0), Minute);
    entry("C: invalid day still read, undated", "-rw-r--r-- 1 u g 1 Feb 30  2021 x", File, 1, "x");
    entry("C: ACL mark after permissions", "-rw-r--r--+ 1 u g 5 Jan  1 10:00 acl", File, 5, "acl",
          utc(2024, 1, 1, 10, 0), Minute);
    entry("C: size in groups of thousands", "-rw-r--r-- 1 u g 1,234,567 Mar  2 16:27 big.bin", File,
          1234567, "big.bin", utc(2024, 3, 2, 16, 27), Minute);
    entry("C: numeric owner and group, no link count", "-rw-r--r-- 1001 1001 12 Mar  2 16:27 x",
          File, 12, "x", utc(2024, 3, 2, 16, 27), Minute);
    entry("C: owner with digits, sticky bits", "drwxrwxrwt  12 1001 1001 4096 Oct  5  2022 tmp",
          Dir, 0, "tmp", utc(2022, 10, 5), Day);
    entry("C: owner and group of several words",
          "-rw-r--r--   1 John Smith   Domain Users      2048 Mar  2 16:27 report.doc", File, 2048,
          "report.doc", utc(2024, 3, 2, 16, 27), Minute);
    entry("C: group ends in a number", "-rw-r--r-- 1 u Staff 2 1234 Mar  2 16:27 x", File, 1234,
          "x", utc(2024, 3, 2, 16, 27), Minute);
    entry("C: owner looks like a day, size like a year", "-rw-r--r-- 1 5 x 2005 Mar  2 16:27 f",
          File, 2005, "f", utc(2024, 3, 2, 16, 27), Minute);
    entry("C: blanks inside and around name", "-rw-r--r--   1 u g 7 Jun 15 08:00  two  blanks ",
          File, 7, " two  blanks ", utc(2024, 6, 15, 8, 0), Minute);
    entry("C: name looks like a date", "-rw-r--r--   1 u g 9 Jun 15 08:00 Jan 1 2020", File, 9,
          "Jan 1 2020", utc(2024, 6, 15, 8, 0), Minute);
    entry("C: name begins with a year", "-rw-r--r-- 1 u g 2005 Mar  2  2005 2005 report.pdf", File,
          2005, "2005 report.pdf", utc(2005, 3, 2), Day);
    entry("C: name begins with a size and a date", "-rw-r--r-- 1 u g 7 Mar  2 16:27 12 Mar  2 x",
          File, 7, "12 Mar  2 x", utc(2024, 3, 2, 16, 27), Minute);
    entry("C: name begins with a time", "-rw-r--r-- 1 u g 7 Mar  2 16:27 16:28 notes", File, 7,
          "16:28 notes", utc(2024, 3, 2, 16, 27), Minute);
    entry("C: symlink", "lrwxrwxrwx 1 u g 5 Dec 08 03:32 link -> a.txt", Link, 5, "link",
          utc(2023, 12, 8, 3, 32), Minute);
    entry("C: symlink with blanks", "lrwxrwxrwx 1 u g 9 Dec 08 03:32 my link -> a b.txt", Link, 9,
          "my link", utc(2023, 12, 8, 3, 32), Minute);
    entry("C: character device", "crw-rw-rw- 1 root root 1, 3 Jan  1  2020 null", Other, 0, "null",
          utc(2020, 1, 1), Day);
    entry("C: block device", "brw-rw---- 1 root disk 8,   0 Mar  2 16:27 sda", Other, 0, "sda",
          utc(2024, 3, 2, 16, 27), Minute);
    entry("C: pipe", "prw-r--r-- 1 u g 0 Mar  2 16:27 fifo", Other, 0, "fifo",
          utc(2024, 3, 2, 16, 27), Minute);
    entry("C: socket", "srwxrwxrwx 1 u g 0 Mar  2 16:27 sock", Other, 0, "sock",
          utc(2024, 3, 2, 16, 27), Minute);
    entry("C: door", "Dr--r--r-- 1 u g 0 Mar  2 16:27 door", Other, 0, "door",
          utc(2024, 3, 2, 16, 27), Minute);
    entry("C: network special", "nrw-r--r-- 1 u g 0 Mar  2 16:27 net", Other, 0, "net",
          utc(2024, 3, 2, 16, 27), Minute);
    // Other locales
    entry("de: month first", "-rw-r--r-- 1 benutzer gruppe 1234 Mär  2 16:27 datei.txt", File, 1234,
          "datei.txt", utc(2024, 3, 2, 16, 27), Minute);
    entry("de: day first", "-rw-r--r-- 1 benutzer gruppe 1234  2. Mär 16:27 datei.txt", File, 1234,
          "datei.txt", utc(2024, 3, 2, 16, 27), Minute);
    entry("de: year", "drwxr-xr-x 2 benutzer gruppe 4096  2. Okt  2005 ordner", Dir, 0, "ordner",
          utc(2005, 10, 2), Day);
    entry("de: Latin-1 month", "-rw-r--r-- 1 u g 10 M\xe4r  2 16:27 x", File, 10, "x",
          utc(2024, 3, 2, 16, 27), Minute);
    entry("fr: day first", "-rw-r--r-- 1 u g 10  2 mars  16:27 fichier", File, 10, "fichier",
          utc(2024, 3, 2, 16, 27), Minute);
    entry("fr: abbreviation with a dot", "-rw-r--r-- 1 u g 10 févr.  2  2005 x", File, 10, "x",
          utc(2005, 2, 2), Day);
    entry("fr: accented", "-rw-r--r-- 1 u g 10 déc. 24 16:27 x", File, 10, "x",
          utc(2023, 12, 24, 16, 27), Minute);
    entry("es", "-rw-r--r-- 1 u g 10 ene  2 16:27 archivo", File, 10, "archivo",
          utc(2024, 1, 2, 16, 27), Minute);
    entry("es: year", "-rw-r--r-- 1 u g 10 dic 24  2005 x", File, 10, "x", utc(2005, 12, 24), Day);
    entry("nl", "-rw-r--r-- 1 u g 10 mrt  2 16:27 x", File, 10, "x", utc(2024, 3, 2, 16, 27),
          Minute);
    entry("pl", "-rw-r--r-- 1 u g 10 paź  2  2005 x", File, 10, "x", utc(2005, 10, 2), Day);
    entry("ru", "-rw-r--r-- 1 u g 10 мар  2 16:27 файл", File, 10, "файл", utc(2024, 3, 2, 16, 27),
          Minute);
    entry("ru: genitive, year", "-rw-r--r-- 1 u g 10 мая  9  2005 x", File, 10, "x",
          utc(2005, 5, 9), Day);
    entry("zh: month and day marked", "-rw-r--r-- 1 u g 10 3月  2日 16:27 文件", File, 10, "文件",
          utc(2024, 3, 2, 16, 27), Minute);
    entry("zh: year", "-rw-r--r-- 1 u g 10 3月 2 2005 x", File, 10, "x", utc(2005, 3, 2), Day);
    entry("ja", "-rw-r--r-- 1 u g 10  3月  2 16:27 ファイル", File, 10, "ファイル",
          utc(2024, 3, 2, 16, 27), Minute);
    entry("ko", "-rw-r--r-- 1 u g 10 12월 24일  2005 x", File, 10, "x", utc(2005, 12, 24), Day);
    entry("el: month unknown, read undated", "-rw-r--r-- 1 u g 10 Μαρ  2 16:27 αρχείο", File, 10,
          "αρχείο");
    entry("fi: month unknown, day first", "-rw-r--r-- 1 u g 10  2. maalis 16:27 x", File, 10, "x");
    // Time styles
    entry("long-iso", "-rw-r--r-- 1 u g 10 2005-04-08 11:22 x", File, 10, "x",
          utc(2005, 4, 8, 11, 22), Minute);
    entry("full-iso", "-rw-r--r-- 1 u g 10 2005-04-08 11:22:33.123456789 +0200 x", File, 10, "x",
          utc(2005, 4, 8, 9, 22, 33), Second);
    entry("iso, recent", "-rw-r--r-- 1 u g 10 04-08 11:22 x", File, 10, "x",
          utc(2024, 4, 8, 11, 22), Minute);
    entry("iso, old", "-rw-r--r-- 1 u g 10 2005-04-08  x", File, 10, "x", utc(2005, 4, 8), Day);
    entry("iso, old, name with leading blank", "-rw-r--r-- 1 u g 10 2005-04-08    x", File, 10,
          "  x", utc(2005, 4, 8), Day);
    entry("seconds and year, no zone", "-rw-r--r-- 1 u g 10 Mar  2 16:27:33 2005 x", File, 10, "x",
          utc(2005, 3, 2, 16, 27, 33), Minute);
    // busybox
    entry("busybox", "-rw-r--r--    1 root     root          1234 Mar  2 16:27 busybox.txt", File,
          1234, "busybox.txt", utc(2024, 3, 2, 16, 27), Minute);
    entry("busybox: full time", "-rw-r--r--    1 root     root   1234 Wed Mar  2 16:27:33 2005 x",
          File, 1234, "x", utc(2005, 3, 2, 16, 27, 33), Minute);
    entry("busybox: device", "crw-rw-rw-    1 root     root        1,   3 Jan  1 00:00 null", Other,
          0, "null", utc(2024, 1, 1), Minute);
    // Not entries
    refused("total line", "total 12");
    refused("garbage", "550 No files found");
    refused("size not a number", "-rw-r--r-- 1 u g big Jan  1 10:00 x");
    refused("size overflows", "-rw-r--r-- 1 u g 99999999999999999999 Jan  1 10:00 x");
    refused("truncated line", "-rw-r--r-- 1 u g 12 Mar  2");
    refused("no name", "-rw-r--r-- 1 u g 12 Mar  2 16:27");
    refused("no name, a blank after the date", "-rw-r--r-- 1 u g 12 Mar  2 16:27 ");
    refused("no size", "-rw-r--r-- 1 u g Mar  2 16:27 x");
    refused("fields ls could not read", "-????????? ? ? ? ?            ? broken");
    refused("bad permissions", "-rw-r-q-r-- 1 u g 12 Mar  2 16:27 x");
}

void TestListingParsers::dosLines_data() {
    addEntryColumns();
    entry("folder", "12-31-20  10:00PM       <DIR>          www", Dir, 0, "www",
          utc(2020, 12, 31, 22, 0), Minute);
    entry("file with blank", "01-02-2021  09:15AM             1234 a b.txt\r\n", File, 1234,
          "a b.txt", utc(2021, 1, 2, 9, 15), Minute);
    entry("over 4 GiB", "07-04-19  12:00PM   6000000000 big.iso", File, 6000000000, "big.iso",
          utc(2019, 7, 4, 12, 0), Minute);
    entry("midnight", "01-01-99  12:00AM   5 old.txt", File, 5, "old.txt", utc(1999, 1, 1, 0, 0),
          Minute);
    entry("24-hour time", "04-08-05  14:05       <DIR>          Bin", Dir, 0, "Bin",
          utc(2005, 4, 8, 14, 5), Minute);
    entry("invalid date still read, undated", "13-40-05  14:05   5 x", File, 5, "x");
    refused("no name", "07-04-19  12:00PM   60");
    refused("not a date", "hello world 12 x");
}

void TestListingParsers::mlsdLines_data() {
    addEntryColumns();
    entry("file", "type=file;size=42;modify=20210101120000; a b.txt\r\n", File, 42, "a b.txt",
          utc(2021, 1, 1, 12, 0), Second);
    entry("facts in other order and case", "Size=7;Type=File;perm=r; x", File, 7, "x");
    entry("folder", "type=dir;sizd=4096; www", Dir, 0, "www");
    entry("current folder", "type=cdir; .", Other, 0, ".");
    entry("parent folder", "type=pdir; ..", Other, 0, "..");
    entry("symlink", "type=OS.unix=symlink;size=5; link", Link, 5, "link");
    entry("slink with target", "type=OS.unix=slink:/etc;size=4; etc", Link, 4, "etc");
    entry("name with semicolon and equals", "type=file;size=1; a;type=dir", File, 1, "a;type=dir");
    entry("over 4 GiB", "type=file;size=4294967296; x", File, 4294967296, "x");
    entry("fraction of a second", "type=file;size=1;modify=20210101120000.5; x", File, 1, "x",
          utc(2021, 1, 1, 12, 0, 0, 500), Second);
    entry("unreadable time, read undated", "type=file;size=1;modify=2021; x", File, 1, "x");
    entry("RFC: current folder by path", "Type=cdir;Modify=19990219183438; /iana/assignments",
          Other, 0, "/iana/assignments", utc(1999, 2, 19, 18, 34, 38), Second);
    entry("RFC: file", "Type=file;Size=44242;Modify=19990217230400; character-sets", File, 44242,
          "character-sets", utc(1999, 2, 17, 23, 4), Second);
    entry("RFC: folder", "Type=dir;Modify=19990112033515; character-set-info", Dir, 0,
          "character-set-info", utc(1999, 1, 12, 3, 35, 15), Second);
    entry("RFC: link", "Type=OS.unix=slink:/foobar;Perm=;Unique=keVO1+4G4; foobar", Link, 0,
          "foobar");
    entry("RFC: device", "Type=OS.unix=chr-13/29;Perm=;Unique=keVO1+5G4; device", Other, 0,
          "device");
    entry("RFC: leading blank", "Type=file;Perm=r;Unique=keVO1+IH4;  leading space", File, 0,
          " leading space");
    refused("no type", "size=1; x");
    refused("no name", "type=file;size=1;");
}

void TestListingParsers::listingDropsUnsafeAndOtherEntries() {
    const QByteArray mlsd = "type=cdir; .\r\n"
                            "type=pdir; ..\r\n"
                            "type=dir; ...\r\n"
                            "type=file;size=1; a/b\r\n"
                            "type=file;size=1; a\\b\r\n"
                            "type=OS.unix=symlink; l\r\n"
                            "type=file;size=3;modify=20240102030405; .htaccess\r\n"
                            "type=dir; sub\r\n"
                            "\r\n"
                            "garbage\r\n";
    const ParsedListing fromMlsd = parseListing(mlsd, ListingFormat::Mlsd, kNow);
    QCOMPARE(fromMlsd.entries,
             (QList<RemoteEntry>{{"l", Link, 0, {}, Undated},
                                 {".htaccess", File, 3, utc(2024, 1, 2, 3, 4, 5), Second},
                                 {"sub", Dir, 0, {}, Undated}}));
    QCOMPARE(fromMlsd.unreadable, QList<QByteArray>{"garbage"});

    const QByteArray list = "total 8\n"
                            "drwxr-xr-x 2 u g 4096 Jan  1 10:00 .\n"
                            "drwxr-xr-x 2 u g 4096 Jan  1 10:00 ..\n"
                            "lrwxrwxrwx 1 u g 1 Jan  1 10:00 up -> ..\n"
                            "lrwxrwxrwx 1 u g 2 Jan  1 10:00 .. -> up\n"
                            "lrwxrwxrwx 1 u g 4 Jan  1 10:00 ln -> /etc\n"
                            "crw-rw-rw- 1 u g 1, 3 Jan  1 10:00 null\n"
                            "-rw-r--r-- 1 u g 5 Jan  1 10:00 f\n"
                            "insgesamt 8\r\n"
                            "  \r\n"
                            "-rw-r--r-- 1 u g 5 Jan  1\r\n"
                            "12-31-20  10:00PM       <DIR>          d\n"
                            "+i8388621.29609,m824255902,/,\tpub";
    const QDateTime jan1 = utc(2024, 1, 1, 10, 0);
    const ParsedListing fromList = parseListing(list, ListingFormat::List, kNow);
    QCOMPARE(fromList.entries,
             (QList<RemoteEntry>{{"up", Link, 1, jan1, Minute},
                                 {"ln", Link, 4, jan1, Minute},
                                 {"f", File, 5, jan1, Minute},
                                 {"d", Dir, 0, utc(2020, 12, 31, 22, 0), Minute}}));
    QCOMPARE(fromList.unreadable, (QList<QByteArray>{"-rw-r--r-- 1 u g 5 Jan  1",
                                                     "+i8388621.29609,m824255902,/,\tpub"}));
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
