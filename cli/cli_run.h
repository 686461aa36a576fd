#pragma once
// postira-run: the mailing run without a window, on the same run code as the main window.
//   postira-run [--data-dir DIR] [--list FILE] [--cc TEXT] [--yes] [--dry-run DIR] [--resume | --no-resume]
//               [--allow-plain-login] [--rate N] [--retry-wait S] [--auth METHOD ...]
//               [--sent-copy | --no-sent-copy] [--imap-host H] [--imap-port P] [--sent-folder NAME]
//   postira-run [--data-dir DIR] [--auth METHOD ...] --sign-in | --sign-out
//   postira-run [--data-dir DIR] [--list FILE] [--cc TEXT] [--rate N] [--auth METHOD] --check

#include "mailing/send_one.h"
#include "mailing/sent_folder.h"

#include <functional>
#include <istream>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct CliOptions {
    std::string dataDir;   // empty: the program's data folder
    std::string listFile;  // empty: the data folder's list
    std::string cc;
    bool yes = false;
    // How to go on after an interrupted run: only the remaining recipients (resume) or every line.
    bool resume = false;
    bool noResume = false;
    std::string dryRunDir;  // not empty: write the mails there instead of sending
    // Overrides the sending option for this run; the options file is not changed.
    bool allowPlainLogin = false;
    std::optional<int> rate;              // mails a minute for this run; nothing: the options file's
    std::optional<int> retryWaitSeconds;  // the first wait after a temporary error; nothing: 30 s
    // The sign-in for this run, each overriding the options file when given.
    std::optional<SignInMethod> signIn;
    std::optional<std::string> clientId, tenant, authorizeUrl, tokenUrl, deviceUrl, scope;
    // The copy in the Sent folder for this run, each overriding the options file when given.
    std::optional<bool> sentCopy;
    std::optional<std::string> imapHost, sentFolder;
    std::optional<int> imapPort;
    // Kept in the keyring for the account when given, as the window keeps what is typed into it.
    std::optional<std::string> clientSecret;
    std::optional<std::string> clientSecretFile;  // "-": standard input
    // Instead of a run: sign the account in with its OAuth2 provider and keep the refresh token, or
    // forget the stored one.
    bool signInNow = false;
    bool signOut = false;
    // Instead of a run: check the whole mailing and print what was found; nothing is sent or changed.
    bool check = false;
    bool help = false;
    bool version = false;
};

// Exit codes.
inline constexpr int kExitCompleted = 0;
inline constexpr int kExitProblem = 1;    // a line failed, the run was stopped or ended by an error; the
                                          // check found something
inline constexpr int kExitUsage = 2;      // wrong arguments or missing account data

// Parses the arguments (without the program name); throws std::invalid_argument with a German text.
CliOptions ParseCliOptions(const std::vector<std::string>& args);
// The options file's sending options with what the arguments set for this run.
void ApplyCliOptions(const CliOptions& flags, SendOptions& options);

class SecretStore;

// Makes the transport: the SMTP client, or for a dry run the writer of .eml files into a folder.
struct CliTransports {
    std::function<std::unique_ptr<MailTransport>()> smtp;
    std::function<std::unique_ptr<MailTransport>(const std::string& folder)> dryRun;
    // Where the account's secrets are kept, for the data folder; not set: the desktop's keyring, or the
    // file in the data folder where no keyring answers. Tests keep theirs away from the user's keyring.
    std::function<std::shared_ptr<SecretStore>(const std::string& folder)> secretStore;
    // Standard input (--client-secret-file -); not set: std::cin.
    std::istream* input = nullptr;
    // The IMAP client of the copies in the Sent folder; not set: the program's.
    ImapClientFactory imap;
};

// Runs postira-run; `stop` is polled between lines and while a sign-in waits (set by SIGINT and SIGTERM
// in the program). Needs a QCoreApplication: the sign-in and the token refreshes run Qt event loops.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const CliTransports& transports,
           const std::function<bool()>& stop);

std::string CliUsage();
