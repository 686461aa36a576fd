#pragma once
// The copies of a run's mails in the account's Sent folder. The run hands over every mail the SMTP
// server took; a thread of the run appends the copies on one IMAP connection beside the SMTP connection,
// so that no APPEND holds the next mail (whose envelope may be on its way already, with PIPELINING).
//
// Each copy is first written to the copy spool (before the mail's journal record), then appended; the
// journal records the copy and its spool file goes. A resumed run thus appends the copies an earlier run
// left, before its own, and none twice.
//
// A copy that fails never fails its mail, and no mail is sent again for it. After a failure the next try
// goes on a new connection; when that fails too (two failures in a row, a failed login or a missing
// folder at the start counting as one), no more copies are tried in this run and the rest count as
// missing. The summary names every missing copy with its reason.

#include "mailing/copy_spool.h"
#include "mailing/run_summary.h"
#include "mailing/sent_folder.h"

#include <chrono>
#include <condition_variable>
#include <ctime>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class RunJournal;

class SentCopies {
public:
    // At most this many copies wait for the IMAP thread; the run waits for room beyond. Only their names
    // wait here, their bytes are in the spool.
    static constexpr size_t kMaxWaiting = 1000;
    // At its end the run waits for the copies still to go, as long as they go: at most this long without
    // a copy done (longer than one APPEND may take), and at most this long in all.
    static constexpr std::chrono::seconds kEndStall{150};
    static constexpr std::chrono::seconds kEndLimit{600};
    // Where the server takes several messages in one APPEND, the copies waiting go together, up to this
    // many and this many bytes: one answer of the server for all of them instead of one wait for each,
    // and a bounded command (a copy larger than that goes alone).
    static constexpr size_t kMostPerAppend = 100;
    static constexpr size_t kMostBytesPerAppend = 8 * 1024 * 1024;

    // Connects at once; the copies that an earlier run left in the list's spool go first.
    SentCopies(SentCopyAccount account, ImapClientFactory clients, const std::string& listPath, RunJournal& journal);
    ~SentCopies();
    SentCopies(const SentCopies&) = delete;
    SentCopies& operator=(const SentCopies&) = delete;

    // Before the mail's journal record: its bytes into the spool. The name of the spool file, or nothing
    // when the bytes cannot be kept (the copy then counts as missing, with the reason).
    std::optional<std::string> Spool(int lineNumber, const std::string& address, std::string message,
                                     std::time_t sentAt);
    // After the record: the copy goes to the IMAP thread. While kMaxWaiting are waiting, `pause` is
    // called until there is room.
    void Queue(const std::string& file, const std::function<void()>& pause);
    // The end of the run: waits for the copies still to go (see kEndStall, kEndLimit), calling `pause`
    // with their number, which returns false when the user stops the waiting; then the thread ends after
    // the copy it is at, and the rest count as missing. Returns when the thread has ended.
    void Finish(const std::function<bool(size_t left)>& pause);
    // The copies that are not in the folder; complete after Finish.
    std::vector<RunSummary::Line> Missing() const;

private:
    struct Job {
        std::string file;
        int lineNumber = 0;
        std::string address;
        size_t size = 0;
    };

    void Work();
    // The copies for the next APPEND, taken from the waiting ones (the lock held).
    std::vector<Job> TakeBatch();
    // Appends copies in one command, trying once more on a new connection after a failure.
    void Copy(const std::vector<Job>& jobs);
    // The copy is in the folder: recorded in the journal, its spool file removed.
    void Done(const Job& job);
    void AddMissing(const Job& job, const std::string& reason);
    void Stop();

    SentFolderSession session_;
    CopySpool spool_;
    RunJournal& journal_;
    // Failures of the IMAP connection in a row; at two the copies end for the run.
    int failures_ = 0;
    bool givenUp_ = false;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Job> waiting_;
    size_t working_ = 0;  // the copies the thread is at
    bool stopping_ = false;
    bool ended_ = false;
    size_t done_ = 0;  // copies the thread has finished with, stored or not
    std::vector<RunSummary::Line> missing_;
    std::thread thread_;
};
