#pragma once
// The text of the settings file: eight lines (host, mail address, password, port, the address again,
// three reserved lines), enciphered as a whole so that the password is not stored readable. Pure
// functions over bytes; reading and writing the file is SettingsFile's.

#include <array>
#include <string>
#include <string_view>

// A byte-wise Vigenère cipher: byte j of the text moves by key byte (j mod key length), starting afresh
// with every text. Not a protection against anyone who has the program, only against a casual look.
class SettingsCipher {
public:
    static std::string Encipher(std::string_view key, std::string_view text);
    static std::string Decipher(std::string_view key, std::string_view text);
};

inline constexpr std::string_view kSettingsKey = "wemp";

// Whether a loaded settings text is enciphered (or plain, written by hand). Plain text is mostly printable
// characters; enciphered text mostly is not, once the parts an enciphered blank or empty line leaves
// behind are removed.
bool LooksEnciphered(std::string_view text);

// The four account values as text, exactly as typed (not trimmed).
struct AccountSettings {
    std::string host;
    std::string user;      // sender mail address, also the login name
    std::string password;
    std::string port;

    bool operator==(const AccountSettings&) const = default;
};

using ReservedLines = std::array<std::string, 3>;

// The plain eight lines, each followed by CR LF.
std::string PlainSettingsContent(const AccountSettings& values, const ReservedLines& reserved);
// Takes lines 1 to 8 of a plain text; missing lines are empty, anything after line 8 is ignored.
AccountSettings ParseSettingsText(std::string_view plain, ReservedLines& reserved);
// A loaded file's bytes to values: deciphered first when they look enciphered.
AccountSettings DecodeSettingsFile(std::string_view stored, ReservedLines& reserved);
// Values to the bytes of the file.
std::string EncodeSettingsFile(const AccountSettings& values, const ReservedLines& reserved);
