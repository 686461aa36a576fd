#pragma once
// The window "Versandoptionen": the sending options of the account, beside the account fields of the
// main window. What it changes is in force for the next send at once and is written to the options file
// with the settings ("Einstellungen speichern", "Beenden").
//
// Its sign-in part chooses how the account logs in (password or an OAuth2 provider), signs in in the
// browser ("Anmelden") and forgets the sign-in ("Abmelden"); the tokens themselves are the business of
// the account's secrets, which the main window hands in.

#include "mailing/send_options.h"
#include "mailing/settings_text.h"

#include <QDialog>

#include <memory>
#include <map>
#include <optional>

class AccountSecrets;
class QBoxLayout;
class QCheckBox;
class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

class TFormOptions : public QDialog {
    Q_OBJECT
public:
    explicit TFormOptions(QWidget* parent = nullptr);

    // What the user confirmed with "OK": the options, and the server of a provider chosen meanwhile.
    struct Choice {
        SendOptions options;
        std::optional<std::pair<QString, QString>> server;  // host and port to put in the account fields
    };

    // Shows the options modally for the account; the choice when the user left with "OK", else nothing.
    std::optional<Choice> Edit(const SendOptions& options, const AccountSettings& account = {});

    void SetOptions(const SendOptions& options);
    SendOptions Options() const;
    // The keyring behind "Anmelden", "Abmelden" and the sign-in state; without it they are disabled.
    void SetSecrets(std::shared_ptr<AccountSecrets> secrets) { secrets_ = std::move(secrets); }

    QCheckBox* CheckPlainLogin = nullptr;
    QSpinBox* SpinRate = nullptr;
    QCheckBox* CheckBeforeRun = nullptr;
    QComboBox* ComboSignIn = nullptr;
    QLineEdit* EditClientId = nullptr;
    QLineEdit* EditClientSecret = nullptr;
    QLineEdit* EditTenant = nullptr;
    QLineEdit* EditAuthorizeUrl = nullptr;
    QLineEdit* EditTokenUrl = nullptr;
    QLineEdit* EditDeviceUrl = nullptr;
    QLineEdit* EditScope = nullptr;
    QPushButton* ButtonSignIn = nullptr;
    QPushButton* ButtonSignOut = nullptr;
    QLabel* LabelSignInState = nullptr;
    QCheckBox* CheckSentCopy = nullptr;
    QLineEdit* EditImapHost = nullptr;  // its placeholder: the IMAP server that goes with the SMTP host
    QLineEdit* EditImapPort = nullptr;
    QLineEdit* EditSentFolder = nullptr;
    QLabel* LabelSentCopyProvider = nullptr;  // Microsoft 365 and Google file sent mails themselves
    QCheckBox* CheckPasswordInKeyring = nullptr;
    QLabel* LabelPasswordFile = nullptr;  // the settings file's cipher only veils the password
    QLabel* LabelSecretFile = nullptr;
    QPushButton* ButtonOK = nullptr;
    QPushButton* ButtonCancel = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Shows the rows of the chosen method; `byUser`: the user picked it in the list just now.
    void MethodChosen(bool byUser = false);
    void ShowSignInState();
    void SignInClicked();
    void SignOutClicked();
    void FitHeight();
    // Each method keeps its own client ID and secret: the fields of the method left are kept aside, the
    // chosen method's come back.
    void SwitchMethodFields();
    // The sign-in fields that are needed and empty, by their labels.
    QStringList MissingSignInFields() const;
    // The rows of the copy in the Sent folder, made into `layout`.
    void BuildSentCopyRows(QBoxLayout* layout);
    void ShowSentCopyRows();

    SendOptions shown_;
    std::optional<std::string> clientSecretShown_;  // as read from the keyring; nothing before it is shown
    SignInMethod fieldsMethod_ = SignInMethod::Password;  // the method whose ID and secret the fields hold
    std::map<SignInMethod, QString> otherIds_;             // the other methods' client IDs
    struct KeptSecret {
        std::string shown;  // as read from the keyring
        QString typed;
    };
    std::map<SignInMethod, KeptSecret> otherSecrets_;  // secrets shown for a method, then left
    AccountSettings account_;
    std::shared_ptr<AccountSecrets> secrets_;
    std::optional<std::pair<QString, QString>> server_;
    QFormLayout* signInForm_ = nullptr;
    bool signingIn_ = false;
    bool stopSignIn_ = false;
};
