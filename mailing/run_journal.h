#pragma once
// The run journal: a file beside the list ("<list>.journal") that records every mail the moment it has
// gone out. A run that is killed, crashes or loses power leaves it behind; the next run on that list
// applies its records first, so no recipient is sent the same mail twice.
//
// Each record is a line "R <kind> <index> <length> <crc32>" followed by <length> bytes and a line feed.
// Kinds: S (start; the bytes are the list's path), L (line <index> was sent; the bytes are the line as
// rewritten), E (the run ended and the list was written). A record that is cut off or whose checksum does
// not match ends the reading: what follows a torn write is never trusted.

#include "mailing/list_file.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>
#include <mutex>
#include <vector>

std::string JournalPathFor(const std::string& listPath);

uint32_t Crc32(std::string_view bytes);

struct JournalContent {
    bool started = false;
    bool ended = false;
    struct Sent {
        size_t index;
        std::string line;
    };
    std::vector<Sent> sent;

    // Written by a run that did not reach its end.
    bool Interrupted() const { return started && !ended; }
};

// Reads the journal's bytes; never throws on bad content.
JournalContent ParseJournal(std::string_view bytes);
// The journal of a list, if there is one (a missing file gives an empty content).
JournalContent ReadJournal(const std::string& listPath);

// Puts the recorded lines into `lines` (records for lines beyond the list are ignored) and returns the
// indices that were applied, each once.
std::vector<size_t> ApplyJournal(const JournalContent& journal, TextLines& lines);

// For the list editor: applies an interrupted run's journal to a loaded list; returns how many sends it
// recovered (0 when there is no interrupted journal).
int RecoverInterruptedRun(const std::string& listPath, TextLines& lines);

// The shortest time between two background syncs of the journal.
inline constexpr std::chrono::milliseconds kSyncInterval{100};

// Appends records: each record is written with one system call the moment its mail has gone out, so a
// killed or crashed program loses at most the mail in flight. Syncing to disk (fdatasync) is what survives
// a power loss; done after every mail it cost a 10 000-line run two thirds of its time. So a thread of the
// journal syncs in the background, at most once per kSyncInterval, and the run never waits for the disk.
// A power loss loses at most the records of the last interval. The start record and the end of the run
// are synced before the run goes on.
class RunJournal {
public:
    // Starts a new journal for the list, replacing an old one.
    explicit RunJournal(const std::string& listPath);
    ~RunJournal();
    RunJournal(const RunJournal&) = delete;
    RunJournal& operator=(const RunJournal&) = delete;

    // Throws EFileError when the record cannot be written, or when an earlier sync failed.
    void RecordSent(size_t index, std::string_view line);
    // The list has been written: marks the end and removes the journal.
    void Finish();

    const std::string& Path() const { return path_; }

private:
    void Write(char kind, size_t index, std::string_view bytes);
    void SyncLoop();
    // Ends the background syncing; the caller then syncs what is left.
    void StopSyncing();
    void ThrowIfSyncFailed();

    std::string path_;
    int fd_ = -1;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool dirty_ = false;     // records written since the syncer last started a sync
    bool syncerIdle_ = false;  // the syncer waits for records (not in its pause between two syncs)
    bool stopping_ = false;
    int syncError_ = 0;      // errno of a failed background sync
    std::thread syncer_;
};

std::string EncodeJournalRecord(char kind, size_t index, std::string_view bytes);
