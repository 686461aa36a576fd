#include "cli/cli_run.h"
#include "mailing/run_summary.h"
#include "mailing/file_io.h"
#include "mailing/list_file.h"
#include "mailing/mailing_check.h"
#include "mailing/run_journal.h"
#include "mailing/send_time.h"
#include "mailing/settings_file.h"
#include "mailing/smtp_transport.h"
#include "signin/oauth_provider.h"
#include "signin/secret_store.h"
#include "tests/support/check_list.h"
#include "tests/support/scripted_smtp_server.h"
#include "tests/support/qt/fake_transport.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>

namespace {

class CliTest : public ::testing::Test {
protected:
    CliTest() {
        SettingsFile settings(Folder());
        settings.LoadSettings();
        settings.SaveSettings({"smtp.example.de", "ich@example.de", "geheim", "25"});
        temp.Write("defaultmail.txt", "Hallo $Prename $Name");
        transports.smtp = [this] { return std::make_unique<SharedFakeTransport>(transport); };
        transports.dryRun = [this](const std::string& folder) {
            dryRunFolder = folder;
            return std::make_unique<SharedFakeTransport>(transport);
        };
        transports.secretStore = [this](const std::string&) { return store; };
    }
    std::string Folder() const { return temp.Path() + "/"; }
    int Run(std::vector<std::string> args) {
        out.str("");
        err.str("");
        args.insert(args.begin(), {"--data-dir", temp.Path()});
        return RunCli(args, out, err, transports, [this] { return stopAfter >= 0 && transport.attempts >= stopAfter; });
    }

    TempDir temp;
    // The secrets in the data folder's file: a test never reads or writes the user's keyring.
    std::shared_ptr<SecretStore> store = std::make_shared<SecretStore>(temp.Path(), SecretStore::Keyring::FileOnly);
    FakeTransport transport;
    CliTransports transports;
    std::ostringstream out, err;
    std::string dryRunFolder;
    int stopAfter = -1;
};

TEST_F(CliTest, RunsTheListAndReportsEveryLine) {
    temp.Write("sendlist.csv", "Meier;Hans;hans@x.de;S;;x;;\r\n\r\nKurz;;k@x.de;S;;x;;\r\nOhne;Adresse;;S;;x;;\r\n");
    EXPECT_EQ(Run({"--cc", "chef@x.de"}), 0);
    EXPECT_EQ(out.str(),
              "1: gesendet an hans@x.de\n"
              "3: nicht gesendet, kein Vorname: k@x.de\n"
              "4: nicht gesendet, keine Adresse\n"
              "1 gesendet, 0 fehlgeschlagen, 0 unsicher, 2 übersprungen.\n"
              "Übersprungen: 1 ohne Vorname, 1 ohne Adresse.\n"
              "Mailing komplett. 1 gesendet, 0 fehlgeschlagen, 0 unsicher, 2 übersprungen.\n");
    ASSERT_EQ(transport.sent.size(), 1u);
    EXPECT_EQ(transport.sent[0].cc, "chef@x.de");
    EXPECT_EQ(transport.sent[0].bodyLines[0], "Hallo Hans Meier");
    EXPECT_NE(temp.Read("sendlist.csv").find("nicht gesendet: kein Vorname"), std::string::npos);
}

TEST_F(CliTest, FailedLinesAndStopGiveExitCodeOne) {
    temp.Write("sendlist.csv", "A;a;a@x.de;S;;x;;\r\nB;b;b@x.de;S;;x;;\r\nC;c;c@x.de;S;;x;;\r\n");
    transport.failAttempt = {2};
    EXPECT_EQ(Run({}), 1);
    EXPECT_NE(err.str().find("Fehler: Fehler beim Mailversand."), std::string::npos);
    EXPECT_NE(out.str().find("2: Fehler beim Senden an b@x.de"), std::string::npos);

    transport.failAttempt.clear();
    stopAfter = transport.attempts + 1;
    EXPECT_EQ(Run({}), 1);
    EXPECT_NE(out.str().find("Mailing abgebrochen!"), std::string::npos);
}

TEST_F(CliTest, UsageAndAccountErrorsGiveExitCodeTwo) {
    EXPECT_EQ(Run({"--bogus"}), 2);
    EXPECT_NE(err.str().find("Unbekannte Angabe: --bogus"), std::string::npos);
    EXPECT_EQ(Run({"--list"}), 2);
    EXPECT_EQ(Run({"--auth", "fax"}), 2);
    EXPECT_NE(err.str().find("Für --auth password, microsoft, google oder oauth2 angeben"), std::string::npos);

    SettingsFile settings(Folder());
    settings.LoadSettings();
    settings.SaveSettings({"smtp.example.de", "ich@example.de", "", "25"});
    temp.Write("sendlist.csv", "A;a;a@x.de;S;;x;;\r\n");
    EXPECT_EQ(Run({}), 2);
    EXPECT_NE(err.str().find("Fehler: Bitte zunächst alle Accountdaten ausfüllen!"), std::string::npos);
    EXPECT_TRUE(transport.sent.empty());
    // The empty password line is filled from the keyring where the options keep the password there.
    temp.Write("postira-optionen.ini", "password-in-keyring=ja\r\n");
    store->Write(PasswordKey("ich@example.de"), "aus-dem-Schlüsselbund");
    EXPECT_EQ(Run({}), 0) << err.str();
    ASSERT_EQ(transport.sent.size(), 1u);
    EXPECT_EQ(transport.sent[0].password, "aus-dem-Schlüsselbund");
    store->Remove(PasswordKey("ich@example.de"));
    transport.sent.clear();
    // A sign-in with OAuth2 needs no password, but a stored sign-in; the flags reach the mail, with the
    // run's access tokens.
    EXPECT_EQ(Run({"--auth", "google", "--client-id", "app-1"}), 2);
    EXPECT_NE(err.str().find("Fehler: Für ich@example.de besteht keine Anmeldung bei Google. Bitte zuerst mit "
                             "postira-run --sign-in anmelden."),
              std::string::npos)
        << err.str();
    EXPECT_TRUE(transport.sent.empty());
    const SignInBinding google{"https://oauth2.googleapis.com/token", "app-1", "smtp.gmail.com", 0};
    store->Write(RefreshTokenKey("ich@example.de"), EncodeBoundSecret(google, "erneuern-1"));
    EXPECT_EQ(Run({"--auth", "google", "--client-id", "app-1"}), 2) << "the account's server is not Google's";
    EXPECT_NE(err.str().find("Fehler: Die Anmeldung bei Google gilt nur für den Server smtp.gmail.com, eingestellt ist "
                             "smtp.example.de:25."),
              std::string::npos)
        << err.str();
    SettingsFile(Folder()).SaveSettings({"smtp.gmail.com", "ich@example.de", "", "587"});
    EXPECT_EQ(Run({"--auth", "google", "--client-id", "app-1"}), 0);
    ASSERT_EQ(transport.sent.size(), 1u);
    EXPECT_EQ(transport.sent[0].signIn, SignInMethod::Google);
    EXPECT_NE(transport.sent[0].accessTokens, nullptr);
}

// The sign-in commands end without sending; the note that the secrets are in a file comes once, and only
// where secrets are kept.
TEST_F(CliTest, SignInAndSignOutCommands) {
    temp.Write("sendlist.csv", "A;a;a@x.de;S;;x;;\r\n");
    const std::string note = "Hinweis: " + store->FileNote() + "\n";
    const struct {
        std::vector<std::string> args;
        int exit;
        std::string err;
    } usage[] = {
        {{"--sign-in"}, 2, "Für --sign-in eine Anmeldung mit OAuth2 wählen"},
        {{"--sign-in", "--sign-out", "--auth", "microsoft"}, 2, "--sign-in und --sign-out schließen sich aus."},
        // Nothing to sign in to: the client ID is missing.
        {{"--sign-in", "--auth", "microsoft"}, 1,
         note + "Fehler: Für die Anmeldung bei Microsoft fehlt die Client-ID"},
    };
    for (const auto& c : usage) {
        EXPECT_EQ(Run(c.args), c.exit) << c.args[0];
        EXPECT_EQ(err.str().rfind(c.err, 0), 0u) << err.str();
    }

    store->Write(RefreshTokenKey("ich@example.de"), "erneuern-1");
    EXPECT_EQ(Run({"--sign-out"}), 0);
    EXPECT_EQ(out.str(), "Die Anmeldung von ich@example.de wurde entfernt.\n");
    EXPECT_EQ(err.str(), note);
    EXPECT_EQ(store->Read(RefreshTokenKey("ich@example.de")), std::nullopt);
    EXPECT_EQ(Run({"--sign-out"}), 0);
    EXPECT_EQ(out.str(), "Für ich@example.de war keine Anmeldung gespeichert.\n");
    EXPECT_TRUE(transport.sent.empty());

    // A password run keeps no secret: no note.
    EXPECT_EQ(Run({}), 0);
    EXPECT_EQ(err.str().find("Hinweis"), std::string::npos) << err.str();

    SettingsFile settings(Folder());
    settings.LoadSettings();
    settings.SaveSettings({"smtp.example.de", " ", "geheim", "25"});
    EXPECT_EQ(Run({"--sign-in", "--auth", "oauth2"}), 2);
    EXPECT_EQ(err.str(), "Fehler: Für die Anmeldung fehlt der Benutzername (die Mailadresse) in den Kontodaten.\n");
}

TEST_F(CliTest, QuestionsAreAnsweredNoUnlessYes) {
    EXPECT_EQ(Run({"--list", temp.File("fehlt.csv")}), 1);
    EXPECT_NE(err.str().find("Bestätigung: Keine Empfängerliste gefunden. Möchten Sie selbst danach suchen? Nein"),
              std::string::npos);
    EXPECT_EQ(Run({"--yes", "--list", temp.File("fehlt.csv")}), 1);
    EXPECT_NE(err.str().find("Informationen: Sendlist.csv nicht gefunden!"), std::string::npos);
    // The last line says what happened, not that the run has started.
    EXPECT_TRUE(out.str().ends_with("Mailing nicht gestartet: keine Empfängerliste (" + temp.File("fehlt.csv") + ").\n"))
        << out.str();
}

TEST_F(CliTest, DryRunChangesNoFile) {
    const std::string list = "A;a;a@x.de;S;;x;;\r\n";
    temp.Write("sendlist.csv", list);
    EXPECT_EQ(Run({"--dry-run", temp.File("out")}), 0);
    EXPECT_EQ(dryRunFolder, temp.File("out"));
    EXPECT_EQ(transport.sent.at(0).mailNumber, 1);
    EXPECT_EQ(temp.Read("sendlist.csv"), list);
}

TEST_F(CliTest, ListOptionAndErrorEndings) {
    temp.Write("andere.csv", "A;a;a@x.de;S;" + temp.File("weg.txt") + ";x;;\r\n");
    std::remove(temp.File("defaultmail.txt").c_str());
    EXPECT_EQ(Run({"--list", temp.File("andere.csv")}), 1);
    EXPECT_NE(err.str().find("Fehler: Datei "), std::string::npos);
}

TEST_F(CliTest, InterruptedListNeedsResumeOrNoResume) {
    temp.Write("sendlist.csv", "A;a;a@x.de;S;;x;;\r\nB;b;b@x.de;S;;x;;\r\n");
    RunJournal(temp.File("sendlist.csv")).RecordSent(0, "A;a;a@x.de;S;;08.12.2026 09:00:00;;");
    EXPECT_EQ(Run({}), 2);
    EXPECT_NE(err.str().find("--resume"), std::string::npos);
    EXPECT_TRUE(transport.sent.empty());
    EXPECT_EQ(Run({"--resume", "--no-resume"}), 2);

    EXPECT_EQ(Run({"--resume"}), 0);
    ASSERT_EQ(transport.sent.size(), 1u);
    EXPECT_EQ(transport.sent[0].recipients, "b@x.de");
    EXPECT_NE(out.str().find("1: bereits gesendet (unterbrochener Durchlauf): a@x.de"), std::string::npos);
    EXPECT_NE(temp.Read("sendlist.csv").find("08.12.2026 09:00:00"), std::string::npos);
    EXPECT_FALSE(PathExists(temp.File("sendlist.csv.journal")));
}

TEST_F(CliTest, PasswordWithoutTlsOnlyWhenAllowedAndServerTextCleaned) {
    using namespace smtp_script;
    temp.Write("sendlist.csv", "A;a;a@x.de;S;;x;;\r\n");
    // The server offers no STARTTLS, as when someone on the path has cut it from the reply.
    auto with = [](Script script, const Script& more) {
        script.insert(script.end(), more.begin(), more.end());
        return script;
    };
    const Script greeting = {Reply("220 ready"), ExpectAny(), Reply("250-host\n250 AUTH LOGIN"), Expect("RSET"),
                             Reply("250 ok")};
    // ... or neither STARTTLS nor AUTH.
    const Script strippedHello = {Reply("220 ready"), ExpectAny(), Reply("250 host")};
    const Script stripped = with(strippedHello, {Expect("RSET"), Reply("250 ok")});
    const Script login = {Expect("AUTH LOGIN"), Reply("334 x"), ExpectAny(), Reply("334 y"), ExpectAny(),
                          Reply("235 ok")};
    const Script accepted = {ExpectAny(), Reply("250 ok"), ExpectAny(), Reply("250 ok"), Expect("DATA"),
                             Reply("354 go"), ReadUntil("."), Reply("250 queued"), Expect("QUIT")};
    // Nearly 1 MiB of reply with terminal escapes and NUL bytes.
    std::string hostile;
    for (int i = 0; i < 900; ++i) hostile += std::string("550-\x1b[2J\x1b]0;pwned\x07\0", 17) + std::string(1000, 'x') + "\n";
    const Script refusedBadly = {ExpectAny(), Reply(hostile + "550 Ende"), Expect("QUIT")};
    struct Case {
        std::string name;
        std::vector<std::string> args;
        std::string optionsFile;  // empty: none
        bool remote;              // the server counts as another machine
        Script script;
        int exitCode;
        bool offersLogin = true;
    };
    const std::vector<Case> cases = {
        {"another machine", {}, "", true, with(greeting, {Expect("QUIT")}), 1},
        {"allowed by the flag", {"--allow-plain-login"}, "", true, with(with(greeting, login), accepted), 0},
        {"allowed by the options file", {}, "allow-plain-login = ja\r\n", true, with(with(greeting, login), accepted), 0},
        {"hostile reply", {}, "", false, with(with(greeting, login), refusedBadly), 1},
        {"stripped, another machine", {}, "", true, with(strippedHello, {Expect("QUIT")}), 1, false},
        {"stripped, allowed by the flag", {"--allow-plain-login"}, "", true, with(stripped, accepted), 0, false},
        {"stripped, this machine", {}, "", false, with(stripped, accepted), 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedSmtpServer server(c.script);
        SettingsFile settings(Folder());
        settings.LoadSettings();
        settings.SaveSettings({server.Host(), "ich@example.de", "geheim", std::to_string(server.Port())});
        std::remove(temp.File("postira-optionen.ini").c_str());
        if (!c.optionsFile.empty()) temp.Write("postira-optionen.ini", c.optionsFile);
        transports.smtp = [&] {
            return c.remote ? CreateSmtpTransport([](const std::string&) { return false; }) : CreateSmtpTransport();
        };
        EXPECT_EQ(Run(c.args), c.exitCode);
        EXPECT_TRUE(server.Finish());
        const bool goesAhead = c.exitCode == 0 || !c.remote;
        EXPECT_EQ(server.Received().find("AUTH") != std::string::npos, goesAhead && c.offersLogin);
        EXPECT_EQ(server.Received().find("MAIL FROM") != std::string::npos, goesAhead);
        const std::string log = err.str();
        const size_t cause = log.find("Ursache: ");
        if (c.exitCode == 0) {
            EXPECT_EQ(cause, std::string::npos) << log;
            continue;
        }
        ASSERT_NE(cause, std::string::npos) << log;
        const std::string line = log.substr(cause, log.find('\n', cause) - cause);
        if (c.remote) {
            EXPECT_NE(line.find("\"Anmeldung ohne Verschlüsselung erlauben\""), std::string::npos) << line;
        }
        EXPECT_LE(log.size(), 600u);
        for (const char byte : line) EXPECT_FALSE(static_cast<unsigned char>(byte) < 0x20 || byte == 0x7F) << line;
    }
}

// What a scripted server does to one mail of a run.
enum class Fault { None, Reply451ToMail, DropAfterRcpt, Reply421AfterMail, DropAfterDot, Reply550ToRcpt };

// The connections a server plays for `count` mails to r1@x.de, r2@x.de, ... with the given faults, as the
// client must meet them: every mail accepted once, but one whose dot got no reply; a 4xx or a lost
// connection tried again on a new connection (after the retry wait, or at once when a connection kept
// from the last mail was closed by the server); a 5xx not tried again.
std::vector<Script> ServerPlan(int count, const std::map<int, Fault>& faults) {
    using namespace smtp_script;
    std::vector<Script> connections;
    Script current;
    bool open = false;
    bool loggedIn = false;
    auto add = [&](const Script& steps) { current.insert(current.end(), steps.begin(), steps.end()); };
    auto start = [&] {
        current = {Reply("220 ready"), ExpectAny(), Reply("250-host\n250 AUTH LOGIN")};
        open = true;
        loggedIn = false;
    };
    auto end = [&](const Script& last) {
        add(last);
        connections.push_back(current);
        open = false;
    };
    auto begin = [&] {
        if (!open) start();
        add({Expect("RSET"), Reply("250 ok")});
        if (!loggedIn) add({Expect("AUTH LOGIN"), Reply("334 x"), ExpectAny(), Reply("334 y"), ExpectAny(), Reply("235 ok")});
        loggedIn = true;
    };
    auto envelope = [&](int m) {
        add({Expect("MAIL FROM:<ich@example.de>"), Reply("250 ok"), Expect("RCPT TO:<r" + std::to_string(m) + "@x.de>")});
    };
    auto accepted = [&](int m) {
        begin();
        envelope(m);
        add({Reply("250 ok"), Expect("DATA"), Reply("354 go"), ReadUntil("."), Reply("250 queued")});
    };
    for (int m = 1; m <= count; ++m) {
        const auto fault = faults.count(m) ? faults.at(m) : Fault::None;
        switch (fault) {
            case Fault::None: accepted(m); break;
            case Fault::Reply451ToMail:
                begin();
                add({Expect("MAIL FROM:<ich@example.de>"), Reply("451 4.7.0 Try again later")});
                end({Expect("QUIT")});
                accepted(m);
                break;
            case Fault::DropAfterRcpt:
                begin();
                envelope(m);
                end({Close()});
                accepted(m);
                break;
            case Fault::Reply421AfterMail:
                accepted(m);
                end({Expect("RSET"), Reply("421 4.7.0 Too many messages, closing"), Close()});
                break;
            case Fault::DropAfterDot:
                begin();
                envelope(m);
                add({Reply("250 ok"), Expect("DATA"), Reply("354 go"), ReadUntil(".")});
                end({Close()});
                break;
            case Fault::Reply550ToRcpt:
                begin();
                envelope(m);
                end({Reply("550 5.1.1 User unknown"), Expect("QUIT")});
                break;
        }
    }
    if (open) end({Expect("QUIT")});
    return connections;
}

TEST_F(CliTest, CapsAndLostConnectionsCostNoMailAndNoMailGoesTwice) {
    struct Case {
        std::map<int, Fault> faults;
        int failed;
        int inDoubt;
    };
    const std::vector<Case> cases = {
        {{{5, Fault::Reply451ToMail}, {6, Fault::Reply451ToMail}, {7, Fault::Reply451ToMail},
          {12, Fault::DropAfterRcpt}, {20, Fault::Reply421AfterMail}, {25, Fault::DropAfterDot}}, 0, 1},
        {{{3, Fault::Reply550ToRcpt}, {8, Fault::DropAfterDot}, {9, Fault::DropAfterRcpt}}, 1, 1},
    };
    constexpr int kMails = 30;
    for (const Case& c : cases) {
        const std::vector<Script> plan = ServerPlan(kMails, c.faults);
        ScriptedSmtpServer server(plan[0]);
        for (size_t i = 1; i < plan.size(); ++i) server.AddConnection(plan[i]);
        SettingsFile settings(Folder());
        settings.LoadSettings();
        settings.SaveSettings({server.Host(), "ich@example.de", "geheim", std::to_string(server.Port())});
        std::string list;
        for (int m = 1; m <= kMails; ++m) list += "N;V;r" + std::to_string(m) + "@x.de;S;;x;;\r\n";
        temp.Write("sendlist.csv", list);
        transports.smtp = [] { return CreateSmtpTransport(); };

        EXPECT_EQ(Run({"--retry-wait", "1", "--yes"}), 1);  // a mail in doubt, as a failed one, gives 1
        EXPECT_TRUE(server.Finish());
        EXPECT_EQ(server.Connections(), plan.size());
        const TextLines lines = SplitTextLines(temp.Read("sendlist.csv"));
        ASSERT_EQ(lines.lines.size(), static_cast<size_t>(kMails));
        for (int m = 1; m <= kMails; ++m) {
            const std::string result = SplitListLine(lines.lines[m - 1]).Result;
            const auto fault = c.faults.count(m) ? c.faults.at(m) : Fault::None;
            if (fault == Fault::DropAfterDot) {
                EXPECT_EQ(result, "unsicher: Verbindung nach dem Senden getrennt");
            } else if (fault == Fault::Reply550ToRcpt) {
                // The line tells why, in the server's cleaned words.
                EXPECT_TRUE(result.starts_with(kFailedStatusStart) && result.ends_with(": 5.1.1 User unknown")) << result;
            } else {
                EXPECT_TRUE(ParseSendTime(result)) << m << ": " << result;  // the send time
            }
        }
        const int sent = kMails - c.failed - c.inDoubt;
        EXPECT_NE(out.str().find(std::to_string(sent) + " gesendet, " + std::to_string(c.failed) + " fehlgeschlagen, " +
                                 std::to_string(c.inDoubt) + " unsicher, 0 übersprungen."),
                  std::string::npos)
            << out.str();
        EXPECT_NE(out.str().find("Unsicher (vielleicht zugestellt, daher nicht noch einmal gesendet):\nZeile "),
                  std::string::npos)
            << out.str();
    }
}

// --check: one line per finding, the sum last, exit 1; a clean list exits 0. Nothing is sent, no file
// written, the keyring not asked.
TEST_F(CliTest, CheckPrintsEachFindingAndChangesNothing) {
    const std::vector<ExpectedFinding> expected = WriteMailingWithEveryFinding(temp);
    bool secretsAsked = false;
    transports.secretStore = [&](const std::string&) {
        secretsAsked = true;
        return store;
    };
    const std::vector<std::string> before = FolderEntries(temp.Path());
    const std::string list = temp.Read("sendlist.csv");

    EXPECT_EQ(Run({"--check", "--rate", "30"}), 1) << err.str();
    std::string printed;
    for (const ExpectedFinding& finding : expected) {
        printed += "Zeile " + std::to_string(finding.number) + ": " +
                   (finding.address.empty() ? "" : finding.address + ": ") + finding.text + "\n";
    }
    EXPECT_EQ(out.str(), printed + kEveryFindingSummary + "\n");
    EXPECT_EQ(transport.attempts, 0);
    EXPECT_FALSE(secretsAsked);
    EXPECT_EQ(FolderEntries(temp.Path()), before);
    EXPECT_EQ(temp.Read("sendlist.csv"), list);

    temp.Write("sauber.csv", "Meier;Hans;hans@x.de;Angebot;default;;;\r\n");
    EXPECT_EQ(Run({"--check", "--list", temp.File("sauber.csv"), "--cc", "chef@x.de"}), 0) << out.str();
    EXPECT_TRUE(out.str().starts_with("1 Mail würde gesendet, ")) << out.str();
    EXPECT_EQ(out.str().find('\n'), out.str().size() - 1) << out.str();
    EXPECT_EQ(Run({"--check", "--list", temp.File("sauber.csv"), "--cc", "chef@firma"}), 1);
    EXPECT_TRUE(out.str().starts_with("Konto: Kopie-Adresse \"chef@firma\" ungültig")) << out.str();
    EXPECT_EQ(Run({"--check", "--dry-run", temp.File("out")}), 2);
}

// The size the check sums is the size of the mails a dry run writes, byte for byte: mails in 7 bits and
// quoted-printable, a folded subject in encoded words, two recipients, a line starting with ".", and
// attachments on both sides of the encoder's line and read block lengths, some mails alike but for their
// names (measured from the first of their kind), and HTML and Markdown mails with a picture inside.
TEST_F(CliTest, CheckedSizeIsTheSizeOfTheMailsADryRunWrites) {
    transports.dryRun = [](const std::string& folder) { return CreateDryRunTransport(folder); };
    temp.Write("a.txt", ".$Prename vorn\r\nLiebe(r) $Prename $Name,\r\nText ohne Platzhalter.\r\n");
    temp.Write("b.txt", "Grüße an $Prename!\r\n");
    const std::pair<const char*, size_t> attachments[] = {{"leer.bin", 0}, {"eins.bin", 1}, {"zeile.bin", 57},
                                                          {"block.bin", 57 * 1149 + 58}};
    for (const auto& [name, size] : attachments) temp.Write(name, std::string(size, 'a'));
    temp.Write("logo.png", std::string(57 * 3 + 1, 'l'));
    temp.Write("c.html", "<p>Liebe(r) $Prename $Name,</p>\r\n<p>.Punkt vorn, Grüße</p><img src=\"logo.png\">\r\n");
    temp.Write("d.md", "# Hallo $Prename\r\n\r\n![Logo](logo.png) **Preise**\r\n");
    const std::string a = temp.File("a.txt"), b = temp.File("b.txt"), c = temp.File("c.html"), d = temp.File("d.md");
    temp.Write("sendlist.csv",
               "Meier;Hans;hans@x.de;Kurz;" + a + ";;;\r\n"
               "Müller;Jürgen;j@x.de;Grüße aus dem sonnigen Süden, mit so vielen Wörtern, dass der Betreff gefaltet "
               "wird;" + a + ";;;\r\n"
               "Lang;Lisa;lisa@x.de, Max Mustermann <max@x.de>;Kurz;" + a + ";;" + temp.File("zeile.bin") + ";\r\n"
               "Ott;Otto;otto@x.de;Kurz;" + a + ";;" + temp.File("zeile.bin") + ";\r\n"
               "Bär;Björn;b@x.de;Öl;" + b + ";;" + temp.File("eins.bin") + ";\r\n"
               "Fix;Fritz;f@x.de;X;" + b + ";;" + temp.File("block.bin") + ";\r\n"
               "Null;Nina;n@x.de;X;" + b + ";;" + temp.File("leer.bin") + ";\r\n"
               "Schmidt-Rottluff;Maximiliane;max@x.de;Lang und länger;" + a + ";;;\r\n"
               "Öztürk;Ümit Ömer;oe@x.de;Kurz;" + a + ";;;\r\n"
               "Kunz;Karl;k@x.de;HTML;" + c + ";;;\r\n"
               "Bär & Söhne;Björn;b2@x.de;HTML mit Anhang;" + c + ";;" + temp.File("zeile.bin") + ";\r\n"
               "Maus;Mia;m@x.de;MD;" + d + ";;;\r\n");
    ASSERT_EQ(Run({"--cc", "Chef <chef@x.de>", "--dry-run", temp.File("out")}), 0) << err.str();
    long long written = 0;
    for (const auto& entry : std::filesystem::directory_iterator(temp.File("out"))) {
        written += static_cast<long long>(entry.file_size());
    }
    const CheckInput input{Folder(), temp.File("sendlist.csv"), {"smtp.example.de", "ich@example.de", "geheim", "25"},
                           {}, "Chef <chef@x.de>"};
    const CheckReport report = CheckMailing(input);
    EXPECT_TRUE(report.Clean()) << report.findings.at(0).text;
    EXPECT_EQ(report.mails, 12);
    EXPECT_EQ(report.wireBytes, written);
}

}  // namespace
