#include "transport/encoders.h"
#include "transport/internet_date.h"
#include "transport/message_encoders.h"
#include "transport/smtp.h"
#include "transport/socket_errors.h"

#include "tests/support/scripted_smtp_server.h"
#include "tests/support/stalled_send.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

using namespace smtp_script;

namespace {

constexpr std::time_t kFixedDate = 1796716540;
constexpr const char* kFixedMsgId = "<fest@example.org>";

const Script kGreeting = {Reply("220 ready"), Expect("EHLO client.example"),
                          Reply("250-host\n250-AUTH LOGIN PLAIN\n250 HELP")};

// AUTH LOGIN with the given last reply, not looking at the user name and password.
Script LoginAnswered(const std::string& lastReply) {
    return {Expect("AUTH LOGIN"), Reply("334 x"), ExpectAny(), Reply("334 y"), ExpectAny(), Reply(lastReply)};
}
const Script kAnyLogin = LoginAnswered("235 ok");

Script With(Script script, const Script& more) {
    script.insert(script.end(), more.begin(), more.end());
    return script;
}

void Prepare(TIdSMTP& smtp, const ScriptedSmtpServer& server, TAuthenticationType auth = atLogin) {
    smtp.Host = server.Host();
    smtp.Port = server.Port();
    smtp.HeloName = "client.example";
    smtp.Username = "absender@example.org";
    smtp.Password = "geheim";
    smtp.SetAuthenticationType(auth);
}

void Fill(TIdMessage& message) {
    message.From.SetText("Anna Absender <absender@example.org>");
    message.Recipients.SetFromText("to@example.net");
    message.CCList.SetFromText("cc1@example.net, cc2@example.net");
    message.BccList.SetFromText("bcc@example.net");
    message.Subject = "Test";
    message.Body = {"Hallo", ".", "Gruss"};
    message.Date = kFixedDate;
    message.MsgId = kFixedMsgId;
}

// A client prepared for the server with a filled message, its session open.
struct OpenClient {
    OpenClient(const ScriptedSmtpServer& server, TAuthenticationType auth = atLogin) {
        Prepare(smtp, server, auth);
        Fill(message);
        smtp.OpenSession(1000);
    }
    TIdSMTP smtp;
    TIdMessage message;
};

const std::string kMessageText = "From: \"Anna Absender\" <absender@example.org>\r\nSubject: Test\r\n"
                                 "To: to@example.net\r\nCc: cc1@example.net, cc2@example.net\r\n"
                                 "Date: " + FormatInternetDate(kFixedDate) + "\r\nMessage-ID: <fest@example.org>\r\n"
                                 "X-Priority: 3\r\n"
                                 "X-Library: Quib 9.00.10\r\n\r\nHallo\r\n..\r\nGruss\r\n.\r\n";

const Script kEnvelope = {Expect("MAIL FROM:<absender@example.org>"), Reply("250 ok"), Expect("RCPT TO:<to@example.net>"),
                          Reply("250 ok"), Expect("RCPT TO:<cc1@example.net>"), Reply("250 ok"),
                          Expect("RCPT TO:<cc2@example.net>"), Reply("250 ok"), Expect("RCPT TO:<bcc@example.net>"),
                          Reply("251 forwarded"), Expect("DATA"), Reply("354 go"), ReadUntil("."),
                          Reply("250 queued")};

const std::string kEnvelopeText = "MAIL FROM:<absender@example.org>\r\nRCPT TO:<to@example.net>\r\n"
                                  "RCPT TO:<cc1@example.net>\r\nRCPT TO:<cc2@example.net>\r\n"
                                  "RCPT TO:<bcc@example.net>\r\nDATA\r\n" + kMessageText;

}  // namespace

TEST(SmtpSession, LogsInOncePerConnectionAndSendsTheWholeTransaction) {
    Script script = With(kGreeting, {Expect("RSET"), Reply("250 reset"), Expect("AUTH LOGIN"), Reply("334 VXNlcm5hbWU6"),
                                     Expect("YWJzZW5kZXJAZXhhbXBsZS5vcmc="), Reply("334 UGFzc3dvcmQ6"),
                                     Expect("Z2VoZWlt"), Reply("235 ok")});
    script = With(With(script, kEnvelope), {Expect("RSET"), Reply("250 reset")});
    script = With(With(script, kEnvelope), {Expect("QUIT")});
    ScriptedSmtpServer server(script);
    TIdSMTP smtp;
    Prepare(smtp, server);
    TIdMessage message;
    Fill(message);
    // The program leaves the mail agent empty: an X-Mailer line the message carries is removed.
    message.ExtraHeaders.SetHeaderValue("X-Mailer", "alt");
    smtp.OpenSession(1000);
    EXPECT_EQ(smtp.SupportedAuthSchemes(), (std::vector<std::string>{"LOGIN", "PLAIN"}));
    smtp.SendMail(message);
    EXPECT_TRUE(smtp.LoggedIn());
    smtp.SendMail(message);
    smtp.CloseSession();
    EXPECT_FALSE(smtp.LoggedIn());
    EXPECT_FALSE(smtp.IsConnected());
    EXPECT_TRUE(server.Finish());
    EXPECT_EQ(server.Received(), "EHLO client.example\r\nRSET\r\nAUTH LOGIN\r\nYWJzZW5kZXJAZXhhbXBsZS5vcmc=\r\n"
                                 "Z2VoZWlt\r\n" + kEnvelopeText + "RSET\r\n" + kEnvelopeText + "QUIT\r\n");
}

TEST(SmtpSession, LoginOnlyWhenAskedAndOffered) {
    struct Case {
        std::string name;
        std::string ehloReply;
        TAuthenticationType auth;
        bool login;
    };
    const std::vector<Case> cases = {
        {"old form AUTH=LOGIN", "250-host\n250-AUTH=LOGIN\n250 HELP", atLogin, true},
        {"lower case scheme", "250-host\n250 auth plain login", atLogin, true},
        {"no LOGIN offered", "250-host\n250-AUTH PLAIN CRAM-MD5\n250 HELP", atLogin, false},
        {"no login asked", "250-host\n250-AUTH LOGIN PLAIN\n250 HELP", atNone, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Script script = {Reply("220 ready"), Expect("EHLO client.example"), Reply(c.ehloReply), Expect("RSET"),
                         Reply("250 reset")};
        if (c.login) {
            script = With(script, kAnyLogin);
        }
        ScriptedSmtpServer server(With(With(script, kEnvelope), {Expect("QUIT")}));
        OpenClient client(server, c.auth);
        auto& [smtp, message] = client;
        smtp.SendMail(message);
        smtp.CloseSession();
        EXPECT_TRUE(server.Finish());
    }
}

TEST(SmtpSession, XOAuth2LogsInWithTheTokenAndRenewsARefusedOneOnce) {
    struct Tokens : TIdAccessTokenSource {
        std::string AccessToken(bool renew) override {
            asked.push_back(renew);
            return renew ? "frisch" : "alt";
        }
        std::vector<bool> asked;
    };
    auto auth = [](const std::string& token) {
        return "AUTH XOAUTH2 " + EncodeText<TIdEncoderMIME>("user=absender@example.org\x01" "auth=Bearer " + token +
                                                            "\x01\x01");
    };
    const std::string challenge = EncodeText<TIdEncoderMIME>(R"({"status":"401","schemes":"bearer"})");
    struct Case {
        std::string name;
        Script login;
        std::vector<bool> asked;
        bool sent;
    };
    const std::vector<Case> cases = {
        {"accepted", {Expect(auth("alt")), Reply("235 ok")}, {false}, true},
        {"challenged, then renewed",
         {Expect(auth("alt")), Reply("334 " + challenge), Expect(""), Reply("535 5.7.3 no"), Expect(auth("frisch")),
          Reply("235 ok")},
         {false, true},
         true},
        {"refused twice",
         {Expect(auth("alt")), Reply("535 5.7.3 Authentication unsuccessful"), Expect(auth("frisch")),
          Reply("334 " + challenge), Expect(""), Reply("535 5.7.3 no")},
         {false, true},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Script script = {Reply("220 ready"), Expect("EHLO client.example"), Reply("250-host\n250 AUTH LOGIN XOAUTH2"),
                         Expect("RSET"), Reply("250 reset")};
        script = With(script, c.login);
        if (c.sent) script = With(script, kEnvelope);
        ScriptedSmtpServer server(With(script, {Expect("QUIT")}));
        Tokens tokens;
        OpenClient client(server, atXOAuth2);
        client.smtp.AccessTokens = &tokens;
        if (c.sent) {
            client.smtp.SendMail(client.message);
        } else {
            try {
                client.smtp.SendMail(client.message);
                ADD_FAILURE() << "expected the token to be refused";
            } catch (const EIdSMTPTokenRefused& error) {
                EXPECT_NE(std::string(error.what()).find(R"(({"status":"401","schemes":"bearer"}))"), std::string::npos)
                    << error.what();
            }
        }
        client.smtp.CloseSession();
        EXPECT_TRUE(server.Finish());
        EXPECT_EQ(tokens.asked, c.asked);
        EXPECT_EQ(server.Received().find("geheim"), std::string::npos);
    }
}

TEST(SmtpSession, LoopbackAddressesAreThisMachine) {
    // Only there may the password go without TLS (the refusal itself is tested through postira-run).
    for (const char* local : {"127.0.0.1", "127.255.0.9", "::1", "::ffff:127.0.0.1"}) EXPECT_TRUE(IsLoopbackAddress(local));
    for (const char* other : {"", "10.0.0.1", "1127.0.0.1", "127.0.0.1.example.org", "::ffff:10.0.0.1"}) {
        EXPECT_FALSE(IsLoopbackAddress(other)) << other;
    }
}

TEST(SmtpSession, EhloRefusedFallsBackToHeloWithoutLoginAndResetRefusalIsIgnored) {
    ScriptedSmtpServer server(With({Reply("220 ready"), Expect("EHLO client.example"), Reply("502 unrecognized"),
                                    Expect("HELO client.example"), Reply("250 hello"), Expect("RSET"),
                                    Reply("500 command unrecognized")},
                                   With(kEnvelope, {Expect("QUIT")})));
    OpenClient client(server);
    auto& [smtp, message] = client;
    EXPECT_TRUE(smtp.SupportedAuthSchemes().empty());
    smtp.SendMail(message);
    smtp.CloseSession();
    EXPECT_TRUE(server.Finish());
    EXPECT_EQ(server.Received().find("AUTH"), std::string::npos);
}

TEST(SmtpSession, SettingsAreCoupled) {
    TIdSMTP smtp;
    EXPECT_EQ(smtp.Port, 25);
    smtp.SetUseEhlo(false);
    smtp.SetAuthenticationType(atLogin);
    EXPECT_TRUE(smtp.UseEhlo());
    smtp.SetUseEhlo(false);
    EXPECT_EQ(smtp.AuthenticationType(), atNone);
    smtp.SetUseEhlo(true);
    EXPECT_EQ(smtp.AuthenticationType(), atNone);
}

TEST(SmtpSessionErrors, RefusedRecipientStopsBeforeData) {
    ScriptedSmtpServer server(With(kGreeting, {Expect("RSET"), Reply("250 reset"), Expect("MAIL FROM:<>"),
                                               Reply("250 ok"), Expect("RCPT TO:<to@example.net>"),
                                               Reply("550 no such user"), Expect("QUIT")}));
    TIdSMTP smtp;
    Prepare(smtp, server, atNone);
    TIdMessage message;
    Fill(message);
    message.From = {};
    smtp.OpenSession(1000);
    try {
        smtp.SendMail(message);
        FAIL() << "no error raised";
    } catch (const EIdProtocolReplyError& error) {
        EXPECT_EQ(error.ReplyErrorCode(), 550);
        EXPECT_STREQ(error.what(), "no such user\r\n");
    }
    EXPECT_TRUE(smtp.IsConnected());
    smtp.CloseSession();
    EXPECT_TRUE(server.Finish());
    EXPECT_EQ(server.Received(), "EHLO client.example\r\nRSET\r\nMAIL FROM:<>\r\nRCPT TO:<to@example.net>\r\nQUIT\r\n");
}

TEST(SmtpSessionErrors, RefusedGreetingAndRefusedLoginClose) {
    {
        ScriptedSmtpServer server({Reply("554 go away"), Expect("QUIT")});
        TIdSMTP smtp;
        Prepare(smtp, server);
        EXPECT_THROW(smtp.OpenSession(1000), EIdProtocolReplyError);
        EXPECT_FALSE(smtp.IsConnected());
        EXPECT_TRUE(server.Finish());
        EXPECT_EQ(server.Received(), "QUIT\r\n");
    }
    {
        ScriptedSmtpServer server(With(With(kGreeting, {Expect("RSET"), Reply("250 reset")}),
                                       With(LoginAnswered("535 wrong password"), {Expect("QUIT")})));
        OpenClient client(server);
        auto& [smtp, message] = client;
        EXPECT_THROW(smtp.SendMail(message), EIdProtocolReplyError);
        EXPECT_FALSE(smtp.LoggedIn());
        smtp.CloseSession();
        EXPECT_TRUE(server.Finish());
    }
}

TEST(SmtpSessionErrors, MisbehavingServersEndTheSendWithOneError) {
    constexpr int kConnectionError = -1;
    struct Case {
        std::string name;
        Script script;
        int code;  // the reply code of the protocol error, or kConnectionError
        bool noRecipients = false;
    };
    const Script upToData = {Expect("RSET"), Reply("250 ok"), Expect("MAIL FROM:<absender@example.org>"),
                             Reply("250 ok"), ExpectAny(), Reply("250 ok"), ExpectAny(), Reply("250 ok"), ExpectAny(),
                             Reply("250 ok"), ExpectAny(), Reply("250 ok"), Expect("DATA")};
    const std::vector<Case> cases = {
        {"closes after MAIL FROM",
         With(kGreeting, {Expect("RSET"), Reply("250 reset"), Expect("MAIL FROM:<absender@example.org>"), Close()}),
         kConnectionError},
        {"closes after DATA", With(kGreeting, With(upToData, {Reply("354 go"), Close()})), kConnectionError},
        {"closes after the final dot", With(kGreeting, With(upToData, {Reply("354 go"), ReadUntil("."), Close()})),
         kConnectionError},
        {"garbage without line end", With(kGreeting, {Expect("RSET"), Send("garbage without line end"), Close()}),
         kConnectionError},
        {"wrong code for DATA", With(kGreeting, With(upToData, {Reply("250 sure")})), 250},
        {"garbage as a reply", With(kGreeting, {Expect("RSET"), Reply("250 ok"), ExpectAny(), Reply("hello there")}), 0},
        {"no recipients at all",
         With(kGreeting, {Expect("RSET"), Reply("250 ok"), ExpectAny(), Reply("250 ok"), Expect("DATA"),
                          Reply("503 need RCPT")}),
         503, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedSmtpServer server(c.script);
        OpenClient client(server, atNone);
        auto& [smtp, message] = client;
        if (c.noRecipients) {
            message.Recipients.Clear();
            message.CCList.Clear();
            message.BccList.Clear();
        }
        try {
            smtp.SendMail(message);
            ADD_FAILURE() << "no error raised";
        } catch (const EIdProtocolReplyError& error) {
            EXPECT_EQ(error.ReplyErrorCode(), c.code);
        } catch (const EIdException& error) {
            EXPECT_EQ(c.code, kConnectionError) << error.what();
        }
        smtp.CloseSession();
        EXPECT_TRUE(server.Finish());
    }
}

TEST(SmtpSessionErrors, ANewConnectionLogsInAgainAfterTheServerClosedTheOldOne) {
    const Script loggedIn = With(kGreeting, With({Expect("RSET"), Reply("250 reset")}, kAnyLogin));
    ScriptedSmtpServer server(
        With(loggedIn, {Expect("MAIL FROM:<absender@example.org>"), Reply("421 shutting down"), Close()}));
    server.AddConnection(
        With(loggedIn, {Expect("MAIL FROM:<absender@example.org>"), Reply("550 stop here"), Expect("QUIT")}));
    OpenClient client(server);
    auto& [smtp, message] = client;
    EXPECT_THROW(smtp.SendMail(message), EIdProtocolReplyError);
    // The server's close is noticed by a read; the caller then finds the session closed and opens anew.
    EXPECT_THROW(smtp.ReadLine(), EIdConnClosedGracefully);
    EXPECT_FALSE(smtp.IsConnected());
    smtp.OpenSession(1000);
    EXPECT_FALSE(smtp.LoggedIn());
    EXPECT_THROW(smtp.SendMail(message), EIdProtocolReplyError);
    smtp.CloseSession();
    EXPECT_TRUE(server.Finish());
}

TEST(SmtpSessionErrors, LineBreaksInAddressesNeverReachTheServer) {
    ScriptedSmtpServer server(With(kGreeting, {Expect("RSET"), Reply("250 reset"), Expect("QUIT")}));
    TIdSMTP smtp;
    Prepare(smtp, server, atNone);
    TIdMessage message;
    Fill(message);
    message.From.Address = "a@example.org>\r\nRCPT TO:<victim@example.com";
    smtp.OpenSession(1000);
    EXPECT_THROW(smtp.SendMail(message), EIdLineBreakInLine);
    EXPECT_THROW(smtp.SendCommand("NOOP\nRSET", -1), EIdLineBreakInLine);
    smtp.CloseSession();
    EXPECT_TRUE(server.Finish());
    EXPECT_EQ(server.Received(), "EHLO client.example\r\nRSET\r\nQUIT\r\n");
}

TEST(SmtpSessionErrors, RepliesAreAwaitedWithinTheirLimits) {
    using Clock = std::chrono::steady_clock;
    // A server that answers nothing after the data, and one that trickles a reply that never ends.
    const std::vector<Script> cases = {
        With(kGreeting, With({Expect("RSET"), Reply("250 reset")},
                             {Expect("MAIL FROM:<absender@example.org>"), Reply("250 ok"), ExpectAny(), Reply("250 ok"),
                              ExpectAny(), Reply("250 ok"), ExpectAny(), Reply("250 ok"), ExpectAny(), Reply("250 ok"),
                              Expect("DATA"), Reply("354 go"), ReadUntil("."), Silent()})),
        With(kGreeting, {Expect("RSET"), Send("250-a\r\n"), Wait(1000), Send("250-b\r\n"), Silent()}),
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        ScriptedSmtpServer server(cases[i]);
        TIdSMTP smtp;
        Prepare(smtp, server, atNone);
        smtp.ReplyTimeLimit = 1500;
        smtp.DataEndTimeLimit = 1500;
        TIdMessage message;
        Fill(message);
        smtp.OpenSession(1000);
        const auto start = Clock::now();
        EXPECT_THROW(smtp.SendMail(message), EIdReadTimeout);
        const auto waited = Clock::now() - start;
        EXPECT_GE(waited, std::chrono::milliseconds(1450));
        // The whole reply counts: a limit per read would end only 1500 ms after the second line.
        EXPECT_LT(waited, std::chrono::milliseconds(2400));
        smtp.CloseSession();
        EXPECT_TRUE(server.Finish());
    }
}

TEST(SmtpSessionErrors, VanishedAttachmentEndsTheMessageUnterminated) {
    TempDir dir;
    dir.Write("weg.bin", "x");
    ScriptedSmtpServer server(With(kGreeting, {Expect("RSET"), Reply("250 reset"), ExpectAny(), Reply("250 ok"),
                                               ExpectAny(), Reply("250 ok"), Expect("DATA"), Reply("354 go"),
                                               Silent()}));
    TIdSMTP smtp;
    Prepare(smtp, server, atNone);
    TIdMessage message;
    message.From.SetText("a@example.org");
    message.Recipients.SetFromText("b@example.org");
    message.PartList.Add<TIdAttachment>(dir.File("weg.bin"));
    std::remove(dir.File("weg.bin").c_str());
    smtp.OpenSession(1000);
    EXPECT_THROW(smtp.SendMail(message), EIdFileOpenError);
    smtp.CloseSession();
    EXPECT_TRUE(server.Finish());
    const std::string received = server.Received();
    EXPECT_TRUE(received.ends_with("filename=\"weg.bin\"\r\n\r\nQUIT\r\n")) << received;
}

TEST(SmtpSessionErrors, ServerThatStopsReadingEndsTheSendWithAnError) {
    ScriptedSmtpServer server(With(kGreeting, {Expect("RSET"), Reply("250 reset"), ExpectAny(), Reply("250 ok"),
                                               ExpectAny(), Reply("250 ok"), Expect("DATA"), Reply("354 go"),
                                               Wait(3000), Silent()}));
    TIdSMTP smtp;
    Prepare(smtp, server, atNone);
    ExpectSendToStalledServerFails(smtp);
    EXPECT_TRUE(server.Finish());
}

TEST(SmtpSession, StreamOverTheConnectionAndClosingAClosedSession) {
    ScriptedSmtpServer server({Send("0123456789"), Expect("abc")});
    TIdSMTP smtp;
    std::vector<TIdStatus> stages;
    smtp.OnStatus = [&](TIdStatus status, const std::string&) { stages.push_back(status); };
    smtp.CloseSession();  // never connected: no QUIT, no error, the close is still told
    EXPECT_EQ(stages, (std::vector<TIdStatus>{hsDisconnecting, hsDisconnected}));
    smtp.Host = server.Host();
    smtp.Port = server.Port();
    smtp.OpenConnection(1000);
    TIdTCPStream stream(smtp);
    std::iostream io(&stream);
    char bytes[7] = {};
    io.read(bytes, 6);
    EXPECT_EQ(std::string(bytes, 6), "012345");
    EXPECT_EQ(io.tellg(), std::streampos(-1));
    io << "abc\r\n" << std::flush;
    smtp.CloseConnection();
    EXPECT_TRUE(server.Finish());
    EXPECT_EQ(server.Received(), "abc\r\n");
}
