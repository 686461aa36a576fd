#include "mailing/send_options.h"

#include "mailing/list_file.h"

#include <algorithm>
#include <optional>

namespace {

// An options file is a handful of short lines; anything much larger is not one.
constexpr size_t kMaxOptionsFileSize = 64 * 1024;

constexpr std::string_view kHeader = "# Versandoptionen von Postira (kein Passwort in dieser Datei)";
constexpr std::string_view kAllowPlainLogin = "allow-plain-login";
constexpr std::string_view kMailsPerMinute = "mails-per-minute";
constexpr std::string_view kSignIn = "sign-in";
constexpr std::string_view kPasswordInKeyring = "password-in-keyring";
constexpr std::string_view kCheckBeforeRun = "check-before-run";
constexpr std::string_view kSentCopy = "sent-copy";
constexpr std::string_view kImapPort = "imap-port";
// The highest port number TCP has.
constexpr int kHighestPort = 65535;
// "client-id.microsoft=...": the client ID of a method that is not the chosen one.
constexpr std::string_view kOtherClientId = "client-id.";

// The free texts of the sign-in, each with its name in the file.
struct TextOption {
    std::string_view name;
    std::string SendOptions::*field;
};
constexpr TextOption kTextOptions[] = {
    {"client-id", &SendOptions::clientId},         {"tenant", &SendOptions::tenant},
    {"authorize-url", &SendOptions::authorizeUrl}, {"token-url", &SendOptions::tokenUrl},
    {"device-url", &SendOptions::deviceUrl},       {"scope", &SendOptions::scope},
    {"imap-host", &SendOptions::imapHost},         {"sent-folder", &SendOptions::sentFolder},
};

constexpr std::pair<SignInMethod, const char*> kMethodNames[] = {
    {SignInMethod::Password, "password"},
    {SignInMethod::Microsoft, "microsoft"},
    {SignInMethod::Google, "google"},
    {SignInMethod::OtherOAuth2, "oauth2"},
};

std::string Lower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return lower;
}

std::optional<bool> ParseSwitch(std::string_view value) {
    const std::string word = Lower(value);
    for (const char* yes : {"ja", "an", "1", "true", "yes", "on"}) {
        if (word == yes) return true;
    }
    for (const char* no : {"nein", "aus", "0", "false", "no", "off"}) {
        if (word == no) return false;
    }
    return std::nullopt;
}

const TextOption* FindTextOption(std::string_view name) {
    for (const TextOption& option : kTextOptions) {
        if (option.name == name) return &option;
    }
    return nullptr;
}

}  // namespace

const char* SignInMethodName(SignInMethod method) {
    for (const auto& [known, name] : kMethodNames) {
        if (known == method) return name;
    }
    return "password";
}

std::optional<SignInMethod> ParseSignInMethod(std::string_view name) {
    const std::string word = Lower(name);
    for (const auto& [method, known] : kMethodNames) {
        if (word == known) return method;
    }
    return std::nullopt;
}

namespace {

// A decimal number of at most `digits` digits, up to `highest`.
std::optional<int> ParseBounded(std::string_view value, size_t digits, int highest) {
    if (value.empty() || value.size() > digits) return std::nullopt;
    int number = 0;
    for (const char c : value) {
        if (c < '0' || c > '9') return std::nullopt;
        number = number * 10 + (c - '0');
    }
    if (number > highest) return std::nullopt;
    return number;
}

}  // namespace

std::optional<int> ParseMailsPerMinute(std::string_view value) { return ParseBounded(value, 4, kMaxMailsPerMinute); }

std::optional<int> ParsePortNumber(std::string_view value) { return ParseBounded(value, 5, kHighestPort); }

ParsedOptions ParseOptionsText(std::string_view text) {
    ParsedOptions parsed;
    const auto damaged = [](int line) {
        ParsedOptions defaults;
        defaults.damagedLine = line;
        return defaults;
    };
    if (text.size() > kMaxOptionsFileSize) return damaged(1);
    const TextLines lines = SplitTextLines(text);
    for (size_t i = 0; i < lines.lines.size(); ++i) {
        const int number = static_cast<int>(i) + 1;
        const std::string_view line = TrimView(lines.lines[i]);
        if (line.empty() || line.front() == '#') continue;
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos || line.find('\0') != std::string_view::npos) return damaged(number);
        const std::string name = Lower(TrimView(line.substr(0, equals)));
        const std::string_view value = TrimView(line.substr(equals + 1));
        if (name == kAllowPlainLogin) {
            const std::optional<bool> on = ParseSwitch(value);
            if (!on) return damaged(number);
            parsed.options.allowPlainLogin = *on;
        } else if (name == kCheckBeforeRun) {
            const std::optional<bool> on = ParseSwitch(value);
            if (!on) return damaged(number);
            parsed.options.checkBeforeRun = *on;
        } else if (name == kSentCopy) {
            const std::optional<bool> on = ParseSwitch(value);
            if (!on) return damaged(number);
            parsed.options.sentCopy = *on;
        } else if (name == kImapPort) {
            const std::optional<int> port = ParsePortNumber(value);
            if (!port) return damaged(number);
            parsed.options.imapPort = *port;
        } else if (name == kPasswordInKeyring) {
            const std::optional<bool> on = ParseSwitch(value);
            if (!on) return damaged(number);
            parsed.options.passwordInKeyring = *on;
        } else if (name == kMailsPerMinute) {
            const std::optional<int> rate = ParseMailsPerMinute(value);
            if (!rate) return damaged(number);
            parsed.options.mailsPerMinute = *rate;
        } else if (name == kSignIn) {
            const std::optional<SignInMethod> method = ParseSignInMethod(value);
            if (!method) return damaged(number);
            parsed.options.signIn = *method;
        } else if (name.starts_with(kOtherClientId)) {
            const std::optional<SignInMethod> method = ParseSignInMethod(name.substr(kOtherClientId.size()));
            if (!method) return damaged(number);
            parsed.options.otherClientIds[*method] = std::string(value);
        } else if (const TextOption* text = FindTextOption(name)) {
            parsed.options.*(text->field) = std::string(value);
        } else if (name.empty()) {
            return damaged(number);
        } else {
            parsed.unknownLines.emplace_back(line);
        }
    }
    // The chosen method's own ID, when the file keeps it under the method's name only.
    const auto own = parsed.options.otherClientIds.find(parsed.options.signIn);
    if (own != parsed.options.otherClientIds.end()) {
        if (parsed.options.clientId.empty()) parsed.options.clientId = own->second;
        parsed.options.otherClientIds.erase(own);
    }
    return parsed;
}

std::string FormatOptionsText(const SendOptions& options, const std::vector<std::string>& unknownLines) {
    std::string text(kHeader);
    text += "\r\n";
    text += std::string(kAllowPlainLogin) + "=" + (options.allowPlainLogin ? "ja" : "nein") + "\r\n";
    text += std::string(kMailsPerMinute) + "=" + std::to_string(options.mailsPerMinute) + "\r\n";
    text += std::string(kSignIn) + "=" + SignInMethodName(options.signIn) + "\r\n";
    text += std::string(kPasswordInKeyring) + "=" + (options.passwordInKeyring ? "ja" : "nein") + "\r\n";
    text += std::string(kCheckBeforeRun) + "=" + (options.checkBeforeRun ? "ja" : "nein") + "\r\n";
    text += std::string(kSentCopy) + "=" + (options.sentCopy ? "ja" : "nein") + "\r\n";
    if (options.imapPort != 0) text += std::string(kImapPort) + "=" + std::to_string(options.imapPort) + "\r\n";
    for (const TextOption& option : kTextOptions) {
        const std::string& value = options.*(option.field);
        if (!value.empty()) text += std::string(option.name) + "=" + value + "\r\n";
    }
    for (const auto& [method, id] : options.otherClientIds) {
        if (method != options.signIn && !id.empty())
            text += std::string(kOtherClientId) + SignInMethodName(method) + "=" + id + "\r\n";
    }
    for (const std::string& line : unknownLines) text += line + "\r\n";
    return text;
}
