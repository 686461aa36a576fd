#pragma once
// The recipient list: its line format, the field splitter and joiner, and reading and writing text
// lines. Everything here works on bytes; nothing is converted.

#include <array>
#include <string>
#include <string_view>
#include <vector>

// The seven fields of one list line, in file order.
struct RecipientRecord {
    std::string Surname;     // 1: replaces "$Name"
    std::string FirstName;   // 2: replaces "$Prename"; a line without one is never sent
    std::string Address;     // 3: address text for the address-list parser
    std::string Subject;     // 4
    std::string TextFile;    // 5: path of the message text, or "default"
    std::string Result;      // 6: send time or error text, written by the mailing run
    std::string Attachment;  // 7: path of one file to attach, empty for none

    static constexpr int kFieldCount = 7;
    // Field k, numbered 1 to 7 as in the file.
    std::string& Field(int k);
    const std::string& Field(int k) const;

    bool operator==(const RecipientRecord&) const = default;
};

// True for the characters that trimming removes: codes 0 to 32.
constexpr bool IsTrimmable(char c) { return static_cast<unsigned char>(c) <= 32; }

// Removes all leading and trailing characters with codes 0 to 32.
std::string_view TrimView(std::string_view text);
std::string Trim(std::string_view text);

// A line that is empty after trimming: kept in place and counted, skipped by every reader.
bool IsBlankLine(std::string_view line);

// Splits a line (without its line break) into the seven fields. Fields 1 to 6 end at a ";"; field 7 is
// the rest up to its first ";", and whatever follows that is dropped. Fields are not trimmed.
RecipientRecord SplitListLine(std::string_view line);

// The same rules with another separator: the import splits ","- or ";"-separated text this way.
RecipientRecord SplitSeparatedLine(std::string_view line, char separator);

// The editor's form of a line: the seven trimmed fields, each followed by ";". Empty (no line) when the
// first name is empty after trimming; such a row is dropped. Check with `empty()`.
std::string JoinListLine(const RecipientRecord& record);

// The mailing run's form: the fields as they were split, untrimmed, each followed by ";".
std::string JoinFieldsUntrimmed(const RecipientRecord& record);

// A text file as lines. A line ends at CR LF, a lone CR or a lone LF; `finalBreak` remembers whether
// the last line ended with a break, so that writing gives back the same ending.
struct TextLines {
    std::vector<std::string> lines;
    bool finalBreak = false;

    bool operator==(const TextLines&) const = default;
};

TextLines SplitTextLines(std::string_view text);
// Joins with CR LF between lines, and after the last one when `finalBreak`.
std::string JoinTextLines(const TextLines& text);

// The data folder and the names of its files.
inline constexpr const char* kListFileName = "sendlist.csv";
inline constexpr const char* kStandardTextName = "defaultmail.txt";
inline constexpr const char* kSettingsFileName = "postira.ini";
inline constexpr const char* kDataFolderName = "ptdata";
