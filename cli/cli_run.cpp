#include "cli/cli_run.h"

#include "mailing/data_folder.h"
#include "mailing/mailing_check.h"
#include "mailing/mailing_run.h"
#include "mailing/options_file.h"
#include "mailing/settings_file.h"
#include "signin/account_secrets.h"
#include "signin/browser_sign_in.h"

#include <atomic>
#include <exception>
#include <iostream>
#include <ostream>
#include <stdexcept>

namespace {

const char* OutcomeText(LineOutcome outcome) {
    switch (outcome) {
        case LineOutcome::Sent: return "gesendet an";
        case LineOutcome::SendFailed: return "Fehler beim Senden an";
        case LineOutcome::NoFirstName: return "nicht gesendet, kein Vorname:";
        case LineOutcome::NoAddress: return "nicht gesendet, keine Adresse";
        case LineOutcome::EmptyMessage: return "nicht gesendet, leere Mail:";
        case LineOutcome::Blank: return "leer";
        case LineOutcome::AlreadySent: return "bereits gesendet (unterbrochener Durchlauf):";
        case LineOutcome::InDoubt: return "unsicher, Verbindung nach dem Senden getrennt:";
        case LineOutcome::Stopped: return "nicht gesendet, Mailing gestoppt:";
    }
    return "";
}

// The run's access tokens for an OAuth2 account. A refusal that only a new sign-in can mend is noted, so
// that the end of the log can name the remedy on the command line: the cause itself names the options
// window. Called from the run's sending thread.
class TerminalTokens : public TIdAccessTokenSource {
public:
    explicit TerminalTokens(std::shared_ptr<OAuthTokenSource> source) : source_(std::move(source)) {}

    std::string AccessToken(bool renew) override {
        try {
            return source_->AccessToken(renew);
        } catch (const ETokenError& error) {
            if (error.SignInAgain()) signInAgain_.store(true, std::memory_order_release);
            throw;
        }
    }
    std::optional<std::string> Refusal(const std::string& host, int port) override { return source_->Refusal(host, port); }
    std::optional<std::string> IMAPRefusal(const std::string& host, int port) override {
        return source_->IMAPRefusal(host, port);
    }
    bool SignInAgain() const { return signInAgain_.load(std::memory_order_acquire); }

private:
    std::shared_ptr<OAuthTokenSource> source_;
    std::atomic<bool> signInAgain_{false};
};

// The note that the secrets go to the file in the data folder because no keyring answered: shown once,
// as soon as the store knows it, and only to a user whose secrets are kept there.
class FileStoreNote {
public:
    FileStoreNote(const SecretStore& store, std::ostream& err, bool keepsSecrets)
        : store_(store), err_(err), shown_(!keepsSecrets) {}
    void ShowIfNeeded() {
        if (shown_ || !store_.UsesFile()) return;
        err_ << "Hinweis: " << store_.FileNote() << '\n';
        shown_ = true;
    }

private:
    const SecretStore& store_;
    std::ostream& err_;
    bool shown_;
};

// The terminal as front end: every line's result on standard output, every message box on standard
// error as its caption and text, questions answered with "Nein" unless --yes.
class TerminalFrontEnd : public RunFrontEnd {
public:
    TerminalFrontEnd(const AccountSettings& account, const SendOptions& sendOptions, const CliOptions& options,
                     std::shared_ptr<TIdAccessTokenSource> tokens, std::ostream& out, std::ostream& err,
                     const std::function<bool()>& stop)
        : account_(account), sendOptions_(sendOptions), options_(options), tokens_(std::move(tokens)), out_(out),
          err_(err), stop_(stop) {}

    AccountSettings Account() override { return account_; }
    SendOptions Options() override { return sendOptions_; }
    std::shared_ptr<TIdAccessTokenSource> AccessTokens() override { return tokens_; }
    std::string CopyList() override { return options_.cc; }
    void ProcessPendingInput() override {}
    bool StopRequested() override { return stop_ && stop_(); }
    void ClearStopRequest() override {}
    bool Ask(const std::string& text) override {
        err_ << "Bestätigung: " << text << (options_.yes ? " Ja" : " Nein") << '\n';
        return options_.yes;
    }
    std::optional<std::string> PickListFile(const std::string&, const std::string&) override { return std::nullopt; }
    void ShowError(const std::string& text) override { err_ << "Fehler: " << text << '\n'; }
    std::optional<bool> ResumeInterrupted(int sentCount, int goneCount) override {
        if (options_.resume || options_.noResume) {
            err_ << "Bestätigung: " << ResumeQuestionText(sentCount, goneCount) << (options_.resume ? " Ja" : " Nein")
                 << '\n';
            return options_.resume;
        }
        err_ << "Fehler: " << ResumeQuestionText(sentCount, goneCount)
             << " Bitte --resume (nur an die übrigen Empfänger) oder --no-resume (an alle) angeben.\n";
        return std::nullopt;
    }
    void ShowInformation(const std::string& text) override { err_ << "Informationen: " << text << '\n'; }
    void SetProgressMaximum(int) override {}
    void SetProgress(int) override {}
    void SetStatus(const std::string& text, bool) override { status_ = text; }
    void ShowLineFields(const std::string&, const std::string&, const std::string&) override {}
    void ShowMessageText(const std::string&, bool) override {}
    void ShowMailNumber(int) override {}
    void SetCurrentTextFile(const std::string&) override {}
    void ShowSendError(const std::string&) override {
        err_ << "Fehler: " << kSendErrorText << '\n';
        // The log names the line already; it adds why, in the words of the failure.
        const std::string reason = transport_ != nullptr ? transport_->LastErrorText() : std::string();
        if (!reason.empty()) err_ << "Ursache: " << reason << '\n';
    }
    void SetTransport(const MailTransport* transport) { transport_ = transport; }
    void ShowConnected() override {}
    // The summary is the end of the log, on standard output with the lines.
    void ShowSummary(const std::string& text) override { out_ << text << '\n'; }
    void LineDone(int number, LineOutcome outcome, const RecipientRecord& record) override {
        out_ << number << ": " << OutcomeText(outcome);
        if (outcome != LineOutcome::NoAddress) out_ << ' ' << Trim(record.Address);
        out_ << '\n' << std::flush;
    }

    const std::string& Status() const { return status_; }

private:
    AccountSettings account_;
    SendOptions sendOptions_;
    const CliOptions& options_;
    std::shared_ptr<TIdAccessTokenSource> tokens_;
    std::ostream& out_;
    std::ostream& err_;
    const std::function<bool()>& stop_;
    const MailTransport* transport_ = nullptr;
    std::string status_;
};

// A first retry wait of an hour is more than any provider asks for.
constexpr int kMaxRetryWaitSeconds = 3600;

int ParseNumber(const std::string& arg, const std::string& text, int highest, int lowest) {
    long number = text.empty() || text.size() > 6 ? -1 : 0;
    for (const char c : text) number = c >= '0' && c <= '9' && number >= 0 ? number * 10 + (c - '0') : -1;
    if (number < lowest || number > highest) {
        throw std::invalid_argument("Für " + arg + " eine ganze Zahl von " + std::to_string(lowest) + " bis " +
                                    std::to_string(highest) + " angeben, nicht \"" + text + "\".");
    }
    return static_cast<int>(number);
}

void ApplySentCopyFlags(const CliOptions& flags, SendOptions& options) {
    if (flags.sentCopy) options.sentCopy = *flags.sentCopy;
    if (flags.imapHost) options.imapHost = *flags.imapHost;
    if (flags.imapPort) options.imapPort = *flags.imapPort;
    if (flags.sentFolder) options.sentFolder = *flags.sentFolder;
}

void ApplySignInFlags(const CliOptions& flags, SendOptions& options) {
    if (flags.signIn) options.signIn = *flags.signIn;
    const std::pair<const std::optional<std::string>*, std::string*> texts[] = {
        {&flags.clientId, &options.clientId},         {&flags.tenant, &options.tenant},
        {&flags.authorizeUrl, &options.authorizeUrl}, {&flags.tokenUrl, &options.tokenUrl},
        {&flags.deviceUrl, &options.deviceUrl},       {&flags.scope, &options.scope},
    };
    for (const auto& [flag, option] : texts) {
        if (*flag) *option = **flag;
    }
}

// The device sign-in (RFC 8628): the user opens the provider's page on any device and enters the code
// shown here, while this program asks the provider at the interval it names whether that is done.
std::optional<TokenGrant> SignInWithCode(const OAuthSettings& settings, std::ostream& out,
                                         const std::function<bool()>& stop) {
    TokenClient client(settings);
    const DeviceAuthorization authorization = client.StartDeviceAuthorization();
    out << "Bitte " << authorization.verificationUri << " öffnen und den Code " << authorization.userCode
        << " eingeben.\n";
    if (!authorization.verificationUriComplete.empty())
        out << "Oder diese Adresse öffnen, die den Code schon enthält: " << authorization.verificationUriComplete
            << '\n';
    out << "Postira wartet, bis die Anmeldung bestätigt ist (Abbrechen mit Strg+C).\n" << std::flush;
    return client.PollDeviceToken(authorization, stop);
}

// The sign-in in a browser on this machine: the provider sends the browser back to a listener on the
// loopback address, so the address must be opened here, not on another device.
std::optional<TokenGrant> SignInWithBrowser(const OAuthSettings& settings, SecretStore& store, std::ostream& out,
                                            const std::function<bool()>& stop) {
    const std::string provider = EffectiveEndpoints(settings).providerName;
    BrowserSignIn signIn(settings, store, [&](const QUrl& url) {
        out << "Bitte diese Adresse in einem Browser auf diesem Rechner öffnen und bei " << provider
            << " anmelden:\n"
            << url.toString(QUrl::FullyEncoded).toStdString() << '\n'
            << "Postira wartet auf die Rückmeldung des Browsers (Abbrechen mit Strg+C).\n"
            << std::flush;
        return true;
    });
    return signIn.Run(stop);
}

// --sign-in and --sign-out: end without sending.
int SignInOrOut(const CliOptions& options, const AccountSettings& account, const SendOptions& sendOptions,
                AccountSecrets& secrets, FileStoreNote& fileNote, std::ostream& out, std::ostream& err,
                const std::function<bool()>& stop) {
    const std::string user = Trim(account.user);
    if (options.signInNow && !sendOptions.UsesOAuth2()) {
        err << "Für --sign-in eine Anmeldung mit OAuth2 wählen: --auth microsoft, google oder oauth2 "
               "(oder in den Versandoptionen).\n"
            << CliUsage();
        return kExitUsage;
    }
    if (user.empty()) {
        err << "Fehler: Für die Anmeldung fehlt der Benutzername (die Mailadresse) in den Kontodaten.\n";
        return kExitUsage;
    }
    try {
        if (options.signOut) {
            const bool wasSignedIn = secrets.SignInStored(account);
            secrets.SignOut(account);
            fileNote.ShowIfNeeded();
            out << (wasSignedIn ? "Die Anmeldung von " + user + " wurde entfernt."
                                : "Für " + user + " war keine Anmeldung gespeichert.")
                << '\n';
            return kExitCompleted;
        }
        const OAuthSettings settings = secrets.Settings(sendOptions, account);
        const OAuthEndpoints endpoints = EffectiveEndpoints(settings);
        std::optional<TokenGrant> grant;
        if (endpoints.deviceUrl.empty()) {
            grant = SignInWithBrowser(settings, secrets.Store(), out, stop);  // keeps the refresh token itself
        } else {
            grant = SignInWithCode(settings, out, stop);
            if (grant) KeepRefreshToken(settings, secrets.Store(), *grant);
        }
        fileNote.ShowIfNeeded();
        if (!grant) {
            err << "Anmeldung abgebrochen.\n";
            return kExitProblem;
        }
        out << "Angemeldet bei " << endpoints.providerName << " als " << user
            << ". Die Anmeldung bleibt gespeichert, bis sie mit --sign-out entfernt wird.\n";
        return kExitCompleted;
    } catch (const std::exception& error) {
        fileNote.ShowIfNeeded();
        err << "Fehler: " << error.what() << '\n';
        return kExitProblem;
    }
}

// Whether the Sent folder of the copies is found: one IMAP login with the password or sign-in from the
// keyring, as a run would log in.
SentFolderCheck CheckSentFolderOf(const std::string& folder, AccountSettings account, const SendOptions& sendOptions,
                                  const CliTransports& transports) {
    try {
        AccountSecrets secrets(transports.secretStore ? transports.secretStore(folder)
                                                      : std::make_shared<SecretStore>(folder));
        account = secrets.WithStoredPassword(account, sendOptions);
        const SentCopyAccount copies = SentCopyAccountFor(account, sendOptions, secrets.TokenSource(sendOptions, account));
        return CheckSentFolder(copies, transports.imap ? transports.imap : DefaultImapClients());
    } catch (const std::exception& error) {
        return {false, error.what()};
    }
}

// --check: one line per finding and the sum, on standard output. Reads the settings, the options and the
// list as a run would, and nothing else: no password from the keyring, no sign-in, no lock, no journal;
// only with the copy in the Sent folder on, the one IMAP login that tells whether the folder is found.
int CheckOnly(const CliOptions& options, const std::string& folder, const AccountSettings& account,
              const SendOptions& sendOptions, const CliTransports& transports, std::ostream& out, std::ostream& err) {
    CheckInput input;
    input.dataFolder = folder;
    input.listPath = options.listFile.empty() ? DataFilePath(folder, kListFileName) : options.listFile;
    input.account = account;
    input.options = sendOptions;
    input.cc = options.cc;
    CheckReport report;
    try {
        report = CheckMailing(input);
    } catch (const std::exception& error) {
        err << "Fehler: " << error.what() << '\n';
        return kExitProblem;
    }
    if (sendOptions.sentCopy) AddSentFolderCheck(report, CheckSentFolderOf(folder, account, sendOptions, transports));
    for (const CheckLine& line : report.findings) {
        if (line.number == 0) {
            out << "Konto: ";
        } else {
            out << "Zeile " << line.number << ": ";
            if (!line.address.empty()) out << line.address << ": ";
        }
        out << line.text << '\n';
    }
    out << report.SummaryText() << '\n';
    for (const std::string& note : report.notes) out << note << '\n';
    return report.Clean() ? kExitCompleted : kExitProblem;
}

// The client secret from a file or, for "-", standard input: its first line, without blanks around it.
std::string ReadClientSecret(const std::string& path, std::istream& in) {
    std::string text;
    if (path == "-") {
        std::getline(in, text);
    } else {
        text = ReadWholeFile(path);
        text = text.substr(0, text.find_first_of("\r\n"));
    }
    text = Trim(text);
    if (text.empty()) {
        throw std::invalid_argument("In " + std::string(path == "-" ? "der Standardeingabe" : "\"" + path + "\"") +
                                    " steht kein Client-Geheimnis.");
    }
    return text;
}

}  // namespace

std::string CliUsage() {
    return "Aufruf: postira-run [--data-dir ORDNER] [--list DATEI] [--cc TEXT] [--yes] [--dry-run ORDNER]\n"
           "                   [--resume | --no-resume] [--allow-plain-login] [--rate N] [--retry-wait S]\n"
           "                   [--sent-copy | --no-sent-copy] [--imap-host H] [--imap-port P] [--sent-folder NAME]\n"
           "                   [--auth VERFAHREN] [--client-id ID] [--tenant T] [--scope TEXT] [...]\n"
           "       postira-run [--data-dir ORDNER] [--auth VERFAHREN ...] --sign-in | --sign-out\n"
           "       postira-run [--data-dir ORDNER] [--list DATEI] [--cc TEXT] [--rate N] --check\n"
           "Verschickt die Serienmail an jede Zeile der Empfängerliste, mit den Kontodaten aus den Einstellungen.\n"
           "  --data-dir ORDNER  Datenordner (Standard: der Datenordner des Programms)\n"
           "  --list DATEI       Empfängerliste (Standard: sendlist.csv im Datenordner)\n"
           "  --cc TEXT          Kopie-Empfänger jeder Mail\n"
           "  --yes              Rückfragen mit Ja beantworten (sonst Nein)\n"
           "  --dry-run ORDNER   nichts senden, nichts ändern: jede Mail als ORDNER/NNNN.eml schreiben\n"
           "  --resume           nach einem unterbrochenen Durchlauf nur an die übrigen Empfänger senden\n"
           "  --no-resume        nach einem unterbrochenen Durchlauf an alle Zeilen senden\n"
           "  --allow-plain-login  das Passwort auch ohne Verschlüsselung senden (nur für diesen Durchlauf)\n"
           "  --rate N           höchstens N Mails pro Minute (0: ohne Grenze; sonst aus den Versandoptionen)\n"
           "  --retry-wait S     nach einem vorübergehenden Fehler zuerst S Sekunden warten (Standard: 30)\n"
           "  --sent-copy, --no-sent-copy  eine Kopie jeder Mail in den Ordner „Gesendet“ ablegen oder nicht\n"
           "                     (sonst aus den Versandoptionen)\n"
           "  --imap-host H      IMAP-Server der Kopien (Standard: der SMTP-Server mit imap. statt smtp.)\n"
           "  --imap-port P      Port des IMAP-Servers: 993 mit TLS, 143 mit STARTTLS (Standard: 993)\n"
           "  --sent-folder NAME Ordner der Kopien (Standard: der vom Server als „Gesendet“ markierte)\n"
           "  --auth VERFAHREN   Anmeldung: password, microsoft, google oder oauth2 (sonst aus den Versandoptionen)\n"
           "  --client-id ID, --tenant T, --authorize-url URL, --token-url URL, --device-url URL, --scope TEXT\n"
           "                     Angaben der OAuth2-Anmeldung für diesen Durchlauf\n"
           "  --client-secret-file DATEI  das Client-Geheimnis (Google) aus der Datei (- : Standardeingabe),\n"
           "                     wird im Schlüsselbund gespeichert\n"
           "  --client-secret TEXT  dasselbe auf der Befehlszeile (für andere Benutzer sichtbar)\n"
           "  --sign-in          beim OAuth2-Anbieter anmelden und die Anmeldung speichern, nichts senden\n"
           "  --sign-out         die gespeicherte Anmeldung entfernen, nichts senden\n"
           "  --check            das Mailing prüfen: Befunde je Zeile und die Summe ausgeben, nichts senden\n"
           "  --help, --version\n"
           "Rückgabe: 0 Mailing komplett, 1 Fehler oder abgebrochen, 2 falscher Aufruf oder Kontodaten fehlen;\n"
           "mit --check: 0 ohne Befund, 1 mit Befunden.\n";
}

void ApplyCliOptions(const CliOptions& flags, SendOptions& options) {
    options.allowPlainLogin = options.allowPlainLogin || flags.allowPlainLogin;
    if (flags.rate) options.mailsPerMinute = *flags.rate;
    ApplySignInFlags(flags, options);
    ApplySentCopyFlags(flags, options);
}

CliOptions ParseCliOptions(const std::vector<std::string>& args) {
    CliOptions options;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= args.size()) throw std::invalid_argument("Für " + arg + " fehlt der Wert.");
            return args[++i];
        };
        if (arg == "--data-dir") options.dataDir = value();
        else if (arg == "--list") options.listFile = value();
        else if (arg == "--cc") options.cc = value();
        else if (arg == "--dry-run") options.dryRunDir = value();
        else if (arg == "--yes") options.yes = true;
        else if (arg == "--resume") options.resume = true;
        else if (arg == "--no-resume") options.noResume = true;
        else if (arg == "--allow-plain-login") options.allowPlainLogin = true;
        else if (arg == "--rate") options.rate = ParseNumber(arg, value(), kMaxMailsPerMinute, 0);
        else if (arg == "--auth") {
            const std::string name = value();
            options.signIn = ParseSignInMethod(name);
            if (!options.signIn) {
                throw std::invalid_argument("Für --auth password, microsoft, google oder oauth2 angeben, nicht \"" +
                                            name + "\".");
            }
        }
        else if (arg == "--sent-copy" || arg == "--no-sent-copy") {
            const bool on = arg == "--sent-copy";
            if (options.sentCopy && *options.sentCopy != on)
                throw std::invalid_argument("--sent-copy und --no-sent-copy schließen sich aus.");
            options.sentCopy = on;
        }
        else if (arg == "--imap-host") options.imapHost = value();
        else if (arg == "--imap-port") options.imapPort = ParseNumber(arg, value(), 65535, 0);
        else if (arg == "--sent-folder") options.sentFolder = value();
        else if (arg == "--client-id") options.clientId = value();
        else if (arg == "--client-secret") options.clientSecret = value();
        else if (arg == "--client-secret-file") options.clientSecretFile = value();
        else if (arg == "--tenant") options.tenant = value();
        else if (arg == "--authorize-url") options.authorizeUrl = value();
        else if (arg == "--token-url") options.tokenUrl = value();
        else if (arg == "--device-url") options.deviceUrl = value();
        else if (arg == "--scope") options.scope = value();
        else if (arg == "--sign-in") options.signInNow = true;
        else if (arg == "--sign-out") options.signOut = true;
        else if (arg == "--check") options.check = true;
        else if (arg == "--retry-wait") options.retryWaitSeconds = ParseNumber(arg, value(), kMaxRetryWaitSeconds, 1);
        else if (arg == "--help" || arg == "-h") options.help = true;
        else if (arg == "--version") options.version = true;
        else throw std::invalid_argument("Unbekannte Angabe: " + arg);
    }
    if (options.resume && options.noResume) throw std::invalid_argument("--resume und --no-resume schließen sich aus.");
    if (options.clientSecret && options.clientSecretFile)
        throw std::invalid_argument("--client-secret und --client-secret-file schließen sich aus.");
    if (options.signInNow && options.signOut)
        throw std::invalid_argument("--sign-in und --sign-out schließen sich aus.");
    if (options.check && (options.signInNow || options.signOut || !options.dryRunDir.empty()))
        throw std::invalid_argument("--check sendet nichts und meldet nicht an: ohne --dry-run, --sign-in und --sign-out angeben.");
    return options;
}

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const CliTransports& transports,
           const std::function<bool()>& stop) {
    CliOptions options;
    try {
        options = ParseCliOptions(args);
    } catch (const std::invalid_argument& error) {
        err << error.what() << '\n' << CliUsage();
        return kExitUsage;
    }
    if (options.help) {
        out << CliUsage();
        return kExitCompleted;
    }
    if (options.version) {
        out << "postira-run " << POSTIRA_VERSION << '\n';
        return kExitCompleted;
    }

    std::string folder = options.dataDir.empty() ? ComputeDataFolder() : options.dataDir;
    if (folder.back() != '/') folder += '/';
    AccountSettings account;
    SendOptions sendOptions;
    try {
        // The check creates nothing, not even the data folder.
        SettingsFile settingsFile(folder);
        account = options.check ? settingsFile.ReadSettings() : settingsFile.LoadSettings();
        OptionsFile optionsFile(folder);
        sendOptions = optionsFile.Load();
        if (!optionsFile.Note().empty()) err << "Hinweis: " << optionsFile.Note() << '\n';
        ApplyCliOptions(options, sendOptions);
    } catch (const std::exception& error) {
        err << "Fehler: " << error.what() << '\n';
        return kExitProblem;
    }
    if (options.check) return CheckOnly(options, folder, account, sendOptions, transports, out, err);

    AccountSecrets secrets(transports.secretStore ? transports.secretStore(folder)
                                                  : std::make_shared<SecretStore>(folder));
    const bool signInCommand = options.signInNow || options.signOut;
    if (options.clientSecretFile) {
        try {
            options.clientSecret =
                ReadClientSecret(*options.clientSecretFile, transports.input != nullptr ? *transports.input : std::cin);
        } catch (const std::exception& error) {
            err << "Fehler: " << error.what() << '\n';
            return kExitProblem;
        }
    } else if (options.clientSecret) {
        err << "Hinweis: Ein Client-Geheimnis auf der Befehlszeile sehen andere Benutzer dieses Rechners in der "
               "Prozessliste, und es bleibt im Verlauf der Shell. Besser: --client-secret-file DATEI (oder - für "
               "die Standardeingabe).\n";
    }
    if (options.clientSecret) {
        try {
            secrets.SetClientSecret(sendOptions, account, *options.clientSecret);
        } catch (const std::exception& error) {
            err << "Fehler: " << error.what() << '\n';
            return kExitProblem;
        }
    }
    // A password in the settings file is not looked for in the keyring: no note for it.
    FileStoreNote fileNote(secrets.Store(), err,
                           signInCommand || sendOptions.UsesOAuth2() ||
                               (sendOptions.passwordInKeyring && Trim(account.password).empty()));
    if (signInCommand)
        return SignInOrOut(options, account, sendOptions, secrets, fileNote, out, err, stop);

    std::unique_ptr<MailTransport> transport;
    std::shared_ptr<TerminalTokens> tokens;
    try {
        account = secrets.WithStoredPassword(account, sendOptions);
        if (auto source = secrets.TokenSource(sendOptions, account)) tokens = std::make_shared<TerminalTokens>(source);
        // Without a sign-in every line would fail alike; a dry run logs in nowhere.
        const std::string user = Trim(account.user);
        if (tokens && options.dryRunDir.empty() && !user.empty() && !secrets.SignInStored(account)) {
            fileNote.ShowIfNeeded();
            err << "Fehler: Für " << user << " besteht keine Anmeldung bei "
                << EffectiveEndpoints(OAuthSettingsFrom(sendOptions, user)).providerName
                << ". Bitte zuerst mit postira-run --sign-in anmelden.\n";
            return kExitUsage;
        }
        fileNote.ShowIfNeeded();
        transport = options.dryRunDir.empty() ? transports.smtp() : transports.dryRun(options.dryRunDir);
    } catch (const std::exception& error) {
        fileNote.ShowIfNeeded();
        err << "Fehler: " << error.what() << '\n';
        return kExitProblem;
    }

    TerminalFrontEnd frontEnd(account, sendOptions, options, tokens, out, err, stop);
    frontEnd.SetTransport(transport.get());
    MailingRun run(frontEnd, *transport, folder);
    if (!options.listFile.empty()) run.SetListPath(options.listFile);
    // A dry run changes no file.
    run.SetWriteBack(options.dryRunDir.empty());
    if (options.retryWaitSeconds) run.SetRetryRule(RetryRule::WithFirstWait(std::chrono::seconds(*options.retryWaitSeconds)));
    if (transports.imap) run.SetImapClients(transports.imap);
    bool started = false;
    // The last line of the log says how the run ended, and whether it can be resumed.
    auto printStatus = [&] {
        if (frontEnd.Status().empty() || frontEnd.Status() == kRunStarted) return;
        out << frontEnd.Status();
        if (run.Resumable()) out << " Fortsetzen mit postira-run --resume, an alle Zeilen senden mit --no-resume.";
        out << '\n';
    };
    try {
        started = run.StartMailing();
    } catch (const std::exception& error) {
        err << "Fehler: " << error.what() << '\n';
        printStatus();
        return kExitProblem;
    }
    fileNote.ShowIfNeeded();
    if (tokens && tokens->SignInAgain()) err << "Hinweis: Neu anmelden mit postira-run --sign-in.\n";
    if (!started) return kExitUsage;
    if (run.Refused()) return kExitUsage;
    // A run that found no list ends before it has a final status; its last line says so instead of
    // "Mailing gestartet. Bitte warten...".
    if (frontEnd.Status() == kRunStarted) {
        out << "Mailing nicht gestartet: keine Empfängerliste (" << run.ListPath() << ").\n";
        return kExitProblem;
    }
    printStatus();
    // A mail in doubt may not have arrived: the caller must look, as after a failure.
    if (!run.Completed() || run.FailedCount() > 0 || run.InDoubtCount() > 0) return kExitProblem;
    return kExitCompleted;
}
