#pragma once
// Talks to a provider's token endpoint (RFC 6749) and its device authorization endpoint (RFC 8628):
// refreshing an access token, the device sign-in, and exchanging an authorization code with its PKCE
// verifier (RFC 7636). Every call blocks until the answer is there, running a local event loop, so it
// works on the main thread and on a worker std::thread alike; each request has a time limit.

#include "signin/oauth_provider.h"

#include <chrono>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

// A sign-in failed. The text is German and says what happened and what to do; SignInAgain tells
// whether a new sign-in of the user is the remedy (the refresh token is gone or was refused).
class ETokenError : public std::runtime_error {
public:
    ETokenError(const std::string& text, bool signInAgain, std::string providerCode = {})
        : std::runtime_error(text), signInAgain_(signInAgain), providerCode_(std::move(providerCode)) {}
    bool SignInAgain() const { return signInAgain_; }
    // The provider's error code ("invalid_grant", ...), empty when the provider gave none.
    const std::string& ProviderCode() const { return providerCode_; }

private:
    bool signInAgain_;
    std::string providerCode_;
};

// What a token endpoint handed out.
struct TokenGrant {
    std::string accessToken;
    std::chrono::seconds lifetime{0};  // 0: the provider did not say
    std::string refreshToken;          // empty: the provider keeps the refresh token it had issued
};

// A started device sign-in: the user opens verificationUri on any device and enters userCode.
struct DeviceAuthorization {
    std::string deviceCode;
    std::string userCode;
    std::string verificationUri;
    std::string verificationUriComplete;  // with the code in it; empty when the provider gave none
    std::chrono::seconds interval{5};
    std::chrono::seconds expiresIn{0};
};

class TokenClient {
public:
    // A token endpoint answers within seconds; longer is a dead or overloaded endpoint.
    static constexpr std::chrono::seconds kRequestTimeout{30};
    // A token reply is a few kilobytes; a longer one is refused so that a broken or hostile endpoint
    // cannot fill the memory.
    static constexpr long long kMaxReplyBytes = 64 * 1024;
    // RFC 8628: after slow_down, the polling interval grows by five seconds for good.
    static constexpr std::chrono::seconds kSlowDownStep{5};

    // Throws ETokenError when the client ID is empty: no provider signs in an unnamed application.
    TokenClient(OAuthEndpoints endpoints, std::string clientId,
                std::chrono::milliseconds requestTimeout = kRequestTimeout);
    // For the settings' effective endpoints, with their client secret where they have one.
    explicit TokenClient(const OAuthSettings& settings);

    // A new access token for the refresh token; the grant carries a new refresh token when the
    // provider rotated it. Throws ETokenError.
    TokenGrant RefreshAccessToken(const std::string& refreshToken);

    // Exchanges the code of a browser sign-in. `redirectUri` must be the one the code was sent to.
    TokenGrant ExchangeCode(const std::string& code, const std::string& codeVerifier,
                            const std::string& redirectUri);

    // Starts a device sign-in. The interval comes clamped to 1 s .. 60 s, the code's life to at most
    // 30 minutes. Throws ETokenError, also when the provider offers none.
    DeviceAuthorization StartDeviceAuthorization();
    // Asks for the tokens every interval until the user confirmed, the code expired (ETokenError) or
    // `stop` returns true (nothing). A poll that times out or meets a server error is tried again after
    // twice the interval (at most a minute). `stop` is asked several times a second.
    std::optional<TokenGrant> PollDeviceToken(const DeviceAuthorization& authorization,
                                              const std::function<bool()>& stop = {});

    // Throws ETokenError when the token address would carry the secrets in clear (see IsEncryptedOrLocal);
    // a sign-in checks this before it asks the user, every request before it goes out.
    void RequireEncryptedTokenAddress() const;

private:
    OAuthEndpoints endpoints_;
    std::string clientId_;
    std::string clientSecret_;  // sent with every token request when set
    std::chrono::milliseconds requestTimeout_;
};

// Secrets (codes, tokens, the password typed into the provider's page) may go to the address: it is https,
// or plain http to this machine (127.0.0.0/8, ::1, "localhost"), where nothing crosses the network.
bool IsEncryptedOrLocal(const std::string& address);
// Throws ETokenError unless IsEncryptedOrLocal(address). `named` is the German start of the sentence
// that names the address ("Die Adresse ... für die Anmeldung bei ..."), anything from outside in it
// already passed through ShownServerText.
void RequireEncryptedAddress(const std::string& address, const std::string& named);
