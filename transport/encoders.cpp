#include "transport/encoders.h"

#include <algorithm>
#include <vector>

namespace {

constexpr std::string_view kBase64Table =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::string_view kUUETable =
    "`!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_";
constexpr std::string_view kXXETable =
    "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

// Quoted-printable reads its source in blocks of this size, so that a large text part is never read
// into memory at once.
constexpr std::size_t kQuotedPrintableBlock = 8192;
// A soft line break follows as soon as an output line holds more than this many characters; with the
// widest unit ("=XX") and the "=" of the break a line stays within RFC 2045's 76 characters.
constexpr std::size_t kQuotedPrintableMaxColumn = 71;

const char kHexDigits[] = "0123456789ABCDEF";

// Reads up to count bytes; a stream that only flags a read error (instead of throwing) must not pass
// a shortened source off as complete.
std::size_t ReadSome(std::istream& source, char* buffer, std::size_t count) {
    source.read(buffer, static_cast<std::streamsize>(count));
    if (source.bad()) throw EIdStreamReadError();
    return static_cast<std::size_t>(source.gcount());
}

std::string ReadAll(std::istream& source) {
    std::string all;
    std::vector<char> buffer(65536);
    for (;;) {
        std::size_t got = ReadSome(source, buffer.data(), buffer.size());
        all.append(buffer.data(), got);
        if (got < buffer.size()) return all;
    }
}

void AppendHexEscape(std::string& out, unsigned char byte) {
    out += '=';
    out += kHexDigits[byte >> 4];
    out += kHexDigits[byte & 0x0F];
}

bool IsLineBreakByte(int c) { return c == '\r' || c == '\n'; }

}  // namespace

EIdStreamReadError::EIdStreamReadError() : EIdException("Stream-Lesefehler") {}

TIdEncoder::~TIdEncoder() = default;

TIdEncoder3to4::TIdEncoder3to4(std::string_view codingTable, char fillChar)
    : codingTable_(codingTable), fillChar_(fillChar) {}

std::string TIdEncoder3to4::EncodeBytes(std::string_view bytes) const {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        auto b0 = static_cast<unsigned char>(bytes[i]);
        auto b1 = static_cast<unsigned char>(bytes[i + 1]);
        auto b2 = static_cast<unsigned char>(bytes[i + 2]);
        out += codingTable_[b0 >> 2];
        out += codingTable_[((b0 & 0x03) << 4) | (b1 >> 4)];
        out += codingTable_[((b1 & 0x0F) << 2) | (b2 >> 6)];
        out += codingTable_[b2 & 0x3F];
    }
    std::size_t rest = bytes.size() - i;
    if (rest == 0) return out;
    auto b0 = static_cast<unsigned char>(bytes[i]);
    auto b1 = rest == 2 ? static_cast<unsigned char>(bytes[i + 1]) : 0;
    out += codingTable_[b0 >> 2];
    out += codingTable_[((b0 & 0x03) << 4) | (b1 >> 4)];
    out += rest == 2 ? codingTable_[(b1 & 0x0F) << 2] : fillChar_;
    out += fillChar_;
    return out;
}

std::string TIdEncoder3to4::EncodeChunk(std::istream& source, std::size_t count) {
    if (count == EncodeEverything) return EncodeBytes(ReadAll(source));
    if (count % 3 != 0) throw EIdException("Ungleichmäßige Größe in Encode.");
    std::string bytes(count, '\0');
    bytes.resize(ReadSome(source, bytes.data(), count));
    return EncodeBytes(bytes);
}

std::string TIdEncoder3to4::Encode(std::istream& source, std::size_t count) {
    return EncodeChunk(source, count);
}

TIdEncoderMIME::TIdEncoderMIME() : TIdEncoder3to4(kBase64Table, '=') {}

// With the table's zero character as fill, a short final group comes out exactly as uuencode pads it
// (zero bits), so no separate padding rule is needed.
TIdEncoderUUE::TIdEncoderUUE() : TIdEncoder3to4(kUUETable, kUUETable[0]) {}

TIdEncoderXXE::TIdEncoderXXE() : TIdEncoder3to4(kXXETable, kXXETable[0]) {}

std::string TIdEncoderQuotedPrintable::Encode(std::istream& source, std::size_t count) {
    std::string out;
    std::size_t column = 0;
    std::size_t left = count;
    std::vector<char> block(kQuotedPrintableBlock);
    while (left > 0) {
        std::size_t want = std::min(left, block.size());
        std::size_t got = ReadSome(source, block.data(), want);
        left = left == EncodeEverything ? left : left - got;
        for (std::size_t i = 0; i < got; ++i) {
            auto byte = static_cast<unsigned char>(block[i]);
            if (byte == '\r' || byte == '\n') {
                out += static_cast<char>(byte);
                if (byte == '\n') column = 0;
                continue;
            }
            if (byte == ' ' || byte == '\t') {
                // A blank right before a line break must be encoded, or a mail relay may strip it.
                // The next byte may already lie in the following block.
                int next = i + 1 < got ? static_cast<unsigned char>(block[i + 1])
                                       : (left > 0 ? source.peek() : std::char_traits<char>::eof());
                if (IsLineBreakByte(next)) {
                    AppendHexEscape(out, byte);
                    column += 3;
                } else {
                    out += static_cast<char>(byte);
                    column += 1;
                }
            } else if (byte >= 33 && byte <= 126 && byte != '=') {
                out += static_cast<char>(byte);
                column += 1;
            } else {
                AppendHexEscape(out, byte);
                column += 3;
            }
            if (column > kQuotedPrintableMaxColumn) {
                out += "=\r\n";
                column = 0;
            }
        }
        if (got < want) break;
    }
    return out;
}
