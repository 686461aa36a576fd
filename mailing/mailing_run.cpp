#include "mailing/mailing_run.h"

#include "mailing/copy_spool.h"
#include "mailing/data_folder.h"
#include "mailing/file_io.h"
#include "mailing/html_text.h"
#include "mailing/mail_text.h"
#include "mailing/run_journal.h"
#include "mailing/send_time.h"

#include <QDateTime>

#include <algorithm>

namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Replaces every occurrence of `placeholder`, letters compared without regard to case, in one pass. The
// text between two "$" goes over in one piece.
std::string ReplaceIgnoringCase(std::string_view text, std::string_view placeholder, std::string_view value) {
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const size_t next = text.find(placeholder[0], i);
        if (next == std::string_view::npos) break;
        out.append(text, i, next - i);
        bool match = next + placeholder.size() <= text.size();
        for (size_t p = 1; match && p < placeholder.size(); ++p) match = Lower(text[next + p]) == Lower(placeholder[p]);
        if (match) {
            out += value;
            i = next + placeholder.size();
        } else {
            out += text[next];
            i = next + 1;
        }
    }
    out.append(text, std::min(i, text.size()));
    return out;
}

// RAII: the run counts as running while this lives, on every path out.
struct RunningFlag {
    bool& flag;
    explicit RunningFlag(bool& f) : flag(f) { flag = true; }
    ~RunningFlag() { flag = false; }
};

}  // namespace

std::string Personalise(const std::string& text, const std::string& firstName, const std::string& surname) {
    return ReplaceIgnoringCase(ReplaceIgnoringCase(text, "$Prename", firstName), "$Name", surname);
}

namespace {

// The run waits in slices of this length, so that "Mailing stoppen" ends a wait at once.
constexpr std::chrono::milliseconds kWaitSlice{100};

// While the run waits, the status panel says what for ("%d": the seconds left).
constexpr const char* kRateWait = "Warte %d s: höchstens %r Mails pro Minute.";
constexpr const char* kRetryWait = "Der Server nimmt die Mail gerade nicht an. Versuch %n in %d s.";
// At the end of a run, while the copies still go into the Sent folder.
constexpr const char* kCopiesWait = "Kopien in den Ordner „Gesendet“: noch %d ...";

std::string WithCount(const char* pattern, int count) {
    std::string text = pattern;
    text.replace(text.find("%d"), 2, std::to_string(count));
    return text;
}

}  // namespace

std::string ResumeQuestionText(int sentCount, int goneCount) {
    std::string question = WithCount(kResumeQuestion, sentCount);
    if (goneCount > 0) question.insert(question.find("Nur an"), WithCount(kResumeGoneNote, goneCount) + " ");
    return question;
}

std::optional<bool> RunFrontEnd::ResumeInterrupted(int sentCount, int goneCount) {
    return Ask(ResumeQuestionText(sentCount, goneCount));
}

MailingRun::MailingRun(RunFrontEnd& frontEnd, MailTransport& transport, std::string dataFolder)
    : frontEnd_(frontEnd), transport_(transport), dataFolder_(std::move(dataFolder)) {}

MailingRun::~MailingRun() = default;

bool MailingRun::StartMailing() {
    if (running_) return false;  // one run at a time
    const AccountSettings account = frontEnd_.Account();
    // A sign-in with OAuth2 needs no password.
    const bool needsPassword = !frontEnd_.Options().UsesOAuth2();
    for (const std::string* value : {&account.host, &account.user, &account.password, &account.port}) {
        if (value == &account.password && !needsPassword) continue;
        if (TrimView(*value).empty()) {
            frontEnd_.ShowError(kAccountMissing);
            return false;
        }
    }
    // An OAuth2 sign-in made for another provider, client or server sends nothing anywhere. A dry run logs
    // in nowhere.
    if (const std::optional<std::string> refusal = writeBack_ ? SignInRefusal(account, frontEnd_.AccessTokens().get())
                                                             : std::nullopt) {
        frontEnd_.ShowError(*refusal);
        return false;
    }
    frontEnd_.ClearStopRequest();
    frontEnd_.SetProgress(0);
    frontEnd_.SetStatus(kRunStarted, false);
    RunMailing();
    return true;
}

void MailingRun::RunMailing() {
    RunningFlag running(running_);
    runErrorText_.clear();
    stopped_ = completed_ = refused_ = reportLater_ = resumable_ = false;
    reached_ = 0;
    unrecorded_.clear();
    summary_ = {};
    rate_.emplace(frontEnd_.Options().mailsPerMinute);
    if (listPath_.empty()) listPath_ = DataFilePath(dataFolder_, kListFileName);

    if (!FileExists(listPath_)) {
        if (!frontEnd_.Ask(kNoListQuestion)) return;
        if (auto picked = frontEnd_.PickListFile(dataFolder_, kListFileName)) listPath_ = *picked;
        if (!FileExists(listPath_)) {
            runErrorText_ += kNoListNote;
            frontEnd_.ShowInformation(Trim(runErrorText_));
            return;
        }
    }

    ListLock lock;  // held until the list is written and the journal gone
    try {
        if (!PrepareRun(lock)) return;
    } catch (...) {
        // Nothing was sent; the run has ended, and says so.
        frontEnd_.SetStatus(kRunAborted, true);
        throw;
    }
    const int count = static_cast<int>(lines_.lines.size());
    if (count > 0) frontEnd_.SetProgressMaximum(count);
    mailsDone_ = mailsToDo_ = 0;
    for (size_t i = 0; i < lines_.lines.size(); ++i) mailsToDo_ += !skip_[i] && !IsBlankLine(lines_.lines[i]);

    std::exception_ptr failure;
    try {
        for (size_t i = 0; i < lines_.lines.size(); ++i) {
            reached_ = i;
            frontEnd_.SetProgress(static_cast<int>(i) + 1);
            frontEnd_.ProcessPendingInput();
            if (frontEnd_.StopRequested()) {
                stopped_ = true;
                break;
            }
            if (skip_[i]) {
                ++summary_.alreadySent;
                frontEnd_.LineDone(static_cast<int>(i) + 1, LineOutcome::AlreadySent, SplitListLine(lines_.lines[i]));
                continue;
            }
            // A stop that ended the line's wait leaves it untried, as the lines after it.
            if (ProcessLine(i) == LineOutcome::Stopped) {
                stopped_ = true;
                break;
            }
            reached_ = i + 1;
        }
        if (transport_.IsConnected()) transport_.CloseSession();
    } catch (...) {
        failure = std::current_exception();
    }
    EndRun(failure);
}

void MailingRun::EndRun(std::exception_ptr failure) {
    // Whatever ended the run, the mails sent so far are recorded in the list: otherwise the next run would
    // send them a second time.
    if (failure) CloseQuietly();
    FinishCopies();
    std::string listError;
    try {
        WriteList();
    } catch (const std::exception& error) {
        listError = error.what();
    }
    completed_ = !failure && !stopped_ && listError.empty();
    // Only a run that reached the end of its list removes its journal. Any other end keeps its records,
    // marked as being in the list, so that the next start asks whether to resume, as after a crash. When
    // the list could not be written, the journal stays as it is: its records are not in the list yet.
    std::string journalError;
    resumable_ = journal_ && !completed_ && !journal_->Records().empty();
    if (journal_ && listError.empty()) {
        try {
            if (completed_) {
                journal_->Finish();
            } else {
                journal_->KeepForResume();
            }
        } catch (const std::exception& error) {
            journalError = error.what();
        }
    }
    journal_.reset();
    for (size_t i = reached_; i < lines_.lines.size(); ++i) summary_.notTried += !skip_[i] && !IsBlankLine(lines_.lines[i]);
    Finish();
    if (!failure && listError.empty() && journalError.empty()) return;

    std::string text;
    bool journalFailed = false;
    if (failure) {
        try {
            std::rethrow_exception(failure);
        } catch (const EJournalError& error) {
            text = error.what();
            journalFailed = true;
        } catch (const std::exception& error) {
            text = error.what();
        }
    }
    // An error of the run alone keeps its own kind and text (a wrong port, an address that cannot be
    // parsed); what went wrong on top of it is added.
    if (failure && !journalFailed && listError.empty() && journalError.empty()) std::rethrow_exception(failure);
    // The texts are sentences; a system's reason at the end of one has no full stop of its own.
    auto add = [&text](const std::string& sentence) {
        if (!text.empty() && std::string_view(".!?").find(text.back()) == std::string_view::npos) text += '.';
        if (!text.empty()) text += ' ';
        text += sentence;
    };
    if (!unrecorded_.empty()) {
        add("Die Mail an " + unrecorded_ + " ist hinausgegangen, ihr Eintrag im Journal fehlt." +
            (listError.empty() ? " Ihre Sendezeit steht in der Liste."
                               : " Sie ist auch nicht in der Liste eingetragen: bitte diese Zeile von Hand als "
                                 "gesendet eintragen, sonst bekommt der Empfänger die Mail noch einmal."));
    } else if (journalFailed && listError.empty()) {
        add("Die gesendeten Mails sind in der Liste eingetragen.");
    }
    if (!listError.empty()) add(std::string(kListNotWritten) + " " + listError);
    if (!journalError.empty()) add(journalError);
    throw EFileError(text);
}

void MailingRun::CloseQuietly() {
    try {
        if (transport_.IsConnected()) transport_.CloseSession();
    } catch (const std::exception&) {
        // The run has ended on an error already; a failing close adds nothing the user could act on.
    }
}

bool MailingRun::PrepareRun(ListLock& lock) {
    if (writeBack_) {
        if (!lock.TryLock(listPath_)) throw ListInUseError(listPath_);
    } else if (ListLock::InUse(listPath_)) {
        throw ListInUseError(listPath_);
    }
    lines_ = SplitTextLines(ReadWholeFile(listPath_));
    windows1252List_ = IsWindows1252List(lines_);
    skip_.assign(lines_.lines.size(), false);
    carried_.clear();
    if (!RecoverInterruptedRun()) return false;
    if (writeBack_) journal_ = std::make_unique<RunJournal>(listPath_, carried_);
    StartCopies();
    return true;
}

void MailingRun::StartCopies() {
    // A dry run sends nothing, so it has nothing to copy.
    if (journal_ && frontEnd_.Options().sentCopy) {
        copies_ = std::make_unique<SentCopies>(
            SentCopyAccountFor(frontEnd_.Account(), frontEnd_.Options(), frontEnd_.AccessTokens()), imapClients_,
            listPath_, *journal_);
    }
    transport_.KeepSentMessages(copies_ != nullptr);
}

void MailingRun::FinishCopies() {
    if (!copies_) return;
    transport_.KeepSentMessages(false);
    copies_->Finish([this](size_t left) {
        frontEnd_.SetStatus(WithCount(kCopiesWait, static_cast<int>(left)), false);
        frontEnd_.Pause(kWaitSlice);
        frontEnd_.ProcessPendingInput();
        return !frontEnd_.StopRequested();
    });
    summary_.copiesMissing = copies_->Missing();
    copies_.reset();
}

bool MailingRun::RecoverInterruptedRun() {
    const JournalContent journal = ReadJournal(listPath_);
    // The copies the journal records are in the Sent folder: their spool files go, whatever is decided.
    if (writeBack_) SettleCopySpool(listPath_, journal);
    if (!journal.Interrupted() || journal.records.empty()) return true;
    // The mails recorded there went out: their lines get their send times whatever the answer, and the
    // list file holds them before anything is sent, so no later crash can lose them.
    const JournalMatch match = ApplyJournal(journal, lines_);
    if (match.written > 0) WriteList();
    const int sentCount = static_cast<int>(journal.records.size());
    const std::vector<size_t> found = match.Lines();
    if (found.empty()) {
        frontEnd_.ShowInformation(WithCount(kResumeAllGone, sentCount));
        carried_ = journal.records;
        return true;
    }
    const std::optional<bool> onlyTheOthers = frontEnd_.ResumeInterrupted(sentCount, match.Dropped());
    if (!onlyTheOthers) {
        // Undecided: the journal stays for the next start, its send times marked as being in the list.
        if (writeBack_) RewriteJournalAsKept(listPath_, journal.records);
        refused_ = true;
        return false;
    }
    // "Ja": these lines are skipped, now and, through the new journal, after any further crash.
    if (*onlyTheOthers) {
        for (size_t index : found) skip_[index] = true;
        carried_ = journal.records;
    }
    return true;
}

MailText MailingRun::PersonalisedText(const RecipientRecord& mail, std::string& textFile) {
    textFile = ChooseTextFile(mail.TextFile, DataFilePath(dataFolder_, kStandardTextName));
    MailText text = DecodeMailText(texts_.Read(textFile));
    text.utf8 = Personalise(text.utf8, mail.FirstName, mail.Surname);
    return text;
}

LineOutcome MailingRun::ProcessLine(size_t index) {
    std::string& line = lines_.lines[index];
    if (IsBlankLine(line)) return LineOutcome::Blank;
    const int number = static_cast<int>(index) + 1;
    // The line's own bytes, which it is written back with; its texts as they go into the mail.
    RecipientRecord record = SplitListLine(line);
    const RecipientRecord mail = RecordForMail(record).fields;

    frontEnd_.ShowLineFields(mail.Address, mail.Subject, mail.Attachment);
    std::string textFile;
    const MailText text = PersonalisedText(mail, textFile);
    frontEnd_.SetCurrentTextFile(textFile);
    frontEnd_.ShowMessageText(text.utf8, text.windows1252);
    frontEnd_.ShowMailNumber(number);
    ++mailsDone_;
    ShowProgressText();

    LineOutcome outcome;
    if (IsBlankLine(text.utf8)) {
        runErrorText_ += kEmptyMailNote;
        ++summary_.emptyMessage;
        outcome = LineOutcome::EmptyMessage;
    } else if (IsBlankLine(mail.FirstName)) {
        record.Result = kNoFirstNameStatus;
        line = JoinFieldsUntrimmed(record);
        ++summary_.noFirstName;
        outcome = LineOutcome::NoFirstName;
    } else if (IsBlankLine(mail.Address)) {
        ++summary_.noAddress;
        outcome = LineOutcome::NoAddress;
    } else {
        MailFields fields;
        fields.account = frontEnd_.Account();
        fields.options = frontEnd_.Options();
        fields.accessTokens = frontEnd_.AccessTokens();
        fields.recipients = mail.Address;
        fields.cc = frontEnd_.CopyList();
        fields.subject = mail.Subject;
        fields.attachment = mail.Attachment;
        fields.textKind = TextKindOfPath(textFile) == TextKind::Plain ? TextKind::Plain : TextKind::Html;
        fields.body = fields.textKind == TextKind::Plain
                          ? text.utf8
                          : MailBodyOfText(TextKindOfPath(textFile), DecodeMailText(texts_.Read(textFile)).utf8,
                                           mail.FirstName, mail.Surname);
        fields.textFolder = FolderOfPath(textFile);
        fields.mailNumber = number;
        const std::optional<SendFailure> failure = SendLine(fields, NextMail(index, fields));
        if (!failure) return LineOutcome::Stopped;
        if (*failure == SendFailure::None) {
            // Only field 6 changes, in the list's own charset; the other fields keep their bytes.
            const QDateTime sentAt = QDateTime::currentDateTime();
            record.Result = InListCharset(FormatSendTime(sentAt), windows1252List_);
            line = JoinFieldsUntrimmed(record);
            ++summary_.sent;
            // The copy's bytes are in the spool before the mail's record, so that a recorded mail has them.
            const std::optional<std::string> copy =
                copies_ ? copies_->Spool(number, Trim(mail.Address), transport_.TakeSentMessage(),
                                         static_cast<std::time_t>(sentAt.toSecsSinceEpoch()))
                        : std::nullopt;
            RecordSent(index, number, mail.Address);
            if (copy) copies_->Queue(*copy, [this] { frontEnd_.Pause(kWaitSlice); });
            outcome = LineOutcome::Sent;
        } else if (*failure == SendFailure::InDoubt) {
            // The mail may have arrived: the line says so, and the journal keeps a resumed run from
            // sending it again, as it does for the mails that went out.
            record.Result = kInDoubtStatus;
            line = JoinFieldsUntrimmed(record);
            summary_.inDoubt.push_back({number, Trim(mail.Address), transport_.LastErrorText()});
            RecordSent(index, number, mail.Address);
            outcome = LineOutcome::InDoubt;
        } else {
            // The line tells of the failure too: an older send time standing there would report success.
            record.Result = InListCharset(
                FailedStatus(FormatSendTime(QDateTime::currentDateTime()), transport_.LastErrorText()), windows1252List_);
            line = JoinFieldsUntrimmed(record);
            ReportFailure(number, mail.Address, summary_.failed);
            outcome = LineOutcome::SendFailed;
        }
    }
    frontEnd_.LineDone(number, outcome, mail);
    return outcome;
}

void MailingRun::RecordSent(size_t index, int number, const std::string& address) {
    if (!journal_) return;
    try {
        journal_->RecordSent(index, lines_.lines[index]);
    } catch (const EJournalRecordLost&) {
        // The line holds its new send time, which the list write at the end of the run keeps; the
        // message names the mail, which is in no journal.
        unrecorded_ = Trim(address) + " (Zeile " + std::to_string(number) + ")";
        throw;
    }
}

std::optional<OutgoingMail> MailingRun::NextMail(size_t index, const MailFields& current) {
    // With a sending rate a wait comes between two mails: nothing to send ahead.
    if (current.options.mailsPerMinute > 0) return std::nullopt;
    try {
        for (size_t i = index + 1; i < lines_.lines.size(); ++i) {
            if (skip_[i] || IsBlankLine(lines_.lines[i])) continue;
            // The lines that the run passes over without sending, as ProcessLine tells them.
            const RecipientRecord record = RecordForMail(SplitListLine(lines_.lines[i])).fields;
            std::string textFile;
            if (IsBlankLine(PersonalisedText(record, textFile).utf8) || IsBlankLine(record.FirstName) ||
                IsBlankLine(record.Address))
                continue;
            // Only its envelope is sent ahead: no text, no attachment needed.
            MailFields fields = current;
            fields.body.clear();
            fields.textKind = TextKind::Plain;
            fields.attachment.clear();
            return TransmitMessageFields(fields, Trim(record.Address), Trim(current.cc), "");
        }
    } catch (const std::exception&) {
        // A text that cannot be read ends the run at that line; a mail that cannot be built goes ahead of
        // nothing. Either way that line is handled when it comes.
    }
    return std::nullopt;
}

std::optional<SendFailure> MailingRun::SendLine(const MailFields& fields, const std::optional<OutgoingMail>& next) {
    std::chrono::milliseconds waited{0};
    for (int tries = 0;;) {
        const std::chrono::milliseconds pause = rate_->WaitBefore(frontEnd_.Now());
        if (pause.count() > 0) {
            std::string why = kRateWait;
            why.replace(why.find("%r"), 2, std::to_string(frontEnd_.Options().mailsPerMinute));
            if (!WaitStoppable(pause, why)) return std::nullopt;
        }
        transport_.AnnounceNext(next);
        const bool sent = TrySendMessage(fields, transport_);
        rate_->Ended(frontEnd_.Now());
        if (sent) {
            frontEnd_.ShowConnected();
            return SendFailure::None;
        }
        const SendFailure failure = transport_.LastFailure();
        ++tries;
        if (failure != SendFailure::Temporary) return failure;
        const std::optional<std::chrono::milliseconds> wait = retryRule_.WaitAfter(tries, waited);
        if (!wait) return failure;
        std::string why = kRetryWait;
        why.replace(why.find("%n"), 2, std::to_string(tries + 1) + " von " + std::to_string(retryRule_.maxTries));
        if (!WaitStoppable(*wait, why)) return std::nullopt;
        waited += *wait;
    }
}

bool MailingRun::WaitStoppable(std::chrono::milliseconds duration, const std::string& why) {
    const auto end = frontEnd_.Now() + duration;
    long long shownSeconds = -1;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - frontEnd_.Now());
        if (left.count() <= 0) break;
        const long long seconds = std::chrono::ceil<std::chrono::seconds>(left).count();
        if (seconds != shownSeconds) {
            frontEnd_.SetStatus(WithCount(why.c_str(), static_cast<int>(seconds)), false);
            shownSeconds = seconds;
        }
        frontEnd_.Pause(std::min(left, kWaitSlice));
        frontEnd_.ProcessPendingInput();
        if (frontEnd_.StopRequested()) return false;
    }
    frontEnd_.SetStatus(kRunStarted, false);
    return true;
}

void MailingRun::ReportFailure(int number, const std::string& address, std::vector<RunSummary::Line>& into) {
    into.push_back({number, Trim(address), transport_.LastErrorText()});
    if (!reportLater_) reportLater_ = frontEnd_.ShowRunSendError(SendErrorDetails(number, address, into.back().reason));
}

void MailingRun::ShowProgressText() {
    std::string text = "Mail " + std::to_string(mailsDone_) + " von " + std::to_string(mailsToDo_);
    if (rate_ && rate_->Limited() && mailsDone_ < mailsToDo_) {
        const long long seconds =
            std::chrono::ceil<std::chrono::seconds>(rate_->TimeFor(mailsToDo_ - mailsDone_)).count();
        text += seconds < 120 ? ", noch etwa " + std::to_string(seconds) + " s"
                              : ", noch etwa " + std::to_string((seconds + 59) / 60) + " min";
    }
    frontEnd_.ShowProgressText(text);
}

bool NamesOwnTextFile(const std::string& textFileField) {
    return textFileField != "default" && !IsBlankLine(textFileField);
}

std::string ChooseTextFile(const std::string& textFileField, const std::string& standardTextPath,
                           const std::function<bool(const std::string&)>& fileExists) {
    if (!NamesOwnTextFile(textFileField)) return standardTextPath;
    return fileExists(textFileField) ? textFileField : standardTextPath;
}

void MailingRun::WriteList() {
    if (writeBack_) WriteFileAtomic(listPath_, JoinTextLines(lines_));
}

void MailingRun::Finish() {
    // The status keeps its own words first; the counts of a run that sent anything follow.
    const std::string counts = summary_.AnySend() ? " " + summary_.Counts() : "";
    if (completed_) {
        frontEnd_.SetStatus(kRunCompleted + counts, false);
    } else {
        frontEnd_.SetStatus((resumable_ ? std::string(kRunAborted) + " " + kRunResumable : kRunAborted) + counts, true);
    }
    // The summary also counts the empty texts; without one, the note of the empty texts stands alone.
    if (summary_.AnythingToTell()) {
        frontEnd_.ShowSummary(summary_.Text());
    } else if (!runErrorText_.empty()) {
        frontEnd_.ShowInformation(Trim(runErrorText_));
    }
}
