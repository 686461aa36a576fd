#include "app/about_box.h"
#include "app/main_window.h"
#include "app/updater.h"
#include "mailing/file_io.h"
#include "tests/support/qt/fake_services.h"
#include "tests/support/qt/fake_transport.h"
#include "tests/support/qt/qt_printers.h"
#include "tests/support/temp_dir.h"

#include <QApplication>
#include <QFileInfo>
#include <QLineEdit>
#include <QEnterEvent>
#include <QPlainTextEdit>
#include <QTimer>
#include <QToolButton>

#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>

namespace {

class MessageToolsTest : public ::testing::Test {
protected:
    MessageToolsTest() { window.FormShow(); }

    void Click(const char* name) { window.findChild<QToolButton*>(QString::fromLatin1(name))->click(); }
    QString InHome(const std::string& name) const { return QString::fromStdString(home.File(name)); }

    DataHome home;
    FakeServices fakes;
    TFormNewMail window;
};

TEST_F(MessageToolsTest, OpenLoadsAnyChosenFile) {
    home.Write("brief.txt", "Hallo $Name\r\nZeile 2\r\n");
    fakes.dialogs.results.push_back(InHome("brief.txt"));
    Click("ToolButton19");
    EXPECT_EQ(window.Memo2->toPlainText(), "Hallo $Name\nZeile 2");
    EXPECT_EQ(window.CurrentTextFile(), InHome("brief.txt"));
    ASSERT_EQ(fakes.dialogs.calls.size(), 1u);
    EXPECT_EQ(fakes.dialogs.calls[0].filter, "Texte|*.txt;*.html;*.htm;*.md|HTML|*.html;*.htm|Markdown|*.md|Alle Dateien|*.*");
    EXPECT_EQ(fakes.dialogs.calls[0].initialPath.toStdString(), window.DataFolder());

    // A name of a file that is not there: the field is cleared, the name kept, the error shown.
    fakes.dialogs.results.push_back(InHome("fehlt.txt"));
    Click("ToolButton19");
    EXPECT_EQ(window.Memo2->toPlainText(), "");
    EXPECT_EQ(window.CurrentTextFile(), InHome("fehlt.txt"));
    ASSERT_EQ(fakes.messages.shown.size(), 1u);
    EXPECT_TRUE(fakes.messages.shown[0].text.contains("kann nicht geöffnet werden."));

    // Cancel changes nothing.
    window.Memo2->setPlainText("bleibt");
    fakes.dialogs.results.push_back(std::nullopt);
    Click("ToolButton19");
    EXPECT_EQ(window.Memo2->toPlainText(), "bleibt");
}

TEST_F(MessageToolsTest, SaveWritesCrLfLinesAndProposesTheCurrentFile) {
    Click("ToolButton12");  // empty field: not even the dialog
    EXPECT_TRUE(fakes.dialogs.calls.empty());

    window.Memo2->setPlainText("Grüße\nzweite");
    fakes.dialogs.results.push_back(InHome("neu.txt"));
    Click("ToolButton12");
    EXPECT_EQ(home.Read("neu.txt"), "Grüße\r\nzweite\r\n");
    EXPECT_EQ(window.CurrentTextFile(), InHome("neu.txt"));
    EXPECT_EQ(fakes.dialogs.calls.back().initialPath, "");

    fakes.dialogs.results.push_back(InHome("neu.txt"));
    Click("ToolButton12");
    EXPECT_EQ(fakes.dialogs.calls.back().initialPath, InHome("neu.txt"));

    // After clearing, a newly typed text gets no proposal.
    Click("ToolButton14");
    EXPECT_EQ(window.Memo2->toPlainText(), "");
    EXPECT_EQ(window.CurrentTextFile(), "");
    window.Memo2->setPlainText("   ");  // blanks count as text
    fakes.dialogs.results.push_back(std::nullopt);
    Click("ToolButton12");
    EXPECT_EQ(fakes.dialogs.calls.back().initialPath, "");
}

TEST_F(MessageToolsTest, SaveFailureKeepsTheText) {
    window.Memo2->setPlainText("Text");
    fakes.dialogs.results.push_back(InHome("kein/ordner.txt"));
    Click("ToolButton12");
    ASSERT_EQ(fakes.messages.shown.size(), 1u);
    EXPECT_TRUE(fakes.messages.shown[0].text.contains("kann nicht erstellt werden."));
    EXPECT_EQ(window.Memo2->toPlainText(), "Text");
}

TEST_F(MessageToolsTest, CopyTakesUntrimmedTextAndIgnoresBlanks) {
    window.Memo2->setPlainText(" \t \n ");
    Click("ToolButton6");
    EXPECT_EQ(fakes.clipboard.writes, 0);
    window.Memo2->setPlainText("  Hallo Welt  ");
    Click("ToolButton6");
    EXPECT_EQ(fakes.clipboard.Text(), "  Hallo Welt  ");
}

TEST_F(MessageToolsTest, StandardTextIsCreatedOnYesOnly) {
    window.Memo2->setPlainText("vorher");
    fakes.messages.AnswerQuestions({false});
    Click("ToolButton11");
    ASSERT_EQ(fakes.messages.shown.size(), 1u);
    EXPECT_EQ(fakes.messages.shown[0].kind, "Bestätigung");
    EXPECT_EQ(fakes.messages.shown[0].text, "defaultmail.txt nicht gefunden. Neuen Standardtext erstellen?");
    EXPECT_EQ(window.Memo2->toPlainText(), "vorher");
    EXPECT_EQ(window.CurrentTextFile(), "");
    EXPECT_FALSE(FileExists(window.StandardTextPath()));

    fakes.messages.AnswerQuestions({true});
    Click("ToolButton11");
    const std::string text = ReadWholeFile(window.StandardTextPath());
    EXPECT_EQ(text,
              "Sehr geehrte(r) Frau/Herr $PreName $Name,\r\n\r\n"
              "vielen Dank, dass Sie sich für unsere Produkte entschieden haben.\r\n"
              "Anbei erhalten Sie die angeforderten Informationen. Bitte bewahren Sie diese sicher auf,\r\n"
              "Für weiter Infos stehen wir Ihnen gern zur Verfügung. Sie erreichen uns innerhalb unserer\r\n"
              "Geschäftszeiten von Mo.-Frei. 9:00 - 18:00 Uhr.\r\n\r\n"
              "Mit freundlichen Grüssen\r\nM. Mustermann\r\n");
    EXPECT_EQ(window.CurrentTextFile().toStdString(), window.StandardTextPath());
    EXPECT_TRUE(window.Memo2->toPlainText().startsWith("Sehr geehrte(r) Frau/Herr $PreName $Name,\n\nvielen"));

    // Now it exists: loaded without a question.
    window.Memo2->setPlainText("anders");
    Click("ToolButton11");
    EXPECT_EQ(fakes.messages.shown.size(), 2u);
    EXPECT_TRUE(window.Memo2->toPlainText().endsWith("M. Mustermann"));

    // A text typed and never saved is not replaced without a question: "Abbrechen" keeps it, "Nein"
    // lets the standard text in.
    window.Memo2->clear();
    QTest::keyClicks(window.Memo2, "Entwurf");
    fakes.messages.choices = {2, 1};
    Click("ToolButton11");
    EXPECT_EQ(window.Memo2->toPlainText(), "Entwurf");
    Click("ToolButton11");
    EXPECT_TRUE(window.Memo2->toPlainText().endsWith("M. Mustermann"));
    ASSERT_EQ(fakes.messages.shown.size(), 4u);
    EXPECT_EQ(fakes.messages.shown[2].text,
              "Änderungen speichern?\n\nDer Text im Messagefeld ist noch nicht gespeichert.");
}

TEST_F(MessageToolsTest, WindowsTextIsShownAndSavedBackInItsCharset) {
    home.Write("alt.txt", "Gr\xFC\xDF" "e\r\n");
    fakes.dialogs.results.push_back(InHome("alt.txt"));
    Click("ToolButton19");
    EXPECT_EQ(window.Memo2->toPlainText(), "Grüße");
    fakes.dialogs.results.push_back(InHome("alt.txt"));
    Click("ToolButton12");
    EXPECT_EQ(home.Read("alt.txt"), "Gr\xFC\xDF" "e\r\n");
}

TEST_F(MessageToolsTest, UpdaterPrefersInstallAndPassesItsParameters) {
    home.Write("Install.exe", "");
    home.Write("Updater.exe", "");
    window.SetProgramFolder(QString::fromStdString(home.Path()));
    Click("ToolButton13");
    ASSERT_EQ(fakes.launcher.started.size(), 1u);
    EXPECT_EQ(fakes.launcher.started[0].program, InHome("Install.exe"));
    const QStringList& args = fakes.launcher.started[0].arguments;
    ASSERT_EQ(args.size(), 5);
    EXPECT_EQ(args[0], "korvexD");
    EXPECT_EQ(args[1], FileVersionText());
    EXPECT_EQ(args[2], QFileInfo(QCoreApplication::applicationFilePath()).fileName());
    EXPECT_EQ(args[3], "0");
    EXPECT_TRUE(fakes.messages.shown.empty());
}

TEST(Updater, FallsBackToUpdaterAndReportsAFailedStart) {
    TempDir folder;
    FakeServices fakes;
    const QString path = QString::fromStdString(folder.Path());
    EXPECT_EQ(BuildUpdaterLaunch(path, "1.2.3.4", "postira").program, path + "/Updater.exe");
    // No updater beside the program (an installed package): the package manager updates it.
    StartUpdater(path, "1.2.3.4", "postira");
    EXPECT_TRUE(fakes.launcher.started.empty());
    ASSERT_EQ(fakes.messages.shown.size(), 1u);
    EXPECT_EQ(fakes.messages.shown[0].kind, "Informationen");
    EXPECT_NE(fakes.messages.shown[0].text.indexOf("das Paket heißt \"postira\""), -1);
    fakes.messages.shown.clear();
    folder.Write("Install", "");  // the Linux name without ".exe"
    const UpdaterLaunch launch = BuildUpdaterLaunch(path, "1.2.3.4", "postira");
    EXPECT_EQ(launch.program, path + "/Install");
    EXPECT_EQ(UpdaterParameterText(launch), "korvexD 1.2.3.4 postira 0 postira");

    fakes.launcher.startSucceeds = false;
    StartUpdater(path, "1.2.3.4", "postira");
    ASSERT_EQ(fakes.messages.shown.size(), 1u);
    EXPECT_EQ(fakes.messages.shown[0].text,
              "Online Update konnte nicht gestartet werden oder vom Benutzer abgebrochen!");
}

TEST_F(MessageToolsTest, AboutBoxShowsTheBuildVersionAndOpensThePage) {
    EXPECT_EQ(FileVersionText(), QStringLiteral(POSTIRA_VERSION));
    EXPECT_EQ(FileVersionText().count('.'), 3);
    TAboutBox about(&window);
    window.SetOtherWindows({&about, nullptr, nullptr, nullptr});
    QString shownVersion;
    QTimer::singleShot(0, &about, [&] {
        shownVersion = about.LabelVersion->text();
        about.accept();
    });
    Click("ToolButton15");
    EXPECT_EQ(shownVersion, FileVersionText());
    EXPECT_EQ(about.windowTitle(), "Über ...");
    EXPECT_EQ(about.size(), QSize(357, 218));

    QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QApplication::sendEvent(about.Label5, &enter);
    EXPECT_EQ(about.Label5->cursor().shape(), Qt::PointingHandCursor);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(about.Label5, &leave);
    EXPECT_EQ(about.Label5->cursor().shape(), Qt::ArrowCursor);

    about.Label5Click();
    ASSERT_EQ(fakes.launcher.opened.size(), 1u);
    EXPECT_EQ(fakes.launcher.opened[0].toString(), "http://www.postira.example");
}

// HTML and Markdown texts: the field shows their source, saving keeps the
// kind (its files first, its ending on a name typed without one, a question before that name replaces a
// file), a plain text is saved as it always was, and the test mail sends the field as HTML.
TEST_F(MessageToolsTest, HtmlAndMarkdownTextsKeepTheirKind) {
    home.Write("brief.html", "<p>Hallo $Name</p>\r\n<img src=\"logo.png\">\r\n");
    home.Write("logo.png", "\x89PNG\r\n\x1A\n");
    fakes.dialogs.results.push_back(InHome("brief.html"));
    Click("ToolButton19");
    EXPECT_EQ(window.Memo2->toPlainText(), "<p>Hallo $Name</p>\n<img src=\"logo.png\">");

    const struct {
        const char* current;
        const char* typed;
        const char* filter;
        const char* written;
    } saves[] = {
        {"alt.html", "neu", "HTML|*.html;*.htm|Alle Dateien|*.*", "neu.html"},
        {"alt.HTM", "neu.htm", "HTML|*.html;*.htm|Alle Dateien|*.*", "neu.htm"},
        {"alt.md", "ordner.v2/neu", "Markdown|*.md|Alle Dateien|*.*", "ordner.v2/neu.md"},
        {"alt.txt", "schlicht", "", "schlicht"},
    };
    std::filesystem::create_directory(home.File("ordner.v2"));
    for (const auto& save : saves) {
        home.Write(save.current, "Text");
        fakes.dialogs.results.push_back(InHome(save.current));
        Click("ToolButton19");
        fakes.dialogs.results.push_back(InHome(save.typed));
        Click("ToolButton12");
        EXPECT_EQ(fakes.dialogs.calls.back().filter, save.filter) << save.current;
        EXPECT_EQ(fakes.dialogs.calls.back().initialPath, InHome(save.current));
        EXPECT_EQ(home.Read(save.written), "Text\r\n") << save.written;
        EXPECT_EQ(window.CurrentTextFile(), InHome(save.written));
    }
    EXPECT_TRUE(fakes.messages.shown.empty());
    // "neu" once more: "neu.html" is there, and "Nein" keeps it.
    home.Write("neu.html", "alt");
    window.SetCurrentTextFile(InHome("alt.html"));
    fakes.messages.AnswerQuestions({false});
    fakes.dialogs.results.push_back(InHome("neu"));
    Click("ToolButton12");
    ASSERT_EQ(fakes.messages.shown.size(), 1u);
    EXPECT_EQ(fakes.messages.shown[0].text, "Die Datei \"neu.html\" gibt es schon. Ersetzen?");
    EXPECT_EQ(home.Read("neu.html"), "alt");
    EXPECT_FALSE(FileExists(home.File("neu")));

    // The test mail sends the field's HTML with its picture inside.
    FakeTransport transport;
    window.SetTransport(std::make_unique<SharedFakeTransport>(transport));
    window.EditHost->setText("smtp.example.de");
    window.EditUser->setText("ich@example.de");
    window.EditPort->setText("25");
    window.EditMail->setText("test@x.de");
    fakes.dialogs.results.push_back(InHome("brief.html"));
    Click("ToolButton19");
    fakes.messages.AnswerQuestions({false});
    Click("ToolButton8");
    ASSERT_EQ(transport.sent.size(), 1u);
    ASSERT_TRUE(transport.sent[0].html);
    EXPECT_TRUE(transport.sent[0].bodyLines.empty());
    EXPECT_EQ(transport.sent[0].html->pictures.size(), 1u);
    EXPECT_EQ(transport.sent[0].html->text, "Hallo $Name\n");
}

}  // namespace
