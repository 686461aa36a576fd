#pragma once
// The OAuth2 sign-in methods as data: where each provider's authorization, token and device endpoints
// are, which scope allows sending mail, and which SMTP server goes with it. No network here.

#include "mailing/send_options.h"

#include <string>

// What the user set for an OAuth2 sign-in. Empty values take the provider's defaults.
struct OAuthSettings {
    SignInMethod method = SignInMethod::Password;
    std::string clientId;
    std::string tenant;  // Microsoft only
    std::string authorizeUrl;
    std::string tokenUrl;
    std::string deviceUrl;
    std::string scope;
    std::string account;  // the mail address the tokens belong to; names the secrets
    // For a provider that wants one from a desktop application too (Google); kept in the keyring.
    std::string clientSecret;
};

// The settings of the sending options, for the account `account`.
OAuthSettings OAuthSettingsFrom(const SendOptions& options, const std::string& account);

// The endpoints a sign-in talks to.
struct OAuthEndpoints {
    std::string providerName;  // as the user's messages name it: "Microsoft", "Google", or the token host
    std::string authorizeUrl;
    std::string tokenUrl;
    std::string deviceUrl;  // empty: the provider offers no device sign-in for this scope
    std::string scope;
    std::string smtpHost;  // empty for another provider: the account's own server
    int smtpPort = 0;
};

// Microsoft's tenant when none is set: any work or school account.
inline constexpr const char* kDefaultMicrosoftTenant = "organizations";

// The effective endpoints: the provider's presets, with the user's values where they set any.
OAuthEndpoints EffectiveEndpoints(const OAuthSettings& settings);

// The names of the account's secrets in the SecretStore.
std::string RefreshTokenKey(const std::string& account);
std::string PasswordKey(const std::string& account);
std::string ClientSecretKey(const std::string& account);
