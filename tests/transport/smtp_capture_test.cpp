#include "transport/smtp.h"

#include "tests/support/scripted_smtp_server.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <string>

using namespace smtp_script;

namespace {

// The data of the n-th mail of a transcript (from 0): what follows "DATA" up to the line ".", with the
// dot-stuffing undone the way a server undoes it (the first line is a header, never stuffed).
std::string ReceivedMessage(const std::string& transcript, size_t n) {
    size_t start = 0;
    for (size_t i = 0; i <= n; ++i) start = transcript.find("\r\nDATA\r\n", start) + 8;
    std::string data = transcript.substr(start, transcript.find("\r\n.\r\n", start) + 2 - start);
    for (size_t at = 0; (at = data.find("\n..", at)) != std::string::npos; ++at) data.erase(at + 1, 1);
    return data;
}

void Fill(TIdMessage& message, std::vector<std::string> body, const std::string& attachment) {
    message.From.SetText("a@example.org");
    message.Recipients.SetFromText("b@example.org");
    message.Body = std::move(body);
    message.PartList.Add<TIdAttachment>(attachment);
}

}  // namespace

TEST(SmtpCapture, KeepsEachMessageAsTheRecipientGetsItAlsoWithAGroupSentBehindIt) {
    const Script group = {Expect("RSET"), Expect("MAIL FROM:<a@example.org>"), Expect("RCPT TO:<b@example.org>"),
                          Expect("DATA")};
    Script script = {Reply("220 ready"), Expect("EHLO client.example"), Reply("250-host\n250 PIPELINING")};
    script.insert(script.end(), group.begin(), group.end());
    script.insert(script.end(), {Reply("250 reset\n250 ok\n250 ok\n354 go"), ReadUntil(".")});
    // The next mail's group arrives behind the "." of the first, before the server answers it.
    script.insert(script.end(), group.begin(), group.end());
    script.insert(script.end(), {Reply("250 queued\n250 reset\n250 ok\n250 ok\n354 go"), ReadUntil("."),
                                 Reply("250 queued")});
    // A third mail whose attachment has gone.
    script.insert(script.end(), group.begin(), group.end());
    script.insert(script.end(), {Reply("250 reset\n250 ok\n250 ok\n354 go"), Silent()});
    ScriptedSmtpServer server(script);
    TempDir dir;
    dir.Write("anlage.bin", std::string(5000, '\x01') + ".\r\n.x");
    TIdMessage first, second;
    Fill(first, {".Punkt am Anfang", ".", "Ende"}, dir.File("anlage.bin"));
    Fill(second, {"..zwei Punkte"}, dir.File("anlage.bin"));
    TIdSMTP smtp;
    smtp.Host = server.Host();
    smtp.Port = server.Port();
    smtp.HeloName = "client.example";
    std::string capture = "vorher";
    smtp.MessageCapture = &capture;
    smtp.OpenSession(1000);
    smtp.SendMail(first, &second);
    const std::string firstCapture = capture;
    smtp.SendMail(second);
    const std::string secondCapture = capture;
    // A message that cannot be written to its end leaves no copy.
    TIdMessage broken;
    Fill(broken, {"x"}, dir.File("fehlt.bin"));
    EXPECT_THROW(smtp.SendMail(broken), EIdException);
    EXPECT_EQ(capture, "");
    smtp.CloseSession();
    ASSERT_TRUE(server.Finish());

    EXPECT_EQ(firstCapture, ReceivedMessage(server.Received(), 0));
    EXPECT_NE(firstCapture.find("\r\n.Punkt am Anfang\r\n.\r\nEnde\r\n"), std::string::npos) << firstCapture;
    EXPECT_NE(firstCapture.find("Content-Disposition: attachment"), std::string::npos);
    EXPECT_EQ(secondCapture, ReceivedMessage(server.Received(), 1));
    EXPECT_NE(secondCapture.find("\r\n\r\n..zwei Punkte\r\n"), std::string::npos) << secondCapture;
}
