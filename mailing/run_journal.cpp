#include "mailing/run_journal.h"

#include "mailing/file_io.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <set>
#include <unistd.h>

namespace {

std::array<uint32_t, 256> MakeCrcTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}

// Reads one unsigned decimal or hexadecimal number ending at a blank or line feed.
bool ReadNumber(std::string_view& rest, uint64_t& value, int base) {
    const char* begin = rest.data();
    const char* end = rest.data() + rest.size();
    auto [ptr, error] = std::from_chars(begin, end, value, base);
    if (error != std::errc() || ptr == begin || ptr == end) return false;
    rest.remove_prefix(static_cast<size_t>(ptr - begin));
    return true;
}

bool Expect(std::string_view& rest, char c) {
    if (rest.empty() || rest.front() != c) return false;
    rest.remove_prefix(1);
    return true;
}

}  // namespace

std::string JournalPathFor(const std::string& listPath) { return listPath + ".journal"; }

uint32_t Crc32(std::string_view bytes) {
    static const std::array<uint32_t, 256> table = MakeCrcTable();
    uint32_t c = 0xFFFFFFFFu;
    for (unsigned char byte : bytes) c = table[(c ^ byte) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

std::string EncodeJournalRecord(char kind, size_t index, std::string_view bytes) {
    char header[96];
    const int length = std::snprintf(header, sizeof header, "R %c %zu %zu %08x\n", kind, index, bytes.size(),
                                     static_cast<unsigned>(Crc32(bytes)));
    std::string record(header, static_cast<size_t>(length));
    record += bytes;
    record += '\n';
    return record;
}

JournalContent ParseJournal(std::string_view rest) {
    JournalContent content;
    while (!rest.empty()) {
        uint64_t index = 0, length = 0, crc = 0;
        if (rest.size() < 4 || rest[0] != 'R' || rest[1] != ' ') break;
        const char kind = rest[2];
        rest.remove_prefix(3);
        if (!Expect(rest, ' ') || !ReadNumber(rest, index, 10) || !Expect(rest, ' ') ||
            !ReadNumber(rest, length, 10) || !Expect(rest, ' ') || !ReadNumber(rest, crc, 16) || !Expect(rest, '\n'))
            break;
        if (length >= rest.size()) break;  // cut off: the bytes and the final line feed must all be there
        const std::string_view bytes = rest.substr(0, length);
        if (rest[length] != '\n' || Crc32(bytes) != crc) break;
        rest.remove_prefix(length + 1);

        if (kind == 'S') {
            content = JournalContent{};
            content.started = true;
        } else if (kind == 'L' && content.started) {
            content.sent.push_back({static_cast<size_t>(index), std::string(bytes)});
        } else if (kind == 'E' && content.started) {
            content.ended = true;
        } else {
            break;
        }
    }
    return content;
}

JournalContent ReadJournal(const std::string& listPath) {
    const std::string path = JournalPathFor(listPath);
    if (!PathExists(path)) return {};
    return ParseJournal(ReadWholeFile(path));
}

std::vector<size_t> ApplyJournal(const JournalContent& journal, TextLines& lines) {
    std::set<size_t> applied;
    for (const auto& record : journal.sent) {
        if (record.index >= lines.lines.size()) continue;
        lines.lines[record.index] = record.line;
        applied.insert(record.index);
    }
    return {applied.begin(), applied.end()};
}

int RecoverInterruptedRun(const std::string& listPath, TextLines& lines) {
    const JournalContent journal = ReadJournal(listPath);
    if (!journal.Interrupted()) return 0;
    return static_cast<int>(ApplyJournal(journal, lines).size());
}

RunJournal::RunJournal(const std::string& listPath) : path_(JournalPathFor(listPath)) {
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0600);
    if (fd_ < 0) throw CannotCreateError(path_, errno);
    Write('S', 0, listPath);
    if (::fdatasync(fd_) != 0) {
        const int error = errno;
        ::close(fd_);
        throw CannotCreateError(path_, error);
    }
    syncer_ = std::thread([this] { SyncLoop(); });
}

RunJournal::~RunJournal() {
    if (fd_ < 0) return;
    // Closed without Finish (the run ended by an error): what is pending still goes to disk.
    StopSyncing();
    ::fdatasync(fd_);
    ::close(fd_);
}

void RunJournal::Write(char kind, size_t index, std::string_view bytes) {
    WriteAll(fd_, EncodeJournalRecord(kind, index, bytes), path_);
}

void RunJournal::SyncLoop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        syncerIdle_ = true;
        wake_.wait(lock, [this] { return dirty_ || stopping_; });
        syncerIdle_ = false;
        if (!dirty_) return;  // stopping, nothing pending
        dirty_ = false;
        lock.unlock();
        const int result = ::fdatasync(fd_);
        const int error = errno;
        lock.lock();
        if (result != 0 && syncError_ == 0) syncError_ = error;
        // At most one sync per interval: many small syncs in a row slow every other write to the disk.
        wake_.wait_for(lock, kSyncInterval, [this] { return stopping_; });
    }
}

void RunJournal::StopSyncing() {
    if (!syncer_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    syncer_.join();
}

void RunJournal::ThrowIfSyncFailed() {
    std::lock_guard lock(mutex_);
    if (syncError_ != 0) throw CannotCreateError(path_, syncError_);
}

void RunJournal::RecordSent(size_t index, std::string_view line) {
    ThrowIfSyncFailed();
    Write('L', index, line);
    // Only an idle syncer needs waking. One in its pause between two syncs finds the flag when the pause
    // ends; waking it for every record cost two system calls and a thread switch per mail.
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        wake = syncerIdle_ && !dirty_;
        dirty_ = true;
    }
    if (wake) wake_.notify_one();
}

void RunJournal::Finish() {
    StopSyncing();
    ThrowIfSyncFailed();
    Write('E', 0, {});
    if (::fdatasync(fd_) != 0) throw CannotCreateError(path_, errno);
    ::close(fd_);
    fd_ = -1;
    ::unlink(path_.c_str());
}
