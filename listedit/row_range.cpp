#include "listedit/row_range.h"

#include <algorithm>
#include <limits>

std::optional<int> ParseRowNumber(const QString& text) {
    qsizetype i = 0;
    while (i < text.size() && text[i] == QLatin1Char(' ')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    if (i == text.size()) return std::nullopt;
    long long value = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9') return std::nullopt;
        value = value * 10 + (c - u'0');
        // Stop before the number can overflow: anything beyond the 32-bit range is no row number.
        if (value > static_cast<long long>(std::numeric_limits<int>::max()) + 1) return std::nullopt;
    }
    if (negative) value = -value;
    if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()) return std::nullopt;
    return static_cast<int>(value);
}

RowRange ClampRowRange(int von, int bis, int rowCount) {
    const int lastRow = std::max(1, rowCount - 1);
    RowRange range;
    range.first = std::clamp(von, 1, lastRow);
    range.last = std::clamp(bis, range.first, lastRow);
    return range;
}
