// A mailing run from the main window to the real SMTP peer (the aiosmtpd server of the integration tests),
// through the program's own SMTP client: what arrives is what the list and the text say.

#include "app/main_window.h"
#include "mailing/file_io.h"
#include "mailing/smtp_transport.h"
#include "tests/support/qt/fake_services.h"
#include "tests/support/temp_dir.h"

#include <QDir>
#include <QLineEdit>
#include <QProcess>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

// The peer as a child process, stopped when the test ends.
class RealPeer {
public:
    explicit RealPeer(const QString& folder) {
        process_.start(QStringLiteral("/usr/bin/python3"),
                       {QStringLiteral(POSTIRA_TEST_SOURCE_DIR "/scripts/smtp_peer.py"), folder,
                        QStringLiteral("--user"), QStringLiteral("ich@example.de"), QStringLiteral("--password"),
                        QStringLiteral("geheim"), QStringLiteral("--lifetime"), QStringLiteral("300")});
        if (!process_.waitForReadyRead(60000)) return;
        const QByteArray line = process_.readLine().trimmed();
        if (line.startsWith("PORT ")) port_ = line.mid(5).toInt();
    }
    ~RealPeer() {
        process_.terminate();
        if (!process_.waitForFinished(15000)) {
            process_.kill();
            process_.waitForFinished();
        }
    }
    int Port() const { return port_; }

private:
    QProcess process_;
    int port_ = 0;
};

TEST(RunToTheRealPeer, ThreeLinesTwoMailsPersonalised) {
    DataHome home;
    {
        const QString mails = QString::fromStdString(home.File("mails"));
        RealPeer peer(mails);
        ASSERT_GT(peer.Port(), 0) << "the SMTP peer did not start";
        FakeServices fakes;
        home.WriteOptions("check-before-run=nein\r\n");
        TFormNewMail window;
        window.FormShow();
        window.SetTransport(CreateSmtpTransport());
        window.EditHost->setText("127.0.0.1");
        window.EditPort->setText(QString::number(peer.Port()));
        window.EditUser->setText("ich@example.de");
        window.MaskEdit->setText("geheim");
        WriteFileAtomic(window.DataFolder() + "defaultmail.txt", "Hallo $PRENAME $name,\r\nbis bald.\r\n");
        WriteFileAtomic(window.DataFolder() + "sendlist.csv",
                        "Meier;Hans;hans@example.de;Angebot;default;x;;\r\n"
                        "Kurz;;kurz@example.de;Angebot;default;x;;\r\n"
                        "Schulz;Erika;erika@example.de;Info;;x;;\r\n");
        window.findChild<QToolButton*>("ToolButton3")->click();

        EXPECT_TRUE(window.StatusText().startsWith("Mailing komplett. ")) << window.StatusText().toStdString();
        ASSERT_EQ(fakes.messages.shown.size(), 1u);
        EXPECT_EQ(fakes.messages.shown[0].text,
                  "2 gesendet, 0 fehlgeschlagen, 0 unsicher, 1 übersprungen.\nÜbersprungen: 1 ohne Vorname.");
        const QStringList stored = QDir(mails).entryList({QStringLiteral("*.eml")}, QDir::Files, QDir::Name);
        ASSERT_EQ(stored.size(), 2);
        const std::string first = ReadWholeFile(home.File("mails/" + stored[0].toStdString()));
        const std::string second = ReadWholeFile(home.File("mails/" + stored[1].toStdString()));
        EXPECT_NE(first.find("To: hans@example.de\r\n"), std::string::npos) << first;
        EXPECT_NE(first.find("\r\n\r\nHallo Hans Meier,\r\nbis bald.\r\n"), std::string::npos) << first;
        EXPECT_NE(second.find("Subject: Info\r\n"), std::string::npos) << second;
        EXPECT_NE(second.find("Hallo Erika Schulz,"), std::string::npos) << second;
        const std::string list = ReadWholeFile(window.DataFolder() + "sendlist.csv");
        EXPECT_NE(list.find("Kurz;;kurz@example.de;Angebot;default;nicht gesendet: kein Vorname;;\r\n"),
                  std::string::npos)
            << list;
    }
}

}  // namespace
