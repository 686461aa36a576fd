#pragma once
// The access tokens of an OAuth2 account for the SMTP session's XOAUTH2 login: refreshed with the
// refresh token from the SecretStore shortly before they expire, or at once when the server refused the
// last one. A refresh token the provider rotated is stored in place of the old one.
//
// Safe to call from any thread; the run calls it from the worker thread that sends, and one refresh at a
// time goes out.

#include "signin/oauth_provider.h"
#include "signin/secret_store.h"
#include "signin/token_client.h"
#include "transport/access_token.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class OAuthTokenSource : public TIdAccessTokenSource {
public:
    // A token is renewed this long before its end, so that it does not run out between the check and
    // the server's look at it.
    static constexpr std::chrono::seconds kRenewMargin{60};
    // When the provider says nothing of a token's life, it is taken to be this long.
    static constexpr std::chrono::seconds kUnknownLifetime{300};

    OAuthTokenSource(OAuthSettings settings, std::shared_ptr<SecretStore> store);

    // TIdAccessTokenSource. Throws ETokenError (no sign-in, refused refresh, provider unreachable) and
    // the store's errors.
    std::string AccessToken(bool renew) override;
    // A stored sign-in that does not fit the settings, or a server other than the sign-in's.
    std::optional<std::string> Refusal(const std::string& host, int port) override;
    // The same for the IMAP server of the copies in the Sent folder: the provider's own.
    std::optional<std::string> IMAPRefusal(const std::string& host, int port) override;

    // Starts with the tokens a sign-in just brought, so that the first mail needs no refresh.
    void Seed(const TokenGrant& grant);

private:
    void Take(const TokenGrant& grant);
    // The stored refresh token with what it was issued for; nothing when there is none.
    std::optional<std::optional<BoundSecret>> StoredSignIn();

    OAuthSettings settings_;
    OAuthEndpoints endpoints_;
    std::shared_ptr<SecretStore> store_;
    std::mutex mutex_;
    std::string accessToken_;
    std::chrono::steady_clock::time_point renewAt_{};
    // A rotated refresh token the store could not keep: used for the rest of this run.
    std::optional<std::string> unsavedRefreshToken_;
};
