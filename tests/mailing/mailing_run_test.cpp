#include "mailing/file_io.h"
#include "mailing/mailing_run.h"
#include "mailing/send_time.h"
#include "tests/support/qt/fake_transport.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>
#include <set>

namespace {

class FakeRunFrontEnd : public RunFrontEnd {
public:
    AccountSettings Account() override { return account; }
    std::string CopyList() override { return cc; }
    void ProcessPendingInput() override {
        ++processed;
        if (stopAtLine == processed) stop = true;
    }
    bool StopRequested() override { return stop; }
    void ClearStopRequest() override { stop = false; }
    bool Ask(const std::string& text) override {
        questions.push_back(text);
        return answer;
    }
    std::optional<std::string> PickListFile(const std::string&, const std::string&) override { return picked; }
    void ShowError(const std::string& text) override { errors.push_back(text); }
    void ShowInformation(const std::string& text) override { information.push_back(text); }
    void SetProgressMaximum(int maximum) override { progressMax = maximum; }
    void SetProgress(int value) override { progress = value; }
    void SetStatus(const std::string& text, bool isAborted) override {
        status = text;
        aborted = isAborted;
    }
    void ShowLineFields(const std::string& a, const std::string& s, const std::string& att) override {
        address = a;
        subject = s;
        attachment = att;
    }
    void ShowMessageText(const std::string& text, bool) override { message = text; }
    void ShowMailNumber(int number) override { mailNumbers.push_back(number); }
    void SetCurrentTextFile(const std::string& path) override { currentTextFile = path; }
    void ShowSendError(const std::string&) override { ++sendErrors; }
    void ShowConnected() override { connectedPicture = true; }
    SendOptions Options() override { return options; }
    // Time passes only in the run's pauses; a stop can be set for when `stopAfterPausing` has passed.
    std::chrono::steady_clock::time_point Now() override { return clock; }
    void Pause(std::chrono::milliseconds duration) override {
        clock += duration;
        paused += duration;
        if (paused >= stopAfterPausing) stop = true;
    }

    AccountSettings account{"smtp.example.de", "ich@example.de", "geheim", "25"};
    std::string cc;
    int processed = 0, stopAtLine = -1, progressMax = -1, progress = -1, sendErrors = 0;
    bool stop = true;  // a stale stop from an earlier run must not matter
    bool answer = false, aborted = false, connectedPicture = false;
    std::optional<std::string> picked;
    std::vector<std::string> questions, errors, information;
    std::vector<int> mailNumbers;
    std::string status, address, subject, attachment, message, currentTextFile;
    SendOptions options;
    std::chrono::steady_clock::time_point clock;
    std::chrono::milliseconds paused{0}, stopAfterPausing = std::chrono::hours(1);
};

class MailingRunTest : public ::testing::Test {
protected:
    MailingRunTest() { temp.Write("defaultmail.txt", "Hallo $Prename $Name,\r\nText.\r\n"); }
    std::string Folder() const { return temp.Path() + "/"; }
    void WriteList(const std::string& text) { temp.Write("sendlist.csv", text); }
    std::string List() const { return temp.Read("sendlist.csv"); }
    void Run() { MailingRun(ui, transport, Folder()).StartMailing(); }

    TempDir temp;
    FakeRunFrontEnd ui;
    FakeTransport transport;
};

TEST(Personalise, FirstNameFirstAndAnyCase) {
    EXPECT_EQ(Personalise("$PRENAME $prename $PreName $NAME $name", "Hans", "Meier"),
              "Hans Hans Hans Meier Meier");
    // The surname also lands in a "$Name" that came with the first name; blanks of fields are kept.
    EXPECT_EQ(Personalise("Hallo $Prename", "Jo $Name", " Meier"), "Hallo Jo  Meier");
    EXPECT_EQ(Personalise("$Nam $", "a", "b"), "$Nam $");
    EXPECT_EQ(Personalise("", "a", "b"), "");
    EXPECT_EQ(Personalise("Liebe(r) $$prename, Familie $name!", "Eva", "Ro\xC3\x9F"), "Liebe(r) $Eva, Familie Ro\xC3\x9F!");
}

TEST_F(MailingRunTest, ThreeRecipientsSecondWithoutFirstName) {
    WriteList("Meier;Hans;hans@example.de;Angebot;default;not send;;\r\n"
              "Kurz;;kurz@example.de;Angebot;default;not send;;\r\n"
              "Schulz;Erika;erika@example.de;Info;;not send;;\r\n");
    Run();
    ASSERT_EQ(transport.sent.size(), 2u);
    EXPECT_EQ(transport.sent[0].recipients, "hans@example.de");
    EXPECT_EQ(transport.sent[0].bodyLines, (std::vector<std::string>{"Hallo Hans Meier,", "Text."}));
    EXPECT_EQ(transport.sent[1].bodyLines[0], "Hallo Erika Schulz,");
    EXPECT_EQ(transport.connects, 1) << "one connection for the whole run";
    EXPECT_EQ(transport.closes, 1);

    const TextLines lines = SplitTextLines(List());
    ASSERT_EQ(lines.lines.size(), 3u);
    EXPECT_TRUE(lines.finalBreak);
    const RecipientRecord first = SplitListLine(lines.lines[0]);
    EXPECT_TRUE(ParseSendTime(first.Result).has_value()) << first.Result;
    EXPECT_EQ(lines.lines[1], "Kurz;;kurz@example.de;Angebot;default;nicht gesendet: kein Vorname;;");
    EXPECT_TRUE(ParseSendTime(SplitListLine(lines.lines[2]).Result).has_value());
    EXPECT_EQ(ui.status, "Mailing komplett. 2 gesendet, 0 fehlgeschlagen, 0 unsicher, 1 übersprungen.");
    EXPECT_FALSE(ui.aborted);
    EXPECT_EQ(ui.progressMax, 3);
    EXPECT_EQ(ui.progress, 3);
}

TEST_F(MailingRunTest, FieldCountsAndUntrimmedFieldsAreRewrittenInTheRunsForm) {
    WriteList("A; Bert ;a@x.de;S;default;old;;x;y;\n\nB;Carl\n");
    ui.account.password = "pw";
    Run();
    const TextLines lines = SplitTextLines(List());
    ASSERT_EQ(lines.lines.size(), 3u);
    const RecipientRecord first = SplitListLine(lines.lines[0]);
    EXPECT_EQ(first.FirstName, " Bert ");
    EXPECT_EQ(lines.lines[0].substr(0, 24), "A; Bert ;a@x.de;S;defaul");
    EXPECT_EQ(lines.lines[0].substr(lines.lines[0].size() - 2), ";;") << "fields beyond seven are gone";
    EXPECT_EQ(lines.lines[1], "");
    EXPECT_EQ(lines.lines[2], "B;Carl") << "no address: unchanged";
    std::string breaks = List();
    for (size_t at; (at = breaks.find("\r\n")) != std::string::npos;) breaks.erase(at, 2);
    EXPECT_EQ(breaks.find_first_of("\r\n"), std::string::npos) << "every line break is written as CR LF";
    EXPECT_EQ(transport.sent.at(0).bodyLines[0], "Hallo  Bert  A,");
    EXPECT_EQ(ui.mailNumbers, (std::vector<int>{1, 3}));
}

TEST_F(MailingRunTest, TextFileChoice) {
    temp.Write("eigen.txt", "Eigener Text für $name");
    WriteList("M;H;a@x.de;S;" + temp.File("eigen.txt") + ";;;\r\n"
              "M;H;a@x.de;S;" + temp.File("fehlt.txt") + ";;;\r\n"
              "M;H;a@x.de;S;DEFAULT;;;\r\n");
    Run();
    ASSERT_EQ(transport.sent.size(), 3u);
    EXPECT_EQ(transport.sent[0].bodyLines[0], "Eigener Text für M");
    EXPECT_EQ(transport.sent[1].bodyLines[0], "Hallo H M,");
    // "DEFAULT" is not the keyword: a file of that name, which does not exist, so the standard text.
    EXPECT_EQ(transport.sent[2].bodyLines[0], "Hallo H M,");
    EXPECT_EQ(ui.currentTextFile, temp.File("defaultmail.txt"));
}

TEST_F(MailingRunTest, StopDuringThirdOfFiveLines) {
    WriteList("A;a;a@x.de;S;;x;;\r\nB;b;b@x.de;S;;x;;\r\nC;c;c@x.de;S;;x;;\r\nD;d;d@x.de;S;;x;;\r\nE;e;e@x.de;S;;x;;\r\n");
    // The stop is pressed while the third mail is on its way: seen before the fourth line.
    transport.beforeSend = [&](const OutgoingMail& mail) {
        if (mail.recipients == "c@x.de") ui.stop = true;
    };
    Run();
    EXPECT_EQ(transport.sent.size(), 3u);
    const TextLines lines = SplitTextLines(List());
    EXPECT_NE(SplitListLine(lines.lines[2]).Result, "x");
    EXPECT_EQ(lines.lines[3], "D;d;d@x.de;S;;x;;");
    EXPECT_EQ(lines.lines[4], "E;e;e@x.de;S;;x;;");
    EXPECT_EQ(ui.status, "Mailing abgebrochen! Beim nächsten Start kann nur an die übrigen Empfänger gesendet werden. "
                         "3 gesendet, 0 fehlgeschlagen, 0 unsicher, 0 übersprungen, 2 nicht versucht.");
    EXPECT_TRUE(ui.aborted);
    EXPECT_EQ(transport.closes, 1);
}

TEST_F(MailingRunTest, FailedSendLeavesLineByteForByte) {
    const std::string second = "B;b;b@x.de;S;;08.12.2026 10:00:00; ";
    WriteList("A;a;a@x.de;S;;x;;\r\n" + second + "\r\nC;c;c@x.de;S;;x;;");
    transport.failAttempt = {2};
    Run();
    EXPECT_EQ(ui.sendErrors, 1);
    EXPECT_EQ(transport.sent.size(), 2u);
    EXPECT_EQ(transport.connects, 2) << "reconnect after the failure";
    // The list, which is the log, tells of the failure; the other fields keep their bytes.
    const TextLines lines = SplitTextLines(List());
    const RecipientRecord failed = SplitListLine(lines.lines[1]);
    EXPECT_TRUE(failed.Result.starts_with(kFailedStatusStart)) << failed.Result;
    EXPECT_EQ(lines.lines[1], "B;b;b@x.de;S;;" + failed.Result + "; ;");
    EXPECT_FALSE(lines.finalBreak);
    // The field holds no ";" and is bounded, whatever the server said.
    EXPECT_EQ(FailedStatus("09.12.2026 10:00:00", "550 a;b"), "fehlgeschlagen 09.12.2026 10:00:00: 550 a,b");
    EXPECT_EQ(FailedStatus("t", std::string(300, 'x')).size(), kFailedStatusLimit);
    EXPECT_EQ(FailedStatus("t", std::string(181, 'x') + "\xC3\xBC").size(), kFailedStatusLimit - 1);
}

TEST_F(MailingRunTest, EmptyListAndBlankLines) {
    WriteList("");
    Run();
    EXPECT_EQ(List(), "");
    EXPECT_EQ(ui.status, "Mailing komplett.");
    EXPECT_EQ(ui.progressMax, -1);

    WriteList("\r\n  \r\nM;H;a@x.de;S;;;;\r\n");
    Run();
    EXPECT_EQ(ui.mailNumbers, (std::vector<int>{3}));
}

TEST_F(MailingRunTest, AccountCheck) {
    WriteList("M;H;a@x.de;S;;;;\r\n");
    ui.account.port = "  ";
    Run();
    EXPECT_EQ(ui.errors, (std::vector<std::string>{"Bitte zunächst alle Accountdaten ausfüllen!"}));
    EXPECT_TRUE(transport.sent.empty());
    EXPECT_EQ(ui.status, "");
}

TEST_F(MailingRunTest, MissingListQuestionAndNotes) {
    ui.answer = false;
    Run();
    EXPECT_EQ(ui.questions, (std::vector<std::string>{"Keine Empfängerliste gefunden. Möchten Sie selbst danach suchen?"}));
    EXPECT_TRUE(ui.information.empty());

    ui.answer = true;
    ui.picked = std::nullopt;
    Run();
    EXPECT_EQ(ui.information, (std::vector<std::string>{"Sendlist.csv nicht gefunden!"}));

    temp.Write("andere.csv", "M;H;a@x.de;S;;;;\r\n");
    ui.picked = temp.File("andere.csv");
    Run();
    EXPECT_EQ(transport.sent.size(), 1u);
    EXPECT_NE(temp.Read("andere.csv"), "M;H;a@x.de;S;;;;\r\n") << "the picked file is the one written";
}

TEST_F(MailingRunTest, EmptyMailIsNotedAndShownAfterTheRun) {
    temp.Write("leer.txt", " \r\n");
    WriteList("M;H;a@x.de;S;" + temp.File("leer.txt") + ";x;;\r\n");
    Run();
    EXPECT_TRUE(transport.sent.empty());
    EXPECT_EQ(List(), "M;H;a@x.de;S;" + temp.File("leer.txt") + ";x;;\r\n");
    EXPECT_EQ(ui.information, (std::vector<std::string>{"Leere Mail!"}));
}

TEST_F(MailingRunTest, ErrorsEndTheRunButSentLinesAreRecorded) {
    WriteList("A;a;a@x.de;S;;x;;\r\nB;b;b@x.de;S;;x;;\r\n");
    // While the first mail is on its way the standard text vanishes: the second line cannot be read.
    transport.beforeSend = [&](const OutgoingMail&) { std::remove(temp.File("defaultmail.txt").c_str()); };
    EXPECT_THROW(Run(), EFileError);
    const TextLines lines = SplitTextLines(List());
    EXPECT_NE(SplitListLine(lines.lines[0]).Result, "x") << "the mail that went out is recorded";
    EXPECT_EQ(lines.lines[1], "B;b;b@x.de;S;;x;;");
}

TEST_F(MailingRunTest, WrongPortEndsTheRunAndKeepsResults) {
    WriteList("A;a;a@x.de;S;;x;;\r\nB;b;b@x.de;S;;x;;\r\n");
    // The port is read for every mail: the first goes out, then the user's port field turns invalid.
    transport.beforeSend = [&](const OutgoingMail&) { ui.account.port = "25 "; };
    EXPECT_THROW(Run(), EConvertError);
    const TextLines lines = SplitTextLines(List());
    ASSERT_EQ(lines.lines.size(), 2u);
    EXPECT_TRUE(ParseSendTime(SplitListLine(lines.lines[0]).Result).has_value()) << "the first mail is recorded";
    EXPECT_EQ(lines.lines[1], "B;b;b@x.de;S;;x;;");
}

// Makes every further write to the journal of `listPath` fail, as on a full disk.
void FillDiskUnderJournal(const std::string& listPath) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (std::filesystem::read_symlink(entry.path(), error) != JournalPathFor(listPath)) continue;
        const int full = ::open("/dev/full", O_WRONLY);
        ::dup2(full, std::stoi(entry.path().filename().string()));
        ::close(full);
    }
}

// A run whose journal or list cannot be written on the way still keeps each mail that went out from
// going out again: the next start asks, and "Ja" sends each recipient the mail once.
TEST_F(MailingRunTest, AJournalOrListThatCannotBeWrittenCostsNoMailTwice) {
    const std::string list = "A;a;a@x.de;S;;x;;\r\nB;b;b@x.de;S;;x;;\r\nC;c;c@x.de;S;;x;;\r\n";
    const std::string listPath = temp.File("sendlist.csv");
    const struct {
        const char* what;
        std::function<void()> whileSendingB;
        const char* error;
    } cases[] = {
        {"the journal's disk full", [&] { FillDiskUnderJournal(listPath); },
         "Die Mail an b@x.de (Zeile 2) ist hinausgegangen, ihr Eintrag im Journal fehlt. Ihre Sendezeit steht in "
         "der Liste."},
        {"a stop, and the list cannot be written", [&] {
             ui.stop = true;
             std::remove(listPath.c_str());
             ::mkdir(listPath.c_str(), 0700);
         },
         kListNotWritten},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteList(list);
        transport.sent.clear();
        ui.questions.clear();
        transport.beforeSend = [&](const OutgoingMail& mail) {
            if (mail.recipients == "b@x.de") c.whileSendingB();
        };
        try {
            Run();
            ADD_FAILURE() << "no error";
        } catch (const std::exception& error) {
            EXPECT_NE(std::string(error.what()).find(c.error), std::string::npos) << error.what();
        }
        EXPECT_TRUE(ui.status.starts_with(std::string(kRunAborted) + " " + kRunResumable + " 2 gesendet")) << ui.status;
        EXPECT_TRUE(ui.information.size() == 1 && ui.information[0].starts_with("2 gesendet")) << "the summary";

        if (!FileExists(listPath)) {  // the user puts the list back as it was before the run
            ::rmdir(listPath.c_str());
            WriteList(list);
        }
        transport.beforeSend = nullptr;
        ui.answer = true;
        Run();
        EXPECT_EQ(ui.questions, std::vector<std::string>{ResumeQuestionText(2, 0)});
        ASSERT_EQ(transport.sent.size(), 3u);
        EXPECT_EQ(transport.sent[2].recipients, "c@x.de");
        for (const std::string& line : SplitTextLines(List()).lines)
            EXPECT_TRUE(ParseSendTime(SplitListLine(line).Result).has_value()) << line;
        EXPECT_FALSE(PathExists(JournalPathFor(listPath)));
        ui.answer = false;
        ui.information.clear();
    }
}

TEST_F(MailingRunTest, WaitsForTheRateAndAfterATemporaryErrorAndAStopEndsAWait) {
    using std::chrono::seconds;
    WriteList("A;a;a@x.de;S;;x;;\r\nB;b;b@x.de;S;;x;;\r\nC;c;c@x.de;S;;x;;\r\n");
    ui.options.mailsPerMinute = 30;
    transport.failAttempt = {2};
    transport.failure = SendFailure::Temporary;
    Run();
    // 2 s before B, 30 s after its first try (the rate is kept by then), 2 s before C.
    EXPECT_EQ(ui.paused, seconds(34));
    EXPECT_EQ(transport.sent.size(), 3u);
    EXPECT_EQ(ui.sendErrors, 0);
    EXPECT_TRUE(ui.status.starts_with("Mailing komplett. 3 gesendet")) << ui.status;

    // A stop during the wait after a temporary error: the line stays as it was, the run is aborted.
    const std::string list = List();
    ui.paused = seconds(0);
    ui.stopAfterPausing = seconds(10);
    transport.failAttempt = {5};  // A's first try
    Run();
    EXPECT_EQ(ui.paused, seconds(10));
    EXPECT_EQ(List(), list);
    EXPECT_EQ(ui.status, "Mailing abgebrochen!");
    EXPECT_EQ(ui.sendErrors, 0);
}

TEST_F(MailingRunTest, SignInWithOAuth2NeedsNoPassword) {
    WriteList("A;a;a@x.de;S;;x;;\r\n");
    ui.account.password = "";
    Run();
    EXPECT_EQ(ui.errors, std::vector<std::string>{"Bitte zunächst alle Accountdaten ausfüllen!"});
    ui.options.signIn = SignInMethod::Microsoft;
    Run();
    ASSERT_EQ(transport.sent.size(), 1u);
    EXPECT_EQ(transport.sent[0].signIn, SignInMethod::Microsoft);
}

TEST(RetryRule, WaitsDoubleWithinTheirBounds) {
    using std::chrono::minutes;
    using std::chrono::seconds;
    const RetryRule rule;
    EXPECT_EQ(rule.WaitAfter(1, seconds(0)), seconds(30));
    EXPECT_EQ(rule.WaitAfter(2, seconds(30)), seconds(60));
    EXPECT_EQ(rule.WaitAfter(5, seconds(450)), seconds(480));
    EXPECT_EQ(rule.WaitAfter(6, seconds(930)), std::nullopt);        // six tries
    EXPECT_EQ(rule.WaitAfter(3, minutes(29)), minutes(1));          // thirty minutes of waiting
    EXPECT_EQ(rule.WaitAfter(3, minutes(30)), std::nullopt);
    const RetryRule quick = RetryRule::WithFirstWait(seconds(1));
    EXPECT_EQ(quick.WaitAfter(5, seconds(15)), seconds(16));
    EXPECT_EQ(quick.longestWait, seconds(20));
    EXPECT_EQ(quick.totalWait, seconds(60));
}

TEST(ConvertPort, IntegerForms) {
    EXPECT_EQ(ConvertPort("25"), 25);
    EXPECT_EQ(ConvertPort("  587"), 587);
    EXPECT_EQ(ConvertPort("+25"), 25);
    EXPECT_EQ(ConvertPort("-1"), -1);
    EXPECT_EQ(ConvertPort("$1D2"), 466);
    EXPECT_EQ(ConvertPort("0x1d2"), 466);
    EXPECT_EQ(ConvertPort("0X1D2"), 466);
    for (const char* bad : {"25 ", "abc", "", " ", "0x", "$", "2 5", "99999999999", "1e3", "0x1g"}) {
        try {
            ConvertPort(bad);
            ADD_FAILURE() << bad;
        } catch (const EConvertError& error) {
            EXPECT_EQ(std::string(error.what()), std::string("'") + bad + "' ist kein gültiger Integerwert");
        }
    }
}

TEST(SendOneMessage, FieldsToMail) {
    TempDir temp;
    temp.Write("anhang.pdf", "%PDF");
    FakeTransport transport;
    FakeRunFrontEnd ui;
    MailFields fields;
    fields.account = {" smtp.x.de ", " ich@x.de ", " pw ", "587"};
    fields.recipients = "  a@x.de ";
    fields.cc = " c1@x.de, c2@x.de ";
    fields.subject = " Betreff ";
    fields.attachment = " " + temp.File("anhang.pdf") + " ";
    fields.body = "Zeile 1\r\n.Zeile 2\nZeile 3";
    EXPECT_TRUE(SendOneMessage(fields, transport, ui));
    const OutgoingMail& mail = transport.sent.at(0);
    EXPECT_EQ(mail.host, "smtp.x.de");
    EXPECT_EQ(mail.port, 587);
    EXPECT_EQ(mail.username, "ich@x.de");
    EXPECT_EQ(mail.from, "ich@x.de");
    EXPECT_EQ(mail.password, "pw");
    EXPECT_EQ(mail.recipients, "a@x.de");
    EXPECT_EQ(mail.cc, "c1@x.de, c2@x.de");
    EXPECT_EQ(mail.subject, "Betreff");
    EXPECT_EQ(mail.attachmentPath, temp.File("anhang.pdf"));
    EXPECT_EQ(mail.bodyLines, (std::vector<std::string>{"Zeile 1", ".Zeile 2", "Zeile 3"}));
    EXPECT_TRUE(ui.connectedPicture);

    fields.attachment = temp.File("fehlt.pdf");
    EXPECT_TRUE(SendOneMessage(fields, transport, ui));
    EXPECT_EQ(transport.sent.at(1).attachmentPath, "");

    fields.recipients = "   ";
    EXPECT_FALSE(SendOneMessage(fields, transport, ui));
    EXPECT_EQ(transport.attempts, 2);
    EXPECT_EQ(ui.sendErrors, 0);
}

}  // namespace
