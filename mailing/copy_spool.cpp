#include "mailing/copy_spool.h"

#include "mailing/file_io.h"
#include "mailing/run_journal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>

namespace {

constexpr std::string_view kCopySuffix = ".kopie";
constexpr std::string_view kPartSuffix = ".tmp";
// The header line is short: three numbers and an address field of the list.
constexpr size_t kMaxHeaderLength = 64 * 1024;

// The number of a spool file's name with the suffix, or 0.
unsigned long NumberOf(std::string_view name, std::string_view suffix) {
    if (!name.ends_with(suffix)) return 0;
    name.remove_suffix(suffix.size());
    unsigned long number = 0;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), number);
    return error == std::errc() && end == name.data() + name.size() && !name.empty() ? number : 0;
}

std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

template <class Number>
bool TakeNumber(std::string_view& rest, Number& value) {
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
    if (error != std::errc() || end == rest.data() || end == rest.data() + rest.size() || *end != ' ') return false;
    rest.remove_prefix(static_cast<size_t>(end - rest.data()) + 1);
    return true;
}

// The header line's values; false when it is not one.
bool ParseHeader(std::string_view line, SpooledCopy& copy, size_t& length) {
    long long sentAt = 0;
    if (!TakeNumber(line, sentAt) || !TakeNumber(line, copy.lineNumber) || !TakeNumber(line, length)) return false;
    copy.sentAt = static_cast<std::time_t>(sentAt);
    copy.address = std::string(line);
    return true;
}

}  // namespace

std::string CopySpoolFolder(const std::string& listPath) { return ResolvedPath(listPath) + ".kopien/"; }

bool IsSpoolFileName(const std::string& file) { return NumberOf(file, kCopySuffix) > 0; }

CopySpool::CopySpool(const std::string& listPath) : folder_(CopySpoolFolder(listPath)) {
    for (const std::string& name : Entries(folder_))
        next_ = std::max(next_, std::max(NumberOf(name, kCopySuffix), NumberOf(name, kPartSuffix)) + 1);
}

std::string CopySpool::Write(const SpooledCopy& copy) {
    // The owner's alone, like the data folder: the files are whole mails.
    if (::mkdir(folder_.c_str(), 0700) != 0 && errno != EEXIST) throw CannotCreateError(folder_, errno);
    const std::string number = std::to_string(next_++);
    const std::string part = folder_ + number + std::string(kPartSuffix);
    const std::string name = number + std::string(kCopySuffix);
    char header[96];
    std::snprintf(header, sizeof header, "%lld %d %zu ", static_cast<long long>(copy.sentAt), copy.lineNumber,
                  copy.message.size());
    const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) throw CannotCreateError(part, errno);
    // Not synced: the run must not wait for the disk for every mail. A power loss may cut the file,
    // which its length then tells.
    try {
        WriteAll(fd, std::string(header) + copy.address + "\n", part);
        WriteAll(fd, copy.message, part);
    } catch (...) {
        ::close(fd);
        ::unlink(part.c_str());
        throw;
    }
    if (::close(fd) != 0 || ::rename(part.c_str(), (folder_ + name).c_str()) != 0) {
        const int error = errno;
        ::unlink(part.c_str());
        throw CannotCreateError(folder_ + name, error);
    }
    return name;
}

std::optional<SpooledCopy> CopySpool::Read(const std::string& file, bool withMessage) const {
    if (!IsSpoolFileName(file)) return std::nullopt;
    std::string bytes;
    if (withMessage) {
        try {
            bytes = ReadWholeFile(folder_ + file);
        } catch (const EFileError&) {
            return std::nullopt;
        }
    } else {
        const int fd = ::open((folder_ + file).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return std::nullopt;
        bytes.resize(kMaxHeaderLength);
        const ssize_t count = ::read(fd, bytes.data(), bytes.size());
        ::close(fd);
        bytes.resize(count > 0 ? static_cast<size_t>(count) : 0);
    }
    const size_t end = bytes.find('\n');
    SpooledCopy copy;
    size_t length = 0;
    if (end == std::string::npos || !ParseHeader(std::string_view(bytes).substr(0, end), copy, length)) return std::nullopt;
    copy.file = file;
    copy.size = length;
    if (withMessage) {
        if (bytes.size() - end - 1 != length) return std::nullopt;
        copy.message = bytes.substr(end + 1);
    }
    return copy;
}

std::vector<SpooledCopy> CopySpool::Waiting() const {
    std::vector<std::string> names = Entries(folder_);
    std::erase_if(names, [](const std::string& name) { return !IsSpoolFileName(name); });
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return NumberOf(a, kCopySuffix) < NumberOf(b, kCopySuffix);
    });
    std::vector<SpooledCopy> copies;
    for (const std::string& name : names) {
        // A damaged file is passed over: its mail went, but its bytes are not whole.
        if (std::optional<SpooledCopy> copy = Read(name, false)) copies.push_back(std::move(*copy));
    }
    return copies;
}

void CopySpool::Remove(const std::string& file) const {
    if (IsSpoolFileName(file)) ::unlink((folder_ + file).c_str());
}

void SettleCopySpool(const std::string& listPath, const JournalContent& journal) {
    if (!journal.Interrupted()) return RemoveCopySpool(listPath);
    const std::string folder = CopySpoolFolder(listPath);
    for (const std::string& file : journal.copies) {
        if (IsSpoolFileName(file)) ::unlink((folder + file).c_str());
    }
    // What a killed run was writing when it died: its mail's record is not in the journal either.
    for (const std::string& name : Entries(folder)) {
        if (NumberOf(name, kPartSuffix) > 0) ::unlink((folder + name).c_str());
    }
}

void RemoveCopySpool(const std::string& listPath) {
    const std::string folder = CopySpoolFolder(listPath);
    for (const std::string& name : Entries(folder)) ::unlink((folder + name).c_str());
    ::rmdir(folder.c_str());
}

bool HasWaitingCopies(const std::string& listPath) {
    const std::vector<std::string> names = Entries(CopySpoolFolder(listPath));
    return std::any_of(names.begin(), names.end(), IsSpoolFileName);
}
