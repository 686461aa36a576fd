#pragma once
// The run journal, "<list>.journal" beside the list, is what keeps a killed run from sending twice.
// While a run sends, it records every mail the moment it has gone out: the recipient's line with its new
// send time. A run that reaches the end of its list writes the list and removes the journal. A run that
// ends any other way (stopped, or ended by an error) writes the list and keeps its records, marked as
// being in the list, so only a run that did not reach its end leaves one, whether killed or stopped; the next run on that list first writes the recorded send times into the lines whose other
// fields say the same (wherever those lines now stand, whatever else was edited), saves the list, and
// then asks whether to send only to the others. "Ja" carries the recorded mails over into the new run's
// journal, so they are skipped through any number of further kills until a run reaches its end. Records
// reach the disk in the background at most 100 ms after their mail; a power loss may lose those.
//
// Each record is a line "R <kind> <index> <length> <crc32>" followed by <length> bytes and a line feed.
// Kinds: S (start; the bytes are the list's path), L (a mail went out; the bytes are its line as the run
// rewrote it, <index> is where the line stood), K (a mail of an earlier run whose send time the list
// file already holds: only skipped, never written again), C (the copy of a mail is in the Sent folder;
// the bytes are the name of its file in the copy spool, <index> is 0), E (the run ended and the list was
// written). A record that is cut off or whose checksum does not match ends the reading: what follows a
// torn write is never trusted.

#include "mailing/file_io.h"
#include "mailing/list_file.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <mutex>
#include <vector>

std::string JournalPathFor(const std::string& listPath);

uint32_t Crc32(std::string_view bytes);

// The journal or the lock of a list failed. The text speaks of the mailing run and the list, not of
// files the user never heard of.
class EJournalError : public EFileError {
public:
    using EFileError::EFileError;
};
EJournalError JournalCreateError(const std::string& listPath, int error);
EJournalError JournalReadError(const std::string& listPath, int error);
EJournalError JournalWriteError(const std::string& listPath, int error);
EJournalError ListInUseError(const std::string& listPath);

// The record of a mail that went out could not be written: that mail is in no journal.
class EJournalRecordLost : public EJournalError {
public:
    using EJournalError::EJournalError;
};

struct JournalRecord {
    char kind = 'L';  // 'L' not yet in the list file, 'K' already there
    size_t index = 0;
    std::string line;

    bool operator==(const JournalRecord&) const = default;
};

struct JournalContent {
    bool started = false;
    bool ended = false;
    std::vector<JournalRecord> records;
    // The files of the copy spool whose copies are in the Sent folder.
    std::vector<std::string> copies;

    // Written by a run that did not reach its end.
    bool Interrupted() const { return started && !ended; }
};

// Reads the journal's bytes; never throws on bad content.
JournalContent ParseJournal(std::string_view bytes);
// The journal of a list, if there is one (a missing file gives an empty content). Throws EJournalError
// when it cannot be read.
JournalContent ReadJournal(const std::string& listPath);

// What identifies a recipient's line: every field but the send time, trimmed (the editor trims fields
// when it saves).
std::string LineIdentity(std::string_view line);

// Where the records of a journal stand in a list now.
struct JournalMatch {
    std::vector<std::optional<size_t>> lineOf;  // per record: its line, or nothing when that line is gone
    int written = 0;                            // lines whose send time ApplyJournal changed

    std::vector<size_t> Lines() const;  // the lines found, ascending
    int Dropped() const;
};

// Finds each record's line by its identity, each line for one record at most: first a line that already
// shows the record's send time, then the line at the record's old place, then the first free one. Two
// lines of one recipient (two subjects) are two identities; two equal lines are two places. Then writes
// the send time of every 'L' record into field 6 of its line (nothing else of the line changes). Records
// whose line is gone change nothing. Applying the same journal again changes nothing more.
JournalMatch ApplyJournal(const JournalContent& journal, TextLines& lines);

// Replaces the list's journal (atomically) by a start and the given records, all as 'K', once the list
// file holds the records' send times, and the records of the copies made.
// Throws EJournalError.
void RewriteJournalAsKept(const std::string& listPath, const std::vector<JournalRecord>& records,
                          const std::vector<std::string>& copies = {});

// The shortest time between two background syncs of the journal.
inline constexpr std::chrono::milliseconds kSyncInterval{100};

// Appends records: each record is written with one system call the moment its mail has gone out, so a
// killed or crashed program loses at most the mail in flight. Syncing to disk (fdatasync) is what survives
// a power loss; done after every mail it cost a 10 000-line run two thirds of its time. So a thread of the
// journal syncs in the background, at most once per kSyncInterval, and the run never waits for the disk.
// A power loss loses at most the records of the last interval. The journal is created atomically (with
// the records carried over from an interrupted run, and its folder synced); the end of the run is synced
// before the run goes on.
class RunJournal {
public:
    // Starts a new journal for the list, replacing an old one; `carried` become 'K' records.
    explicit RunJournal(const std::string& listPath, const std::vector<JournalRecord>& carried = {});
    ~RunJournal();
    RunJournal(const RunJournal&) = delete;
    RunJournal& operator=(const RunJournal&) = delete;

    // Throws EJournalRecordLost when the record cannot be written, and EJournalError when an earlier
    // background sync failed (the record is written first, so a sync error never loses it).
    void RecordSent(size_t index, std::string_view line);
    // The copy in the spool file `file` is in the Sent folder. May be called from another thread than
    // the run's. Throws EJournalRecordLost when the record cannot be written.
    void RecordCopied(std::string_view file);
    // The list has been written after the run reached its end: marks the end and removes the journal
    // and the copy spool.
    void Finish();
    // The list has been written, but the run did not reach its end: the records of this run and those it
    // carried over stay, all as 'K', so that the next start asks whether to resume. Without any record
    // and without copies waiting in the spool the journal is removed. Throws EJournalError.
    void KeepForResume();

    // Every record of this run, the carried ones first (as 'K'), also one whose write failed.
    const std::vector<JournalRecord>& Records() const { return records_; }

    const std::string& Path() const { return path_; }

private:
    void Write(char kind, size_t index, std::string_view bytes);
    // Lets the syncer know that there is something to sync.
    void MarkDirty();
    void SyncLoop();
    // Ends the background syncing; the caller then syncs what is left.
    void StopSyncing();
    void ThrowIfSyncFailed();
    // Ends the syncing and closes the file, what is pending synced.
    void Close();

    std::string listPath_;
    std::string path_;
    int fd_ = -1;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool dirty_ = false;     // records written since the syncer last started a sync
    bool syncerIdle_ = false;  // the syncer waits for records (not in its pause between two syncs)
    bool stopping_ = false;
    int syncError_ = 0;      // errno of a failed background sync
    std::thread syncer_;
    // Records come from the run and, for the copies, from the thread that appends them: one at a time.
    std::mutex writeMutex_;
    std::vector<JournalRecord> records_;
    std::vector<std::string> copies_;
};

std::string EncodeJournalRecord(char kind, size_t index, std::string_view bytes);
