#pragma once

#include "compare/ResultListModel.h"
#include "compare/RowKind.h"
#include "compare/RunHost.h"
#include "core/UiYield.h"

#include <QElapsedTimer>
#include <QStringList>

// Adds the rows of one kind to the host's list in batches on a time budget,
// so that the list follows the growth and the window stays responsive: one
// insertion per batch keeps a view from relaying itself out 100,000 times,
// while the user still sees the list grow.
class RowFiller {
public:
    RowFiller(RunHost& host, RowKind kind) : host_(host), kind_(kind) { sinceFlush_.start(); }

    // The reason, where given, is why the row is proposed.
    void add(const QString& source, const QString& destination = {}, const QString& reason = {}) {
        sources_.append(source);
        destinations_.append(destination);
        reasons_.append(reason);
        withReasons_ = withReasons_ || !reason.isEmpty();
        if (sources_.size() >= kBatchMax || sinceFlush_.elapsed() >= kBatchMs)
            flush();
        UiYield::processPending();
    }

    void flush() {
        sinceFlush_.start();
        if (sources_.isEmpty())
            return;
        const int first = host_.resultList().addRows(kind_, sources_, destinations_,
                                                     withReasons_ ? reasons_ : QStringList());
        host_.makeRowVisible(first + int(sources_.size()) - 1);
        sources_.clear();
        destinations_.clear();
        reasons_.clear();
    }

private:
    // How long rows may wait in a batch before the list is told about them.
    static constexpr int kBatchMs = 15;
    // A view takes time per announced row too, so a batch also stays short
    // enough to be announced without a noticeable pause.
    static constexpr qsizetype kBatchMax = 4096;

    RunHost& host_;
    RowKind kind_;
    QStringList sources_;
    QStringList destinations_;
    QStringList reasons_;
    bool withReasons_ = false;
    QElapsedTimer sinceFlush_;
};
