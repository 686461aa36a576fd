#include "mailing/file_io.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string SystemReason(int error) { return std::strerror(error); }

// Closes a descriptor when it goes out of scope.
struct FdGuard {
    int fd = -1;
    ~FdGuard() {
        if (fd >= 0) ::close(fd);
    }
};

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

}  // namespace

EFileError CannotOpenError(const std::string& path, int error) {
    return EFileError("Datei " + path + " kann nicht geöffnet werden. " + SystemReason(error), error);
}

EFileError CannotCreateError(const std::string& path, int error) {
    return EFileError("Datei \"" + path + "\" kann nicht erstellt werden. " + SystemReason(error), error);
}

void WriteAll(int fd, std::string_view bytes, const std::string& path) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            throw CannotCreateError(path, errno);
        }
        bytes.remove_prefix(static_cast<size_t>(written));
    }
}

bool FileExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string ResolvedPath(const std::string& path) {
    if (path.empty()) return path;
    if (char* real = ::realpath(path.c_str(), nullptr)) {
        std::string resolved(real);
        std::free(real);
        return resolved;
    }
    // Not there yet (a list about to be made): its folder may still be reached through a link.
    const auto slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") return path;
    char* folder = ::realpath(FolderOf(path).c_str(), nullptr);
    if (folder == nullptr) return path;
    std::string resolved(folder);
    std::free(folder);
    if (resolved.back() != '/') resolved += '/';
    return resolved + name;
}

bool PathExists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

std::string FolderOfPath(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string ReadWholeFile(const std::string& path) {
    FdGuard file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0) throw CannotOpenError(path, errno);
    struct stat info {};
    if (::fstat(file.fd, &info) != 0) throw CannotOpenError(path, errno);
    if (S_ISDIR(info.st_mode)) throw CannotOpenError(path, EISDIR);

    std::string content;
    if (info.st_size > 0) content.reserve(static_cast<size_t>(info.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(file.fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            throw CannotOpenError(path, errno);
        }
        if (got == 0) break;
        content.append(buffer, static_cast<size_t>(got));
    }
    return content;
}

namespace {

bool SameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

}  // namespace

const std::string& CachedFileReader::Read(const std::string& path) {
    struct stat info {};
    const bool known = ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
    auto found = entries_.find(path);
    if (known && found != entries_.end()) {
        const Entry& entry = found->second;
        if (entry.device == info.st_dev && entry.inode == info.st_ino && entry.size == info.st_size &&
            SameTime(entry.modified, info.st_mtim) && SameTime(entry.changed, info.st_ctim)) {
            return entry.content;
        }
    }
    if (found != entries_.end()) entries_.erase(found);
    // Read with the state seen before the read: a change while reading differs from it next time.
    std::string content = ReadWholeFile(path);
    // A file changed a moment ago may change again within the file system's timestamp granularity
    // without its times showing it; such a file is read again next time, as git treats "racy" entries.
    const time_t now = std::time(nullptr);
    const bool settled =
        known && now - info.st_mtim.tv_sec >= settleSeconds_ && now - info.st_ctim.tv_sec >= settleSeconds_;
    if (!settled) {
        scratch_ = std::move(content);
        return scratch_;
    }
    if (entries_.size() >= kMaxEntries) entries_.clear();
    Entry& entry = entries_[path];
    entry.device = info.st_dev;
    entry.inode = info.st_ino;
    entry.size = info.st_size;
    entry.modified = info.st_mtim;
    entry.changed = info.st_ctim;
    entry.content = std::move(content);
    return entry.content;
}

void WriteFileAtomic(const std::string& path, std::string_view bytes, mode_t mode, bool forceMode) {
    WriteFileAtomicWith(path, [bytes](const auto& write) { write(bytes); }, mode, forceMode);
}

void WriteFileAtomicWith(const std::string& path,
                         const std::function<void(const std::function<void(std::string_view)>& write)>& produce,
                         mode_t mode, bool forceMode) {
    const std::string target = ResolvedPath(path);
    // A file that exists keeps its permissions, unless the caller insists (the settings hold a password).
    struct stat old {};
    const bool existed = ::stat(target.c_str(), &old) == 0;
    if (existed && S_ISDIR(old.st_mode)) throw CannotCreateError(path, EISDIR);
    const mode_t finalMode = (existed && !forceMode) ? (old.st_mode & 07777) : mode;

    std::string temp = FolderOf(target) + "/.postira-XXXXXX";
    FdGuard file{::mkostemp(temp.data(), O_CLOEXEC)};
    if (file.fd < 0) throw CannotCreateError(path, errno);

    try {
        if (::fchmod(file.fd, finalMode) != 0) throw CannotCreateError(path, errno);
        produce([&](std::string_view piece) { WriteAll(file.fd, piece, path); });
        if (::fsync(file.fd) != 0) throw CannotCreateError(path, errno);
        const int fd = file.fd;
        file.fd = -1;
        if (::close(fd) != 0) throw CannotCreateError(path, errno);
        if (::rename(temp.c_str(), target.c_str()) != 0) throw CannotCreateError(path, errno);
    } catch (...) {
        ::unlink(temp.c_str());
        throw;
    }

    // Make the rename itself durable. A failure here cannot be undone and the file is complete anyway.
    FdGuard folder{::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (folder.fd >= 0) ::fsync(folder.fd);
}
