#include "transport/header_words.h"

#include <array>
#include <vector>

#include "transport/byte_text.h"
#include "transport/encoders.h"
#include "transport/iso2022jp.h"

namespace {

constexpr std::string_view kJisToAscii = "\x1b(B";
constexpr std::string_view kWordSeparator = "\r\n\t";

bool IsHeaderWhitespace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// How a charset groups bytes into characters; breaks between encoded words fall only between them.
enum class CharsetKind { SingleByte, Utf8, ShiftJis, DoubleByte, EucJp, Gb18030, Iso2022Jp };

CharsetKind KindOfCharset(std::string_view charset, TTransfer transfer) {
    if (transfer == TTransfer::iso2022jp) return CharsetKind::Iso2022Jp;
    std::string name;
    for (char c : UpperCaseAscii(charset)) {
        if (c != '-' && c != '_') name += c;
    }
    if (name == "UTF8") return CharsetKind::Utf8;
    if (name == "ISO2022JP") return CharsetKind::Iso2022Jp;
    if (name == "SHIFTJIS" || name == "SJIS" || name == "CP932" || name == "WINDOWS31J" || name == "MSKANJI") {
        return CharsetKind::ShiftJis;
    }
    if (name == "EUCJP") return CharsetKind::EucJp;
    if (name == "GB18030") return CharsetKind::Gb18030;
    for (std::string_view dbcs : {"GB2312", "GBK", "CP936", "EUCCN", "BIG5", "BIG5HKSCS", "CP950", "EUCKR",
                                  "CP949", "UHC", "KSC5601"}) {
        if (name == dbcs) return CharsetKind::DoubleByte;
    }
    return CharsetKind::SingleByte;
}

bool InRange(std::string_view s, std::size_t i, unsigned lo, unsigned hi) {
    if (i >= s.size()) return false;
    auto c = static_cast<unsigned char>(s[i]);
    return c >= lo && c <= hi;
}

// The length of the character that starts at i. Malformed bytes count as characters of their own.
std::size_t CharacterLength(CharsetKind kind, std::string_view s, std::size_t i) {
    auto c = static_cast<unsigned char>(s[i]);
    switch (kind) {
    case CharsetKind::Utf8: {
        std::size_t length = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c <= 0xDF ? 2 : 1;
        if (c > 0xF4) length = 1;
        for (std::size_t k = 1; k < length; ++k) {
            if (!InRange(s, i + k, 0x80, 0xBF)) return 1;
        }
        return length;
    }
    case CharsetKind::ShiftJis:
        if (((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) && InRange(s, i + 1, 0x40, 0xFC)) return 2;
        return 1;
    case CharsetKind::DoubleByte:
        return c >= 0x81 && c <= 0xFE && InRange(s, i + 1, 0x40, 0xFE) ? 2 : 1;
    case CharsetKind::EucJp:
        if (c == 0x8F && InRange(s, i + 1, 0xA1, 0xFE) && InRange(s, i + 2, 0xA1, 0xFE)) return 3;
        if (c == 0x8E && InRange(s, i + 1, 0xA1, 0xDF)) return 2;
        return c >= 0xA1 && c <= 0xFE && InRange(s, i + 1, 0xA1, 0xFE) ? 2 : 1;
    case CharsetKind::Gb18030:
        if (c >= 0x81 && c <= 0xFE && InRange(s, i + 1, 0x30, 0x39) && InRange(s, i + 2, 0x81, 0xFE) &&
            InRange(s, i + 3, 0x30, 0x39)) {
            return 4;
        }
        return c >= 0x81 && c <= 0xFE && InRange(s, i + 1, 0x40, 0xFE) ? 2 : 1;
    case CharsetKind::SingleByte:
    case CharsetKind::Iso2022Jp:
        break;
    }
    return 1;
}

// One character of a stretch with the escape sequences in front of it (ISO-2022-JP only), and whether
// the text is in the double-byte state before and after it.
struct Unit {
    std::string_view bytes;
    bool jisBefore = false;
    bool jisAfter = false;
};

bool IsJisEscape(std::string_view s, std::size_t i) {
    return i + 2 < s.size() && s[i] == '\x1b' && (s[i + 1] == '$' || s[i + 1] == '(');
}

std::vector<Unit> SplitIntoUnits(CharsetKind kind, std::string_view s) {
    std::vector<Unit> units;
    bool jis = false;
    std::size_t i = 0;
    while (i < s.size()) {
        Unit unit;
        unit.jisBefore = jis;
        std::size_t start = i;
        if (kind == CharsetKind::Iso2022Jp) {
            // An escape sequence belongs to the character after it, so that no word ends in a switch.
            // A second escape right after it starts a unit of its own, which keeps units short.
            if (IsJisEscape(s, i)) {
                jis = s[i + 1] == '$';
                i += 3;
            }
            if (i < s.size() && !IsJisEscape(s, i)) i += (jis && i + 1 < s.size()) ? 2 : 1;
        } else {
            i += CharacterLength(kind, s, i);
        }
        unit.bytes = s.substr(start, i - start);
        unit.jisAfter = jis;
        units.push_back(unit);
    }
    return units;
}

class StretchEncoder {
public:
    StretchEncoder(std::string_view charset, char letter, const std::array<bool, 256>& quoteSet)
        : opening_("=?" + std::string(charset) + "?" + letter + "?"),
          qEncoding_(letter == 'Q' || letter == 'q'),
          quoteSet_(quoteSet) {}

    std::string Encode(CharsetKind kind, std::string_view stretch) {
        std::string out;
        std::string raw;
        // The ISO-2022-JP sequence that last switched to the double-byte state, repeated at the start
        // of a word that begins inside such a run.
        std::string jisOpening = "\x1b$B";
        for (const Unit& unit : SplitIntoUnits(kind, stretch)) {
            if (unit.bytes.size() >= 3 && unit.bytes[0] == '\x1b' && unit.bytes[1] == '$') {
                jisOpening = std::string(unit.bytes.substr(0, 3));
            }
            std::string candidate = raw + std::string(unit.bytes);
            if (!raw.empty() && !Fits(candidate, unit.jisAfter)) {
                if (unit.jisBefore) raw += kJisToAscii;
                out += EncodedWord(raw);
                out += kWordSeparator;
                raw = unit.jisBefore && unit.bytes[0] != '\x1b' ? jisOpening : std::string();
                candidate = raw + std::string(unit.bytes);
            }
            raw = std::move(candidate);
        }
        out += EncodedWord(raw);
        return out;
    }

private:
    std::size_t EncodedLength(std::string_view raw) const {
        if (!qEncoding_) return (raw.size() + 2) / 3 * 4;
        std::size_t length = 0;
        for (char c : raw) length += c != ' ' && quoteSet_[static_cast<unsigned char>(c)] ? 3 : 1;
        return length;
    }

    bool Fits(std::string_view raw, bool needsJisClose) const {
        std::size_t length = opening_.size() + EncodedLength(raw) + 2;
        if (needsJisClose) length += EncodedLengthOfClose(raw);
        return length <= MaxEncodedWordLength;
    }

    // The extra length of ESC "(B" at the end of a word of these bytes.
    std::size_t EncodedLengthOfClose(std::string_view raw) const {
        std::string closed = std::string(raw) + std::string(kJisToAscii);
        return EncodedLength(closed) - EncodedLength(raw);
    }

    std::string EncodedWord(std::string_view raw) const {
        std::string word = opening_;
        if (qEncoding_) {
            static const char kHex[] = "0123456789ABCDEF";
            for (char c : raw) {
                auto byte = static_cast<unsigned char>(c);
                if (c == ' ') {
                    word += '_';
                } else if (quoteSet_[byte]) {
                    word += '=';
                    word += kHex[byte >> 4];
                    word += kHex[byte & 0x0F];
                } else {
                    word += c;
                }
            }
        } else {
            word += TIdEncoderMIME().EncodeBytes(raw);
        }
        word += "?=";
        return word;
    }

    std::string opening_;
    bool qEncoding_;
    const std::array<bool, 256>& quoteSet_;
};

bool WordNeedsEncoding(std::string_view word, const std::array<bool, 256>& needsEncoding) {
    for (char c : word) {
        if (needsEncoding[static_cast<unsigned char>(c)]) return true;
    }
    return word.find("=?") != std::string_view::npos;
}

}  // namespace

std::string EncodeHeaderWords(std::string_view text, std::string_view extraSpecials, char letter,
                              TTransfer transfer, std::string_view charset) {
    std::string converted;
    if (transfer == TTransfer::iso2022jp) {
        converted = ConvertToISO2022JP(text);
        text = converted;
    }
    if (letter == '8') return std::string(text);

    std::array<bool, 256> needsEncoding{};
    for (int c = 0; c < 256; ++c) needsEncoding[c] = c < 32 || c >= 127;
    for (char c : extraSpecials) needsEncoding[static_cast<unsigned char>(c)] = true;
    std::array<bool, 256> quoteSet = needsEncoding;
    for (char c : std::string_view("=?_")) quoteSet[static_cast<unsigned char>(c)] = true;

    const CharsetKind kind = KindOfCharset(charset, transfer);
    StretchEncoder encoder(charset, letter, quoteSet);
    std::string out;
    constexpr std::size_t kNoStretch = std::string_view::npos;
    std::size_t stretchStart = kNoStretch;
    std::size_t i = 0;
    do {
        std::size_t spaceStart = i;
        while (i < text.size() && IsHeaderWhitespace(text[i])) ++i;
        std::size_t wordStart = i;
        while (i < text.size() && !IsHeaderWhitespace(text[i])) ++i;
        std::string_view word = text.substr(wordStart, i - wordStart);
        if (WordNeedsEncoding(word, needsEncoding)) {
            if (stretchStart == kNoStretch) {
                out += text.substr(spaceStart, wordStart - spaceStart);
                stretchStart = wordStart;
            }
            continue;
        }
        if (stretchStart != kNoStretch) {
            out += encoder.Encode(kind, text.substr(stretchStart, spaceStart - stretchStart));
            stretchStart = kNoStretch;
        }
        out += text.substr(spaceStart, i - spaceStart);
    } while (i < text.size());
    if (stretchStart != kNoStretch) out += encoder.Encode(kind, text.substr(stretchStart));
    return out;
}
