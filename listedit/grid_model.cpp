#include "listedit/grid_model.h"

#include <algorithm>

GridModel::GridModel(QObject* parent) : QAbstractTableModel(parent) {
    rows_.resize(kInitialRowCount - 1);
}

bool GridModel::SetRowCount(int count) {
    if (count < 2 || count > kMaxRowCount) return false;
    const int old = RowCount();
    if (count > old) {
        beginInsertRows({}, old - 1, count - 2);
        rows_.resize(static_cast<size_t>(count - 1));
        endInsertRows();
    } else if (count < old) {
        beginRemoveRows({}, count - 1, old - 2);
        rows_.resize(static_cast<size_t>(count - 1));
        endRemoveRows();
    }
    return true;
}

const QString& GridModel::Cell(int row, int column) const {
    return row == 0 ? header_[static_cast<size_t>(column)] : Row(row)[static_cast<size_t>(column)];
}

QString& GridModel::MutableCell(int row, int column) {
    return row == 0 ? header_[static_cast<size_t>(column)]
                    : rows_[static_cast<size_t>(row - 1)][static_cast<size_t>(column)];
}

void GridModel::SetCell(int row, int column, const QString& text) {
    QString& cell = MutableCell(row, column);
    if (cell == text) return;
    cell = text;
    if (row == 0) {
        if (column > 0) emit headerDataChanged(Qt::Horizontal, column - 1, column - 1);
    } else if (column == 0) {
        emit headerDataChanged(Qt::Vertical, row - 1, row - 1);
    } else {
        const QModelIndex at = index(row - 1, column - 1);
        emit dataChanged(at, at);
    }
}

void GridModel::EditCell(int row, int column, const QString& text) {
    const QString clean = CleanCellText(text);
    if (Cell(row, column) == clean) return;
    SetCell(row, column, clean);
    emit CellEdited();
}

QString GridModel::CleanCellText(const QString& text) {
    QString clean = text;
    clean.replace(QLatin1Char(';'), QLatin1Char(','));
    clean.replace(QLatin1Char('\r'), QLatin1Char(' '));
    clean.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return clean;
}

void GridModel::ClearRows() {
    beginResetModel();
    for (GridRow& row : rows_) row = GridRow{};
    endResetModel();
}

void GridModel::FillColumn(int column, const QString& text) {
    beginResetModel();
    for (GridRow& row : rows_) row[static_cast<size_t>(column)] = text;
    endResetModel();
}

void GridModel::NumberRows() {
    for (size_t r = 0; r < rows_.size(); ++r) rows_[r][0] = QString::number(r + 1);
    if (!rows_.empty()) emit headerDataChanged(Qt::Vertical, 0, static_cast<int>(rows_.size()) - 1);
}

void GridModel::DeleteRows(int first, int count) {
    const int dataRows = static_cast<int>(rows_.size());
    if (first < 1 || first > dataRows || count <= 0) return;
    count = std::min(count, dataRows - first + 1);
    // Deleting one row at a time would be quadratic for a long list; the result is the same.
    const bool keepOne = count == dataRows;
    const int removed = keepOne ? count - 1 : count;
    if (removed > 0) {
        beginRemoveRows({}, first - 1, first - 1 + removed - 1);
        rows_.erase(rows_.begin() + (first - 1), rows_.begin() + (first - 1 + removed));
        endRemoveRows();
    }
    if (keepOne) {
        beginResetModel();
        rows_[0] = GridRow{};
        endResetModel();
    }
}

bool GridModel::PlaceLines(const std::vector<LineCells>& lines) {
    const size_t needed = lines.size() + 1;
    if (needed > static_cast<size_t>(kMaxRowCount)) return false;
    beginResetModel();
    if (needed >= rows_.size() + 1) rows_.resize(needed - 1);
    for (size_t i = 0; i < lines.size(); ++i) {
        if (!lines[i]) continue;
        GridRow& row = rows_[i];
        for (int c = 1; c < kGridColumns; ++c) row[static_cast<size_t>(c)] = CleanCellText((*lines[i])[static_cast<size_t>(c)]);
    }
    endResetModel();
    return true;
}

void GridModel::ReplaceRows(int first, std::vector<GridRow> rows) {
    beginResetModel();
    std::move(rows.begin(), rows.end(), rows_.begin() + (first - 1));
    endResetModel();
}

int GridModel::LastFilledRow() const {
    for (size_t r = rows_.size(); r > 0; --r) {
        const GridRow& row = rows_[r - 1];
        if (std::any_of(row.begin() + 1, row.end(), [](const QString& cell) { return !cell.isEmpty(); }))
            return static_cast<int>(r);
    }
    return 0;
}

int GridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int GridModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kGridColumns - 1; }

QVariant GridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole)) return {};
    return Cell(index.row() + 1, index.column() + 1);
}

bool GridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || role != Qt::EditRole) return false;
    EditCell(index.row() + 1, index.column() + 1, value.toString());
    return true;
}

Qt::ItemFlags GridModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable;
}

QVariant GridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal) {
        if (section < 0 || section >= kGridColumns - 1) return {};
        if (role == Qt::DisplayRole) return header_[static_cast<size_t>(section + 1)];
        if (role == Qt::TextAlignmentRole) return static_cast<int>(Qt::AlignLeft | Qt::AlignVCenter);
        return {};
    }
    if (section < 0 || section >= static_cast<int>(rows_.size())) return {};
    // The number column shows its text right-aligned.
    if (role == Qt::DisplayRole) return rows_[static_cast<size_t>(section)][0];
    if (role == Qt::TextAlignmentRole) return static_cast<int>(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}
