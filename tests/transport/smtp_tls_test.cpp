#include "transport/smtp.h"
#include "transport/socket_errors.h"
#include "transport/tls_io_handler.h"

#include "tests/support/scripted_smtp_server.h"
#include "tests/support/stalled_send.h"
#include "tests/support/test_certificates.h"
#include "tests/support/tls_test_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using Peer = TlsTestServer::Peer;

const TestCertificates& Certificates() { return GetTestCertificates(); }

// "absender@example.org" and "geheim" as AUTH LOGIN sends them.
const std::string kUserBase64 = "YWJzZW5kZXJAZXhhbXBsZS5vcmc=";
const std::string kPasswordBase64 = "Z2VoZWlt";

void Prepare(TIdSMTP& smtp, const TlsTestServer& server) {
    smtp.Host = "localhost";
    smtp.Port = server.Port();
    smtp.HeloName = "client.example";
    smtp.Username = "absender@example.org";
    smtp.Password = "geheim";
    smtp.SetAuthenticationType(atLogin);
    smtp.CAFile = Certificates().caFile;
    smtp.ReplyTimeLimit = 10000;
}

void Fill(TIdMessage& message) {
    message.From.SetText("absender@example.org");
    message.Recipients.SetFromText("to@example.net");
    message.Subject = "Test";
    message.Body = {"Hallo"};
}

// Reads lines until one equals last; all of them, each followed by CR LF.
std::string ReadUntil(Peer& peer, const std::string& last) {
    std::string lines;
    for (;;) {
        const std::string line = peer.ReadLine();
        lines += line + "\r\n";
        if (line == last) return lines;
    }
}

// The encrypted part of a session that logs in and sends the mail of Fill; the commands it received.
std::string ServeEncryptedSession(Peer& peer) {
    std::string received = ReadUntil(peer, "EHLO client.example");
    peer.Send("250-peer\r\n250-AUTH LOGIN\r\n250 STARTTLS\r\n");
    received += ReadUntil(peer, "RSET");
    peer.Send("250 reset\r\n");
    peer.ExpectLine("AUTH LOGIN");
    peer.Send("334 VXNlcm5hbWU6\r\n");
    received += "AUTH LOGIN\r\n" + peer.ReadLine() + "\r\n";
    peer.Send("334 UGFzc3dvcmQ6\r\n");
    received += peer.ReadLine() + "\r\n";
    peer.Send("235 ok\r\n");
    for (const char* command : {"MAIL FROM:<absender@example.org>", "RCPT TO:<to@example.net>"}) {
        peer.ExpectLine(command);
        received += std::string(command) + "\r\n";
        peer.Send("250 ok\r\n");
    }
    peer.ExpectLine("DATA");
    peer.Send("354 go\r\n");
    received += "DATA\r\n" + ReadUntil(peer, ".");
    peer.Send("250 queued\r\n");
    peer.ExpectLine("QUIT");
    return received + "QUIT\r\n";
}

}  // namespace

TEST(SmtpStartTls, UpgradesBeforeAnythingElseAndForgetsThePlainEhloReply) {
    std::string plain;
    std::string encrypted;
    TlsTestServer server(Certificates().localhost, [&](Peer& peer) {
        peer.Send("220 peer ready\r\n");
        plain = ReadUntil(peer, "EHLO client.example");
        // The plain reply offers only PLAIN, and PIPELINING, which the encrypted one does not: the
        // session must remember neither after the upgrade.
        peer.Send("250-peer\r\n250-AUTH PLAIN\r\n250-PIPELINING\r\n250-starttls\r\n250 HELP\r\n");
        plain += ReadUntil(peer, "STARTTLS");
        peer.Send("220 Ready to start TLS\r\n");
        if (!peer.AcceptTLS()) throw std::runtime_error(peer.HandshakeError());
        encrypted = ServeEncryptedSession(peer);
    });
    TIdSMTP smtp;
    Prepare(smtp, server);
    // Allowing the plain login changes nothing where TLS is offered, also for a server elsewhere.
    smtp.AllowPlainLogin = true;
    smtp.PeerIsLocal = [](const std::string&) { return false; };
    TIdMessage message;
    Fill(message);
    smtp.OpenSession(1000);
    EXPECT_TRUE(smtp.Encrypted());
    EXPECT_EQ(smtp.SupportedAuthSchemes(), (std::vector<std::string>{"LOGIN"}));
    EXPECT_FALSE(smtp.Pipelining());
    smtp.SendMail(message);
    smtp.CloseSession();
    EXPECT_TRUE(server.Finish());
    EXPECT_EQ(plain, "EHLO client.example\r\nSTARTTLS\r\n");
    EXPECT_EQ(encrypted.substr(0, encrypted.find("MAIL FROM")),
              "EHLO client.example\r\nRSET\r\nAUTH LOGIN\r\n" + kUserBase64 + "\r\n" + kPasswordBase64 + "\r\n");
    EXPECT_TRUE(encrypted.ends_with("Hallo\r\n.\r\nQUIT\r\n")) << encrypted;
}

TEST(SmtpStartTls, ImplicitTlsFromTheFirstByteAndNoSecondUpgrade) {
    std::string encrypted;
    TlsTestServer server(Certificates().localhost, [&](Peer& peer) {
        if (!peer.AcceptTLS()) throw std::runtime_error(peer.HandshakeError());
        peer.Send("220 peer ready\r\n");
        // STARTTLS on an encrypted connection would be a protocol error; the session must not ask.
        encrypted = ServeEncryptedSession(peer);
    });
    TIdSMTP smtp;
    Prepare(smtp, server);
    smtp.ImplicitTLS = true;
    TIdMessage message;
    Fill(message);
    smtp.OpenSession(1000);
    EXPECT_TRUE(smtp.Encrypted());
    smtp.SendMail(message);
    smtp.CloseSession();
    EXPECT_TRUE(server.Finish());
    EXPECT_TRUE(encrypted.starts_with("EHLO client.example\r\nRSET\r\nAUTH LOGIN\r\n")) << encrypted;
}

TEST(SmtpStartTlsErrors, NothingSecretTravelsWhenTheUpgradeFails) {
    struct Case {
        std::string name;
        const CertificateFiles* certificate;
        std::string afterGoAhead;  // bytes in the same packet as the 220
        std::string goAhead = "220 Ready to start TLS\r\n";
        bool handshake = true;     // whether the client is expected to try one
    };
    const std::vector<Case> cases = {
        {"certificate for another host", &Certificates().otherHost, ""},
        {"expired certificate", &Certificates().expired, ""},
        {"plain text injected after the 220", &Certificates().localhost, "250-peer\r\n250 AUTH LOGIN\r\n",
         "220 Ready to start TLS\r\n", false},
        {"upgrade refused", &Certificates().localhost, "", "454 TLS not available\r\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string rest;
        std::string handshakeError;
        TlsTestServer server(*c.certificate, [&](Peer& peer) {
            peer.Send("220 peer ready\r\n");
            peer.ExpectLine("EHLO client.example");
            peer.Send("250-peer\r\n250-AUTH LOGIN\r\n250 STARTTLS\r\n");
            peer.ExpectLine("STARTTLS");
            peer.Send(c.goAhead + c.afterGoAhead);
            if (c.handshake && !peer.AcceptTLS()) handshakeError = peer.HandshakeError();
            rest = peer.ReadRawUntilClosed();
        });
        TIdSMTP smtp;
        Prepare(smtp, server);
        TIdMessage message;
        Fill(message);
        try {
            smtp.OpenSession(1000);
            smtp.SendMail(message);
            ADD_FAILURE() << "the session went on";
        } catch (const EIdTLSHandshakeError& error) {
            EXPECT_TRUE(c.handshake) << error.what();
            EXPECT_TRUE(std::string(error.what()).starts_with("TLS-Verbindung fehlgeschlagen: ")) << error.what();
        } catch (const EIdSMTPInjectedInput&) {
            EXPECT_FALSE(c.afterGoAhead.empty());
        } catch (const EIdProtocolReplyError& error) {
            EXPECT_EQ(error.ReplyErrorCode(), 454);
        }
        EXPECT_FALSE(smtp.IsConnected());
        EXPECT_FALSE(smtp.LoggedIn());
        EXPECT_TRUE(server.Finish());
        EXPECT_EQ(!handshakeError.empty(), c.handshake) << handshakeError;
        // No handshake attempted: the client said only QUIT, in plain text, and no TLS hello.
        if (!c.handshake) {
            EXPECT_EQ(rest, "QUIT\r\n");
        }
        EXPECT_EQ(rest.find("AUTH"), std::string::npos);
        EXPECT_EQ(rest.find("MAIL FROM"), std::string::npos);
    }
}

// The plain session with a server that offers no STARTTLS is the one of the SMTP session tests, byte
// for byte; here the offer hides in another keyword and in a HELO fallback, where it must not count.
TEST(SmtpStartTls, OnlyTheStartTlsKeywordOfAnEhloReplyLeadsToTheUpgrade) {
    using namespace smtp_script;
    ScriptedSmtpServer server({Reply("220 ready"), Expect("EHLO client.example"),
                               Reply("250-host\n250-X-STARTTLS-LATER\n250 HELP STARTTLS"), Expect("QUIT")});
    server.AddConnection({Reply("220 ready"), Expect("EHLO client.example"), Reply("502 no"),
                          Expect("HELO client.example"), Reply("250-host\n250 STARTTLS"), Expect("QUIT")});
    for (int i = 0; i < 2; ++i) {
        TIdSMTP smtp;
        smtp.Host = server.Host();
        smtp.Port = server.Port();
        smtp.HeloName = "client.example";
        smtp.OpenSession(1000);
        EXPECT_FALSE(smtp.Encrypted());
        smtp.CloseSession();
    }
    EXPECT_TRUE(server.Finish());
    EXPECT_EQ(server.Received(0), "EHLO client.example\r\nQUIT\r\n");
    EXPECT_EQ(server.Received(1), "EHLO client.example\r\nHELO client.example\r\nQUIT\r\n");
}

TEST(SmtpStartTlsErrors, ServerThatStopsReadingEndsTheEncryptedSendToo) {
    TlsTestServer server(Certificates().localhost, [&](Peer& peer) {
        if (!peer.AcceptTLS()) throw std::runtime_error(peer.HandshakeError());
        peer.Send("220 peer ready\r\n");
        peer.ExpectLine("EHLO client.example");
        peer.Send("250 peer\r\n");
        for (const char* reply : {"250 reset", "250 ok", "250 ok", "354 go"}) {
            peer.ReadLine();
            peer.Send(std::string(reply) + "\r\n");
        }
        // Reads nothing for a while; by then the client must have given up.
        std::this_thread::sleep_for(std::chrono::seconds(3));
        peer.ReadRawUntilClosed();
    });
    TIdSMTP smtp;
    Prepare(smtp, server);
    smtp.ImplicitTLS = true;
    smtp.SetAuthenticationType(atNone);
    ExpectSendToStalledServerFails(smtp);
    EXPECT_TRUE(server.Finish());
}
