#pragma once

#include "compare/ResultListModel.h"

#include <QAbstractItemModel>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

// Every text the action column of each row took, in order, as a user watching
// the list would have seen them: by row number, and by the row's source (rows
// of two lists compare by what they carry).
class ActionLog {
public:
    explicit ActionLog(ResultListModel& model) : model_(model) {
        QObject::connect(&model, &QAbstractItemModel::dataChanged,
                         [this](const QModelIndex& from, const QModelIndex& to) {
                             if (from.column() > ResultListModel::ActionColumn ||
                                 to.column() < ResultListModel::ActionColumn)
                                 return;
                             for (int r = from.row(); r <= to.row(); ++r) {
                                 byRow_[r].append(model_.action(r));
                                 bySource_[model_.source(r)].append(model_.action(r));
                             }
                         });
    }
    ActionLog(const ActionLog&) = delete;
    ActionLog& operator=(const ActionLog&) = delete;

    QStringList of(int row) const { return byRow_.value(row); }
    QString last(int row) const { return byRow_.value(row).value(byRow_.value(row).size() - 1); }
    const QMap<QString, QStringList>& bySource() const { return bySource_; }

private:
    ResultListModel& model_;
    QMap<int, QStringList> byRow_;
    QMap<QString, QStringList> bySource_;
};
