#include "mailing/options_file.h"

#include "mailing/data_folder.h"
#include "mailing/file_io.h"

OptionsFile::OptionsFile(std::string dataFolder) : dataFolder_(std::move(dataFolder)) {}

std::string OptionsFile::Path() const { return DataFilePath(dataFolder_, kOptionsFileName); }

SendOptions OptionsFile::Load() {
    unknownLines_.clear();
    note_.clear();
    const std::string path = Path();
    if (!PathExists(path)) return {};
    ParsedOptions parsed;
    try {
        parsed = ParseOptionsText(ReadWholeFile(path));
    } catch (const EFileError& error) {
        note_ = std::string("Die Versandoptionen konnten nicht gelesen werden, es gelten die Voreinstellungen: ") +
                error.what();
        return {};
    }
    if (parsed.damagedLine > 0) {
        note_ = "Die Versandoptionen in \"" + path + "\" sind beschädigt (Zeile " + std::to_string(parsed.damagedLine) +
                "), es gelten die Voreinstellungen.";
        return {};
    }
    unknownLines_ = std::move(parsed.unknownLines);
    return parsed.options;
}

void OptionsFile::Save(const SendOptions& options) const {
    // Owner only, like the settings: the file tells how the account may be used.
    WriteFileAtomic(Path(), FormatOptionsText(options, unknownLines_), 0600, /*forceMode=*/true);
}
