#pragma once
// A mailing that holds each finding of the check, with the files its lines name, and what the check must
// find in it: the same list for the check of the mailing core and for postira-run --check.

#include "mailing/mailing_check.h"
#include "tests/support/temp_dir.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

struct ExpectedFinding {
    int number;
    std::string address;
    CheckFinding kind;
    std::string text;
};

// The paths in a folder, sorted: a check must leave it as it was.
inline std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Writes "sendlist.csv", the standard text and the files its lines name into the folder. Line 3 is blank
// and line 1 clean; line 13 holds an address the parser rejects, so a run would end there and the mails
// of line 14 do not count.
inline std::vector<ExpectedFinding> WriteMailingWithEveryFinding(const TempDir& temp) {
    temp.Write("defaultmail.txt", "Hallo $PreName $Name,\r\nText.\r\n");
    temp.Write("vorname.txt", "Hallo $Vorname $Nachname!\r\n");
    temp.Write("leer.txt", " \r\n");
    temp.Write("klein.pdf", "%PDF");
    temp.Write("gross.mp4", "");
    // 21 MiB that nothing writes or reads: the check looks at the size only.
    if (truncate(temp.File("gross.mp4").c_str(), 21 << 20) != 0) return {};
    const std::string vorname = temp.File("vorname.txt"), leer = temp.File("leer.txt");
    const std::string gross = temp.File("gross.mp4"), weg = temp.File("weg.txt"), wegPdf = temp.File("weg.pdf");
    temp.Write("sendlist.csv", "Meier;Hans;hans@x.de;Angebot;default;;" + temp.File("klein.pdf") + ";\r\n"
                               "Kurz;;k@x.de;S;;;;\r\n"
                               "\r\n"
                               "Ohne;Adresse; ;S;;;;\r\n"
                               "X;Kai;kunde@example;S;;;;\r\n"
                               "Leer;Eva;eva@x.de;S;" + leer + ";;;\r\n"
                               "Platz;Paul;paul@x.de;S;" + vorname + ";;;\r\n"
                               "Weg;Wim;wim@x.de;S;" + weg + ";;;\r\n"
                               "Ohne;Anna;anna@x.de;S;;;" + wegPdf + ";\r\n"
                               "Meier;Hans; HANS@X.DE ;Angebot;" + vorname + ";;;\r\n"
                               "Still;Stefan;stefan@x.de; ;;;;\r\n"
                               "Gross;Gerd;gerd@x.de;Film;;;" + gross + ";\r\n"
                               "Zu;Zoe;<a@b.example>@c.example;S;;;;\r\n"
                               "Nach;Nora;nora@x.de;S;;;;\r\n");
    return {
        {2, "k@x.de", CheckFinding::NoFirstName, "kein Vorname: die Zeile wird nicht gesendet"},
        {4, "", CheckFinding::NoAddress, "keine Adresse: die Zeile wird nicht gesendet"},
        // The run sends it, so the check counts it; the server will refuse it.
        {5, "kunde@example", CheckFinding::DoubtfulAddress,
         "Adresse ungültig (kein \"@\" mit vollständiger Domain): die Mail geht hinaus, der Server weist sie aber "
         "wahrscheinlich ab"},
        {6, "eva@x.de", CheckFinding::EmptyText, "Text \"" + leer + "\" ist leer: die Zeile wird nicht gesendet"},
        {7, "paul@x.de", CheckFinding::UnknownPlaceholder,
         "unbekannte Platzhalter \"$Vorname\" (gemeint ist wohl \"$Prename\"), \"$Nachname\" (gemeint ist wohl "
         "\"$Name\"): sie bleiben so in den 2 Mails mit dem Text \"" + vorname + "\" stehen"},
        {8, "wim@x.de", CheckFinding::TextFileMissing, "Textdatei \"" + weg + "\" fehlt: es geht der Standardtext hinaus"},
        {9, "anna@x.de", CheckFinding::AttachmentMissing, "Anhang \"" + wegPdf + "\" fehlt: die Mail geht ohne Anhang hinaus"},
        {10, "HANS@X.DE", CheckFinding::DuplicateAddress,
         "dieselbe Adresse mit demselben Betreff wie Zeile 1: die Mail geht zweimal an sie"},
        {11, "stefan@x.de", CheckFinding::EmptySubject, "leerer Betreff: die Mail geht ohne Betreff hinaus"},
        {12, "gerd@x.de", CheckFinding::AttachmentTooLarge,
         "Anhang \"" + gross + "\" ist 21,0 MB groß: die meisten Anbieter nehmen Mails über 20 MB nicht an"},
        {13, "<a@b.example>@c.example", CheckFinding::BadAddress,
         "Adresse ungültig, sie wird nicht erkannt: der Versand bricht an dieser Zeile ab"},
    };
}

// Lines 1, 5 and 7 to 12 would go out, at 30 mails a minute; the 21 MiB attachment is most of their size.
inline constexpr const char* kEveryFindingSummary =
    "8 Mails würden gesendet, bevor der Versand bei Zeile 13 abbricht, zusammen 28,7 MB; bei 30 Mails pro Minute "
    "dauert der Versand etwa 16 Sekunden.";
