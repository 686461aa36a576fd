#include "mailing/list_recovery.h"

#include "mailing/file_io.h"
#include "mailing/list_lock.h"

#include <algorithm>

EditorRecovery RecoverForEditor(const std::string& listPath, TextLines& lines) {
    EditorRecovery recovery;
    recovery.listPath = listPath;
    try {
        if (ListLock::InUse(listPath)) return recovery;  // a live run's journal, not an interrupted one
    } catch (const EJournalError&) {
        // Whether a run holds the list cannot be told: its journal is left alone, and a save is refused.
        return recovery;
    }
    const JournalContent journal = ReadJournal(listPath);
    if (!journal.Interrupted()) return recovery;
    const JournalMatch match = ApplyJournal(journal, lines);
    for (size_t r = 0; r < journal.records.size(); ++r) {
        if (journal.records[r].kind == 'L' && match.lineOf[r]) recovery.shown.push_back(journal.records[r]);
    }
    recovery.gone = match.Dropped();
    return recovery;
}

std::optional<std::string> SaveEditedList(const std::string& listPath, std::string text, const EditorRecovery& loaded) {
    ListLock lock;
    // A lock file that cannot be made or opened refuses the save (EJournalError): a run of another user
    // may be sending the list.
    if (!lock.TryLock(listPath)) return std::nullopt;
    JournalContent journal = ReadJournal(listPath);
    const bool interrupted = journal.Interrupted() && !journal.records.empty();
    if (interrupted) {
        // The sends the table showed count as being in the text already: they take part in finding the
        // lines, but are not written again (the user may have changed those cells since).
        std::vector<JournalRecord> shown = loaded.listPath == listPath ? loaded.shown : std::vector<JournalRecord>{};
        for (JournalRecord& record : journal.records) {
            const auto found = std::find(shown.begin(), shown.end(), record);
            if (found == shown.end()) continue;
            record.kind = 'K';
            shown.erase(found);
        }
        TextLines lines = SplitTextLines(text);
        ApplyJournal(journal, lines);
        text = JoinTextLines(lines);
    }
    WriteFileAtomic(listPath, text);
    if (interrupted) RewriteJournalAsKept(listPath, journal.records, journal.copies);
    return text;
}
