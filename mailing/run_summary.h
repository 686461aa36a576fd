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
    std::vector<Line> failed;
    std::vector<Line> inDoubt;

    // Whether the run tried to send anything: only then is there something to tell.
    bool AnySend() const { return sent > 0 || !failed.empty() || !inDoubt.empty(); }
    int Skipped() const { return noFirstName + noAddress + emptyMessage + alreadySent; }
    // The text of the information box and of postira-run's last lines.
    std::string Text() const;
};

// The field 6 of a line whose mail may have arrived: the line is not sent again by itself.
inline constexpr const char* kInDoubtStatus = "unsicher: Verbindung nach dem Senden getrennt";
