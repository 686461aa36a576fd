#pragma once
// The sending options: account options that the settings file has no room for, and their text in the
// options file: plain text, one "name=value" per line, so that a user can read it; never a secret.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The highest sending rate that can be set: ten mails a second is beyond every provider's cap.
inline constexpr int kMaxMailsPerMinute = 600;

struct SendOptions {
    // The password may go to a server elsewhere over a connection without TLS.
    bool allowPlainLogin = false;
    // At most this many mails a minute, spaced evenly; 0: no limit.
    int mailsPerMinute = 0;

    bool operator==(const SendOptions&) const = default;
};

// What a read of the options text found.
struct ParsedOptions {
    SendOptions options;
    // Lines with names this program does not know (written by a newer one): kept and written back.
    std::vector<std::string> unknownLines;
    // The number of the first line that could not be understood; 0 when the whole text was understood.
    // A damaged text gives the defaults and no unknown lines.
    int damagedLine = 0;
};

ParsedOptions ParseOptionsText(std::string_view text);
// A sending rate as written in the options file or given to postira-run: 0 to kMaxMailsPerMinute.
std::optional<int> ParseMailsPerMinute(std::string_view value);
std::string FormatOptionsText(const SendOptions& options, const std::vector<std::string>& unknownLines);
