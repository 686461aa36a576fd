#pragma once
// Reading and writing whole files as bytes, with the program's own file errors.

#include <ctime>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/types.h>

// A file that cannot be read or written. The text names the full path and the system's reason.
class EFileError : public std::runtime_error {
public:
    explicit EFileError(const std::string& text, int error = 0) : std::runtime_error(text), error_(error) {}
    // The system's error number behind it (0 when there is none).
    int Errno() const { return error_; }

private:
    int error_;
};

// "Datei %s kann nicht geöffnet werden. %s"
EFileError CannotOpenError(const std::string& path, int error);
// "Datei "%s" kann nicht erstellt werden. %s"
EFileError CannotCreateError(const std::string& path, int error);

// Writes all bytes to the open descriptor of `path`, again after an interrupted write. Throws the create
// error of `path` on failure.
void WriteAll(int fd, std::string_view bytes, const std::string& path);

// A regular file (or a link to one) is there.
bool FileExists(const std::string& path);
// Anything is there under that name: a file, a folder, a dangling link.
bool PathExists(const std::string& path);

// The path of the file that `path` names, with symbolic links and "." and ".." resolved: the file itself
// when it exists, else its folder resolved and the name appended, else the path as given. Locks, journals
// and atomic writes work on this, so that a list reached through a link is the same list as its target,
// and a write through a link replaces the target and leaves the link a link.
std::string ResolvedPath(const std::string& path);

// The folder of a path with its trailing "/"; empty for a bare file name.
std::string FolderOfPath(const std::string& path);

// The whole file. Throws EFileError when it cannot be opened or read (a folder included).
std::string ReadWholeFile(const std::string& path);

// Reads files that are asked for again and again (the message text of a run, once per recipient): a file
// is read anew only when it changed since the last read, seen by one stat (device, inode, size and the
// change times), so an edit during a run still shows in the next mail. Errors as ReadWholeFile.
class CachedFileReader {
public:
    // A file whose times are younger than this is not kept (see Read); tests pass 0.
    static constexpr time_t kSettleSeconds = 2;
    explicit CachedFileReader(time_t settleSeconds = kSettleSeconds) : settleSeconds_(settleSeconds) {}

    // The file's content, valid until the next call.
    const std::string& Read(const std::string& path);

private:
    struct Entry {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = -1;
        timespec modified{};
        timespec changed{};
        std::string content;
    };
    // A run names a handful of text files; more than this are not kept.
    static constexpr size_t kMaxEntries = 16;
    time_t settleSeconds_;
    std::map<std::string, Entry> entries_;
    std::string scratch_;  // a file read that is not kept (not a regular file, or changed just now)
};

// Replaces the file atomically: the bytes go to a temporary file in the folder of the file that `path`
// resolves to (a link stays a link), which is flushed to
// disk and then renamed over the old file, so a crash or a full disk never leaves a half-written file.
// `mode` is the permission of a new file; an existing file keeps its permissions unless `forceMode`.
// Throws EFileError; the old file is then unchanged and no temporary file is left behind.
void WriteFileAtomic(const std::string& path, std::string_view bytes, mode_t mode = 0644,
                     bool forceMode = false);

// The same, with the content produced piece by piece by `produce`, which calls `write` for each piece.
// An exception from `produce` aborts the write the same way: the old file stays as it was.
void WriteFileAtomicWith(const std::string& path,
                         const std::function<void(const std::function<void(std::string_view)>& write)>& produce,
                         mode_t mode = 0644, bool forceMode = false);
