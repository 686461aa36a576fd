#pragma once
// The list editor and an interrupted run. When the editor loads a list that a killed run left a journal
// for, it shows the recorded send times in the table; when it saves over that list, the file gets every
// send time the editor did not show yet (a run may have been killed since the load) and the journal then
// marks them all as being in the list, so the next run neither writes them again nor forgets what a
// resume must skip. Nothing of this happens while a run holds the list: its journal is live, and a save
// over its list is refused.

#include "mailing/list_file.h"
#include "mailing/run_journal.h"

#include <optional>
#include <string>
#include <vector>

struct EditorRecovery {
    std::string listPath;
    std::vector<JournalRecord> shown;  // the recorded sends whose times the editor put into its table
    int gone = 0;                      // recorded sends whose line was not found
};

// Puts an interrupted run's send times into the loaded `lines` of `listPath`.
EditorRecovery RecoverForEditor(const std::string& listPath, TextLines& lines);

// Writes the editor's `text` over `listPath` (atomically), with the send times that `loaded` did not show,
// and gives back the text written. Nothing when a run holds the list: the save is refused. Throws EFileError.
std::optional<std::string> SaveEditedList(const std::string& listPath, std::string text, const EditorRecovery& loaded);
