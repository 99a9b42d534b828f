// The program as a user meets it: the real main window, shown on a display
// (Xvfb, or the offscreen platform), its buttons pressed with mouse clicks,
// against a loopback pyftpdlib server, with other FTP clients timed on the
// same server and tree in the same run. Run by hand; see bench/README.md.
//
//   bench_window many    [--files 1000] [--folders 33] [--runs 3] [--delay-ms 0]
//       compare, then sync of small files into new folders; against
//       lftp mirror -R (one connection and --parallel=4) and rclone copy
//       (over vsftpd-ftpes: against the same sync over plain FTP to a second
//       vsftpd; over rclone-sftp: against rclone copy to the same server)
//   bench_window compare [--files 20000] [--folders 200] [--runs 3] [--delay-ms 0] [--sparse]
//       compare runs (every tenth local file missing on the server), each
//       replacing the rows of the one before; against lftp mirror -R --dry-run.
//       [--a11y-client] [--a11y-listen] [--a11y-read count|row|all]: an
//       assistive-technology client reads the list over the AT-SPI bus
//       meanwhile (bench/a11y_client.py; run under the bus, see
//       bench/window_a11y.sh)
//   bench_window big     [--mib 1024] [--runs 3] [--upload-bps 0]
//       sync of one large file; against curl -T. With --upload-bps the server
//       takes uploads no faster than that (a slow line), and the longest
//       pause of the window's event loop during the sync is what counts
//       (over vsftpd-ftpes against curl --ssl-reqd -T, over rclone-sftp
//       against rclone copy)
//   common options: [--server pyftpdlib|vsftpd|vsftpd-ftpes|rclone-sftp]
//       [--transfers N] stores the Transfers setting (else the default;
//       rclone's --transfers is the same number)
//       [--match name|path] [--overwrite smaller|size|time|content] store the
//       compare rules (MatchBy, OverwriteWhen; else the default rules)
//       [--login-delay-ms N] has pyftpdlib answer every PASS that much later
//       [--binary PATH] drives the built program instead (see below)
//       [--versus-transfers N] (many, with --binary) a second instance of the
//       program, with Transfers N, does the same job in each round
//
// The window is made as the program makes it (Form1, the widget message
// boxes, Form_Load, show), its settings read from a throwaway
// XDG_CONFIG_HOME. Clicks are Qt mouse events on the buttons; a message box
// is read and closed the moment it opens. Times are medians; the peak memory
// is that of this process (the window and everything it ran).
//
// With --binary (on an X display with xdotool), the
// built program itself runs as its own process with the same throwaway
// settings: its buttons are clicked with xdotool at their places in the
// window, a compare counts as finished when its FTP transcript (written to a
// file) says the run ended, a sync when the "Done." box appears on the display.
// The transcript's file writes are the only thing added to the program's work.

#include "app/Form1.h"
#include "app/WidgetMessageBox.h"
#include "bench/Median.h"
#include "bench/X11Windows.h"
#include "compare/ResultListModel.h"
#include "compare/Transfers.h"
#include "core/SettingsStore.h"
#include "ftp/ServerTrust.h"
#include "tests/support/FtpTestServer.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

namespace {

struct Options {
    QString mode;
    int files = 0;
    int folders = 0;
    int runs = 3;
    int delayMs = 0;
    qint64 mib = 1024;
    qint64 uploadBps = 0;
    int transfers = 0; // 0: not stored, the program's default
    // The compare rules' words; empty: not stored, the default rules.
    QString match;
    QString overwrite;
    // Every PASS answered this much later (pyftpdlib): a server slow to log in.
    int logInDelayMs = 0;
    // With --binary: a second instance of the program with this Transfers
    // setting does the same job in each round, the order alternated.
    int versusTransfers = 0;
    QString binary;
    // Compare mode: files made as holes of their sizes, so that trees of a
    // million files cost no disk and little time to make.
    bool sparse = false;
    bool a11yClient = false;
    bool a11yListen = false;
    QString a11yRead = QStringLiteral("count");
    QString server = QStringLiteral("pyftpdlib");
    bool ftpes() const { return server == QLatin1String("vsftpd-ftpes"); }
    bool sftp() const { return server == QLatin1String("rclone-sftp"); }
    int effectiveTransfers() const { return transfers > 0 ? transfers : Transfers::kDefault; }
};

// An assistive-technology client (bench/a11y_client.py) reading the result
// list's row count and the dialogs over the AT-SPI bus while the runs go on,
// as a screen reader does. Needs the bus: see bench/window_a11y.sh.
class A11yClient {
public:
    bool start(qint64 pid, bool listen, const QString& read) {
        QStringList args{QStringLiteral(PELLMOR_BENCH_DIR "/a11y_client.py"),
                         QStringLiteral("--pid"), QString::number(pid), QStringLiteral("--name"),
                         QStringLiteral("Result list")};
        if (listen)
            args << QStringLiteral("--listen");
        args << QStringLiteral("--read") << read;
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(QStringLiteral("/usr/bin/python3"), args);
        // The client asks the window while it looks for the list, so the
        // window's event loop must run meanwhile.
        const bool ready = QTest::qWaitFor(
            [&] {
                out_ += process_.readAllStandardOutput();
                return out_.contains('\n') || process_.state() == QProcess::NotRunning;
            },
            120000);
        std::printf("a11y client: %s", ready ? out_.constData() : "did not answer\n");
        return ready && out_.startsWith("ready");
    }

    // Stops the client and answers its summary of what it read.
    QString stop() {
        QEventLoop loop;
        QObject::connect(&process_, &QProcess::finished, &loop, &QEventLoop::quit);
        process_.closeWriteChannel();
        if (process_.state() == QProcess::Running)
            loop.exec();
        out_ += process_.readAllStandardOutput();
        const QList<QByteArray> lines = out_.trimmed().split('\n');
        return QString::fromUtf8(lines.last());
    }

private:
    QProcess process_;
    QByteArray out_;
};

// The longest time the window's event loop went without a pass while a
// click's run was going on: what a user feels as a frozen window.
class PauseMeter : public QObject {
public:
    PauseMeter() {
        timer_.setInterval(5);
        connect(&timer_, &QTimer::timeout, this, [this] {
            if (since_.isValid())
                longestMs = std::max(longestMs, since_.elapsed());
            since_.start();
        });
        timer_.start();
    }
    void reset() {
        longestMs = 0;
        since_.start();
    }
    qint64 longestMs = 0;

private:
    QTimer timer_;
    QElapsedTimer since_;
};

// Reads and closes every message box as it opens, noting when.
class BoxWatcher : public QObject {
public:
    BoxWatcher() {
        timer_.setInterval(1);
        connect(&timer_, &QTimer::timeout, this, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            texts << box->text();
            lastAt = clock.nsecsElapsed() / 1e9;
            box->accept();
        });
        timer_.start();
    }
    QStringList texts;
    double lastAt = 0;
    QElapsedTimer clock;

private:
    QTimer timer_;
};

double runTool(const QString& program, const QStringList& args,
               const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    QElapsedTimer t;
    t.start();
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.setStandardOutputFile(QProcess::nullDevice());
    // The window's event loop keeps running meanwhile, so that an
    // accessibility client is answered as it would be by an idle window.
    QEventLoop loop;
    QObject::connect(&p, &QProcess::finished, &loop, &QEventLoop::quit);
    p.start(program, args);
    const bool started = p.waitForStarted();
    if (started && p.state() == QProcess::Running)
        loop.exec();
    if (!started || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        std::fprintf(stderr, "%s failed\n", qPrintable(program));
        return -1;
    }
    return t.nsecsElapsed() / 1e9;
}

// `tls`: log-in and data over explicit TLS, the throwaway certificate trusted.
QStringList lftpArgs(const FtpTestServer& s, const QString& command, bool tls = false) {
    const QString security =
        tls ? QStringLiteral("set ftp:ssl-force yes; set ftp:ssl-protect-data yes; "
                             "set ssl:verify-certificate no")
            : QStringLiteral("set ftp:ssl-allow no");
    return {QStringLiteral("-u"),
            s.user() + QLatin1Char(',') + s.password(),
            QStringLiteral("-p"),
            QString::number(s.port()),
            QStringLiteral("-e"),
            QStringLiteral("%2; set ftp:passive-mode yes; set net:max-retries 1; "
                           "set cmd:fail-exit yes; %1; quit")
                .arg(command, security),
            QStringLiteral("127.0.0.1")};
}

QProcessEnvironment rcloneEnv(const FtpTestServer& s, const QString& work) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    QProcess obscure;
    obscure.start(QStringLiteral("rclone"), {QStringLiteral("obscure"), s.password()});
    obscure.waitForFinished(-1);
    env.insert(QStringLiteral("RCLONE_CONFIG"), work + QStringLiteral("/rclone.conf"));
    env.insert(QStringLiteral("RCLONE_CONFIG_BENCH_TYPE"), QStringLiteral("ftp"));
    env.insert(QStringLiteral("RCLONE_CONFIG_BENCH_HOST"), QStringLiteral("127.0.0.1"));
    env.insert(QStringLiteral("RCLONE_CONFIG_BENCH_PORT"), QString::number(s.port()));
    env.insert(QStringLiteral("RCLONE_CONFIG_BENCH_USER"), s.user());
    env.insert(QStringLiteral("RCLONE_CONFIG_BENCH_PASS"),
               QString::fromUtf8(obscure.readAllStandardOutput()).trimmed());
    return env;
}

// rclone copy to the SFTP server, with an on-the-fly remote.
QStringList rcloneSftpArgs(const FtpTestServer& s, const QString& source, const QString& target,
                           int transfers) {
    QProcess obscure;
    obscure.start(QStringLiteral("rclone"), {QStringLiteral("obscure"), s.password()});
    obscure.waitForFinished(-1);
    const QString pass = QString::fromLatin1(obscure.readAllStandardOutput()).trimmed();
    return {QStringLiteral("copy"),
            source,
            QStringLiteral(":sftp:") + target,
            QStringLiteral("--sftp-host"),
            s.host(),
            QStringLiteral("--sftp-port"),
            QString::number(s.port()),
            QStringLiteral("--sftp-user"),
            s.user(),
            QStringLiteral("--sftp-pass"),
            pass,
            QStringLiteral("--transfers"),
            QString::number(transfers),
            QStringLiteral("--config"),
            QStringLiteral("/dev/null")};
}

void writeSettings(const QString& configHome, const FtpTestServer& s, const QString& remote,
                   const QString& local, const Options& o) {
    QDir().mkpath(configHome);
    const QString path = configHome + QStringLiteral("/Tarvex.ini");
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            std::abort();
        f.write(QStringLiteral("[Pellmor]\nHostName=%6\nPort=%1\nUserName=%2\nPassword=%3\n"
                               "Remote%20Folder=%4\nText1=%5\n")
                    .arg(s.port())
                    .arg(s.user(), s.password(), remote, local, s.hostText())
                    .toUtf8());
        if (o.transfers > 0)
            f.write(QByteArray("Transfers=") + QByteArray::number(o.transfers) + '\n');
        if (!o.match.isEmpty())
            f.write("MatchBy=" + o.match.toUtf8() + '\n');
        if (!o.overwrite.isEmpty())
            f.write("OverwriteWhen=" + o.overwrite.toUtf8() + '\n');
    }
    ResetSettingsCache();
    // The throwaway certificate or host key is trusted up front, as a user
    // would have trusted it once.
    ServerTrust::useSettingsFile(path);
    const QByteArray der = ServerTrust::derFromPem(s.certificatePem());
    if (!der.isEmpty())
        ServerTrust::storeCertificate("127.0.0.1", s.port(),
                                      {QCryptographicHash::hash(der, QCryptographicHash::Sha256),
                                       ServerTrust::publicKeyPin(der)});
    const QByteArray key = s.hostKeyBlob();
    if (!key.isEmpty())
        ServerTrust::storeHostKey("127.0.0.1", s.port(), key);
}

void makeTree(const QString& root, int files, int folders, const QString& copyTo = {},
              bool sparse = false) {
    auto* rng = QRandomGenerator::global();
    QByteArray bytes(8192, Qt::Uninitialized);
    rng->fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
    for (int i = 0; i < files; ++i) {
        const QString rel = QStringLiteral("/d%1/f%2.dat").arg(i % folders).arg(i);
        const QByteArray content = bytes.left(1024 + rng->bounded(7 * 1024 + 1));
        for (const QString& base : {root, copyTo}) {
            if (base.isEmpty() || (base == copyTo && i % 10 == 0))
                continue; // every tenth file is missing from the copy
            QDir().mkpath(base + QStringLiteral("/d%1").arg(i % folders));
            QFile f(base + rel);
            if (!f.open(QIODevice::WriteOnly))
                std::abort();
            if (sparse)
                f.resize(content.size());
            else
                f.write(content);
        }
        // The copy has the times a sync that sets them would leave, so that
        // rules comparing times see the same files as the default rules.
        if (!copyTo.isEmpty() && i % 10 != 0) {
            struct stat st;
            if (::stat(QFile::encodeName(root + rel).constData(), &st) != 0)
                std::abort();
            const timespec times[2] = {st.st_atim, st.st_mtim};
            ::utimensat(AT_FDCWD, QFile::encodeName(copyTo + rel).constData(), times, 0);
        }
    }
}

void report(const char* what, const QList<double>& times) {
    if (times.isEmpty())
        return;
    QStringList each;
    for (double t : times)
        each << QString::number(t, 'f', 3);
    std::printf("%-22s runs [%s] s, median %.3f s\n", what,
                qPrintable(each.join(QStringLiteral(", "))), median(times));
}

int countFiles(const QString& root) {
    int n = 0;
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        ++n;
    }
    return n;
}

long peakKib() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// The built program as its own process, clicked from outside (see the top).
class ProgramDriver {
public:
    ~ProgramDriver() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished();
        }
    }

    qint64 pid() const { return process_.processId(); }

    // `left`: where the window goes on the display, so that two instances
    // lie side by side and each gets its own clicks.
    bool start(const QString& binary, const QString& transcript, const QString& configHome = {},
               int left = 0) {
        transcript_.setFileName(transcript);
        QFile::remove(transcript);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PELLMOR_FTP_LOG"), transcript);
        if (!configHome.isEmpty())
            env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
        env.remove(QStringLiteral("QT_QPA_PLATFORM")); // the display's own platform
        process_.setProcessEnvironment(env);
        process_.setProcessChannelMode(QProcess::ForwardedChannels);
        process_.start(binary, {});
        if (!process_.waitForStarted())
            return false;
        QStringList found;
        for (QElapsedTimer shown; found.isEmpty(); QThread::msleep(10)) {
            if (!shown.isValid())
                shown.start();
            else if (shown.hasExpired(60000))
                return false;
            found = X11Windows::visibleOf(process_.processId());
        }
        window_ = found.constFirst();
        if (left > 0)
            xdotool({QStringLiteral("windowmove"), QStringLiteral("--sync"), window_,
                     QString::number(left), QStringLiteral("0")});
        return true;
    }

    // Seconds from the click on "1. Start Comparing ..." to the end of the run
    // in the transcript.
    double compare() {
        const int started = count("compare run starts");
        const int before = count("compare run ends");
        QElapsedTimer t = clickAt(kCompareButton);
        while (count("compare run ends") == before) {
            QThread::usleep(500);
            // Once in a long while a click on an idle window under Xvfb is
            // not delivered at all; it is said and clicked again, so that
            // the benchmark does not wait forever.
            if (count("compare run starts") == started && t.hasExpired(kClickLostMs)) {
                std::fprintf(stderr, "the click on the compare button was lost; clicking again\n");
                t = clickAt(kCompareButton);
            }
        }
        return t.nsecsElapsed() / 1e9;
    }

    // Seconds from the click on "2. Start Syncing ..." to the box that ends
    // the run being on the display; the box is then closed with Return.
    double sync() {
        const int started = count("sync run starts");
        const int before = count("sync run ends");
        QDateTime clicked = QDateTime::currentDateTime();
        QElapsedTimer t = clickAt(kSyncButton);
        QString box;
        qint64 saidAt = 0;
        while (box.isEmpty()) {
            // A look costs a few round trips to the display; one every 2 ms
            // costs at most that much of the figure.
            QThread::msleep(2);
            for (const QString& w : X11Windows::visibleOf(process_.processId())) {
                if (w != window_)
                    box = w;
            }
            if (!box.isEmpty())
                break;
            // A click that never arrived is said and made again, as for the
            // compare; a run that ended without a box on the display is said
            // every ten seconds, with what the transcript holds.
            if (count("sync run starts") == started && t.hasExpired(kClickLostMs)) {
                std::fprintf(stderr, "the click on the sync button was lost; clicking again\n");
                clicked = QDateTime::currentDateTime();
                t = clickAt(kSyncButton);
            } else if (count("sync run ends") != before && t.elapsed() - saidAt > 10000) {
                saidAt = t.elapsed();
                std::fprintf(stderr,
                             "the sync run ended %lld ms ago, and no box is on the display\n",
                             runEndAt_.msecsTo(QDateTime::currentDateTime()));
            }
        }
        const double seconds = t.nsecsElapsed() / 1e9;
        // How long after the run's last reply from the server (the last row's
        // mark follows it at once) the box was on the display.
        const QDateTime seen = QDateTime::currentDateTime();
        count("sync run ends");
        lastBoxDelayMs = lastReplyAt_.isValid() ? lastReplyAt_.msecsTo(seen) : -1;
        if (qEnvironmentVariableIsSet("PELLMOR_BENCH_STEPS"))
            std::fprintf(stderr,
                         "click to run start %lld ms, to first command %lld ms, last reply "
                         "to box %lld ms\n",
                         clicked.msecsTo(runStartAt_), clicked.msecsTo(firstCommandAt_),
                         lastBoxDelayMs);
        // The box has the focus: Return is typed as a user types it. A key
        // sent to the box's window instead (xdotool key --window) carries no
        // time, and Qt held its press back until the next key or the next
        // window to open, so that it closed the box of the next round unseen.
        // A key is typed again only while the box is still on the display.
        QElapsedTimer sinceKey;
        while (count("sync run ends") == before) {
            if (!sinceKey.isValid() || sinceKey.hasExpired(1000)) {
                if (sinceKey.isValid() &&
                    !X11Windows::visibleOf(process_.processId()).contains(box))
                    continue;
                sinceKey.start();
                xdotool({QStringLiteral("key"), QStringLiteral("Return")});
            }
            QThread::msleep(10);
        }
        return seconds;
    }

    // After sync(): milliseconds from the last reply of the server to the box
    // on the display (at most 2 ms of it the time between two looks).
    qint64 lastBoxDelayMs = -1;

    // The program's peak resident memory so far (VmHWM), in KiB.
    long peakKib() const {
        QFile status(QStringLiteral("/proc/%1/status").arg(process_.processId()));
        if (!status.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("VmHWM:"))
                return line.mid(6).trimmed().split(' ').constFirst().toLong();
        }
        return -1;
    }

private:
    // Button centres in the window, in twips, as the window lays them out;
    // a twip is 1/15 of a pixel at the display's 96 dots an inch.
    struct Place {
        int x, y;
    };
    static constexpr Place kCompareButton{120 + 8520 / 2, 4245 + 405 / 2};
    static constexpr Place kSyncButton{120 + 8520 / 2, 7980 + 405 / 2};
    static constexpr qint64 kClickLostMs = 5000;

    QElapsedTimer clickAt(Place p) {
        QElapsedTimer t;
        t.start();
        xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), window_,
                 QString::number(p.x / 15), QString::number(p.y / 15), QStringLiteral("click"),
                 QStringLiteral("1")});
        return t;
    }

    QStringList xdotool(const QStringList& args) {
        QProcess p;
        p.start(QStringLiteral("xdotool"), args);
        p.waitForFinished(-1);
        return QString::fromUtf8(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    }

    // How often the transcript has said `what` so far; reads only what was
    // added since the last call.
    int count(const char* what) {
        if (!transcript_.isOpen() && !transcript_.open(QIODevice::ReadOnly))
            return counts_[what];
        pending_ += transcript_.readAll();
        const qsizetype lastLine = pending_.lastIndexOf('\n');
        if (lastLine >= 0) {
            for (const QByteArray& line : pending_.left(lastLine).split('\n')) {
                for (const char* marker : {"compare run starts", "compare run ends",
                                           "sync run starts", "sync run ends"}) {
                    if (line.contains(marker))
                        ++counts_[marker];
                }
                // "2026-12-08T22:46:59.790 #1 < 250 ..."
                const auto at = [&] {
                    return QDateTime::fromString(QString::fromLatin1(line.left(23)),
                                                 Qt::ISODateWithMs);
                };
                if (line.contains(" < "))
                    lastReplyAt_ = at();
                if (line.contains("sync run starts")) {
                    runStartAt_ = at();
                    firstCommandAt_ = {};
                }
                if (line.contains("sync run ends"))
                    runEndAt_ = at();
                if (line.contains(" > ") && !firstCommandAt_.isValid())
                    firstCommandAt_ = at();
            }
            pending_.remove(0, lastLine + 1);
        }
        return counts_[what];
    }

    QProcess process_;
    QString window_;
    QFile transcript_;
    QByteArray pending_;
    std::map<std::string, int> counts_;
    QDateTime lastReplyAt_;
    QDateTime runStartAt_;
    QDateTime firstCommandAt_;
    QDateTime runEndAt_;
};

class Bench {
public:
    // plain: over ftpes, a plain FTP server of the same kind, the peer.
    Bench(Options o, FtpTestServer& server, FtpTestServer* plain, QString work)
        : o_(std::move(o)), server_(server), plain_(plain), work_(std::move(work)) {}

    int run() {
        if (o_.mode == QLatin1String("many"))
            return many();
        if (o_.mode == QLatin1String("compare"))
            return compare();
        return big();
    }

private:
    // Clicks a button and answers the seconds until the run it started has
    // returned control to the window's event loop.
    double click(QPushButton* button) {
        QElapsedTimer t;
        t.start();
        boxes_.clock.start();
        QTest::mouseClick(button, Qt::LeftButton);
        return t.nsecsElapsed() / 1e9;
    }

    QPushButton* button(const char* name) {
        auto* b = form_->findChild<QPushButton*>(QLatin1String(name));
        if (!b)
            std::abort();
        return b;
    }

    void showWindow() {
        if (!o_.binary.isEmpty()) {
            if (!program_.start(o_.binary, work_ + QStringLiteral("/transcript.log"))) {
                std::fprintf(stderr, "could not start %s on the display\n", qPrintable(o_.binary));
                std::exit(1);
            }
            return;
        }
        form_ = std::make_unique<Form1>();
        InstallWidgetMessageBoxes(form_.get());
        form_->Form_Load();
        form_->show();
        if (!QTest::qWaitForWindowExposed(form_.get()))
            std::fprintf(stderr, "window not exposed\n");
    }

    // Points the window's boxes at another server of the same account.
    void useServer(const FtpTestServer& s) {
        form_->findChild<QLineEdit*>(QStringLiteral("txtHostName"))->setText(s.hostText());
        form_->findChild<QLineEdit*>(QStringLiteral("txtPort"))->setText(QString::number(s.port()));
    }

    // A remote folder not used before in this run: rclone's SFTP server keeps
    // listings for minutes, and would still show a folder deleted behind its
    // back.
    QString freshFolder(const FtpTestServer& s, const QString& name) {
        const QString folder = QStringLiteral("/%1%2").arg(name).arg(++fresh_);
        QDir(s.rootPath() + folder).removeRecursively();
        return folder;
    }

    // One compare and sync into an empty folder; answers the sync's seconds,
    // or -1 when the window did not do all of it.
    double syncAll(const FtpTestServer& s, double* compareSeconds) {
        useServer(s);
        form_->findChild<QLineEdit*>(QStringLiteral("txtRemoteFolder"))
            ->setText(freshFolder(s, QStringLiteral("ours")) + QLatin1Char('/'));
        boxes_.texts.clear();
        const double c = click(button("PushButton5"));
        if (compareSeconds)
            *compareSeconds = c;
        const int rows = form_->resultList().rowCount();
        const double t = click(button("PushButton6"));
        if (rows != o_.files || !checkBoxes({QStringLiteral("Done.")}))
            return -1;
        return t;
    }

    bool checkBoxes(const QStringList& wanted) {
        if (boxes_.texts == wanted)
            return true;
        std::fprintf(stderr, "window said: %s\n",
                     qPrintable(boxes_.texts.join(QStringLiteral(" | "))));
        return false;
    }

    int many() {
        const QString tree = work_ + QStringLiteral("/tree");
        makeTree(tree, o_.files, o_.folders);
        writeSettings(qEnvironmentVariable("XDG_CONFIG_HOME"), server_, QStringLiteral("/ours/"),
                      tree + QLatin1Char('/'), o_);
        showWindow();
        const bool versus = o_.versusTransfers > 0 && !o_.binary.isEmpty();
        if (versus) {
            const QString home = work_ + QStringLiteral("/versus-config");
            Options versusOptions = o_;
            versusOptions.transfers = o_.versusTransfers;
            writeSettings(home, server_, QStringLiteral("/versus/"), tree + QLatin1Char('/'),
                          versusOptions);
            if (!versus_.start(o_.binary, work_ + QStringLiteral("/versus.log"), home, 660)) {
                std::fprintf(stderr, "could not start a second %s\n", qPrintable(o_.binary));
                return 1;
            }
        }
        // Over TLS, the built program syncs the same tree over plain FTP too,
        // in a second instance, as the in-process window does.
        const bool plainProgram = plain_ && !o_.binary.isEmpty();
        if (plainProgram) {
            const QString home = work_ + QStringLiteral("/plain-config");
            writeSettings(home, *plain_, QStringLiteral("/ours/"), tree + QLatin1Char('/'), o_);
            if (!plainProgram_.start(o_.binary, work_ + QStringLiteral("/plain.log"), home, 660)) {
                std::fprintf(stderr, "could not start a second %s\n", qPrintable(o_.binary));
                return 1;
            }
        }
        const bool ftpPeers = !o_.ftpes() && !o_.sftp();
        const auto env = ftpPeers ? rcloneEnv(server_, work_) : QProcessEnvironment();
        QList<double> compare, sync, both, plainSync, lftp1, lftp4, rclone, vCompare, vSync, vBoth,
            pCompare, pBoth, boxDelays;
        // One compare and sync of the built program into a folder emptied
        // first; false when the server does not hold every file afterwards.
        const auto program = [&](ProgramDriver& driver, const FtpTestServer& s, const char* folder,
                                 QList<double>& c, QList<double>& t, QList<double>& b) {
            const QString remote = s.rootPath() + QLatin1Char('/') + QLatin1String(folder);
            QDir(remote).removeRecursively();
            c << driver.compare();
            t << driver.sync();
            b << c.last() + t.last();
            boxDelays << double(driver.lastBoxDelayMs);
            if (countFiles(remote) == o_.files)
                return true;
            std::fprintf(stderr, "the server does not hold every file\n");
            return false;
        };
        const auto ours = [&] {
            if (!o_.binary.isEmpty())
                return program(program_, server_, "ours", compare, sync, both) &&
                       (!versus || program(versus_, server_, "versus", vCompare, vSync, vBoth)) &&
                       (!plainProgram ||
                        program(plainProgram_, *plain_, "ours", pCompare, plainSync, pBoth));
            double c = 0;
            const double t = syncAll(server_, &c);
            if (t < 0)
                return false;
            compare << c;
            sync << t;
            both << c + t;
            if (plain_) {
                const double p = syncAll(*plain_, nullptr);
                if (p < 0)
                    return false;
                plainSync << p;
                useServer(server_);
            }
            return true;
        };
        // Over TLS, lftp does the same job over TLS and over plain FTP, for
        // what TLS costs a client that is not ours.
        QList<double> lftpTls, lftpPlain;
        const auto peers = [&] {
            if (o_.ftpes() && plain_) {
                for (auto [list, s, tls] : {std::tuple{&lftpTls, &server_, true},
                                            std::tuple{&lftpPlain, plain_, false}}) {
                    QDir(s->rootPath() + QStringLiteral("/lftp")).removeRecursively();
                    *list << runTool(QStringLiteral("lftp"),
                                     lftpArgs(*s,
                                              QStringLiteral("mirror -R --parallel=%1 %2 /lftp")
                                                  .arg(o_.effectiveTransfers())
                                                  .arg(tree),
                                              tls));
                }
            }
            if (o_.sftp()) {
                rclone << runTool(QStringLiteral("rclone"),
                                  rcloneSftpArgs(server_, tree,
                                                 freshFolder(server_, QStringLiteral("rclone")),
                                                 o_.effectiveTransfers()));
            }
            if (!ftpPeers)
                return;
            for (auto [list, parallel] : {std::pair{&lftp1, 1}, std::pair{&lftp4, 4}}) {
                QDir(server_.rootPath() + QStringLiteral("/lftp")).removeRecursively();
                *list << runTool(
                    QStringLiteral("lftp"),
                    lftpArgs(server_, QStringLiteral("mirror -R --parallel=%1 %2 /lftp")
                                          .arg(parallel)
                                          .arg(tree)));
            }
            QDir(server_.rootPath() + QStringLiteral("/rclone")).removeRecursively();
            // rclone reads pyftpdlib's "501" for a missing folder as a failure.
            QDir().mkpath(server_.rootPath() + QStringLiteral("/rclone"));
            rclone << runTool(QStringLiteral("rclone"),
                              {QStringLiteral("copy"), tree, QStringLiteral("bench:/rclone")}, env);
        };
        for (int r = 0; r < o_.runs; ++r) {
            // The order alternates, so that neither side always meets the
            // machine as the other left it.
            if (r % 2 == 1)
                peers();
            if (!ours())
                return 1;
            if (r % 2 == 0)
                peers();
        }
        std::printf("%d files of 1-8 KiB in %d new folders, %d ms per reply, %d ms per log-in, "
                    "Transfers %d\n",
                    o_.files, o_.folders, o_.delayMs, o_.logInDelayMs, o_.effectiveTransfers());
        report("pellmor compare", compare);
        report("pellmor sync", sync);
        report("pellmor both", both);
        if (!o_.binary.isEmpty())
            std::printf("last reply to the \"Done.\" box: median %.0f ms, worst %.0f ms\n",
                        median(boxDelays), *std::max_element(boxDelays.begin(), boxDelays.end()));
        if (versus) {
            std::printf("the same program with Transfers %d:\n", o_.versusTransfers);
            report("compare", vCompare);
            report("sync", vSync);
            report("both", vBoth);
            std::printf("Transfers %d / Transfers %d time: %.2fx\n", o_.effectiveTransfers(),
                        o_.versusTransfers, median(both) / median(vBoth));
        }
        if (plain_) {
            report("pellmor sync, plain", plainSync);
            std::printf("ftpes/plain time: %.2fx\n", median(sync) / median(plainSync));
            if (!lftpTls.isEmpty()) {
                std::printf("lftp --parallel=%d, ftpes and plain:\n", o_.effectiveTransfers());
                report("lftp ftpes", lftpTls);
                report("lftp plain", lftpPlain);
                std::printf("lftp ftpes/plain time: %.2fx\n", median(lftpTls) / median(lftpPlain));
            }
        }
        report("lftp mirror -R", lftp1);
        report("lftp --parallel=4", lftp4);
        if (o_.sftp()) {
            std::printf("rclone copy --transfers %d:\n", o_.effectiveTransfers());
            report("rclone copy", rclone);
            std::printf("pellmor/rclone time: %.2fx\n", median(sync) / median(rclone));
        } else {
            report("rclone copy", rclone);
            if (!lftp4.isEmpty())
                std::printf("pellmor sync / lftp --parallel=4: %.2fx, / rclone: %.2fx\n",
                            median(sync) / median(lftp4), median(sync) / median(rclone));
        }
        reportProgramMemory();
        return 0;
    }

    int compare() {
        const QString tree = work_ + QStringLiteral("/tree");
        makeTree(tree, o_.files, o_.folders, server_.rootPath() + QStringLiteral("/ours"),
                 o_.sparse);
        writeSettings(qEnvironmentVariable("XDG_CONFIG_HOME"), server_, QStringLiteral("/ours/"),
                      tree + QLatin1Char('/'), o_);
        showWindow();
        A11yClient client;
        const qint64 windowPid =
            o_.binary.isEmpty() ? QCoreApplication::applicationPid() : program_.pid();
        if (o_.a11yClient && !client.start(windowPid, o_.a11yListen, o_.a11yRead))
            return 1;
        QList<double> ours, dry, pauses;
        PauseMeter meter;
        int rows = 0;
        for (int r = 0; r < o_.runs; ++r) {
            boxes_.texts.clear();
            if (!o_.binary.isEmpty()) {
                ours << program_.compare();
            } else {
                meter.reset();
                ours << click(button("PushButton5"));
                pauses << double(meter.longestMs);
                rows = form_->resultList().rowCount();
                if (!checkBoxes({}))
                    return 1;
            }
            dry << runTool(
                QStringLiteral("lftp"),
                lftpArgs(server_, QStringLiteral("mirror -R --dry-run %1 /ours").arg(tree)));
        }
        if (o_.a11yClient)
            std::printf("a11y client: %s\n", qPrintable(client.stop()));
        std::printf("compare of %d local files in %d folders, %d rows, %d ms per reply\n", o_.files,
                    o_.folders, rows, o_.delayMs);
        report("pellmor compare", ours);
        if (!pauses.isEmpty())
            std::printf(
                "longest event-loop pause during a compare: median %.0f ms, worst %.0f ms\n",
                median(pauses), *std::max_element(pauses.begin(), pauses.end()));
        report("lftp mirror -R --dry-run", dry);
        reportProgramMemory();
        return 0;
    }

    int big() {
        const QString folder = work_ + QStringLiteral("/big");
        QDir().mkpath(folder);
        {
            QFile f(folder + QStringLiteral("/big.bin"));
            if (!f.open(QIODevice::WriteOnly))
                return 1;
            QByteArray block(1 << 20, Qt::Uninitialized);
            QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(block.data()),
                                                  block.size() / 4);
            for (qint64 i = 0; i < o_.mib; ++i)
                f.write(block);
        }
        writeSettings(qEnvironmentVariable("XDG_CONFIG_HOME"), server_, QStringLiteral("/ours/"),
                      folder + QLatin1Char('/'), o_);
        showWindow();
        QList<double> ours, curl, pauses, boxDelays;
        PauseMeter meter;
        QString previous;
        const auto oursOnce = [&] {
            // The copy of the run before goes, as curl's does: left on the
            // disk, a gigabyte a run would soon have the system hold every
            // writer back while it writes them out, whichever tool runs.
            if (!o_.binary.isEmpty()) {
                // The built program keeps its remote folder: emptied.
                QDir(server_.rootPath() + QStringLiteral("/ours")).removeRecursively();
                program_.compare();
                ours << program_.sync();
                boxDelays << double(program_.lastBoxDelayMs);
                return QFileInfo(server_.rootPath() + QStringLiteral("/ours/big.bin")).size() ==
                       o_.mib * 1024 * 1024;
            }
            if (!previous.isEmpty())
                QDir(server_.rootPath() + previous).removeRecursively();
            previous = freshFolder(server_, QStringLiteral("ours"));
            form_->findChild<QLineEdit*>(QStringLiteral("txtRemoteFolder"))
                ->setText(previous + QLatin1Char('/'));
            boxes_.texts.clear();
            click(button("PushButton5"));
            meter.reset();
            ours << click(button("PushButton6"));
            pauses << double(meter.longestMs);
            return checkBoxes({QStringLiteral("Done.")});
        };
        const auto peerOnce = [&] {
            if (o_.sftp()) {
                curl << runTool(QStringLiteral("rclone"),
                                rcloneSftpArgs(server_, folder + QStringLiteral("/big.bin"),
                                               freshFolder(server_, QStringLiteral("rclone")),
                                               o_.effectiveTransfers()));
                return;
            }
            QFile::remove(server_.rootPath() + QStringLiteral("/curl.bin"));
            QStringList args{QStringLiteral("-s"), QStringLiteral("-T"),
                             folder + QStringLiteral("/big.bin"),
                             QStringLiteral("ftp://%1:%2@127.0.0.1:%3/curl.bin")
                                 .arg(server_.user(), server_.password())
                                 .arg(server_.port())};
            if (o_.ftpes())
                args << QStringLiteral("--ssl-reqd") << QStringLiteral("--insecure");
            curl << runTool(QStringLiteral("curl"), args);
        };
        for (int r = 0; r < o_.runs; ++r) {
            // The order alternates, so that neither side always meets the
            // machine as the other left it.
            if (r % 2 == 1)
                peerOnce();
            if (!oursOnce())
                return 1;
            if (r % 2 == 0)
                peerOnce();
            std::fprintf(stderr, "round %d: pellmor %.3f s, peer %.3f s\n", r + 1, ours.last(),
                         curl.last());
        }
        std::printf("one file of %lld MiB, server taking %lld bytes/s (0: no limit)\n", o_.mib,
                    o_.uploadBps);
        report("pellmor sync", ours);
        if (!pauses.isEmpty())
            std::printf("longest event-loop pause during the sync: median %.0f ms, worst %.0f ms\n",
                        median(pauses), *std::max_element(pauses.begin(), pauses.end()));
        if (!boxDelays.isEmpty())
            std::printf("last reply to the \"Done.\" box: median %.0f ms, worst %.0f ms\n",
                        median(boxDelays), *std::max_element(boxDelays.begin(), boxDelays.end()));
        const char* peer = o_.sftp()    ? "rclone copy"
                           : o_.ftpes() ? "curl --ssl-reqd -T"
                                        : "curl -T";
        report(peer, curl);
        std::printf("pellmor/%s throughput: %.1f%%\n", peer, 100.0 * median(curl) / median(ours));
        reportProgramMemory();
        return 0;
    }

    void reportProgramMemory() const {
        if (!o_.binary.isEmpty())
            std::printf("peak memory of %s: %ld KiB\n", qPrintable(o_.binary), program_.peakKib());
    }

    Options o_;
    FtpTestServer& server_;
    FtpTestServer* plain_;
    QString work_;
    int fresh_ = 0;
    BoxWatcher boxes_;
    std::unique_ptr<Form1> form_;
    ProgramDriver program_;
    ProgramDriver versus_;
    ProgramDriver plainProgram_;
};

} // namespace

int main(int argc, char** argv) {
    // Each figure shows as it comes, also when the output goes to a file.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    // The settings come from a throwaway folder, never the user's own; their
    // password stays there, out of the desktop's keyring.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    qputenv("PELLMOR_NO_KEYRING", "1");
    QApplication app(argc, argv);
    Options o;
    const QStringList args = app.arguments();
    o.mode = args.value(1);
    const bool compareMode = o.mode == QLatin1String("compare");
    o.files = compareMode ? 20000 : 1000;
    o.folders = compareMode ? 200 : 33;
    for (int i = 2; i < args.size(); ++i) {
        const QString k = args[i];
        if (k == QLatin1String("--a11y-client")) {
            o.a11yClient = true;
            continue;
        }
        if (k == QLatin1String("--sparse")) {
            o.sparse = true;
            continue;
        }
        if (k == QLatin1String("--a11y-listen")) {
            o.a11yClient = o.a11yListen = true;
            continue;
        }
        if (++i >= args.size())
            break;
        const QString v = args[i];
        if (k == QLatin1String("--a11y-read")) {
            o.a11yClient = true;
            o.a11yRead = v;
        } else if (k == QLatin1String("--files"))
            o.files = v.toInt();
        else if (k == QLatin1String("--folders"))
            o.folders = std::max(1, v.toInt());
        else if (k == QLatin1String("--runs"))
            o.runs = std::max(1, v.toInt());
        else if (k == QLatin1String("--delay-ms"))
            o.delayMs = v.toInt();
        else if (k == QLatin1String("--mib"))
            o.mib = v.toLongLong();
        else if (k == QLatin1String("--upload-bps"))
            o.uploadBps = v.toLongLong();
        else if (k == QLatin1String("--transfers"))
            o.transfers = v.toInt();
        else if (k == QLatin1String("--match"))
            o.match = v;
        else if (k == QLatin1String("--overwrite"))
            o.overwrite = v;
        else if (k == QLatin1String("--login-delay-ms"))
            o.logInDelayMs = v.toInt();
        else if (k == QLatin1String("--versus-transfers"))
            o.versusTransfers = v.toInt();
        else if (k == QLatin1String("--binary"))
            o.binary = v;
        else if (k == QLatin1String("--server"))
            o.server = v;
    }
    if (o.mode != QLatin1String("many") && !compareMode && o.mode != QLatin1String("big")) {
        std::fprintf(stderr, "usage: bench_window many|compare|big [options], see the source\n");
        return 2;
    }
    const QStringList servers{QStringLiteral("pyftpdlib"), QStringLiteral("vsftpd"),
                              QStringLiteral("vsftpd-ftpes"), QStringLiteral("rclone-sftp")};
    if (!servers.contains(o.server)) {
        std::fprintf(stderr, "--server: one of %s\n", qPrintable(servers.join(QLatin1Char(' '))));
        return 2;
    }
    FtpTestServer::Options serverOptions;
    serverOptions.uploadBytesPerSecond = o.uploadBps;
    serverOptions.logInDelayMs = o.logInDelayMs;
    // The TLS server writes no more logs than the plain one it is held against.
    serverOptions.logTls = false;
    const FtpTestServer::Kind kind = o.server == QLatin1String("pyftpdlib")
                                         ? FtpTestServer::Kind::Pyftpdlib
                                     : o.sftp() ? FtpTestServer::Kind::RcloneSftp
                                                : FtpTestServer::Kind::Vsftpd;
    std::unique_ptr<FtpTestServer> plain;
    if (o.ftpes() && o.mode == QLatin1String("many"))
        plain = std::make_unique<FtpTestServer>(kind, serverOptions);
    if (o.ftpes())
        serverOptions.tls = FtpTestServer::Tls::Explicit;
    FtpTestServer server(kind, serverOptions);
    QString reason;
    if (!server.start(&reason) || (plain && !plain->start(&reason))) {
        std::fprintf(stderr, "server: %s\n", qPrintable(reason));
        return 1;
    }
    if (o.delayMs > 0 && kind == FtpTestServer::Kind::Pyftpdlib) {
        // Every command the clients send is answered this much later.
        for (const char* verb :
             {"USER", "PASS", "PWD",  "FEAT", "OPTS", "SYST", "CWD",  "EPSV", "PASV", "TYPE",
              "STOR", "MKD",  "MLSD", "LIST", "NLST", "SIZE", "MDTM", "DELE", "NOOP", "QUIT",
              "MFMT", "SITE", "RNFR", "RNTO", "STAT", "MLST", "ALLO", "REST", "ABOR"})
            server.addFault({QLatin1String(verb), QStringLiteral("delay"), 0, o.delayMs, -1, {}});
    }
    QTemporaryDir work;
    // PELLMOR_BENCH_KEEP=1 keeps the transcripts and trees for a look afterwards.
    work.setAutoRemove(qEnvironmentVariableIntValue("PELLMOR_BENCH_KEEP") == 0);
    std::printf("work folder %s\n", qPrintable(work.path()));
    std::printf("platform %s, server %s on port %d\n", qPrintable(QGuiApplication::platformName()),
                qPrintable(o.server), server.port());
    const int status = Bench(o, server, plain.get(), work.path()).run();
    std::printf("peak memory of this process: %ld KiB\n", peakKib());
    return status;
}
