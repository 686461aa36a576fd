#include "mailing/text_codec.h"

#include <QStringDecoder>

#include <algorithm>
#include <array>

namespace {

// Windows-1252 differs from Latin-1 only in 0x80 to 0x9F; the five unassigned codes keep their
// Latin-1 control characters so that they survive a round trip.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

QString DecodeCp1252(std::string_view bytes) {
    QString text(static_cast<qsizetype>(bytes.size()), Qt::Uninitialized);
    QChar* out = text.data();
    for (unsigned char byte : bytes) {
        *out++ = (byte >= 0x80 && byte <= 0x9F) ? QChar(kCp1252High[byte - 0x80]) : QChar(byte);
    }
    return text;
}

char EncodeCp1252Char(char16_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
    for (size_t i = 0; i < kCp1252High.size(); ++i) {
        if (kCp1252High[i] == c) return static_cast<char>(0x80 + i);
    }
    return '?';
}

}  // namespace

DecodedText DecodeLocalText(std::string_view bytes) {
    // A byte order mark is kept as a character: the bytes of the file are shown as they are.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = utf8.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    if (!utf8.hasError()) return {text, false};
    return {DecodeCp1252(bytes), true};
}

DecodedText DecodeLocalTextByLine(std::string_view bytes) {
    DecodedText result;
    bool someUtf8 = false;
    bool someLegacy = false;
    // Line breaks are ASCII, so cutting after each CR or LF never splits a UTF-8 sequence.
    for (size_t start = 0; start < bytes.size();) {
        const size_t end = std::min(bytes.find_first_of("\r\n", start), bytes.size() - 1) + 1;
        const std::string_view line = bytes.substr(start, end - start);
        const DecodedText decoded = DecodeLocalText(line);
        result.text += decoded.text;
        if (decoded.legacy) {
            someLegacy = true;
        } else if (std::any_of(line.begin(), line.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
            someUtf8 = true;
        }
        start = end;
    }
    result.legacy = someLegacy && !someUtf8;
    return result;
}

QString DecodeLocalTextAs(std::string_view bytes, bool legacy) {
    if (legacy) return DecodeCp1252(bytes);
    // Not QString::fromUtf8: that drops a leading byte order mark, which must stay part of the text.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    return utf8.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

std::string EncodeLocalText(const QString& text, bool legacy) {
    if (!legacy) return text.toStdString();
    std::string bytes;
    bytes.reserve(static_cast<size_t>(text.size()));
    for (QChar c : text) bytes += EncodeCp1252Char(c.unicode());
    return bytes;
}

DecodedText FileTextToField(std::string_view bytes) {
    DecodedText decoded = DecodeLocalText(bytes);
    QString& text = decoded.text;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (text.endsWith(QLatin1Char('\n'))) text.chop(1);
    return decoded;
}

std::string FieldTextToFile(const QString& text, bool legacy) {
    if (text.isEmpty()) return {};
    QString lines = text;
    lines.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    lines += QStringLiteral("\r\n");
    return EncodeLocalText(lines, legacy);
}

bool Windows1252Holds(const QString& text) { return DecodeLocalText(EncodeLocalText(text, true)).text == text; }
