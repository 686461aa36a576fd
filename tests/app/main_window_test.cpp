#include "app/main_window.h"
#include "help/help_viewer.h"
#include "listedit/form_grid.h"
#include "listedit/form_import.h"
#include "mailing/file_io.h"
#include "mailing/settings_file.h"
#include "tests/support/qt/fake_services.h"
#include "tests/support/qt/qt_printers.h"
#include "tests/support/qt/toolbar_check.h"
#include "tests/support/temp_dir.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

// Every test gets its own data home, so the data folder is fresh.
class MainWindowTest : public ::testing::Test {
protected:
    std::string Folder() const { return home.Path() + "/ptdata/"; }
    void WriteSettingsFile(const std::string& bytes) {
        mkdir(Folder().c_str(), 0700);
        WriteFileAtomic(Folder() + "postira.ini", bytes);
    }
    QToolButton* Button(const char* name) { return window.findChild<QToolButton*>(QString::fromLatin1(name)); }

    DataHome home;
    FakeServices fakes;
    TFormNewMail window;
};

TEST_F(MainWindowTest, ToolbarHasEveryCommandInOrderWithPictures) {
    const std::vector<std::pair<QString, QString>> expected = {
        {"ToolButton1", "Empfängerliste"},
        {"ToolButton2", "Einstellungen speichern"},
        {"ToolButtonOptions", "Versandoptionen"},
        {"ToolButtonCheckMailing", "Mailing prüfen"},
        {"ToolButton3", "Mailing starten"},
        {"ToolButton4", "Mailing stoppen"},
        {"|", ""},
        {"ToolButtonCheck", "Prüfe Onlineverbindung"},
        {"ToolButton8", "Testmail senden"},
        {"|", ""},
        {"ToolButton14", "Messagefeld löschen"},
        {"ToolButton6", "Messagetext kopieren"},
        {"ToolButton19", "Textdatei im Messagefeld öffnen"},
        {"ToolButton11", "Standard Mailtext öffnen"},
        {"ToolButton12", "Text speichern"},
        {"|", ""},
        {"ToolButton15", "Über Postira"},
        {"ToolButton16", "Hilfe"},
        {"ToolButton13", "Online Update"},
        {"|", ""},
        {"ToolButton18", "Beenden"},
        {"|", ""},
    };
    ExpectToolBar(window.ToolBar1, expected);
    for (QToolButton* button : window.ToolBar1->findChildren<QToolButton*>(QRegularExpression("^ToolButton")))
        EXPECT_EQ(button->size(), QSize(30, 30)) << button->objectName().toStdString();
}

TEST_F(MainWindowTest, WindowLooksAsSpecified) {
    EXPECT_EQ(window.windowTitle(), "Korvex");
    EXPECT_EQ(window.size(), QSize(761, 476));
    EXPECT_FALSE(window.windowFlags() & Qt::WindowMaximizeButtonHint);
    for (const char* name : {"EditHost", "EditPort", "EditUser", "MaskEdit", "EditMail", "Edit1", "EditCC",
                             "EditSubject", "EditPatch"}) {
        EXPECT_NE(window.findChild<QLineEdit*>(QString::fromLatin1(name)), nullptr) << name;
    }
    EXPECT_EQ(window.MaskEdit->echoMode(), QLineEdit::Password);
    EXPECT_EQ(window.PanelMessage->palette().color(QPalette::WindowText), QColor(0, 0, 128));
    EXPECT_EQ(window.PanelMessage->palette().color(QPalette::Window), QColor(192, 192, 192));
    EXPECT_TRUE(window.PanelMessage->font().bold());
    window.SetStatus("Mailing abgebrochen!", true);
    EXPECT_EQ(window.PanelMessage->palette().color(QPalette::WindowText), QColor(128, 0, 0));
}

TEST_F(MainWindowTest, FirstStartWithoutDataFolder) {
    window.EditHost->setText("stale");
    window.FormShow();
    EXPECT_TRUE(QFileInfo(QString::fromStdString(Folder())).isDir());
    EXPECT_EQ(window.DataFolder(), Folder());
    EXPECT_EQ(window.StandardTextPath(), Folder() + "defaultmail.txt");
    for (QLineEdit* field : {window.EditHost, window.EditUser, window.MaskEdit, window.EditPort})
        EXPECT_EQ(field->text(), "");
    EXPECT_TRUE(window.ImageDisconnect->isVisibleTo(&window));
    EXPECT_FALSE(window.ImageConnect->isVisibleTo(&window));
    EXPECT_FALSE(window.LabelStatus->isVisibleTo(&window));
    EXPECT_TRUE(window.acceptDrops());
    EXPECT_TRUE(window.HelpFile().endsWith("/postira.chm"));
}

TEST_F(MainWindowTest, FormShowReadsPlainAndEncipheredFiles) {
    WriteSettingsFile("smtp.example.de\r\nich@example.de\r\ngeheim\r\n25\r\n");
    window.FormShow();
    EXPECT_EQ(window.EditHost->text(), "smtp.example.de");
    EXPECT_EQ(window.EditUser->text(), "ich@example.de");
    EXPECT_EQ(window.MaskEdit->text(), "geheim");
    EXPECT_EQ(window.EditPort->text(), "25");

    WriteSettingsFile(EncodeSettingsFile({"mail.gmx.de", "anna@gmx.de", " Pass wort ", "587"}, {}));
    TFormNewMail second;
    second.FormShow();
    EXPECT_EQ(second.EditHost->text(), "mail.gmx.de");
    EXPECT_EQ(second.MaskEdit->text(), " Pass wort ");
    EXPECT_EQ(second.EditPort->text(), "587");
}

TEST_F(MainWindowTest, UnreadableSettingsStopFormShow) {
    mkdir(Folder().c_str(), 0700);
    mkdir((Folder() + "postira.ini").c_str(), 0700);
    EXPECT_THROW(window.FormShow(), EFileError);
}

TEST_F(MainWindowTest, BeendenSavesButCloseButtonDoesNot) {
    window.FormShow();
    window.show();
    window.EditHost->setText("smtp.neu.de");
    window.EditPort->setText("25");
    // The window system's close button with changed fields asks: "Abbrechen" keeps the window open,
    // "Nein" closes it without saving.
    fakes.messages.choices = {2, 1};
    for (const bool stays : {true, false}) {
        QCloseEvent close;
        QApplication::sendEvent(window.windowHandle(), &close);
        EXPECT_EQ(window.isVisible(), stays);
    }
    EXPECT_FALSE(FileExists(Folder() + "postira.ini"));
    ASSERT_EQ(fakes.messages.shown.size(), 2u);
    EXPECT_TRUE(fakes.messages.shown[0].text.startsWith("Änderungen speichern?"));
    fakes.messages.shown.clear();

    window.show();
    Button("ToolButton18")->click();
    EXPECT_FALSE(window.isVisible());
    TFormNewMail next;
    next.FormShow();
    EXPECT_EQ(next.EditHost->text(), "smtp.neu.de");
    EXPECT_EQ(next.EditPort->text(), "25");
    EXPECT_TRUE(fakes.messages.shown.empty());
}

TEST_F(MainWindowTest, BeendenThatCannotSaveKeepsTheWindowOpen) {
    window.FormShow();
    window.show();
    mkdir((Folder() + "postira.ini").c_str(), 0700);  // nothing can be written there
    Button("ToolButton18")->click();
    EXPECT_TRUE(window.isVisible());
    ASSERT_EQ(fakes.messages.shown.size(), 1u);
    EXPECT_EQ(fakes.messages.shown[0].kind, "Postira");
    EXPECT_TRUE(fakes.messages.shown[0].text.contains("kann nicht erstellt werden."));
    window.close();
}

TEST_F(MainWindowTest, SaveSettingsSetsStatusText) {
    window.FormShow();
    window.EditUser->setText("ich@example.de");
    Button("ToolButton2")->click();
    EXPECT_EQ(window.StatusText(), "Einstellungen gespeichert.");
    SettingsFile file(Folder());
    EXPECT_EQ(file.LoadSettings().user, "ich@example.de");
}

void Drop(QWidget& target, const QList<QUrl>& urls) {
    QMimeData data;
    data.setUrls(urls);
    data.setText(urls.first().toString());  // file managers offer it as text too, which fields would insert
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&target, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&target, &drop);
}

TEST_F(MainWindowTest, FileDroppedAnywhereLoadsOnlyTheFirstIntoTheMessageField) {
    window.FormShow();
    window.show();
    home.Write("one.txt", "Hallo $Name,\r\nzweite Zeile\r\n");
    home.Write("two.txt", "zwei");
    home.Write("three.txt", "drei");
    const QList<QUrl> files = {QUrl::fromLocalFile(QString::fromStdString(home.File("one.txt"))),
                               QUrl::fromLocalFile(QString::fromStdString(home.File("two.txt"))),
                               QUrl::fromLocalFile(QString::fromStdString(home.File("three.txt")))};
    // The window's own area, a text field, and the message field where the pointer lets go of the file.
    for (QWidget* target : {static_cast<QWidget*>(&window), static_cast<QWidget*>(window.EditSubject),
                            window.Memo2->viewport()}) {
        SCOPED_TRACE(target->metaObject()->className());
        window.Memo2->setPlainText("vorher");
        window.EditSubject->setText("Betreff");
        Drop(*target, files);
        EXPECT_EQ(window.Memo2->toPlainText(), "Hallo $Name,\nzweite Zeile");
        EXPECT_EQ(window.EditSubject->text(), "Betreff");
    }
    EXPECT_EQ(window.CurrentTextFile(), QString::fromStdString(home.File("one.txt")));
    EXPECT_TRUE(fakes.messages.shown.empty());
    // The picture of the window after the drop, when asked for (docs/ keeps one taken under Xvfb).
    const QString shot = qEnvironmentVariable("POSTIRA_DROP_SCREENSHOT");
    if (!shot.isEmpty()) {
        EXPECT_TRUE(window.grab().save(shot));
    }
    window.close();
}

TEST_F(MainWindowTest, DroppedFolderShowsFileErrorAndChangesNothing) {
    window.FormShow();
    window.Memo2->setPlainText("unverändert");
    Drop(window, {QUrl::fromLocalFile(QString::fromStdString(home.Path()))});
    ASSERT_EQ(fakes.messages.shown.size(), 1u);
    EXPECT_EQ(fakes.messages.shown[0].kind, "Postira");
    EXPECT_EQ(fakes.messages.shown[0].text.left(6), "Datei ");
    EXPECT_TRUE(fakes.messages.shown[0].text.contains("kann nicht geöffnet werden."));
    EXPECT_EQ(window.Memo2->toPlainText(), "unverändert");
    EXPECT_EQ(window.CurrentTextFile(), "");
}

TEST_F(MainWindowTest, F1InAnyFieldAsksForHelpContents) {
    window.FormShow();
    window.show();
    QSignalSpy help(&window, &TFormNewMail::HelpContentsRequested);
    QTest::keyClick(window.EditSubject, Qt::Key_F1);
    QTest::keyClick(window.Memo2, Qt::Key_F1);
    EXPECT_EQ(help.count(), 2);
    QTest::keyClick(window.EditSubject, Qt::Key_F2);
    EXPECT_EQ(help.count(), 2);
    Button("ToolButton16")->click();
    EXPECT_EQ(help.count(), 3);
    window.close();
}

TEST_F(MainWindowTest, RecipientListGetsTheDataFolder) {
    window.FormShow();
    TFormGrid grid;
    window.SetOtherWindows({nullptr, &grid, nullptr, nullptr});
    // The new data folder has no list yet: the grid offers the open dialog, which is cancelled.
    fakes.dialogs.results.push_back(std::nullopt);
    QTimer::singleShot(0, &grid, [&grid] { grid.reject(); });
    Button("ToolButton1")->click();
    EXPECT_EQ(grid.DataFolder(), Folder());
}

class RecordingHelpEngine : public HtmlHelpEngine {
public:
    explicit RecordingHelpEngine(std::vector<std::pair<int, int>>* calls) : calls_(calls) {}
    void HtmlHelp(QWidget*, const QString&, int command, const QVariant& data) override {
        calls_->push_back({command, data.toInt()});
    }

private:
    std::vector<std::pair<int, int>>* calls_;
};

TEST_F(MainWindowTest, ListEditorHelpOpensContext100AndF1TheContents) {
    std::vector<std::pair<int, int>> calls;
    TVelHtmlHelpViewer viewer(std::make_unique<RecordingHelpEngine>(&calls));
    viewer.Register(HelpManager::Instance());
    window.FormShow();
    TFormGrid grid;
    TFormImport import;
    window.SetOtherWindows({nullptr, &grid, nullptr, &import});
    emit grid.HelpContextRequested(100);
    emit import.HelpContextRequested(100);
    window.show();
    QTest::keyClick(window.EditHost, Qt::Key_F1);
    window.close();
    viewer.Unregister();
    EXPECT_EQ(calls, (std::vector<std::pair<int, int>>{{HH_HELP_CONTEXT, 100}, {HH_HELP_CONTEXT, 100}, {HH_DISPLAY_TOC, 0}}));
}

}  // namespace
