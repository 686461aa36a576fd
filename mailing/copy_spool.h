#pragma once
// The copies for the Sent folder wait in a spool beside the list's journal, "<list>.kopien/", readable by
// the owner alone (they are whole mails): every mail the server took is written there before its journal
// record, and its file goes once the journal records its copy. So a run that ends before all its copies
// are in the folder (stopped, killed, the IMAP server away) leaves the very bytes that were sent for the
// next run, which appends them before it sends anything else; the spool goes with the journal.
//
// A file "<n>.kopie" (n counts up in the spool) holds one line "<sent at> <line> <length> <address>" (the
// send time in seconds since 1970, the list line from 1, the message's length in bytes, the recipient)
// and then the message's bytes. It is written as "<n>.tmp" and renamed, so a half-written file is never
// taken for a copy; a file whose message is shorter than its length (a power loss) is not appended.

#include <ctime>
#include <optional>
#include <string>
#include <vector>

struct JournalContent;

std::string CopySpoolFolder(const std::string& listPath);

struct SpooledCopy {
    std::string file;  // the name in the spool
    std::time_t sentAt = 0;
    int lineNumber = 0;
    std::string address;
    size_t size = 0;      // the message's length
    std::string message;  // only when read with the message
};

class CopySpool {
public:
    explicit CopySpool(const std::string& listPath);

    // Writes the copy (its file is ignored) and returns the name of its file. Throws EFileError.
    std::string Write(const SpooledCopy& copy);
    // The copy in `file`; nothing when it is missing or damaged.
    std::optional<SpooledCopy> Read(const std::string& file, bool withMessage) const;
    // The copies waiting, oldest first, without their messages.
    std::vector<SpooledCopy> Waiting() const;
    void Remove(const std::string& file) const;

private:
    std::string folder_;
    unsigned long next_ = 1;
};

// Whether `file` can be a name of the spool ("<digits>.kopie"): a journal that names anything else names
// no copy, and nothing outside the spool is ever removed for it.
bool IsSpoolFileName(const std::string& file);

// Before a run: the files whose copies the journal records go; without an interrupted run's journal the
// whole spool goes, since no run will look for it.
void SettleCopySpool(const std::string& listPath, const JournalContent& journal);
// The spool with all its files.
void RemoveCopySpool(const std::string& listPath);
bool HasWaitingCopies(const std::string& listPath);
