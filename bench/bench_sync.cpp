// Upload throughput of the sync run next to other FTP clients, side by side on
// the same loopback server. Run by hand; see bench/README.md.
//
//   bench_sync big  [--mib 1024] [--runs 3] [--server S] [--only ours|tool]
//       one large file: the sync run against curl -T (curl --ssl-reqd -T over
//       TLS, rclone copy over SFTP)
//   bench_sync many [--files 5000] [--folders 100] [--runs 3] [--server S] [--only ...]
//       many small files in new folders: the sync run against lftp mirror -R
//       (rclone copy over SFTP; over TLS only ours runs)
//
// S: pyftpdlib, vsftpd, vsftpd-ftpes, vsftpd-ftps or rclone-sftp.
//
// Prints the time of every run, the medians and the peak memory of this
// process.

#include "bench/Median.h"
#include "ftp/ServerTrust.h"
#include "ftp/Session.h"
#include "sync/SyncRun.h"
#include "tests/support/FakeHost.h"
#include "tests/support/FtpTestServer.h"
#include "tests/support/MessageRecorder.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>

namespace {

struct Options {
    QString mode;
    qint64 mib = 1024;
    int files = 5000;
    int folders = 100;
    int runs = 3;
    FtpTestServer::Kind server = FtpTestServer::Kind::Pyftpdlib;
    FtpTestServer::Tls tls = FtpTestServer::Tls::None;
    QString serverName = QStringLiteral("pyftpdlib");
    QString only;
};

long peakKib() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// Connects, then runs the sync over the rows; answers seconds, or -1 on failure.
double timeSync(const FtpTestServer& server, FakeHost& host) {
    QElapsedTimer t;
    t.start();
    if (!server.logIn(host.session()))
        return -1;
    MessageRecorder boxes;
    RunSync(host);
    const double s = t.nsecsElapsed() / 1e9;
    host.session().close();
    if (boxes.texts() != QStringList{QStringLiteral("Done.")}) {
        std::fprintf(stderr, "sync run said: %s\n",
                     qPrintable(boxes.texts().join(QStringLiteral(" | "))));
        return -1;
    }
    return s;
}

double timeTool(const QString& program, const QStringList& args) {
    QElapsedTimer t;
    t.start();
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.setStandardOutputFile(QProcess::nullDevice());
    p.start(program, args);
    if (!p.waitForStarted() || !p.waitForFinished(-1) || p.exitCode() != 0) {
        std::fprintf(stderr, "%s failed\n", qPrintable(program));
        return -1;
    }
    return t.nsecsElapsed() / 1e9;
}

QString url(const FtpTestServer& s, const QString& path) {
    return QStringLiteral("ftp://%1:%2@127.0.0.1:%3%4")
        .arg(s.user(), s.password())
        .arg(s.port())
        .arg(path);
}

// rclone copy to the SFTP server, with an on-the-fly remote; one transfer at
// a time, as the sync run sends, unless RCLONE_TRANSFERS says otherwise.
QStringList rcloneArgs(const FtpTestServer& s, const QString& source, const QString& target) {
    QProcess obscure;
    obscure.start(QStringLiteral("rclone"), {QStringLiteral("obscure"), s.password()});
    obscure.waitForFinished(-1);
    const QString pass = QString::fromLatin1(obscure.readAllStandardOutput()).trimmed();
    const QByteArray transfers = qgetenv("RCLONE_TRANSFERS");
    return {QStringLiteral("copy"), source, QStringLiteral(":sftp:") + target,
            QStringLiteral("--sftp-host"), s.host(), QStringLiteral("--sftp-port"),
            QString::number(s.port()), QStringLiteral("--sftp-user"), s.user(),
            QStringLiteral("--sftp-pass"), pass, QStringLiteral("--transfers"),
            transfers.isEmpty() ? QStringLiteral("1") : QString::fromLatin1(transfers),
            // The server's folder cache may still show the last run's copy.
            QStringLiteral("--ignore-times"), QStringLiteral("--config"),
            QStringLiteral("/dev/null")};
}

void report(const char* what, const QList<double>& times, double units, const char* unit) {
    QStringList each;
    for (double t : times)
        each << QString::number(t, 'f', 3);
    const double m = median(times);
    std::printf("%-6s runs [%s] s, median %.3f s, %.1f %s\n", what,
                qPrintable(each.join(QStringLiteral(", "))), m, m > 0 ? units / m : 0.0, unit);
}

int bigFile(const Options& o, const FtpTestServer& server, const QString& work) {
    const QString file = work + QStringLiteral("/big.bin");
    {
        QFile f(file);
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        QByteArray block(1 << 20, Qt::Uninitialized);
        auto* rng = QRandomGenerator::global();
        rng->fillRange(reinterpret_cast<quint32*>(block.data()), block.size() / 4);
        for (qint64 i = 0; i < o.mib; ++i)
            f.write(block);
    }
    const double mib = double(o.mib);
    QList<double> ours, tool;
    for (int r = 0; r < o.runs; ++r) {
        if (o.only != QLatin1String("tool")) {
            FakeHost host;
            host.remoteFolder = QStringLiteral("/");
            host.model.addRow(RowKind::Upload, file, QStringLiteral("/ours.bin"));
            ours << timeSync(server, host);
            QFile::remove(server.rootPath() + QStringLiteral("/ours.bin"));
        }
        if (o.only != QLatin1String("ours")) {
            if (o.server == FtpTestServer::Kind::RcloneSftp) {
                tool << timeTool(QStringLiteral("rclone"),
                                 rcloneArgs(server, file, QStringLiteral("/rclone")));
                QDir(server.rootPath() + QStringLiteral("/rclone")).removeRecursively();
            } else {
                QStringList args{QStringLiteral("-s"), QStringLiteral("-T"), file,
                                 url(server, QStringLiteral("/curl.bin"))};
                if (o.tls != FtpTestServer::Tls::None)
                    args << QStringLiteral("--ssl-reqd") << QStringLiteral("-k");
                if (o.tls == FtpTestServer::Tls::Implicit)
                    args[3].replace(0, 3, QStringLiteral("ftps"));
                tool << timeTool(QStringLiteral("curl"), args);
            }
            QFile::remove(server.rootPath() + QStringLiteral("/curl.bin"));
        }
    }
    std::printf("one file of %lld MiB\n", o.mib);
    if (!ours.isEmpty())
        report("pellmor", ours, mib, "MiB/s");
    if (!tool.isEmpty())
        report("tool", tool, mib, "MiB/s");
    if (!ours.isEmpty() && !tool.isEmpty())
        std::printf("pellmor/tool throughput: %.1f%%\n", 100.0 * median(tool) / median(ours));
    return 0;
}

int manyFiles(const Options& o, const FtpTestServer& server, const QString& work) {
    const QString tree = work + QStringLiteral("/tree");
    QStringList paths;
    auto* rng = QRandomGenerator::global();
    QByteArray bytes(8192, Qt::Uninitialized);
    rng->fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
    for (int i = 0; i < o.files; ++i) {
        const QString rel = QStringLiteral("/d%1/f%2.dat").arg(i % o.folders).arg(i);
        QDir().mkpath(tree + QStringLiteral("/d%1").arg(i % o.folders));
        QFile f(tree + rel);
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        f.write(bytes.left(1024 + rng->bounded(7 * 1024 + 1)));
        paths << rel;
    }
    QList<double> ours, tool;
    for (int r = 0; r < o.runs; ++r) {
        const QString target = QStringLiteral("/run%1").arg(r);
        if (o.only != QLatin1String("tool")) {
            FakeHost host;
            host.remoteFolder = target + QStringLiteral("/ours/");
            QStringList sources, destinations;
            for (const QString& rel : paths) {
                sources << tree + rel;
                destinations << target + QStringLiteral("/ours") + rel;
            }
            host.model.addRows(RowKind::Upload, sources, destinations);
            ours << timeSync(server, host);
        }
        if (o.only != QLatin1String("ours") && o.server == FtpTestServer::Kind::RcloneSftp) {
            tool << timeTool(QStringLiteral("rclone"),
                             rcloneArgs(server, tree, target + QStringLiteral("/rclone")));
        } else if (o.only != QLatin1String("ours") && o.tls == FtpTestServer::Tls::None) {
            const QString script =
                QStringLiteral("set ftp:ssl-allow no; set ftp:passive-mode yes; "
                               "set net:max-retries 1; mirror -R --parallel=1 %1 %2/lftp; quit")
                    .arg(tree, target);
            tool << timeTool(QStringLiteral("lftp"),
                             {QStringLiteral("-u"),
                              server.user() + QLatin1Char(',') + server.password(),
                              QStringLiteral("-p"), QString::number(server.port()),
                              QStringLiteral("-e"), script, QStringLiteral("127.0.0.1")});
        }
        QDir(server.rootPath() + target).removeRecursively();
    }
    std::printf("%d files of 1-8 KiB in %d new folders\n", o.files, o.folders);
    if (!ours.isEmpty())
        report("pellmor", ours, o.files, "files/s");
    if (!tool.isEmpty())
        report("tool", tool, o.files, "files/s");
    if (!ours.isEmpty() && !tool.isEmpty())
        std::printf("pellmor/tool files per second: %.1f%%\n", 100.0 * median(tool) / median(ours));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Options o;
    const QStringList args = app.arguments();
    o.mode = args.value(1);
    for (int i = 2; i + 1 < args.size(); i += 2) {
        const QString k = args[i], v = args[i + 1];
        if (k == QLatin1String("--mib"))
            o.mib = v.toLongLong();
        else if (k == QLatin1String("--files"))
            o.files = v.toInt();
        else if (k == QLatin1String("--folders"))
            o.folders = std::max(1, v.toInt());
        else if (k == QLatin1String("--runs"))
            o.runs = std::max(1, v.toInt());
        else if (k == QLatin1String("--server")) {
            o.serverName = v;
            o.server = v.startsWith(QLatin1String("vsftpd")) ? FtpTestServer::Kind::Vsftpd
                       : v == QLatin1String("rclone-sftp")   ? FtpTestServer::Kind::RcloneSftp
                                                             : FtpTestServer::Kind::Pyftpdlib;
            o.tls = v.endsWith(QLatin1String("ftpes"))  ? FtpTestServer::Tls::Explicit
                    : v.endsWith(QLatin1String("ftps")) ? FtpTestServer::Tls::Implicit
                                                        : FtpTestServer::Tls::None;
        } else if (k == QLatin1String("--only"))
            o.only = v;
    }
    if (o.mode != QLatin1String("big") && o.mode != QLatin1String("many")) {
        std::fprintf(stderr, "usage: bench_sync big|many [options], see the source\n");
        return 2;
    }
    FtpTestServer::Options serverOptions;
    serverOptions.tls = o.tls;
    FtpTestServer server(o.server, serverOptions);
    QString reason;
    if (!server.start(&reason)) {
        std::fprintf(stderr, "server: %s\n", qPrintable(reason));
        return 1;
    }
    QTemporaryDir work;
    // The throwaway certificate or host key is trusted once, up front.
    ServerTrust::setLocations(work.filePath(QStringLiteral("trust.ini")),
                              work.filePath(QStringLiteral("known_hosts")));
    {
        MessageRecorder boxes;
        boxes.answers = {QStringLiteral("Trust always")};
        Session trust;
        if (!server.logIn(trust)) {
            std::fprintf(stderr, "cannot log in to the server\n");
            return 1;
        }
    }
    std::printf("server %s on port %d\n", qPrintable(o.serverName), server.port());
    const int status = o.mode == QLatin1String("big") ? bigFile(o, server, work.path())
                                                      : manyFiles(o, server, work.path());
    // A child's own peak is not told apart from the fork of this process here;
    // measure the tools with /usr/bin/time -v and --only tool.
    std::printf("peak memory of this process: %ld KiB\n", peakKib());
    return status;
}
