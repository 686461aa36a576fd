#include "mailing/file_io.h"
#include "mailing/list_lock.h"
#include "mailing/mailing_run.h"
#include "mailing/run_journal.h"
#include "tests/support/qt/fake_transport.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

TEST(RunJournal, RecordsRoundTripAndFinishRemovesTheFile) {
    TempDir temp;
    const std::string list = temp.File("sendlist.csv");
    {
        RunJournal journal(list);
        journal.RecordSent(0, "A;a;a@x.de;S;;08.12.2026 10:00:00;;");
        journal.RecordSent(2, std::string("bin\0\n\r;", 7));
        const JournalContent content = ReadJournal(list);
        EXPECT_TRUE(content.Interrupted());
        ASSERT_EQ(content.records.size(), 2u);
        EXPECT_EQ(content.records[1].index, 2u);
        EXPECT_EQ(content.records[1].line, std::string("bin\0\n\r;", 7));
        journal.Finish();
    }
    EXPECT_FALSE(PathExists(JournalPathFor(list)));
    EXPECT_FALSE(ReadJournal(list).Interrupted());
}

TEST(RunJournal, TornTailsAndGarbageAreIgnored) {
    const std::string good = EncodeJournalRecord('S', 0, "/x/sendlist.csv") + EncodeJournalRecord('L', 1, "one") +
                             EncodeJournalRecord('L', 3, "three");
    // Every cut through the last record keeps the first ones and drops it.
    for (size_t cut = good.size() - EncodeJournalRecord('L', 3, "three").size(); cut < good.size(); ++cut) {
        const JournalContent content = ParseJournal(std::string_view(good).substr(0, cut));
        ASSERT_EQ(content.records.size(), 1u) << cut;
        EXPECT_EQ(content.records[0].line, "one");
    }
    EXPECT_EQ(ParseJournal(good).records.size(), 2u);
    EXPECT_EQ(ParseJournal(good + "\x01garbage R L 9 3 0\n").records.size(), 2u);
    // A flipped byte fails the checksum: that record and everything after it are dropped.
    std::string flipped = good;
    flipped[flipped.find("one")] = 'O';
    EXPECT_EQ(ParseJournal(flipped).records.size(), 0u);
    EXPECT_FALSE(ParseJournal("").started);
    EXPECT_FALSE(ParseJournal(EncodeJournalRecord('L', 1, "x")).started) << "lines without a start mean nothing";
    EXPECT_TRUE(ParseJournal(good + EncodeJournalRecord('E', 0, "")).ended);
}

TEST(RunJournal, RecordsFindTheirLineByWhatItSays) {
    const std::string sent = "Meier;Hans;h@x.de;Angebot;default;09.12.2026 10:00:00;;";
    struct Case {
        const char* what;
        std::vector<std::string> list;
        std::vector<JournalRecord> records;
        std::vector<std::string> expected;
        int dropped;
    };
    const std::vector<Case> cases = {
        {"moved, blank line gone", {"B;b;b@x.de;S;;not send;;", "Meier;Hans;h@x.de;Angebot;default;not send;;"},
         {{'L', 2, sent}},
         {"B;b;b@x.de;S;;not send;;", sent}, 0},
        {"fields trimmed: only field 6 changes", {" Meier ;Hans; h@x.de;Angebot ;default;not send;;"},
         {{'L', 0, sent}}, {" Meier ;Hans; h@x.de;Angebot ;default;09.12.2026 10:00:00;;"}, 0},
        {"deleted: nothing written elsewhere", {"B;b;b@x.de;S;;not send;;"}, {{'L', 0, sent}, {'L', 7, sent}},
         {"B;b;b@x.de;S;;not send;;"}, 2},
        {"same recipient, other subject", {"Meier;Hans;h@x.de;Rechnung;default;not send;;",
                                           "Meier;Hans;h@x.de;Angebot;default;not send;;"},
         {{'L', 0, sent}}, {"Meier;Hans;h@x.de;Rechnung;default;not send;;", sent}, 0},
        {"two equal lines, one sent: applying again keeps it on the same line",
         {"Meier;Hans;h@x.de;Angebot;default;not send;;", sent},
         {{'L', 0, sent}}, {"Meier;Hans;h@x.de;Angebot;default;not send;;", sent}, 0},
        {"kept record: found, not written", {"Meier;Hans;h@x.de;Angebot;default;von Hand;;"}, {{'K', 0, sent}},
         {"Meier;Hans;h@x.de;Angebot;default;von Hand;;"}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TextLines lines{c.list, true};
        JournalContent journal;
        journal.started = true;
        journal.records = c.records;
        const JournalMatch match = ApplyJournal(journal, lines);
        EXPECT_EQ(lines.lines, c.expected);
        EXPECT_EQ(match.Dropped(), c.dropped);
        EXPECT_EQ(static_cast<int>(match.Lines().size()) + match.Dropped(), static_cast<int>(c.records.size()));
    }
}

class ResumeFrontEnd : public RunFrontEnd {
public:
    AccountSettings Account() override { return {"h", "u@x.de", "p", "25"}; }
    std::string CopyList() override { return {}; }
    void ProcessPendingInput() override {}
    bool StopRequested() override { return false; }
    void ClearStopRequest() override {}
    bool Ask(const std::string& text) override {
        questions.push_back(text);
        return answer;
    }
    std::optional<std::string> PickListFile(const std::string&, const std::string&) override { return {}; }
    void ShowError(const std::string&) override {}
    void ShowInformation(const std::string&) override {}
    void SetProgressMaximum(int) override {}
    void SetProgress(int) override {}
    void SetStatus(const std::string& text, bool) override { status = text; }
    void ShowLineFields(const std::string&, const std::string&, const std::string&) override {}
    void ShowMessageText(const std::string&) override {}
    void ShowMailNumber(int) override {}
    void SetCurrentTextFile(const std::string&) override {}
    void ShowSendError() override {}
    void ShowConnected() override {}
    bool answer = true;
    std::vector<std::string> questions;
    std::string status;
};

std::string NumberedList(int count) {
    std::string list;
    for (int i = 1; i <= count; ++i) list += "N" + std::to_string(i) + ";V;r" + std::to_string(i) + "@x.de;S;;x;;\r\n";
    return list;
}

// Appends every recipient it "sends" to a log file, so the parent sees what a killed child sent.
class LoggingTransport : public FakeTransport {
public:
    LoggingTransport(std::string log, int dieAt, bool dieAfterSend)
        : log_(std::move(log)), dieAt_(dieAt), dieAfterSend_(dieAfterSend) {}
    bool Transmit(const OutgoingMail& mail) override {
        ++count_;
        if (count_ == dieAt_ && !dieAfterSend_) _exit(9);
        const std::string line = mail.recipients + "\n";
        const int fd = ::open(log_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        [[maybe_unused]] auto written = ::write(fd, line.data(), line.size());
        ::close(fd);
        if (count_ == dieAt_ && dieAfterSend_) _exit(9);  // the mail in flight: gone out, not recorded
        return FakeTransport::Transmit(mail);
    }

private:
    std::string log_;
    int dieAt_;
    bool dieAfterSend_;
    int count_ = 0;
};

TEST(RunJournal, KilledRunResumesWithoutSendingTwice) {
    for (const int killAt : {1, 7, 20}) {
        for (const bool afterSend : {false, true}) {
            SCOPED_TRACE(std::to_string(killAt) + (afterSend ? " after the send" : " before the send"));
            TempDir temp;
            temp.Write("defaultmail.txt", "Hallo");
            temp.Write("sendlist.csv", NumberedList(20));
            const std::string log = temp.File("sent.log");
            const pid_t child = fork();
            if (child == 0) {
                ResumeFrontEnd ui;
                LoggingTransport transport(log, killAt, afterSend);
                MailingRun(ui, transport, temp.Path() + "/").StartMailing();
                _exit(0);
            }
            int status = 0;
            waitpid(child, &status, 0);
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 9) << "the child must die in the middle";
            EXPECT_TRUE(PathExists(temp.File("sendlist.csv.journal")));

            ResumeFrontEnd ui;
            LoggingTransport transport(log, -1, false);
            MailingRun(ui, transport, temp.Path() + "/").StartMailing();
            ASSERT_EQ(ui.questions.size(), killAt > 1 ? 1u : 0u) << "a question only when a send was recorded";

            std::map<std::string, int> received;
            for (const std::string& line : SplitTextLines(temp.Read("sent.log")).lines) ++received[line];
            EXPECT_EQ(received.size(), 20u);
            int twice = 0;
            for (const auto& [recipient, count] : received) twice += count == 2;
            for (const auto& [recipient, count] : received) EXPECT_LE(count, 2) << recipient;
            // Only the mail in flight at the kill may come twice.
            EXPECT_EQ(twice, afterSend ? 1 : 0);
            for (const std::string& line : SplitTextLines(temp.Read("sendlist.csv")).lines)
                EXPECT_NE(SplitListLine(line).Result, "x") << line;
            EXPECT_FALSE(PathExists(temp.File("sendlist.csv.journal")));
        }
    }
}

TEST(RunJournal, AnsweringNoSendsEveryLineButKeepsTheRecords) {
    TempDir temp;
    temp.Write("defaultmail.txt", "Hallo");
    temp.Write("sendlist.csv", NumberedList(3));
    {
        RunJournal journal(temp.File("sendlist.csv"));
        journal.RecordSent(1, "N2;V;r2@x.de;S;;08.12.2026 09:00:00;;");
        journal.RecordSent(9, "beyond the list");
    }
    ResumeFrontEnd ui;
    ui.answer = false;
    FakeTransport transport;
    MailingRun(ui, transport, temp.Path() + "/").StartMailing();
    ASSERT_EQ(ui.questions.size(), 1u);
    EXPECT_EQ(ui.questions[0],
              "Der letzte Mailingdurchlauf wurde unterbrochen. 2 Mails wurden bereits gesendet. 1 davon gingen an "
              "Empfänger, deren Zeile nicht mehr in der Liste steht. Nur an die übrigen Empfänger senden?");
    EXPECT_EQ(transport.sent.size(), 3u);
    EXPECT_FALSE(PathExists(temp.File("sendlist.csv.journal")));
}

TEST(RunJournal, ABusyListOrAJournalInTroubleEndsTheRunBeforeItSends) {
    struct Case {
        const char* what;
        std::function<void(TempDir&, ListLock&)> setUp;
        bool dryRun;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"another run holds the list", [](TempDir& t, ListLock& l) { ASSERT_TRUE(l.TryLock(t.File("sendlist.csv"))); },
         false, "läuft gerade ein anderer Mailingdurchlauf"},
        {"a dry run beside a run", [](TempDir& t, ListLock& l) { ASSERT_TRUE(l.TryLock(t.File("sendlist.csv"))); },
         true, "läuft gerade ein anderer Mailingdurchlauf"},
        // Folders stand in for files that cannot be made or read (the tests may run as root).
        {"no lock can be made", [](TempDir& t, ListLock&) { ::mkdir(t.File("sendlist.csv.lock").c_str(), 0700); },
         false, "kann seinen Fortschritt im Ordner der Empfängerliste"},
        {"the journal cannot be read",
         [](TempDir& t, ListLock&) { ::mkdir(t.File("sendlist.csv.journal").c_str(), 0700); }, false,
         "Fortschritt des unterbrochenen Mailingdurchlaufs zur Empfängerliste"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir temp;
        temp.Write("defaultmail.txt", "Hallo");
        temp.Write("sendlist.csv", NumberedList(2));
        ListLock other;
        c.setUp(temp, other);
        ResumeFrontEnd ui;
        FakeTransport transport;
        MailingRun run(ui, transport, temp.Path() + "/");
        run.SetWriteBack(!c.dryRun);
        try {
            run.StartMailing();
            ADD_FAILURE() << "the run must not start";
        } catch (const EJournalError& error) {
            EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
            EXPECT_NE(std::string(error.what()).find(temp.File("sendlist.csv") + "\""), std::string::npos);
        }
        EXPECT_TRUE(transport.sent.empty());
        EXPECT_EQ(ui.status, kRunAborted);
        EXPECT_EQ(temp.Read("sendlist.csv"), NumberedList(2));
    }
}

TEST(RunJournal, DryRunSkipsWhatAResumeWouldAndChangesNoFile) {
    TempDir temp;
    temp.Write("defaultmail.txt", "Hallo");
    temp.Write("sendlist.csv", NumberedList(3));
    { RunJournal(temp.File("sendlist.csv")).RecordSent(1, "N2;V;r2@x.de;S;;08.12.2026 09:00:00;;"); }
    const std::string journal = temp.Read("sendlist.csv.journal");
    ResumeFrontEnd ui;
    FakeTransport transport;
    MailingRun run(ui, transport, temp.Path() + "/");
    run.SetWriteBack(false);
    run.StartMailing();
    EXPECT_EQ(ui.questions.size(), 1u);
    ASSERT_EQ(transport.sent.size(), 2u);
    EXPECT_EQ(transport.sent[1].recipients, "r3@x.de");
    EXPECT_EQ(temp.Read("sendlist.csv"), NumberedList(3));
    EXPECT_EQ(temp.Read("sendlist.csv.journal"), journal);
    EXPECT_FALSE(PathExists(temp.File("sendlist.csv.lock")));
}

}  // namespace
