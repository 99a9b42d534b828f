// Upload throughput of the FTP layer against curl -T, on the same loopback
// server and the same local file: medians of several runs each.
//
//   bench_ftp_upload [MiB] [runs] [vsftpd|pyftpdlib]

#include "bench/Median.h"
#include "ftp/RemoteUpload.h"
#include "ftp/Session.h"
#include "tests/support/FtpTestServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Reads the file in the sync run's 1024-byte blocks and hands each to the
// layer; answers seconds, or -1 on failure.
double uploadThroughLayer(const FtpTestServer& server, const QString& source) {
    QElapsedTimer timer;
    timer.start();
    Session session;
    QFile in(source);
    bool ok = server.logIn(session) && in.open(QIODevice::ReadOnly);
    auto file = ok ? session.openUpload(QStringLiteral("/layer.bin"))
                   : Result<std::unique_ptr<RemoteUpload>>(Failure{});
    ok = ok && file;
    char block[1024];
    while (ok) {
        const qint64 n = in.read(block, sizeof block);
        if (n <= 0)
            break;
        ok = (*file)->write(block, n).ok();
    }
    if (file)
        ok = (*file)->finish() && ok;
    return ok ? timer.elapsed() / 1000.0 : -1;
}

double uploadThroughCurl(const FtpTestServer& server, const QString& source) {
    QElapsedTimer timer;
    timer.start();
    QProcess curl;
    curl.start(QStringLiteral("curl"),
               {QStringLiteral("-s"), QStringLiteral("-S"), QStringLiteral("-u"),
                server.user() + QLatin1Char(':') + server.password(), QStringLiteral("-T"), source,
                QStringLiteral("ftp://127.0.0.1:%1/curl.bin").arg(server.port())});
    const bool ok = curl.waitForFinished(-1) && curl.exitCode() == 0;
    return ok ? timer.elapsed() / 1000.0 : -1;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const qint64 mib = args.size() > 1 ? args[1].toLongLong() : 1024;
    const int runs = args.size() > 2 ? args[2].toInt() : 3;
    const bool py = args.size() > 3 && args[3] == QLatin1String("pyftpdlib");
    FtpTestServer server(py ? FtpTestServer::Kind::Pyftpdlib : FtpTestServer::Kind::Vsftpd);
    QString reason;
    if (!server.start(&reason)) {
        std::fprintf(stderr, "cannot start the server: %s\n", qPrintable(reason));
        return 1;
    }
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("source.bin"));
    {
        QFile out(source);
        if (!out.open(QIODevice::WriteOnly))
            return 1;
        QByteArray chunk(1 << 20, Qt::Uninitialized);
        for (int i = 0; i < chunk.size(); ++i)
            chunk[i] = char((i * 131) ^ (i >> 8));
        for (qint64 i = 0; i < mib; ++i)
            out.write(chunk);
    }
    std::vector<double> layer, curl;
    for (int i = 0; i < runs; ++i) {
        curl.push_back(uploadThroughCurl(server, source));
        layer.push_back(uploadThroughLayer(server, source));
        std::printf("run %d: curl -T %.2f s, layer %.2f s\n", i + 1, curl.back(), layer.back());
        if (curl.back() < 0 || layer.back() < 0)
            return 1;
    }
    const double c = median(curl), l = median(layer);
    std::printf("%s, %lld MiB: curl -T median %.2f s (%.0f MiB/s), layer median %.2f s "
                "(%.0f MiB/s), layer/curl throughput %.0f%%\n",
                py ? "pyftpdlib" : "vsftpd", qlonglong(mib), c, mib / c, l, mib / l, 100.0 * c / l);
    return 0;
}
