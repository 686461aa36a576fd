#include "app/options_window.h"

#include "mailing/send_one.h"
#include "mailing/sent_folder.h"

#include "mailing/list_file.h"
#include "mailing/text_codec.h"
#include "signin/account_secrets.h"
#include "signin/browser_sign_in.h"
#include "ui/services.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <exception>

namespace {

const char* const kCaption = "Versandoptionen";
const char* const kPlainLogin = "Anmeldung ohne Verschlüsselung erlauben";
const char* const kPlainLoginHint =
    "Ohne diese Erlaubnis sendet Postira das Passwort nur über eine verschlüsselte Verbindung (TLS); "
    "bietet der Server keine an, geht keine Mail hinaus, auch keine ohne Anmeldung. Die Erlaubnis gilt "
    "auch für das unverschlüsselte Senden eines Mailings an einen Server, der weder Verschlüsselung noch "
    "Anmeldung anbietet (etwa ein alter Server im Büronetz). Erlauben Sie es nur für einen Server, dem Sie "
    "auf dem ganzen Weg vertrauen, etwa im eigenen Firmennetz. Ein Server auf diesem Rechner braucht "
    "keine Erlaubnis, und wo der Server Verschlüsselung anbietet, wird sie immer genutzt.";
const char* const kRateBefore = "Höchstens";
const char* const kRateAfter = "Mails pro Minute (0: ohne Grenze)";
const char* const kRateHint =
    "Die Mails gehen gleichmäßig über die Minute verteilt hinaus, damit der Anbieter sie nicht wegen zu "
    "vieler Mails abweist (Microsoft 365 nimmt 30 in der Minute, manche Anbieter weniger). Weist der Server "
    "eine Mail vorübergehend ab, versucht Postira es nach einer Wartezeit noch einmal.";
const char* const kCheckHint =
    "\"Mailing starten\" prüft zuerst die ganze Liste (Vornamen, Adressen, Platzhalter, Textdateien und "
    "Anhänge) und zeigt, was auffällt, bevor eine Mail hinausgeht.";
const char* const kSavedWith =
    "Die Optionen gelten ab der nächsten Mail. Gespeichert werden sie mit \"Einstellungen speichern\" "
    "und \"Beenden\".";

const char* const kSentCopy = "Kopie in den Ordner „Gesendet“ ablegen";
const char* const kSentCopyHint =
    "Jede Mail, die der Server angenommen hat, legt Postira über IMAP in diesem Ordner ab, mit der "
    "Anmeldung des Kontos (Port 993 mit TLS, 143 mit STARTTLS). Fehlt eine Kopie, geht der Versand "
    "trotzdem weiter; die Zusammenfassung nennt sie.";
const char* const kSentCopyProvider =
    "Microsoft 365 und Google legen gesendete Mails selbst im Ordner „Gesendet“ ab; mit dieser Option "
    "stünde jede Mail dort zweimal.";
const char* const kSentFolderPlaceholder = "der vom Server als „Gesendet“ markierte";
const char* const kImapHostPlaceholder = "wie der SMTP-Server";

const char* const kSignInGroup = "Anmeldung am Server";
// The methods in the order of the SignInMethod values.
const char* const kMethodTexts[] = {"Passwort", "Microsoft 365 (OAuth2)", "Google (OAuth2)",
                                    "Anderer OAuth2-Anbieter"};
const char* const kPasswordInKeyring = "Passwort im Schlüsselbund speichern";
const char* const kPasswordFileHint =
    "Ohne Schlüsselbund liegt das Passwort in postira.ini im Datenordner, verschleiert, nicht verschlüsselt: "
    "wer die Datei lesen kann, kann es zurückgewinnen.";
const char* const kOAuthHint =
    "Postira meldet sich einmal im Browser an und behält danach nur ein Refresh-Token im Schlüsselbund; "
    "das Passwortfeld bleibt leer. Die Client-ID ist die der App-Registrierung Ihrer Organisation "
    "(siehe Hilfe).";
const char* const kSignIn = "Anmelden";
const char* const kStopSignIn = "Anmeldung abbrechen";
const char* const kSignOut = "Abmelden";
const char* const kInBrowser = "Bitte im Browser anmelden...";
const char* const kFieldsMissing = "Für die Anmeldung fehlt: %1. Bitte in den Versandoptionen eintragen.";
const char* const kNoUser =
    "Bitte zuerst im Hauptfenster den Benutzernamen eintragen: die Mailadresse des Kontos, für das die "
    "Anmeldung gilt.";

QLabel* Explanation(const char* text, const char* name, QWidget* parent) {
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setWordWrap(true);
    return label;
}

QLineEdit* Field(const char* name, QWidget* parent) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(QString::fromLatin1(name));
    return field;
}

QString Text(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

TFormOptions::TFormOptions(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FormOptions"));
    setWindowTitle(QString::fromUtf8(kCaption));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);

    CheckPlainLogin = new QCheckBox(QString::fromUtf8(kPlainLogin), this);
    CheckPlainLogin->setObjectName(QStringLiteral("CheckPlainLogin"));
    SpinRate = new QSpinBox(this);
    SpinRate->setObjectName(QStringLiteral("SpinRate"));
    SpinRate->setRange(0, kMaxMailsPerMinute);
    CheckBeforeRun = new QCheckBox(QString::fromUtf8("Vor jedem Mailing prüfen"), this);
    CheckBeforeRun->setObjectName(QStringLiteral("CheckBeforeRun"));

    auto* group = new QGroupBox(QString::fromUtf8(kSignInGroup), this);
    ComboSignIn = new QComboBox(group);
    ComboSignIn->setObjectName(QStringLiteral("ComboSignIn"));
    for (const char* text : kMethodTexts) ComboSignIn->addItem(QString::fromUtf8(text));
    EditClientId = Field("EditClientId", group);
    EditClientSecret = Field("EditClientSecret", group);
    EditClientSecret->setEchoMode(QLineEdit::Password);
    EditTenant = Field("EditTenant", group);
    EditTenant->setPlaceholderText(QString::fromLatin1(kDefaultMicrosoftTenant));
    EditAuthorizeUrl = Field("EditAuthorizeUrl", group);
    EditTokenUrl = Field("EditTokenUrl", group);
    EditDeviceUrl = Field("EditDeviceUrl", group);
    EditScope = Field("EditScope", group);
    ButtonSignIn = new QPushButton(QString::fromUtf8(kSignIn), group);
    ButtonSignIn->setObjectName(QStringLiteral("ButtonSignIn"));
    ButtonSignOut = new QPushButton(QString::fromUtf8(kSignOut), group);
    ButtonSignOut->setObjectName(QStringLiteral("ButtonSignOut"));
    LabelSignInState = new QLabel(group);
    LabelSignInState->setObjectName(QStringLiteral("LabelSignInState"));
    LabelSignInState->setWordWrap(true);
    CheckPasswordInKeyring = new QCheckBox(QString::fromUtf8(kPasswordInKeyring), group);
    CheckPasswordInKeyring->setObjectName(QStringLiteral("CheckPasswordInKeyring"));
    LabelPasswordFile = Explanation(kPasswordFileHint, "LabelPasswordFile", group);
    LabelSecretFile = Explanation("", "LabelSecretFile", group);
    LabelSecretFile->setVisible(false);

    signInForm_ = new QFormLayout;
    signInForm_->addRow(QStringLiteral("Verfahren:"), ComboSignIn);
    signInForm_->addRow(QStringLiteral("Client-ID:"), EditClientId);
    signInForm_->addRow(QStringLiteral("Client-Geheimnis:"), EditClientSecret);
    signInForm_->addRow(QStringLiteral("Mandant (Tenant):"), EditTenant);
    signInForm_->addRow(QStringLiteral("Autorisierungs-URL:"), EditAuthorizeUrl);
    signInForm_->addRow(QStringLiteral("Token-URL:"), EditTokenUrl);
    signInForm_->addRow(QString::fromUtf8("Geräte-URL:"), EditDeviceUrl);
    signInForm_->addRow(QStringLiteral("Bereich (Scope):"), EditScope);
    auto* signInRow = new QWidget(group);
    signInRow->setObjectName(QStringLiteral("SignInRow"));
    auto* signInButtons = new QHBoxLayout(signInRow);
    signInButtons->setContentsMargins(0, 0, 0, 0);
    signInButtons->addWidget(ButtonSignIn);
    signInButtons->addWidget(ButtonSignOut);
    signInButtons->addWidget(LabelSignInState, 1);
    signInForm_->addRow(signInRow);
    // The wrapped texts stay out of the form, whose heights do not follow their wrapping.
    auto* groupLayout = new QVBoxLayout(group);
    groupLayout->addLayout(signInForm_);
    groupLayout->addWidget(Explanation(kOAuthHint, "LabelOAuth", group));
    groupLayout->addWidget(CheckPasswordInKeyring);
    groupLayout->addWidget(LabelPasswordFile);
    groupLayout->addWidget(LabelSecretFile);

    connect(ComboSignIn, &QComboBox::activated, this, [this] { MethodChosen(true); });
    connect(ButtonSignIn, &QPushButton::clicked, this, [this] { SignInClicked(); });
    connect(ButtonSignOut, &QPushButton::clicked, this, [this] { SignOutClicked(); });
    // A sign-in holds only for the token address and client it was made with.
    for (QLineEdit* field : {EditClientId, EditTenant, EditTokenUrl})
        connect(field, &QLineEdit::textEdited, this, [this] { ShowSignInState(); });

    ButtonOK = new QPushButton(QStringLiteral("OK"), this);
    ButtonOK->setObjectName(QStringLiteral("ButtonOK"));
    ButtonOK->setDefault(true);
    ButtonCancel = new QPushButton(QStringLiteral("Abbrechen"), this);
    ButtonCancel->setObjectName(QStringLiteral("ButtonCancel"));
    connect(ButtonOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(ButtonCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ButtonOK);
    buttons->addWidget(ButtonCancel);

    // Two columns: how mails go on the left, the server's sign-in and the Sent folder on the right, so
    // that the window with a sign-in method's rows still fits a screen 768 pixels high.
    auto* left = new QVBoxLayout;
    left->addWidget(CheckPlainLogin);
    auto* hint = Explanation(kPlainLoginHint, "LabelPlainLogin", this);
    hint->setContentsMargins(20, 0, 0, 0);
    left->addWidget(hint);
    left->addSpacing(12);
    auto* rate = new QHBoxLayout;
    rate->addWidget(new QLabel(QString::fromUtf8(kRateBefore), this));
    rate->addWidget(SpinRate);
    rate->addWidget(new QLabel(QString::fromUtf8(kRateAfter), this));
    rate->addStretch(1);
    left->addLayout(rate);
    left->addWidget(Explanation(kRateHint, "LabelRate", this));
    left->addSpacing(12);
    left->addWidget(CheckBeforeRun);
    left->addWidget(Explanation(kCheckHint, "LabelCheck", this));
    left->addStretch(1);
    auto* right = new QVBoxLayout;
    right->addWidget(group);
    right->addSpacing(12);
    BuildSentCopyRows(right);
    right->addStretch(1);
    auto* columns = new QHBoxLayout;
    columns->addLayout(left, 1);
    columns->addSpacing(16);
    columns->addLayout(right, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(columns);
    layout->addSpacing(12);
    layout->addWidget(Explanation(kSavedWith, "LabelSavedWith", this));
    layout->addStretch(1);
    layout->addLayout(buttons);
    MethodChosen();
}

void TFormOptions::FitHeight() {
    // The wrapped explanations need the height that goes with the window's width, not with their own;
    // the rows of the sign-in method change it.
    constexpr int kWidth = 900;
    // A layout caches its heights; the nested ones must forget theirs too, not only the window's.
    for (QLayout* nested : findChildren<QLayout*>()) nested->invalidate();
    layout()->invalidate();
    layout()->activate();
    setFixedSize(kWidth, heightForWidth(kWidth));
}

void TFormOptions::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Before the window is first shown its labels have not their style's fonts yet, so the height fitted
    // for the options handed in was too small for the rows of a sign-in method: fitted again now.
    FitHeight();
}

void TFormOptions::SetOptions(const SendOptions& options) {
    shown_ = options;
    CheckPlainLogin->setChecked(options.allowPlainLogin);
    SpinRate->setValue(options.mailsPerMinute);
    CheckBeforeRun->setChecked(options.checkBeforeRun);
    ComboSignIn->setCurrentIndex(static_cast<int>(options.signIn));
    EditClientId->setText(Text(options.clientId));
    fieldsMethod_ = options.signIn;
    otherIds_.clear();
    otherSecrets_.clear();
    for (const auto& [method, id] : options.otherClientIds) otherIds_[method] = Text(id);
    EditTenant->setText(Text(options.tenant));
    EditAuthorizeUrl->setText(Text(options.authorizeUrl));
    EditTokenUrl->setText(Text(options.tokenUrl));
    EditDeviceUrl->setText(Text(options.deviceUrl));
    EditScope->setText(Text(options.scope));
    CheckPasswordInKeyring->setChecked(options.passwordInKeyring);
    CheckSentCopy->setChecked(options.sentCopy);
    EditImapHost->setText(Text(options.imapHost));
    EditImapPort->setText(options.imapPort > 0 ? QString::number(options.imapPort) : QString());
    EditSentFolder->setText(Text(options.sentFolder));
    MethodChosen();
}

SendOptions TFormOptions::Options() const {
    // What the window does not show stays as it was handed in.
    SendOptions options = shown_;
    options.allowPlainLogin = CheckPlainLogin->isChecked();
    options.mailsPerMinute = SpinRate->value();
    options.checkBeforeRun = CheckBeforeRun->isChecked();
    options.signIn = static_cast<SignInMethod>(ComboSignIn->currentIndex());
    options.clientId = EditClientId->text().trimmed().toStdString();
    options.otherClientIds.clear();
    for (const auto& [method, id] : otherIds_) {
        if (method != options.signIn && !id.trimmed().isEmpty()) options.otherClientIds[method] = id.trimmed().toStdString();
    }
    options.tenant = EditTenant->text().trimmed().toStdString();
    options.authorizeUrl = EditAuthorizeUrl->text().trimmed().toStdString();
    options.tokenUrl = EditTokenUrl->text().trimmed().toStdString();
    options.deviceUrl = EditDeviceUrl->text().trimmed().toStdString();
    options.scope = EditScope->text().trimmed().toStdString();
    options.passwordInKeyring = CheckPasswordInKeyring->isChecked();
    options.sentCopy = CheckSentCopy->isChecked();
    options.imapHost = EditImapHost->text().trimmed().toStdString();
    options.imapPort = EditImapPort->text().trimmed().toInt();  // empty: 0, the default port
    options.sentFolder = EditSentFolder->text().trimmed().toStdString();
    return options;
}

void TFormOptions::BuildSentCopyRows(QBoxLayout* layout) {
    CheckSentCopy = new QCheckBox(QString::fromUtf8(kSentCopy), this);
    CheckSentCopy->setObjectName(QStringLiteral("CheckSentCopy"));
    EditImapHost = Field("EditImapHost", this);
    EditImapPort = Field("EditImapPort", this);
    EditImapPort->setValidator(new QIntValidator(0, 65535, EditImapPort));
    EditImapPort->setPlaceholderText(QString::number(kImapDefaultPort));
    EditImapPort->setMaximumWidth(70);
    EditSentFolder = Field("EditSentFolder", this);
    EditSentFolder->setPlaceholderText(QString::fromUtf8(kSentFolderPlaceholder));
    LabelSentCopyProvider = Explanation(kSentCopyProvider, "LabelSentCopyProvider", this);

    auto* server = new QHBoxLayout;
    server->addWidget(EditImapHost, 1);
    server->addWidget(new QLabel(QStringLiteral("Port:"), this));
    server->addWidget(EditImapPort);
    auto* form = new QFormLayout;
    form->setContentsMargins(20, 0, 0, 0);
    form->addRow(QStringLiteral("IMAP-Server:"), server);
    form->addRow(QStringLiteral("Ordner:"), EditSentFolder);
    layout->addWidget(CheckSentCopy);
    layout->addLayout(form);
    auto* hint = Explanation(kSentCopyHint, "LabelSentCopy", this);
    hint->setContentsMargins(20, 0, 0, 0);
    layout->addWidget(hint);
    LabelSentCopyProvider->setContentsMargins(20, 0, 0, 0);
    layout->addWidget(LabelSentCopyProvider);
    connect(CheckSentCopy, &QCheckBox::toggled, this, [this] { ShowSentCopyRows(); });
}

void TFormOptions::ShowSentCopyRows() {
    const bool on = CheckSentCopy->isChecked();
    for (QLineEdit* field : {EditImapHost, EditImapPort, EditSentFolder}) field->setEnabled(on);
    const std::string host = DefaultImapHost(account_.host);
    EditImapHost->setPlaceholderText(host.empty() ? QString::fromUtf8(kImapHostPlaceholder) : FromLocal(host));
    // Their servers file every mail sent through them: a copy of Postira's would stand there twice. The
    // option stays as the user set it.
    const SignInMethod method = static_cast<SignInMethod>(ComboSignIn->currentIndex());
    LabelSentCopyProvider->setVisible(method == SignInMethod::Microsoft || method == SignInMethod::Google);
}

std::optional<TFormOptions::Choice> TFormOptions::Edit(const SendOptions& options, const AccountSettings& account) {
    account_ = account;
    server_.reset();
    clientSecretShown_.reset();
    EditClientSecret->clear();
    SetOptions(options);
    if (exec() != QDialog::Accepted) return std::nullopt;
    const SendOptions chosen = Options();
    // The secrets typed for each method, the chosen one's and those of methods left on the way.
    otherSecrets_[chosen.signIn] = {clientSecretShown_.value_or(""), EditClientSecret->text()};
    for (const auto& [method, kept] : otherSecrets_) {
        const std::string secret = kept.typed.trimmed().toStdString();
        if (!secrets_ || secret == kept.shown || (method == chosen.signIn && !clientSecretShown_)) continue;
        SendOptions forMethod = chosen;
        forMethod.signIn = method;
        if (method != chosen.signIn) forMethod.clientId = otherIds_[method].trimmed().toStdString();
        try {
            secrets_->SetClientSecret(forMethod, account_, secret);
        } catch (const std::exception& error) {
            services::Messages().Error(Text(error.what()));
        }
    }
    return Choice{chosen, server_};
}

void TFormOptions::SwitchMethodFields() {
    const SignInMethod method = static_cast<SignInMethod>(ComboSignIn->currentIndex());
    if (method == fieldsMethod_) return;
    otherIds_[fieldsMethod_] = EditClientId->text();
    if (clientSecretShown_) otherSecrets_[fieldsMethod_] = {*clientSecretShown_, EditClientSecret->text()};
    EditClientId->setText(otherIds_[method]);
    otherIds_.erase(method);
    clientSecretShown_.reset();
    EditClientSecret->clear();
    const auto kept = otherSecrets_.find(method);
    if (kept != otherSecrets_.end()) {
        clientSecretShown_ = kept->second.shown;
        EditClientSecret->setText(kept->second.typed);
        otherSecrets_.erase(kept);
    }
    fieldsMethod_ = method;
}

QStringList TFormOptions::MissingSignInFields() const {
    QStringList missing;
    const SendOptions options = Options();
    if (options.clientId.empty()) missing << QStringLiteral("Client-ID");
    if (options.signIn == SignInMethod::OtherOAuth2) {
        if (options.authorizeUrl.empty() && options.deviceUrl.empty()) missing << QStringLiteral("Autorisierungs-URL");
        if (options.tokenUrl.empty()) missing << QStringLiteral("Token-URL");
    }
    return missing;
}

void TFormOptions::MethodChosen(bool byUser) {
    if (byUser) SwitchMethodFields();
    const SendOptions options = Options();
    const SignInMethod method = options.signIn;
    const bool oauth = options.UsesOAuth2();
    const bool other = method == SignInMethod::OtherOAuth2;
    signInForm_->setRowVisible(EditClientId, oauth);
    // Google wants a secret from desktop clients too; Microsoft's public clients have none.
    const bool secret = method == SignInMethod::Google || other;
    signInForm_->setRowVisible(EditClientSecret, secret);
    // Read from the keyring only where it is shown: a password user's window never asks the keyring.
    if (secret && !clientSecretShown_ && secrets_) {
        clientSecretShown_.emplace();
        try {
            *clientSecretShown_ = secrets_->ClientSecret(options, account_);
        } catch (const std::exception& error) {
            services::Messages().Error(Text(error.what()));
        }
        EditClientSecret->setText(Text(*clientSecretShown_));
    }
    signInForm_->setRowVisible(EditTenant, method == SignInMethod::Microsoft);
    for (QLineEdit* field : {EditAuthorizeUrl, EditTokenUrl, EditDeviceUrl, EditScope})
        signInForm_->setRowVisible(field, other);
    signInForm_->setRowVisible(findChild<QWidget*>(QStringLiteral("SignInRow")), oauth);
    findChild<QLabel*>(QStringLiteral("LabelOAuth"))->setVisible(oauth);
    CheckPasswordInKeyring->setVisible(!oauth);
    LabelPasswordFile->setVisible(!oauth);
    ShowSentCopyRows();

    // A known provider brings its server; the account fields get it when the user confirms.
    const OAuthEndpoints endpoints = EffectiveEndpoints(OAuthSettingsFrom(options, ""));
    if (byUser) {
        server_.reset();
        if (!endpoints.smtpHost.empty())
            server_ = std::make_pair(Text(endpoints.smtpHost), QString::number(endpoints.smtpPort));
    }
    ShowSignInState();
    FitHeight();
}

void TFormOptions::ShowSignInState() {
    const SendOptions options = Options();
    LabelSecretFile->setVisible(false);
    if (!options.UsesOAuth2()) return;
    const bool ready = secrets_ != nullptr && !signingIn_;
    ButtonSignIn->setText(QString::fromUtf8(signingIn_ ? kStopSignIn : kSignIn));
    ButtonSignIn->setEnabled(secrets_ != nullptr);
    ButtonSignOut->setEnabled(false);
    ButtonOK->setEnabled(!signingIn_);
    ButtonCancel->setEnabled(!signingIn_);
    ComboSignIn->setEnabled(!signingIn_);
    if (signingIn_) {
        LabelSignInState->setText(QString::fromUtf8(kInBrowser));
        return;
    }
    const std::string user = Trim(account_.user);
    const std::string provider = EffectiveEndpoints(OAuthSettingsFrom(options, user)).providerName;
    QString state = QString::fromUtf8("Nicht angemeldet.");
    try {
        if (ready && !user.empty() && secrets_->SignedIn(options, account_)) {
            state = QString::fromUtf8("Angemeldet bei %1 als %2.").arg(Text(provider), FromLocal(user));
            ButtonSignOut->setEnabled(true);
        }
    } catch (const std::exception& error) {
        state = Text(error.what());
    }
    LabelSignInState->setText(state);
    if (ready && secrets_->Store().UsesFile()) {
        LabelSecretFile->setText(Text(secrets_->Store().FileNote()));
        LabelSecretFile->setVisible(true);
    }
}

void TFormOptions::SignInClicked() {
    if (signingIn_) {
        stopSignIn_ = true;
        return;
    }
    const std::string user = Trim(account_.user);
    if (user.empty()) {
        services::Messages().Error(QString::fromUtf8(kNoUser));
        return;
    }
    if (const QStringList missing = MissingSignInFields(); !missing.isEmpty()) {
        services::Messages().Error(QString::fromUtf8(kFieldsMissing).arg(missing.join(QStringLiteral(", "))));
        return;
    }
    signingIn_ = true;
    stopSignIn_ = false;
    ShowSignInState();
    try {
        OAuthSettings settings = OAuthSettingsFrom(Options(), user);
        settings.clientSecret = EditClientSecret->text().trimmed().toStdString();
        // Another provider's tokens will go to the account's server of this moment only.
        settings.smtpHost = Trim(account_.host);
        settings.smtpPort = PortOrZero(account_.port);
        BrowserSignIn signIn(settings, secrets_->Store(),
                             [](const QUrl& url) { return services::Starter().OpenUrl(url); });
        signIn.Run([this] { return stopSignIn_; });
    } catch (const std::exception& error) {
        signingIn_ = false;
        ShowSignInState();
        services::Messages().Error(Text(error.what()));
        return;
    }
    signingIn_ = false;
    ShowSignInState();
}

void TFormOptions::SignOutClicked() {
    try {
        secrets_->SignOut(account_);
    } catch (const std::exception& error) {
        services::Messages().Error(Text(error.what()));
    }
    ShowSignInState();
}
