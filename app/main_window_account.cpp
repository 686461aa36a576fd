// The main window's account: the settings file and the options file behind the account fields, the
// password kept in the keyring where the user wants it there, the window "Versandoptionen", and the
// access tokens of an OAuth2 sign-in for every send.

#include "app/main_window.h"

#include "app/options_window.h"
#include "mailing/list_file.h"
#include "mailing/text_codec.h"
#include "signin/account_secrets.h"

#include <QLineEdit>

#include <exception>

void TFormNewMail::LoadAccount() {
    // A damaged options file must not stop the start: the defaults apply and the status panel says so.
    optionsFile_ = std::make_unique<OptionsFile>(dataFolder_);
    sendOptions_ = optionsFile_->Load();
    if (!optionsFile_->Note().empty()) SetStatus(FromLocal(optionsFile_->Note()));
    passwordInKeyringSaved_ = sendOptions_.passwordInKeyring;

    settings_ = std::make_unique<SettingsFile>(dataFolder_);
    AccountSettings values = settings_->LoadSettings();
    // Nor must a keyring that does not answer: the password field stays empty and the panel says why.
    try {
        values = Secrets().WithStoredPassword(values, sendOptions_);
    } catch (const std::exception& error) {
        SetStatus(QString::fromStdString(error.what()));
    }
    // One charset for the whole file: a file written on Windows shows its umlauts and is saved back alike.
    const bool legacy = DecodeLocalText(values.host + values.user + values.password + values.port).legacy;
    settingsLegacy_ = legacy;
    EditHost->setText(DecodeLocalText(values.host).text);
    EditUser->setText(DecodeLocalText(values.user).text);
    MaskEdit->setText(DecodeLocalText(values.password).text);
    EditPort->setText(DecodeLocalText(values.port).text);
    RememberSavedAccount();
}

AccountSettings TFormNewMail::AccountFields() const {
    return {EncodeLocalText(EditHost->text(), settingsLegacy_), EncodeLocalText(EditUser->text(), settingsLegacy_),
            EncodeLocalText(MaskEdit->text(), settingsLegacy_), EncodeLocalText(EditPort->text(), settingsLegacy_)};
}

void TFormNewMail::SaveAccount() {
    if (!settings_) settings_ = std::make_unique<SettingsFile>(dataFolder_);
    // The keyring first: when it refuses the password, the settings file keeps the one it had.
    settings_->SaveSettings(Secrets().ForSettingsFile(AccountFields(), sendOptions_, passwordInKeyringSaved_));
    passwordInKeyringSaved_ = sendOptions_.passwordInKeyring;
    if (!optionsFile_) optionsFile_ = std::make_unique<OptionsFile>(dataFolder_);
    optionsFile_->Save(sendOptions_);
    RememberSavedAccount();
}

void TFormNewMail::SetSecretStore(std::shared_ptr<SecretStore> store) {
    secrets_ = std::make_shared<AccountSecrets>(std::move(store));
    tokenSource_.reset();
}

AccountSecrets& TFormNewMail::Secrets() {
    if (!secrets_) SetSecretStore(std::make_shared<SecretStore>(dataFolder_));
    return *secrets_;
}

std::shared_ptr<TIdAccessTokenSource> TFormNewMail::AccessTokens() {
    if (!sendOptions_.UsesOAuth2()) return nullptr;
    // One source for as long as the sign-in stays the same, so that its access token serves every mail
    // of its lifetime, the test mail's and the run's alike.
    const std::string user = Trim(ToLocal(EditUser->text()));
    if (!tokenSource_ || tokenOptions_ != sendOptions_ || tokenUser_ != user) {
        tokenSource_ = Secrets().TokenSource(sendOptions_, AccountFields());
        tokenOptions_ = sendOptions_;
        tokenUser_ = user;
    }
    return tokenSource_;
}

TFormOptions& TFormNewMail::OptionsWindow() {
    if (optionsWindow_ == nullptr) optionsWindow_ = new TFormOptions(this);
    return *optionsWindow_;
}

void TFormNewMail::BitBtnOptionsClick() {
    TFormOptions& window = OptionsWindow();
    Secrets();
    window.SetSecrets(secrets_);
    const auto choice = window.Edit(sendOptions_, AccountFields());
    // A sign-in or sign-out in the window changes the tokens even when the user then cancels.
    tokenSource_.reset();
    if (!choice) return;
    sendOptions_ = choice->options;
    if (choice->server) {
        EditHost->setText(choice->server->first);
        EditPort->setText(choice->server->second);
    }
}
