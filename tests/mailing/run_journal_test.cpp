#include "mailing/file_io.h"
#include "mailing/list_lock.h"
#include "mailing/list_recovery.h"
#include "mailing/mailing_run.h"
#include "mailing/run_journal.h"
#include "tests/support/qt/fake_transport.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <functional>
#include <map>
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
    // Moved, trimmed, deleted lines and two subjects of one person are in the killed-run scenarios; here
    // what they cannot show: equal lines, a record applied twice, a kept record, a record far away.
    const std::string sent = "Meier;Hans;h@x.de;Angebot;default;09.12.2026 10:00:00;;";
    const std::string unsent = "Meier;Hans;h@x.de;Angebot;default;not send;;";
    TextLines lines{{unsent, " Meier ;Hans;h@x.de; Angebot;default;von Hand;;", unsent}, true};
    JournalContent journal{true, false, {{'L', 2, sent}, {'K', 0, sent}, {'L', 9, sent}}, {}};
    for (int round = 0; round < 2; ++round) {
        const JournalMatch match = ApplyJournal(journal, lines);
        EXPECT_EQ(lines.lines, (std::vector<std::string>{
                                   unsent, " Meier ;Hans;h@x.de; Angebot;default;09.12.2026 10:00:00;;", sent}))
            << "round " << round;
        EXPECT_EQ(match.Lines(), (std::vector<size_t>{0, 1, 2}));
        EXPECT_EQ(match.Dropped(), 0);
    }
    journal.records.push_back({'L', 0, sent});
    EXPECT_EQ(ApplyJournal(journal, lines).Dropped(), 1) << "three lines, four records";
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
    void SetStatus(const std::string&, bool) override {}
    void ShowLineFields(const std::string&, const std::string&, const std::string&) override {}
    void ShowMessageText(const std::string&, bool) override {}
    void ShowMailNumber(int) override {}
    void SetCurrentTextFile(const std::string&) override {}
    void ShowSendError(const std::string&) override {}
    void ShowConnected() override {}
    bool answer = true;
    std::vector<std::string> questions;
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
    EXPECT_EQ(transport.sent[0].recipients, "r1@x.de");
    EXPECT_EQ(transport.sent[1].recipients, "r3@x.de");
    EXPECT_EQ(temp.Read("sendlist.csv"), NumberedList(3));
    EXPECT_EQ(temp.Read("sendlist.csv.journal"), journal);
    EXPECT_FALSE(PathExists(temp.File("sendlist.csv.lock")));
}

TEST(ListLock, ALockFileThatCannotBeOpenedRefusesTheRunAndTheSave) {
    TempDir temp;
    temp.Write("defaultmail.txt", "Hallo");
    temp.Write("sendlist.csv", NumberedList(1));
    const std::string list = temp.File("sendlist.csv");
    // A lock file that nobody can open, as one of another user without permission (a loop, for root too).
    ASSERT_EQ(::symlink("sendlist.csv.lock", LockPathFor(list).c_str()), 0);
    auto refusedNamingTheLockFile = [&](const std::function<void()>& action) {
        try {
            action();
            ADD_FAILURE() << "not refused";
        } catch (const EJournalError& error) {
            EXPECT_NE(std::string(error.what()).find("Sperrdatei \"" + LockPathFor(list) + "\""), std::string::npos)
                << error.what();
        }
    };
    ResumeFrontEnd ui;
    FakeTransport transport;
    for (const bool writeBack : {true, false}) {
        MailingRun run(ui, transport, temp.Path() + "/");
        run.SetWriteBack(writeBack);
        refusedNamingTheLockFile([&] { run.StartMailing(); });
    }
    refusedNamingTheLockFile([&] { SaveEditedList(list, "X;x;x@x.de;S;;;;\r\n", {}); });
    EXPECT_TRUE(transport.sent.empty());
    EXPECT_EQ(temp.Read("sendlist.csv"), NumberedList(1));
}

}  // namespace
