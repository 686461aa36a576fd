#pragma once
// Small helpers over byte text (std::string holding bytes of the user's charset). Only ASCII letters
// change case here; bytes of 128 and above are never touched.

#include <string>
#include <string_view>

// Removes every leading and trailing byte with a code from 0 to 32 (the program-wide meaning of trimming).
std::string TrimText(std::string_view text);
std::string TrimLeftText(std::string_view text);

// Removes leading and trailing blanks and TABs only.
std::string StripBlanks(std::string_view text);

// ASCII upper case; other bytes unchanged.
std::string UpperCaseAscii(std::string_view text);

// Compares two texts without regard to the case of ASCII letters.
bool SameTextIgnoringCase(std::string_view a, std::string_view b);

// Encloses text in double quotes with backslash and double quote escaped by a backslash.
std::string QuoteWithEscapes(std::string_view text);
