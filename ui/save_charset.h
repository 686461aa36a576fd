#pragma once
// Saving a text that was read as Windows-1252 (a file brought over from Windows) after characters were
// typed or pasted that Windows-1252 lacks: rather than write them as "?", the user is asked whether to
// save the text as UTF-8.

#include <QString>

inline constexpr const char* kSaveAsUtf8Question =
    "Die Datei ist im Zeichensatz Windows-1252 gespeichert. Der Text enthält Zeichen, die es darin nicht gibt. "
    "Soll er als UTF-8 gespeichert werden? Bei \"Nein\" wird nichts gespeichert.";

// True when the text may be saved: it is not Windows-1252, Windows-1252 holds all of it, or the user
// chose UTF-8 (then `legacy` becomes false). False when the user said "Nein".
bool MaySaveWithoutLoss(const QString& text, bool& legacy);
