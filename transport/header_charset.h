#pragma once
// The charset of encoded header words, chosen from the user's locale.

#include <string>
#include <string_view>

// How header text (and, for iso2022jp, the body) is handed to the wire.
enum class TTransfer { bit7, bit8, iso2022jp };

// The three values of the charset choice, always produced together. HeaderEncoding is 'B' or 'Q';
// '8' (no encoding) only comes from a caller's own choice.
struct THeaderCharset {
    TTransfer Transfer = TTransfer::bit8;
    char HeaderEncoding = 'Q';
    std::string CharSet;

    bool operator==(const THeaderCharset&) const = default;
};

// The choice for a locale name ("language[_TERRITORY][.codeset][@modifier]", as in LANG) and the
// locale's charset (as nl_langinfo(CODESET) names it). On a UTF-8 locale the charset is "UTF-8" with
// the language's letter: the header bytes are UTF-8 and must be labelled so. On an 8-bit locale the
// legacy table applies: Chinese GB2312 or Big5, Japanese ISO-2022-JP, Korean EUC-KR, else ISO-8859-1.
THeaderCharset ChooseHeaderCharsetFor(std::string_view localeName, std::string_view localeCharset);

// The choice for the user's locale (LC_ALL, LC_CTYPE, LANG as the C library resolves them), read once.
THeaderCharset ChooseHeaderCharset();

// The choice for text in `textCharset` ("UTF-8", whatever the locale): labelled as what it is, with the
// locale's letter. An empty name means the locale's charset, as ChooseHeaderCharset.
THeaderCharset ChooseHeaderCharsetForText(std::string_view textCharset);

// True when the charset name means UTF-8 ("UTF-8", "utf8", ...).
bool IsUtf8CharsetName(std::string_view charset);
