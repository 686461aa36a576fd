#pragma once
// The account's secrets as both front ends need them: the password, when the user keeps it in the
// keyring instead of the settings file, and the OAuth2 sign-in (whether there is one, the access tokens
// for a run, signing out).

#include "mailing/send_options.h"
#include "mailing/settings_text.h"
#include "signin/oauth_token_source.h"
#include "signin/secret_store.h"

#include <memory>

class AccountSecrets {
public:
    explicit AccountSecrets(std::shared_ptr<SecretStore> store);

    // The account as loaded from the settings file, with the password from the keyring when the options
    // keep it there and the file's password line is empty. Throws ESecretStoreError, EFileError.
    AccountSettings WithStoredPassword(AccountSettings account, const SendOptions& options);
    // The account as the settings file is to hold it: with the password kept in the keyring, the file
    // gets an empty password line and the keyring the password (where no keyring answers, the file keeps
    // it); without, a copy left in the keyring is removed when `wasInKeyring` (the options before the
    // change kept it there). Throws ESecretStoreError, EFileError.
    AccountSettings ForSettingsFile(AccountSettings account, const SendOptions& options, bool wasInKeyring);

    // The OAuth2 settings of the options for the account and its server, with the client secret kept
    // for them.
    OAuthSettings Settings(const SendOptions& options, const AccountSettings& account);
    // The client secret kept for the account, for the token endpoint and client of the options; empty
    // when there is none, or when it was kept for another endpoint or client.
    std::string ClientSecret(const SendOptions& options, const AccountSettings& account);
    // Keeps the client secret for the account (Google's desktop clients have one), bound to the options'
    // token endpoint and client; empty forgets it.
    void SetClientSecret(const SendOptions& options, const AccountSettings& account, const std::string& secret);

    // The access tokens of a run for the OAuth2 methods; nothing for the password.
    std::shared_ptr<OAuthTokenSource> TokenSource(const SendOptions& options, const AccountSettings& account);
    // A refresh token is stored for the account, issued for the options' token endpoint and client.
    bool SignedIn(const SendOptions& options, const AccountSettings& account);
    // A refresh token is stored for the account, whatever it was issued for (what signing out removes).
    bool SignInStored(const AccountSettings& account);
    // Forgets the account's refresh token.
    void SignOut(const AccountSettings& account);

    SecretStore& Store() { return *store_; }
    const std::shared_ptr<SecretStore>& SharedStore() const { return store_; }

private:
    std::shared_ptr<SecretStore> store_;
};
