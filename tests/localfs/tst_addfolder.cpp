#include "core/NameCodec.h"
#include "core/UiYield.h"
#include "core/VbError.h"
#include "localfs/AddFolder.h"
#include "tests/support/MessageRecorder.h"
#include "tests/support/TreeBuilder.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <set>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace TreeBuilder;

namespace {

// The test binary doubles as a small helper that runs one call and prints
// what a caller would see, so that permission cases can run as an
// unprivileged user while the suite itself runs as root.
//   walk <folder>      -> "folder\t<path>" lines, "unreadable\t<path>" lines,
//                         then "box\t<text>" lines
//   files <folder>     -> "name\t<name>" lines or "error\t<number>"
//   canopen <path>     -> "canopen\t0|1"
int helperMain(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString mode = QString::fromUtf8(argv[2]);
    const QString target = QString::fromUtf8(argv[3]);
    std::printf("euid\t%d\n", int(::geteuid()));
    MessageRecorder recorder;
    if (mode == u"walk") {
        QStringList folders{target};
        QStringList unreadable;
        GetSubDirectories2016(folders, true, &unreadable);
        for (const QString& f : std::as_const(folders))
            std::printf("folder\t%s\n", f.toUtf8().constData());
        for (const QString& u : std::as_const(unreadable))
            std::printf("unreadable\t%s\n", u.toUtf8().constData());
    } else if (mode == u"files") {
        try {
            const QStringList names = GetFileList(target, QStringLiteral("*.*"));
            for (const QString& n : names)
                std::printf("name\t%s\n", n.toUtf8().constData());
        } catch (const VbError& e) {
            std::printf("error\t%d\n", e.number());
        }
    } else if (mode == u"canopen") {
        std::printf("canopen\t%d\n", CanOpenFile(target) ? 1 : 0);
    }
    for (const QString& t : recorder.texts())
        std::printf("box\t%s\n", t.simplified().toUtf8().constData());
    return 0;
}

QStringList sortedCopy(QStringList l) {
    l.sort();
    return l;
}

// Paths as the program spells them: bytes that are not UTF-8 kept escaped.
QString text(const QByteArray& bytes) {
    return decodeNameBytes(bytes);
}

} // namespace

class TestAddFolder : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void walk_data();
    void walk();
    void linksAreFollowedOnce();
    void specialFilesAreLeftOut();
    void invalidUtf8NamesAreKept();
    void vanishingFolderIsDropped();
    void closingTheWindowEndsTheWalk();
    void deepTreeStopsAtPathLimit();
    void otherFailureIsReportedAndWalkGoesOn();
    void refusedAccess_data();
    void refusedAccess();

    void fileList_data();
    void fileList();
    void fileListOfMissingFolderThrows();
    void openLocalFile_data();
    void openLocalFile();
    void canOpenFile_data();
    void canOpenFile();
    void isDirectory_data();
    void isDirectory();
    void hasUnsafeChars_data();
    void hasUnsafeChars();

private:
    QByteArray at(const QByteArray& relative) const { return root_ + relative; }
    QString path(const QByteArray& relative) const { return text(root_ + relative); }
    QStringList paths(const QByteArrayList& relatives) const {
        QStringList out;
        for (const QByteArray& r : relatives)
            out << path(r);
        return out;
    }
    void build(const QByteArrayList& folders, const QByteArrayList& files = {});

    QByteArray root_; // ends with "/"
    std::unique_ptr<MessageRecorder> recorder_;
};

void TestAddFolder::init() {
    QByteArray pattern = QDir::tempPath().toUtf8() + "/pellmor-localfs-XXXXXX";
    QVERIFY(::mkdtemp(pattern.data()));
    root_ = pattern + '/';
    recorder_ = std::make_unique<MessageRecorder>();
}

void TestAddFolder::cleanup() {
    recorder_.reset();
    UiYield::setHook({});
    UiYield::setInterval(15);
    UiYield::resetAbort();
    removeTree(root_.chopped(1));
}

void TestAddFolder::build(const QByteArrayList& folders, const QByteArrayList& files) {
    for (const QByteArray& f : folders)
        QVERIFY2(makeFolder(at(f)), f.constData());
    for (const QByteArray& f : files)
        QVERIFY2(makeFile(at(f), "x"), f.constData());
}

void TestAddFolder::walk_data() {
    QTest::addColumn<QByteArrayList>("folders");
    QTest::addColumn<QByteArrayList>("given"); // relative to the test root
    QTest::addColumn<bool>("recurse");
    QTest::addColumn<QByteArrayList>("expected");

    const QByteArrayList threeLevels{"b", "a", "a/a2", "a/a1", "b/b1", "a/a1/x", "b/b1/y"};
    QTest::newRow("empty folder") << QByteArrayList{} << QByteArrayList{""} << true
                                  << QByteArrayList{""};
    QTest::newRow("three levels, breadth first")
        << threeLevels << QByteArrayList{""} << true
        << QByteArrayList{"", "a/", "b/", "a/a1/", "a/a2/", "b/b1/", "a/a1/x/", "b/b1/y/"};
    QTest::newRow("recurse clear adds the first level only")
        << threeLevels << QByteArrayList{""} << false << QByteArrayList{"", "a/", "b/"};
    QTest::newRow("several given entries, children in their parents' order")
        << threeLevels << QByteArrayList{"b/", "a/"} << true
        << QByteArrayList{"b/", "a/", "b/b1/", "a/a1/", "a/a2/", "b/b1/y/", "a/a1/x/"};
    QTest::newRow("missing entry comes back unchanged")
        << threeLevels << QByteArrayList{"nope/", "b/b1/"} << true
        << QByteArrayList{"nope/", "b/b1/", "b/b1/y/"};
    QTest::newRow("file entry comes back unchanged")
        << QByteArrayList{} << QByteArrayList{"f.txt"} << true << QByteArrayList{"f.txt"};
    QTest::newRow("entry without trailing separator still gives valid children")
        << QByteArrayList{"a", "a/b"} << QByteArrayList{"a"} << true << QByteArrayList{"a", "a/b/"};
    QTest::newRow("hidden folders are walked")
        << QByteArrayList{".git", ".git/objects", "src"} << QByteArrayList{""} << true
        << QByteArrayList{"", ".git/", "src/", ".git/objects/"};

    QByteArrayList odd{" lead",
                       "trail ",
                       "two words",
                       "#hash",
                       "100%",
                       "quote\"d",
                       "it's",
                       "back\\slash",
                       "Ünïcødé",
                       "日本語",
                       QByteArray(255, 'x')};
    QByteArray accents;
    for (int i = 0; i < 127; ++i)
        accents += "é"; // 254 bytes, 127 characters
    odd << accents;
    QByteArrayList oddExpected{""};
    QByteArrayList sortedOdd = odd;
    std::sort(sortedOdd.begin(), sortedOdd.end());
    for (const QByteArray& n : sortedOdd)
        oddExpected << n + '/';
    QByteArrayList oddTree = odd;
    oddTree << "back\\slash/inner";
    oddExpected << "back\\slash/inner/";
    QTest::newRow("unusual but safe names") << oddTree << QByteArrayList{""} << true << oddExpected;

    QTest::newRow("unsafe names are left out with their subtree")
        << QByteArrayList{"ok",          "tab\tname",   "ctl\x01",          "ctl\x01/below",
                          "del\x7f",     "c1\xc2\x85",  "c1\xc2\x85/below", "what?",
                          "what?/below", "nbsp\xc2\xa0"}
        << QByteArrayList{""} << true << QByteArrayList{"", "nbsp\xc2\xa0/", "ok/"};
}

void TestAddFolder::walk() {
    QFETCH(QByteArrayList, folders);
    QFETCH(QByteArrayList, given);
    QFETCH(bool, recurse);
    QFETCH(QByteArrayList, expected);
    build(folders, {"f.txt", "a.txt"});

    QStringList list = paths(given);
    GetSubDirectories2016(list, recurse);
    QCOMPARE(list, paths(expected));
    QCOMPARE(recorder_->texts(), QStringList{});
}

void TestAddFolder::linksAreFollowedOnce() {
    build({"a", "a/b", "real"}, {"file.txt"});
    QVERIFY(makeLink("../..", at("a/b/up")));        // loop back to the root
    QVERIFY(makeLink(".", at("a/self")));            // loop onto itself
    QVERIFY(makeLink(at("real"), at("a/b/toreal"))); // reached earlier by its own path
    QVERIFY(makeLink("a/b", at("shortcut")));        // shallower way to a/b
    QVERIFY(makeLink("/nonexistent/pellmor", at("dangling")));
    QVERIFY(makeLink("file.txt", at("tofile")));
    QVERIFY(makeLink("gone/deeper", at("a/b/dangling2")));

    QStringList list{path("")};
    QStringList unreadable;
    GetSubDirectories2016(list, true, &unreadable);
    // The shallowest path to each folder wins; every folder appears once.
    QCOMPARE(list, paths({"", "a/", "real/", "shortcut/"}));
    // A link to a disk that is not mounted may hide a whole folder of files;
    // it is named by the path the walk took to it.
    QCOMPARE(unreadable, paths({"dangling", "shortcut/dangling2"}));
    QCOMPARE(recorder_->texts(), QStringList{});
}

void TestAddFolder::specialFilesAreLeftOut() {
    build({"sub"}, {"plain.txt"});
    QVERIFY(makeFifo(at("fifo")));
    if (!makeSocket(at("sock")))
        QSKIP("cannot create a socket file in the temporary folder");
    QVERIFY(makeLink("plain.txt", at("link.txt")));
    QVERIFY(makeLink("missing.txt", at("dangling.txt")));

    QStringList list{path("")};
    GetSubDirectories2016(list, true);
    QCOMPARE(list, paths({"", "sub/"}));
    QCOMPARE(sortedCopy(GetFileList(path(""), QStringLiteral("*.*"))),
             QStringList({"link.txt", "plain.txt"}));
}

void TestAddFolder::invalidUtf8NamesAreKept() {
    // Names from old archives: left out, their remote copies would look
    // surplus and be deleted.
    if (!makeFolder(at("bad\xff")))
        QSKIP("the file system refuses names that are not valid UTF-8");
    build({"bad\xff/below", "good", "over\xc0\xafong"},
          {"good.txt", "caf\xe9.txt", "bad\xff/in\xfe.txt"});

    QStringList list{path("")};
    GetSubDirectories2016(list, true);
    QCOMPARE(list, paths({"", "bad\xff/", "good/", "over\xc0\xafong/", "bad\xff/below/"}));
    QCOMPARE(sortedCopy(GetFileList(path(""), QStringLiteral("*.*"))),
             sortedCopy({text("caf\xe9.txt"), "good.txt"}));
    QCOMPARE(GetFileList(path("bad\xff"), QStringLiteral("*.txt")),
             QStringList{text("in\xfe.txt")});

    // Each name leads back to its own file, not to a look-alike.
    QVERIFY(makeFile(at("caf\xc3\xa9.txt"), "utf-8 twin"));
    QVERIFY(IsDirectory(path("bad\xff/below")));
    QVERIFY(CanOpenFile(path("bad\xff/in\xfe.txt")));
    QCOMPARE(LocalFileLength(path("caf\xe9.txt")), qint64(1));
    QCOMPARE(LocalFileLength(path("caf\xc3\xa9.txt")), qint64(10));
    QFile file;
    OpenLocalFile(file, path("caf\xe9.txt"));
    QCOMPARE(file.readAll(), QByteArray("x"));
    QCOMPARE(recorder_->texts(), QStringList{});
}

void TestAddFolder::vanishingFolderIsDropped() {
    build({"a", "b", "b/c", "d"});
    int yields = 0;
    UiYield::setInterval(0);
    // Once the root's subfolders have been read, "b" disappears, as when the
    // user deletes it while the walk runs.
    UiYield::setHook([&] {
        if (++yields == 4)
            removeTree(at("b"));
    });
    QStringList list{path("")};
    GetSubDirectories2016(list, true);
    QVERIFY(yields >= 4);
    QCOMPARE(list, paths({"", "a/", "d/"}));
    QCOMPARE(recorder_->texts(), QStringList{});
}

void TestAddFolder::closingTheWindowEndsTheWalk() {
    build({"a", "a/b", "c"});
    UiYield::setInterval(0);
    int yields = 0;
    UiYield::setHook([&] {
        if (++yields == 2)
            UiYield::requestAbort();
    });
    QStringList list{path("")};
    QVERIFY_THROWS_EXCEPTION(RunAborted, GetSubDirectories2016(list, true));
    QCOMPARE(list, paths({""}));
    QCOMPARE(recorder_->texts(), QStringList{});
}

void TestAddFolder::deepTreeStopsAtPathLimit() {
    const QByteArray name(200, 'd');
    const int depth = (PATH_MAX / (name.size() + 1)) + 3;
    QCOMPARE(makeChain(root_.chopped(1), name, depth), depth);

    QStringList list{path("")};
    QStringList unreadable;
    GetSubDirectories2016(list, true, &unreadable);
    QVERIFY(list.size() > 1);
    QVERIFY(list.size() <= depth);
    // The first folder beyond the limit is named; what lies below it is not
    // seen at all.
    QCOMPARE(unreadable.size(), 1);
    QVERIFY(unreadable.constFirst().startsWith(list.constLast()));
    for (const QString& p : std::as_const(list)) {
        QVERIFY(p.toUtf8().size() < PATH_MAX);
        QVERIFY(IsDirectory(p));
    }
    // Exactly the folders whose path fits are listed: one level more would not.
    QVERIFY(list.constLast().toUtf8().size() + name.size() + 1 >= PATH_MAX);
    QCOMPARE(GetFileList(list.constLast(), QStringLiteral("*.*")), QStringList{});
}

void TestAddFolder::otherFailureIsReportedAndWalkGoesOn() {
    build({"a", "b"});
    // With no descriptor left, the folders exist but cannot be opened: a
    // failure that is neither "refused" nor "not found".
    const int lowestFree = ::dup(0);
    QVERIFY(lowestFree >= 0);
    ::close(lowestFree);
    rlimit saved{};
    QVERIFY(::getrlimit(RLIMIT_NOFILE, &saved) == 0);
    rlimit lowered = saved;
    lowered.rlim_cur = rlim_t(lowestFree);
    QVERIFY(::setrlimit(RLIMIT_NOFILE, &lowered) == 0);
    QStringList list{path(""), path("a/")};
    GetSubDirectories2016(list, true);
    ::setrlimit(RLIMIT_NOFILE, &saved);

    QCOMPARE(list, paths({"", "a/"}));
    const QString report = QStringLiteral(
        "Too many files\r\nin ZelmitTitle2021/08/31.AddFolder.GetSubDirectories2016 at line 108");
    QCOMPARE(recorder_->boxes().size(), 2);
    for (const MessageBoxSpec& box : recorder_->boxes()) {
        QCOMPARE(box.caption, QStringLiteral("Application Error"));
        QCOMPARE(box.icon, MessageBoxSpec::Icon::Warning);
        QVERIFY2(box.text.startsWith(report), qPrintable(box.text));
    }
}

void TestAddFolder::refusedAccess_data() {
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArrayList>("expected"); // lines, "{R}" stands for the root

    QTest::newRow("refused subfolders are dropped and named, their siblings stay")
        << "walk" << QByteArray("") << QByteArrayList{"folder\t{R}",
                                                      "folder\t{R}noexec/",
                                                      "folder\t{R}ok/",
                                                      "folder\t{R}zz/",
                                                      "folder\t{R}ok/deep/",
                                                      "unreadable\t{R}disk",
                                                      "unreadable\t{R}noexec/",
                                                      "unreadable\t{R}shut1/",
                                                      "unreadable\t{R}shut2/"};
    QTest::newRow("refused given folder gives an empty list")
        << "walk" << QByteArray("shut1/") << QByteArrayList{"unreadable\t{R}shut1/"};
    QTest::newRow("files of a refused folder raise permission denied")
        << "files" << QByteArray("shut1") << QByteArrayList{"error\t70"};
    QTest::newRow("files of an unsearchable folder are not openable")
        << "files" << QByteArray("noexec") << QByteArrayList{};
    QTest::newRow("file in an unsearchable folder cannot be opened")
        << "canopen" << QByteArray("noexec/f.txt") << QByteArrayList{"canopen\t0"};
    QTest::newRow("file in a searchable folder can be opened")
        << "canopen" << QByteArray("ok/f.txt") << QByteArrayList{"canopen\t1"};
}

void TestAddFolder::refusedAccess() {
    QFETCH(QString, mode);
    QFETCH(QByteArray, target);
    QFETCH(QByteArrayList, expected);

    QVERIFY(::chmod(root_.chopped(1).constData(), 0755) == 0);
    build({"ok", "ok/deep", "zz"}, {"ok/f.txt"});
    QVERIFY(makeFolder(at("shut1")));
    QVERIFY(makeFolder(at("shut1/inner")));
    QVERIFY(makeFile(at("shut1/f.txt")));
    QVERIFY(makeFolder(at("noexec")));
    QVERIFY(makeFolder(at("noexec/sub")));
    QVERIFY(makeFile(at("noexec/f.txt")));
    QVERIFY(::chmod(at("shut1").constData(), 0) == 0);
    QVERIFY(makeFolder(at("shut2"), 0));
    QVERIFY(::chmod(at("noexec").constData(), 0444) == 0);
    QVERIFY(makeLink("/nonexistent/pellmor-disk", at("disk")));

    QString program = QCoreApplication::applicationFilePath();
    QStringList args{QStringLiteral("--helper"), mode, path(target)};
    if (::geteuid() == 0) {
        args.prepend(program);
        args = QStringList{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                           QStringLiteral("--clear-groups")} +
               args;
        program = QStringLiteral("setpriv");
    }
    QProcess helper;
    helper.start(program, args);
    if (!helper.waitForFinished(30000) || helper.exitStatus() != QProcess::NormalExit ||
        helper.exitCode() != 0)
        QSKIP(qPrintable(QStringLiteral("cannot run the helper as an unprivileged user: ") +
                         QString::fromLocal8Bit(helper.readAllStandardError())));
    QStringList lines = QString::fromUtf8(helper.readAllStandardOutput()).split(u'\n');
    lines.removeAll(QString());
    if (lines.isEmpty() || lines.takeFirst() == u"euid\t0")
        QSKIP("the helper still runs with root's rights");

    QStringList want;
    for (const QByteArray& e : expected)
        want << text(e).replace(QStringLiteral("{R}"), path(""));
    QCOMPARE(lines, want);
}

void TestAddFolder::fileList_data() {
    QTest::addColumn<QByteArrayList>("files");
    QTest::addColumn<QByteArrayList>("folders");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QStringList>("expected"); // in any order

    QTest::newRow("no files") << QByteArrayList{} << QByteArrayList{"sub"} << "*.*"
                              << QStringList{};
    QTest::newRow("hidden files listed, folders not")
        << QByteArrayList{".hidden", "a.txt", "NOEXT", "sub/inner.txt"}
        << QByteArrayList{"sub", ".git"} << "*.*" << QStringList{".hidden", "NOEXT", "a.txt"};
    QByteArrayList many;
    QStringList manyNames;
    for (int i = 0; i < 130; ++i) {
        many << "file" + QByteArray::number(i) + ".bin";
        manyNames << QStringLiteral("file%1.bin").arg(i);
    }
    QTest::newRow("130 files") << many << QByteArrayList{} << "*.*" << manyNames;
    QTest::newRow("unusual names")
        << QByteArrayList{" lead",   "trail ",      "#1",      "50%",
                          "q\"uote", "back\\slash", "Ünï.txt", QByteArray(255, 'n')}
        << QByteArrayList{} << "*.*"
        << QStringList{" lead",   "trail ",      "#1",      "50%",
                       "q\"uote", "back\\slash", "Ünï.txt", QString(255, u'n')};
    QTest::newRow("extension pattern ignores case")
        << QByteArrayList{"a.txt", "B.TXT", "c.txt.bak", "txt"} << QByteArrayList{} << "*.txt"
        << QStringList{"a.txt", "B.TXT"};
    QTest::newRow("question mark is one character")
        << QByteArrayList{"abc", "abc.d", "abbc.d", "ac.d"} << QByteArrayList{} << "a?c.*"
        << QStringList{"abc", "abc.d"};
    QTest::newRow("star dot means names without extension")
        << QByteArrayList{"a", "b.c"} << QByteArrayList{} << "*." << QStringList{"a"};
    QTest::newRow("empty pattern means every name")
        << QByteArrayList{"a", "b.c"} << QByteArrayList{} << "" << QStringList{"a", "b.c"};
}

void TestAddFolder::fileList() {
    QFETCH(QByteArrayList, files);
    QFETCH(QByteArrayList, folders);
    QFETCH(QString, pattern);
    QFETCH(QStringList, expected);
    build(folders, files);

    const QStringList withSeparator = GetFileList(path(""), pattern);
    const QStringList withoutSeparator = GetFileList(path("").chopped(1), pattern);
    QCOMPARE(sortedCopy(withSeparator), sortedCopy(expected));
    QCOMPARE(withoutSeparator, withSeparator);
}

void TestAddFolder::fileListOfMissingFolderThrows() {
    QVERIFY(makeFile(at("plain")));
    for (const QByteArray& missing : {QByteArray("gone"), QByteArray("plain")}) {
        try {
            GetFileList(path(missing), QStringLiteral("*.*"));
            QFAIL("no error for a folder that cannot be listed");
        } catch (const VbError& e) {
            QCOMPARE(e.number(), VbError::PathNotFound);
        }
    }
}

void TestAddFolder::openLocalFile_data() {
    QTest::addColumn<QByteArray>("relative");
    QTest::addColumn<int>("error"); // 0: opens
    QTest::newRow("regular file") << QByteArray("f.txt") << 0;
    QTest::newRow("link to a file") << QByteArray("link") << 0;
    QTest::newRow("name that is not UTF-8") << QByteArray("caf\xe9.txt") << 0;
    QTest::newRow("missing") << QByteArray("missing") << VbError::FileNotFound;
    QTest::newRow("dangling link") << QByteArray("dangling") << VbError::FileNotFound;
    QTest::newRow("folder") << QByteArray("sub") << VbError::PermissionDenied;
    // Must not wait for a writer that never comes.
    QTest::newRow("FIFO") << QByteArray("fifo") << VbError::PermissionDenied;
}

void TestAddFolder::openLocalFile() {
    QFETCH(QByteArray, relative);
    QFETCH(int, error);
    build({"sub"});
    QVERIFY(makeFile(at("f.txt"), "content"));
    QVERIFY(makeLink("f.txt", at("link")));
    QVERIFY(makeLink("missing", at("dangling")));
    QVERIFY(makeFifo(at("fifo")));
    if (!makeFile(at("caf\xe9.txt"), "content"))
        QSKIP("the file system refuses names that are not valid UTF-8");

    QFile file;
    try {
        OpenLocalFile(file, path(relative));
        QCOMPARE(0, error);
        QCOMPARE(LocalFileLength(path(relative)), qint64(7));
        QCOMPARE(file.readAll(), QByteArray("content"));
    } catch (const VbError& e) {
        QCOMPARE(e.number(), error);
        QVERIFY(!file.isOpen());
    }
}

void TestAddFolder::canOpenFile_data() {
    QTest::addColumn<QByteArray>("relative");
    QTest::addColumn<bool>("expected");
    QTest::newRow("regular file") << QByteArray("f.txt") << true;
    QTest::newRow("empty file") << QByteArray("empty") << true;
    QTest::newRow("link to a file") << QByteArray("link") << true;
    QTest::newRow("folder") << QByteArray("sub") << false;
    QTest::newRow("link to a folder") << QByteArray("sublink") << false;
    QTest::newRow("missing") << QByteArray("missing") << false;
    QTest::newRow("dangling link") << QByteArray("dangling") << false;
    QTest::newRow("FIFO") << QByteArray("fifo") << false;
    QTest::newRow("file named as a folder") << QByteArray("f.txt/") << false;
}

void TestAddFolder::canOpenFile() {
    QFETCH(QByteArray, relative);
    QFETCH(bool, expected);
    build({"sub"}, {"f.txt"});
    QVERIFY(makeFile(at("empty")));
    QVERIFY(makeLink("f.txt", at("link")));
    QVERIFY(makeLink("sub", at("sublink")));
    QVERIFY(makeLink("missing", at("dangling")));
    QVERIFY(makeFifo(at("fifo")));
    QCOMPARE(CanOpenFile(path(relative)), expected);
}

void TestAddFolder::isDirectory_data() {
    QTest::addColumn<QString>("path"); // "{R}" stands for the root
    QTest::addColumn<bool>("expected");
    QTest::newRow("folder") << "{R}sub" << true;
    QTest::newRow("folder with separator") << "{R}sub/" << true;
    QTest::newRow("link to a folder") << "{R}sublink/" << true;
    QTest::newRow("file") << "{R}f.txt" << false;
    QTest::newRow("missing") << "{R}missing/" << false;
    QTest::newRow("empty path") << "" << false;
    QTest::newRow("root") << "/" << true;
    QTest::newRow("longer than the system allows") << "/" + QString(PATH_MAX, u'a') << false;
}

void TestAddFolder::isDirectory() {
    QFETCH(QString, path);
    QFETCH(bool, expected);
    build({"sub"}, {"f.txt"});
    QVERIFY(makeLink("sub", at("sublink")));
    QCOMPARE(IsDirectory(path.replace(QStringLiteral("{R}"), this->path(""))), expected);
}

void TestAddFolder::hasUnsafeChars_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("unsafe");
    QTest::newRow("empty") << "" << false;
    QTest::newRow("plain") << "Report 2021.txt" << false;
    QTest::newRow("letters beyond ASCII") << QString::fromUtf8("Ünïcødé 日本") << false;
    QTest::newRow("outside the basic plane") << QString::fromUtf8("\xf0\x9f\x98\x80") << false;
    QTest::newRow("no-break space") << QString(QChar(0xa0)) << false;
    QTest::newRow("tab") << "a\tb" << true;
    QTest::newRow("unit separator") << QString(QChar(31)) << true;
    QTest::newRow("delete") << QString(QChar(127)) << true;
    QTest::newRow("C1 control") << QString(QChar(0x85)) << true;
    QTest::newRow("last C1 control") << QString(QChar(159)) << true;
    QTest::newRow("question mark") << "what?" << true;
    QTest::newRow("lone surrogate") << QString(QChar(0xd800)) + "x" << true;
    QTest::newRow("low surrogate that is no escaped byte") << QString(QChar(0xdc41)) << true;
    QTest::newRow("byte of a name that is not UTF-8") << decodeNameBytes("caf\xe9") << false;
}

void TestAddFolder::hasUnsafeChars() {
    QFETCH(QString, name);
    QFETCH(bool, unsafe);
    QCOMPARE(HasUnsafeChars(name), unsafe);
}

int main(int argc, char** argv) {
    if (argc >= 4 && std::strcmp(argv[1], "--helper") == 0)
        return helperMain(argc, argv);
    QCoreApplication app(argc, argv);
    TestAddFolder test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_addfolder.moc"
