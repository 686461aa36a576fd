#include "transport/header_charset.h"

#include <langinfo.h>
#include <locale.h>

#include <cstdlib>

#include "transport/byte_text.h"

namespace {

// Upper case without "-" and "_", so that "utf8", "UTF-8" and "Utf_8" compare equal.
std::string NormalizedCharsetName(std::string_view name) {
    std::string result;
    for (char c : UpperCaseAscii(name)) {
        if (c != '-' && c != '_') result += c;
    }
    return result;
}

struct LocaleParts {
    std::string language;   // lower case, e.g. "zh"
    std::string territory;  // upper case, e.g. "TW"
    std::string script;     // the modifier, e.g. "hans"
};

LocaleParts SplitLocaleName(std::string_view name) {
    LocaleParts parts;
    std::size_t at = name.find('@');
    if (at != std::string_view::npos) parts.script = std::string(name.substr(at + 1));
    name = name.substr(0, at);
    name = name.substr(0, name.find('.'));
    std::size_t underscore = name.find_first_of("_-");
    for (char c : name.substr(0, underscore)) {
        parts.language += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    if (underscore != std::string_view::npos) parts.territory = UpperCaseAscii(name.substr(underscore + 1));
    return parts;
}

bool IsSimplifiedChinese(const LocaleParts& parts) {
    if (SameTextIgnoringCase(parts.script, "hans")) return true;
    if (SameTextIgnoringCase(parts.script, "hant")) return false;
    return parts.territory == "CN" || parts.territory == "SG";
}

// The locale name the C library would use for LC_CTYPE: LC_ALL, then LC_CTYPE, then LANG.
std::string UserLocaleName() {
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0') return value;
    }
    return "C";
}

std::string UserLocaleCharset(const std::string& localeName) {
    locale_t locale = newlocale(LC_CTYPE_MASK, localeName.c_str(), static_cast<locale_t>(nullptr));
    if (locale != static_cast<locale_t>(nullptr)) {
        std::string codeset = nl_langinfo_l(CODESET, locale);
        freelocale(locale);
        return codeset;
    }
    // A locale that is not installed: take the charset its name states, if any.
    std::size_t dot = localeName.find('.');
    if (dot == std::string::npos) return "";
    return localeName.substr(dot + 1, localeName.find('@', dot) - dot - 1);
}

}  // namespace

bool IsUtf8CharsetName(std::string_view charset) { return NormalizedCharsetName(charset) == "UTF8"; }

THeaderCharset ChooseHeaderCharsetFor(std::string_view localeName, std::string_view localeCharset) {
    LocaleParts parts = SplitLocaleName(localeName);
    THeaderCharset choice;
    if (parts.language == "zh") {
        choice = {TTransfer::bit8, 'B', IsSimplifiedChinese(parts) ? "GB2312" : "Big5"};
    } else if (parts.language == "ja") {
        choice = {TTransfer::iso2022jp, 'B', "ISO-2022-JP"};
    } else if (parts.language == "ko") {
        choice = {TTransfer::bit8, 'B', "EUC-KR"};
    } else {
        choice = {TTransfer::bit8, 'Q', "ISO-8859-1"};
    }
    // The C and POSIX locales name plain ASCII; Qt 6 treats their text as UTF-8, and so do we. A
    // locale without any charset information is taken as UTF-8 too, the charset of current systems.
    std::string normalized = NormalizedCharsetName(localeCharset);
    bool utf8 = normalized.empty() || normalized == "UTF8" || normalized == "ANSIX3.41968" ||
                normalized == "ASCII" || normalized == "USASCII";
    if (utf8) {
        // UTF-8 bytes are labelled as what they are; the ISO-2022-JP conversion expects Shift_JIS
        // and must not run over them.
        choice.CharSet = "UTF-8";
        choice.Transfer = TTransfer::bit8;
    }
    return choice;
}

THeaderCharset ChooseHeaderCharset() {
    static const THeaderCharset choice = [] {
        std::string name = UserLocaleName();
        return ChooseHeaderCharsetFor(name, UserLocaleCharset(name));
    }();
    return choice;
}

THeaderCharset ChooseHeaderCharsetForText(std::string_view textCharset) {
    if (textCharset.empty()) return ChooseHeaderCharset();
    static const std::string localeName = UserLocaleName();
    return ChooseHeaderCharsetFor(localeName, textCharset);
}
