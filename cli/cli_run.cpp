#include "cli/cli_run.h"

#include "mailing/data_folder.h"
#include "mailing/mailing_run.h"
#include "mailing/options_file.h"
#include "mailing/settings_file.h"

#include <exception>
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

// The terminal as front end: every line's result on standard output, every message box on standard
// error as its caption and text, questions answered with "Nein" unless --yes.
class TerminalFrontEnd : public RunFrontEnd {
public:
    TerminalFrontEnd(const AccountSettings& account, const SendOptions& sendOptions, const CliOptions& options,
                     std::ostream& out, std::ostream& err, const std::function<bool()>& stop)
        : account_(account), sendOptions_(sendOptions), options_(options), out_(out), err_(err), stop_(stop) {}

    AccountSettings Account() override { return account_; }
    SendOptions Options() override { return sendOptions_; }
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
    void ShowMessageText(const std::string&) override {}
    void ShowMailNumber(int) override {}
    void SetCurrentTextFile(const std::string&) override {}
    void ShowSendError() override {
        err_ << "Fehler: " << kSendErrorText << '\n';
        // The window has room for the one message only; the log of the command line also tells why.
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

}  // namespace

std::string CliUsage() {
    return "Aufruf: postira-run [--data-dir ORDNER] [--list DATEI] [--cc TEXT] [--yes] [--dry-run ORDNER]\n"
           "                   [--resume | --no-resume] [--allow-plain-login] [--rate N] [--retry-wait S]\n"
           "                   [--auth VERFAHREN] [--client-id ID] [--tenant T] [--scope TEXT] [...]\n"
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
           "  --auth VERFAHREN   Anmeldung: password, microsoft, google oder oauth2 (sonst aus den Versandoptionen)\n"
           "  --client-id ID, --tenant T, --authorize-url URL, --token-url URL, --device-url URL, --scope TEXT\n"
           "                     Angaben der OAuth2-Anmeldung für diesen Durchlauf\n"
           "  --help, --version\n"
           "Rückgabe: 0 Mailing komplett, 1 Fehler oder abgebrochen, 2 falscher Aufruf oder Kontodaten fehlen.\n";
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
        else if (arg == "--client-id") options.clientId = value();
        else if (arg == "--tenant") options.tenant = value();
        else if (arg == "--authorize-url") options.authorizeUrl = value();
        else if (arg == "--token-url") options.tokenUrl = value();
        else if (arg == "--device-url") options.deviceUrl = value();
        else if (arg == "--scope") options.scope = value();
        else if (arg == "--retry-wait") options.retryWaitSeconds = ParseNumber(arg, value(), kMaxRetryWaitSeconds, 1);
        else if (arg == "--help" || arg == "-h") options.help = true;
        else if (arg == "--version") options.version = true;
        else throw std::invalid_argument("Unbekannte Angabe: " + arg);
    }
    if (options.resume && options.noResume) throw std::invalid_argument("--resume und --no-resume schließen sich aus.");
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
    std::unique_ptr<MailTransport> transport;
    try {
        account = SettingsFile(folder).LoadSettings();
        OptionsFile optionsFile(folder);
        sendOptions = optionsFile.Load();
        if (!optionsFile.Note().empty()) err << "Hinweis: " << optionsFile.Note() << '\n';
        sendOptions.allowPlainLogin = sendOptions.allowPlainLogin || options.allowPlainLogin;
        if (options.rate) sendOptions.mailsPerMinute = *options.rate;
        ApplySignInFlags(options, sendOptions);
        transport = options.dryRunDir.empty() ? transports.smtp() : transports.dryRun(options.dryRunDir);
    } catch (const std::exception& error) {
        err << "Fehler: " << error.what() << '\n';
        return kExitProblem;
    }

    TerminalFrontEnd frontEnd(account, sendOptions, options, out, err, stop);
    frontEnd.SetTransport(transport.get());
    MailingRun run(frontEnd, *transport, folder);
    if (!options.listFile.empty()) run.SetListPath(options.listFile);
    // A dry run changes no file.
    run.SetWriteBack(options.dryRunDir.empty());
    if (options.retryWaitSeconds) run.SetRetryRule(RetryRule::WithFirstWait(std::chrono::seconds(*options.retryWaitSeconds)));
    try {
        if (!run.StartMailing()) return kExitUsage;
    } catch (const std::exception& error) {
        err << "Fehler: " << error.what() << '\n';
        return kExitProblem;
    }
    if (run.Refused()) return kExitUsage;
    // A run that found no list ends before it has a final status; its last line says so instead of
    // "Mailing gestartet. Bitte warten...".
    if (frontEnd.Status() == kRunStarted) {
        out << "Mailing nicht gestartet: keine Empfängerliste (" << run.ListPath() << ").\n";
        return kExitProblem;
    }
    if (!frontEnd.Status().empty()) out << frontEnd.Status() << '\n';
    // A mail in doubt may not have arrived: the caller must look, as after a failure.
    if (!run.Completed() || run.FailedCount() > 0 || run.InDoubtCount() > 0) return kExitProblem;
    return kExitCompleted;
}
