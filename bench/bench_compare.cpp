// Matching and filling the result list of a real main window for two large
// trees held in memory: how long it takes, how many rows it makes, and the
// longest stretch during which the window could not process events.
//
//   QT_QPA_PLATFORM=offscreen bench_compare [files-per-side] [runs]

#include "app/Form1.h"
#include "bench/Median.h"
#include "compare/CompareRun.h"
#include "compare/ResultListModel.h"
#include "core/ErrorTrap.h"
#include "core/UiYield.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct Scenario {
    const char* name;
    // Per file index: 0 shared name and size, 1 local only, 2 remote only,
    // 3 shared name with a smaller remote file.
    int (*kind)(int i);
};

CompareLists makeLists(int files, const Scenario& scenario, const QString& localFolder) {
    CompareLists lists;
    const int folders = std::max(1, files / 100);
    const QChar sep = QDir::separator();
    for (int i = 0; i < files; ++i) {
        const QString sub = QStringLiteral("dir%1").arg(i % folders);
        const QString name = QStringLiteral("file-%1.dat").arg(i);
        const int kind = scenario.kind(i);
        const QString localName = kind == 2 ? name + QStringLiteral(".remote") : name;
        const QString remoteName = kind == 1 ? name + QStringLiteral(".local") : name;
        lists.localPaths.append(localFolder + sub + sep + localName);
        lists.localSizes.append(1000 + i);
        // The server lists folders in another order than the local walk.
        lists.remotePaths.append(QStringLiteral("/www/dir%1/").arg((i * 7) % folders) + remoteName);
        lists.remoteSizes.append(kind == 3 ? 10 : 1000 + i);
    }
    return lists;
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QApplication app(argc, argv);
    const int files = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 3;

    const Scenario scenarios[] = {
        {"mostly in line (90% same, 4% new, 4% gone, 2% changed)",
         [](int i) {
             const int r = i % 50;
             return r < 2 ? 1 : r < 4 ? 2 : r == 4 ? 3 : 0;
         }},
        {"nothing in common (every file a row: 200,000 rows)", [](int) { return 1; }},
        {"every file changed (100,000 overwrite rows)", [](int) { return 3; }},
    };

    Form1 window;
    window.Form_Load();
    window.show();
    QApplication::processEvents();

    // The longest time between two event-loop runs: what the user feels.
    QElapsedTimer sinceYield;
    qint64 longestGapMs = 0;
    UiYield::setHook([&] {
        if (sinceYield.isValid())
            longestGapMs = std::max(longestGapMs, sinceYield.elapsed());
        QApplication::processEvents();
        sinceYield.start();
    });

    const QString localFolder = QStringLiteral("/home/user/site/");
    std::printf("%d local vs %d remote files, %d runs each, median\n", files, files, runs);
    for (const Scenario& s : scenarios) {
        const CompareLists lists = makeLists(files, s, localFolder);
        std::vector<double> times;
        int rows = 0;
        qint64 worstGap = 0;
        for (int run = 0; run < runs; ++run) {
            window.resultList().clear();
            window.recreateColumns();
            QApplication::processEvents();
            ErrorTrap trap(QStringLiteral("bench"));
            longestGapMs = 0;
            sinceYield.start();
            QElapsedTimer t;
            t.start();
            AddProposedRows(window, trap, lists, localFolder, QStringLiteral("/www/"));
            window.makeRowVisible(window.resultList().rowCount() - 1);
            QApplication::processEvents(); // the view catches up with the last rows
            times.push_back(double(t.nsecsElapsed()) / 1e6);
            rows = window.resultList().rowCount();
            worstGap = std::max(worstGap, longestGapMs);
        }
        std::printf("  %-58s %8.1f ms  %6d rows  longest UI gap %lld ms\n", s.name, median(times),
                    rows, static_cast<long long>(worstGap));
    }
    UiYield::setHook({});
    return 0;
}
