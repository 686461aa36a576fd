// Encodes any bytes as header words. The first byte picks letter, charset and transfer mode. Every
// encoded word keeps to 75 characters, and text that needs no encoding comes back unchanged.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "transport/header_words.h"

namespace {

bool NeedsNoEncoding(std::string_view text, std::string_view specials) {
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 32 && c != ' ' && c != '\t' && c != '\r' && c != '\n') return false;
        if (byte >= 127 || specials.find(c) != std::string_view::npos) return false;
    }
    return text.find("=?") == std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const char* charsets[] = {"UTF-8", "ISO-8859-1", "GB2312", "Big5", "EUC-KR", "ISO-2022-JP", "Shift_JIS",
                              "GB18030"};
    std::uint8_t choice = data[0];
    std::string_view charset = charsets[choice & 7];
    char letter = (choice & 8) ? 'B' : 'Q';
    TTransfer transfer = (choice & 16) ? TTransfer::iso2022jp : TTransfer::bit8;
    std::string_view specials = (choice & 32) ? AddressSpecials : std::string_view();
    std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

    std::string value = EncodeHeaderWords(text, specials, letter, transfer, charset);

    if (transfer == TTransfer::bit8 && NeedsNoEncoding(text, specials) && value != text) std::abort();
    // Openings hold the charset and letter; the encoded text of Q and B has no "?", so the next "?="
    // after an opening ends its word.
    std::string opening = "=?" + std::string(charset) + "?" + letter + "?";
    for (std::size_t at = value.find(opening); at != std::string::npos; at = value.find(opening, at + 1)) {
        std::size_t close = value.find("?=", at + opening.size());
        if (close == std::string::npos || close + 2 - at > MaxEncodedWordLength) std::abort();
    }
    return 0;
}
