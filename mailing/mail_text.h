#pragma once
// How every text that goes into a mail is read: the run, the test mail, the check, the preview and the
// dry run all use this one rule. A list line's fields and a message text file are bytes: bytes that are
// valid UTF-8 are UTF-8, anything else is Windows-1252 (a list or text saved on Windows, as a spreadsheet
// program saves "CSV"). The mail is built from the UTF-8 text, so that it can say truthfully which charset
// it carries. The list file itself is never re-encoded: the run rewrites its lines from the bytes it read.

#include "mailing/file_io.h"
#include "mailing/list_file.h"

#include <functional>
#include <string>
#include <string_view>

// The length of the valid UTF-8 character at the start of `bytes`; 0 when there is none (a stray
// continuation byte, an overlong form, a surrogate, beyond U+10FFFF, or cut off).
size_t Utf8CharLength(std::string_view bytes);
bool IsValidUtf8(std::string_view bytes);

struct MailText {
    std::string utf8;
    bool windows1252 = false;  // the bytes were not UTF-8
    // Not UTF-8, and with bytes that Windows-1252 leaves unassigned (0x81, 0x8D, 0x8F, 0x90, 0x9D): those
    // went into the text as U+FFFD, the text is neither charset.
    bool undecodable = false;
};

MailText DecodeMailText(std::string_view bytes);
inline std::string MailTextOf(std::string_view bytes) { return DecodeMailText(bytes).utf8; }

// A list line as it goes into a mail: names, address and subject in UTF-8; the message text and
// attachment paths as the file system knows them (the bytes of the field when such a file is there,
// else the field in UTF-8, so that a Windows-1252 list names a file copied over from Windows). Field 6
// is left as it is: it never goes into a mail.
struct MailRecord {
    RecipientRecord fields;
    bool undecodable = false;  // some field was neither UTF-8 nor Windows-1252
};
MailRecord RecordForMail(const RecipientRecord& line,
                         const std::function<bool(const std::string&)>& fileExists = FileExists);

// A list with a text field (any but the two paths) that is not UTF-8 is a Windows-1252 list: what the
// run writes into it (the send time) is written in Windows-1252 too.
bool IsWindows1252List(const TextLines& lines);
// The UTF-8 text in the list's charset; a text that Windows-1252 cannot hold stays UTF-8.
std::string InListCharset(const std::string& utf8, bool windows1252List);
