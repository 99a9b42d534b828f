#pragma once

#include "compare/RowKind.h"

#include <QAbstractTableModel>
#include <QList>
#include <QString>
#include <QStringList>

#include <vector>

// The result list: one row per proposed action with the columns "Source",
// "Action" and "Destination" and a tick (the check state of the first column).
// It is the one place rows live; the compare run fills it and the sync run
// reads the ticks and writes progress into the action column. Paths are kept
// exactly (source(), destination()); the display spells out the bytes of names
// that are not UTF-8 as "\xE9" and so on.
class ResultListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { SourceColumn = 0, ActionColumn = 1, DestinationColumn = 2 };

    explicit ResultListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Removes every column header and adds these, in order.
    void setColumns(const QStringList& captions);
    QStringList columns() const { return columns_; }

    void clear();
    // Removes every row but the given ones (positions from 0), which keep
    // their order, kind and texts and are ticked.
    void keepOnly(const QList<int>& rows);
    // Appends a ticked row of the kind, showing the kind's caption; answers its
    // position (from 0).
    int addRow(RowKind kind, const QString& source, const QString& destination = {});
    // Appends ticked rows of one kind, announced to views as one insertion;
    // destinations may be empty (no destination) or run parallel to sources,
    // and so may the reasons: why each row is proposed, which the action
    // column shows as its tool tip. Answers the position of the first new row.
    int addRows(RowKind kind, const QStringList& sources, const QStringList& destinations = {},
                const QStringList& reasons = {});

    QString source(int row) const { return rows_.at(std::size_t(row)).source; }
    QString action(int row) const { return rows_.at(std::size_t(row)).action; }
    RowKind kind(int row) const { return rows_.at(std::size_t(row)).kind; }
    QString destination(int row) const { return rows_.at(std::size_t(row)).destination; }
    QString reason(int row) const { return rows_.at(std::size_t(row)).reason; }
    bool isChecked(int row) const { return rows_.at(std::size_t(row)).checked; }

    void setChecked(int row, bool checked);
    void setAction(int row, const QString& action);
    // Ticks or unticks every row.
    void setAllChecked(bool checked);

private:
    struct Row {
        QString source;
        QString action;
        QString destination;
        QString reason;
        RowKind kind = RowKind::Upload;
        bool checked = true;
    };
    std::vector<Row> rows_;
    QStringList columns_;
};
