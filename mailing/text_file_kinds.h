#pragma once
// The file dialogs of the message field by the kind of text (html_text.h): which files "Text öffnen"
// offers, and how "Text speichern" keeps a text's kind. Filters in the dialogs' "|"-separated form
// (ui/services.h); the texts are UTF-8.

#include "mailing/html_text.h"

#include <string>

// Every message text first, then HTML, Markdown, and every file.
std::string OpenTextFilter();

// The kind's own files first, then every file. Empty for a plain text: its dialog is as it always was.
std::string SaveTextFilter(TextKind kind);

// The path with the kind's ending (".html", ".md") when its file name has none, so that a text saved
// as "angebot" stays HTML or Markdown; a plain text's path and a name with an ending as they are.
std::string WithTextEnding(const std::string& path, TextKind kind);
