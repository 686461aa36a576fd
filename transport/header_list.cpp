#include "transport/header_list.h"

#include "transport/byte_text.h"

namespace {

constexpr std::string_view kSeparator = ": ";
constexpr std::size_t kNone = std::string_view::npos;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsContinuation(const std::string& line) { return !line.empty() && IsBlank(line[0]); }

// A CR LF followed by a blank or TAB at i.
bool IsFoldAt(std::string_view text, std::size_t i) {
    return i + 2 < text.size() && text[i] == '\r' && text[i + 1] == '\n' && IsBlank(text[i + 2]);
}

// A fold at i whose continuation line holds more than blanks before its end.
bool IsFoldWithText(std::string_view text, std::size_t i) {
    if (!IsFoldAt(text, i)) return false;
    for (std::size_t k = i + 2; k < text.size(); ++k) {
        if (text[k] == '\r' || text[k] == '\n') return false;
        if (!IsBlank(text[k])) return true;
    }
    return false;
}

std::string StripTrailingBlanks(std::string_view text) {
    std::size_t end = text.size();
    while (end > 0 && IsBlank(text[end - 1])) --end;
    return std::string(text.substr(0, end));
}

}  // namespace

std::string WrapHeaderText(std::string_view line, std::size_t maxColumn) {
    std::string out;
    out.reserve(line.size() + line.size() / 32);
    std::size_t lineStart = 0;   // first byte of the current output line
    std::size_t breakAt = kNone; // start of the latest blank run followed by text, outside quotes
    std::size_t runStart = kNone;
    bool inQuotes = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (IsFoldAt(line, i)) {
            out.append(line, lineStart, i + 2 - lineStart);
            lineStart = i + 2;
            breakAt = runStart = kNone;
            ++i;
            continue;
        }
        if (IsBlank(c) && !inQuotes) {
            // The blanks that begin a continuation line belong to the fold, not to a new break.
            if (runStart == kNone && i > lineStart && !IsBlank(line[i - 1])) runStart = i;
        } else {
            if (c == '"') inQuotes = !inQuotes;
            if (runStart != kNone) breakAt = runStart;
            runStart = kNone;
        }
        if (i - lineStart + 1 > maxColumn && breakAt != kNone) {
            out.append(line, lineStart, breakAt - lineStart);
            out += "\r\n";
            lineStart = breakAt;
            breakAt = kNone;
        }
    }
    out.append(line, lineStart, kNone);
    return out;
}

std::string SanitizeHeaderValue(std::string_view value) {
    std::string out(value);
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (IsFoldWithText(value, i)) {
            ++i;  // keep CR LF; the blank after it is ordinary text
        } else if (out[i] == '\r' || out[i] == '\n') {
            out[i] = ' ';
        }
    }
    return out;
}

int TIdHeaderList::IndexOfName(std::string_view name) const {
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const std::string& line = lines_[i];
        if (IsContinuation(line)) continue;
        std::size_t colon = line.find(':');
        if (colon != std::string::npos && SameTextIgnoringCase(std::string_view(line).substr(0, colon), name)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

std::size_t TIdHeaderList::EndOfHeader(std::size_t index) const {
    std::size_t end = index + 1;
    while (end < lines_.size() && IsContinuation(lines_[end])) ++end;
    return end;
}

void TIdHeaderList::SetHeaderValue(std::string_view name, std::string_view value) {
    int found = IndexOfName(name);
    if (value.empty()) {
        if (found >= 0) {
            auto first = lines_.begin() + found;
            lines_.erase(first, lines_.begin() + static_cast<std::ptrdiff_t>(EndOfHeader(found)));
        }
        return;
    }
    std::string folded = WrapHeaderText(std::string(name) + std::string(kSeparator) + SanitizeHeaderValue(value));
    std::vector<std::string> pieces;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = folded.find("\r\n", start);
        pieces.push_back(StripTrailingBlanks(std::string_view(folded).substr(start, end - start)));
        if (end == std::string::npos) break;
        start = end + 2;
    }
    std::size_t at = found >= 0 ? static_cast<std::size_t>(found) : lines_.size();
    if (found >= 0) {
        lines_.erase(lines_.begin() + found, lines_.begin() + static_cast<std::ptrdiff_t>(EndOfHeader(found)));
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), pieces.begin(), pieces.end());
}

std::string TIdHeaderList::ReadHeaderValue(std::string_view name) const {
    int found = IndexOfName(name);
    if (found < 0) return "";
    const std::string& line = lines_[found];
    std::string value = TrimText(std::string_view(line).substr(line.find(':') + 1));
    for (std::size_t i = found + 1; i < lines_.size() && IsContinuation(lines_[i]); ++i) {
        value += ' ';
        value += TrimText(lines_[i]);
    }
    return TrimText(value);
}

void TIdHeaderList::AddLines(const TIdHeaderList& other) {
    lines_.insert(lines_.end(), other.lines_.begin(), other.lines_.end());
}
