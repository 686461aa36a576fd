#include "mailing/server_text.h"
#include "mailing/smtp_transport.h"
#include "transport/email_address.h"

#include "tests/support/scripted_smtp_server.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

using namespace smtp_script;

namespace {

OutgoingMail MailTo(const ScriptedSmtpServer& server, const std::string& recipients) {
    OutgoingMail mail;
    mail.host = server.Host();
    mail.port = server.Port();
    mail.username = "absender@example.org";
    mail.password = "geheim";
    mail.from = mail.username;
    mail.recipients = recipients;
    mail.subject = "Betreff";
    mail.bodyLines = {"Hallo", ".", "Ende"};
    return mail;
}

Script Session(const Script& transaction) {
    Script script = {Reply("220 ready"), ExpectAny(), Reply("250-host\n250 AUTH LOGIN"), Expect("RSET"), Reply("250 ok"),
                     Expect("AUTH LOGIN"), Reply("334 x"), ExpectAny(), Reply("334 y"), ExpectAny(), Reply("235 ok")};
    script.insert(script.end(), transaction.begin(), transaction.end());
    return script;
}

const Script kAccepted = {Expect("MAIL FROM:<absender@example.org>"), Reply("250 ok"), ExpectAny(), Reply("250 ok"),
                          Expect("DATA"), Reply("354 go"), ReadUntil("."), Reply("250 queued")};

}  // namespace

TEST(SmtpTransport, FailedSendClosesAndTheNextConnectsAnewWithOnlyItsOwnAttachment) {
    TempDir dir;
    dir.Write("anlage.txt", "Inhalt");
    ScriptedSmtpServer server(Session({Expect("MAIL FROM:<absender@example.org>"), Reply("250 ok"),
                                       Expect("RCPT TO:<niemand@example.net>"), Reply("550 unknown"), Expect("QUIT")}));
    Script second = Session(kAccepted);
    second.push_back(Expect("RSET"));
    second.push_back(Reply("250 ok"));
    second.insert(second.end(), kAccepted.begin(), kAccepted.end());
    second.push_back(Expect("QUIT"));
    server.AddConnection(second);

    std::unique_ptr<MailTransport> transport = CreateSmtpTransport();
    OutgoingMail first = MailTo(server, "niemand@example.net");
    first.attachmentPath = dir.File("anlage.txt");
    EXPECT_FALSE(transport->Transmit(first));
    EXPECT_FALSE(transport->IsConnected());
    EXPECT_TRUE(transport->Transmit(MailTo(server, "jemand@example.net")));
    EXPECT_TRUE(transport->IsConnected());
    EXPECT_TRUE(transport->Transmit(MailTo(server, "jemand@example.net")));  // same connection, no second login
    transport->CloseSession();
    EXPECT_TRUE(server.Finish());
    const std::string received = server.Received(1);
    EXPECT_EQ(received.find("anlage.txt"), std::string::npos) << "the failed mail's attachment came along";
    EXPECT_NE(received.find("\r\nHallo\r\n..\r\nEnde\r\n.\r\n"), std::string::npos);
}

TEST(SmtpTransport, UnparsableAddressRaisesBeforeAnythingIsSent) {
    ScriptedSmtpServer server({});
    std::unique_ptr<MailTransport> transport = CreateSmtpTransport();
    EXPECT_THROW(transport->Transmit(MailTo(server, "<a@b.example>@c.example")), EIdEmailParseError);
    EXPECT_EQ(server.Connections(), 0u);
}

TEST(DryRunTransport, WritesEachMailAsTheRecipientGetsIt) {
    TempDir dir;
    ScriptedSmtpServer unused({});
    std::unique_ptr<MailTransport> transport = CreateDryRunTransport(dir.File("out"));
    OutgoingMail mail = MailTo(unused, "jemand@example.net");
    mail.mailNumber = 7;
    EXPECT_TRUE(transport->Transmit(mail));
    EXPECT_FALSE(transport->IsConnected());
    const std::string text = dir.Read("out/0007.eml");
    EXPECT_TRUE(text.starts_with("From: absender@example.org\r\nSubject: Betreff\r\nTo: jemand@example.net\r\n")) << text;
    EXPECT_TRUE(text.ends_with("\r\n\r\nHallo\r\n.\r\nEnde\r\n")) << text;
    EXPECT_EQ(unused.Connections(), 0u);
    EXPECT_EQ(DryRunFileName(12345), "12345.eml");
}

TEST(SmtpTransport, AHostileReplyIsShownAsAFewHundredPlainCharacters) {
    // Nearly 1 MiB of reply, the most the connection takes: terminal escapes, NUL bytes and umlauts.
    std::string line("550-\x1b[2J\x1b]0;pwned\x07 Gr\xC3\xBC\xC3\x9F" "e\0", 28);
    line += std::string(1000, 'x');
    std::string reply;
    for (int i = 0; i < 900; ++i) reply += line + "\n";
    reply += "550 Ende";
    ScriptedSmtpServer server(Session({Expect("MAIL FROM:<absender@example.org>"), Reply(reply), Expect("QUIT")}));
    std::unique_ptr<MailTransport> transport = CreateSmtpTransport();
    EXPECT_FALSE(transport->Transmit(MailTo(server, "jemand@example.net")));
    const std::string shown = transport->LastErrorText();
    EXPECT_LE(shown.size(), kShownServerTextLimit + 4);
    for (const char c : shown) EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 || c == 0x7F) << shown;
    EXPECT_NE(shown.find("[2J]0;pwned Grüße"), std::string::npos) << shown;
    // A cut never splits a character.
    EXPECT_EQ(ShownServerText(std::string(299, 'x') + "\xC3\xBC" "y"), std::string(299, 'x') + " …");
    EXPECT_EQ(ShownServerText(" 550 a\r\n550\tb \n"), "550 a 550 b");
}

TEST(SmtpTransport, AReplyToTheEndOfTheMailBeyondTheLimitsLeavesItInDoubt) {
    std::string manyLines;
    for (int i = 0; i < 1200; ++i) manyLines += "250-ok\n";
    const struct {
        const char* what;
        ScriptStep afterDot;  // what the server does once it has the mail's "."
        SendFailure expected;
    } cases[] = {
        {"one line of 100 000 bytes", Reply("250 " + std::string(100000, 'x')), SendFailure::InDoubt},
        {"more lines than a reply may have", Reply(manyLines + "250 ok"), SendFailure::InDoubt},
        {"the connection closed", Close(), SendFailure::InDoubt},
        {"a refusal", Reply("554 rejected"), SendFailure::Permanent},
    };
    for (const auto& c : cases) {
        ScriptedSmtpServer server(Session({Expect("MAIL FROM:<absender@example.org>"), Reply("250 ok"), ExpectAny(),
                                           Reply("250 ok"), Expect("DATA"), Reply("354 go"), ReadUntil("."),
                                           c.afterDot, Silent()}));
        std::unique_ptr<MailTransport> transport = CreateSmtpTransport();
        EXPECT_FALSE(transport->Transmit(MailTo(server, "jemand@example.net"))) << c.what;
        EXPECT_EQ(transport->LastFailure(), c.expected) << c.what;
        EXPECT_FALSE(transport->IsConnected()) << c.what;
    }
    // The same overlong line before the mail's end is an ordinary failure: nothing may have arrived.
    ScriptedSmtpServer server(Session({Expect("MAIL FROM:<absender@example.org>"),
                                       Reply("250 " + std::string(100000, 'x')), Silent()}));
    std::unique_ptr<MailTransport> transport = CreateSmtpTransport();
    EXPECT_FALSE(transport->Transmit(MailTo(server, "jemand@example.net")));
    EXPECT_EQ(transport->LastFailure(), SendFailure::Permanent);
}
