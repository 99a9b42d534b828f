// The remote tree walk against lftp's "find" over the same loopback server and
// tree: 1,000 folders holding 100,000 empty files by default.
//
//   bench_remotewalk [folders] [filesPerFolder] [runs]
//
// Prints the median wall time of each and the number of files each saw.

#include "bench/Median.h"
#include "ftp/RemoteTree.h"
#include "ftp/Session.h"
#include "tests/support/FtpTestServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>
#include <cstdio>

namespace {

// Ten top folders, the rest spread below them, files in every folder.
bool buildTree(const QString& root, int folders, int filesPerFolder) {
    QStringList dirs;
    const int top = std::min(10, folders);
    for (int i = 0; i < top; ++i)
        dirs << QStringLiteral("%1/www/top%2").arg(root).arg(i);
    for (int i = top; i < folders; ++i)
        dirs << QStringLiteral("%1/www/top%2/sub%3").arg(root).arg(i % top).arg(i);
    for (const QString& d : dirs) {
        if (!QDir().mkpath(d))
            return false;
        for (int f = 0; f < filesPerFolder; ++f) {
            QFile file(QStringLiteral("%1/file%2.dat").arg(d).arg(f));
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
    QElapsedTimer build;
    build.start();
    if (!buildTree(server.rootPath(), folders, perFolder)) {
        std::fprintf(stderr, "cannot build the tree\n");
        return 1;
    }
    std::printf("tree: %d folders, %d files (built in %.1f s)\n", folders, folders * perFolder,
                build.elapsed() / 1000.0);

    QList<double> walkTimes;
    qsizetype walked = 0;
    for (int r = 0; r < runs; ++r) {
        QElapsedTimer t;
        t.start();
        Session session;
        server.logIn(session);
        FolderQueue queue;
        PathTable paths;
        QList<qint64> sizes;
        const QString root = QStringLiteral("/www/*.*");
        queue.append(root);
        ListRemoteTree(session, queue, root, paths, sizes, 2);
        session.close();
        walkTimes << t.nsecsElapsed() / 1e9;
        walked = paths.size();
    }
    std::printf("ListRemoteTree: median %.3f s over %d runs, %lld files\n", median(walkTimes), runs,
                static_cast<long long>(walked));

    const QString lftp = QStandardPaths::findExecutable(QStringLiteral("lftp"));
    if (lftp.isEmpty()) {
        std::printf("lftp: not installed\n");
        return 0;
    }
    QList<double> lftpTimes;
    qsizetype lftpFiles = 0;
    for (int r = 0; r < runs; ++r) {
        QProcess p;
        QElapsedTimer t;
        t.start();
        p.start(lftp, {QStringLiteral("-u"), server.user() + QLatin1Char(',') + server.password(),
                       QStringLiteral("-p"), QString::number(server.port()), QStringLiteral("-e"),
                       QStringLiteral("set ftp:passive-mode on; find /www/; quit"), server.host()});
        if (!p.waitForFinished(600000)) {
            std::printf("lftp: did not finish\n");
            return 0;
        }
        lftpTimes << t.nsecsElapsed() / 1e9;
        const QByteArray out = p.readAllStandardOutput();
        lftpFiles = out.count('\n') - folders - 1; // find prints folders too
    }
    std::printf("lftp find: median %.3f s over %d runs, %lld files\n", median(lftpTimes), runs,
                static_cast<long long>(lftpFiles));
    return 0;
}
