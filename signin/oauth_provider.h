#pragma once
// The OAuth2 sign-in methods as data: where each provider's authorization, token and device endpoints
// are, which scope allows sending mail, and which SMTP server goes with it. No network here.

#include "mailing/send_options.h"

#include <optional>
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
    // The account's SMTP server; another provider's tokens go only to the one they were signed in for.
    std::string smtpHost;
    int smtpPort = 0;
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
    std::string imapHost;  // the provider's IMAP server, for the copies in the Sent folder; empty likewise
};

// Microsoft's tenant when none is set: any work or school account.
inline constexpr const char* kDefaultMicrosoftTenant = "organizations";

// The effective endpoints. Microsoft's and Google's are fixed (Microsoft's with the tenant), so that no
// options file or command line sends their tokens elsewhere; another provider's are the user's. A scope
// the user set applies to every provider.
OAuthEndpoints EffectiveEndpoints(const OAuthSettings& settings);

// What a stored refresh token (or client secret) was issued for. It is stored with the secret: a run or
// a refresh whose token endpoint or client differs uses none of the stored secrets, and an access token
// goes only to the SMTP server of the binding (Microsoft's or Google's own, or the one another provider's
// sign-in was made for).
struct SignInBinding {
    std::string tokenUrl;
    std::string clientId;
    std::string smtpHost;
    int smtpPort = 0;  // 0: any port (Microsoft and Google take 587 and 465)
    bool operator==(const SignInBinding&) const = default;
};

// The binding of a sign-in with these settings.
SignInBinding BindingFor(const OAuthSettings& settings);

struct BoundSecret {
    SignInBinding binding;
    std::string secret;
};
// The form a bound secret is stored in, and back; nothing for a value stored without a binding (by an
// older version), which fits no settings.
std::string EncodeBoundSecret(const SignInBinding& binding, const std::string& secret);
std::optional<BoundSecret> DecodeBoundSecret(const std::string& stored);

// Why a stored sign-in does not fit the settings ("Bitte neu anmelden: ..."); nothing when it does.
std::optional<std::string> SignInMismatch(const std::optional<BoundSecret>& stored, const OAuthSettings& settings);
// Why an access token of this binding must not go to `host`:`port`, naming both servers; nothing when
// the server is the binding's.
std::optional<std::string> ServerMismatch(const SignInBinding& binding, const std::string& providerName,
                                          const std::string& host, int port);

// The same for the IMAP server of the copies in the Sent folder, on any port: Microsoft's and Google's
// own IMAP server (`providerImapHost`), or for another provider the IMAP server that goes with the
// binding's SMTP server (DefaultImapHost) or that server itself.
std::optional<std::string> IMAPServerMismatch(const SignInBinding& binding, const std::string& providerName,
                                              const std::string& providerImapHost, const std::string& host);

// The names of the account's secrets in the SecretStore.
std::string RefreshTokenKey(const std::string& account);
std::string PasswordKey(const std::string& account);
// Each method keeps its own client secret.
std::string ClientSecretKey(const std::string& account, SignInMethod method);
