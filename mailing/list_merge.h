#pragma once
// The list editor and a list that changed behind its back. A mailing run (of this program or of another
// one) writes send times and "unsicher: ..." into field 6 of the list while the editor holds an older
// copy in its table; saving that table over the list would throw those away. So the editor remembers
// which file it loaded (FileIdentity) and the lines it loaded, sees a change before it saves, and can
// carry the other program's field 6 into its own text.

#include <cstdint>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

// A file as stat sees it: the same file (device and inode) with the same size and modification time.
// A replacing write (a new file renamed over the list) changes the inode, an overwrite in place the
// size or the time (kept to the nanosecond).
struct FileIdentity {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    int64_t modifiedNs = 0;

    bool operator==(const FileIdentity&) const = default;
};

// What stat says of `path` now (following links); `exists` is false when there is nothing to stat.
FileIdentity IdentifyFile(const std::string& path);

struct SendTimeMerge {
    std::string text;           // the text to save
    std::vector<size_t> lines;  // the lines of `text` that now hold a field 6 of the newer file, ascending
    int gone = 0;               // changed lines of the newer file that match no line of the text
};

// Takes the field 6 of every line of `newer` that someone else changed since the editor loaded `loaded`
// (a line whose identity and field 6 together do not occur among the loaded lines) into the line of
// `text` with the same identity, found as a resume finds a journal's lines. Every other line of `text`
// stays as the user left it.
SendTimeMerge MergeNewerSendTimes(std::string_view loaded, std::string_view newer, std::string text);
