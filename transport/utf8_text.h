#pragma once
// Reading and writing UTF-8 one character at a time, strictly by RFC 3629: no overlong forms, no
// surrogates, nothing above U+10FFFF.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// The character that starts at `position`, which then moves past it; nothing (and `position` unchanged)
// when the bytes there are not a complete, valid UTF-8 sequence.
std::optional<char32_t> ReadUtf8CodePoint(std::string_view text, std::size_t& position);

// Appends the UTF-8 form of a character (a valid code point, not a surrogate).
void AppendUtf8(char32_t codePoint, std::string& out);
