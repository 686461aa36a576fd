#include "transport/utf8_text.h"

std::optional<char32_t> ReadUtf8CodePoint(std::string_view text, std::size_t& position) {
    if (position >= text.size()) return std::nullopt;
    const auto lead = static_cast<unsigned char>(text[position]);
    if (lead < 0x80) return text[position++];
    // The count of continuation bytes and the smallest code point that needs this many.
    struct Form {
        unsigned char mask, lead;
        std::size_t more;
        char32_t smallest;
    };
    static constexpr Form kForms[] = {{0xE0, 0xC0, 1, 0x80}, {0xF0, 0xE0, 2, 0x800}, {0xF8, 0xF0, 3, 0x10000}};
    const Form* form = nullptr;
    for (const Form& candidate : kForms) {
        if ((lead & candidate.mask) == candidate.lead) form = &candidate;
    }
    if (form == nullptr) return std::nullopt;
    const std::size_t more = form->more;
    char32_t value = lead & static_cast<unsigned char>(~form->mask);
    if (text.size() - position <= more) return std::nullopt;
    for (std::size_t i = 1; i <= more; ++i) {
        const auto next = static_cast<unsigned char>(text[position + i]);
        if ((next & 0xC0) != 0x80) return std::nullopt;
        value = (value << 6) | (next & 0x3F);
    }
    if (value < form->smallest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return std::nullopt;
    position += more + 1;
    return value;
}

void AppendUtf8(char32_t codePoint, std::string& out) {
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}
