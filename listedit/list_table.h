#pragma once
// Between the list file "sendlist.csv" and the rows of the recipient table.

#include "listedit/grid_model.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct ListContent {
    std::vector<LineCells> lines;  // one per text line; blank lines are nothing
    bool legacy = false;           // the file was not UTF-8 and was read as Windows-1252
};

// Splits the file into lines and each line into its seven fields (columns 1 to 7 of a row).
ListContent ParseListFile(std::string_view bytes);

// The file for the data rows: one line per row that has a first name, its seven trimmed fields each
// followed by ";", every line ending in CR LF. Nothing when no row gives a line. `legacy` writes
// Windows-1252, as the list was read.
std::optional<std::string> ListFileText(std::span<const GridRow> rows, bool legacy);
