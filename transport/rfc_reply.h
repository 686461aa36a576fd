#pragma once
// A numbered server reply of the SMTP form: "250-first", "250 last".

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The text without leading and trailing bytes of code 0 to 32, as reply lines are read.
std::string TrimLine(std::string_view text);

class TIdRFCReply {
public:
    int32_t Code = 0;              // 0 when CodeText is not a number
    std::string CodeText;          // the first three or four bytes of the first line, trimmed
    std::vector<std::string> Lines;  // each reply line from its fifth byte on

    void Clear();
    // Fills the reply from its lines as they were read (the first line first).
    void ParseReply(const std::vector<std::string>& lines);
    // Every line followed by CR LF: the text of a refused reply.
    std::string Text() const;
};
