#include "mailing/settings_text.h"

#include "mailing/list_file.h"

#include <algorithm>
#include <cmath>

namespace {

std::string Shift(std::string_view key, std::string_view text, int direction) {
    std::string out(text);
    if (key.empty()) return out;
    for (size_t j = 0; j < out.size(); ++j) {
        const int keyByte = static_cast<unsigned char>(key[j % key.size()]);
        const int byte = static_cast<unsigned char>(out[j]);
        out[j] = static_cast<char>((byte + direction * keyByte + 256) % 256);
    }
    return out;
}

// Removes every occurrence of `pattern` from `text`, letters compared without regard to case.
std::string RemoveAllIgnoringCase(std::string_view text, std::string_view pattern) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        bool match = i + pattern.size() <= text.size();
        for (size_t p = 0; match && p < pattern.size(); ++p) match = lower(text[i + p]) == lower(pattern[p]);
        if (match) {
            i += pattern.size();
        } else {
            out += text[i++];
        }
    }
    return out;
}

std::string RemoveAll(std::string_view text, char c) {
    std::string out;
    out.reserve(text.size());
    for (char ch : text)
        if (ch != c) out += ch;
    return out;
}

// The enciphered forms of LF, CR, LF at key positions 2, 3 and 4: what an empty line between two line
// breaks leaves behind in enciphered text.
std::string EncipheredBreakMarker() {
    return {static_cast<char>(kSettingsKey[1] + '\n'), static_cast<char>(kSettingsKey[2] + '\r'),
            static_cast<char>(kSettingsKey[3] + '\n')};
}

}  // namespace

std::string SettingsCipher::Encipher(std::string_view key, std::string_view text) { return Shift(key, text, +1); }
std::string SettingsCipher::Decipher(std::string_view key, std::string_view text) { return Shift(key, text, -1); }

namespace {

struct ReducedCount {
    size_t length = 0;     // N: length of the reduced text
    size_t printable = 0;  // P: its characters with codes 33 to 126
};

// Line breaks, tabs, the marker and blanks removed; what is left is counted.
ReducedCount CountReduced(std::string_view text) {
    std::string reduced = RemoveAllIgnoringCase(text, "\r\n");
    reduced = RemoveAll(reduced, '\t');
    reduced = RemoveAllIgnoringCase(reduced, EncipheredBreakMarker());
    reduced = RemoveAll(reduced, ' ');
    ReducedCount count{reduced.size(), 0};
    for (unsigned char c : reduced)
        if (c >= 33 && c <= 126) ++count.printable;
    return count;
}

bool IsEncipheredCount(const ReducedCount& count) {
    if (count.printable == 0) return true;
    // Half the length, halves rounded to the even neighbour.
    const double half = std::nearbyint(static_cast<double>(count.length) / 2.0);
    return static_cast<double>(count.printable) < half;
}

// 'x' plus any key byte lies above 127: never printable, never a blank, tab, line break or marker.
constexpr char kFillerByte = 'x';

}  // namespace

bool LooksEnciphered(std::string_view text) { return IsEncipheredCount(CountReduced(text)); }

std::string PlainSettingsContent(const AccountSettings& values, const ReservedLines& reserved) {
    std::string plain;
    for (const std::string* line : {&values.host, &values.user, &values.password, &values.port, &values.user,
                                    &reserved[0], &reserved[1], &reserved[2]}) {
        plain += *line;
        plain += "\r\n";
    }
    return plain;
}

AccountSettings ParseSettingsText(std::string_view plain, ReservedLines& reserved) {
    const TextLines text = SplitTextLines(plain);
    auto line = [&](size_t number) -> std::string {
        return number <= text.lines.size() ? text.lines[number - 1] : std::string();
    };
    // Line 5 repeats the mail address and is rewritten from it on every save.
    reserved = {line(6), line(7), line(8)};
    return {line(1), line(2), line(3), line(4)};
}

AccountSettings DecodeSettingsFile(std::string_view stored, ReservedLines& reserved) {
    if (LooksEnciphered(stored)) return ParseSettingsText(SettingsCipher::Decipher(kSettingsKey, stored), reserved);
    return ParseSettingsText(stored, reserved);
}

std::string EncodeSettingsFile(const AccountSettings& values, const ReservedLines& reserved) {
    std::string plain = PlainSettingsContent(values, reserved);
    // Short values leave the enciphered line breaks in the majority, and some of those are printable:
    // such a file would be taken for a plain one on the next start and every value would come back as
    // garbage. Readers ignore everything after line 8, so a filler there, whose enciphered bytes are all
    // above 127, tips the balance without changing a value. Each filler byte adds one non-printable byte.
    const ReducedCount count = CountReduced(SettingsCipher::Encipher(kSettingsKey, plain));
    if (!IsEncipheredCount(count)) {
        const size_t filler = 2 * count.printable + 2 - std::min(count.length, 2 * count.printable + 2);
        plain.append(filler, kFillerByte);
    }
    return SettingsCipher::Encipher(kSettingsKey, plain);
}
