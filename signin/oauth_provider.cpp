#include "signin/oauth_provider.h"

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
            Or(settings.authorizeUrl, base + "authorize"),
            Or(settings.tokenUrl, base + "token"),
            Or(settings.deviceUrl, base + "devicecode"),
            Or(settings.scope, "https://outlook.office.com/SMTP.Send offline_access"),
            "smtp.office365.com",
            587};
}

// Google has no device sign-in for the mail scope, so none is offered even when one is set.
OAuthEndpoints Google(const OAuthSettings& settings) {
    return {"Google",
            Or(settings.authorizeUrl, "https://accounts.google.com/o/oauth2/v2/auth"),
            Or(settings.tokenUrl, "https://oauth2.googleapis.com/token"),
            "",
            Or(settings.scope, "https://mail.google.com/"),
            "smtp.gmail.com",
            587};
}

}  // namespace

OAuthSettings OAuthSettingsFrom(const SendOptions& options, const std::string& account) {
    return {options.signIn, options.clientId,  options.tenant, options.authorizeUrl,
            options.tokenUrl, options.deviceUrl, options.scope, account};
}

OAuthEndpoints EffectiveEndpoints(const OAuthSettings& settings) {
    switch (settings.method) {
    case SignInMethod::Microsoft:
        return Microsoft(settings);
    case SignInMethod::Google:
        return Google(settings);
    case SignInMethod::OtherOAuth2:
        return {HostOf(settings.tokenUrl), settings.authorizeUrl, settings.tokenUrl, settings.deviceUrl,
                settings.scope, "", 0};
    case SignInMethod::Password:
        break;
    }
    return {};
}

std::string RefreshTokenKey(const std::string& account) { return "refresh-token:" + account; }
std::string PasswordKey(const std::string& account) { return "password:" + account; }
std::string ClientSecretKey(const std::string& account) { return "client-secret:" + account; }
