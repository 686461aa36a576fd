#pragma once
// The boundary between the bytes of files and the text of widgets. Files are in the locale's charset
// (UTF-8 on every current system). Bytes that are not valid UTF-8, such as a Windows-1252 list brought
// over from Windows, are shown as Windows-1252 rather than as replacement characters, and text read that
// way is written back the same way, so no byte is lost on a round trip.

#include <QString>

#include <string>
#include <string_view>

struct DecodedText {
    QString text;
    bool legacy = false;  // decoded as Windows-1252
};

DecodedText DecodeLocalText(std::string_view bytes);
// Decodes line by line: a line that is valid UTF-8 is UTF-8, another is Windows-1252, so one stray byte
// does not turn the umlauts of every other line into "Ã¼". `legacy` is set when some line needed
// Windows-1252 and none holds UTF-8 beyond ASCII: such a text is written back as Windows-1252, byte for
// byte; a text of both kinds can only be written back whole as UTF-8.
DecodedText DecodeLocalTextByLine(std::string_view bytes);
// Decodes in a charset chosen before: Windows-1252 when `legacy`, else UTF-8. Used for the pieces of a
// file whose charset was decided for the file as a whole.
QString DecodeLocalTextAs(std::string_view bytes, bool legacy);
// Encodes as UTF-8, or as Windows-1252 when `legacy` (characters it lacks become "?").
std::string EncodeLocalText(const QString& text, bool legacy = false);
// Written as Windows-1252 and read back as the program reads files, the text comes back the same: no
// character is missing there, and the bytes do not happen to read as UTF-8 of other text.
bool Windows1252Holds(const QString& text);

// Shorthands for text that needs no memory of its charset (paths, short field values).
inline QString FromLocal(std::string_view bytes) { return DecodeLocalText(bytes).text; }
inline std::string ToLocal(const QString& text) { return EncodeLocalText(text); }

// A text file for a multi-line field: lines split at CR LF, CR or LF and joined with "\n"; a break after
// the last line does not add an empty line.
DecodedText FileTextToField(std::string_view bytes);
// A multi-line field for a text file: every line followed by CR LF, as the program writes text files.
std::string FieldTextToFile(const QString& text, bool legacy = false);
