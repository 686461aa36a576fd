#pragma once
// The standard message text "defaultmail.txt": its content when the program creates it.

#include <array>
#include <string_view>

// Nine lines; the placeholders are replaced for each recipient during a run.
inline constexpr std::array<std::string_view, 9> kStandardTextLines = {
    "Sehr geehrte(r) Frau/Herr $PreName $Name,",
    "",
    "vielen Dank, dass Sie sich für unsere Produkte entschieden haben.",
    "Anbei erhalten Sie die angeforderten Informationen. Bitte bewahren Sie diese sicher auf,",
    "Für weiter Infos stehen wir Ihnen gern zur Verfügung. Sie erreichen uns innerhalb unserer",
    "Geschäftszeiten von Mo.-Frei. 9:00 - 18:00 Uhr.",
    "",
    "Mit freundlichen Grüssen",
    "M. Mustermann",
};
