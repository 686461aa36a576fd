// Feeds arbitrary bytes to what the list editor reads from outside: a list file, an import file in any
// encoding with its separator detection and line splitting, and send times. Nothing may crash, and the
// pieces must hold together.
// fuzz-sources: mailing/list_file.cpp mailing/list_charset.cpp mailing/text_codec.cpp mailing/send_time.cpp listedit/list_table.cpp listedit/import_text.cpp
// fuzz-packages: Qt6Core

#include "listedit/import_text.h"
#include "listedit/list_table.h"
#include "mailing/send_time.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    const ListContent list = ParseListFile(input);
    if (list.lines.size() > size) abort();

    const EditorText text = DecodeEditorFile(input);
    if (text.text.contains(QLatin1Char('\r'))) abort();
    const QStringList lines = EditorLines(text.text);
    const char separator = DetectSeparator(lines);
    if (separator != 0 && separator != ';' && separator != ',') abort();
    const std::vector<LineCells> rows = ImportRows(lines, separator == 0 ? ';' : separator);
    if (rows.size() != static_cast<size_t>(lines.size())) abort();
    for (size_t i = 0; i < rows.size(); ++i) {
        if (!rows[i]) continue;
        qsizetype total = 0;
        for (const QString& field : *rows[i]) total += field.size();
        // The fields are pieces of their line (replacement characters aside).
        if (total > lines[static_cast<qsizetype>(i)].size()) abort();
    }
    // What the editor saves it reads back as the same text.
    const std::string saved = EncodeEditorFile(text.text, text.encoding);
    if (text.encoding != TextEncoding::LocalLegacy && DecodeEditorFile(saved).text != text.text) abort();

    if (const auto time = ParseSendTime(input)) {
        if (!time->date.isValid() || !time->time.isValid()) abort();
    }
    return 0;
}
