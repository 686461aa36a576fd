// The copy in the Sent folder from the window: its rows in "Versandoptionen", and the test mail's copy
// through the program's SMTP and IMAP clients to scripted servers on loopback.

#include "app/main_window.h"
#include "app/options_window.h"
#include "mailing/smtp_transport.h"
#include "tests/support/qt/fake_services.h"
#include "tests/support/scripted_imap_server.h"
#include "tests/support/scripted_smtp_server.h"
#include "tests/support/temp_dir.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

// Greeting, login, the folders; then the APPEND with `status`, after which the client logs out.
ImapScript OneCopy(const std::string& status) {
    using namespace imap_script;
    return {Send("* OK [CAPABILITY IMAP4rev1] ready"), Expect("A001 LOGIN \"ich@example.de\" \"geheim\""),
            Send("A001 OK [CAPABILITY IMAP4rev1] hi"), Expect(R"(A002 LIST "" "*")"),
            Send("* LIST (\\Sent) \"/\" Sent\nA002 OK"), AppendCopy(status), Expect("A004 LOGOUT"), Send("* BYE\nA004 OK")};
}

TEST(SentCopyWindow, TheOptionRowsAndTheTestMailsCopy) {
    DataHome home;
    FakeServices fakes;
    TFormNewMail window;
    window.FormShow();
    window.EditHost->setText("smtp.example.de");
    window.EditPort->setText("25");
    window.EditUser->setText("ich@example.de");
    window.MaskEdit->setText("geheim");
    ScriptedImapServer imap({OneCopy("OK"), OneCopy("NO [OVERQUOTA] Quota")});

    // The IMAP server that goes with the SMTP server as the placeholder; its rows only with the copy on;
    // Microsoft's note, and the option left as the user set it when the method changes.
    QTimer::singleShot(0, [&] {
        TFormOptions& options = window.OptionsWindow();
        EXPECT_EQ(options.EditImapHost->placeholderText().toStdString(), "imap.example.de");
        EXPECT_FALSE(options.EditImapHost->isEnabled());
        options.CheckSentCopy->click();
        EXPECT_TRUE(options.EditImapHost->isEnabled());
        options.EditImapHost->setText("127.0.0.1");
        options.EditImapPort->setText(QString::number(imap.Port()));
        EXPECT_FALSE(options.LabelSentCopyProvider->isVisible());
        QTest::keyClick(options.ComboSignIn, Qt::Key_Down);  // Microsoft 365
        EXPECT_TRUE(options.LabelSentCopyProvider->isVisible());
        EXPECT_TRUE(options.CheckSentCopy->isChecked());
        QTest::keyClick(options.ComboSignIn, Qt::Key_Up);
        EXPECT_FALSE(options.LabelSentCopyProvider->isVisible());
        options.ButtonOK->click();
    });
    window.findChild<QToolButton*>("ToolButtonOptions")->click();
    ASSERT_TRUE(window.Options().sentCopy);
    EXPECT_EQ(window.Options().imapPort, imap.Port());

    using namespace smtp_script;
    const Script mail = {Expect("MAIL FROM:<ich@example.de>"), Reply("250 ok"), Expect("RCPT TO:<an@example.de>"),
                         Reply("250 ok"), Expect("DATA"), Reply("354 go"), ReadUntil("."), Reply("250 queued")};
    Script script = {Reply("220 ready"), ExpectAny(), Reply("250-host\n250 AUTH LOGIN"), Expect("RSET"), Reply("250 ok"),
                     Expect("AUTH LOGIN"), Reply("334 x"), ExpectAny(), Reply("334 y"), ExpectAny(), Reply("235 ok")};
    script.insert(script.end(), mail.begin(), mail.end());
    script.insert(script.end(), {Expect("RSET"), Reply("250 ok")});
    script.insert(script.end(), mail.begin(), mail.end());
    ScriptedSmtpServer smtp(script);
    window.SetTransport(CreateSmtpTransport());
    window.EditHost->setText("127.0.0.1");
    window.EditPort->setText(QString::number(smtp.Port()));
    window.EditMail->setText("an@example.de");
    window.EditSubject->setText("Test");
    window.Memo2->setPlainText("Hallo\n.Punkt");

    // The copy is the mail as it went out; when the server refuses it, the mail counts as sent all the
    // same and a warning says why the copy is missing.
    for (int send = 0; send < 2; ++send) {
        fakes.messages.AnswerQuestions({false});  // no attachment
        window.findChild<QToolButton*>("ToolButton8")->click();
        EXPECT_EQ(window.PanelMessage->text().toStdString(), "Mail gesendet!");
    }
    EXPECT_TRUE(smtp.Finish());
    EXPECT_TRUE(imap.Finish());
    const std::string wire = smtp.Received();
    const size_t data = wire.find("DATA\r\n") + 6;
    const std::string sent = wire.substr(data, wire.find("\r\n.\r\n", data) + 2 - data);
    ASSERT_EQ(imap.Appends().size(), 2u);
    EXPECT_EQ(imap.Appends()[0].message, std::string(sent).replace(sent.find("\r\n..Punkt"), 4, "\r\n."));
    ASSERT_EQ(fakes.messages.shown.size(), 3u);  // the two questions and the warning
    EXPECT_EQ(fakes.messages.shown[2].kind.toStdString(), "Warnung");
    EXPECT_EQ(fakes.messages.shown[2].text.toStdString(),
              "Die Mail ist gesendet, ihre Kopie fehlt aber im Ordner „Gesendet“:\n\nDer IMAP-Server hat die Kopie "
              "nicht abgelegt: Quota");
}

}  // namespace
