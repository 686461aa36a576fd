#include "mailing/list_lock.h"

#include "mailing/file_io.h"
#include "mailing/run_journal.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

// InUse takes a shared lock for a moment; a run that starts just then tries a few times before it says
// the list is busy.
constexpr int kLockAttempts = 10;
constexpr std::chrono::milliseconds kLockRetryPause{20};

bool SameFile(int fd, const std::string& path) {
    struct stat open {}, named {};
    return ::fstat(fd, &open) == 0 && ::stat(path.c_str(), &named) == 0 && open.st_dev == named.st_dev &&
           open.st_ino == named.st_ino;
}

}  // namespace

std::string LockPathFor(const std::string& listPath) { return ResolvedPath(listPath) + ".lock"; }

EJournalError LockFileError(const std::string& lockPath, int error) {
    return EJournalError("Die Sperrdatei \"" + lockPath +
                             "\" der Empfängerliste kann nicht geöffnet werden. Ohne sie lässt sich nicht "
                             "ausschließen, dass gerade ein anderer Mailingdurchlauf an diese Liste sendet; "
                             "deshalb wird weder gesendet noch gespeichert. Grund: " + std::strerror(error),
                         error);
}

bool ListLock::TryLock(const std::string& listPath) {
    Unlock();
    const std::string path = LockPathFor(listPath);
    for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) throw LockFileError(path, errno);
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            ::close(fd);
            if (error != EWOULDBLOCK && error != EINTR) throw JournalCreateError(listPath, error);
            std::this_thread::sleep_for(kLockRetryPause);
            continue;
        }
        // The holder before us may have removed the file between our open and our lock: then we hold a
        // lock on a file nobody else will open, and must start again with the file that is there now.
        if (SameFile(fd, path)) {
            fd_ = fd;
            path_ = path;
            return true;
        }
        ::close(fd);
    }
    return false;
}

void ListLock::Unlock() {
    if (fd_ < 0) return;
    // Removed while still locked, so nobody can lock the old file after we let go of it.
    ::unlink(path_.c_str());
    ::close(fd_);
    fd_ = -1;
}

bool ListLock::InUse(const std::string& listPath) {
    const std::string path = LockPathFor(listPath);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        // No lock file: no run has started since the last one ended. Any other reason (no permission in a
        // shared folder) leaves it open whether a run holds the list, which is not "no run".
        if (errno == ENOENT) return false;
        throw LockFileError(path, errno);
    }
    const bool busy = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return busy;
}
