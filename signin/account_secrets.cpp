#include "signin/account_secrets.h"

#include "mailing/list_file.h"
#include "mailing/send_one.h"

AccountSecrets::AccountSecrets(std::shared_ptr<SecretStore> store) : store_(std::move(store)) {}

AccountSettings AccountSecrets::WithStoredPassword(AccountSettings account, const SendOptions& options) {
    const std::string user = Trim(account.user);
    if (!options.passwordInKeyring || !account.password.empty() || user.empty()) return account;
    account.password = store_->Read(PasswordKey(user)).value_or("");
    return account;
}

AccountSettings AccountSecrets::ForSettingsFile(AccountSettings account, const SendOptions& options,
                                                bool wasInKeyring) {
    const std::string user = Trim(account.user);
    if (user.empty()) return account;
    if (options.passwordInKeyring) {
        if (account.password.empty()) {
            store_->Remove(PasswordKey(user));
            return account;
        }
        store_->Write(PasswordKey(user), account.password);
        // No keyring answered: the secrets file would be no better than the settings file, which the
        // password then stays in, as without the option.
        if (store_->UsesFile()) {
            store_->Remove(PasswordKey(user));
            return account;
        }
        account.password.clear();
    } else if (wasInKeyring) {
        // The password goes to the file again; the copy in the keyring is no longer used. A keyring that
        // does not answer must not keep the settings from being saved.
        try {
            store_->Remove(PasswordKey(user));
        } catch (const ESecretStoreError&) {
        }
    }
    return account;
}

OAuthSettings AccountSecrets::Settings(const SendOptions& options, const AccountSettings& account) {
    const std::string user = Trim(account.user);
    OAuthSettings settings = OAuthSettingsFrom(options, user);
    settings.smtpHost = Trim(account.host);
    settings.smtpPort = PortOrZero(account.port);
    if (options.UsesOAuth2()) settings.clientSecret = ClientSecret(options, account);
    return settings;
}

std::string AccountSecrets::ClientSecret(const SendOptions& options, const AccountSettings& account) {
    const std::string user = Trim(account.user);
    if (user.empty()) return {};
    const std::optional<std::string> stored = store_->Read(ClientSecretKey(user, options.signIn));
    if (!stored) return {};
    const std::optional<BoundSecret> bound = DecodeBoundSecret(*stored);
    const SignInBinding now = BindingFor(OAuthSettingsFrom(options, user));
    // A secret kept for another token endpoint or client is not sent to this one.
    if (!bound || bound->binding.tokenUrl != now.tokenUrl || bound->binding.clientId != now.clientId) return {};
    return bound->secret;
}

void AccountSecrets::SetClientSecret(const SendOptions& options, const AccountSettings& account,
                                     const std::string& secret) {
    const std::string user = Trim(account.user);
    if (user.empty()) return;
    if (secret.empty()) {
        store_->Remove(ClientSecretKey(user, options.signIn));
        return;
    }
    const SignInBinding now = BindingFor(OAuthSettingsFrom(options, user));
    store_->Write(ClientSecretKey(user, options.signIn), EncodeBoundSecret({now.tokenUrl, now.clientId, "", 0}, secret));
}

std::shared_ptr<OAuthTokenSource> AccountSecrets::TokenSource(const SendOptions& options,
                                                              const AccountSettings& account) {
    if (!options.UsesOAuth2()) return nullptr;
    return std::make_shared<OAuthTokenSource>(Settings(options, account), store_);
}

bool AccountSecrets::SignedIn(const SendOptions& options, const AccountSettings& account) {
    const std::string user = Trim(account.user);
    const std::optional<std::string> token = store_->Read(RefreshTokenKey(user));
    if (!token || token->empty()) return false;
    return !SignInMismatch(DecodeBoundSecret(*token), OAuthSettingsFrom(options, user));
}

bool AccountSecrets::SignInStored(const AccountSettings& account) {
    const std::optional<std::string> token = store_->Read(RefreshTokenKey(Trim(account.user)));
    return token && !token->empty();
}

void AccountSecrets::SignOut(const AccountSettings& account) { store_->Remove(RefreshTokenKey(Trim(account.user))); }
