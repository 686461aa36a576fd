#pragma once
// The account's Sent folder over IMAP: which server and folder the copies of the sent mails go to, one
// connection to it (connect, log in, find the folder, append), the check whether the folder is found,
// and the copy of a single mail (the test mail).

#include "mailing/mailing_check.h"
#include "mailing/send_options.h"
#include "mailing/settings_text.h"
#include "transport/access_token.h"
#include "transport/imap.h"

#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The IMAP port when none is set: TLS from the first byte (RFC 8314).
inline constexpr int kImapDefaultPort = TIdIMAP::kImplicitTLSPort;

// The IMAP server that goes with an SMTP server: a leading "smtp." becomes "imap.", any other name
// stays as it is (one server for both). Microsoft's SMTP server has its IMAP server under another name.
std::string DefaultImapHost(std::string_view smtpHost);

// Where the copies go and how to log in there.
struct SentCopyAccount {
    std::string host;
    int port = kImapDefaultPort;
    std::string user;
    std::string password;
    bool allowPlainLogin = false;
    // For the OAuth2 methods: AUTHENTICATE XOAUTH2 with the same tokens as the SMTP login.
    std::shared_ptr<TIdAccessTokenSource> tokens;
    std::string folder;  // empty: the one the server marks \Sent
};

// The account fields and options as the copies use them: the user and password of the SMTP login.
SentCopyAccount SentCopyAccountFor(const AccountSettings& account, const SendOptions& options,
                                   std::shared_ptr<TIdAccessTokenSource> tokens);

// Makes the IMAP client of one connection. The program's makes a plain one; tests give one that trusts
// their certificate.
using ImapClientFactory = std::function<std::unique_ptr<TIdIMAP>()>;
ImapClientFactory DefaultImapClients();

// How long one connection may wait, in ms: for the connect, for each response, for the answer to the end
// of an APPEND.
struct ImapLimits {
    int32_t connect;
    int32_t reply;
    int32_t appendEnd;
};
// The copies of a run go in the background; a server that stops answering must not hold the end of the
// run for long, but a big mail may take the server a while to store.
inline constexpr ImapLimits kRunImapLimits{30 * 1000, 60 * 1000, 120 * 1000};
// The check and the test mail make the user wait.
inline constexpr ImapLimits kQuickImapLimits{10 * 1000, 15 * 1000, 60 * 1000};

// One connection to the Sent folder.
class SentFolderSession {
public:
    SentFolderSession(SentCopyAccount account, ImapClientFactory clients, ImapLimits limits);
    ~SentFolderSession();

    // Connects, logs in and finds the folder, unless that is done already. Throws the client's errors.
    void Open();
    // Appends the message, flagged \Seen, with the time it was sent; opens first when needed. Throws the
    // client's errors; the connection is then closed.
    void Append(std::string_view message, std::time_t sentAt);
    // The same for several messages in one command, stored all or none (TakesSeveral).
    void Append(const std::vector<TIdIMAP::AppendedMessage>& messages);
    // The connection is open and its server takes several messages in one APPEND (MULTIAPPEND).
    bool TakesSeveral() const;
    // Whether the failed Append had sent the whole message: the server may have stored it all the same.
    bool AppendMayHaveStored() const { return appendMayHaveStored_; }
    void Close();
    bool IsOpen() const { return imap_ != nullptr; }
    // The folder found by the last Open, in UTF-8.
    const std::string& Folder() const { return folder_; }
    const SentCopyAccount& Account() const { return account_; }

private:
    SentCopyAccount account_;
    ImapClientFactory clients_;
    ImapLimits limits_;
    std::unique_ptr<TIdIMAP> imap_;
    std::string folder_;
    bool appendMayHaveStored_ = false;
};

// The check of "Mailing prüfen": one login and LIST, no APPEND.
struct SentFolderCheck {
    bool found = false;
    std::string text;  // German: the folder found, or why there is none
};
SentFolderCheck CheckSentFolder(const SentCopyAccount& account, const ImapClientFactory& clients);
// Its result in the check's report: the folder found as a note, the reason as a finding of the account.
void AddSentFolderCheck(CheckReport& report, const SentFolderCheck& check);

// The copy of one mail (the test mail): nothing when it was stored, else why not (German).
std::optional<std::string> CopyToSentFolder(const SentCopyAccount& account, const ImapClientFactory& clients,
                                            std::string_view message, std::time_t sentAt);
