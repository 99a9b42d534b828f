// A whole compare run (local walk, remote walk, matching, rows) against
// lftp's "mirror -R --dry-run" over the same trees and loopback server.
// Both trees hold the same folders; every tenth local file is new, so both
// tools find the same 10% of the files to upload.
//
//   bench_comparerun [folders] [filesPerFolder] [runs]
//
// Prints median wall times and the rows each proposed. Peak memory: run under
// /usr/bin/time -v.

#include "bench/Median.h"
#include "compare/CompareRun.h"
#include "tests/support/FakeHost.h"
#include "tests/support/FtpTestServer.h"
#include "tests/support/MessageRecorder.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

bool buildTree(const QString& root, int folders, int perFolder, bool local) {
    for (int i = 0; i < folders; ++i) {
        const QString d = QStringLiteral("%1/top%2/sub%3").arg(root).arg(i % 10).arg(i);
        if (!QDir().mkpath(d))
            return false;
        for (int f = 0; f < perFolder; ++f) {
            const bool onlyLocal = f % 10 == 9;
            if (onlyLocal && !local)
                continue;
            QFile file(QStringLiteral("%1/f%2_%3%4.dat")
                           .arg(d)
                           .arg(i)
                           .arg(f)
                           .arg(onlyLocal ? QStringLiteral("new") : QString()));
            if (!file.open(QIODevice::WriteOnly))
                return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int folders = args.size() > 1 ? args[1].toInt() : 1000;
    const int perFolder = args.size() > 2 ? args[2].toInt() : 100;
    const int runs = args.size() > 3 ? args[3].toInt() : 3;

    FtpTestServer server;
    QString reason;
    if (!server.start(&reason)) {
        std::fprintf(stderr, "no server: %s\n", qPrintable(reason));
        return 1;
    }
    QTemporaryDir local;
    if (!buildTree(server.rootPath() + QStringLiteral("/www"), folders, perFolder, false) ||
        !buildTree(local.path(), folders, perFolder, true)) {
        std::fprintf(stderr, "cannot build the trees\n");
        return 1;
    }
    std::printf("trees: %d folders, %d local files per side\n", folders, folders * perFolder);

    MessageRecorder quiet;
    QList<double> ours;
    int rows = 0;
    for (int r = 0; r < runs; ++r) {
        FakeHost host;
        host.hostName = server.host();
        host.port = QString::number(server.port());
        host.userName = server.user();
        host.password = server.password();
        host.remoteFolder = QStringLiteral("/www/");
        host.localFolder = local.path() + QLatin1Char('/');
        QElapsedTimer t;
        t.start();
        RunCompare(host);
        ours << t.nsecsElapsed() / 1e9;
        rows = host.model.rowCount();
    }
    std::printf("compare run: median %.3f s over %d runs, %d rows\n", median(ours), runs, rows);

    const QString lftp = QStandardPaths::findExecutable(QStringLiteral("lftp"));
    if (lftp.isEmpty()) {
        std::printf("lftp: not installed\n");
        return 0;
    }
    QList<double> theirs;
    int lftpRows = 0;
    for (int r = 0; r < runs; ++r) {
        QProcess p;
        QElapsedTimer t;
        t.start();
        p.start(lftp, {QStringLiteral("-u"), server.user() + QLatin1Char(',') + server.password(),
                       QStringLiteral("-p"), QString::number(server.port()), QStringLiteral("-e"),
                       QStringLiteral("set ftp:passive-mode on; mirror -R --dry-run %1 /www; quit")
                           .arg(local.path()),
                       server.host()});
        if (!p.waitForFinished(1200000)) {
            std::printf("lftp: did not finish\n");
            return 0;
        }
        theirs << t.nsecsElapsed() / 1e9;
        const QByteArray out = p.readAllStandardOutput() + p.readAllStandardError();
        // A reverse mirror prints each upload as a "get -O <remote folder> <local file>".
        lftpRows = int(out.count("get -O "));
    }
    std::printf("lftp mirror -R --dry-run: median %.3f s over %d runs, %d uploads\n",
                median(theirs), runs, lftpRows);
    return 0;
}
