// The sync run against real loopback FTP servers.

#include "compare/CompareRun.h"
#include "core/UiYield.h"
#include "ftp/Session.h"
#include "sync/SyncRun.h"
#include "tests/support/ActionLog.h"
#include "tests/support/FakeHost.h"
#include "tests/support/FtpTestServer.h"
#include "tests/support/MessageRecorder.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestServers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <functional>
#include <memory>
#include <unistd.h>

namespace {

const QString kDelete = ActionCaption(RowKind::Delete);
const QString kUpload = ActionCaption(RowKind::Upload);
const QString kOverwrite = ActionCaption(RowKind::Overwrite);
const QString kCantCreate = QStringLiteral("Cant create requested file on server");
const QString kLocation = QStringLiteral("Gantrel2021/08/31.Form1.PushButton6_Click");

// Faults written as "COMMAND action [pathContains]", each firing every time.
void addFaults(FtpTestServer& server, const QStringList& faults) {
    for (const QString& text : faults) {
        const QStringList parts = text.split(QLatin1Char(' '));
        FtpTestServer::Fault fault{parts.value(0), parts.value(1), 64 * 1024, 0, -1,
                                   parts.value(2)};
        server.addFault(fault);
    }
}

// Files whose names are raw bytes (not UTF-8).
bool writeRaw(const QByteArray& path, const QByteArray& bytes) {
    FILE* fp = ::fopen(path.constData(), "wb");
    if (!fp)
        return false;
    const bool ok =
        ::fwrite(bytes.constData(), 1, size_t(bytes.size()), fp) == size_t(bytes.size());
    return ::fclose(fp) == 0 && ok;
}
QByteArray readRaw(const QByteArray& path) {
    QByteArray bytes;
    if (FILE* fp = ::fopen(path.constData(), "rb")) {
        char buffer[256];
        size_t n = 0;
        while ((n = ::fread(buffer, 1, sizeof buffer, fp)) > 0)
            bytes.append(buffer, qsizetype(n));
        ::fclose(fp);
    }
    return bytes;
}

// The names in a server folder, hidden ones included.
QStringList namesIn(const QString& folder) {
    QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                               QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

bool isErrorReport(const MessageBoxSpec& box, const QString& description) {
    return box.icon == MessageBoxSpec::Icon::Warning && box.text.startsWith(description) &&
           box.text.contains(QStringLiteral("in ") + kLocation + QStringLiteral(" at line "));
}

// Sets up one case of a test; false when that cannot be done.
using Prepare = std::function<bool()>;

} // namespace

Q_DECLARE_METATYPE(Prepare)

using TestFiles::everyByteValue;
using TestFiles::readFile;
using TestFiles::sha256;
using TestFiles::writeFile;

class TestSyncRun : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<FtpTestServer> server_;
    std::unique_ptr<QTemporaryDir> local_;
    std::unique_ptr<FakeHost> host_;

    // Starts the server and opens the shared session the way a compare run
    // leaves it. False when either cannot be had, the failure (or the skip)
    // already recorded.
    bool startSite(FtpTestServer::Kind kind = FtpTestServer::Kind::Pyftpdlib,
                   FtpTestServer::Options options = {}) {
        server_ = std::make_unique<FtpTestServer>(kind, options);
        if (!TestServers::start(*server_, __FILE__, __LINE__))
            return false;
        if (server_->logIn(host_->session()))
            return true;
        QTest::qFail("the test server refused the log-in", __FILE__, __LINE__);
        return false;
    }
    QString local(const QString& name) const { return local_->filePath(name); }
    QString remote(const QString& path) const { return server_->rootPath() + path; }
    ResultListModel& rows() { return host_->model; }
    int commandsContaining(const QByteArray& text) const {
        int n = 0;
        for (const QByteArray& line : server_->commandLog())
            n += line.contains(text) ? 1 : 0;
        return n;
    }

private slots:
    void init() {
        local_ = std::make_unique<QTemporaryDir>();
        host_ = std::make_unique<FakeHost>();
        host_->recreateColumns();
        UiYield::resetAbort();
    }
    void cleanup() {
        UiYield::setHook({});
        UiYield::setInterval(15);
        host_.reset();
        server_.reset();
        local_.reset();
    }

    void emptyListSaysNoFilesSelected() {
        MessageRecorder boxes;
        RunSync(*host_);
        QCOMPARE(boxes.texts(), QStringList{QStringLiteral("No files selected.")});
        QVERIFY(!host_->busy);
    }

    void busyRunDoesNothing() {
        MessageRecorder boxes;
        rows().addRow(RowKind::Delete, QStringLiteral("/gone.txt"));
        host_->busy = true;
        RunSync(*host_);
        QVERIFY(boxes.texts().isEmpty());
        QCOMPARE(rows().rowCount(), 1);
        QCOMPARE(rows().action(0), kDelete);
        QVERIFY(host_->busy);
    }

    void uploadIsByteExactWithProgress_data() {
        QTest::addColumn<FtpTestServer::Kind>("kind");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QStringList>("texts");
        const auto texts = [](std::initializer_list<int> percents) {
            QStringList t;
            for (int p : percents)
                t << QStringLiteral("uploading %1%").arg(p);
            return t << QStringLiteral("Done");
        };
        for (auto kind : {FtpTestServer::Kind::Pyftpdlib, FtpTestServer::Kind::Vsftpd}) {
            const char* k = kind == FtpTestServer::Kind::Pyftpdlib ? "pyftpdlib" : "vsftpd";
            QTest::addRow("%s empty", k) << kind << qint64(0) << texts({0, 100});
            QTest::addRow("%s 1024", k) << kind << qint64(1024) << texts({0, 100});
            QTest::addRow("%s 1025", k) << kind << qint64(1025) << texts({0, 100});
            QTest::addRow("%s 3000", k) << kind << qint64(3000) << texts({0, 34, 68, 100});
            QTest::addRow("%s 8192", k)
                << kind << qint64(8192) << texts({0, 12, 25, 38, 50, 62, 75, 88, 100});
        }
        QTest::addRow("pyftpdlib 700000")
            << FtpTestServer::Kind::Pyftpdlib << qint64(700000) << QStringList();
    }
    void uploadIsByteExactWithProgress() {
        QFETCH(FtpTestServer::Kind, kind);
        QFETCH(qint64, size);
        QFETCH(QStringList, texts);
        if (!startSite(kind))
            return;
        const QByteArray bytes = everyByteValue(size);
        QVERIFY(writeFile(local(QStringLiteral("f.bin")), bytes));
        rows().addRow(RowKind::Upload, local(QStringLiteral("f.bin")), QStringLiteral("/f.bin"));
        ActionLog log(rows());
        MessageRecorder boxes;

        RunSync(*host_);

        QCOMPARE(boxes.texts(), QStringList{QStringLiteral("Done.")});
        QCOMPARE(rows().rowCount(), 0);
        QVERIFY(!host_->busy);
        QVERIFY(QFileInfo::exists(remote(QStringLiteral("/f.bin"))));
        QCOMPARE(sha256(readFile(remote(QStringLiteral("/f.bin")))), sha256(bytes));
        if (!texts.isEmpty())
            QCOMPARE(log.of(0), texts);
        else
            QCOMPARE(log.last(0), QStringLiteral("Done"));
    }

    void slowLineLetsTheWindowWorkWhileABlockWaits() {
        // A block of the file takes far longer than a yield interval to reach
        // this server: the run must yield while it waits, not only between
        // blocks, and nothing sent may suffer from it.
        FtpTestServer::Options slow;
        slow.uploadBytesPerSecond = 256 * 1024;
        if (!startSite(FtpTestServer::Kind::Pyftpdlib, slow))
            return;
        const QByteArray bytes = everyByteValue(600 * 1024);
        QVERIFY(writeFile(local(QStringLiteral("slow.bin")), bytes));
        rows().addRow(RowKind::Upload, local(QStringLiteral("slow.bin")),
                      QStringLiteral("/slow.bin"));
        QStringList seen;
        UiYield::setHook([&] { seen << rows().action(0); });
        MessageRecorder boxes;

        RunSync(*host_);

        QCOMPARE(boxes.texts(), QStringList{QStringLiteral("Done.")});
        QCOMPARE(sha256(readFile(remote(QStringLiteral("/slow.bin")))), sha256(bytes));
        // Yields that found the row's progress unchanged since the previous
        // one: the run was waiting for the line and let events through.
        int whileWaiting = 0;
        for (qsizetype i = 1; i < seen.size(); ++i) {
            if (seen[i] == seen[i - 1] && seen[i].startsWith(QStringLiteral("uploading")))
                ++whileWaiting;
        }
        QVERIFY2(whileWaiting >= 3, qPrintable(seen.join(QStringLiteral(" | "))));
    }

    void overwriteReplacesAndNewFoldersAreCreated_data() {
        QTest::addColumn<QString>("remoteFolder");
        QTest::addColumn<QString>("destination");
        QTest::addRow("existing folder, overwrite") << "/"
                                                    << "/old.txt";
        QTest::addRow("three new levels") << "/"
                                          << "/a/b/c/x.txt";
        QTest::addRow("remote folder itself missing") << "/site/"
                                                      << "/site/deep/er/x.txt";
        QTest::addRow("remote folder without slash") << "/www"
                                                     << "/wwwsub/x.txt";
    }
    void overwriteReplacesAndNewFoldersAreCreated() {
        QFETCH(QString, remoteFolder);
        QFETCH(QString, destination);
        if (!startSite())
            return;
        QVERIFY(writeFile(remote(QStringLiteral("/old.txt")), "older and longer remote text"));
        QVERIFY(writeFile(local(QStringLiteral("x")), "new\r\n"));
        host_->remoteFolder = remoteFolder;
        rows().addRow(RowKind::Overwrite, local(QStringLiteral("x")), destination);
        MessageRecorder boxes;

        RunSync(*host_);

        QCOMPARE(boxes.texts(), QStringList{QStringLiteral("Done.")});
        QCOMPARE(readFile(remote(destination)), QByteArray("new\r\n"));
    }

    void refusedStoreStopsTheRunAndKeepsTheOldCopy() {
        if (!startSite())
            return;
        QVERIFY(writeFile(remote(QStringLiteral("/page.html")), "old"));
        QVERIFY(writeFile(remote(QStringLiteral("/gone.txt")), "x"));
        QVERIFY(writeFile(local(QStringLiteral("first.txt")), "1"));
        QVERIFY(writeFile(local(QStringLiteral("page.html")), "new page"));
        QVERIFY(writeFile(local(QStringLiteral("later.txt")), "3"));
        rows().addRow(RowKind::Delete, QStringLiteral("/gone.txt"));
        rows().addRow(RowKind::Upload, local(QStringLiteral("first.txt")),
                      QStringLiteral("/first.txt"));
        rows().addRow(RowKind::Overwrite, local(QStringLiteral("page.html")),
                      QStringLiteral("/page.html"));
        rows().addRow(RowKind::Upload, local(QStringLiteral("later.txt")),
                      QStringLiteral("/later.txt"));
        server_->addFault({QStringLiteral("STOR"), QStringLiteral("refuse"), 0, 0, -1,
                           QStringLiteral("page.html")});
        MessageRecorder boxes;

        RunSync(*host_);

        QCOMPARE(boxes.texts(), QStringList{kCantCreate});
        QVERIFY(!host_->busy);
        QCOMPARE(readFile(remote(QStringLiteral("/page.html"))), QByteArray("old"));
        QVERIFY(!QFileInfo::exists(remote(QStringLiteral("/later.txt"))));
        QCOMPARE(rows().rowCount(), 4);
        const QStringList marks{rows().action(0), rows().action(1), rows().action(2),
                                rows().action(3)};
        QCOMPARE(marks, (QStringList{QStringLiteral("Done"), QStringLiteral("Done"), kOverwrite,
                                     kUpload}));

        // Every row is still ticked: the next run takes all of them again,
        // the marked delete row included, and completes.
        server_->clearFaults();
        boxes.clear();
        RunSync(*host_);
        QCOMPARE(boxes.texts(), QStringList{QStringLiteral("Done.")});
        QCOMPARE(rows().rowCount(), 0);
        QCOMPARE(readFile(remote(QStringLiteral("/page.html"))), QByteArray("new page"));
        QCOMPARE(readFile(remote(QStringLiteral("/later.txt"))), QByteArray("3"));
        QVERIFY(!QFileInfo::exists(remote(QStringLiteral("/gone.txt"))));
    }

    // A delete row is "Done" only when the server took the DELE or a listing
    // that worked shows the file gone; with no answer at all the row fails.
    void deleteMarks_data() {
        QTest::addColumn<bool>("exists");
        QTest::addColumn<bool>("sibling"); // another file keeps the folder listing non-empty
        QTest::addColumn<QStringList>("refused");
        QTest::addColumn<QString>("mark");
        const QStringList dele{QStringLiteral("DELE")};
        const QStringList deleSize{QStringLiteral("DELE"), QStringLiteral("SIZE")};
        const QStringList nothing{QStringLiteral("DELE"), QStringLiteral("SIZE"),
                                  QStringLiteral("MLSD"), QStringLiteral("LIST")};
        QTest::newRow("deleted") << true << true << QStringList() << "Done";
        QTest::newRow("already gone") << false << true << QStringList() << "Done";
        QTest::newRow("refused, still there") << true << true << dele << "Fail";
        QTest::newRow("refused, but gone") << false << true << dele << "Done";
        QTest::newRow("refused, SIZE refused, listed") << true << true << deleSize << "Fail";
        QTest::newRow("refused, SIZE refused, not listed") << false << true << deleSize << "Done";
        QTest::newRow("refused, SIZE refused, folder empty")
            << false << false << deleSize << "Done";
        QTest::newRow("no answer, still there") << true << true << nothing << "Fail";
        QTest::newRow("no answer, gone") << false << true << nothing << "Fail";
    }
    void deleteMarks() {
        QFETCH(bool, exists);
        QFETCH(bool, sibling);
        QFETCH(QStringList, refused);
        QFETCH(QString, mark);
        if (!startSite())
            return;
        QVERIFY(QDir().mkpath(remote(QStringLiteral("/sub"))));
        if (exists)
            QVERIFY(writeFile(remote(QStringLiteral("/sub/old.txt")), "x"));
        if (sibling)
            QVERIFY(writeFile(remote(QStringLiteral("/sub/other.txt")), "y"));
        for (const QString& command : refused)
            server_->addFault({command, QStringLiteral("refuse"), 0, 0, -1, QString()});
        rows().addRow(RowKind::Delete, QStringLiteral("/sub/old.txt"));
        ActionLog log(rows());
        MessageRecorder boxes;

        RunSync(*host_);

        QCOMPARE(log.of(0), QStringList{mark});
        QCOMPARE(QFileInfo::exists(remote(QStringLiteral("/sub/old.txt"))),
                 exists && !refused.isEmpty());
        QCOMPARE(boxes.texts().size(), 1);
    }

    // An overwrite goes up under a temporary name and takes the real one only
    // once the server has all of it: the old copy survives every failure.
    void overwriteNeverLosesTheOldCopy_data() {
        QTest::addColumn<FtpTestServer::Kind>("kind");
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<QString>("lastMessage"); // "<error>": the upload error of the row
        QTest::addColumn<QString>("mark");        // the action text the row ends with
        QTest::addColumn<bool>("replaced");
        const auto py = FtpTestServer::Kind::Pyftpdlib;
        const QString done = QStringLiteral("Done.");
        QTest::newRow("pyftpdlib") << py << QStringList() << done << "Done" << true;
        QTest::newRow("vsftpd") << FtpTestServer::Kind::Vsftpd << QStringList() << done << "Done"
                                << true;
        QTest::newRow("store refused")
            << py << QStringList{"STOR refuse page.html"} << kCantCreate << kOverwrite << false;
        QTest::newRow("data connection dropped")
            << py << QStringList{"STOR drop-data page.html"} << "Done. 1 file failed."
            << "Fail" << false;
        QTest::newRow("temporary name refused, real one taken")
            << py << QStringList{"STOR refuse ~"} << done << "Done" << true;
        QTest::newRow("renames refused: straight upload")
            << py << QStringList{"RNFR refuse"} << done << "Done" << true;
        QTest::newRow("no rename onto a taken name: delete, then rename")
            << py << QStringList{"RNTO refuse-if-exists"} << done << "Done" << true;
        QTest::newRow("every rename target refused: straight upload")
            << py << QStringList{"RNTO refuse"} << done << "Done" << true;
    }
    void overwriteNeverLosesTheOldCopy() {
        QFETCH(FtpTestServer::Kind, kind);
        QFETCH(QStringList, faults);
        QFETCH(QString, lastMessage);
        QFETCH(QString, mark);
        QFETCH(bool, replaced);
        if (!startSite(kind))
            return;
        const QByteArray old("the old remote copy");
        const QByteArray fresh = everyByteValue(300000);
        QVERIFY(writeFile(remote(QStringLiteral("/page.html")), old));
        QVERIFY(writeFile(local(QStringLiteral("page.html")), fresh));
        rows().addRow(RowKind::Overwrite, local(QStringLiteral("page.html")),
                      QStringLiteral("/page.html"));
        addFaults(*server_, faults);
        MessageRecorder boxes;

        RunSync(*host_);

        QCOMPARE(boxes.texts().last(), lastMessage);
        QCOMPARE(rows().rowCount() ? rows().action(0) : QStringLiteral("Done"), mark);
        QCOMPARE(sha256(readFile(remote(QStringLiteral("/page.html")))),
                 sha256(replaced ? fresh : old));
        // Nothing left behind beside it.
        QCOMPARE(namesIn(server_->rootPath()), QStringList{QStringLiteral("page.html")});
    }

    // After a run in which rows failed, the list keeps only those, ticked, and
    // the next run carries them out as what they were.
    void failedRowsStayForTheNextRun_data() {
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QList<int>>("failedRows");
        QTest::newRow("none failed") << QStringList() << "Done." << QList<int>();
        QTest::newRow("a delete refused") << QStringList{"DELE refuse del2", "SIZE refuse del2"}
                                          << "Done. 1 file failed." << QList<int>{1};
        QTest::newRow("an upload and an overwrite cut off")
            << QStringList{"STOR drop-data up.bin", "STOR drop-data ow.bin"}
            << "Done. 2 files failed." << QList<int>{2, 3};
        QTest::newRow("one of each kind")
            << QStringList{"DELE refuse del1", "SIZE refuse del1", "STOR drop-data up.bin",
                           "STOR drop-data ow.bin"}
            << "Done. 3 files failed." << QList<int>{0, 2, 3};
    }
    void failedRowsStayForTheNextRun() {
        QFETCH(QStringList, faults);
        QFETCH(QString, message);
        QFETCH(QList<int>, failedRows);
        if (!startSite())
            return;
        const QByteArray up = everyByteValue(300000);
        const QByteArray ow = everyByteValue(400000);
        QVERIFY(writeFile(remote(QStringLiteral("/del1.txt")), "1"));
        QVERIFY(writeFile(remote(QStringLiteral("/del2.txt")), "2"));
        QVERIFY(writeFile(remote(QStringLiteral("/ow.bin")), "old"));
        QVERIFY(writeFile(local(QStringLiteral("up.bin")), up));
        QVERIFY(writeFile(local(QStringLiteral("ow.bin")), ow));
        QVERIFY(writeFile(local(QStringLiteral("skip.txt")), "s"));
        rows().addRow(RowKind::Delete, QStringLiteral("/del1.txt"));
        rows().addRow(RowKind::Delete, QStringLiteral("/del2.txt"));
        rows().addRow(RowKind::Upload, local(QStringLiteral("up.bin")), QStringLiteral("/up.bin"));
        rows().addRow(RowKind::Overwrite, local(QStringLiteral("ow.bin")),
                      QStringLiteral("/ow.bin"));
        rows().addRow(RowKind::Upload, local(QStringLiteral("skip.txt")),
                      QStringLiteral("/skip.txt"));
        rows().setChecked(4, false);
        QStringList sources;
        for (int row : failedRows)
            sources << rows().source(row);
        addFaults(*server_, faults);
        MessageRecorder boxes;

        RunSync(*host_);

        QCOMPARE(boxes.texts().last(), message);
        QCOMPARE(rows().rowCount(), int(failedRows.size()));
        for (int i = 0; i < rows().rowCount(); ++i) {
            QCOMPARE(rows().source(i), sources.at(i));
            QCOMPARE(rows().action(i), QStringLiteral("Fail"));
            QVERIFY(rows().isChecked(i));
        }

        server_->clearFaults();
        boxes.clear();
        RunSync(*host_);

        QCOMPARE(boxes.texts().last(), failedRows.isEmpty() ? QStringLiteral("No files selected.")
                                                            : QStringLiteral("Done."));
        QCOMPARE(rows().rowCount(), 0);
        QCOMPARE(namesIn(server_->rootPath()),
                 (QStringList{QStringLiteral("ow.bin"), QStringLiteral("up.bin")}));
        QCOMPARE(sha256(readFile(remote(QStringLiteral("/up.bin")))), sha256(up));
        QCOMPARE(sha256(readFile(remote(QStringLiteral("/ow.bin")))), sha256(ow));
    }

    // Byte 0xFF reaches no server: a row naming it fails and no file changes.
    void namesHoldingByteFFFailTheirRow_data() {
        QTest::addColumn<FtpTestServer::Kind>("kind");
        QTest::newRow("pyftpdlib") << FtpTestServer::Kind::Pyftpdlib;
        QTest::newRow("vsftpd") << FtpTestServer::Kind::Vsftpd;
    }
    void namesHoldingByteFFFailTheirRow() {
        QFETCH(FtpTestServer::Kind, kind);
        if (!startSite(kind))
            return;
        const QByteArray root = QFile::encodeName(server_->rootPath());
        for (const QByteArray& name : {QByteArray("a\xFF"
                                                  "b"),
                                       QByteArray("a\xFF\xFF"
                                                  "b")})
            QVERIFY(writeRaw(root + '/' + name, name));
        const QString ff = QString(QChar(0xDCFF));
        QVERIFY(writeFile(local(QStringLiteral("x.txt")), "x"));
        rows().addRow(RowKind::Delete, QStringLiteral("/a") + ff + QStringLiteral("b"));
        rows().addRow(RowKind::Upload, local(QStringLiteral("x.txt")), QStringLiteral("/x") + ff);
        rows().addRow(RowKind::Upload, local(QStringLiteral("x.txt")), QStringLiteral("/x.txt"));
        ActionLog log(rows());
        MessageRecorder boxes;

        RunSync(*host_);

        QCOMPARE(log.last(0), QStringLiteral("Fail"));
        QCOMPARE(log.last(1), QStringLiteral("Fail"));
        QCOMPARE(log.last(2), QStringLiteral("Done"));
        QCOMPARE(boxes.texts().last(), QStringLiteral("Done. 2 files failed."));
        for (const QByteArray& name : {QByteArray("a\xFF"
                                                  "b"),
                                       QByteArray("a\xFF\xFF"
                                                  "b")}) {
            QCOMPARE(readRaw(root + '/' + name), name);
            ::unlink((root + '/' + name).constData());
        }
        // The names above are not UTF-8, so they are not among these.
        QCOMPARE(namesIn(server_->rootPath()), QStringList{QStringLiteral("x.txt")});
        for (const QByteArray& line : server_->commandLog())
            QVERIFY(!line.contains('\xFF'));
    }

    // Links below the remote folder are entries of their own: matched by name,
    // deleted or replaced as links, never walked and never written through.
    void remoteLinksAreEntriesOfTheirOwn_data() {
        QTest::addColumn<FtpTestServer::Kind>("kind");
        QTest::addColumn<bool>("hideMlsd");
        QTest::addColumn<QStringList>("faults");
        const auto py = FtpTestServer::Kind::Pyftpdlib;
        QTest::newRow("pyftpdlib MLSD") << py << false << QStringList();
        QTest::newRow("pyftpdlib LIST") << py << true << QStringList();
        QTest::newRow("pyftpdlib, renames refused") << py << false << QStringList{"RNFR refuse"};
        QTest::newRow("vsftpd") << FtpTestServer::Kind::Vsftpd << false << QStringList();
    }
    void remoteLinksAreEntriesOfTheirOwn() {
        QFETCH(FtpTestServer::Kind, kind);
        QFETCH(bool, hideMlsd);
        QFETCH(QStringList, faults);
        FtpTestServer::Options options;
        options.hideMlsd = hideMlsd;
        if (!startSite(kind, options))
            return;
        const QByteArray target("the linked file");
        QVERIFY(writeFile(remote(QStringLiteral("/www/real.txt")), target));
        QVERIFY(writeFile(remote(QStringLiteral("/www/sub/in.txt")), "in"));
        QVERIFY(writeFile(remote(QStringLiteral("/secret/s.txt")), "outside"));
        QVERIFY(QFile::link(QStringLiteral("real.txt"), remote(QStringLiteral("/www/link.txt"))));
        QVERIFY(QFile::link(QStringLiteral("../secret"), remote(QStringLiteral("/www/outside"))));
        QVERIFY(QFile::link(QStringLiteral("sub"), remote(QStringLiteral("/www/dirlink"))));
        const QByteArray fresh = everyByteValue(5000);
        QVERIFY(writeFile(local(QStringLiteral("real.txt")), target));
        QVERIFY(writeFile(local(QStringLiteral("link.txt")), fresh));
        QVERIFY(writeFile(local(QStringLiteral("sub/in.txt")), "in"));
        QVERIFY(writeFile(local(QStringLiteral("s.txt")), "a local file named like one outside"));
        host_->remoteFolder = QStringLiteral("/www/");
        host_->localFolder = local_->path() + QLatin1Char('/');
        host_->hostName = server_->host();
        host_->port = QString::number(server_->port());
        host_->userName = server_->user();
        host_->password = server_->password();
        MessageRecorder boxes;

        RunCompare(*host_);

        // The file link matches its local namesake (no upload, and no overwrite
        // from its listed size); the folder links are deletable entries; the
        // folder outside is never walked, so s.txt is an upload.
        QStringList proposed;
        for (int i = 0; i < rows().rowCount(); ++i)
            proposed << rows().action(i) + QLatin1Char('|') + rows().source(i).section('/', -1) +
                            QLatin1Char('|') + rows().destination(i);
        proposed.sort();
        QCOMPARE(proposed, (QStringList{kDelete + "|dirlink|", kDelete + "|outside|",
                                        kUpload + "|s.txt|/www/s.txt"}));

        // An overwrite of the link replaces the link, not the file it points to.
        rows().addRow(RowKind::Overwrite, local(QStringLiteral("link.txt")),
                      QStringLiteral("/www/link.txt"));
        addFaults(*server_, faults);
        boxes.clear();
        RunSync(*host_);

        QCOMPARE(boxes.texts(), QStringList{QStringLiteral("Done.")});
        QVERIFY(!QFileInfo(remote(QStringLiteral("/www/outside"))).isSymLink());
        QVERIFY(!QFileInfo::exists(remote(QStringLiteral("/www/outside"))));
        QVERIFY(!QFileInfo::exists(remote(QStringLiteral("/www/dirlink"))));
        QVERIFY(!QFileInfo(remote(QStringLiteral("/www/link.txt"))).isSymLink());
        QCOMPARE(sha256(readFile(remote(QStringLiteral("/www/link.txt")))), sha256(fresh));
        QCOMPARE(readFile(remote(QStringLiteral("/www/real.txt"))), target);
        QCOMPARE(readFile(remote(QStringLiteral("/www/sub/in.txt"))), QByteArray("in"));
        QCOMPARE(readFile(remote(QStringLiteral("/secret/s.txt"))), QByteArray("outside"));
    }

    void ticksAreReadWhenTheRunGetsThere() {
        if (!startSite())
            return;
        for (const char* name : {"a", "b", "c"})
            QVERIFY(writeFile(local(QLatin1String(name)), QByteArray(5000, name[0])));
        rows().addRow(RowKind::Upload, local(QStringLiteral("a")), QStringLiteral("/a"));
        rows().addRow(RowKind::Upload, local(QStringLiteral("b")), QStringLiteral("/b"));
        rows().addRow(RowKind::Upload, local(QStringLiteral("c")), QStringLiteral("/c"));
        rows().setChecked(2, false);
        // While the first file is being sent the user unticks the second row
        // and ticks the third.
        UiYield::setInterval(0);
        UiYield::setHook([this] {
            if (rows().rowCount() == 3 &&
                rows().action(0).startsWith(QStringLiteral("uploading"))) {
                rows().setChecked(1, false);
                rows().setChecked(2, true);
            }
        });
        ActionLog log(rows());
        MessageRecorder boxes;

        RunSync(*host_);

        QCOMPARE(boxes.texts(), QStringList{QStringLiteral("Done.")});
        QVERIFY(QFileInfo::exists(remote(QStringLiteral("/a"))));
        QVERIFY(!QFileInfo::exists(remote(QStringLiteral("/b"))));
        QVERIFY(QFileInfo::exists(remote(QStringLiteral("/c"))));
        QVERIFY(log.of(1).isEmpty());
    }

    void uncheckedRowsAreLeftAlone() {
        if (!startSite())
            return;
        QVERIFY(writeFile(remote(QStringLiteral("/keep.txt")), "k"));
        QVERIFY(writeFile(local(QStringLiteral("n.txt")), "n"));
        rows().addRow(RowKind::Delete, QStringLiteral("/keep.txt"));
        rows().addRow(RowKind::Upload, local(QStringLiteral("n.txt")),
                      QStringLiteral("/new/n.txt"));
        rows().setAllChecked(false);
        ActionLog log(rows());
        MessageRecorder boxes;

        RunSync(*host_);

        QCOMPARE(boxes.texts(), QStringList{QStringLiteral("Done.")});
        QCOMPARE(rows().rowCount(), 0);
        QVERIFY(log.of(0).isEmpty() && log.of(1).isEmpty());
        QVERIFY(QFileInfo::exists(remote(QStringLiteral("/keep.txt"))));
        QCOMPARE(
            commandsContaining("STOR") + commandsContaining("DELE") + commandsContaining("MKD"), 0);
    }

    void failedUploadsFailTheirRowAndTheRunGoesOn_data() {
        // prepare runs once both local files are written and the server is up.
        QTest::addColumn<Prepare>("prepare");
        QTest::addColumn<QString>("destination");
        // The first box: a trap report whose description starts with report
        // (any description when empty), or else exactly report with the
        // local path for %1.
        QTest::addColumn<bool>("trapReport");
        QTest::addColumn<QString>("report");
        QTest::addColumn<bool>("nameNeverSent");
        const QString bad = QStringLiteral("bad.bin");
        const QString destination = QStringLiteral("/dir/bad.bin");
        const Prepare nothing = [] { return true; };

        QTest::newRow("local file vanished")
            << Prepare([this, bad] { return QFile::remove(local(bad)); }) << destination << true
            << QStringLiteral("File not found") << true;
        QTest::newRow("local file is a folder") << Prepare([this, bad] {
            return QFile::remove(local(bad)) && QDir().mkpath(local(bad));
        }) << destination << true << QString() << false;
        QTest::newRow("local file shrinks while sent") << Prepare([this, bad] {
            UiYield::setInterval(0);
            UiYield::setHook([this, bad] {
                if (rows().rowCount() && rows().action(0).startsWith(QStringLiteral("uploading")))
                    QFile::resize(local(bad), 1000);
            });
            return true;
        }) << destination << true << QString() << false;
        // Every try of the file: a connection that breaks once is tried again.
        QTest::newRow("data connection dropped") << Prepare([this, bad] {
            server_->addFault(
                {QStringLiteral("STOR"), QStringLiteral("drop-data"), 64 * 1024, 0, -1, bad});
            return true;
        }) << destination << false << QStringLiteral("Error uploading file..%1")
                                                 << false;
        QTest::newRow("control character in the name")
            << nothing << QStringLiteral("/dir/bad\r\nDELE next.txt") << true << QString() << true;
    }
    void failedUploadsFailTheirRowAndTheRunGoesOn() {
        QFETCH(Prepare, prepare);
        QFETCH(QString, destination);
        QFETCH(bool, trapReport);
        QFETCH(QString, report);
        QFETCH(bool, nameNeverSent);
        if (!startSite())
            return;
        const QByteArray big = everyByteValue(3 * 1024 * 1024);
        QVERIFY(writeFile(local(QStringLiteral("bad.bin")), big));
        QVERIFY(writeFile(local(QStringLiteral("next.txt")), "next"));
        QVERIFY(prepare());
        rows().addRow(RowKind::Upload, local(QStringLiteral("bad.bin")), destination);
        rows().addRow(RowKind::Upload, local(QStringLiteral("next.txt")),
                      QStringLiteral("/next.txt"));
        ActionLog log(rows());
        MessageRecorder boxes;

        RunSync(*host_);

        QCOMPARE(log.last(0), QStringLiteral("Fail"));
        QCOMPARE(log.last(1), QStringLiteral("Done"));
        QCOMPARE(boxes.texts().size(), 2);
        QCOMPARE(boxes.texts().last(), QStringLiteral("Done. 1 file failed."));
        const MessageBoxSpec first = boxes.boxes().first();
        if (trapReport)
            QVERIFY2(isErrorReport(first, report), qPrintable(first.text));
        else
            QCOMPARE(first.text, report.arg(local(QStringLiteral("bad.bin"))));
        // Nothing but the local file's own bytes may stay on the server.
        const QString left = remote(QStringLiteral("/dir/bad.bin"));
        QVERIFY2(!QFileInfo::exists(left) || big.startsWith(readFile(left)), "foreign bytes");
        QVERIFY(!QFileInfo::exists(left));
        QCOMPARE(readFile(remote(QStringLiteral("/next.txt"))), QByteArray("next"));
        if (nameNeverSent)
            QCOMPARE(commandsContaining("bad"), 0);
        QVERIFY(QFileInfo(local(QStringLiteral("next.txt"))).size() == 4);
    }

    void lostConnectionFailsDeletesAndStopsAtTheFirstUpload_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("no session ever") << "none";
        QTest::newRow("server gone mid-upload") << "mid-upload";
    }
    void lostConnectionFailsDeletesAndStopsAtTheFirstUpload() {
        QFETCH(QString, how);
        if (!startSite())
            return;
        QVERIFY(writeFile(remote(QStringLiteral("/old.txt")), "o"));
        QVERIFY(writeFile(local(QStringLiteral("big.bin")), everyByteValue(8 * 1024 * 1024)));
        QVERIFY(writeFile(local(QStringLiteral("x.txt")), "x"));
        int first = 0;
        if (how == QLatin1String("mid-upload")) {
            rows().addRow(RowKind::Upload, local(QStringLiteral("big.bin")),
                          QStringLiteral("/big.bin"));
            first = 1;
            UiYield::setInterval(0);
            UiYield::setHook([this] {
                if (server_->port() && rows().action(0).startsWith(QStringLiteral("uploading")))
                    server_->stop();
            });
        } else {
            host_->session().close();
        }
        rows().addRow(RowKind::Delete, QStringLiteral("/old.txt"));
        rows().addRow(RowKind::Upload, local(QStringLiteral("x.txt")), QStringLiteral("/x.txt"));
        rows().addRow(RowKind::Delete, QStringLiteral("/never.txt"));
        ActionLog log(rows());
        MessageRecorder boxes;

        RunSync(*host_);

        if (first == 1)
            QCOMPARE(log.last(0), QStringLiteral("Fail"));
        QCOMPARE(log.of(first), QStringList{QStringLiteral("Fail")});
        QVERIFY(log.of(first + 1).isEmpty());
        QVERIFY(log.of(first + 2).isEmpty());
        QCOMPARE(boxes.texts().last(), kCantCreate);
        QVERIFY(!boxes.texts().contains(QStringLiteral("Done.")));
        QCOMPARE(rows().rowCount(), first + 3);
        QVERIFY(!host_->busy);
    }
};

QTEST_GUILESS_MAIN(TestSyncRun)
#include "tst_sync.moc"
