#pragma once
// The mailing run: one personalised mail for every line of the recipient list, the send time written back
// into each line sent. The run talks to its front end (the main window, or the terminal of postira-run)
// only through RunFrontEnd, and sends through a MailTransport.

#include "mailing/file_io.h"
#include "mailing/list_file.h"
#include "mailing/list_lock.h"
#include "mailing/run_journal.h"
#include "mailing/send_one.h"

#include <memory>
#include <optional>
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
};

class RunFrontEnd : public SendFrontEnd {
public:
    // The account fields and the copy list as the user typed them.
    virtual AccountSettings Account() = 0;
    virtual std::string CopyList() = 0;
    // The sending options in force for this run.
    virtual SendOptions Options() { return {}; }

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
    virtual void ShowMessageText(const std::string& text) = 0;
    virtual void ShowMailNumber(int number) = 0;
    virtual void SetCurrentTextFile(const std::string& path) = 0;

    // After each line: its position (from 1) and outcome. The terminal prints it; the window need not.
    virtual void LineDone(int /*number*/, LineOutcome /*outcome*/, const RecipientRecord& /*record*/) {}
};

inline constexpr const char* kAccountMissing = "Bitte zunächst alle Accountdaten ausfüllen!";
inline constexpr const char* kRunStarted = "Mailing gestartet. Bitte warten...";
inline constexpr const char* kRunCompleted = "Mailing komplett.";
inline constexpr const char* kRunAborted = "Mailing abgebrochen!";
inline constexpr const char* kNoListQuestion = "Keine Empfängerliste gefunden. Möchten Sie selbst danach suchen?";
inline constexpr const char* kNoListNote = " Sendlist.csv nicht gefunden!";
inline constexpr const char* kEmptyMailNote = " Leere Mail!";
inline constexpr const char* kNoFirstNameStatus = "nicht gesendet: kein Vorname";
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

class MailingRun {
public:
    MailingRun(RunFrontEnd& frontEnd, MailTransport& transport, std::string dataFolder);
    ~MailingRun();

    // The list file to use instead of the data folder's (postira-run --list).
    void SetListPath(std::string path) { listPath_ = std::move(path); }
    // A dry run changes no file: it asks about an interrupted run as a real run would and skips the same
    // lines, but writes neither the list nor a journal.
    void SetWriteBack(bool writeBack) { writeBack_ = writeBack; }

    // Checks the account fields, then runs. Returns false when the check failed (nothing ran).
    bool StartMailing();
    void RunMailing();

    bool Running() const { return running_; }
    const std::string& RunErrorText() const { return runErrorText_; }
    const std::string& ListPath() const { return listPath_; }
    // Counts of the last run.
    int SentCount() const { return sent_; }
    int FailedCount() const { return failed_; }
    bool Stopped() const { return stopped_; }
    bool Completed() const { return completed_; }
    // The run did not start because the front end refused to decide about an interrupted run.
    bool Refused() const { return refused_; }

private:
    LineOutcome ProcessLine(size_t index);
    std::string ChooseTextFile(const std::string& textFileField) const;
    // Lock, list, journal: false when the run is refused. Throws EJournalError.
    bool PrepareRun(ListLock& lock);
    bool RecoverInterruptedRun();
    void EndJournal();
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
    bool stopped_ = false;
    bool completed_ = false;
    int sent_ = 0;
    int failed_ = 0;
};
