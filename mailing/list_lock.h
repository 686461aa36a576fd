#pragma once
// One mailing run per list at a time, across processes. A run holds an exclusive flock on a file beside
// the list ("<list>.lock") from before it reads the list until after it has written it; the list editor
// holds it while it saves. The kernel drops the lock when the process dies, so a crash never leaves a
// list locked. The lock file is removed by its holder; one left by a crash is simply taken over.

#include "mailing/run_journal.h"

#include <string>

class ListLock {
public:
    ListLock() = default;
    ~ListLock() { Unlock(); }
    ListLock(const ListLock&) = delete;
    ListLock& operator=(const ListLock&) = delete;

    // Takes the lock of the list. False when a run (in this process or another) holds it. Throws
    // EJournalError naming the lock file when it cannot be opened or made (a read-only folder, no
    // permission). The lock belongs to the list's real file: a run through a link and one through its
    // target exclude each other.
    bool TryLock(const std::string& listPath);
    void Unlock();

    // True while a run holds the list's lock. Changes no file: for a dry run and for the editor, which
    // must not take a live run's journal for an interrupted one. Throws EJournalError when the lock file is
    // there but cannot be opened.
    static bool InUse(const std::string& listPath);

private:
    int fd_ = -1;
    std::string path_;
};

// "<list>.lock" beside the list's real file (links resolved).
std::string LockPathFor(const std::string& listPath);

// The lock file cannot be opened: the text names it.
EJournalError LockFileError(const std::string& lockPath, int error);
