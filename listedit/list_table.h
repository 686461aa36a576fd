#pragma once
// Between the list file "sendlist.csv" and the rows of the recipient table.

#include "listedit/grid_model.h"
#include "mailing/list_charset.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

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
// Where the lines of that text come from: line i from data row RowsGivingLines(rows)[i] (counted from 1).
std::vector<int> RowsGivingLines(std::span<const GridRow> rows);
