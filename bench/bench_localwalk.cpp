// Local walk against the physical limit: the folder walk plus the file list of
// every folder, compared with `find DIR -type f | wc -l` on the same warm tree.
//
//   bench_localwalk [folders=1000] [files-per-folder=100] [runs=5]
//
// Builds the tree under the temporary folder, removes it at the end and prints
// the median of each side.

#include "bench/Median.h"
#include "localfs/AddFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

bool touch(const QByteArray& path) {
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

// Ten top folders, the rest spread below them: a shape like a project tree.
bool buildTree(const QByteArray& root, int folders, int filesPerFolder, long& files) {
    const int top = std::max(1, std::min(10, folders));
    std::vector<QByteArray> made;
    for (int i = 0; i < folders; ++i) {
        QByteArray path = root;
        if (i < top)
            path += "/top" + QByteArray::number(i);
        else
            path += "/top" + QByteArray::number(i % top) + "/sub" + QByteArray::number(i);
        if (::mkdir(path.constData(), 0755) != 0)
            return false;
        made.push_back(path);
    }
    files = 0;
    for (const QByteArray& dir : made) {
        for (int f = 0; f < filesPerFolder; ++f) {
            if (!touch(dir + "/file" + QByteArray::number(f) + ".dat"))
                return false;
            ++files;
        }
    }
    return true;
}

long walk(const QString& root) {
    QStringList folders{root + QLatin1Char('/')};
    GetSubDirectories2016(folders, true);
    long files = 0;
    for (const QString& f : std::as_const(folders))
        files += GetFileList(f.chopped(1), QStringLiteral("*.*")).size();
    return files;
}

long find(const QByteArray& root) {
    const QByteArray command = "find '" + root + "' -type f | wc -l";
    FILE* p = ::popen(command.constData(), "r");
    if (!p)
        return -1;
    long n = -1;
    if (std::fscanf(p, "%ld", &n) != 1)
        n = -1;
    ::pclose(p);
    return n;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int folders = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int perFolder = argc > 2 ? std::atoi(argv[2]) : 100;
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;

    QByteArray root = QDir::tempPath().toUtf8() + "/pellmor-bench-walk-XXXXXX";
    if (!::mkdtemp(root.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    long files = 0;
    std::printf("building %d folders x %d files under %s ...\n", folders, perFolder,
                root.constData());
    const bool built = buildTree(root, folders, perFolder, files);
    int status = 0;
    if (!built) {
        std::perror("building the tree");
        status = 1;
    } else {
        const QString rootText = QString::fromUtf8(root);
        // Warm the cache and check both sides count the same files.
        const long ours = walk(rootText);
        const long theirs = find(root);
        std::printf("files: walk %ld, find %ld\n", ours, theirs);
        if (ours != files || theirs != files)
            status = 1;

        std::vector<double> walkMs, findMs;
        QElapsedTimer t;
        for (int r = 0; r < runs; ++r) {
            t.start();
            walk(rootText);
            walkMs.push_back(double(t.nsecsElapsed()) / 1e6);
            t.start();
            find(root);
            findMs.push_back(double(t.nsecsElapsed()) / 1e6);
        }
        const double w = median(walkMs), f = median(findMs);
        std::printf("walk + file lists: median %.1f ms over %d runs\n", w, runs);
        std::printf("find -type f | wc: median %.1f ms over %d runs\n", f, runs);
        std::printf("ratio: %.2f (target <= 1.5)\n", w / f);
    }
    const QByteArray cleanup = "rm -rf '" + root + "'";
    if (std::system(cleanup.constData()) != 0)
        std::fprintf(stderr, "could not remove %s\n", root.constData());
    return status;
}
