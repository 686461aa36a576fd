#include "app/main_window.h"
#include "app/options_window.h"
#include "mailing/file_io.h"
#include "mailing/list_file.h"
#include "mailing/list_lock.h"
#include "mailing/run_journal.h"
#include "mailing/run_summary.h"
#include "tests/support/qt/fake_services.h"
#include "tests/support/qt/fake_transport.h"
#include "tests/support/qt/qt_printers.h"
#include "tests/support/temp_dir.h"

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QCloseEvent>
#include <QWindow>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QToolButton>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

class AnswerChecker : public OnlineChecker {
public:
    explicit AnswerChecker(bool answer) : answer_(answer) {}
    bool GoOnline() override { return answer_; }

private:
    bool answer_;
};

class RunWindowTest : public ::testing::Test {
protected:
    RunWindowTest() {
        home.WriteOptions("check-before-run=nein\r\n");
        window.FormShow();
        window.SetTransport(std::make_unique<SharedFakeTransport>(transport));
        window.EditHost->setText("smtp.example.de");
        window.EditUser->setText("ich@example.de");
        window.MaskEdit->setText("geheim");
        window.EditPort->setText("25");
        WriteFileAtomic(window.DataFolder() + "defaultmail.txt", "Hallo $Prename $Name\r\n");
    }

    void Click(const char* name) { window.findChild<QToolButton*>(QString::fromLatin1(name))->click(); }
    void WriteList(const std::string& text) { WriteFileAtomic(window.DataFolder() + "sendlist.csv", text); }
    std::string List() { return ReadWholeFile(window.DataFolder() + "sendlist.csv"); }

    DataHome home;
    FakeServices fakes;
    FakeTransport transport;
    TFormNewMail window;
};

TEST_F(RunWindowTest, RunShowsLinesProgressAndFinalStatus) {
    WriteList("Meier;Hans;hans@x.de;Angebot;default;x;;\r\n\r\nSchulz;Erika;erika@x.de;Info;;x;;\r\n");
    window.EditCC->setText("chef@x.de, buero@x.de");
    window.EditMail->setText("ich-selbst@example.de");
    window.Memo2->setPlainText("Mein Entwurf");
    std::vector<QString> shown;
    transport.beforeSend = [&](const OutgoingMail&) {
        shown.push_back(window.EditMail->text() + "|" + window.EditSubject->text() + "|" + window.Memo2->toPlainText());
    };
    Click("ToolButton3");
    ASSERT_EQ(transport.sent.size(), 2u);
    EXPECT_EQ(transport.sent[1].cc, "chef@x.de, buero@x.de");
    // Each line shows while it is sent; the user's own fields come back at the end.
    EXPECT_EQ(shown, (std::vector<QString>{"hans@x.de|Angebot|Hallo Hans Meier", "erika@x.de|Info|Hallo Erika Schulz"}));
    EXPECT_EQ(window.EditMail->text(), "ich-selbst@example.de");
    EXPECT_EQ(window.EditSubject->text(), "");
    EXPECT_EQ(window.Memo2->toPlainText(), "Mein Entwurf");
    EXPECT_EQ(window.Edit1->text(), "3");
    EXPECT_EQ(window.Progressbar1->maximum(), 3);
    EXPECT_EQ(window.Progressbar1->value(), 3);
    EXPECT_EQ(window.StatusText(), "Mailing komplett. 2 gesendet, 0 fehlgeschlagen, 0 unsicher, 0 übersprungen.");
    EXPECT_EQ(window.PanelMessage->palette().color(QPalette::WindowText), QColor(0, 0, 128));
    EXPECT_TRUE(window.ImageConnect->isVisibleTo(&window));
    EXPECT_FALSE(window.Busy());
    EXPECT_EQ(transport.closes, 1);
    // A test mail now goes to the user's own address; one to a customer of the list asks first.
    fakes.messages.AnswerQuestions({false});  // no attachment
    Click("ToolButton8");
    EXPECT_EQ(transport.sent.back().recipients, "ich-selbst@example.de");
    window.EditMail->setText("Erika <ERIKA@x.de>");
    fakes.messages.AnswerQuestions({false});
    Click("ToolButton8");
    EXPECT_EQ(fakes.messages.shown.back().text, "Erika <ERIKA@x.de> ist ein Empfänger der Liste (Zeile 3). Testmail "
                                                "trotzdem senden?");
    EXPECT_EQ(transport.sent.size(), 3u);
}

TEST_F(RunWindowTest, StopButtonReachesTheRunBetweenLines) {
    WriteList("A;a;a@x.de;S;;x;;\r\nB;b;b@x.de;S;;x;;\r\nC;c;c@x.de;S;;x;;\r\nD;d;d@x.de;S;;x;;\r\nE;e;e@x.de;S;;x;;\r\n");
    // The user presses "Mailing stoppen" while the third mail is being sent.
    transport.beforeSend = [&](const OutgoingMail& mail) {
        if (mail.recipients == "c@x.de") QMetaObject::invokeMethod(&window, [&] { Click("ToolButton4"); });
    };
    Click("ToolButton3");
    EXPECT_EQ(transport.sent.size(), 3u);
    EXPECT_EQ(window.StatusText(), "Mailing abgebrochen! Beim nächsten Start kann nur an die übrigen Empfänger gesendet "
                                   "werden. 3 gesendet, 0 fehlgeschlagen, 0 unsicher, 0 übersprungen, 2 nicht versucht.");
    EXPECT_EQ(window.PanelMessage->palette().color(QPalette::WindowText), QColor(128, 0, 0));
    const TextLines lines = SplitTextLines(List());
    EXPECT_NE(SplitListLine(lines.lines[2]).Result, "x");
    EXPECT_EQ(lines.lines[3], "D;d;d@x.de;S;;x;;");
    ASSERT_EQ(fakes.messages.shown.size(), 1u);  // the summary
    EXPECT_TRUE(fakes.messages.shown[0].text.startsWith("3 gesendet"));

    // The next start asks, as after a crash, and "Ja" sends only to the two lines the stop left; the
    // stop of the last run is forgotten.
    transport.beforeSend = nullptr;
    fakes.messages.AnswerQuestions({true});
    Click("ToolButton3");
    ASSERT_EQ(fakes.messages.shown.size(), 3u);
    EXPECT_EQ(fakes.messages.shown[1].text.toStdString(), ResumeQuestionText(3, 0));
    ASSERT_EQ(transport.sent.size(), 5u);
    EXPECT_EQ(transport.sent[3].recipients, "d@x.de");
    EXPECT_EQ(transport.sent[4].recipients, "e@x.de");
    EXPECT_TRUE(window.StatusText().startsWith("Mailing komplett. ")) << window.StatusText().toStdString();
}

TEST_F(RunWindowTest, CommandsAreDisabledWhileARunIsInProgress) {
    WriteList("A;a;a@x.de;S;;x;;\r\nB;b;b@x.de;S;;x;;\r\n");
    std::vector<bool> startEnabled, stopEnabled, hostReadOnly, standardTextEnabled, windowOpenersEnabled;
    // "Text speichern" would propose the run's template and write the recipient's text over it.
    fakes.dialogs.results.push_back(QString::fromStdString(window.DataFolder() + "defaultmail.txt"));
    transport.beforeSend = [&](const OutgoingMail&) {
        QMetaObject::invokeMethod(&window, [&] {
            startEnabled.push_back(window.findChild<QToolButton*>("ToolButton3")->isEnabled());
            stopEnabled.push_back(window.findChild<QToolButton*>("ToolButton4")->isEnabled());
            hostReadOnly.push_back(window.EditHost->isReadOnly());
            standardTextEnabled.push_back(window.findChild<QToolButton*>("ToolButton11")->isEnabled());
            standardTextEnabled.push_back(window.findChild<QToolButton*>("ToolButtonOptions")->isEnabled());
            // Their windows' event loops would hold the send that ends meanwhile.
            for (const char* name : {"ToolButton19", "ToolButton15", "ToolButton16", "ToolButton13"})
                windowOpenersEnabled.push_back(window.findChild<QToolButton*>(name)->isEnabled());
            Click("ToolButton3");  // a second run must not start
            Click("ToolButton12");
        });
    };
    Click("ToolButton3");
    EXPECT_EQ(transport.sent.size(), 2u);
    EXPECT_TRUE(fakes.dialogs.calls.empty());
    EXPECT_EQ(ReadWholeFile(window.DataFolder() + "defaultmail.txt"), "Hallo $Prename $Name\r\n");
    EXPECT_EQ(standardTextEnabled, (std::vector<bool>{false, false, false, false}));
    EXPECT_EQ(windowOpenersEnabled, std::vector<bool>(8, false));
    EXPECT_TRUE(window.findChild<QToolButton*>("ToolButton15")->isEnabled());
    EXPECT_EQ(startEnabled, (std::vector<bool>{false, false}));
    EXPECT_EQ(stopEnabled, (std::vector<bool>{true, true}));
    EXPECT_EQ(hostReadOnly, (std::vector<bool>{true, true}));
    EXPECT_TRUE(window.findChild<QToolButton*>("ToolButton3")->isEnabled());
    EXPECT_FALSE(window.EditHost->isReadOnly());
}

TEST_F(RunWindowTest, CloseDuringARunStopsItAndClosesTheWindowAfterwards) {
    WriteList("A;a;a@x.de;S;;x;;\r\nB;b;b@x.de;S;;x;;\r\nC;c;c@x.de;S;;x;;\r\n");
    window.show();
    fakes.messages.choices = {1};  // the account fields typed in for the test: "Nein", not saved
    bool visibleAfterClose = false;
    transport.beforeSend = [&](const OutgoingMail& mail) {
        if (mail.recipients == "b@x.de") QMetaObject::invokeMethod(&window, [&] {
            QCloseEvent close;  // what the window system sends for the title bar's close button
            QApplication::sendEvent(window.windowHandle(), &close);
            visibleAfterClose = window.isVisible();
        });
    };
    Click("ToolButton3");
    EXPECT_TRUE(visibleAfterClose);
    EXPECT_EQ(transport.sent.size(), 2u);
    EXPECT_TRUE(window.StatusText().startsWith("Mailing abgebrochen! Beim nächsten Start"));
    EXPECT_TRUE(PathExists(JournalPathFor(window.DataFolder() + "sendlist.csv")));
    EXPECT_EQ(SplitTextLines(List()).lines[2], "C;c;c@x.de;S;;x;;");
    EXPECT_FALSE(window.isVisible());
}

TEST_F(RunWindowTest, TextSavedAfterARunKeepsTheCharsetTheRunReadItIn) {
    home.Write("hand.txt", "Gr\xFC\xDF" "e\r\n");  // Windows-1252, opened by hand before the run
    fakes.dialogs.results.push_back(QString::fromStdString(home.File("hand.txt")));
    Click("ToolButton19");
    window.Memo2->appendPlainText(QStringLiteral("\u0142"));  // Windows-1252 lacks it: "Nein" saves nothing
    fakes.messages.AnswerQuestions({false});
    Click("ToolButton12");
    EXPECT_EQ(fakes.dialogs.calls.size(), 1u) << "no save dialog";
    const std::string utf8 = "\xC5\x81\xC3\xB3" "d\xC5\xBA\r\n";  // "Łódź": Windows-1252 lacks "Ł"
    home.Write("vorlage.txt", utf8);
    WriteList("A;a;a@x.de;S;" + home.File("vorlage.txt") + ";x;;\r\n");
    Click("ToolButton3");
    // After the run the field holds the user's own text again, with its file and charset: saving it asks
    // about the charset as before and never writes the run's template.
    EXPECT_EQ(window.Memo2->toPlainText(), QString::fromUtf8("Grüße\n\u0142"));
    EXPECT_EQ(window.CurrentTextFile().toStdString(), home.File("hand.txt"));
    fakes.messages.AnswerQuestions({false});
    Click("ToolButton12");
    EXPECT_EQ(home.Read("vorlage.txt"), utf8);
    EXPECT_EQ(home.Read("hand.txt"), "Gr\xFC\xDF" "e\r\n");
}

TEST_F(RunWindowTest, RunErrorIsShownAfterTheListIsWritten) {
    WriteList("A;a;a@x.de;S;;x;;\r\n");
    window.EditPort->setText("abc");
    Click("ToolButton3");
    ASSERT_EQ(fakes.messages.shown.size(), 1u);
    EXPECT_EQ(fakes.messages.shown[0].kind, "Postira");
    EXPECT_EQ(fakes.messages.shown[0].text, "'abc' ist kein gültiger Integerwert");
    EXPECT_EQ(List(), "A;a;a@x.de;S;;x;;\r\n");
    EXPECT_EQ(window.StatusText(), "Mailing abgebrochen!");
    EXPECT_FALSE(window.Busy());
}

TEST_F(RunWindowTest, BusyListAndUnreadableJournalEndTheRunThenItResumesWithJa) {
    WriteList("A;a;a@x.de;S;;x;;\r\nB;b;b@x.de;S;;x;;\r\n");
    const std::string list = window.DataFolder() + "sendlist.csv";
    auto other = std::make_unique<ListLock>();  // postira-run sending to the same list
    ASSERT_TRUE(other->TryLock(list));
    Click("ToolButton3");
    other.reset();  // ... and killed
    ::mkdir(JournalPathFor(list).c_str(), 0700);  // a journal that cannot be read, whoever runs the test
    Click("ToolButton3");
    ASSERT_EQ(fakes.messages.shown.size(), 2u);
    EXPECT_TRUE(fakes.messages.shown[0].text.contains("läuft gerade ein anderer Mailingdurchlauf"));
    EXPECT_TRUE(fakes.messages.shown[1].text.contains("unterbrochenen Mailingdurchlaufs zur Empfängerliste"));
    EXPECT_TRUE(transport.sent.empty());
    EXPECT_EQ(window.StatusText(), "Mailing abgebrochen!");

    ::rmdir(JournalPathFor(list).c_str());
    { RunJournal(list).RecordSent(0, "A;a;a@x.de;S;;09.12.2026 09:00:00;;"); }
    fakes.messages.AnswerQuestions({true});
    Click("ToolButton3");
    ASSERT_EQ(transport.sent.size(), 1u);
    EXPECT_EQ(transport.sent[0].recipients, "b@x.de");
    EXPECT_TRUE(window.StatusText().startsWith("Mailing komplett. ")) << window.StatusText().toStdString();
    EXPECT_EQ(List().substr(0, 38), "A;a;a@x.de;S;;09.12.2026 09:00:00;;\r\nB");
}

TEST_F(RunWindowTest, MissingAccountData) {
    window.MaskEdit->setText("   ");
    Click("ToolButton3");
    ASSERT_EQ(fakes.messages.shown.size(), 1u);
    EXPECT_EQ(fakes.messages.shown[0].kind, "Fehler");
    EXPECT_EQ(fakes.messages.shown[0].text, "Bitte zunächst alle Accountdaten ausfüllen!");
}

TEST_F(RunWindowTest, FailedSendsShowTheOneMessageUntilToldToWaitForTheSummary) {
    WriteList("A;a;a@x.de;S;;x;;\r\nB;b;b@x.de;S;;x;;\r\nC;c;c@x.de;S;;x;;\r\n");
    transport.failAttempt = {1, 2, 3};
    fakes.messages.tickReportLater = true;
    Click("ToolButton3");
    // One box for the first failure: the user ticks the check box, the others wait for the summary.
    ASSERT_EQ(fakes.messages.shown.size(), 2u);
    EXPECT_EQ(fakes.messages.shown[0].kind, "Fehler");
    // The sentence stays; below it the line and the address (this transport gives no reply).
    EXPECT_EQ(fakes.messages.shown[0].text,
              "Fehler beim Mailversand. Bitte prüfen Sie Ihre Firewalleinstellungen und die Internetverbindung!\n\n"
              "Zeile 1: a@x.de");
    EXPECT_EQ(fakes.messages.checkBoxes, QStringList{"Weitere Fehler dieses Durchlaufs erst am Ende melden"});
    EXPECT_EQ(fakes.messages.shown[1].kind, "Informationen");
    EXPECT_EQ(fakes.messages.shown[1].text, "0 gesendet, 3 fehlgeschlagen, 0 unsicher, 0 übersprungen.\n\n"
                                            "Fehlgeschlagen:\nZeile 1, a@x.de\nZeile 2, b@x.de\nZeile 3, c@x.de");
    for (const std::string& line : SplitTextLines(List()).lines)
        EXPECT_TRUE(SplitListLine(line).Result.starts_with(kFailedStatusStart)) << line;

    // Unticked, every failure has its box, as before.
    fakes.messages.shown.clear();
    fakes.messages.tickReportLater = false;
    transport.failAttempt = {4, 5, 6};
    Click("ToolButton3");
    EXPECT_EQ(fakes.messages.shown.size(), 4u);
}

TEST_F(RunWindowTest, TestMailDefaultsAndAttachmentQuestion) {
    Click("ToolButton8");
    ASSERT_EQ(fakes.messages.shown.size(), 1u);
    EXPECT_EQ(fakes.messages.shown[0].kind, "Warnung");
    EXPECT_EQ(fakes.messages.shown[0].text, "Bitte eine Empfängeradresse angeben!");
    EXPECT_TRUE(transport.sent.empty());

    window.EditMail->setText(" test@x.de ");
    home.Write("datei.pdf", "%PDF");
    fakes.messages.AnswerQuestions({true});
    fakes.dialogs.results.push_back(QString::fromStdString(home.File("datei.pdf")));
    Click("ToolButton8");
    EXPECT_EQ(fakes.messages.shown.back().text, "Möchten Sie eine Datei anhängen?");
    ASSERT_EQ(transport.sent.size(), 1u);
    EXPECT_EQ(transport.sent[0].recipients, "test@x.de");
    EXPECT_EQ(transport.sent[0].subject, "Testmail");
    EXPECT_EQ(transport.sent[0].bodyLines, std::vector<std::string>{"Testmail Text"});
    EXPECT_EQ(transport.sent[0].attachmentPath, home.File("datei.pdf"));
    EXPECT_EQ(window.EditSubject->text(), "Testmail");
    EXPECT_EQ(window.Memo2->toPlainText(), "Testmail Text");
    EXPECT_EQ(window.StatusText(), "Mail gesendet!");
    EXPECT_EQ(fakes.cursor.depth, 0);

    // No: the attachment field keeps what it holds; placeholders stay unreplaced.
    window.Memo2->setPlainText("Hallo $Name");
    fakes.messages.AnswerQuestions({false});
    Click("ToolButton8");
    EXPECT_EQ(transport.sent.back().attachmentPath, home.File("datei.pdf"));
    EXPECT_EQ(transport.sent.back().bodyLines, std::vector<std::string>{"Hallo $Name"});
}

TEST_F(RunWindowTest, SendingOptionGoesWithEverySendAndSurvivesBeenden) {
    Click("ToolButton2");
    const std::string settings = ReadWholeFile(window.DataFolder() + "postira.ini");
    // The user ticks the option in "Versandoptionen" and leaves with the button given.
    auto tickAndLeave = [this](QPushButton* TFormOptions::*button) {
        QTimer::singleShot(0, [this, button] {
            TFormOptions& options = window.OptionsWindow();
            QTest::mouseClick(options.CheckPlainLogin, Qt::LeftButton);
            options.SpinRate->setValue(600);
            QTest::mouseClick(options.*button, Qt::LeftButton);
        });
        Click("ToolButtonOptions");
    };
    tickAndLeave(&TFormOptions::ButtonCancel);
    EXPECT_FALSE(window.Options().allowPlainLogin);
    tickAndLeave(&TFormOptions::ButtonOK);
    EXPECT_TRUE(window.Options().allowPlainLogin);

    window.EditMail->setText("test@x.de");
    fakes.messages.AnswerQuestions({false});
    Click("ToolButton8");
    WriteList("A;a;a@x.de;S;;x;;\r\n");
    Click("ToolButton3");
    ASSERT_EQ(transport.sent.size(), 2u);
    EXPECT_TRUE(transport.sent[0].allowPlainLogin && transport.sent[1].allowPlainLogin);

    window.show();
    Click("ToolButton18");
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(ReadWholeFile(window.DataFolder() + "postira.ini"), settings);
    TFormNewMail next;
    next.FormShow();
    EXPECT_TRUE(next.Options().allowPlainLogin);
    EXPECT_EQ(next.Options().mailsPerMinute, 600);
    EXPECT_EQ(next.StatusText(), "");

    // A damaged options file: the defaults and a note, and the start goes on.
    WriteFileAtomic(window.DataFolder() + "postira-optionen.ini", "allow-plain-login=vielleicht\r\n");
    TFormNewMail third;
    third.FormShow();
    EXPECT_FALSE(third.Options().allowPlainLogin);
    EXPECT_TRUE(third.StatusText().contains("beschädigt (Zeile 1), es gelten die Voreinstellungen.")) << third.StatusText().toStdString();
    EXPECT_EQ(third.EditHost->text(), "smtp.example.de");
}

TEST_F(RunWindowTest, TestMailErrorsRestoreTheCursor) {
    window.EditMail->setText("a@x.de");
    window.EditPort->setText("25 ");
    fakes.messages.AnswerQuestions({false});
    Click("ToolButton8");
    EXPECT_EQ(fakes.cursor.depth, 0);
    EXPECT_GE(fakes.cursor.busyCalls, 1);
    EXPECT_EQ(fakes.messages.shown.back().text, "'25 ' ist kein gültiger Integerwert");
    EXPECT_EQ(window.StatusText(), "");

    window.EditPort->setText("25");
    transport.failAttempt = {1};
    fakes.messages.AnswerQuestions({false});
    Click("ToolButton8");
    EXPECT_EQ(window.StatusText(), "");
    EXPECT_EQ(fakes.cursor.depth, 0);
}

TEST_F(RunWindowTest, ConnectionCheckShowsPicturesAndLabel) {
    EXPECT_FALSE(window.LabelStatus->isVisibleTo(&window));
    window.SetOnlineChecker(std::make_unique<AnswerChecker>(true));
    Click("ToolButtonCheck");
    EXPECT_TRUE(window.LabelStatus->isVisibleTo(&window));
    EXPECT_EQ(window.LabelStatus->text(), "Online");
    EXPECT_TRUE(window.ImageConnect->isVisibleTo(&window));
    EXPECT_FALSE(window.ImageDisconnect->isVisibleTo(&window));
    window.SetOnlineChecker(std::make_unique<AnswerChecker>(false));
    Click("ToolButtonCheck");
    EXPECT_EQ(window.LabelStatus->text(), "Offline");
    EXPECT_FALSE(window.ImageConnect->isVisibleTo(&window));
    EXPECT_TRUE(window.ImageDisconnect->isVisibleTo(&window));
}

}  // namespace
