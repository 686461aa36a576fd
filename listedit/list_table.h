#pragma once
// Between the list file "sendlist.csv" and the rows of the recipient table.

#include "listedit/grid_model.h"
#include "mailing/list_charset.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// What "Neu" puts into the text file and result columns of every row.
inline constexpr const char* kNewRowTextFile = "default";
inline constexpr const char* kNewRowResult = "not send";

struct ListContent {
    std::vector<LineCells> lines;  // one per text line; blank lines are nothing
    ListCharset charset;           // how the fields were read, and so how the rows are written back
};

// Splits the file into lines and each line into its seven fields (columns 1 to 7 of a row).
ListContent ParseListFile(std::string_view bytes);

// A cell of a data row: `row` counts from 1, `column` is the field number 1 to 7.
struct CellPosition {
    int row = 0;
    int column = 0;
};

// The first cell of a row that gives a line whose text `charset` cannot hold, or nothing.
std::optional<CellPosition> FirstCellLost(std::span<const GridRow> rows, const ListCharset& charset);

// The file for the data rows: one line per row that has a first name, its seven trimmed fields each
// followed by ";", every line ending in CR LF. Nothing when no row gives a line.
std::optional<std::string> ListFileText(std::span<const GridRow> rows, const ListCharset& charset);

// A cell without the leading and trailing characters of codes 0 to 32: trimming as everywhere in the
// program, and so as the list file holds it.
QString TrimmedCell(const QString& text);
// Whether a cell holds something of the user's: text other than the "default" and "not send" that "Neu"
// puts into every row.
bool CellHoldsData(const GridRow& row, int column);

// The rows that hold data but no first name, which a save drops: how many, and the first (counted from 1).
struct RowsWithoutFirstName {
    int count = 0;
    int first = 0;
};
RowsWithoutFirstName FindRowsWithoutFirstName(std::span<const GridRow> rows);

// What the table holds, to tell whether it changed since it was loaded or saved: every row that holds
// data, its cells trimmed and without the number, in order. Empty rows, where they stand and how many
// there are, do not count.
std::vector<GridRow> TableContent(std::span<const GridRow> rows);

// `text` cut to `most` characters, with "…" at the end when it was longer: for a message box.
QString Shortened(const QString& text, qsizetype most);
