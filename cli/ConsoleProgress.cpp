#include "cli/ConsoleProgress.h"

#include "compare/RunProgress.h"

#ifdef Q_OS_UNIX
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace {

int terminalWidth(std::FILE* out) {
#ifdef Q_OS_UNIX
    winsize size{};
    if (::ioctl(fileno(out), TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
#else
    Q_UNUSED(out);
#endif
    return 80;
}

} // namespace

ConsoleProgress::ConsoleProgress(RunProgress& progress, std::FILE* out, bool enabled)
    : out_(out), enabled_(enabled) {
    connect(&progress, &RunProgress::changed, this, &ConsoleProgress::draw);
    connect(&progress, &RunProgress::ended, this, &ConsoleProgress::keep);
}

void ConsoleProgress::draw(const QString& text) {
    if (!enabled_)
        return;
    if (text.isEmpty()) {
        clearLine();
        return;
    }
    // A line that wraps could no longer be rewritten in place.
    const QString shown = text.left(terminalWidth(out_) - 1);
    std::fprintf(out_, "\r%s\033[K", shown.toLocal8Bit().constData());
    std::fflush(out_);
    drawn_ = true;
}

void ConsoleProgress::keep(const QString& text) {
    draw(text);
    if (!drawn_)
        return;
    std::fputc('\n', out_);
    std::fflush(out_);
    drawn_ = false;
}

void ConsoleProgress::clearLine() {
    if (!drawn_)
        return;
    std::fprintf(out_, "\r\033[K");
    std::fflush(out_);
    drawn_ = false;
}

QString ConsoleProgress::formatBytes(qint64 bytes) {
    if (bytes < 1024)
        return QStringLiteral("%1 B").arg(bytes);
    static const char* const units[] = {"KiB", "MiB", "GiB", "TiB"};
    double value = double(bytes);
    int unit = -1;
    while (value >= 1024 && unit < 3) {
        value /= 1024;
        ++unit;
    }
    return QStringLiteral("%1 %2").arg(value, 0, 'f', 1).arg(QLatin1String(units[unit]));
}

QString ConsoleProgress::formatDuration(qint64 seconds) {
    const qint64 h = seconds / 3600;
    const qint64 m = seconds / 60 % 60;
    const qint64 s = seconds % 60;
    if (h > 0)
        return QStringLiteral("%1:%2:%3")
            .arg(h)
            .arg(m, 2, 10, QLatin1Char('0'))
            .arg(s, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(m).arg(s, 2, 10, QLatin1Char('0'));
}

QString ConsoleProgress::line(const Snapshot& s) {
    QString text = QStringLiteral("[%1/%2] %3 %4% | %5 of %6")
                       .arg(s.row)
                       .arg(s.rows)
                       .arg(s.file)
                       .arg(s.percent)
                       .arg(formatBytes(s.bytesDone), formatBytes(s.bytesTotal));
    // Speed and time left mean something only once bytes have moved for a while.
    if (s.elapsedMs < 500 || s.bytesDone <= 0)
        return text;
    const double perSecond = double(s.bytesDone) * 1000.0 / double(s.elapsedMs);
    const qint64 left = qint64((s.bytesTotal - s.bytesDone) / perSecond + 0.5);
    return text + QStringLiteral(" | %1/s | %2 left")
                      .arg(formatBytes(qint64(perSecond)), formatDuration(left));
}
