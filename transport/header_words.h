#pragma once
// Encoding of header text into MIME encoded words (RFC 2047).

#include <string>
#include <string_view>

#include "transport/header_charset.h"

// The thirteen characters that a display name may not carry unencoded next to non-ASCII text.
inline constexpr std::string_view AddressSpecials = "\"(),.:;<>@[\\]";

// An encoded word is at most this long, opening and closing included (RFC 2047 section 2).
inline constexpr std::size_t MaxEncodedWordLength = 75;

// Encodes the words of a header text that need it: those holding a control byte, a byte of 127 and
// above, one of the extra special characters, or the start of an encoded word ("=?") that a reader
// would otherwise decode. Neighbouring such words form one stretch with the whitespace between them;
// a stretch longer than one encoded word continues in further words joined by CR LF TAB. A break
// between encoded words never falls inside a character of a multi-byte charset, and in ISO-2022-JP
// each word returns to ASCII, so every encoded word decodes on its own. In transfer mode iso2022jp
// the text is converted from Shift_JIS first. The letter '8' returns the text without encoding.
std::string EncodeHeaderWords(std::string_view text, std::string_view extraSpecials, char letter,
                              TTransfer transfer, std::string_view charset);
