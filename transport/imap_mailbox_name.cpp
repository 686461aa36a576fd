#include "transport/imap_mailbox_name.h"

#include <optional>

#include "transport/imap_reply.h"
#include "transport/utf8_text.h"

EIdIMAPInvalidMailboxName::EIdIMAPInvalidMailboxName(std::string_view name)
    : EIdException("Der Ordnername „" + CleanIMAPText(name) +
                   "“ ist kein gültiger Text (UTF-8) und kann nicht an den IMAP-Server gehen.") {}

namespace {

constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";

bool StandsForItself(char32_t c) { return c >= 0x20 && c <= 0x7E; }

// The base64 run of UTF-16 code units, big-endian, without padding.
void AppendBase64Run(const std::u16string& units, std::string& out) {
    uint32_t bits = 0;
    int count = 0;
    for (char16_t unit : units) {
        bits = (bits << 16) | unit;
        count += 16;
        while (count >= 6) {
            count -= 6;
            out += kAlphabet[(bits >> count) & 0x3F];
        }
        bits &= (1u << count) - 1;
    }
    if (count > 0) out += kAlphabet[(bits << (6 - count)) & 0x3F];
}

// The characters of one base64 run; nothing when it is not a valid one.
std::optional<std::string> DecodeBase64Run(std::string_view run) {
    std::u16string units;
    uint32_t bits = 0;
    int count = 0;
    for (char c : run) {
        const std::size_t value = kAlphabet.find(c);
        if (value == std::string_view::npos) return std::nullopt;
        bits = (bits << 6) | static_cast<uint32_t>(value);
        count += 6;
        if (count >= 16) {
            count -= 16;
            units += static_cast<char16_t>((bits >> count) & 0xFFFF);
            bits &= (1u << count) - 1;
        }
    }
    // What is left is the padding of the last character: fewer than six bits, all zero.
    if (count >= 6 || bits != 0 || units.empty()) return std::nullopt;
    std::string out;
    for (std::size_t i = 0; i < units.size(); ++i) {
        char32_t c = units[i];
        if (c >= 0xDC00 && c <= 0xDFFF) return std::nullopt;
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 >= units.size() || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF) return std::nullopt;
            c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
        }
        if (c == 0) return std::nullopt;
        AppendUtf8(c, out);
    }
    return out;
}

}  // namespace

std::string EncodeMailboxName(std::string_view utf8) {
    std::string out;
    std::u16string pending;
    auto endRun = [&] {
        if (pending.empty()) return;
        out += '&';
        AppendBase64Run(pending, out);
        out += '-';
        pending.clear();
    };
    std::size_t position = 0;
    while (position < utf8.size()) {
        const std::optional<char32_t> c = ReadUtf8CodePoint(utf8, position);
        if (!c || *c == 0) throw EIdIMAPInvalidMailboxName(utf8);
        if (StandsForItself(*c)) {
            endRun();
            out += *c == '&' ? std::string("&-") : std::string(1, static_cast<char>(*c));
        } else if (*c >= 0x10000) {
            pending += static_cast<char16_t>(0xD800 + ((*c - 0x10000) >> 10));
            pending += static_cast<char16_t>(0xDC00 + ((*c - 0x10000) & 0x3FF));
        } else {
            pending += static_cast<char16_t>(*c);
        }
    }
    endRun();
    return out;
}

std::string DecodeMailboxName(std::string_view wire) {
    std::string out;
    std::size_t position = 0;
    while (position < wire.size()) {
        const char c = wire[position];
        if (!StandsForItself(static_cast<unsigned char>(c))) return std::string(wire);
        if (c != '&') {
            out += c;
            ++position;
            continue;
        }
        const std::size_t end = wire.find('-', position + 1);
        if (end == std::string_view::npos) return std::string(wire);
        const std::string_view run = wire.substr(position + 1, end - position - 1);
        if (run.empty()) {
            out += '&';
        } else {
            const std::optional<std::string> decoded = DecodeBase64Run(run);
            if (!decoded) return std::string(wire);
            out += *decoded;
        }
        position = end + 1;
    }
    return out;
}
