#pragma once
// The cells of the recipient table, as the grid window shows them: row 0 is the header row with the
// column titles, column 0 the number column, rows 1 and up the data rows with the seven list fields in
// columns 1 to 7. The model holds every row in memory and serves them to a QTableView, which shows row 0
// as its horizontal header and column 0 as its vertical header.

#include <QAbstractTableModel>
#include <QString>

#include <array>
#include <optional>
#include <span>
#include <vector>

inline constexpr int kGridColumns = 8;
// One row of the table: column 0 (the number) and the seven fields.
using GridRow = std::array<QString, kGridColumns>;
// The cells that one text line gives for a row, or nothing for a blank line, whose row is left alone.
using LineCells = std::optional<GridRow>;

class GridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // The table's capacity: far above any real list, and small enough that a full table still fits in
    // memory. Beyond it no row can be added and a longer file is refused.
    static constexpr int kMaxRowCount = 1'000'000;
    // A new table: 19 rows, that is 18 data rows under the header.
    static constexpr int kInitialRowCount = 19;

    explicit GridModel(QObject* parent = nullptr);

    // Row count including the header row.
    int RowCount() const { return static_cast<int>(rows_.size()) + 1; }
    // Grows with empty rows or shrinks from the end. False (and no change) above the capacity or below
    // one data row.
    bool SetRowCount(int count);

    const QString& Cell(int row, int column) const;
    // Sets one cell as the program does; a user's edit goes through `EditCell`.
    void SetCell(int row, int column, const QString& text);
    // A cell changed by the user (typing, pasting, a file path): the text is cleaned for the list file
    // first, and `CellEdited` tells the window that the rows may no longer be in sorted order.
    void EditCell(int row, int column, const QString& text);
    const GridRow& Row(int row) const { return rows_[static_cast<size_t>(row - 1)]; }
    // The data rows, row 1 first.
    std::span<const GridRow> DataRows() const { return rows_; }

    // Empties every cell of the data rows; the row count stays.
    void ClearRows();
    // Sets `column` of every data row to `text`.
    void FillColumn(int column, const QString& text);
    // Writes the row number r into column 0 of every data row r.
    void NumberRows();
    // Removes `count` rows from `first` on, so that the rows below move up. The table always keeps one
    // data row: when every data row would go, the last one stays, emptied.
    void DeleteRows(int first, int count);
    // Puts line i of a text into data row i + 1, growing the table to lines + 1 rows when it is shorter
    // (it never shrinks). Blank lines leave their row as it is. False (and no change) above the capacity.
    bool PlaceLines(const std::vector<LineCells>& lines);
    // Replaces data rows `first` to `first + rows.size() - 1` (the table must hold them).
    void ReplaceRows(int first, std::vector<GridRow> rows);
    // The last data row with any text in columns 1 to 7, or 0 when there is none.
    int LastFilledRow() const;

    // A cell text as the list file can hold it: a ";" would split the field and a line break the line,
    // so ";" becomes "," and line breaks become blanks.
    static QString CleanCellText(const QString& text);

    // Qt's model interface. Model row i is data row i + 1, model column j is grid column j + 1.
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

signals:
    void CellEdited();

private:
    QString& MutableCell(int row, int column);

    GridRow header_;
    std::vector<GridRow> rows_;
};
