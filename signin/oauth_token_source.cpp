#include "signin/oauth_token_source.h"

#include "mailing/list_file.h"

OAuthTokenSource::OAuthTokenSource(OAuthSettings settings, std::shared_ptr<SecretStore> store)
    : settings_(std::move(settings)), endpoints_(EffectiveEndpoints(settings_)), store_(std::move(store)) {}

void OAuthTokenSource::Seed(const TokenGrant& grant) {
    std::lock_guard lock(mutex_);
    Take(grant);
}

void OAuthTokenSource::Take(const TokenGrant& grant) {
    accessToken_ = grant.accessToken;
    const auto lifetime = grant.lifetime.count() > 0 ? grant.lifetime : kUnknownLifetime;
    renewAt_ = std::chrono::steady_clock::now() + lifetime - kRenewMargin;
}

std::string OAuthTokenSource::AccessToken(bool renew) {
    std::lock_guard lock(mutex_);
    if (!renew && !accessToken_.empty() && std::chrono::steady_clock::now() < renewAt_) return accessToken_;

    // Read anew each time: the user may have signed in again since the last refresh.
    const std::optional<std::optional<BoundSecret>> stored = StoredSignIn();
    if (!stored)
        throw ETokenError("Für " + settings_.account + " besteht keine Anmeldung bei " + endpoints_.providerName +
                              ". Bitte in den Versandoptionen anmelden.",
                          true);
    // A refresh token issued for another token endpoint or client goes to none of them.
    if (const std::optional<std::string> mismatch = SignInMismatch(*stored, settings_)) throw ETokenError(*mismatch, true);
    const SignInBinding& binding = (*stored)->binding;
    const std::string refreshToken = unsavedRefreshToken_ ? *unsavedRefreshToken_ : (*stored)->secret;

    accessToken_.clear();
    const TokenGrant grant = TokenClient(settings_).RefreshAccessToken(refreshToken);
    Take(grant);
    if (!grant.refreshToken.empty() && grant.refreshToken != refreshToken) {
        // The provider may have voided the old token already: keep the new one for this run even when the
        // store fails, and let the user know that the sign-in will not outlast it.
        unsavedRefreshToken_ = grant.refreshToken;
        store_->Write(RefreshTokenKey(settings_.account), EncodeBoundSecret(binding, grant.refreshToken));
        unsavedRefreshToken_.reset();
    }
    return accessToken_;
}

std::optional<std::optional<BoundSecret>> OAuthTokenSource::StoredSignIn() {
    const std::optional<std::string> stored = store_->Read(RefreshTokenKey(settings_.account));
    if (!stored || stored->empty()) return std::nullopt;
    return DecodeBoundSecret(*stored);
}

std::optional<std::string> OAuthTokenSource::Refusal(const std::string& host, int port) {
    std::lock_guard lock(mutex_);
    const std::optional<std::optional<BoundSecret>> stored = StoredSignIn();
    if (!stored) return std::nullopt;  // no sign-in: the login says so itself
    if (const std::optional<std::string> mismatch = SignInMismatch(*stored, settings_)) return mismatch;
    return ServerMismatch((*stored)->binding, endpoints_.providerName, Trim(host), port);
}

std::optional<std::string> OAuthTokenSource::IMAPRefusal(const std::string& host, int /*port*/) {
    std::lock_guard lock(mutex_);
    const std::optional<std::optional<BoundSecret>> stored = StoredSignIn();
    if (!stored) return std::nullopt;  // no sign-in: the login says so itself
    if (const std::optional<std::string> mismatch = SignInMismatch(*stored, settings_)) return mismatch;
    return IMAPServerMismatch((*stored)->binding, endpoints_.providerName, endpoints_.imapHost, Trim(host));
}
