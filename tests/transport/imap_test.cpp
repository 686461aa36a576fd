#include "transport/encoders.h"
#include "transport/imap.h"
#include "transport/socket_errors.h"

#include "tests/support/scripted_imap_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

using namespace imap_script;

namespace {

using Action = std::function<void(TIdIMAP&)>;
using ErrorCheck = bool (*)(const std::exception&);
template <class E>
bool IsA(const std::exception& error) {
    return dynamic_cast<const E*>(&error) != nullptr;
}

// What the client does with the scripted server, the error it must raise (none: null) with its text, and
// the whole transcript the server must receive (when given).
struct Case {
    std::string name;
    ImapScript script;
    Action act;
    ErrorCheck error = nullptr;
    std::string what = "";
    std::string received = "";
};

void Play(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedImapServer server(c.script);
        TIdIMAP imap;
        imap.Host = "localhost";
        imap.Port = server.Port();
        imap.CAFile = GetTestCertificates().caFile;
        imap.Username = "anna";
        imap.Password = "geheim";
        imap.ReplyTimeLimit = 10000;
        try {
            c.act(imap);
            EXPECT_EQ(c.error, nullptr) << "no error raised";
        } catch (const std::exception& raised) {
            EXPECT_TRUE(c.error != nullptr && c.error(raised)) << raised.what();
            EXPECT_TRUE(c.what.empty() || c.what == raised.what()) << raised.what();
        }
        imap.CloseSession();
        EXPECT_FALSE(imap.IsConnected());
        EXPECT_TRUE(server.Finish());
        EXPECT_TRUE(c.received.empty() || c.received == server.Received()) << server.Received();
    }
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

Action Login(const Action& setup = {}) {
    return [setup](TIdIMAP& imap) {
        if (setup) setup(imap);
        imap.OpenSession(1000);
        imap.Login();
        EXPECT_TRUE(imap.LoggedIn());
    };
}

void NotLocal(TIdIMAP& imap) {
    imap.PeerIsLocal = [](const std::string&) { return false; };
}
void Implicit(TIdIMAP& imap) { imap.ImplicitTLS = true; }

}  // namespace

TEST(ImapDateTime, FormatsTheInstantInTheZoneOfTheOffset) {
    EXPECT_EQ(FormatIMAPDateTime(1796716540, std::chrono::minutes(60)), "08-Dec-2026 08:55:40 +0100");
    EXPECT_EQ(FormatIMAPDateTime(1796716540, std::chrono::minutes(-210)), "08-Dec-2026 04:25:40 -0330");
    EXPECT_EQ(FormatIMAPDateTime(253402300800, std::chrono::minutes(0)), "");  // the year 10000
    EXPECT_EQ(FormatIMAPDateTime(std::numeric_limits<std::time_t>::max(), std::chrono::minutes(60)), "");
}

TEST(ImapSession, EncryptsWhereOfferedAndLogsInOnlyWhereAllowed) {
    const ImapScript plain = {Send("* OK ready"), Expect("A001 CAPABILITY")};
    const ImapScript upgrade = With(plain, {Send("* CAPABILITY IMAP4rev1 STARTTLS LOGINDISABLED\nA001 OK"),
                                            Expect("A002 STARTTLS")});
    Play({
        {"STARTTLS, then LOGIN inside TLS: the plain LOGINDISABLED is forgotten",
         With(upgrade, {Send("A002 OK begin"), StartTLS(), Expect("A003 CAPABILITY"),
                        Send("* CAPABILITY IMAP4rev1 AUTH=PLAIN\nA003 OK"), Expect("A004 LOGIN \"anna\" \"geheim\""),
                        Send("A004 OK [CAPABILITY IMAP4rev1 SPECIAL-USE] hi")}),
         [](TIdIMAP& imap) {
             Login(NotLocal)(imap);
             EXPECT_TRUE(imap.Encrypted());
             EXPECT_EQ(imap.Capabilities(), (std::vector<std::string>{"IMAP4REV1", "SPECIAL-USE"}));
         },
         nullptr, "",
         "A001 CAPABILITY\r\nA002 STARTTLS\r\nA003 CAPABILITY\r\nA004 LOGIN \"anna\" \"geheim\"\r\nA005 LOGOUT\r\n"},
        {"implicit TLS, LOGINDISABLED: AUTHENTICATE PLAIN with SASL-IR, capabilities asked after it",
         {StartTLS(), Send("* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=PLAIN LOGINDISABLED] ready"),
          Expect("A001 AUTHENTICATE PLAIN AGFubmEAZ2VoZWlt"), Send("A001 OK"), Expect("A002 CAPABILITY"),
          Send("* CAPABILITY IMAP4rev1\nA002 OK")},
         Login(Implicit)},
        {"PREAUTH through TLS is logged in", {StartTLS(), Send("* PREAUTH welcome"), Expect("A001 CAPABILITY"),
                                              Send("A001 OK")}, Login(Implicit), nullptr, "", "A001 CAPABILITY\r\nA002 LOGOUT\r\n"},
        {"no STARTTLS from a server elsewhere: nothing of the login",
         With(plain, {Send("* CAPABILITY IMAP4rev1 AUTH=PLAIN\nA001 OK")}), Login(NotLocal),
         IsA<EIdIMAPPlainLoginRefused>, "", "A001 CAPABILITY\r\nA002 LOGOUT\r\n"},
        {"PREAUTH without TLS from a server elsewhere",
         {Send("* PREAUTH hi"), Expect("A001 CAPABILITY"), Send("* CAPABILITY IMAP4rev1 STARTTLS\nA001 OK")},
         Login(NotLocal), IsA<EIdIMAPUnprotectedServer>, "", "A001 CAPABILITY\r\nA002 LOGOUT\r\n"},
        {"LOGINDISABLED without AUTH=PLAIN", With(plain, {Send("* CAPABILITY IMAP4rev1 LOGINDISABLED\nA001 OK")}),
         Login(), IsA<EIdIMAPLoginUnavailable>, "", "A001 CAPABILITY\r\nA002 LOGOUT\r\n"},
        {"a quote in the user name; a password that needs a literal waits for the go-ahead",
         {Send("* OK [CAPABILITY IMAP4rev1] ready"), Expect("A001 LOGIN \"an\\\"na\" {9}"), Quiet(300), Send("+ go"),
          Literal("gé\r\nheim"), Expect(""), Send("A001 OK [CAPABILITY IMAP4rev1] hi")},
         Login([](TIdIMAP& imap) {
             imap.Username = "an\"na";
             imap.Password = "gé\r\nheim";
         })},
        {"login refused",
         {Send("* OK [CAPABILITY IMAP4rev1] ready"), Expect("A001 LOGIN \"anna\" \"geheim\""),
          Send("A001 NO [AUTHENTICATIONFAILED] Authentication\x01 failed.")},
         Login(), IsA<EIdIMAPLoginRefused>, "Der IMAP-Server hat die Anmeldung abgelehnt: Authentication? failed."},
        {"BYE greeting", {Send("* BYE zu viele Verbindungen")}, Login(), IsA<EIdIMAPServerClosed>,
         "Der IMAP-Server hat die Verbindung beendet: zu viele Verbindungen", ""},
        {"plain text injected behind the OK to STARTTLS",
         With(upgrade, {Send("A002 OK begin\n* CAPABILITY IMAP4rev1 AUTH=PLAIN\nA003 OK")}), Login(),
         IsA<EIdIMAPInjectedInput>, "", "A001 CAPABILITY\r\nA002 STARTTLS\r\n"},
    });
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
    auto withTokens = [](std::vector<bool> asked, std::string host = "localhost") -> Action {
        auto tokens = std::make_shared<Tokens>();
        return [=](TIdIMAP& imap) {
            imap.AccessTokens = tokens.get();
            imap.Host = host;
            try {
                Login()(imap);
            } catch (const std::exception&) {
                EXPECT_EQ(tokens->asked, asked);
                throw;
            }
            EXPECT_EQ(tokens->asked, asked);
        };
    };
    auto auth = [](const std::string& token) {
        return "AUTHENTICATE XOAUTH2 " +
               EncodeText<TIdEncoderMIME>("user=anna\x01" "auth=Bearer " + token + "\x01\x01");
    };
    const std::string challenge = "+ " + EncodeText<TIdEncoderMIME>(R"({"status":"401","schemes":"bearer"})");
    auto greeting = [](const std::string& capabilities) { return Send("* OK [CAPABILITY " + capabilities + "] hi"); };
    const std::string ok = " OK [CAPABILITY IMAP4rev1] ok";
    Play({
        {"SASL-IR", {greeting("SASL-IR AUTH=XOAUTH2"), Expect("A001 " + auth("alt")), Send("A001" + ok)},
         withTokens({false})},
        {"after the continuation",
         {greeting("AUTH=XOAUTH2"), Expect("A001 AUTHENTICATE XOAUTH2"), Send("+ "),
          Expect(auth("alt").substr(21)), Send("A001" + ok)},
         withTokens({false})},
        {"challenged, then renewed",
         {greeting("SASL-IR AUTH=XOAUTH2"), Expect("A001 " + auth("alt")), Send(challenge), Expect(""),
          Send("A001 NO no"), Expect("A002 " + auth("frisch")), Send("A002" + ok)},
         withTokens({false, true})},
        {"refused twice",
         {greeting("SASL-IR AUTH=XOAUTH2"), Expect("A001 " + auth("alt")), Send("A001 NO [AUTHENTICATIONFAILED] no"),
          Expect("A002 " + auth("frisch")), Send(challenge), Expect(""), Send("A002 NO no")},
         withTokens({false, true}), IsA<EIdIMAPTokenRefused>,
         R"(Der IMAP-Server hat die Anmeldung mit OAuth2 abgelehnt ({"status":"401","schemes":"bearer"}). )"
         "Bitte in den Versandoptionen neu anmelden."},
        {"no XOAUTH2 offered", {greeting("SASL-IR AUTH=PLAIN")}, withTokens({}), IsA<EIdIMAPLoginUnavailable>, "",
         "A001 LOGOUT\r\n"},
        {"a token that is not for this server", {greeting("AUTH=XOAUTH2")}, withTokens({}, "127.0.0.1"),
         IsA<EIdException>, "nicht für 127.0.0.1", "A001 LOGOUT\r\n"},
    });
}

TEST(ImapMailboxes, FindsTheSentFolderOrTheConfiguredOne) {
    auto finds = [](std::string configured, std::string expected) -> Action {
        return [=](TIdIMAP& imap) {
            imap.OpenSession(1000);
            EXPECT_EQ(imap.FindSentFolder(configured), expected);
        };
    };
    const auto special = Expect(R"(A002 LIST (SPECIAL-USE) "" "*")");
    const auto all = Expect(R"(A002 LIST "" "*")");
    Play({
        {"SPECIAL-USE: a selectable one before a \\Noselect one",
         With(LoggedIn("SPECIAL-USE"), {special, Send("* LIST (\\Noselect \\Sent) \"/\" \"Alt\"\n* LIST (\\HasNoChildren "
                                                      "\\Sent) \"/\" \"Gesendete Elemente\"\n* LIST (\\Sent) \"/\" Zwei\nA002 OK")}),
         finds("", "Gesendete Elemente")},
        {"without SPECIAL-USE the attribute of LIST, a name as atom",
         With(LoggedIn(""), {all, Send("* LIST (\\HasNoChildren) \"/\" INBOX\n* LIST (\\sent) \"/\" Sent\nA002 OK")}),
         finds("", "Sent")},
        {"a name as literal in modified UTF-7",
         With(LoggedIn("SPECIAL-USE"), {special, Send("* LIST (\\Sent) \".\" {18}\nObjets envoy&AOk-s\nA002 OK")}),
         finds("", "Objets envoyés")},
        {"only a \\Noselect one", With(LoggedIn(""), {all, Send("* LIST (\\Noselect \\Sent) \"/\" Alt\nA002 OK")}),
         finds("", "Alt")},
        {"a server that refuses the selection option",
         With(LoggedIn("SPECIAL-USE"), {special, Send("A002 BAD unknown"), Expect(R"(A003 LIST "" "*")"),
                                        Send("* LIST (\\Sent) \"/\" Sent\nA003 OK")}),
         finds("", "Sent")},
        {"none marked", With(LoggedIn("SPECIAL-USE"), {special, Send("A002 OK")}), finds("", ""),
         IsA<EIdIMAPNoSentFolder>,
         "Der IMAP-Server nennt keinen Ordner für gesendete Mails. Bitte tragen Sie den Ordner in den Versandoptionen ein."},
        {"configured: all mailboxes, compared decoded",
         With(LoggedIn("SPECIAL-USE"), {all, Send("* LIST () \"/\" Entw&APw-rfe\n* LIST () \"/\" \"Entw&APw-rfe/Gesendet\"\nA002 OK")}),
         finds("Entwürfe/Gesendet", "Entwürfe/Gesendet")},
        {"configured INBOX in any case", With(LoggedIn(""), {all, Send("* LIST () \"/\" INBOX\nA002 OK")}),
         finds("inbox", "INBOX")},
        {"configured, missing", With(LoggedIn(""), {all, Send("* LIST () \"/\" Gesendete\nA002 OK")}),
         finds("Gesendet", ""), IsA<EIdIMAPFolderMissing>, "Der Ordner „Gesendet“ ist auf dem IMAP-Server nicht vorhanden."},
    });
}

TEST(ImapAppend, StoresTheMessageWithItsDateAndWaitsForTheGoAheadWhereNeeded) {
    const std::string message = "From: a@example.org\r\nSubject: Test\r\n\r\nHallo\r\n.\r\n";
    const std::time_t sentAt = 1796716540;
    std::tm local{};
    localtime_r(&sentAt, &local);
    const std::string start = "A002 APPEND \"Entw&APw-rfe\" (\\Seen) \"" +
                              FormatIMAPDateTime(sentAt, std::chrono::minutes(local.tm_gmtoff / 60)) + "\" {" +
                              std::to_string(message.size());
    // Appends; after a refusal the session goes on with a NOOP.
    auto appends = [&](bool dataSent) -> Action {
        return [=](TIdIMAP& imap) {
            imap.OpenSession(1000);
            try {
                imap.Append("Entwürfe", message, sentAt);
            } catch (const EIdIMAPAppendRefused&) {
                EXPECT_EQ(imap.AppendDataSent(), dataSent);
                imap.Noop();
                throw;
            }
            EXPECT_EQ(imap.AppendDataSent(), dataSent);
        };
    };
    const ImapScript literal = {Literal(message), Expect("")};
    Play({
        {"synchronising literal",
         With(LoggedIn(""), With({Expect(start + "}"), Quiet(300), Send("+ Ready")}, With(literal, {Send("A002 OK")}))),
         appends(true)},
        {"LITERAL+", With(LoggedIn("LITERAL+"), With({Expect(start + "+}")}, With(literal, {Send("A002 OK")}))),
         appends(true)},
        {"LITERAL- for a small message",
         With(LoggedIn("LITERAL-"), With({Expect(start + "+}")}, With(literal, {Send("A002 OK")}))), appends(true)},
        {"refused before the literal",
         With(LoggedIn(""), {Expect(start + "}"), Send("A002 NO [TRYCREATE] Mailbox doesn't exist"), Expect("A003 NOOP"),
                             Send("A003 OK")}),
         appends(false), IsA<EIdIMAPAppendRefused>, "Der IMAP-Server hat die Kopie nicht abgelegt: Mailbox doesn't exist",
         "A001 LOGIN \"anna\" \"geheim\"\r\n" + start + "}\r\nA003 NOOP\r\nA004 LOGOUT\r\n"},
        {"refused after the literal",
         With(LoggedIn("LITERAL+"), With({Expect(start + "+}")}, With(literal, {Send("A002 NO [OVERQUOTA] Quota exceeded"),
                                                                               Expect("A003 NOOP"), Send("A003 OK")}))),
         appends(true), IsA<EIdIMAPAppendRefused>, "Der IMAP-Server hat die Kopie nicht abgelegt: Quota exceeded"},
    });
}

TEST(ImapSessionErrors, MisbehavingServersEndTheSessionWithOneError) {
    std::string endless;
    for (size_t i = 0; i <= TIdIMAP::kMaxUntaggedResponses; ++i) endless += "* 1 EXISTS\r\n";
    // A NOOP that fails; nothing more is said on a connection that is out of step.
    std::chrono::steady_clock::duration waited{};
    Action noop = [&waited](TIdIMAP& imap) {
        imap.ReplyTimeLimit = 400;
        Login()(imap);
        const auto start = std::chrono::steady_clock::now();
        try {
            imap.Noop();
        } catch (const std::exception&) {
            waited = std::chrono::steady_clock::now() - start;
            throw;
        }
    };
    const ImapScript noopSent = With(LoggedIn(""), {Expect("A002 NOOP")});
    const std::string transcript = "A001 LOGIN \"anna\" \"geheim\"\r\nA002 NOOP\r\n";
    Play({
        {"BYE", With(noopSent, {Send("* BYE shutting down")}), noop, IsA<EIdIMAPServerClosed>,
         "Der IMAP-Server hat die Verbindung beendet: shutting down", transcript},
        {"an overlong line", With(noopSent, {Send("* OK " + std::string(kIMAPMaxLineLength, 'x'))}), noop,
         IsA<EIdIMAPReplyTooLong>, "", transcript},
        {"endless untagged responses", With(noopSent, {Send(endless)}), noop, IsA<EIdIMAPReplyTooLong>, "", transcript},
        {"another tag", With(noopSent, {Send("A009 OK")}), noop, IsA<EIdIMAPBadReply>, "", transcript},
        {"the connection ends", noopSent, noop, IsA<EIdConnClosedGracefully>, "", transcript},
    });
    Play({{"no answer within the time", With(noopSent, {Silent()}), noop, IsA<EIdReadTimeout>}});
    EXPECT_GE(waited, std::chrono::milliseconds(380));
    EXPECT_LT(waited, std::chrono::milliseconds(1500));
}
