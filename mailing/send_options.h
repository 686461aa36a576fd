#pragma once
// The sending options: account options that the settings file has no room for, and their text in the
// options file: plain text, one "name=value" per line, so that a user can read it; never a secret.

#include <optional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

// The highest sending rate that can be set: ten mails a second is beyond every provider's cap.
inline constexpr int kMaxMailsPerMinute = 600;

// How the account signs in to the server: with the password of the account fields, or with an OAuth2
// token of a provider (the tokens are fetched above this layer).
enum class SignInMethod { Password, Microsoft, Google, OtherOAuth2 };

// The word of the options file and of postira-run --auth: "password", "microsoft", "google", "oauth2".
const char* SignInMethodName(SignInMethod method);
std::optional<SignInMethod> ParseSignInMethod(std::string_view name);

struct SendOptions {
    // The password may go to a server elsewhere over a connection without TLS.
    bool allowPlainLogin = false;
    // At most this many mails a minute, spaced evenly; 0: no limit.
    int mailsPerMinute = 0;
    SignInMethod signIn = SignInMethod::Password;
    // For the OAuth2 methods: the organisation's app registration, the Microsoft tenant, and for another
    // provider its endpoints and scope. Empty values take the provider's defaults.
    std::string clientId;
    // The client IDs of the other OAuth2 methods, kept for when the user chooses one of them again: each
    // method keeps its own (an ID of Microsoft's is no use at Google).
    std::map<SignInMethod, std::string> otherClientIds;
    std::string tenant;
    std::string authorizeUrl;
    std::string tokenUrl;
    std::string deviceUrl;
    std::string scope;
    // The password lives in the desktop's keyring; the settings file keeps an empty password line. The
    // default: the settings file's cipher only veils the password. Where no keyring answers, the password
    // stays in the settings file all the same.
    bool passwordInKeyring = true;
    // "Mailing starten" checks the whole mailing first and shows what it found before anything goes.
    bool checkBeforeRun = true;
    // A copy of every mail the server took goes into the account's Sent folder over IMAP.
    bool sentCopy = false;
    // The IMAP server; empty: the one that goes with the SMTP host (DefaultImapHost).
    std::string imapHost;
    // 0: kImapDefaultPort.
    int imapPort = 0;
    // The folder by its name; empty: the one the server marks as the Sent folder.
    std::string sentFolder;

    bool UsesOAuth2() const { return signIn != SignInMethod::Password; }

    bool operator==(const SendOptions&) const = default;
};

// What a read of the options text found.
struct ParsedOptions {
    SendOptions options;
    // Lines with names this program does not know (written by a newer one): kept and written back.
    std::vector<std::string> unknownLines;
    // The number of the first line that could not be understood; 0 when the whole text was understood.
    // A damaged text gives the defaults and no unknown lines.
    int damagedLine = 0;
};

ParsedOptions ParseOptionsText(std::string_view text);
// A sending rate as written in the options file or given to postira-run: 0 to kMaxMailsPerMinute.
std::optional<int> ParseMailsPerMinute(std::string_view value);
// A port number as written in the options file: 0 (the default) to 65535.
std::optional<int> ParsePortNumber(std::string_view value);
std::string FormatOptionsText(const SendOptions& options, const std::vector<std::string>& unknownLines);
