#include "cli/ConsoleProgress.h"

#include "compare/ResultListModel.h"
#include "core/NameCodec.h"
#include "core/VbError.h"
#include "localfs/AddFolder.h"

#include <QFileInfo>
#include <QRegularExpression>

#ifdef Q_OS_UNIX
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace {

// Often enough to look alive, rarely enough not to cost the transfer anything.
constexpr qint64 kRedrawMs = 100;

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

// The size by the bytes of the file's name; a file that cannot be queried
// counts as empty, and the sync run reports it.
qint64 localSize(const QString& path) {
    try {
        return LocalFileLength(path);
    } catch (const VbError&) {
        return 0;
    }
}

bool isUploadRow(const ResultListModel& model, int row) {
    return model.kind(row) != RowKind::Delete;
}

} // namespace

ConsoleProgress::ConsoleProgress(ResultListModel& model, std::FILE* out, bool enabled)
    : model_(model), out_(out), enabled_(enabled) {
    for (int row = 0; row < model.rowCount(); ++row) {
        const qint64 size = isUploadRow(model, row) ? localSize(model.source(row)) : 0;
        sizes_.append(size);
        total_ += size;
    }
    now_.rows = model.rowCount();
    now_.bytesTotal = total_;
    run_.start();
    connect(&model_, &ResultListModel::dataChanged, this,
            [this](const QModelIndex& topLeft, const QModelIndex& bottomRight) {
                for (int row = topLeft.row(); row <= bottomRight.row(); ++row)
                    onActionChanged(row);
            });
}

void ConsoleProgress::onActionChanged(int row) {
    if (row < 0 || row >= sizes_.size() || row >= model_.rowCount())
        return;
    static const QRegularExpression uploading(QStringLiteral("^uploading (\\d+)%$"));
    const QString action = model_.action(row);
    const bool finished = action == QLatin1String("Done") || action == QLatin1String("Fail");
    const auto match = uploading.match(action);
    if (!finished && !match.hasMatch())
        return;
    const bool newRow = now_.row != row + 1;
    if (newRow) {
        now_.row = row + 1;
        now_.file = readableName(QFileInfo(model_.source(row)).fileName());
    }
    if (finished) {
        finishedBytes_ += sizes_.at(row);
        now_.percent = 100;
        now_.bytesDone = finishedBytes_;
    } else {
        now_.percent = match.captured(1).toInt();
        now_.bytesDone = finishedBytes_ + sizes_.at(row) * now_.percent / 100;
    }
    draw(newRow);
}

void ConsoleProgress::draw(bool force) {
    if (!enabled_)
        return;
    if (!force && sinceDraw_.isValid() && sinceDraw_.elapsed() < kRedrawMs)
        return;
    sinceDraw_.start();
    now_.elapsedMs = run_.elapsed();
    // A line that wraps could no longer be rewritten in place.
    const QString text = line(now_).left(terminalWidth(out_) - 1);
    std::fprintf(out_, "\r%s\033[K", text.toLocal8Bit().constData());
    std::fflush(out_);
    drawn_ = true;
}

void ConsoleProgress::clearLine() {
    if (!drawn_)
        return;
    std::fprintf(out_, "\r\033[K");
    std::fflush(out_);
    drawn_ = false;
    sinceDraw_.invalidate();
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
