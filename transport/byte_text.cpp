#include "transport/byte_text.h"

namespace {

bool IsTrimmed(unsigned char c) { return c <= 32; }
bool IsBlankOrTab(char c) { return c == ' ' || c == '\t'; }
char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

std::string TrimLeftText(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size() && IsTrimmed(static_cast<unsigned char>(text[begin]))) ++begin;
    return std::string(text.substr(begin));
}

std::string TrimText(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsTrimmed(static_cast<unsigned char>(text[begin]))) ++begin;
    while (end > begin && IsTrimmed(static_cast<unsigned char>(text[end - 1]))) --end;
    return std::string(text.substr(begin, end - begin));
}

std::string StripBlanks(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsBlankOrTab(text[begin])) ++begin;
    while (end > begin && IsBlankOrTab(text[end - 1])) --end;
    return std::string(text.substr(begin, end - begin));
}

std::string UpperCaseAscii(std::string_view text) {
    std::string result(text);
    for (char& c : result) c = UpperAscii(c);
    return result;
}

bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
    }
    return true;
}

std::string QuoteWithEscapes(std::string_view text) {
    std::string result = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') result += '\\';
        result += c;
    }
    result += '"';
    return result;
}
