#include "mailing/sent_folder.h"

#include "mailing/list_file.h"
#include "transport/byte_text.h"

#include <algorithm>
#include <exception>

namespace {

// SMTP servers whose IMAP server the "smtp." rule does not find.
constexpr std::pair<std::string_view, std::string_view> kImapHostsOf[] = {
    {"smtp.office365.com", "outlook.office365.com"},
};

constexpr std::string_view kSmtpPrefix = "smtp.";

}  // namespace

std::string DefaultImapHost(std::string_view smtpHost) {
    const std::string_view host = TrimView(smtpHost);
    for (const auto& [smtp, imap] : kImapHostsOf) {
        if (SameTextIgnoringCase(host, smtp)) return std::string(imap);
    }
    if (host.size() > kSmtpPrefix.size() && SameTextIgnoringCase(host.substr(0, kSmtpPrefix.size()), kSmtpPrefix))
        return "imap." + std::string(host.substr(kSmtpPrefix.size()));
    return std::string(host);
}

SentCopyAccount SentCopyAccountFor(const AccountSettings& account, const SendOptions& options,
                                   std::shared_ptr<TIdAccessTokenSource> tokens) {
    SentCopyAccount copy;
    copy.host = options.imapHost.empty() ? DefaultImapHost(account.host) : Trim(options.imapHost);
    copy.port = options.imapPort > 0 ? options.imapPort : kImapDefaultPort;
    copy.user = Trim(account.user);
    copy.password = Trim(account.password);
    copy.allowPlainLogin = options.allowPlainLogin;
    if (options.UsesOAuth2()) copy.tokens = std::move(tokens);
    copy.folder = Trim(options.sentFolder);
    return copy;
}

ImapClientFactory DefaultImapClients() {
    return [] { return std::make_unique<TIdIMAP>(); };
}

SentFolderSession::SentFolderSession(SentCopyAccount account, ImapClientFactory clients, ImapLimits limits)
    : account_(std::move(account)), clients_(std::move(clients)), limits_(limits) {}

SentFolderSession::~SentFolderSession() { Close(); }

void SentFolderSession::Open() {
    if (imap_) return;
    std::unique_ptr<TIdIMAP> imap = clients_();
    imap->Host = account_.host;
    imap->Port = account_.port;
    imap->Username = account_.user;
    imap->Password = account_.password;
    imap->AllowPlainLogin = account_.allowPlainLogin;
    imap->AccessTokens = account_.tokens.get();
    imap->ReplyTimeLimit = limits_.reply;
    imap->AppendEndTimeLimit = limits_.appendEnd;
    imap->OpenSession(limits_.connect);
    try {
        folder_ = imap->FindSentFolder(account_.folder);
    } catch (...) {
        imap->CloseSession();
        throw;
    }
    imap_ = std::move(imap);
}

void SentFolderSession::Append(std::string_view message, std::time_t sentAt) { Append({{message, sentAt}}); }

bool SentFolderSession::TakesSeveral() const { return imap_ && imap_->HasCapability("MULTIAPPEND"); }

void SentFolderSession::Append(const std::vector<TIdIMAP::AppendedMessage>& messages) {
    appendMayHaveStored_ = false;
    Open();
    try {
        imap_->Append(folder_, messages);
    } catch (const EIdIMAPAppendRefused&) {
        // The server said NO or BAD: it has not stored the copy, whatever it had read of it.
        Close();
        throw;
    } catch (...) {
        appendMayHaveStored_ = imap_->AppendDataSent();
        Close();
        throw;
    }
}

void SentFolderSession::Close() {
    if (!imap_) return;
    imap_->CloseSession();
    imap_.reset();
}

SentFolderCheck CheckSentFolder(const SentCopyAccount& account, const ImapClientFactory& clients) {
    SentFolderSession session(account, clients, kQuickImapLimits);
    try {
        session.Open();
    } catch (const std::exception& error) {
        return {false, "Kein Ordner für die Kopien auf dem IMAP-Server " + account.host + ": " + error.what() +
                           " Die Mails gehen trotzdem hinaus, nur ohne Kopie im Ordner „Gesendet“."};
    }
    return {true, "Die Kopien der Mails kommen in den Ordner „" + CleanIMAPText(session.Folder()) + "“ auf " +
                      account.host + "."};
}

void AddSentFolderCheck(CheckReport& report, const SentFolderCheck& check) {
    if (check.found) {
        report.notes.push_back(check.text);
    } else {
        // With the account's other findings, before those of the lines.
        const auto lines = std::find_if(report.findings.begin(), report.findings.end(),
                                        [](const CheckLine& line) { return line.number != 0; });
        report.findings.insert(lines, {0, "", CheckFinding::SentFolderMissing, check.text});
    }
}

std::optional<std::string> CopyToSentFolder(const SentCopyAccount& account, const ImapClientFactory& clients,
                                            std::string_view message, std::time_t sentAt) {
    try {
        SentFolderSession session(account, clients, kQuickImapLimits);
        session.Append(message, sentAt);
    } catch (const std::exception& error) {
        return std::string(error.what());
    }
    return std::nullopt;
}
