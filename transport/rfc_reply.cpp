#include "transport/rfc_reply.h"

namespace {

bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= 32; }

// The decimal value of an optionally signed number; 0 when the text is anything else.
int32_t DecimalOrZero(const std::string& text) {
    size_t start = (!text.empty() && (text[0] == '-' || text[0] == '+')) ? 1 : 0;
    if (start == text.size()) return 0;
    int32_t value = 0;
    for (size_t i = start; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return 0;
        value = value * 10 + (text[i] - '0');
    }
    return text[0] == '-' ? -value : value;
}

}  // namespace

std::string TrimLine(std::string_view text) {
    size_t first = 0;
    while (first < text.size() && IsBlankOrControl(text[first])) ++first;
    size_t last = text.size();
    while (last > first && IsBlankOrControl(text[last - 1])) --last;
    return std::string(text.substr(first, last - first));
}

void TIdRFCReply::Clear() {
    Code = 0;
    CodeText.clear();
    Lines.clear();
}

void TIdRFCReply::ParseReply(const std::vector<std::string>& lines) {
    Clear();
    if (lines.empty()) return;
    CodeText = TrimLine(lines.front().substr(0, 4));
    if (CodeText.size() == 4 && CodeText[3] == '-') CodeText.resize(3);
    Code = DecimalOrZero(CodeText);
    for (const std::string& line : lines) Lines.push_back(line.size() > 4 ? line.substr(4) : std::string());
}

std::string TIdRFCReply::Text() const {
    std::string text;
    for (const std::string& line : Lines) text += line + "\r\n";
    return text;
}
