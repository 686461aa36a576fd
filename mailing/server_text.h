#pragma once
// Text that came from a mail server (a reply quoted in an error) before it is shown or printed. A server
// chooses every byte of it, and on a plain connection so does anyone on the path: a reply may be a
// mebibyte long and hold terminal escape sequences or NUL bytes. What the user sees is one line of at most
// kShownServerTextLimit bytes without control characters, never cut inside a UTF-8 character.

#include <cstddef>
#include <string>
#include <string_view>

inline constexpr size_t kShownServerTextLimit = 300;

std::string ShownServerText(std::string_view text);
