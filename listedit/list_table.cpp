#include "listedit/list_table.h"

#include "mailing/list_file.h"
#include "mailing/text_codec.h"

ListContent ParseListFile(std::string_view bytes) {
    ListContent content;
    // The charset is decided for the whole file: one byte that is not UTF-8 makes it a Windows-1252 file.
    content.legacy = DecodeLocalText(bytes).legacy;
    const TextLines text = SplitTextLines(bytes);
    content.lines.reserve(text.lines.size());
    for (const std::string& line : text.lines) {
        if (IsBlankLine(line)) {
            content.lines.emplace_back();
            continue;
        }
        const RecipientRecord record = SplitListLine(line);
        GridRow row;
        for (int k = 1; k <= RecipientRecord::kFieldCount; ++k)
            row[static_cast<size_t>(k)] = DecodeLocalTextAs(record.Field(k), content.legacy);
        content.lines.emplace_back(std::move(row));
    }
    return content;
}

std::optional<std::string> ListFileText(std::span<const GridRow> rows, bool legacy) {
    TextLines text;
    text.finalBreak = true;
    for (const GridRow& row : rows) {
        RecipientRecord record;
        for (int k = 1; k <= RecipientRecord::kFieldCount; ++k)
            record.Field(k) = EncodeLocalText(row[static_cast<size_t>(k)], legacy);
        std::string line = JoinListLine(record);
        if (!line.empty()) text.lines.push_back(std::move(line));
    }
    if (text.lines.empty()) return std::nullopt;
    return JoinTextLines(text);
}
