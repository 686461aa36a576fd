#pragma once
// The mailing run: one personalised mail for every line of the recipient list, the send time written back
// into each line sent. The run talks to its front end (the main window, or the terminal of postira-run)
// only through RunFrontEnd, and sends through a MailTransport.

#include "mailing/file_io.h"
#include "mailing/list_file.h"
#include "mailing/list_lock.h"
#include "mailing/mail_text.h"
#include "mailing/retry_rule.h"
#include "mailing/run_journal.h"
#include "mailing/run_summary.h"
#include "mailing/send_one.h"
#include "mailing/send_rate.h"
#include "mailing/sent_copies.h"

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>
#include <string>

// What happened to one list line.
enum class LineOutcome {
    Blank,          // empty after trimming: skipped
    Sent,           // the mail went out; the send time is in field 6
    SendFailed,     // the send failed; the line is unchanged
    NoFirstName,    // not sent; field 6 says why
    NoAddress,      // not sent; the line is unchanged
    EmptyMessage,   // the personalised text is empty: not sent, the line is unchanged
    AlreadySent,    // sent by an interrupted earlier run (recovered from its journal): skipped
    InDoubt,        // the connection was lost after the mail's end went out: field 6 says so, not sent again
    Stopped,        // "Mailing stoppen" ended a wait before the mail went out: the line is unchanged
};

class RunFrontEnd : public SendFrontEnd {
public:
    // The account fields and the copy list as the user typed them.
    virtual AccountSettings Account() = 0;
    virtual std::string CopyList() = 0;
    // The sending options in force for this run.
    virtual SendOptions Options() { return {}; }
    // Where the OAuth2 sign-in methods get their tokens; nothing when the front end has none.
    virtual std::shared_ptr<TIdAccessTokenSource> AccessTokens() { return nullptr; }

    // Called once before every line: the window handles what the user did meanwhile ("Mailing stoppen").
    virtual void ProcessPendingInput() = 0;
    virtual bool StopRequested() = 0;
    // A new run starts with no stop pending.
    virtual void ClearStopRequest() = 0;

    // A question with "&Ja" and "&Nein"; true for "&Ja".
    virtual bool Ask(const std::string& text) = 0;
    // The open dialog for a list file, starting in `folder` with `proposedName`; nothing on cancel.
    virtual std::optional<std::string> PickListFile(const std::string& folder, const std::string& proposedName) = 0;
    virtual void ShowError(const std::string& text) = 0;
    // An earlier run on this list was interrupted after `sentCount` mails, `goneCount` of them to lines
    // that are no longer in the list: true to send only to the other recipients, false to send to every
    // line, nothing to refuse the run. Asks the user by default.
    virtual std::optional<bool> ResumeInterrupted(int sentCount, int goneCount);
    virtual void ShowInformation(const std::string& text) = 0;

    virtual void SetProgressMaximum(int maximum) = 0;
    virtual void SetProgress(int value) = 0;
    virtual void SetStatus(const std::string& text, bool aborted) = 0;

    // The line's data in the window's fields.
    virtual void ShowLineFields(const std::string& address, const std::string& subject,
                                const std::string& attachment) = 0;
    // The personalised text as it goes out (UTF-8); whether its file was Windows-1252, which the window
    // keeps for saving the text back.
    virtual void ShowMessageText(const std::string& text, bool fileWasWindows1252) = 0;
    virtual void ShowMailNumber(int number) = 0;
    virtual void SetCurrentTextFile(const std::string& path) = 0;

    // After each line: its position (from 1), outcome and fields as they went into the mail. The terminal
    // prints it; the window need not.
    virtual void LineDone(int /*number*/, LineOutcome /*outcome*/, const RecipientRecord& /*record*/) {}

    // A mail of the run did not go out. Shows the send error with `details` (the line, the address, the
    // server's reply) below it, offering to report the run's further failures only in the summary; true
    // when the user chose that. By default the plain send error.
    virtual bool ShowRunSendError(const std::string& details) {
        ShowSendError(details);
        return false;
    }
    // The summary at the end of a run that sent anything.
    virtual void ShowSummary(const std::string& text) { ShowInformation(text); }
    // "Mail n von m", with the time left at the sending rate when there is one.
    virtual void ShowProgressText(const std::string& /*text*/) {}

    // The run's clock, and a pause of at most `duration` in which the front end handles the user's input;
    // the run waits in such slices and looks at StopRequested between them. Tests make time pass at once.
    virtual std::chrono::steady_clock::time_point Now() { return std::chrono::steady_clock::now(); }
    virtual void Pause(std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); }
};

inline constexpr const char* kAccountMissing = "Bitte zunächst alle Accountdaten ausfüllen!";
inline constexpr const char* kRunStarted = "Mailing gestartet. Bitte warten...";
inline constexpr const char* kRunCompleted = "Mailing komplett.";
inline constexpr const char* kRunAborted = "Mailing abgebrochen!";
// After "Mailing abgebrochen!" when the run kept its records for the next start.
inline constexpr const char* kRunResumable = "Beim nächsten Start kann nur an die übrigen Empfänger gesendet werden.";
// Before the file error when the list could not be written at the end of a run.
inline constexpr const char* kListNotWritten =
    "Die Sendezeiten dieses Durchlaufs konnten nicht in die Empfängerliste geschrieben werden; sie stehen im "
    "Journal und werden beim nächsten Start übernommen.";
inline constexpr const char* kNoListQuestion = "Keine Empfängerliste gefunden. Möchten Sie selbst danach suchen?";
inline constexpr const char* kNoListNote = " Sendlist.csv nicht gefunden!";
inline constexpr const char* kEmptyMailNote = " Leere Mail!";
inline constexpr const char* kNoFirstNameStatus = "nicht gesendet: kein Vorname";
inline constexpr const char* kReportLaterCheck = "Weitere Fehler dieses Durchlaufs erst am Ende melden";
inline constexpr const char* kResumeQuestion =
    "Der letzte Mailingdurchlauf wurde unterbrochen. %d Mails wurden bereits gesendet. Nur an die übrigen "
    "Empfänger senden?";
// Put before the question's last sentence when records found no line; alone when none found one.
inline constexpr const char* kResumeGoneNote =
    "%d davon gingen an Empfänger, deren Zeile nicht mehr in der Liste steht.";
inline constexpr const char* kResumeAllGone =
    "Der letzte Mailingdurchlauf wurde unterbrochen. %d Mails wurden bereits gesendet, an Empfänger, deren Zeile "
    "nicht mehr in der Liste steht. Es wird an alle Zeilen der Liste gesendet.";

// The resume question for `sentCount` recorded mails, `goneCount` of them without their line.
std::string ResumeQuestionText(int sentCount, int goneCount);

// Replaces "$Prename" by the first name, then "$Name" by the surname, letters compared without regard to
// case. The surname also replaces a "$Name" that the first name brought in.
std::string Personalise(const std::string& text, const std::string& firstName, const std::string& surname);

// The message text of a list line: the standard text for "default" (letter case counts) or a blank field;
// otherwise the file named exactly as the field stands (not trimmed) when `fileExists` finds it there, else
// the standard text. The run asks the file system each time; the check asks its own record of the files.
std::string ChooseTextFile(const std::string& textFileField, const std::string& standardTextPath,
                           const std::function<bool(const std::string&)>& fileExists = FileExists);
// Whether the field names a text file of its own rather than the standard text.
bool NamesOwnTextFile(const std::string& textFileField);

class MailingRun {
public:
    MailingRun(RunFrontEnd& frontEnd, MailTransport& transport, std::string dataFolder);
    ~MailingRun();

    // The list file to use instead of the data folder's (postira-run --list).
    void SetListPath(std::string path) { listPath_ = std::move(path); }
    // A dry run changes no file: it asks about an interrupted run as a real run would and skips the same
    // lines, but writes neither the list nor a journal.
    void SetWriteBack(bool writeBack) { writeBack_ = writeBack; }
    // How mails that met a temporary error are tried again (postira-run --retry-wait).
    void SetRetryRule(const RetryRule& rule) { retryRule_ = rule; }
    // How the copies in the Sent folder get their IMAP client; tests give one that trusts their
    // certificate.
    void SetImapClients(ImapClientFactory clients) { imapClients_ = std::move(clients); }

    // Checks the account fields, then runs. Returns false when the check failed (nothing ran).
    bool StartMailing();
    void RunMailing();

    bool Running() const { return running_; }
    const std::string& RunErrorText() const { return runErrorText_; }
    const std::string& ListPath() const { return listPath_; }
    // Counts of the last run.
    int SentCount() const { return summary_.sent; }
    int FailedCount() const { return static_cast<int>(summary_.failed.size()); }
    int InDoubtCount() const { return static_cast<int>(summary_.inDoubt.size()); }
    const RunSummary& Summary() const { return summary_; }
    bool Stopped() const { return stopped_; }
    // The run reached the end of its list (and wrote it).
    bool Completed() const { return completed_; }
    // The run ended before the end of its list and kept what it sent for the next start, which asks
    // whether to send only to the others.
    bool Resumable() const { return resumable_; }
    // The run did not start because the front end refused to decide about an interrupted run.
    bool Refused() const { return refused_; }

private:
    LineOutcome ProcessLine(size_t index);
    // The message text of a line (its fields as RecordForMail gives them) as it goes into the mail, and
    // the file it came from.
    MailText PersonalisedText(const RecipientRecord& mail, std::string& textFile);
    // Sends one line's mail, waiting for the sending rate and trying again after temporary errors.
    // Nothing when "Mailing stoppen" ended a wait before the first try.
    std::optional<SendFailure> SendLine(const MailFields& fields, const std::optional<OutgoingMail>& next);
    // The mail of the next line that would be sent, when it follows the line at `index` without a wait;
    // the transport may send its envelope ahead.
    std::optional<OutgoingMail> NextMail(size_t index, const MailFields& current);
    // Waits `duration` in slices, the status panel telling what for (`why` holds "%d" for the seconds
    // left); false when "Mailing stoppen" ended the wait.
    bool WaitStoppable(std::chrono::milliseconds duration, const std::string& why);
    void ReportFailure(int number, const std::string& address, std::vector<RunSummary::Line>& into);
    void ShowProgressText();
    // Lock, list, journal: false when the run is refused. Throws EJournalError.
    bool PrepareRun(ListLock& lock);
    bool RecoverInterruptedRun();
    // The end of every run that got past its preparation: writes the list, removes or keeps the journal,
    // shows the status and the summary; then raises `failure` (with what else went wrong added).
    void EndRun(std::exception_ptr failure);
    void CloseQuietly();
    // Journals the line at `index` as sent; names the mail when its record cannot be written.
    void RecordSent(size_t index, int number, const std::string& address);
    // With the option "Kopie in den Ordner „Gesendet“": the copies of this run, those an earlier one
    // left first.
    void StartCopies();
    // Waits for the copies still on their way (bounded) and takes the missing ones into the summary.
    void FinishCopies();
    void WriteList();
    void Finish();

    RunFrontEnd& frontEnd_;
    MailTransport& transport_;
    std::string dataFolder_;
    std::string listPath_;
    TextLines lines_;  // the run's own line buffer; nothing else touches it
    std::string runErrorText_;
    bool running_ = false;
    bool writeBack_ = true;
    bool refused_ = false;
    std::vector<bool> skip_;                  // lines an interrupted run already sent
    CachedFileReader texts_;                  // the message texts, read again only when changed
    std::vector<JournalRecord> carried_;         // what an interrupted run sent, to skip again after a crash
    std::unique_ptr<RunJournal> journal_;
    ImapClientFactory imapClients_ = DefaultImapClients();
    std::unique_ptr<SentCopies> copies_;
    bool stopped_ = false;
    bool completed_ = false;
    bool resumable_ = false;
    size_t reached_ = 0;  // the first line the run did not finish with
    bool windows1252List_ = false;  // the send time goes into the list in Windows-1252
    std::string unrecorded_;  // the mail whose journal record could not be written: "address (Zeile n)"
    RunSummary summary_;
    RetryRule retryRule_;
    std::optional<SendRate> rate_;
    bool reportLater_ = false;  // the user chose to see the further failures in the summary only
    int mailsToDo_ = 0;         // lines with something to send (for "Mail n von m")
    int mailsDone_ = 0;
};
