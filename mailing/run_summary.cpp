#include "mailing/run_summary.h"

namespace {

// A box must fit on the screen: a run with thousands of failures lists the first ones and the count.
constexpr size_t kMostLinesListed = 20;

void AppendLines(std::string& text, const char* title, const std::vector<RunSummary::Line>& lines) {
    if (lines.empty()) return;
    text += "\n\n";
    text += title;
    for (size_t i = 0; i < lines.size() && i < kMostLinesListed; ++i) {
        const RunSummary::Line& line = lines[i];
        text += "\nZeile " + std::to_string(line.number) + ", " + line.address;
        if (!line.reason.empty()) text += ": " + line.reason;
    }
    if (lines.size() > kMostLinesListed) {
        text += "\n… und " + std::to_string(lines.size() - kMostLinesListed) + " weitere";
    }
}

void AppendPart(std::string& text, int count, const char* what) {
    if (count == 0) return;
    if (text.back() != ':') text += ",";
    text += " " + std::to_string(count) + " " + what;
}

}  // namespace

std::string RunSummary::Counts() const {
    std::string text = std::to_string(sent) + " gesendet, " + std::to_string(failed.size()) + " fehlgeschlagen, " +
                       std::to_string(inDoubt.size()) + " unsicher, " + std::to_string(Skipped()) + " übersprungen";
    if (notTried > 0) text += ", " + std::to_string(notTried) + " nicht versucht";
    return text + ".";
}

std::string FailedStatus(const std::string& sendTime, const std::string& reason) {
    std::string text = kFailedStatusStart + sendTime + (reason.empty() ? "" : ": " + reason);
    for (char& c : text) {
        if (c == ';') c = ',';  // a field can hold no ";"
    }
    if (text.size() <= kFailedStatusLimit) return text;
    size_t cut = kFailedStatusLimit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;  // not inside a character
    return text.substr(0, cut);
}

std::string RunSummary::Text() const {
    std::string text = Counts();
    if (Skipped() > 0) {
        std::string parts = "\nÜbersprungen:";
        AppendPart(parts, noFirstName, "ohne Vorname");
        AppendPart(parts, noAddress, "ohne Adresse");
        AppendPart(parts, emptyMessage, "mit leerem Text");
        AppendPart(parts, alreadySent, "bereits vor der Unterbrechung gesendet");
        text += parts + ".";
    }
    AppendLines(text, "Fehlgeschlagen:", failed);
    AppendLines(text, "Unsicher (vielleicht zugestellt, daher nicht noch einmal gesendet):", inDoubt);
    const std::string copies = copiesMissing.size() == 1
                                   ? std::string("1 Kopie fehlt im Ordner „Gesendet“:")
                                   : std::to_string(copiesMissing.size()) + " Kopien fehlen im Ordner „Gesendet“:";
    AppendLines(text, copies.c_str(), copiesMissing);
    return text;
}
