#include "transport/iso2022jp.h"

#include <iconv.h>

#include <array>
#include <cstdint>

#include "transport/id_exception.h"

namespace {

constexpr std::string_view kToJis = "\x1b$B";
constexpr std::string_view kToAscii = "\x1b(B";

// JIS X 0208 codes of the full-width forms of the half-width katakana 0xA1 to 0xDF, in order.
constexpr std::array<std::uint16_t, 63> kFullWidthKana = {
    0x2123, 0x2156, 0x2157, 0x2122, 0x2126, 0x2572, 0x2521, 0x2523,  // A1-A8: 。「」、・ヲァィ
    0x2525, 0x2527, 0x2529, 0x2563, 0x2565, 0x2567, 0x2543, 0x213C,  // A9-B0: ゥェォャュョッー
    0x2522, 0x2524, 0x2526, 0x2528, 0x252A, 0x252B, 0x252D, 0x252F,  // B1-B8: アイウエオカキク
    0x2531, 0x2533, 0x2535, 0x2537, 0x2539, 0x253B, 0x253D, 0x253F,  // B9-C0: ケコサシスセソタ
    0x2541, 0x2544, 0x2546, 0x2548, 0x254A, 0x254B, 0x254C, 0x254D,  // C1-C8: チツテトナニヌネ
    0x254E, 0x254F, 0x2552, 0x2555, 0x2558, 0x255B, 0x255E, 0x255F,  // C9-D0: ノハヒフヘホマミ
    0x2560, 0x2561, 0x2562, 0x2564, 0x2566, 0x2568, 0x2569, 0x256A,  // D1-D8: ムメモヤユヨラリ
    0x256B, 0x256C, 0x256D, 0x256F, 0x2573, 0x212B, 0x212C,          // D9-DF: ルレロワン゛゜
};

constexpr unsigned char kVoicedMark = 0xDE;
constexpr unsigned char kSemiVoicedMark = 0xDF;

bool IsHalfWidthKana(unsigned char c) { return c >= 0xA1 && c <= 0xDF; }
bool IsLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }
bool IsTrailByte(unsigned char c) { return c >= 0x40 && c <= 0xFC && c != 0x7F; }

// The combined full-width character of a half-width kana and a following mark, or 0 when JIS X 0208
// has none (then the kana and the mark are written one after the other).
std::uint16_t CombinedKana(unsigned char kana, unsigned char mark) {
    if (mark == kVoicedMark) {
        if (kana == 0xB3) return 0x2574;  // ウ + ゛ = ヴ
        // カ to ト (B6-C4): the voiced form follows each base character directly in JIS X 0208.
        if (kana >= 0xB6 && kana <= 0xC4) return kFullWidthKana[kana - 0xA1] + 1;
    }
    // ハ to ホ (CA-CE): base, voiced, semi-voiced stand in a row.
    if (kana >= 0xCA && kana <= 0xCE) {
        if (mark == kVoicedMark) return kFullWidthKana[kana - 0xA1] + 1;
        if (mark == kSemiVoicedMark) return kFullWidthKana[kana - 0xA1] + 2;
    }
    return 0;
}

// Looks Shift_JIS pairs up with glibc's converter, one character at a time, so that a pair without
// a JIS X 0208 code can be dropped alone.
class ShiftJisToJis {
public:
    ShiftJisToJis() : cd_(iconv_open("ISO-2022-JP", "SHIFT_JIS")) {
        if (cd_ == reinterpret_cast<iconv_t>(-1)) {
            throw EIdException("Zeichensatzumwandlung Shift_JIS nach ISO-2022-JP nicht verfügbar");
        }
    }
    ~ShiftJisToJis() { iconv_close(cd_); }
    ShiftJisToJis(const ShiftJisToJis&) = delete;
    ShiftJisToJis& operator=(const ShiftJisToJis&) = delete;

    // The JIS X 0208 code of the pair, or 0 when it has none.
    std::uint16_t Lookup(unsigned char lead, unsigned char trail) {
        char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
        char out[16];
        char* inPtr = in;
        char* outPtr = out;
        std::size_t inLeft = 2;
        std::size_t outLeft = sizeof out;
        std::size_t done = iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft);
        // The flush call ends the run with ESC "(B" and resets the converter for the next pair.
        std::size_t flushed = iconv(cd_, nullptr, nullptr, &outPtr, &outLeft);
        if (done == static_cast<std::size_t>(-1) || flushed == static_cast<std::size_t>(-1)) {
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
            return 0;
        }
        std::string_view result(out, static_cast<std::size_t>(outPtr - out));
        // Only a plain JIS X 0208 character counts: ESC "$B", two code bytes, ESC "(B".
        if (result.size() != 8 || result.substr(0, 3) != kToJis || result.substr(5) != kToAscii) return 0;
        return static_cast<std::uint16_t>((static_cast<unsigned char>(result[3]) << 8) |
                                          static_cast<unsigned char>(result[4]));
    }

private:
    iconv_t cd_;
};

class JisWriter {
public:
    void Ascii(char c) {
        if (inJis_) out_ += kToAscii;
        inJis_ = false;
        out_ += c;
    }
    void Jis(std::uint16_t code) {
        if (!inJis_) out_ += kToJis;
        inJis_ = true;
        out_ += static_cast<char>(code >> 8);
        out_ += static_cast<char>(code & 0xFF);
    }
    std::string Finish() {
        if (inJis_) out_ += kToAscii;
        inJis_ = false;
        return std::move(out_);
    }

private:
    std::string out_;
    bool inJis_ = false;
};

}  // namespace

std::string ConvertToISO2022JP(std::string_view shiftJis) {
    ShiftJisToJis table;
    JisWriter writer;
    std::size_t i = 0;
    while (i < shiftJis.size()) {
        auto c = static_cast<unsigned char>(shiftJis[i]);
        if (c < 0x80) {
            writer.Ascii(static_cast<char>(c));
            i += 1;
        } else if (IsHalfWidthKana(c)) {
            auto next = i + 1 < shiftJis.size() ? static_cast<unsigned char>(shiftJis[i + 1]) : 0;
            std::uint16_t combined = CombinedKana(c, next);
            writer.Jis(combined != 0 ? combined : kFullWidthKana[c - 0xA1]);
            i += combined != 0 ? 2 : 1;
        } else if (IsLeadByte(c) && i + 1 < shiftJis.size() &&
                   IsTrailByte(static_cast<unsigned char>(shiftJis[i + 1]))) {
            std::uint16_t code = table.Lookup(c, static_cast<unsigned char>(shiftJis[i + 1]));
            if (code != 0) writer.Jis(code);
            i += 2;
        } else {
            i += 1;  // a byte of 128 or above that starts no character
        }
    }
    return writer.Finish();
}
