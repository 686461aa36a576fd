#pragma once
// The text of the import window: reading and writing its file by byte order mark, its lines, the
// separator it uses, and turning its lines into rows of the recipient table.

#include "listedit/grid_model.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The encoding a file was read in; the editor saves in the same.
enum class TextEncoding {
    Local,        // no byte order mark: the locale's charset (UTF-8); also a file whose lines mix it with Windows-1252
    LocalLegacy,  // no byte order mark, and every line that is not ASCII is Windows-1252
    Utf8Bom,
    Utf16LE,
    Utf16BE,
};

struct EditorText {
    QString text;  // lines separated by "\n"
    TextEncoding encoding = TextEncoding::Local;
};

// Decodes by byte order mark (UTF-16 little-endian, UTF-16 big-endian, UTF-8), else line by line in the
// locale's charset, a line that is not valid UTF-8 as Windows-1252. Line breaks of every kind become "\n".
EditorText DecodeEditorFile(std::string_view bytes);
// The editor's text as file bytes in `encoding`, with its byte order mark, lines ending in CR LF.
std::string EncodeEditorFile(const QString& text, TextEncoding encoding);

// The lines of the editor's text. A break after the last line does not start a further line, and an
// empty text has no lines.
QStringList EditorLines(const QString& text);

// ";" when one of the first four lines contains ";", else "," when one contains ",", else 0.
char DetectSeparator(const QStringList& lines);

// The seven fields of one line, numbered 1 to 7 (index 0 unused), split like a list line with
// `separator` in place of ";". Quotes have no meaning; fields are not trimmed.
using ImportFields = GridRow;
ImportFields SplitImportLine(const QString& line, char separator);

// One table row per line, fields 1 to 7 in columns 1 to 7; blank lines give nothing.
std::vector<LineCells> ImportRows(const QStringList& lines, char separator);

// The first row that is not blank, when it looks like a heading ("Name;Vorname;Email;..."): its address
// field (column 3) has no "@" while a later row's has one.
std::optional<size_t> HeadingRow(const std::vector<LineCells>& rows);
