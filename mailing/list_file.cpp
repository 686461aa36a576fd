#include "mailing/list_file.h"

#include <cassert>

std::string& RecipientRecord::Field(int k) {
    return const_cast<std::string&>(static_cast<const RecipientRecord*>(this)->Field(k));
}

const std::string& RecipientRecord::Field(int k) const {
    switch (k) {
        case 1: return Surname;
        case 2: return FirstName;
        case 3: return Address;
        case 4: return Subject;
        case 5: return TextFile;
        case 6: return Result;
        default: assert(k == 7); return Attachment;
    }
}

std::string_view TrimView(std::string_view text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsTrimmable(text[begin])) ++begin;
    while (end > begin && IsTrimmable(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

std::string Trim(std::string_view text) { return std::string(TrimView(text)); }

bool IsBlankLine(std::string_view line) { return TrimView(line).empty(); }

RecipientRecord SplitListLine(std::string_view line) { return SplitSeparatedLine(line, ';'); }

RecipientRecord SplitSeparatedLine(std::string_view line, char separator) {
    RecipientRecord record;
    if (line.empty()) return record;

    // Fields 1 to 6 each end at the next ";". Scanning once from left to right keeps this linear
    // however many separators the line holds.
    int k = 1;
    std::string_view rest = line;
    for (size_t at = rest.find(separator); at != std::string_view::npos; at = rest.find(separator)) {
        record.Field(k).assign(rest.substr(0, at));
        rest.remove_prefix(at + 1);
        ++k;
        if (k > 6) break;
    }
    // The field after that takes the rest up to its first separator; anything behind it is dropped.
    record.Field(k).assign(rest.substr(0, rest.find(separator)));
    return record;
}

std::string JoinListLine(const RecipientRecord& record) {
    if (TrimView(record.FirstName).empty()) return {};
    std::string line;
    for (int k = 1; k <= RecipientRecord::kFieldCount; ++k) {
        line += TrimView(record.Field(k));
        line += ';';
    }
    return line;
}

std::string JoinFieldsUntrimmed(const RecipientRecord& record) {
    std::string line;
    for (int k = 1; k <= RecipientRecord::kFieldCount; ++k) {
        line += record.Field(k);
        line += ';';
    }
    return line;
}

TextLines SplitTextLines(std::string_view text) {
    TextLines result;
    size_t start = 0;
    const size_t size = text.size();
    for (size_t i = 0; i < size; ++i) {
        const char c = text[i];
        if (c != '\r' && c != '\n') continue;
        result.lines.emplace_back(text.substr(start, i - start));
        if (c == '\r' && i + 1 < size && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < size) {
        result.lines.emplace_back(text.substr(start));
        result.finalBreak = false;
    } else {
        result.finalBreak = !text.empty();
    }
    return result;
}

std::string JoinTextLines(const TextLines& text) {
    size_t total = 0;
    for (const auto& line : text.lines) total += line.size() + 2;
    std::string out;
    out.reserve(total);
    for (size_t i = 0; i < text.lines.size(); ++i) {
        out += text.lines[i];
        if (i + 1 < text.lines.size() || text.finalBreak) out += "\r\n";
    }
    return out;
}
