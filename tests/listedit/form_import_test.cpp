#include "listedit/form_import.h"
#include "listedit/line_number_editor.h"
#include "tests/listedit/listedit_fixture.h"

#include <QAction>
#include <QGroupBox>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextCursor>
#include <QToolBar>
#include <QToolButton>

namespace {

class ImportTest : public ListEditorTest {
protected:
    ImportTest() {
        WriteList("");
        grid.FormShow();
    }

    TFormImport& Import() { return grid.ImportWindow(); }
    QToolButton* Button(const char* name) { return Import().findChild<QToolButton*>(QString::fromLatin1(name)); }
    // Opens a file through the window's own command, as the user does.
    void Open(const std::string& name, const std::string& bytes) {
        home.Write(name, bytes);
        fakes.dialogs.results.push_back(QString::fromStdString(home.File(name)));
        Button("ToolButton19")->click();
    }
    void Type(const QString& text) {
        Import().SynMemo1->setPlainText(text);
        Import().DetectSeparator();
    }
};

TEST_F(ImportTest, ToolbarShowsEveryHint) {
    const std::vector<std::pair<QString, QString>> expected = {
        {"ToolButton14", "Messagefeld löschen"}, {"ToolButton19", "Datei öffnen"}, {"ToolButton12", "Speichern"}, {"ToolButton6", "Kopieren"},
        {"ToolButton11", "Daten importieren"}, {"|", ""}, {"ToolButton16", "Hilfe"}, {"|", ""},
        {"ToolButton18", "Beenden"}, {"|", ""}, {"GroupBox1", ""},
    };
    ExpectToolBar(Import().ToolBar1, expected);
    EXPECT_EQ(Button("ToolButton14")->accessibleName(), "Messagefeld löschen");
    EXPECT_EQ(Import().RadioButton1->text(), "Semikolon ;");
    EXPECT_EQ(Import().RadioButton2->text(), "Komma ,");
    EXPECT_EQ(Import().GroupBox1->title(), "Trennzeichen");
    EXPECT_EQ(Import().windowTitle(), "Import");
    EXPECT_EQ(Import().size(), QSize(778, 525));
}

TEST_F(ImportTest, SemicolonInTheFirstFourLinesWins) {
    Open("a.csv", "a,b,c\r\nd;e,f\r\ng,h\r\n");
    EXPECT_EQ(fakes.dialogs.calls.back().filter, "csv|*.csv|Alle|*.*");
    EXPECT_EQ(Import().Separator, ";");
    EXPECT_TRUE(Import().RadioButton1->isChecked());

    Type("a,b\nc,d\ne,f\ng,h\ni;j\n");
    EXPECT_EQ(Import().Separator, ",");
    EXPECT_TRUE(Import().RadioButton2->isChecked());
    EXPECT_FALSE(Import().RadioButton1->isChecked());

    // Neither: no separator, and no radio button that would pretend one.
    Type("a b\nc d\n");
    EXPECT_EQ(Import().Separator, "");
    EXPECT_FALSE(Import().RadioButton1->isChecked());
    EXPECT_FALSE(Import().RadioButton2->isChecked());

    // A cancelled open dialog still looks at the editor's text; the user's choice sets it too.
    Import().SynMemo1->setPlainText("x;y");
    fakes.dialogs.results.push_back(std::nullopt);
    Button("ToolButton19")->click();
    EXPECT_EQ(Import().Separator, ";");
    Import().RadioButton2->click();
    EXPECT_EQ(Import().Separator, ",");
}

TEST_F(ImportTest, LinesBecomeRowsOfSevenFields) {
    Type("Meier,Hans,A,Angebot\n"
         "\n"
         "Schulz,Eva\n"
         "1,2,3,4,5,6,7,8,9\n"
         "\"Q,uote\",x;y\n");
    Button("ToolButton11")->click();
    EXPECT_EQ(RowText(1), "Meier|Hans|A|Angebot");
    EXPECT_EQ(RowText(2), "");
    EXPECT_EQ(RowText(3), "Schulz|Eva");
    EXPECT_EQ(RowText(4), "1|2|3|4|5|6|7");
    // Quotes mean nothing; a ";" inside a field cannot go into the list file as it is.
    EXPECT_EQ(RowText(5), "\"Q|uote\"|x,y");
    EXPECT_EQ(grid.Table().RowCount(), 19);
    EXPECT_EQ(Column(0).back(), "18");
}

TEST_F(ImportTest, TableGrowsButNeverShrinks) {
    grid.Table().SetRowCount(31);
    grid.Table().SetCell(20, 1, "alt");
    Type("a;b\nc;d\ne;f");
    Button("ToolButton11")->click();
    EXPECT_EQ(grid.Table().RowCount(), 31);
    EXPECT_EQ(RowText(3), "e|f");
    for (int r = 4; r <= 30; ++r) EXPECT_EQ(RowText(r), "") << r;
    EXPECT_EQ(Column(0).back(), "30");

    ASSERT_TRUE(grid.Table().SetRowCount(19));
    QString forty;
    for (int i = 1; i <= 40; ++i) forty += QStringLiteral("N%1;V%1\r\n").arg(i);
    Type(forty);
    Button("ToolButton11")->click();
    EXPECT_EQ(grid.Table().RowCount(), 41);
    EXPECT_EQ(RowText(40), "N40|V40");
    EXPECT_EQ(Column(0).front(), "1");
    EXPECT_EQ(Column(0).back(), "40");
}

TEST_F(ImportTest, NothingHappensWithoutTextOrSeparator) {
    grid.Table().SetCell(1, 1, "bleibt");
    Import().Separator = ";";
    Import().SynMemo1->setPlainText(" \n\t\n");
    Button("ToolButton11")->click();
    EXPECT_EQ(RowText(1), "bleibt");
    EXPECT_TRUE(fakes.messages.shown.empty());

    Type("kein Trennzeichen");
    Button("ToolButton11")->click();
    ASSERT_EQ(fakes.messages.shown.size(), 1u);
    EXPECT_EQ(fakes.messages.shown[0].kind, "Informationen");
    EXPECT_EQ(fakes.messages.shown[0].text, "Bitte Trennzeichen angeben!");
    EXPECT_EQ(RowText(1), "bleibt");
}

TEST_F(ImportTest, ImportForgetsTheGridsSort) {
    grid.Table().SetCell(1, 1, "Bauer");
    grid.Table().SetCell(2, 1, "adler");
    grid.StringGrid1MouseDown(0, 1, true);
    Type("Zander;Z\nYsop;Y\n");
    Button("ToolButton11")->click();
    // Without the reset this press would put the old descending copy over the imported rows.
    grid.StringGrid1MouseDown(0, 1, true);
    EXPECT_EQ(RowText(1), "Ysop|Y");
    EXPECT_EQ(RowText(2), "Zander|Z");
}

TEST_F(ImportTest, FilesAreReadAndSavedInTheirEncoding) {
    const std::vector<std::pair<std::string, TextEncoding>> files = {
        {std::string("\xFF\xFE" "M\0\xFC\0;\0x\0\r\0\n\0", 14), TextEncoding::Utf16LE},
        {std::string("\xFE\xFF" "\0M\0\xFC\0;\0x\0\r\0\n", 14), TextEncoding::Utf16BE},
        {"\xEF\xBB\xBFM\xC3\xBC;x\r\n", TextEncoding::Utf8Bom},
        {"M\xC3\xBC;x\r\n", TextEncoding::Local},
        {"M\xFC;x\r\n", TextEncoding::LocalLegacy},
    };
    for (const auto& [bytes, encoding] : files) {
        SCOPED_TRACE(static_cast<int>(encoding));
        Open("in.csv", bytes);
        EXPECT_EQ(Import().SynMemo1->toPlainText(), "Mü;x\n");
        EXPECT_EQ(Import().Encoding(), encoding);
        fakes.dialogs.results.push_back(QString::fromStdString(home.File("out.csv")));
        Button("ToolButton12")->click();
        EXPECT_EQ(fakes.dialogs.calls.back().filter, "");
        EXPECT_EQ(home.Read("out.csv"), bytes);
    }
    // A character Windows-1252 lacks is not saved as "?": "Nein" saves nothing, "Ja" saves UTF-8.
    Import().SynMemo1->appendPlainText(QStringLiteral("\u0142"));
    fakes.messages.AnswerQuestions({false, true});
    for (const char* expected : {"M\xFC;x\r\n", "M\xC3\xBC;x\r\n\r\n\xC5\x82"}) {
        fakes.dialogs.results.push_back(QString::fromStdString(home.File("out.csv")));
        Button("ToolButton12")->click();
        EXPECT_EQ(home.Read("out.csv"), expected);
    }
    Button("ToolButton11")->click();
    EXPECT_EQ(RowText(1), "Mü|x");
}

TEST_F(ImportTest, EachLineIsReadInItsOwnCharsetAndKeepsItsCharacters) {
    // A UTF-8 export with one Windows-1252 line; a no-break space and a line separator inside fields.
    Open("mixed.csv", "Gr\xC3\xBC\xC3\x9F;A\xC2\xA0" "B;x\xE2\x80\xA8y\r\nSch\xF6n;Eva\r\n");
    EXPECT_EQ(Import().SynMemo1->blockCount(), 3);
    Button("ToolButton11")->click();
    EXPECT_EQ(RowText(1), "Grüß|A\u00A0B|x\u2028y");
    EXPECT_EQ(RowText(2), "Schön|Eva");
    EXPECT_EQ(RowText(3), "");
    // Saved whole as UTF-8: every character is kept.
    fakes.dialogs.results.push_back(QString::fromStdString(home.File("out.csv")));
    Button("ToolButton12")->click();
    EXPECT_EQ(home.Read("out.csv"), "Gr\xC3\xBC\xC3\x9F;A\xC2\xA0" "B;x\xE2\x80\xA8y\r\nSch\xC3\xB6n;Eva\r\n");
}

TEST_F(ImportTest, HostileFilesDoNotHarm) {
    // UTF-16 without a mark reads as text with zero characters in it; binary bytes as Windows-1252.
    Open("utf16.csv", std::string("a\0;\0b\0\r\0\n\0", 10));
    Button("ToolButton11")->click();
    EXPECT_EQ(Import().Separator, ";");
    // 60 lines of binary bytes and one of 800 commas: one row each.
    std::string binary;
    for (int i = 1; i <= 48000; ++i) {
        const char byte = static_cast<char>(i * 131 % 256);
        if (byte != '\r' && byte != '\n') binary += byte;
        if (i % 800 == 0) binary += "\r\n";
    }
    Open("binary.bin", binary + std::string(800, ','));
    Import().RadioButton1->click();
    Button("ToolButton11")->click();
    EXPECT_EQ(grid.Table().RowCount(), 62);
}

TEST_F(ImportTest, EditorCommandsAndShowing) {
    Import().SynMemo1->setPlainText("eins;zwei\ndrei");
    Button("ToolButton6")->click();
    EXPECT_EQ(fakes.clipboard.Text(), "");
    QTextCursor cursor = Import().SynMemo1->textCursor();
    cursor.setPosition(5);
    cursor.setPosition(12, QTextCursor::KeepAnchor);
    Import().SynMemo1->setTextCursor(cursor);
    Button("ToolButton6")->click();
    EXPECT_EQ(fakes.clipboard.Text(), "zwei\ndr");

    Import().DetectSeparator();
    Button("ToolButton14")->click();
    EXPECT_EQ(Import().SynMemo1->toPlainText(), "");
    EXPECT_EQ(Import().Separator, ";");

    // Showing again empties the editor and the radio buttons but keeps the separator.
    Import().SynMemo1->setPlainText("x");
    Import().show();
    EXPECT_EQ(Import().SynMemo1->toPlainText(), "");
    EXPECT_FALSE(Import().RadioButton1->isChecked());
    EXPECT_EQ(Import().Separator, ";");
    EXPECT_GE(Import().SynMemo1->GutterWidth(), 25);
    // Restoring the minimised window is no new showing: the text stays.
    Import().SynMemo1->setPlainText("bleibt");
    Import().showMinimized();
    Import().showNormal();
    EXPECT_EQ(Import().SynMemo1->toPlainText(), "bleibt");

    QSignalSpy help(&Import(), &TFormImport::HelpContextRequested);
    QTest::keyClick(Import().SynMemo1, Qt::Key_F1);
    Button("ToolButton16")->click();
    ASSERT_EQ(help.count(), 2);
    EXPECT_EQ(help[0][0].toInt(), 100);
    Button("ToolButton18")->click();
    EXPECT_FALSE(Import().isVisible());
}

TEST_F(ImportTest, HeadingLineIsLeftOutOnYesAndTheCountIsTold) {
    for (const bool leaveOut : {true, false}) {
        fakes.messages.shown.clear();
        fakes.messages.AnswerQuestions({leaveOut});
        Type("Name;Vorname;Email;Thema\nMeier;Hans;h@x.de\n\nSchulz;Eva;e@x.de\n");
        Button("ToolButton11")->click();
        ASSERT_EQ(fakes.messages.shown.size(), 2u);
        EXPECT_EQ(fakes.messages.shown[0].text, "Die erste Zeile sieht wie eine Überschrift aus (\"Name;Vorname;Email;Thema\"). "
                                                "Ohne sie importieren?");
        EXPECT_EQ(fakes.messages.shown[1].text, QString("%1 Zeilen wurden in die Tabelle übernommen.").arg(leaveOut ? 2 : 3));
        EXPECT_EQ(RowText(1), leaveOut ? "Meier|Hans|h@x.de" : "Name|Vorname|Email|Thema");
    }
}

TEST_F(ImportTest, EveryToolbarButtonOfBothWindowsHasATooltip) {
    QStringList walked;  // "name: tooltip" of every button (Qt's own overflow button has another name)
    for (QToolBar* bar : {grid.ToolBar1, Import().ToolBar1})
        for (QToolButton* button : bar->findChildren<QToolButton*>()) walked << button->objectName() + ": " + button->toolTip();
    EXPECT_EQ(walked.filter(QRegularExpression("^ToolButton.*: .")).size(), 13 + 7) << walked.join(", ").toStdString();
}

TEST_F(ImportTest, GridOpensTheImportWindow) {
    bool shown = false;
    onModal = [&](QDialog& dialog) { shown = &dialog == &Import(); };
    grid.findChild<QToolButton*>("ToolButton17")->click();
    EXPECT_TRUE(shown);
}

}  // namespace
