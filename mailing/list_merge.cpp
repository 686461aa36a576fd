#include "mailing/list_merge.h"

#include "mailing/list_file.h"
#include "mailing/run_journal.h"

#include <sys/stat.h>
#include <unordered_set>

FileIdentity IdentifyFile(const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) return {};
    FileIdentity identity;
    identity.exists = true;
    identity.device = status.st_dev;
    identity.inode = status.st_ino;
    identity.size = status.st_size;
    identity.modifiedNs = static_cast<int64_t>(status.st_mtim.tv_sec) * 1'000'000'000 + status.st_mtim.tv_nsec;
    return identity;
}

namespace {

// A line as the comparison sees it: who it is for and what its field 6 says.
std::string IdentityAndResult(std::string_view line) {
    return LineIdentity(line) + Trim(SplitListLine(line).Result);
}

}  // namespace

SendTimeMerge MergeNewerSendTimes(std::string_view loaded, std::string_view newer, std::string text) {
    std::unordered_set<std::string> unchanged;
    for (const std::string& line : SplitTextLines(loaded).lines) {
        if (!IsBlankLine(line)) unchanged.insert(IdentityAndResult(line));
    }
    // The changed lines become a journal of sends, so that they find their rows exactly as a resume finds
    // a killed run's sends: by identity, wherever the user moved or sorted them.
    JournalContent changes;
    changes.started = true;
    const std::vector<std::string> newerLines = SplitTextLines(newer).lines;
    for (size_t i = 0; i < newerLines.size(); ++i) {
        if (IsBlankLine(newerLines[i]) || unchanged.contains(IdentityAndResult(newerLines[i]))) continue;
        changes.records.push_back({'L', i, newerLines[i]});
    }
    if (changes.records.empty()) return {std::move(text), {}, 0};
    TextLines lines = SplitTextLines(text);
    const JournalMatch match = ApplyJournal(changes, lines);
    return {JoinTextLines(lines), match.Lines(), match.Dropped()};
}
