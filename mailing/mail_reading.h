#pragma once
// Reading a written mail back as the recipient's mail program shows it: header fields unfolded with
// their encoded words decoded (RFC 2047, B and Q), the text part's and the HTML part's bodies decoded from
// their transfer encoding and charset, all as UTF-8, and the pictures the HTML shows by Content-ID. Only
// what the program's own writer produces needs to be read here.

#include <map>
#include <string>
#include <string_view>

// The bytes in the charset as UTF-8. Bytes that are not valid there become U+FFFD, as a mail program
// shows them; an unknown charset is taken as UTF-8.
std::string ToUtf8(std::string_view bytes, std::string_view charset);

// A header value with its encoded words decoded; the whitespace between two encoded words goes, as
// RFC 2047 section 6.2 says. Text outside encoded words is taken as UTF-8.
std::string DecodeHeaderWords(std::string_view value);

std::string DecodeQuotedPrintable(std::string_view text);

struct ReadMail {
    std::string from, to, cc, subject;  // decoded; empty when the mail has no such field
    std::string body;                   // the text part, its lines joined with "\n"
    std::string html;                   // the HTML part, UTF-8, lines joined with "\n"; empty: none
    std::map<std::string, std::string> pictures;  // Content-ID without its angle brackets: the bytes
};

// The fields and parts of a mail as the writer writes it: a plain body, or multipart bodies nested in
// each other (mixed around alternative around related). The text is the first text/plain part that is
// no attachment, the HTML the first such text/html part.
ReadMail ReadWrittenMail(std::string_view mail);
