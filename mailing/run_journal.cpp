#include "mailing/run_journal.h"

#include "mailing/copy_spool.h"
#include "mailing/file_io.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <cstring>
#include <unordered_map>
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

std::string JournalPathFor(const std::string& listPath) { return ResolvedPath(listPath) + ".journal"; }

EJournalError JournalCreateError(const std::string& listPath, int error) {
    return EJournalError("Der Mailingdurchlauf kann seinen Fortschritt im Ordner der Empfängerliste \"" + listPath +
                             "\" nicht sichern und sendet deshalb nicht. Grund: " + std::strerror(error),
                         error);
}

EJournalError JournalReadError(const std::string& listPath, int error) {
    return EJournalError("Der Fortschritt des unterbrochenen Mailingdurchlaufs zur Empfängerliste \"" + listPath +
                             "\" kann nicht gelesen werden. Grund: " + std::strerror(error),
                         error);
}

EJournalError JournalWriteError(const std::string& listPath, int error) {
    return EJournalError("Der Mailingdurchlauf kann seinen Fortschritt zur Empfängerliste \"" + listPath +
                             "\" nicht mehr sichern und wurde beendet. Grund: " + std::strerror(error),
                         error);
}

EJournalError ListInUseError(const std::string& listPath) {
    return EJournalError("Mit der Empfängerliste \"" + listPath +
                         "\" läuft gerade ein anderer Mailingdurchlauf. Es kann nur ein Durchlauf zur Zeit an eine "
                         "Liste senden.");
}

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
        } else if ((kind == 'L' || kind == 'K') && content.started) {
            content.records.push_back({kind, static_cast<size_t>(index), std::string(bytes)});
        } else if (kind == 'C' && content.started) {
            content.copies.emplace_back(bytes);
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
    try {
        return ParseJournal(ReadWholeFile(path));
    } catch (const EFileError& error) {
        throw JournalReadError(listPath, error.Errno());
    }
}

std::string LineIdentity(std::string_view line) {
    const RecipientRecord record = SplitListLine(line);
    std::string identity;
    for (int k : {1, 2, 3, 4, 5, 7}) {
        identity += TrimView(record.Field(k));
        identity += ';';
    }
    return identity;
}

std::vector<size_t> JournalMatch::Lines() const {
    std::vector<size_t> lines;
    for (const auto& line : lineOf)
        if (line) lines.push_back(*line);
    std::sort(lines.begin(), lines.end());
    return lines;
}

int JournalMatch::Dropped() const {
    return static_cast<int>(std::count(lineOf.begin(), lineOf.end(), std::nullopt));
}

namespace {

// The lines that share one key, in list order, and the first of them that may still be free.
struct Candidates {
    std::vector<size_t> lines;
    size_t next = 0;
};

std::optional<size_t> TakeFree(Candidates* candidates, std::vector<bool>& taken) {
    if (candidates == nullptr) return std::nullopt;
    while (candidates->next < candidates->lines.size() && taken[candidates->lines[candidates->next]])
        ++candidates->next;
    if (candidates->next == candidates->lines.size()) return std::nullopt;
    const size_t line = candidates->lines[candidates->next++];
    taken[line] = true;
    return line;
}

std::string WithSendTime(std::string identity, std::string_view line) {
    identity += TrimView(SplitListLine(line).Result);
    return identity;
}

JournalMatch MatchJournal(const JournalContent& journal, const TextLines& lines) {
    const size_t count = lines.lines.size();
    std::vector<std::string> identities(count);
    std::unordered_map<std::string, Candidates> byIdentity, byIdentityAndTime;
    for (size_t i = 0; i < count; ++i) {
        if (IsBlankLine(lines.lines[i])) continue;
        identities[i] = LineIdentity(lines.lines[i]);
        byIdentity[identities[i]].lines.push_back(i);
        byIdentityAndTime[WithSendTime(identities[i], lines.lines[i])].lines.push_back(i);
    }
    auto find = [](auto& map, const std::string& key) {
        const auto found = map.find(key);
        return found == map.end() ? nullptr : &found->second;
    };

    std::vector<bool> taken(count, false);
    JournalMatch match;
    const size_t records = journal.records.size();
    match.lineOf.assign(records, std::nullopt);
    std::vector<std::string> recordIdentities(records);
    for (size_t r = 0; r < records; ++r) recordIdentities[r] = LineIdentity(journal.records[r].line);
    // First the lines that already show a record's send time: 'L' records before 'K' ones, so that
    // applying a journal a second time finds every written line again and writes nowhere else.
    for (const char kind : {'L', 'K'}) {
        for (size_t r = 0; r < records; ++r) {
            const JournalRecord& record = journal.records[r];
            if (record.kind != kind) continue;
            match.lineOf[r] = TakeFree(find(byIdentityAndTime, WithSendTime(recordIdentities[r], record.line)), taken);
        }
    }
    // Then the line at the record's old place, else the first free line of that recipient.
    for (size_t r = 0; r < records; ++r) {
        if (match.lineOf[r]) continue;
        const size_t index = journal.records[r].index;
        if (index < count && !taken[index] && !IsBlankLine(lines.lines[index]) &&
            identities[index] == recordIdentities[r]) {
            taken[index] = true;
            match.lineOf[r] = index;
        } else {
            match.lineOf[r] = TakeFree(find(byIdentity, recordIdentities[r]), taken);
        }
    }
    return match;
}

std::string JournalWithRecordsKept(const std::string& listPath, const std::vector<JournalRecord>& records,
                                   const std::vector<std::string>& copies) {
    std::string text = EncodeJournalRecord('S', 0, listPath);
    for (const JournalRecord& record : records) text += EncodeJournalRecord('K', record.index, record.line);
    for (const std::string& copy : copies) text += EncodeJournalRecord('C', 0, copy);
    return text;
}

}  // namespace

JournalMatch ApplyJournal(const JournalContent& journal, TextLines& lines) {
    JournalMatch match = MatchJournal(journal, lines);
    for (size_t r = 0; r < journal.records.size(); ++r) {
        const JournalRecord& record = journal.records[r];
        if (record.kind != 'L' || !match.lineOf[r]) continue;
        std::string& line = lines.lines[*match.lineOf[r]];
        RecipientRecord fields = SplitListLine(line);
        std::string sendTime = SplitListLine(record.line).Result;
        if (fields.Result == sendTime) continue;
        fields.Result = std::move(sendTime);
        line = JoinFieldsUntrimmed(fields);
        ++match.written;
    }
    return match;
}

void RewriteJournalAsKept(const std::string& listPath, const std::vector<JournalRecord>& records,
                          const std::vector<std::string>& copies) {
    // Written whole and renamed into place, its folder synced: at every instant either the old journal or
    // the complete new one is there, so the records carried over are never lost in between.
    try {
        WriteFileAtomic(JournalPathFor(listPath), JournalWithRecordsKept(listPath, records, copies), 0600, true);
    } catch (const EFileError& error) {
        throw JournalCreateError(listPath, error.Errno());
    }
}

RunJournal::RunJournal(const std::string& listPath, const std::vector<JournalRecord>& carried)
    : listPath_(listPath), path_(JournalPathFor(listPath)) {
    RewriteJournalAsKept(listPath, carried);
    for (const JournalRecord& record : carried) records_.push_back({'K', record.index, record.line});
    fd_ = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd_ < 0) throw JournalCreateError(listPath_, errno);
    syncer_ = std::thread([this] { SyncLoop(); });
}

RunJournal::~RunJournal() {
    // Closed without Finish or KeepForResume (the list could not be written): the records stay as they
    // are, as after a crash, and what is pending still goes to disk.
    Close();
}

void RunJournal::Close() {
    if (fd_ < 0) return;
    StopSyncing();
    ::fdatasync(fd_);
    ::close(fd_);
    fd_ = -1;
}

void RunJournal::Write(char kind, size_t index, std::string_view bytes) {
    std::lock_guard lock(writeMutex_);
    try {
        WriteAll(fd_, EncodeJournalRecord(kind, index, bytes), path_);
    } catch (const EFileError& error) {
        const EJournalError failure = JournalWriteError(listPath_, error.Errno());
        throw EJournalRecordLost(failure.what(), failure.Errno());
    }
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
    if (syncError_ != 0) throw JournalWriteError(listPath_, syncError_);
}

void RunJournal::MarkDirty() {
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

void RunJournal::RecordSent(size_t index, std::string_view line) {
    records_.push_back({'L', index, std::string(line)});
    Write('L', index, line);
    MarkDirty();
    // Reported only now that this mail's record is written: an earlier failed sync must not cost it.
    ThrowIfSyncFailed();
}

void RunJournal::RecordCopied(std::string_view file) {
    Write('C', 0, file);
    {
        std::lock_guard lock(writeMutex_);
        copies_.emplace_back(file);
    }
    MarkDirty();
}

void RunJournal::KeepForResume() {
    Close();
    if (records_.empty() && !HasWaitingCopies(listPath_)) {
        ::unlink(path_.c_str());
        RemoveCopySpool(listPath_);
        return;
    }
    RewriteJournalAsKept(listPath_, records_, copies_);
}

void RunJournal::Finish() {
    StopSyncing();
    // The list file holds every result now; the journal has done its work. The end record keeps a journal
    // whose removal did not reach the disk from being taken for an interrupted run.
    try {
        Write('E', 0, {});
        ::fdatasync(fd_);
    } catch (const EFileError&) {
    }
    ::close(fd_);
    fd_ = -1;
    // The end record keeps the spool from being taken for an interrupted run's should the removal not
    // get through.
    RemoveCopySpool(listPath_);
    ::unlink(path_.c_str());
}
