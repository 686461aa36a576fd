#pragma once
// The list of header lines under every message header: "Name: value" lines with case-insensitive
// names, folded into continuation lines when a value is set.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Header lines are folded to this many characters where the value allows it (RFC 5322's 78).
inline constexpr std::size_t HeaderLineLength = 78;

// Folds one header line: inserts CR LF in front of a run of blanks or TABs that lies outside double
// quotes, the latest such run before the line would grow past maxColumn. The blanks stay and begin the
// continuation line, so unfolding (removing each CR LF) gives the line back unchanged. A CR LF that is
// already followed by a blank or TAB counts as an existing fold and starts a new line. A line without
// any usable run stays long. Unlike a break after a comma, this never puts a blank into the value and
// never splits an encoded word.
std::string WrapHeaderText(std::string_view line, std::size_t maxColumn = HeaderLineLength);

// Makes a value safe for one header: every CR or LF that is not part of a fold (CR LF followed by a
// blank or TAB and by some visible text on that continuation line) becomes a blank, so no value can
// start a header line of its own or end the header.
std::string SanitizeHeaderValue(std::string_view value);

class TIdHeaderList {
public:
    // Sets, replaces (in place, with its continuation lines) or, for an empty value, removes the
    // header of that name. The line is folded at HeaderLineLength.
    void SetHeaderValue(std::string_view name, std::string_view value);
    // The value with its continuation lines joined by one blank; empty when the name is absent.
    std::string ReadHeaderValue(std::string_view name) const;

    // The index of the first header line of that name (not a continuation line), or -1.
    int IndexOfName(std::string_view name) const;

    // Plain list access, for copying and writing the lines.
    void Add(std::string line) { lines_.push_back(std::move(line)); }
    void AddLines(const TIdHeaderList& other);
    void Clear() { lines_.clear(); }
    std::size_t Count() const { return lines_.size(); }
    bool Empty() const { return lines_.empty(); }
    const std::string& operator[](std::size_t index) const { return lines_[index]; }
    const std::vector<std::string>& Lines() const { return lines_; }

private:
    std::size_t EndOfHeader(std::size_t index) const;

    std::vector<std::string> lines_;
};
