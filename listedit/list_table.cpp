#include "listedit/list_table.h"

#include "mailing/list_file.h"

#include <algorithm>

namespace {

// The joiner's test, on the text: a first name of nothing but codes 0 to 32 gives no line, so the row's
// cells are not written.
bool GivesLine(const GridRow& row) {
    const QString& firstName = row[2];
    return std::any_of(firstName.begin(), firstName.end(), [](QChar c) { return c.unicode() > 32; });
}

bool HoldsData(const GridRow& row) {
    for (int k = 1; k <= RecipientRecord::kFieldCount; ++k)
        if (CellHoldsData(row, k)) return true;
    return false;
}

// A row as the list file holds it: trimmed fields, no number.
GridRow TrimmedRow(const GridRow& row) {
    GridRow trimmed;
    for (int k = 1; k <= RecipientRecord::kFieldCount; ++k)
        trimmed[static_cast<size_t>(k)] = TrimmedCell(row[static_cast<size_t>(k)]);
    return trimmed;
}

}  // namespace

ListContent ParseListFile(std::string_view bytes) {
    ListContent content;
    const TextLines text = SplitTextLines(bytes);
    std::vector<std::optional<RecipientRecord>> records;
    records.reserve(text.lines.size());
    for (const std::string& line : text.lines) {
        if (IsBlankLine(line)) {
            records.emplace_back();
            continue;
        }
        records.emplace_back(SplitListLine(line));
        content.charset.Inspect(*records.back());
    }
    content.lines.reserve(records.size());
    for (const auto& record : records) {
        if (!record) {
            content.lines.emplace_back();
            continue;
        }
        GridRow row;
        for (int k = 1; k <= RecipientRecord::kFieldCount; ++k)
            row[static_cast<size_t>(k)] = content.charset.Decode(record->Field(k), k);
        content.lines.emplace_back(std::move(row));
    }
    return content;
}

std::optional<CellPosition> FirstCellLost(std::span<const GridRow> rows, const ListCharset& charset) {
    for (size_t r = 0; r < rows.size(); ++r) {
        if (!GivesLine(rows[r])) continue;
        for (int k = 1; k <= RecipientRecord::kFieldCount; ++k) {
            if (!charset.CanHold(rows[r][static_cast<size_t>(k)], k)) return CellPosition{static_cast<int>(r) + 1, k};
        }
    }
    return std::nullopt;
}

std::optional<std::string> ListFileText(std::span<const GridRow> rows, const ListCharset& charset) {
    TextLines text;
    text.finalBreak = true;
    for (const GridRow& row : rows) {
        RecipientRecord record;
        for (int k = 1; k <= RecipientRecord::kFieldCount; ++k)
            record.Field(k) = charset.Encode(row[static_cast<size_t>(k)], k);
        std::string line = JoinListLine(record);
        if (!line.empty()) text.lines.push_back(std::move(line));
    }
    if (text.lines.empty()) return std::nullopt;
    return JoinTextLines(text);
}

QString TrimmedCell(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin].unicode() <= 32) ++begin;
    while (end > begin && text[end - 1].unicode() <= 32) --end;
    return text.mid(begin, end - begin);
}

bool CellHoldsData(const GridRow& row, int column) {
    const QString cell = TrimmedCell(row[static_cast<size_t>(column)]);
    if (column == 5 && cell == QLatin1String(kNewRowTextFile)) return false;
    if (column == 6 && cell == QLatin1String(kNewRowResult)) return false;
    return !cell.isEmpty();
}

RowsWithoutFirstName FindRowsWithoutFirstName(std::span<const GridRow> rows) {
    RowsWithoutFirstName found;
    for (size_t r = 0; r < rows.size(); ++r) {
        if (GivesLine(rows[r]) || !HoldsData(rows[r])) continue;
        if (found.count++ == 0) found.first = static_cast<int>(r) + 1;
    }
    return found;
}

std::vector<GridRow> TableContent(std::span<const GridRow> rows) {
    std::vector<GridRow> content;
    for (const GridRow& row : rows)
        if (HoldsData(row)) content.push_back(TrimmedRow(row));
    return content;
}

QString Shortened(const QString& text, qsizetype most) {
    if (text.size() <= most) return text;
    // Not between the two halves of a character outside the basic plane.
    if (most > 0 && text[most - 1].isHighSurrogate()) --most;
    return text.left(most) + QChar(0x2026);
}
