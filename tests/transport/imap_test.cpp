#include "transport/encoders.h"
#include "transport/imap.h"
#include "transport/socket_errors.h"

#include "tests/support/scripted_imap_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <limits>
#include <string>
#include <vector>

using namespace imap_script;

namespace {

using ErrorCheck = bool (*)(const std::exception&);
template <class E>
bool IsA(const std::exception& error) {
    return dynamic_cast<const E*>(&error) != nullptr;
}

ImapScript With(ImapScript script, const ImapScript& more) {
    script.insert(script.end(), more.begin(), more.end());
    return script;
}

// A plain greeting that names the capabilities, and a LOGIN of anna whose answer names them again.
ImapScript LoggedIn(const std::string& capabilities) {
    return {Send("* OK [CAPABILITY IMAP4rev1 " + capabilities + "] ready"), Expect("A001 LOGIN \"anna\" \"geheim\""),
            Send("A001 OK [CAPABILITY IMAP4rev1 " + capabilities + "] hi")};
}

void Prepare(TIdIMAP& imap, const ScriptedImapServer& server) {
    imap.Host = "localhost";
    imap.Port = server.Port();
    imap.CAFile = GetTestCertificates().caFile;
    imap.Username = "anna";
    imap.Password = "geheim";
    imap.ReplyTimeLimit = 10000;
}

// Runs the action on a prepared client; checks the error it raises (none when `error` is null) and its
// text (when `what` is given), then closes and returns what the server received.
std::string Play(const ImapScript& script, const std::function<void(TIdIMAP&)>& setup,
                 const std::function<void(TIdIMAP&)>& action, ErrorCheck error, const std::string& what = "") {
    ScriptedImapServer server(script);
    TIdIMAP imap;
    Prepare(imap, server);
    if (setup) setup(imap);
    try {
        action(imap);
        EXPECT_EQ(error, nullptr) << "no error raised";
    } catch (const std::exception& raised) {
        EXPECT_TRUE(error != nullptr && error(raised)) << raised.what();
        if (!what.empty()) {
            EXPECT_EQ(raised.what(), what);
        }
    }
    imap.CloseSession();
    EXPECT_FALSE(imap.IsConnected());
    EXPECT_TRUE(server.Finish());
    return server.Received();
}

void OpenAndLogin(TIdIMAP& imap) {
    imap.OpenSession(1000);
    imap.Login();
}

void NotLocal(TIdIMAP& imap) {
    imap.PeerIsLocal = [](const std::string&) { return false; };
}

}  // namespace

TEST(ImapDateTime, FormatsTheInstantInTheZoneOfTheOffset) {
    struct Case {
        std::time_t when;
        int offsetMinutes;
        std::string text;
    };
    const std::vector<Case> cases = {
        {0, 0, "01-Jan-1970 00:00:00 +0000"},
        {1796716540, 60, "08-Dec-2026 08:55:40 +0100"},
        {1796716540, -210, "08-Dec-2026 04:25:40 -0330"},
        {253402300800, 0, ""},  // 10000-01-01
        {std::numeric_limits<std::time_t>::max(), 60, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatIMAPDateTime(c.when, std::chrono::minutes(c.offsetMinutes)), c.text) << c.when;
    }
}

TEST(ImapSession, EncryptsWhereOfferedAndLogsInOnlyWhereAllowed) {
    struct Case {
        std::string name;
        ImapScript script;
        std::function<void(TIdIMAP&)> setup;
        ErrorCheck error;
        bool encrypted;  // once logged in
        std::string received;
        std::string what = "";
    };
    const ImapScript plainGreeting = {Send("* OK ready"), Expect("A001 CAPABILITY")};
    const ImapScript upgrade = With(plainGreeting, {Send("* CAPABILITY IMAP4rev1 STARTTLS LOGINDISABLED\nA001 OK"),
                                                    Expect("A002 STARTTLS")});
    const std::vector<Case> cases = {
        {"STARTTLS, then LOGIN inside TLS: the plain LOGINDISABLED is forgotten",
         With(upgrade, {Send("A002 OK begin"), StartTLS(), Expect("A003 CAPABILITY"),
                        Send("* CAPABILITY IMAP4rev1 AUTH=PLAIN\nA003 OK"), Expect("A004 LOGIN \"anna\" \"geheim\""),
                        Send("A004 OK [CAPABILITY IMAP4rev1 SPECIAL-USE] hi")}),
         NotLocal, nullptr, true,
         "A001 CAPABILITY\r\nA002 STARTTLS\r\nA003 CAPABILITY\r\nA004 LOGIN \"anna\" \"geheim\"\r\nA005 LOGOUT\r\n"},
        {"implicit TLS, LOGINDISABLED: AUTHENTICATE PLAIN with SASL-IR, capabilities asked after it",
         {StartTLS(), Send("* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=PLAIN LOGINDISABLED] ready"),
          Expect("A001 AUTHENTICATE PLAIN AGFubmEAZ2VoZWlt"), Send("A001 OK"), Expect("A002 CAPABILITY"),
          Send("* CAPABILITY IMAP4rev1\nA002 OK")},
         [](TIdIMAP& imap) { imap.ImplicitTLS = true; }, nullptr, true,
         "A001 AUTHENTICATE PLAIN AGFubmEAZ2VoZWlt\r\nA002 CAPABILITY\r\nA003 LOGOUT\r\n"},
        {"no STARTTLS from a server elsewhere: nothing of the login",
         With(plainGreeting, {Send("* CAPABILITY IMAP4rev1 AUTH=PLAIN\nA001 OK")}), NotLocal,
         IsA<EIdIMAPPlainLoginRefused>, false, "A001 CAPABILITY\r\nA002 LOGOUT\r\n"},
        {"the same, allowed",
         With(plainGreeting, {Send("* CAPABILITY IMAP4rev1\nA001 OK"), Expect("A002 LOGIN \"anna\" \"geheim\""),
                              Send("A002 OK [CAPABILITY IMAP4rev1] hi")}),
         [](TIdIMAP& imap) {
             NotLocal(imap);
             imap.AllowPlainLogin = true;
         },
         nullptr, false, "A001 CAPABILITY\r\nA002 LOGIN \"anna\" \"geheim\"\r\nA003 LOGOUT\r\n"},
        {"LOGINDISABLED without AUTH=PLAIN",
         With(plainGreeting, {Send("* CAPABILITY IMAP4rev1 LOGINDISABLED\nA001 OK")}), nullptr,
         IsA<EIdIMAPLoginUnavailable>, false, "A001 CAPABILITY\r\nA002 LOGOUT\r\n"},
        {"a password that needs a literal waits for the go-ahead",
         {Send("* OK [CAPABILITY IMAP4rev1] ready"), Expect("A001 LOGIN \"anna\" {8}"), Quiet(300), Send("+ go"),
          Literal("gé\"heim"), Expect(""), Send("A001 OK [CAPABILITY IMAP4rev1] hi")},
         [](TIdIMAP& imap) { imap.Password = "gé\"heim"; }, nullptr, false,
         "A001 LOGIN \"anna\" {8}\r\ngé\"heim\r\nA002 LOGOUT\r\n"},
        {"a user name with a quote and a password literal with LITERAL+",
         {Send("* OK [CAPABILITY IMAP4rev1 LITERAL+] ready"), Expect("A001 LOGIN \"an\\\"na\" {8+}"),
          Literal("ge\r\nheim"), Expect(""), Send("A001 OK [CAPABILITY IMAP4rev1] hi")},
         [](TIdIMAP& imap) {
             imap.Username = "an\"na";
             imap.Password = "ge\r\nheim";
         },
         nullptr, false, "A001 LOGIN \"an\\\"na\" {8+}\r\nge\r\nheim\r\nA002 LOGOUT\r\n"},
        {"login refused",
         {Send("* OK [CAPABILITY IMAP4rev1] ready"), Expect("A001 LOGIN \"anna\" \"geheim\""),
          Send("A001 NO [AUTHENTICATIONFAILED] Authentication\x01 failed.")},
         nullptr, IsA<EIdIMAPLoginRefused>, false, "A001 LOGIN \"anna\" \"geheim\"\r\nA002 LOGOUT\r\n",
         "Der IMAP-Server hat die Anmeldung abgelehnt: Authentication? failed."},
        {"PREAUTH through TLS is logged in",
         {StartTLS(), Send("* PREAUTH [CAPABILITY IMAP4rev1] welcome")},
         [](TIdIMAP& imap) { imap.ImplicitTLS = true; }, nullptr, true, "A001 LOGOUT\r\n"},
        {"PREAUTH without TLS from a server elsewhere",
         {Send("* PREAUTH hi"), Expect("A001 CAPABILITY"), Send("* CAPABILITY IMAP4rev1 STARTTLS\nA001 OK")}, NotLocal,
         IsA<EIdIMAPUnprotectedServer>, false, "A001 CAPABILITY\r\nA002 LOGOUT\r\n"},
        {"BYE greeting", {Send("* BYE zu viele Verbindungen")}, nullptr, IsA<EIdIMAPServerClosed>, false, "",
         "Der IMAP-Server hat die Verbindung beendet: zu viele Verbindungen"},
        {"plain text injected behind the OK to STARTTLS",
         With(upgrade, {Send("A002 OK begin\n* CAPABILITY IMAP4rev1 AUTH=PLAIN\nA003 OK")}), nullptr,
         IsA<EIdIMAPInjectedInput>, false, "A001 CAPABILITY\r\nA002 STARTTLS\r\n"},
        {"STARTTLS refused", With(upgrade, {Send("A002 NO not now")}), nullptr, IsA<EIdIMAPCommandRefused>, false,
         "A001 CAPABILITY\r\nA002 STARTTLS\r\nA003 LOGOUT\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bool encryptedWhenLoggedIn = false;
        const std::string received = Play(
            c.script, c.setup,
            [&](TIdIMAP& imap) {
                OpenAndLogin(imap);
                encryptedWhenLoggedIn = imap.Encrypted();
                EXPECT_TRUE(imap.LoggedIn());
                EXPECT_FALSE(imap.HasCapability("STARTTLS"));
            },
            c.error, c.what);
        EXPECT_EQ(received, c.received);
        if (c.error == nullptr) {
            EXPECT_EQ(encryptedWhenLoggedIn, c.encrypted);
        }
    }
}

TEST(ImapSession, XOAuth2LogsInWithTheTokenAndRenewsARefusedOneOnce) {
    struct Tokens : TIdAccessTokenSource {
        std::string AccessToken(bool renew) override {
            asked.push_back(renew);
            return renew ? "frisch" : "alt";
        }
        std::optional<std::string> Refusal(const std::string& host, int) override {
            return host == "localhost" ? std::nullopt : std::optional<std::string>("nicht für " + host);
        }
        std::vector<bool> asked;
    };
    auto auth = [](const std::string& token) {
        return EncodeText<TIdEncoderMIME>("user=anna\x01" "auth=Bearer " + token + "\x01\x01");
    };
    const std::string challenge = EncodeText<TIdEncoderMIME>(R"({"status":"401","schemes":"bearer"})");
    struct Case {
        std::string name;
        std::string capabilities;
        ImapScript login;
        std::vector<bool> asked;
        ErrorCheck error;
        std::string host = "localhost";
    };
    const std::vector<Case> cases = {
        {"SASL-IR", "SASL-IR AUTH=XOAUTH2",
         {Expect("A001 AUTHENTICATE XOAUTH2 " + auth("alt")), Send("A001 OK [CAPABILITY IMAP4rev1] ok")}, {false}, nullptr},
        {"after the continuation", "AUTH=XOAUTH2",
         {Expect("A001 AUTHENTICATE XOAUTH2"), Send("+ "), Expect(auth("alt")), Send("A001 OK [CAPABILITY IMAP4rev1] ok")},
         {false}, nullptr},
        {"challenged, then renewed", "SASL-IR AUTH=XOAUTH2",
         {Expect("A001 AUTHENTICATE XOAUTH2 " + auth("alt")), Send("+ " + challenge), Expect(""), Send("A001 NO no"),
          Expect("A002 AUTHENTICATE XOAUTH2 " + auth("frisch")), Send("A002 OK [CAPABILITY IMAP4rev1] ok")},
         {false, true}, nullptr},
        {"refused twice", "SASL-IR AUTH=XOAUTH2",
         {Expect("A001 AUTHENTICATE XOAUTH2 " + auth("alt")), Send("A001 NO [AUTHENTICATIONFAILED] no"),
          Expect("A002 AUTHENTICATE XOAUTH2 " + auth("frisch")), Send("+ " + challenge), Expect(""), Send("A002 NO no")},
         {false, true}, IsA<EIdIMAPTokenRefused>},
        {"no XOAUTH2 offered", "SASL-IR AUTH=PLAIN", {}, {}, IsA<EIdIMAPLoginUnavailable>},
        {"a token that is not for this server", "AUTH=XOAUTH2", {}, {}, IsA<EIdException>, "127.0.0.1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Tokens tokens;
        const std::string received = Play(
            With({Send("* OK [CAPABILITY IMAP4rev1 " + c.capabilities + "] ready")}, c.login),
            [&](TIdIMAP& imap) {
                imap.AccessTokens = &tokens;
                imap.Host = c.host;
            },
            OpenAndLogin, c.error);
        EXPECT_EQ(tokens.asked, c.asked);
        EXPECT_EQ(received.find("geheim"), std::string::npos);
        if (c.login.empty()) {
            EXPECT_EQ(received, "A001 LOGOUT\r\n");
        }
        if (c.name == "refused twice") {
            EXPECT_NE(received.find("A003 LOGOUT"), std::string::npos);
        }
    }
}

TEST(ImapMailboxes, FindsTheSentFolderOrTheConfiguredOne) {
    struct Case {
        std::string name;
        std::string capabilities;
        std::string configured;
        ImapScript list;
        std::string found;  // empty: the error
        ErrorCheck error = nullptr;
        std::string what = "";
    };
    const std::string special = R"(A002 LIST (SPECIAL-USE) "" "*")";
    const std::string all = R"(A002 LIST "" "*")";
    const std::vector<Case> cases = {
        {"SPECIAL-USE: a selectable one before a \\Noselect one", "SPECIAL-USE", "",
         {Expect(special), Send("* LIST (\\Noselect \\Sent) \"/\" \"Alt\"\n* LIST (\\HasNoChildren \\Sent) \"/\" "
                                "\"Gesendete Elemente\"\n* LIST (\\Sent) \"/\" Zweiter\nA002 OK")},
         "Gesendete Elemente"},
        {"without SPECIAL-USE the attribute of LIST, a name as atom", "", "",
         {Expect(all), Send("* LIST (\\HasNoChildren) \"/\" INBOX\n* LIST (\\sent) \"/\" Sent\nA002 OK")}, "Sent"},
        {"a name as literal in modified UTF-7", "SPECIAL-USE", "",
         {Expect(special), Send("* LIST (\\Sent) \".\" {18}\nObjets envoy&AOk-s\nA002 OK")}, "Objets envoyés"},
        {"only a \\Noselect one", "", "", {Expect(all), Send("* LIST (\\Noselect \\Sent) \"/\" Alt\nA002 OK")}, "Alt"},
        {"a server that refuses the selection option", "SPECIAL-USE", "",
         {Expect(special), Send("A002 BAD unknown"), Expect(R"(A003 LIST "" "*")"),
          Send("* LIST (\\Sent) \"/\" Sent\nA003 OK")},
         "Sent"},
        {"none marked", "SPECIAL-USE", "", {Expect(special), Send("A002 OK")}, "", IsA<EIdIMAPNoSentFolder>,
         "Der IMAP-Server nennt keinen Ordner für gesendete Mails. Bitte tragen Sie den Ordner in den Versandoptionen "
         "ein."},
        {"configured: all mailboxes, compared decoded", "SPECIAL-USE", "Entwürfe/Gesendet",
         {Expect(all), Send("* LIST () \"/\" Entw&APw-rfe\n* LIST () \"/\" \"Entw&APw-rfe/Gesendet\"\nA002 OK")},
         "Entwürfe/Gesendet"},
        {"configured INBOX in any case", "", "inbox", {Expect(all), Send("* LIST () \"/\" INBOX\nA002 OK")}, "INBOX"},
        {"configured, missing", "", "Gesendet", {Expect(all), Send("* LIST () \"/\" Gesendete\nA002 OK")}, "",
         IsA<EIdIMAPFolderMissing>, "Der Ordner „Gesendet“ ist auf dem IMAP-Server nicht vorhanden."},
        {"a LIST that does not follow the syntax", "", "", {Expect(all), Send("* LIST \"/\" Sent\nA002 OK")}, "",
         IsA<EIdIMAPBadReply>},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string found;
        Play(With(LoggedIn(c.capabilities), c.list), nullptr,
             [&](TIdIMAP& imap) {
                 imap.OpenSession(1000);
                 found = imap.FindSentFolder(c.configured);
             },
             c.error, c.what);
        EXPECT_EQ(found, c.found);
    }
}

TEST(ImapAppend, StoresTheMessageWithItsDateAndWaitsForTheGoAheadWhereNeeded) {
    const std::string message = "From: a@example.org\r\nSubject: Test\r\n\r\nHallo\r\n.\r\n";
    const std::time_t sentAt = 1796716540;
    std::tm local{};
    localtime_r(&sentAt, &local);
    const std::string start = "A002 APPEND \"Entw&APw-rfe\" (\\Seen) \"" +
                              FormatIMAPDateTime(sentAt, std::chrono::minutes(local.tm_gmtoff / 60)) + "\" {" +
                              std::to_string(message.size());
    struct Case {
        std::string name;
        std::string capabilities;
        ImapScript append;
        bool dataSent;
        ErrorCheck error = nullptr;
        std::string what = "";
    };
    const std::vector<Case> cases = {
        {"synchronising literal", "",
         {Expect(start + "}"), Quiet(300), Send("+ Ready"), Literal(message), Expect(""), Send("A002 OK [APPENDUID 1 2] ok")},
         true},
        {"LITERAL+", "LITERAL+", {Expect(start + "+}"), Literal(message), Expect(""), Send("A002 OK")}, true},
        {"LITERAL- for a small message", "LITERAL-", {Expect(start + "+}"), Literal(message), Expect(""), Send("A002 OK")},
         true},
        {"refused before the literal", "",
         {Expect(start + "}"), Send("A002 NO [TRYCREATE] Mailbox doesn't exist"), Expect("A003 NOOP"), Send("A003 OK")},
         false, IsA<EIdIMAPAppendRefused>, "Der IMAP-Server hat die Kopie nicht abgelegt: Mailbox doesn't exist"},
        {"refused after the literal", "LITERAL+",
         {Expect(start + "+}"), Literal(message), Expect(""), Send("A002 NO [OVERQUOTA] Quota exceeded"),
          Expect("A003 NOOP"), Send("A003 OK")},
         true, IsA<EIdIMAPAppendRefused>, "Der IMAP-Server hat die Kopie nicht abgelegt: Quota exceeded"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string received = Play(
            With(LoggedIn(c.capabilities), c.append), nullptr,
            [&](TIdIMAP& imap) {
                imap.OpenSession(1000);
                try {
                    imap.Append("Entwürfe", message, sentAt);
                } catch (const EIdIMAPAppendRefused&) {
                    EXPECT_EQ(imap.AppendDataSent(), c.dataSent);
                    // A refusal leaves the session usable.
                    imap.Noop();
                    throw;
                }
                EXPECT_EQ(imap.AppendDataSent(), c.dataSent);
            },
            c.error, c.what);
        EXPECT_EQ(received.find("Hallo") != std::string::npos, c.dataSent);
    }
}

TEST(ImapSessionErrors, MisbehavingServersEndTheSessionWithOneError) {
    std::string endless;
    for (size_t i = 0; i <= TIdIMAP::kMaxUntaggedResponses; ++i) endless += "* 1 EXISTS\r\n";
    struct Case {
        std::string name;
        ImapScript answer;
        ErrorCheck error;
        std::string what = "";
    };
    const std::vector<Case> cases = {
        {"BYE", {Send("* BYE shutting down")}, IsA<EIdIMAPServerClosed>,
         "Der IMAP-Server hat die Verbindung beendet: shutting down"},
        {"no answer", {Silent()}, IsA<EIdReadTimeout>},
        {"an overlong line", {Send("* OK " + std::string(kIMAPMaxLineLength, 'x'))}, IsA<EIdIMAPReplyTooLong>},
        {"endless untagged responses", {Send(endless)}, IsA<EIdIMAPReplyTooLong>},
        {"another tag", {Send("A009 OK")}, IsA<EIdIMAPBadReply>},
        {"a continuation that was not asked for", {Send("+ go")}, IsA<EIdIMAPBadReply>},
        {"the connection ends", {}, IsA<EIdConnClosedGracefully>},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::chrono::steady_clock::duration waited{};
        const std::string received = Play(
            With(With(LoggedIn(""), {Expect("A002 NOOP")}), c.answer),
            [](TIdIMAP& imap) { imap.ReplyTimeLimit = 400; },
            [&](TIdIMAP& imap) {
                OpenAndLogin(imap);
                const auto start = std::chrono::steady_clock::now();
                try {
                    imap.Noop();
                } catch (const std::exception&) {
                    waited = std::chrono::steady_clock::now() - start;
                    throw;
                }
            },
            c.error, c.what);
        // Nothing more is said on a connection that is out of step: no LOGOUT.
        EXPECT_TRUE(received.ends_with("A002 NOOP\r\n")) << received;
        EXPECT_LT(waited, std::chrono::milliseconds(c.name == "no answer" ? 1500 : 1000));
        if (c.name == "no answer") {
            EXPECT_GE(waited, std::chrono::milliseconds(380));
        }
    }
}
