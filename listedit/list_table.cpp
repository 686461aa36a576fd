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

std::vector<int> RowsGivingLines(std::span<const GridRow> rows) {
    std::vector<int> given;
    for (size_t r = 0; r < rows.size(); ++r)
        if (GivesLine(rows[r])) given.push_back(static_cast<int>(r) + 1);
    return given;
}
