// The run journal: arbitrary bytes to its parser, and journals made of any list's own lines applied to
// that list. Applying may change field 6 only, gives each line to one record at most, and a second
// application of the same journal changes nothing (a resume after another crash applies it again).
// fuzz-sources: mailing/run_journal.cpp mailing/copy_spool.cpp mailing/list_file.cpp mailing/file_io.cpp

#include "mailing/run_journal.h"

#include <cstdint>
#include <cstdlib>
#include <set>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    ParseJournal(input);

    // Before the first NUL: the list. After it: one record per byte, naming a line, a kind and a time.
    const size_t split = std::min(input.find('\0'), input.size());
    TextLines lines = SplitTextLines(input.substr(0, split));
    if (lines.lines.empty()) return 0;
    JournalContent journal{true, false, {}, {}};
    for (unsigned char byte : input.substr(std::min(split + 1, input.size()))) {
        const size_t index = (byte >> 2) % lines.lines.size();
        RecipientRecord record = SplitListLine(lines.lines[index]);
        record.Result = (byte & 2) ? "09.12.2026 10:00:00" : "09.12.2026 10:00:01";
        journal.records.push_back({(byte & 1) ? 'K' : 'L', index, JoinFieldsUntrimmed(record)});
    }
    const TextLines before = lines;
    const JournalMatch first = ApplyJournal(journal, lines);
    if (lines.lines.size() != before.lines.size()) abort();
    for (size_t i = 0; i < lines.lines.size(); ++i) {
        if (IsBlankLine(before.lines[i]) ? lines.lines[i] != before.lines[i]
                                         : LineIdentity(lines.lines[i]) != LineIdentity(before.lines[i]))
            abort();
    }
    const std::vector<size_t> found = first.Lines();
    if (std::set<size_t>(found.begin(), found.end()).size() != found.size()) abort();
    if (found.size() + static_cast<size_t>(first.Dropped()) != journal.records.size()) abort();
    const TextLines once = lines;
    if (ApplyJournal(journal, lines).written != 0 || lines != once) abort();
    return 0;
}
