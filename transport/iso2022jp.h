#pragma once
// Conversion of Shift_JIS text to ISO-2022-JP (RFC 1468), used on Japanese systems with a Shift_JIS
// locale for header text before it is encoded and for body lines.

#include <string>
#include <string_view>

// ASCII bytes are copied; double-byte characters become their JIS X 0208 codes inside ESC "$B" ...
// ESC "(B"; half-width katakana become full-width katakana (with a following voiced or semi-voiced
// mark combined where JIS X 0208 has the combined character). Pairs without a JIS X 0208 code and
// other bytes of 128 and above are dropped. The result always ends in ASCII.
std::string ConvertToISO2022JP(std::string_view shiftJis);
