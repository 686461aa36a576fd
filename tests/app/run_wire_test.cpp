// A whole mailing run from the main window through the program's SMTP client to a scripted server: the
// exact commands on the wire, one connection for the run, the copy list in every mail.

#include "app/main_window.h"
#include "mailing/file_io.h"
#include "mailing/list_file.h"
#include "mailing/smtp_transport.h"
#include "tests/support/qt/fake_services.h"
#include "tests/support/scripted_smtp_server.h"
#include "tests/support/temp_dir.h"

#include <QLineEdit>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace smtp_script;

namespace {

Script Envelope(const std::string& to) {
    return {Expect("MAIL FROM:<ich@example.de>"), Reply("250 ok"), Expect("RCPT TO:<" + to + ">"), Reply("250 ok"),
            Expect("RCPT TO:<c1@example.net>"), Reply("250 ok"), Expect("RCPT TO:<c2@example.net>"), Reply("250 ok"),
            Expect("DATA"), Reply("354 go"), ReadUntil("."), Reply("250 queued")};
}

Script Join(std::initializer_list<Script> parts) {
    Script all;
    for (const Script& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

size_t Count(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
}

TEST(RunOverTheWire, OneConnectionLoginOnceAndTheCopyListInEveryMail) {
    DataHome home;
    {
        FakeServices fakes;
        ScriptedSmtpServer server(Join({{Reply("220 ready"), ExpectAny(), Reply("250-peer\n250-AUTH LOGIN\n250 HELP")},
                                        {Expect("RSET"), Reply("250 reset"), Expect("AUTH LOGIN"), Reply("334 a"),
                                         Expect("aWNoQGV4YW1wbGUuZGU="), Reply("334 b"), Expect("Z2VoZWlt"),
                                         Reply("235 ok")},
                                        Envelope("hans@example.de"),
                                        {Expect("RSET"), Reply("250 reset")},
                                        Envelope("erika@example.de"),
                                        {Expect("QUIT")}}));
        home.WriteOptions("check-before-run=nein\r\n");
        TFormNewMail window;
        window.FormShow();
        window.SetTransport(CreateSmtpTransport());
        window.EditHost->setText("127.0.0.1");
        window.EditPort->setText(QString::number(server.Port()));
        window.EditUser->setText("ich@example.de");
        window.MaskEdit->setText("geheim");
        window.EditCC->setText("c1@example.net, c2@example.net");
        WriteFileAtomic(window.DataFolder() + "defaultmail.txt", "Hallo $Prename $Name,\r\n.Punkt am Anfang\r\n");
        WriteFileAtomic(window.DataFolder() + "sendlist.csv",
                        "Meier;Hans;hans@example.de;Angebot;default;x;;\r\nSchulz;Erika;erika@example.de;Info;;x;;\r\n");
        window.findChild<QToolButton*>("ToolButton3")->click();

        EXPECT_TRUE(server.Finish());
        const std::string wire = server.Received();
        EXPECT_EQ(Count(wire, "AUTH LOGIN"), 1u) << "one login per connection";
        EXPECT_EQ(Count(wire, "\r\nCc: c1@example.net, c2@example.net\r\n"), 2u) << wire;
        EXPECT_EQ(Count(wire, "\r\n..Punkt am Anfang\r\n"), 2u) << "a line starting with a dot goes out doubled";
        EXPECT_NE(wire.find("\r\nHallo Hans Meier,\r\n"), std::string::npos);
        EXPECT_NE(wire.find("\r\nHallo Erika Schulz,\r\n"), std::string::npos);
        EXPECT_TRUE(window.StatusText().startsWith("Mailing komplett. ")) << window.StatusText().toStdString();
        ASSERT_EQ(fakes.messages.shown.size(), 1u);  // the summary
        EXPECT_TRUE(fakes.messages.shown[0].text.startsWith("2 gesendet, 0 fehlgeschlagen"));
        const TextLines lines = SplitTextLines(ReadWholeFile(window.DataFolder() + "sendlist.csv"));
        EXPECT_NE(SplitListLine(lines.lines[0]).Result, "x");
        EXPECT_NE(SplitListLine(lines.lines[1]).Result, "x");
    }
}

TEST(RunOverTheWire, WithPipeliningTheNextMailsEnvelopeFollowsTheEndOfTheOneBefore) {
    DataHome home;
    {
        FakeServices fakes;
        // The server answers the "." of the first mail only once it has read the next mail's group: a
        // client that waited for that answer before sending the group would hang here.
        const Script group = {Expect("MAIL FROM:<ich@example.de>"), Expect("RCPT TO:<hans@example.de>"),
                              Expect("DATA"), Reply("250 ok\n250 ok\n354 go"), ReadUntil(".")};
        ScriptedSmtpServer server(Join({{Reply("220 ready"), ExpectAny(), Reply("250-peer\n250-PIPELINING\n250 AUTH LOGIN")},
                                        {Expect("RSET"), Reply("250 reset"), Expect("AUTH LOGIN"), Reply("334 a"),
                                         Expect("aWNoQGV4YW1wbGUuZGU="), Reply("334 b"), Expect("Z2VoZWlt"),
                                         Reply("235 ok")},
                                        group,
                                        {Expect("RSET"), Expect("MAIL FROM:<ich@example.de>"),
                                         Expect("RCPT TO:<erika@example.de>"), Expect("DATA"),
                                         Reply("250 queued\n250 reset\n250 ok\n250 ok\n354 go"), ReadUntil("."),
                                         Reply("250 queued"), Expect("QUIT"), Reply("221 bye")}}));
        home.WriteOptions("check-before-run=nein\r\n");
        TFormNewMail window;
        window.FormShow();
        window.SetTransport(CreateSmtpTransport());
        window.EditHost->setText("127.0.0.1");
        window.EditPort->setText(QString::number(server.Port()));
        window.EditUser->setText("ich@example.de");
        window.MaskEdit->setText("geheim");
        WriteFileAtomic(window.DataFolder() + "defaultmail.txt", "Hallo $Prename $Name\r\n");
        // The line without a first name between them is passed over: the group ahead is the third line's.
        WriteFileAtomic(window.DataFolder() + "sendlist.csv",
                        "Meier;Hans;hans@example.de;A;;x;;\r\nKurz;;kurz@example.de;A;;x;;\r\n"
                        "Schulz;Erika;erika@example.de;B;;x;;\r\n");
        window.findChild<QToolButton*>("ToolButton3")->click();

        EXPECT_TRUE(server.Finish());
        EXPECT_TRUE(window.StatusText().startsWith("Mailing komplett. ")) << window.StatusText().toStdString();
        ASSERT_EQ(fakes.messages.shown.size(), 1u);
        EXPECT_TRUE(fakes.messages.shown[0].text.startsWith("2 gesendet, 0 fehlgeschlagen")) << fakes.messages.shown[0].text.toStdString();
    }
}

}  // namespace
