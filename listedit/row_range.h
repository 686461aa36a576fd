#pragma once
// Row numbers typed into the row deletion dialog, and the range the table then deletes.

#include <QString>

#include <optional>

// A whole number as the dialog accepts it: leading blanks, an optional sign, decimal digits, within the
// 32-bit range. Anything else (empty text, other characters, a trailing blank, an overflow) is nothing.
std::optional<int> ParseRowNumber(const QString& text);

struct RowRange {
    int first = 1;
    int last = 1;
    int Count() const { return last - first + 1; }
};

// Brings a range from the dialog onto a table of `rowCount` rows (header included): the first row at
// least 1, both ends at most the last data row, the last at least the first.
RowRange ClampRowRange(int von, int bis, int rowCount);
