#include "mailing/server_text.h"

namespace {

bool IsContinuationByte(unsigned char c) { return (c & 0xC0) == 0x80; }

// The bytes a UTF-8 sequence takes that starts with `lead`; 1 for anything else.
size_t SequenceLength(unsigned char lead) {
    if ((lead & 0xE0) == 0xC0) return 2;
    if ((lead & 0xF0) == 0xE0) return 3;
    if ((lead & 0xF8) == 0xF0) return 4;
    return 1;
}

// Drops a character that the cut at the end left incomplete.
void DropCutCharacter(std::string& text) {
    size_t start = text.size();
    while (start > 0 && IsContinuationByte(static_cast<unsigned char>(text[start - 1]))) --start;
    if (start == 0) return;
    const size_t lead = start - 1;
    if (SequenceLength(static_cast<unsigned char>(text[lead])) > text.size() - lead) text.resize(lead);
}

}  // namespace

std::string ShownServerText(std::string_view text) {
    std::string shown;
    bool cut = false;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        // Line breaks and tabs become one blank; every other control character, ESC included, is dropped,
        // which leaves an escape sequence as harmless letters.
        const bool blank = byte == ' ' || byte == '\r' || byte == '\n' || byte == '\t';
        if (!blank && (byte < 0x20 || byte == 0x7F)) continue;
        if (blank && (shown.empty() || shown.back() == ' ')) continue;
        if (shown.size() == kShownServerTextLimit) {
            cut = true;
            break;
        }
        shown += blank ? ' ' : c;
    }
    if (cut) DropCutCharacter(shown);
    while (!shown.empty() && shown.back() == ' ') shown.pop_back();
    if (cut) shown += " …";
    return shown;
}
