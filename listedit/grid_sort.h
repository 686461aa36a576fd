#pragma once
// Sorting the recipient table by a column: a press on a column's header sorts the filled rows ascending,
// the next press on the same header shows them descending, and so on. The descending order is kept in
// a hidden copy (`StringGrid2`) made by the ascending sort.

#include "listedit/grid_model.h"

#include <QLocale>
#include <QString>

#include <array>
#include <functional>
#include <stdexcept>
#include <vector>

// A "Gesendet" cell that is no date and time stops a sort by that column.
class ESortError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The key a row is sorted by in column `column`: the cell trimmed, or for "Gesendet" (column 6) the
// send time rewritten as "yyyyMMddhhmmss", so that times sort by time. Throws ESortError for a
// "Gesendet" cell that is no date and time.
QString SortKey(int column, const QString& cell, const QLocale& locale);

class GridSort {
public:
    // The column whose send times are sorted by time.
    static constexpr int kSentColumn = 6;
    enum class Marker { None, Ascending, Descending };

    // Keys are compared in the order of the default locale (the user's, unless the program set another).
    explicit GridSort(GridModel& table) : table_(table) {}

    // A mouse press on the table. `row` 0 is the header row; `column` 0 the number column; a press
    // outside the header row or with another button than the left only takes the marker away.
    void MouseDown(int row, int column, bool leftButton);
    // Sorts the data rows 1 to N (N = rows with a name, which are expected at the top) ascending by
    // `column`, case-insensitively in the locale's order, and keeps the descending order in the copy.
    void SortByColumn(int column);
    // Shows the descending order of the last ascending sort.
    void ShowDescending();
    // Forgets the sort: no marker, no toggles, an empty copy. `SortColumn` stays.
    void ResetSort();
    void ClearSortCopy() { StringGrid2.clear(); }

    // The marker to draw in the header of `column`.
    Marker MarkerFor(int column) const;

    int SortColumn = -1;
    bool SortActive = false;
    bool SortDescending = false;
    // One toggle per data column 1 to 7 (index 0 unused): true after an ascending sort by that column,
    // so that the next press on it shows the descending order.
    std::array<bool, kGridColumns> ColumnToggle{};
    // The hidden second table: its data rows, the sorted block in descending order.
    std::vector<GridRow> StringGrid2;

private:
    GridModel& table_;
};

// The order in which `texts` sort case-insensitively in the locale's order; equal texts keep their order.
std::vector<size_t> CollatedOrder(const std::vector<QString>& texts, const QLocale& locale);
// The same by `keys`; texts with equal keys are ordered by `tieBreak` of their index.
std::vector<size_t> CollatedOrder(const std::vector<QString>& keys, const std::function<QString(size_t)>& tieBreak,
                                  const QLocale& locale);
