// The copies in the Sent folder as a user meets them: postira-run with the real SMTP client against the
// scripted SMTP server, and the real IMAP client against the scripted IMAP server.

#include "cli/cli_run.h"
#include "mailing/copy_spool.h"
#include "mailing/file_io.h"
#include "mailing/list_file.h"
#include "mailing/run_journal.h"
#include "mailing/send_options.h"
#include "mailing/send_time.h"
#include "mailing/settings_file.h"
#include "mailing/smtp_transport.h"
#include "signin/secret_store.h"
#include "tests/support/scripted_imap_server.h"
#include "tests/support/scripted_smtp_server.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

std::string Address(int mail) { return "r" + std::to_string(mail) + "@x.de"; }

// One SMTP connection with PIPELINING that takes mails first..last; with `ahead` the envelope of the mail
// after `last` follows its dot, and the client leaves without QUIT (the run was stopped).
Script SmtpMails(int first, int last, bool ahead) {
    using namespace smtp_script;
    Script script = {Reply("220 ready"), ExpectAny(), Reply("250-host\n250-PIPELINING\n250 AUTH LOGIN"), Expect("RSET"),
                     Reply("250 ok"), Expect("AUTH LOGIN"), Reply("334 x"), ExpectAny(), Reply("334 y"), ExpectAny(),
                     Reply("235 ok")};
    auto envelope = [&](int mail) {
        for (const std::string& line : {std::string("MAIL FROM:<ich@example.de>"), "RCPT TO:<" + Address(mail) + ">", std::string("DATA")})
            script.push_back(Expect(line));
    };
    envelope(first);
    script.push_back(Reply("250 ok\n250 ok\n354 go"));
    for (int mail = first; mail <= last; ++mail) {
        script.push_back(ReadUntil("."));
        if (mail == last && !ahead) {
            script.insert(script.end(), {Reply("250 queued"), Expect("QUIT"), Reply("221 bye")});
            break;
        }
        script.push_back(Expect("RSET"));
        envelope(mail + 1);
        script.push_back(Reply("250 queued\n250 ok\n250 ok\n250 ok\n354 go"));
    }
    return script;
}

// The messages as the SMTP server received them: what came between DATA and the dot, unstuffed.
std::vector<std::string> ReceivedMessages(const std::string& transcript) {
    std::vector<std::string> messages;
    size_t at = 0;
    while ((at = transcript.find("DATA\r\n", at)) != std::string::npos) {
        at += 6;
        const size_t end = transcript.find("\r\n.\r\n", at - 2);
        if (end == std::string::npos) break;
        std::string message = transcript.substr(at, end + 2 - at);
        for (size_t dot = 0; (dot = message.find("\r\n..", dot)) != std::string::npos; dot += 3) message.erase(dot + 2, 1);
        messages.push_back(message);
        at = end;
    }
    return messages;
}

// A connection that greets, takes the login and names its Sent folder, then takes an APPEND for each
// status; after a refusal the client leaves.
ImapScript ImapCopies(const std::vector<std::string>& statuses, const std::string& capabilities = "SPECIAL-USE") {
    using namespace imap_script;
    ImapScript script = {Send("* OK [CAPABILITY IMAP4rev1 " + capabilities + "] ready"),
                         Expect("A001 LOGIN \"ich@example.de\" \"geheim\""),
                         Send("A001 OK [CAPABILITY IMAP4rev1 " + capabilities + "] hi"),
                         Expect(R"(A002 LIST (SPECIAL-USE) "" "*")"),
                         Send("* LIST (\\HasNoChildren) \"/\" INBOX\n* LIST (\\Sent) \"/\" Gesendet\nA002 OK")};
    int tag = 3;
    for (const std::string& status : statuses) {
        script.push_back(AppendCopy(status));
        ++tag;
        if (status.starts_with("NO")) {
            const std::string logout = "A00" + std::to_string(tag);
            script.insert(script.end(), {Expect(logout + " LOGOUT"), Send("* BYE\n" + logout + " OK")});
            break;
        }
    }
    return script;
}

// The date of an APPEND for the send time the list shows.
std::string ImapDateOf(const std::string& sendTime) {
    const std::optional<SendTime> parsed = ParseSendTime(sendTime);
    if (!parsed) return "no send time: " + sendTime;
    const std::time_t when = QDateTime(parsed->date, parsed->time).toSecsSinceEpoch();
    std::tm local{};
    localtime_r(&when, &local);
    return FormatIMAPDateTime(when, std::chrono::minutes(local.tm_gmtoff / 60));
}

class SentCopyTest : public ::testing::Test {
protected:
    SentCopyTest() {
        temp.Write("defaultmail.txt", "Hallo $Prename,\r\n.ein Punkt vorn.\r\n");
        std::string list;
        for (int mail = 1; mail <= 3; ++mail) list += "N;V" + std::to_string(mail) + ";" + Address(mail) + ";S;;x;;\r\n";
        temp.Write("sendlist.csv", list);
        transports.smtp = [] { return CreateSmtpTransport(); };
        transports.secretStore = [this](const std::string&) { return store; };
    }

    int Run(const ScriptedSmtpServer& smtp, const ScriptedImapServer& imap, std::vector<std::string> args) {
        SettingsFile settings(temp.Path() + "/");
        settings.LoadSettings();
        settings.SaveSettings({smtp.Host(), "ich@example.de", "geheim", std::to_string(smtp.Port())});
        out.str("");
        err.str("");
        args.insert(args.end(), {"--data-dir", temp.Path(), "--sent-copy", "--imap-host", "127.0.0.1", "--imap-port",
                                 std::to_string(imap.Port())});
        // Stopped as with Strg+C once the line has gone out.
        const std::string stopAt = std::to_string(stopAfter) + ": gesendet an";
        return RunCli(args, out, err, transports,
                      [&] { return stopAfter > 0 && out.str().find(stopAt) != std::string::npos; });
    }

    // Every line shows its send time, and each copy is the message the SMTP server received, flagged
    // \Seen, with the line's send time as its date.
    void ExpectCopiesOf(const std::vector<std::string>& messages, const std::vector<int>& mails,
                        const std::vector<ImapAppend>& appends) {
        const TextLines lines = SplitTextLines(temp.Read("sendlist.csv"));
        ASSERT_EQ(appends.size(), mails.size());
        for (size_t i = 0; i < mails.size(); ++i) {
            SCOPED_TRACE("mail " + std::to_string(mails[i]));
            const std::string sendTime = SplitListLine(lines.lines.at(mails[i] - 1)).Result;
            const std::string& message = messages.at(mails[i] - 1);
            std::string line = appends[i].line.substr(5);
            if (line.ends_with("+}")) line.erase(line.size() - 2, 1);  // LITERAL+
            EXPECT_EQ(line, "APPEND \"Gesendet\" (\\Seen) \"" + ImapDateOf(sendTime) + "\" {" +
                                                     std::to_string(message.size()) + "}");
            EXPECT_EQ(appends[i].message, message);
            EXPECT_NE(appends[i].message.find("To: " + Address(mails[i])), std::string::npos);
        }
    }

    TempDir temp;
    std::shared_ptr<SecretStore> store = std::make_shared<SecretStore>(temp.Path(), SecretStore::Keyring::FileOnly);
    CliTransports transports;
    int stopAfter = 0;
    std::ostringstream out, err;
};

// The copies go while the mails go: the IMAP server answers only once the SMTP server has its QUIT, so
// a run that waited for a copy before its next mail would never get there. The copies waiting by then go
// in one APPEND, where the server takes several.
TEST_F(SentCopyTest, EveryMailGetsItsCopyWithoutHoldingTheNext) {
    ScriptedSmtpServer smtp(SmtpMails(1, 3, false));
    ImapScript script = ImapCopies({"OK"}, "SPECIAL-USE MULTIAPPEND LITERAL+");
    script.insert(script.begin(), imap_script::WaitFor([&] { return smtp.Received().find("QUIT") != std::string::npos; }));
    ScriptedImapServer imap(script);
    EXPECT_EQ(Run(smtp, imap, {}), 0) << err.str();
    EXPECT_TRUE(smtp.Finish());
    EXPECT_TRUE(imap.Finish());
    const std::vector<std::string> messages = ReceivedMessages(smtp.Received());
    ASSERT_EQ(messages.size(), 3u);
    ExpectCopiesOf(messages, {1, 2, 3}, imap.Appends());
    for (const ImapAppend& append : imap.Appends()) EXPECT_EQ(append.command, 0u);
    EXPECT_EQ(out.str().find("Kopie"), std::string::npos) << out.str();
    EXPECT_FALSE(PathExists(temp.File("sendlist.csv.journal")));
    EXPECT_FALSE(PathExists(CopySpoolFolder(temp.File("sendlist.csv"))));
}

// A refused APPEND is tried once more on a new connection; when that is refused too, no more copies are
// tried, every mail still goes once and keeps its send time, and the summary names the missing copies.
TEST_F(SentCopyTest, ARefusedCopyIsTriedOnANewConnectionThenGivenUp) {
    const struct {
        std::string name;
        std::vector<ImapScript> connections;
        std::vector<int> copied;
        std::string summary;
    } cases[] = {
        {"refused once", {ImapCopies({"NO [OVERQUOTA] Quota"}), ImapCopies({"OK", "OK", "OK"})}, {1, 2, 3}, ""},
        {"refused for good",
         {ImapCopies({"NO [OVERQUOTA] Quota"}), ImapCopies({"NO [OVERQUOTA] Quota"})},
         {},
         "3 Kopien fehlen im Ordner „Gesendet“:\n"
         "Zeile 1, r1@x.de: Der IMAP-Server hat die Kopie nicht abgelegt: Quota\n"
         "Zeile 2, r2@x.de: nicht versucht: nach zwei Fehlern in Folge legt Postira in diesem Durchlauf keine Kopien "
         "mehr ab\n"
         "Zeile 3, r3@x.de: nicht versucht: nach zwei Fehlern in Folge legt Postira in diesem Durchlauf keine Kopien "
         "mehr ab\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        temp.Write("sendlist.csv", "N;V1;r1@x.de;S;;x;;\r\nN;V2;r2@x.de;S;;x;;\r\nN;V3;r3@x.de;S;;x;;\r\n");
        ScriptedSmtpServer smtp(SmtpMails(1, 3, false));
        ScriptedImapServer imap(c.connections);
        EXPECT_EQ(Run(smtp, imap, {}), 0) << err.str();
        EXPECT_TRUE(smtp.Finish());
        EXPECT_TRUE(imap.Finish());
        const std::vector<std::string> messages = ReceivedMessages(smtp.Received());
        ASSERT_EQ(messages.size(), 3u);
        std::vector<ImapAppend> stored = imap.Appends();
        // The refused APPENDs come first; the copies stored are the last ones.
        ASSERT_GE(stored.size(), c.copied.size());
        stored.erase(stored.begin(), stored.end() - static_cast<long>(c.copied.size()));
        ExpectCopiesOf(messages, c.copied, stored);
        EXPECT_NE(out.str().find("3 gesendet, 0 fehlgeschlagen"), std::string::npos) << out.str();
        if (c.summary.empty()) {
            EXPECT_EQ(out.str().find("Kopie"), std::string::npos) << out.str();
        } else {
            EXPECT_NE(out.str().find(c.summary), std::string::npos) << out.str();
        }
    }
}

// A run stopped after its second mail, whose second copy the IMAP server refused (and then was away),
// keeps that copy's bytes; the resumed run appends it first, then sends and copies the third mail, and
// appends the first copy no second time.
TEST_F(SentCopyTest, AResumedRunAddsTheMissingCopyFromTheSpoolAndNoneTwice) {
    std::vector<std::string> messages;
    {
        ScriptedSmtpServer smtp(SmtpMails(1, 2, true));
        ScriptedImapServer imap({ImapCopies({"OK", "NO [UNAVAILABLE] später"}), {imap_script::Send("* BYE zu viele")}});
        stopAfter = 2;
        EXPECT_EQ(Run(smtp, imap, {}), 1);
        EXPECT_TRUE(smtp.Finish());
        EXPECT_TRUE(imap.Finish());
        messages = ReceivedMessages(smtp.Received());
        ASSERT_EQ(messages.size(), 2u);
        EXPECT_NE(out.str().find("1 Kopie fehlt im Ordner „Gesendet“:\nZeile 2, r2@x.de: Der IMAP-Server hat die "
                                 "Verbindung beendet: zu viele"),
                  std::string::npos)
            << out.str();
        ExpectCopiesOf(messages, {1}, {imap.Appends().at(0)});
        EXPECT_EQ(CopySpool(temp.File("sendlist.csv")).Waiting().size(), 1u);
    }
    stopAfter = 0;
    ScriptedSmtpServer smtp(SmtpMails(3, 3, false));
    ScriptedImapServer imap(ImapCopies({"OK", "OK"}));
    EXPECT_EQ(Run(smtp, imap, {"--resume"}), 0) << err.str();
    EXPECT_TRUE(smtp.Finish());
    EXPECT_TRUE(imap.Finish());
    const std::vector<std::string> third = ReceivedMessages(smtp.Received());
    ASSERT_EQ(third.size(), 1u);
    messages.push_back(third[0]);
    ExpectCopiesOf(messages, {2, 3}, imap.Appends());
    EXPECT_EQ(out.str().find("Kopie"), std::string::npos) << out.str();
    EXPECT_FALSE(PathExists(temp.File("sendlist.csv.journal")));
    EXPECT_FALSE(PathExists(CopySpoolFolder(temp.File("sendlist.csv"))));
}

// The check logs in once and lists the folders: the folder found is a note below the sum, a server
// without a Sent folder a finding of the account. It appends nothing and sends nothing.
TEST_F(SentCopyTest, TheCheckTellsWhetherTheSentFolderIsFound) {
    using namespace imap_script;
    ImapScript none = ImapCopies({});
    none.back() = Send("* LIST (\\HasNoChildren) \"/\" INBOX\nA002 OK");
    ScriptedSmtpServer smtp({smtp_script::Silent()});
    ScriptedImapServer imap({ImapCopies({}), none});
    EXPECT_EQ(Run(smtp, imap, {"--check"}), 0) << out.str();
    EXPECT_TRUE(out.str().starts_with("3 Mails würden gesendet") &&
                out.str().ends_with(" annimmt.\nDie Kopien der Mails kommen in den Ordner „Gesendet“ auf 127.0.0.1.\n"))
        << out.str();
    EXPECT_EQ(Run(smtp, imap, {"--check"}), 1);
    EXPECT_TRUE(out.str().starts_with("Konto: Kein Ordner für die Kopien auf dem IMAP-Server 127.0.0.1: Der IMAP-Server "
                                      "nennt keinen Ordner für gesendete Mails."))
        << out.str();
    EXPECT_TRUE(imap.Finish());
    EXPECT_TRUE(imap.Appends().empty());
}

// The options of the copy from the options file, the arguments over them for one run, the defaults for
// what neither sets; and the file written back reads as it was.
TEST(SentCopyOptions, FileArgumentsAndDefaults) {
    const std::string file =
        "sent-copy=ja\r\nimap-host= mail.example.de \r\nimap-port=143\r\nsent-folder=Gesendete Objekte\r\n";
    const struct {
        std::string optionsFile;
        std::vector<std::string> args;
        std::string smtpHost;
        bool on;
        std::string host;
        int port;
        std::string folder;
    } cases[] = {
        {"", {}, "smtp.example.de", false, "imap.example.de", 993, ""},
        {"", {"--sent-copy"}, "SMTP.Example.de", true, "imap.Example.de", 993, ""},
        {"", {}, "mail.example.de", false, "mail.example.de", 993, ""},
        {"", {}, "smtp.office365.com", false, "outlook.office365.com", 993, ""},
        {file, {}, "smtp.example.de", true, "mail.example.de", 143, "Gesendete Objekte"},
        {file,
         {"--no-sent-copy", "--imap-host", "imap2.example.de", "--imap-port", "0", "--sent-folder", "Entwürfe/Gesendet"},
         "smtp.example.de", false, "imap2.example.de", 993, "Entwürfe/Gesendet"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.optionsFile + " " + (c.args.empty() ? "" : c.args[0]) + " " + c.smtpHost);
        const ParsedOptions parsed = ParseOptionsText(c.optionsFile);
        ASSERT_EQ(parsed.damagedLine, 0);
        EXPECT_EQ(ParseOptionsText(FormatOptionsText(parsed.options, {})).options, parsed.options);
        SendOptions options = parsed.options;
        ApplyCliOptions(ParseCliOptions(c.args), options);
        const SentCopyAccount account = SentCopyAccountFor({c.smtpHost, "ich@example.de", "geheim", "587"}, options, nullptr);
        EXPECT_EQ(options.sentCopy, c.on);
        EXPECT_EQ(account.host, c.host);
        EXPECT_EQ(account.port, c.port);
        EXPECT_EQ(account.folder, c.folder);
        EXPECT_EQ(account.password, "geheim");
    }
    for (const char* damaged : {"imap-port=70000\r\n", "imap-port=-1\r\n", "sent-copy=vielleicht\r\n"})
        EXPECT_EQ(ParseOptionsText(damaged).damagedLine, 1) << damaged;
    for (const std::vector<std::string>& wrong : std::vector<std::vector<std::string>>{
             {"--imap-port", "x"}, {"--imap-port", "65536"}, {"--sent-copy", "--no-sent-copy"}, {"--imap-host"}})
        EXPECT_THROW(ParseCliOptions(wrong), std::invalid_argument) << wrong[0];
}

}  // namespace
