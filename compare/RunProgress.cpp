#include "compare/RunProgress.h"

#include "compare/ResultListModel.h"
#include "core/NameCodec.h"
#include "core/VbError.h"
#include "localfs/AddFolder.h"

#include <QLocale>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace {

// Four updates a second look alive, and cost a screen reader or a terminal
// next to nothing.
constexpr qint64 kPublishGapMs = 250;
// Speed and time left mean something only once bytes have moved for a while.
constexpr qint64 kSpeedAfterMs = 1000;

const QString kSeparator = QStringLiteral(" \u00b7 ");

QString number(qint64 n) {
    static const QLocale english(QLocale::English, QLocale::UnitedStates);
    return english.toString(n);
}

QString count(qint64 n, const char* noun) {
    return number(n) + u' ' + QLatin1String(noun) + (n == 1 ? QString() : QStringLiteral("s"));
}

// Decimal units, as file managers and network tools show them.
const char* const kUnits[] = {"B", "kB", "MB", "GB", "TB", "PB"};

int unitOf(qint64 bytes) {
    int unit = 0;
    for (double value = double(bytes); value >= 1000 && unit + 1 < int(std::size(kUnits));
         value /= 1000)
        ++unit;
    return unit;
}

QString inUnit(qint64 bytes, int unit) {
    if (unit == 0)
        return number(bytes);
    return QString::number(double(bytes) / std::pow(1000.0, unit), 'f', 1);
}

QString formatBytes(qint64 bytes) {
    const int unit = unitOf(bytes);
    return inUnit(bytes, unit) + u' ' + QLatin1String(kUnits[unit]);
}

// "45.2 of 120.0 MB": both in the unit of the whole.
QString formatPart(qint64 part, qint64 whole) {
    const int unit = unitOf(whole);
    return inUnit(part, unit) + QStringLiteral(" of ") + inUnit(whole, unit) + u' ' +
           QLatin1String(kUnits[unit]);
}

QString formatDuration(qint64 ms) {
    if (ms < 1000)
        return QStringLiteral("less than 1 s");
    const qint64 s = (ms + 500) / 1000;
    if (s < 60)
        return QStringLiteral("%1 s").arg(s);
    if (s < 3600)
        return s % 60 ? QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60)
                      : QStringLiteral("%1 min").arg(s / 60);
    const qint64 m = s / 60 % 60;
    return m ? QStringLiteral("%1 h %2 min").arg(s / 3600).arg(m)
             : QStringLiteral("%1 h").arg(s / 3600);
}

// An estimate, so no more precise than it can be.
QString formatTimeLeft(double seconds) {
    const qint64 s = std::max<qint64>(1, qint64(std::llround(seconds)));
    if (s < 60)
        return QStringLiteral("about %1 s left").arg(s);
    const qint64 minutes = (s + 30) / 60;
    if (minutes < 60)
        return QStringLiteral("about %1 min left").arg(minutes);
    return minutes % 60
               ? QStringLiteral("about %1 h %2 min left").arg(minutes / 60).arg(minutes % 60)
               : QStringLiteral("about %1 h left").arg(minutes / 60);
}

QString syncingText(const RunProgress::State& s) {
    if (s.uploadsStarted == 0 && s.deletes > 0) {
        // A delete under way says nothing until it is done.
        const int current = std::min(s.deletesDone + s.failed + 1, s.deletes);
        return QStringLiteral("Deleting %1 of %2").arg(number(current), count(s.deletes, "file"));
    }
    QString text = QStringLiteral("Uploading %1 of %2")
                       .arg(number(s.uploadsStarted), count(s.uploads, "file")) +
                   kSeparator + formatPart(s.bytesMoved, s.bytes);
    if (s.uploadingMs >= kSpeedAfterMs && s.bytesMoved > 0) {
        const double perSecond = double(s.bytesMoved) * 1000.0 / double(s.uploadingMs);
        text += kSeparator + formatBytes(qint64(perSecond)) + QStringLiteral("/s") + kSeparator +
                formatTimeLeft(double(std::max<qint64>(0, s.bytes - s.bytesMoved)) / perSecond);
    }
    if (s.deletes > 0)
        text += kSeparator + count(s.deletesDone, "delete");
    return text;
}

QString syncedText(const RunProgress::State& s) {
    QStringList parts;
    if (s.uploads > 0 || s.deletes == 0)
        parts << count(s.uploadsDone, "file") + QStringLiteral(" (") + formatBytes(s.bytesDone) +
                     u')';
    if (s.deletes > 0)
        parts << count(s.deletesDone, "delete");
    QString text = (s.phase == RunProgress::Phase::Stopped ? QStringLiteral("Stopped after ")
                                                           : QStringLiteral("Synced ")) +
                   parts.join(QStringLiteral(" and ")) + QStringLiteral(" in ") +
                   formatDuration(s.elapsedMs);
    if (s.failed > 0)
        text += QStringLiteral("; %1 failed").arg(number(s.failed));
    return text;
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

} // namespace

RunProgress::RunProgress(QObject* parent) : QObject(parent) {
    pending_.setSingleShot(true);
    connect(&pending_, &QTimer::timeout, this, &RunProgress::publishNow);
}

QString RunProgress::describe(const State& s) {
    switch (s.phase) {
    case Phase::Idle:
        return {};
    case Phase::Listing:
        return QStringLiteral("Listing ") + s.folder + kSeparator + count(s.folders, "folder") +
               QStringLiteral(", ") + count(s.files, "file") + QStringLiteral(" so far");
    case Phase::Compared:
        return QStringLiteral("Compared %1 local and %2 remote files in %3: %4")
            .arg(number(s.localFiles), number(s.remoteFiles), formatDuration(s.elapsedMs),
                 s.rows == 0 ? QStringLiteral("no rows") : count(s.rows, "row"));
    case Phase::Syncing:
        return syncingText(s);
    case Phase::Synced:
    case Phase::Stopped:
        return syncedText(s);
    }
    return {};
}

RunProgress::State RunProgress::current() const {
    State s = state_;
    // An ended run keeps the times it ended with.
    if (s.phase == Phase::Idle || s.phase == Phase::Listing || s.phase == Phase::Syncing) {
        s.elapsedMs = run_.isValid() ? run_.elapsed() : 0;
        s.uploadingMs = uploading_.isValid() ? uploading_.elapsed() : -1;
    }
    return s;
}

QString RunProgress::text() const {
    return describe(current());
}

void RunProgress::compareStarts() {
    stopFollowing();
    state_ = {};
    run_.start();
    publish(true);
}

void RunProgress::listed(const QString& folder, int folders, qint64 files) {
    state_.phase = Phase::Listing;
    state_.folder = readableName(folder);
    state_.folders = folders;
    state_.files = files;
    publish(false);
}

void RunProgress::compareEnds(qint64 localFiles, qint64 remoteFiles, qint64 rows) {
    state_ = current();
    state_.phase = Phase::Compared;
    state_.localFiles = localFiles;
    state_.remoteFiles = remoteFiles;
    state_.rows = rows;
    publish(true);
    emit ended(published_);
}

void RunProgress::syncStarts(const ResultListModel& model) {
    stopFollowing();
    state_ = {};
    state_.phase = Phase::Syncing;
    run_.start();
    uploading_.invalidate();
    model_ = &model;
    rows_.assign(std::size_t(model.rowCount()), Row{});
    for (int row = 0; row < model.rowCount(); ++row) {
        if (model.isChecked(row))
            countRow(row);
    }
    actions_ = connect(&model, &ResultListModel::dataChanged, this, &RunProgress::onActionsChanged);
    // Rows that go are no longer the rows counted.
    reset_ =
        connect(&model, &ResultListModel::modelAboutToBeReset, this, &RunProgress::stopFollowing);
    publish(true);
}

void RunProgress::syncEnds(bool stopped) {
    if (state_.phase != Phase::Syncing)
        return;
    stopFollowing();
    state_ = current();
    state_.phase = stopped ? Phase::Stopped : Phase::Synced;
    publish(true);
    emit ended(published_);
}

void RunProgress::clear() {
    stopFollowing();
    state_ = {};
    publish(true);
}

void RunProgress::stopFollowing() {
    disconnect(actions_);
    disconnect(reset_);
    model_ = nullptr;
    rows_.clear();
}

// A row ticked once the run was under way is counted when the run takes it up.
void RunProgress::countRow(int row) {
    Row& r = rows_[std::size_t(row)];
    if (r.counted)
        return;
    r.counted = true;
    if (model_->kind(row) == RowKind::Delete) {
        ++state_.deletes;
        return;
    }
    r.size = localSize(model_->source(row));
    ++state_.uploads;
    state_.bytes += r.size;
}

void RunProgress::onActionsChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight) {
    if (!model_ || topLeft.column() > ResultListModel::ActionColumn ||
        bottomRight.column() < ResultListModel::ActionColumn)
        return;
    static const QRegularExpression uploading(QStringLiteral("^uploading (\\d+)%$"));
    const int last = std::min(bottomRight.row(), int(rows_.size()) - 1);
    for (int row = std::max(topLeft.row(), 0); row <= last; ++row) {
        const QString action = model_->action(row);
        const bool done = action == QLatin1String("Done");
        const bool failed = action == QLatin1String("Fail");
        const auto match = uploading.match(action);
        Row& r = rows_[std::size_t(row)];
        if (r.finished || (!done && !failed && !match.hasMatch()))
            continue;
        countRow(row);
        if (model_->kind(row) == RowKind::Delete) {
            r.finished = done || failed;
            state_.deletesDone += done ? 1 : 0;
            state_.failed += failed ? 1 : 0;
            continue;
        }
        const qint64 before = r.percent < 0 ? 0 : r.size * r.percent / 100;
        if (r.percent < 0) {
            ++state_.uploadsStarted;
            if (!uploading_.isValid())
                uploading_.start();
        }
        if (match.hasMatch()) {
            r.percent = std::clamp(match.captured(1).toInt(), 0, 100);
            state_.bytesMoved += r.size * r.percent / 100 - before;
            continue;
        }
        r.percent = 100;
        r.finished = true;
        state_.bytesMoved += r.size - before;
        if (done) {
            ++state_.uploadsDone;
            state_.bytesDone += r.size;
        } else {
            ++state_.failed;
        }
    }
    publish(false);
}

void RunProgress::publish(bool now) {
    if (now || !sincePublished_.isValid() || sincePublished_.elapsed() >= kPublishGapMs) {
        publishNow();
        return;
    }
    if (!pending_.isActive())
        pending_.start(int(kPublishGapMs - sincePublished_.elapsed()));
}

void RunProgress::publishNow() {
    pending_.stop();
    sincePublished_.start();
    const QString text = this->text();
    if (text == published_)
        return;
    published_ = text;
    emit changed(published_);
}
