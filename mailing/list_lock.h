#pragma once
// One mailing run per list at a time, across processes. A run holds an exclusive flock on a file beside
// the list ("<list>.lock") from before it reads the list until after it has written it; the list editor
// holds it while it saves. The kernel drops the lock when the process dies, so a crash never leaves a
// list locked. The lock file is removed by its holder; one left by a crash is simply taken over.

#include <string>

class ListLock {
public:
    ListLock() = default;
    ~ListLock() { Unlock(); }
    ListLock(const ListLock&) = delete;
    ListLock& operator=(const ListLock&) = delete;

    // Takes the lock of the list. False when a run (in this process or another) holds it. Throws
    // EJournalError when the lock file cannot be made (a read-only folder).
    bool TryLock(const std::string& listPath);
    void Unlock();

    // True while a run holds the list's lock. Changes no file: for a dry run and for the editor, which
    // must not take a live run's journal for an interrupted one.
    static bool InUse(const std::string& listPath);

private:
    int fd_ = -1;
    std::string path_;
};

std::string LockPathFor(const std::string& listPath);
