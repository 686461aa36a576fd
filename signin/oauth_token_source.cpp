#include "signin/oauth_token_source.h"

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

    const std::string key = RefreshTokenKey(settings_.account);
    // Read anew each time: the user may have signed in again since the last refresh.
    const std::optional<std::string> refreshToken = unsavedRefreshToken_ ? unsavedRefreshToken_ : store_->Read(key);
    if (!refreshToken || refreshToken->empty())
        throw ETokenError("Für " + settings_.account + " besteht keine Anmeldung bei " + endpoints_.providerName +
                              ". Bitte in den Versandoptionen anmelden.",
                          true);

    accessToken_.clear();
    const TokenGrant grant = TokenClient(settings_).RefreshAccessToken(*refreshToken);
    Take(grant);
    if (!grant.refreshToken.empty() && grant.refreshToken != *refreshToken) {
        // The provider may have voided the old token already: keep the new one for this run even when the
        // store fails, and let the user know that the sign-in will not outlast it.
        unsavedRefreshToken_ = grant.refreshToken;
        store_->Write(key, grant.refreshToken);
        unsavedRefreshToken_.reset();
    }
    return accessToken_;
}
