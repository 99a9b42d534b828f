#include "compare/ResultListModel.h"

#include "core/NameCodec.h"

ResultListModel::ResultListModel(QObject* parent) : QAbstractTableModel(parent) {}

int ResultListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(rows_.size());
}

int ResultListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(columns_.size());
}

QVariant ResultListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= int(rows_.size()))
        return {};
    const Row& r = rows_[std::size_t(index.row())];
    if (role == Qt::ToolTipRole && index.column() == ActionColumn && !r.reason.isEmpty())
        return r.reason;
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        // Paths keep the exact bytes of their names for the sync run; only
        // what is shown spells out the bytes that are not UTF-8.
        switch (index.column()) {
        case SourceColumn:
            return readableName(r.source);
        case ActionColumn:
            return r.action;
        case DestinationColumn:
            return readableName(r.destination);
        default:
            return {};
        }
    }
    if (role == Qt::CheckStateRole && index.column() == SourceColumn)
        return r.checked ? Qt::Checked : Qt::Unchecked;
    return {};
}

bool ResultListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || role != Qt::CheckStateRole || index.column() != SourceColumn)
        return false;
    setChecked(index.row(), value.toInt() == Qt::Checked);
    return true;
}

Qt::ItemFlags ResultListModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (index.column() == SourceColumn)
        f |= Qt::ItemIsUserCheckable;
    return f;
}

QVariant ResultListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < columns_.size())
        return columns_.at(section);
    return {};
}

void ResultListModel::setColumns(const QStringList& captions) {
    beginResetModel();
    columns_ = captions;
    endResetModel();
}

void ResultListModel::clear() {
    if (rows_.empty())
        return;
    beginResetModel();
    rows_.clear();
    rows_.shrink_to_fit();
    endResetModel();
}

void ResultListModel::keepOnly(const QList<int>& rows) {
    std::vector<Row> kept;
    kept.reserve(std::size_t(rows.size()));
    for (int row : rows) {
        kept.push_back(rows_.at(std::size_t(row)));
        kept.back().checked = true;
    }
    beginResetModel();
    rows_ = std::move(kept);
    endResetModel();
}

int ResultListModel::addRow(RowKind kind, const QString& source, const QString& destination) {
    return addRows(kind, {source}, {destination});
}

int ResultListModel::addRows(RowKind kind, const QStringList& sources,
                             const QStringList& destinations, const QStringList& reasons) {
    const int first = int(rows_.size());
    if (sources.isEmpty())
        return first;
    const QString action = ActionCaption(kind);
    beginInsertRows({}, first, first + int(sources.size()) - 1);
    for (qsizetype i = 0; i < sources.size(); ++i)
        rows_.push_back(
            {sources.at(i), action, destinations.value(i), reasons.value(i), kind, true});
    endInsertRows();
    return first;
}

void ResultListModel::setChecked(int row, bool checked) {
    Row& r = rows_.at(std::size_t(row));
    if (r.checked == checked)
        return;
    r.checked = checked;
    const QModelIndex i = index(row, SourceColumn);
    emit dataChanged(i, i, {Qt::CheckStateRole});
}

void ResultListModel::setAction(int row, const QString& action) {
    Row& r = rows_.at(std::size_t(row));
    if (r.action == action)
        return;
    r.action = action;
    const QModelIndex i = index(row, ActionColumn);
    emit dataChanged(i, i, {Qt::DisplayRole});
}

void ResultListModel::setAllChecked(bool checked) {
    if (rows_.empty())
        return;
    for (Row& r : rows_)
        r.checked = checked;
    emit dataChanged(index(0, SourceColumn), index(int(rows_.size()) - 1, SourceColumn),
                     {Qt::CheckStateRole});
}
