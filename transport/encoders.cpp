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
    AppendEncoded(bytes, out);
    return out;
}

void TIdEncoder3to4::AppendEncoded(std::string_view bytes, std::string& out) const {
    const std::size_t start = out.size();
    out.resize(start + (bytes.size() + 2) / 3 * 4);
    char* to = out.data() + start;
    const char* table = codingTable_.data();
    const auto* from = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const unsigned b0 = from[i], b1 = from[i + 1], b2 = from[i + 2];
        to[0] = table[b0 >> 2];
        to[1] = table[((b0 & 0x03) << 4) | (b1 >> 4)];
        to[2] = table[((b1 & 0x0F) << 2) | (b2 >> 6)];
        to[3] = table[b2 & 0x3F];
        to += 4;
    }
    const std::size_t rest = bytes.size() - i;
    if (rest == 0) return;
    const unsigned b0 = from[i];
    const unsigned b1 = rest == 2 ? from[i + 1] : 0;
    to[0] = table[b0 >> 2];
    to[1] = table[((b0 & 0x03) << 4) | (b1 >> 4)];
    to[2] = rest == 2 ? table[(b1 & 0x0F) << 2] : fillChar_;
    to[3] = fillChar_;
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

namespace {

// Printable ASCII but "=": the bytes quoted-printable writes as themselves.
bool IsQuotedPrintableLiteral(unsigned char byte) { return byte >= 33 && byte <= 126 && byte != '='; }

// Encodes `bytes`, the output line so far being `column` characters long. `next` is the byte that follows
// the piece (or EOF): a blank at the end of the piece is encoded when a line break follows it.
void EncodeQuotedPrintablePiece(std::string_view bytes, int next, std::size_t& column, std::string& out) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        auto byte = static_cast<unsigned char>(bytes[i]);
        if (IsQuotedPrintableLiteral(byte)) {
            // A run of characters that stand for themselves goes over in one piece, up to the soft break.
            std::size_t end = i + 1;
            const std::size_t room = kQuotedPrintableMaxColumn + 1 - column;
            while (end < bytes.size() && end - i < room && IsQuotedPrintableLiteral(static_cast<unsigned char>(bytes[end]))) {
                ++end;
            }
            out.append(bytes, i, end - i);
            column += end - i;
            i = end - 1;
        } else if (byte == '\r' || byte == '\n') {
            out += static_cast<char>(byte);
            if (byte == '\n') column = 0;
        } else if (byte == ' ' || byte == '\t') {
            // A blank right before a line break must be encoded, or a mail relay may strip it.
            int following = i + 1 < bytes.size() ? static_cast<unsigned char>(bytes[i + 1]) : next;
            if (IsLineBreakByte(following)) {
                AppendHexEscape(out, byte);
                column += 3;
            } else {
                out += static_cast<char>(byte);
                column += 1;
            }
        } else {
            AppendHexEscape(out, byte);
            column += 3;
        }
        if (column > kQuotedPrintableMaxColumn) {
            out += "=\r\n";
            column = 0;
        }
    }
}

}  // namespace

std::string TIdEncoderQuotedPrintable::Encode(std::istream& source, std::size_t count) {
    std::string out;
    std::size_t column = 0;
    std::size_t left = count;
    std::vector<char> block(kQuotedPrintableBlock);
    while (left > 0) {
        std::size_t want = std::min(left, block.size());
        std::size_t got = ReadSome(source, block.data(), want);
        left = left == EncodeEverything ? left : left - got;
        // The byte after the block may lie in the following block.
        int next = left > 0 && got == want ? source.peek() : std::char_traits<char>::eof();
        EncodeQuotedPrintablePiece(std::string_view(block.data(), got), next, column, out);
        if (got < want) break;
    }
    return out;
}

void AppendQuotedPrintable(std::string_view text, std::string& out) {
    std::size_t column = 0;
    out.reserve(out.size() + text.size() + text.size() / 8);
    EncodeQuotedPrintablePiece(text, std::char_traits<char>::eof(), column, out);
}

std::string DecodeBase64Text(std::string_view text) {
    std::string out;
    uint32_t bits = 0;
    int count = 0;
    for (const char c : text) {
        int value = -1;
        if (c >= 'A' && c <= 'Z') value = c - 'A';
        else if (c >= 'a' && c <= 'z') value = c - 'a' + 26;
        else if (c >= '0' && c <= '9') value = c - '0' + 52;
        else if (c == '+') value = 62;
        else if (c == '/') value = 63;
        if (value < 0) continue;
        bits = (bits << 6) | static_cast<uint32_t>(value);
        if (++count == 4) {
            out += static_cast<char>((bits >> 16) & 0xFF);
            out += static_cast<char>((bits >> 8) & 0xFF);
            out += static_cast<char>(bits & 0xFF);
            bits = 0;
            count = 0;
        }
    }
    if (count == 3) {
        out += static_cast<char>((bits >> 10) & 0xFF);
        out += static_cast<char>((bits >> 2) & 0xFF);
    } else if (count == 2) {
        out += static_cast<char>((bits >> 4) & 0xFF);
    }
    return out;
}
