#pragma once
// What a mailing run did, told once at its end: how many mails went out, failed, are in doubt or were
// skipped, and for every failed or doubtful line its position, address and the server's reason.

#include <string>
#include <vector>

struct RunSummary {
    struct Line {
        int number = 0;  // the line's position in the list, from 1
        std::string address;
        std::string reason;  // cleaned for showing already
    };

    int sent = 0;
    int noFirstName = 0;
    int noAddress = 0;
    int emptyMessage = 0;
    int alreadySent = 0;  // sent before an interruption
    int notTried = 0;     // lines with a recipient that a stop or an error left before they were reached
    std::vector<Line> failed;
    std::vector<Line> inDoubt;
    // Mails that went out, but whose copy is not in the Sent folder.
    std::vector<Line> copiesMissing;

    // Whether the run tried to send anything: only then is there something to tell.
    bool AnySend() const { return sent > 0 || !failed.empty() || !inDoubt.empty(); }
    // Whether there is a summary to show: a send, or a copy of an earlier run's mail that failed.
    bool AnythingToTell() const { return AnySend() || !copiesMissing.empty(); }
    int Skipped() const { return noFirstName + noAddress + emptyMessage + alreadySent; }
    // The text of the information box and of postira-run's last lines.
    std::string Text() const;
    // Its first sentence, the counts alone: what the status panel adds to the run's final status.
    std::string Counts() const;
};

// Field 6 of a line whose mail failed: "fehlgeschlagen <send time>: <reason>", at most
// kFailedStatusLimit bytes (cut at a character), without ";", so that the list, which is the log, tells
// the truth about the last try.
inline constexpr const char* kFailedStatusStart = "fehlgeschlagen ";
inline constexpr size_t kFailedStatusLimit = 200;
std::string FailedStatus(const std::string& sendTime, const std::string& reason);

// The field 6 of a line whose mail may have arrived: the line is not sent again by itself.
inline constexpr const char* kInDoubtStatus = "unsicher: Verbindung nach dem Senden getrennt";
