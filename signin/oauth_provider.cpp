#include "signin/oauth_provider.h"

#include "mailing/sent_folder.h"

#include <string_view>
#include <vector>

namespace {

const std::string& Or(const std::string& value, const std::string& fallback) {
    return value.empty() ? fallback : value;
}

// The host of an URL, for naming a provider the program has no name for.
std::string HostOf(const std::string& url) {
    size_t start = url.find("://");
    start = start == std::string::npos ? 0 : start + 3;
    const size_t end = url.find_first_of("/?#", start);
    std::string host = url.substr(start, end == std::string::npos ? std::string::npos : end - start);
    const size_t at = host.rfind('@');
    if (at != std::string::npos) host.erase(0, at + 1);
    // Without the port: "login.example.org", "[::1]".
    const size_t colon = host.rfind(':');
    if (colon != std::string::npos && host.find(']', colon) == std::string::npos &&
        (host[0] != '[' || host[colon - 1] == ']'))
        host.erase(colon);
    return host.empty() ? "dem Anbieter" : host;
}

OAuthEndpoints Microsoft(const OAuthSettings& settings) {
    const std::string base =
        "https://login.microsoftonline.com/" + Or(settings.tenant, kDefaultMicrosoftTenant) + "/oauth2/v2.0/";
    return {"Microsoft",
            base + "authorize",
            base + "token",
            base + "devicecode",
            Or(settings.scope, "https://outlook.office.com/SMTP.Send offline_access"),
            "smtp.office365.com",
            587,
            "outlook.office365.com"};
}

// Google has no device sign-in for the mail scope.
OAuthEndpoints Google(const OAuthSettings& settings) {
    return {"Google",
            "https://accounts.google.com/o/oauth2/v2/auth",
            "https://oauth2.googleapis.com/token",
            "",
            Or(settings.scope, "https://mail.google.com/"),
            "smtp.gmail.com",
            587,
            "imap.gmail.com"};
}

constexpr std::string_view kBoundMark = "postira-bound-1";

std::string LowerHost(std::string host) {
    for (char& c : host) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    return host;
}

std::string ServerText(const std::string& host, int port) {
    return port > 0 ? host + ":" + std::to_string(port) : host;
}

}  // namespace

OAuthSettings OAuthSettingsFrom(const SendOptions& options, const std::string& account) {
    OAuthSettings settings;
    settings.method = options.signIn;
    settings.clientId = options.clientId;
    settings.tenant = options.tenant;
    settings.authorizeUrl = options.authorizeUrl;
    settings.tokenUrl = options.tokenUrl;
    settings.deviceUrl = options.deviceUrl;
    settings.scope = options.scope;
    settings.account = account;
    return settings;
}

OAuthEndpoints EffectiveEndpoints(const OAuthSettings& settings) {
    switch (settings.method) {
    case SignInMethod::Microsoft:
        return Microsoft(settings);
    case SignInMethod::Google:
        return Google(settings);
    case SignInMethod::OtherOAuth2:
        return {HostOf(settings.tokenUrl), settings.authorizeUrl, settings.tokenUrl, settings.deviceUrl,
                settings.scope, "", 0, ""};
    case SignInMethod::Password:
        break;
    }
    return {};
}

SignInBinding BindingFor(const OAuthSettings& settings) {
    const OAuthEndpoints endpoints = EffectiveEndpoints(settings);
    // Microsoft's and Google's servers are theirs on either port; another provider's is the account's.
    if (!endpoints.smtpHost.empty()) return {endpoints.tokenUrl, settings.clientId, endpoints.smtpHost, 0};
    return {endpoints.tokenUrl, settings.clientId, LowerHost(settings.smtpHost), settings.smtpPort};
}

std::string EncodeBoundSecret(const SignInBinding& binding, const std::string& secret) {
    // One value a line; the secret last, so that it may hold anything. The other values come from the
    // settings, whose lines hold no line breaks.
    return std::string(kBoundMark) + "\n" + binding.tokenUrl + "\n" + binding.clientId + "\n" + binding.smtpHost +
           "\n" + std::to_string(binding.smtpPort) + "\n" + secret;
}

std::optional<BoundSecret> DecodeBoundSecret(const std::string& stored) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (int i = 0; i < 5; ++i) {
        const size_t end = stored.find('\n', start);
        if (end == std::string::npos) return std::nullopt;
        parts.push_back(stored.substr(start, end - start));
        start = end + 1;
    }
    if (parts[0] != kBoundMark) return std::nullopt;
    int port = 0;
    for (const char c : parts[4]) {
        if (c < '0' || c > '9' || port > 65535) return std::nullopt;
        port = port * 10 + (c - '0');
    }
    return BoundSecret{{parts[1], parts[2], parts[3], port}, stored.substr(start)};
}

std::optional<std::string> SignInMismatch(const std::optional<BoundSecret>& stored, const OAuthSettings& settings) {
    const SignInBinding now = BindingFor(settings);
    if (!stored) {
        return "Bitte neu anmelden: Die gespeicherte Anmeldung stammt von einer älteren Version von Postira und "
               "nennt nicht, für welchen Anbieter sie gilt.";
    }
    if (stored->binding.tokenUrl == now.tokenUrl && stored->binding.clientId == now.clientId) return std::nullopt;
    return "Bitte neu anmelden: Die gespeicherte Anmeldung gilt für " + HostOf(stored->binding.tokenUrl) +
           " mit der Client-ID \"" + stored->binding.clientId + "\", eingestellt ist " + HostOf(now.tokenUrl) +
           " mit der Client-ID \"" + now.clientId + "\". Sie wird dort nicht verwendet.";
}

std::optional<std::string> ServerMismatch(const SignInBinding& binding, const std::string& providerName,
                                          const std::string& host, int port) {
    const bool sameHost = LowerHost(host) == LowerHost(binding.smtpHost);
    if (sameHost && (binding.smtpPort == 0 || binding.smtpPort == port)) return std::nullopt;
    return "Die Anmeldung bei " + providerName + " gilt nur für den Server " +
           ServerText(binding.smtpHost, binding.smtpPort) + ", eingestellt ist " + ServerText(host, port) +
           ". An diesen Server geht kein Zugangstoken: bitte den Server in den Kontodaten prüfen oder dort neu "
           "anmelden.";
}

std::optional<std::string> IMAPServerMismatch(const SignInBinding& binding, const std::string& providerName,
                                              const std::string& providerImapHost, const std::string& host) {
    const std::string asked = LowerHost(host);
    const std::string allowed = providerImapHost.empty() ? LowerHost(DefaultImapHost(binding.smtpHost))
                                                         : LowerHost(providerImapHost);
    if (asked == allowed || (providerImapHost.empty() && asked == LowerHost(binding.smtpHost))) return std::nullopt;
    return "Die Anmeldung bei " + providerName + " gilt nur für den IMAP-Server " + allowed +
           ", eingestellt ist " + host +
           ". An diesen Server geht kein Zugangstoken: bitte den IMAP-Server in den Versandoptionen prüfen.";
}

std::string RefreshTokenKey(const std::string& account) { return "refresh-token:" + account; }
std::string PasswordKey(const std::string& account) { return "password:" + account; }
std::string ClientSecretKey(const std::string& account, SignInMethod method) {
    return "client-secret:" + std::string(SignInMethodName(method)) + ":" + account;
}
