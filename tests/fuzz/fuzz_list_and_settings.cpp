// Feeds arbitrary bytes to the recipient list's line splitter, the settings file's decoder and the
// options file's reader: none may crash, and what they give back must hold together.
// fuzz-sources: mailing/list_file.cpp mailing/settings_text.cpp mailing/send_options.cpp

#include "mailing/list_file.h"
#include "mailing/send_options.h"
#include "mailing/settings_text.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    const TextLines text = SplitTextLines(input);
    size_t total = 0;
    for (const auto& line : text.lines) {
        const RecipientRecord record = SplitListLine(line);
        // Fields come from the line: together they are never longer than it.
        for (int k = 1; k <= RecipientRecord::kFieldCount; ++k) total += record.Field(k).size();
        if (total > input.size()) abort();
        total = 0;
        const std::string joined = JoinListLine(record);
        if (!joined.empty() && SplitListLine(joined).FirstName != Trim(record.FirstName)) abort();
    }

    ReservedLines reserved;
    const AccountSettings values = DecodeSettingsFile(input, reserved);
    // What is saved loads back to the same values, whatever they hold, unless a value holds a line break.
    const std::string stored = EncodeSettingsFile(values, reserved);
    ReservedLines again;
    if (DecodeSettingsFile(stored, again) != values) abort();

    // Options that were understood are written so that they read back the same.
    const ParsedOptions options = ParseOptionsText(input);
    if (options.damagedLine == 0) {
        const ParsedOptions back = ParseOptionsText(FormatOptionsText(options.options, options.unknownLines));
        if (back.damagedLine != 0 || !(back.options == options.options) || back.unknownLines != options.unknownLines) {
            abort();
        }
    }
    return 0;
}
