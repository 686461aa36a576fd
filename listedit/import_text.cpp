#include "listedit/import_text.h"

#include "mailing/list_file.h"
#include "mailing/text_codec.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>

namespace {

constexpr std::string_view kBomUtf8 = "\xEF\xBB\xBF";
constexpr std::string_view kBomUtf16LE = "\xFF\xFE";
constexpr std::string_view kBomUtf16BE = "\xFE\xFF";

// How many of the first lines decide the separator.
constexpr qsizetype kSeparatorProbeLines = 4;

QString DecodeWith(QStringConverter::Encoding encoding, std::string_view bytes) {
    // The mark itself has been taken off; a second one belongs to the text.
    QStringDecoder decoder(encoding, QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    return decoder.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

std::string EncodeWith(QStringConverter::Encoding encoding, const QString& text) {
    QStringEncoder encoder(encoding, QStringConverter::Flag::Stateless);
    const QByteArray bytes = encoder.encode(text);
    return bytes.toStdString();
}

QString NormalizeBreaks(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

}  // namespace

EditorText DecodeEditorFile(std::string_view bytes) {
    EditorText result;
    if (bytes.starts_with(kBomUtf8)) {
        result.encoding = TextEncoding::Utf8Bom;
        result.text = DecodeWith(QStringConverter::Utf8, bytes.substr(kBomUtf8.size()));
    } else if (bytes.starts_with(kBomUtf16LE)) {
        result.encoding = TextEncoding::Utf16LE;
        result.text = DecodeWith(QStringConverter::Utf16LE, bytes.substr(kBomUtf16LE.size()));
    } else if (bytes.starts_with(kBomUtf16BE)) {
        result.encoding = TextEncoding::Utf16BE;
        result.text = DecodeWith(QStringConverter::Utf16BE, bytes.substr(kBomUtf16BE.size()));
    } else {
        DecodedText local = DecodeLocalTextByLine(bytes);
        result.encoding = local.legacy ? TextEncoding::LocalLegacy : TextEncoding::Local;
        result.text = std::move(local.text);
    }
    result.text = NormalizeBreaks(std::move(result.text));
    return result;
}

std::string EncodeEditorFile(const QString& text, TextEncoding encoding) {
    QString crlf = text;
    crlf.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    switch (encoding) {
        case TextEncoding::Utf8Bom: return std::string(kBomUtf8) + EncodeWith(QStringConverter::Utf8, crlf);
        case TextEncoding::Utf16LE: return std::string(kBomUtf16LE) + EncodeWith(QStringConverter::Utf16LE, crlf);
        case TextEncoding::Utf16BE: return std::string(kBomUtf16BE) + EncodeWith(QStringConverter::Utf16BE, crlf);
        case TextEncoding::LocalLegacy: return EncodeLocalText(crlf, true);
        case TextEncoding::Local: break;
    }
    return EncodeLocalText(crlf, false);
}

QStringList EditorLines(const QString& text) {
    if (text.isEmpty()) return {};
    QStringList lines = text.split(QLatin1Char('\n'));
    if (text.endsWith(QLatin1Char('\n'))) lines.removeLast();
    return lines;
}

char DetectSeparator(const QStringList& lines) {
    const qsizetype probe = std::min(lines.size(), kSeparatorProbeLines);
    for (qsizetype i = 0; i < probe; ++i) {
        if (lines[i].contains(QLatin1Char(';'))) return ';';
    }
    for (qsizetype i = 0; i < probe; ++i) {
        if (lines[i].contains(QLatin1Char(','))) return ',';
    }
    return 0;
}

ImportFields SplitImportLine(const QString& line, char separator) {
    // The locale's charset is UTF-8, so the line goes through the list splitter and back unchanged.
    const RecipientRecord record = SplitSeparatedLine(ToLocal(line), separator);
    ImportFields fields;
    for (int k = 1; k <= RecipientRecord::kFieldCount; ++k) fields[static_cast<size_t>(k)] = FromLocal(record.Field(k));
    return fields;
}

std::vector<LineCells> ImportRows(const QStringList& lines, char separator) {
    std::vector<LineCells> rows;
    rows.reserve(static_cast<size_t>(lines.size()));
    for (const QString& line : lines) {
        if (IsBlankLine(ToLocal(line))) {
            rows.emplace_back();
            continue;
        }
        // Field k goes to column k; column 0, the number, stays empty.
        rows.emplace_back(SplitImportLine(line, separator));
    }
    return rows;
}

std::optional<size_t> HeadingRow(const std::vector<LineCells>& rows) {
    const auto hasAddress = [](const LineCells& row) { return row && (*row)[3].contains(QLatin1Char('@')); };
    const auto first = std::find_if(rows.begin(), rows.end(), [](const LineCells& row) { return row.has_value(); });
    if (first == rows.end() || hasAddress(*first)) return std::nullopt;
    if (std::none_of(first + 1, rows.end(), hasAddress)) return std::nullopt;
    return static_cast<size_t>(first - rows.begin());
}
