#pragma once
// The check of a whole mailing before it goes out ("Mailing prüfen", postira-run --check): reads the list
// and every text it names exactly as a run would, sends nothing and changes no file, and tells per line
// what would fail or be skipped and what is probably a mistake, with the mails, their size on the wire
// and the time the run will take in sum. And the preview of one line's mail as it would be sent.

#include "mailing/list_file.h"
#include "mailing/send_options.h"
#include "mailing/settings_text.h"

#include <chrono>
#include <map>
#include <string>
#include <vector>

// What the check found.
enum class CheckFinding {
    // The line would fail or be skipped.
    NoFirstName,
    NoAddress,
    BadAddress,    // the address parser rejects it, or it has no "@" and domain
    EmptyText,     // the personalised text is empty
    BadPort,       // the account's port is no number: no mail at all would go (line 0)
    // Probably a mistake.
    UnknownPlaceholder,  // "$" and letters that are neither placeholder; once per text, at its first line
    TextFileMissing,     // the standard text would go instead
    AttachmentMissing,   // named but missing or unreadable: the mail would go without it
    DuplicateAddress,    // the same address with the same subject as an earlier line
    EmptySubject,
    AttachmentTooLarge,  // over kLargeAttachmentBytes: most providers refuse the mail
    // The line would fail or be skipped (added after the kinds above).
    AccountIncomplete,  // host, mail address, port or password empty: the run does not start (line 0)
    TextUnreadable,     // the chosen text file cannot be read (a missing standard text): the run ends at
                        // this line with the file error; once per file
    // Probably a mistake (added after the kinds above).
    Undecodable,  // a field, or the text (once per file), is neither UTF-8 nor Windows-1252
    // The run sends to it, but the server will probably refuse it (no "@" and domain, two "@", a blank):
    // the mail counts as sent, as the run would try it.
    DoubtfulAddress,
    // The line would fail (added after the kinds above): a picture of its HTML or Markdown text is
    // missing or cannot be read, so the run fails the line; one finding per picture.
    PictureUnreadable,
    // Probably a mistake (added after the kinds above): a picture of an HTML or Markdown text comes from
    // the web, which mail programs often block; once per text and picture.
    RemotePicture,
    // Only information: what the pictures of an HTML or Markdown text add to each mail; once per text.
    PictureSize,
    // The copies are to go into the Sent folder, but the IMAP server cannot be reached, refuses the login
    // or has no such folder: the mails go without their copies (line 0).
    SentFolderMissing,
};

// Would fail or be skipped (true), or probably a mistake or information (false).
bool IsFailure(CheckFinding finding);
// Only information, nothing to act on: a report with nothing else is clean.
bool IsNote(CheckFinding finding);

// Most providers refuse mails with an attachment beyond this.
inline constexpr long long kLargeAttachmentBytes = 20LL * 1024 * 1024;

struct CheckLine {
    int number = 0;       // the line's position in the list, from 1; 0 for the account
    std::string address;  // the line's address field, trimmed (as the list holds it)
    CheckFinding finding{};
    std::string text;     // German, whole: what was found and what it means
};

struct CheckReport {
    std::vector<CheckLine> findings;  // in the order of the lines
    int mails = 0;                    // mails that would go out
    long long wireBytes = 0;          // their size on the wire together
    std::chrono::seconds duration{0};  // at the sending rate option; 0 without a rate
    int mailsPerMinute = 0;            // the rate it was computed for
    // The line at which the run would end with an error (an address the parser rejects, a text file
    // that cannot be read); 0 when it would go through. Mails and size count the lines before it.
    int stopLine = 0;
    // What the front end tells below the sum without it being a finding (the Sent folder found).
    std::vector<std::string> notes;

    // Nothing but notes.
    bool Clean() const;
    // The sum in German: mails, size, duration.
    std::string SummaryText() const;
};

// What a check or a preview reads: the same as the run.
struct CheckInput {
    std::string dataFolder;  // with a trailing "/"
    std::string listPath;    // the list file
    AccountSettings account;
    SendOptions options;
    std::string cc;  // the copy list of every mail
};

// Checks the whole list. Throws EFileError when the list cannot be read.
CheckReport CheckMailing(const CheckInput& input);

// One line's mail as it would be sent, built by the code of the run and written by the writer of the dry
// run; the header fields decoded again for reading.
struct MailPreview {
    std::string from, to, cc, subject;  // UTF-8, as the recipient's program shows them
    std::string body;                    // UTF-8, the text part as the recipient reads it
    // An HTML mail: its HTML (UTF-8, the local pictures named "cid:...") and the pictures' bytes by
    // Content-ID. Empty for a plain mail.
    std::string html;
    std::map<std::string, std::string> pictures;
    std::vector<std::string> remotePictures;  // the src of each picture from the web, each once
    std::string attachmentName;          // empty: no attachment
    long long attachmentBytes = 0;
    long long wireBytes = 0;  // the whole mail on the wire
    // Why no mail would go for this line (no first name, a bad port or address ...), German; the
    // fields are then as far as they could be filled.
    std::string problem;
};

// The preview of a record (a row of the list editor, maybe not saved yet) at position `number`.
MailPreview PreviewRecord(const CheckInput& input, const RecipientRecord& record, int number);
// The preview of the list file's line `number` (from 1). Throws EFileError when the list cannot be read.
MailPreview PreviewLine(const CheckInput& input, int number);
