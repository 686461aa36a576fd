#include "listedit/form_grid.h"
#include "listedit/form_loeschen.h"
#include "mailing/run_journal.h"
#include "mailing/send_time.h"
#include "tests/listedit/listedit_fixture.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QAction>
#include <QHeaderView>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include <cstdio>
#include <unistd.h>

namespace {

using GridTest = ListEditorTest;

std::string Lines(int count, const char* pattern = "Name%1;Vorname%1;a%1@example.de;Thema;default;not send;;") {
    std::string text;
    for (int i = 1; i <= count; ++i) text += QString::fromLatin1(pattern).arg(i).toStdString() + "\r\n";
    return text;
}

QToolButton* Button(TFormGrid& grid, const char* name) {
    return grid.findChild<QToolButton*>(QString::fromLatin1(name));
}

// A left (or other) press in the middle of a column's header cell.
void PressHeader(TFormGrid& grid, int column, Qt::MouseButton button = Qt::LeftButton) {
    QHeaderView* header = grid.StringGrid1->horizontalHeader();
    const int x = header->sectionViewportPosition(column - 1) + header->sectionSize(column - 1) / 2;
    QTest::mouseClick(header->viewport(), button, {}, QPoint(x, header->height() / 2));
}

TEST_F(GridTest, ToolbarHasEveryCommandWithItsHint) {
    const std::vector<std::pair<QString, QString>> expected = {
        {"ToolButton1", "Neu"},
        {"ToolButton3", "Empfängerliste laden"},
        {"ToolButton4", "Liste speichern"},
        {"ToolButton5", "Zeile einfügen"},
        {"ToolButton10", "Zeile entfernen"},
        {"|", ""},
        {"ToolButton7", "Kopieren"},
        {"ToolButton8", "Einfügen"},
        {"ToolButton11", "Gesamte Liste löschen"},
        {"ToolButton12", "Textdatei in Liste einfügen"},
        {"|", ""},
        {"ToolButton17", "Datei importieren"},
        {"ToolButtonPreview", "Vorschau"},
        {"|", ""},
        {"ToolButton14", "Hilfe"},
        {"|", ""},
        {"ToolButton15", "Schliessen"},
    };
    ExpectToolBar(grid.ToolBar1, expected);
    EXPECT_EQ(grid.windowTitle(), "Empfänger");
    EXPECT_EQ(grid.size(), QSize(795, 550));
    EXPECT_EQ(grid.ToolBar1->height(), 29);
}

// The open editor of the current cell: it opens as soon as the cell is current (closed editors may
// still wait for deletion).
QLineEdit* CellEditor(TFormGrid& grid) {
    for (QLineEdit* candidate : grid.StringGrid1->viewport()->findChildren<QLineEdit*>()) {
        if (candidate->isVisible()) return candidate;
    }
    return nullptr;
}

TEST_F(GridTest, LoadKeepsLinePositionsAndNeverShrinks) {
    WriteList("Meier;Hans;h@x.de;Angebot;default;not send;;\r\n"
              "Schulz;Eva\n"
              "   \r"
              "a;b;c;d;e;f;g;h;i\r\n");
    grid.FormShow();
    EXPECT_TRUE(fakes.dialogs.calls.empty());
    EXPECT_EQ(grid.Table().RowCount(), 19);
    EXPECT_EQ(RowText(1), "Meier|Hans|h@x.de|Angebot|default|not send");
    EXPECT_EQ(RowText(2), "Schulz|Eva");
    EXPECT_EQ(RowText(3), "");
    EXPECT_EQ(RowText(4), "a|b|c|d|e|f|g");
    EXPECT_EQ(grid.Table().Cell(0, 1), "     Name");
    EXPECT_EQ(grid.Table().Cell(0, 6), "     Gesendet");
    EXPECT_EQ(grid.Table().Cell(18, 0), "18");

    // 30 lines grow the table to 31 rows; a later 5-line list keeps them, emptied below.
    home.Write("thirty.csv", Lines(30));
    fakes.dialogs.results.push_back(QString::fromStdString(home.File("thirty.csv")));
    Button(grid, "ToolButton3")->click();
    EXPECT_EQ(grid.Table().RowCount(), 31);
    EXPECT_EQ(grid.ListFileName, home.File("thirty.csv"));
    EXPECT_EQ(fakes.dialogs.calls.back().filter, "CSV (*.csv)|*.csv|All|*.*");
    EXPECT_EQ(fakes.dialogs.calls.back().initialPath, QString::fromStdString(ListPath()));

    home.Write("five.csv", Lines(5));
    fakes.dialogs.results.push_back(QString::fromStdString(home.File("five.csv")));
    Button(grid, "ToolButton3")->click();
    EXPECT_EQ(grid.Table().RowCount(), 31);
    EXPECT_EQ(RowText(5), "Name5|Vorname5|a5@example.de|Thema|default|not send");
    for (int r = 6; r <= 30; ++r) EXPECT_EQ(RowText(r), "") << r;
    EXPECT_EQ(grid.Table().Cell(30, 0), "30");

    // A cancelled dialog changes nothing.
    fakes.dialogs.results.push_back(std::nullopt);
    Button(grid, "ToolButton3")->click();
    EXPECT_EQ(RowText(1), "Name1|Vorname1|a1@example.de|Thema|default|not send");
}

TEST_F(GridTest, RecoveredSendsAreSavedOnceAndStayForAResumeToSkip) {
    WriteList(Lines(3));
    { RunJournal(ListPath()).RecordSent(1, "Name2;Vorname2;a2@example.de;Thema;default;08.12.2026 10:00:00;;"); }
    grid.FormShow();
    EXPECT_EQ(RowText(2), "Name2|Vorname2|a2@example.de|Thema|default|08.12.2026 10:00:00");
    EXPECT_EQ(RowText(3), "Name3|Vorname3|a3@example.de|Thema|default|not send");
    ASSERT_EQ(fakes.messages.shown.size(), 1u);
    EXPECT_EQ(fakes.messages.shown[0].kind, "Informationen");
    EXPECT_TRUE(fakes.messages.shown[0].text.contains(" 1 bereits gesendete Mails")) << fakes.messages.shown[0].text.toStdString();

    // Meanwhile a run sends to line 3 and is killed: the table does not show that send.
    { RunJournal(ListPath(), ReadJournal(ListPath()).records).RecordSent(2, "Name3;Vorname3;a3@example.de;Thema;default;08.12.2026 10:05:00;;"); }
    grid.Table().EditCell(2, 6, "von Hand");
    // The unseen send is written, the user's cell is not overwritten, and both sends stay for a resume to
    // skip without being written again.
    fakes.dialogs.results.push_back(QString::fromStdString(ListPath()));
    Button(grid, "ToolButton4")->click();
    EXPECT_EQ(home.Read("ptdata/sendlist.csv"),
              "Name1;Vorname1;a1@example.de;Thema;default;not send;;\r\n"
              "Name2;Vorname2;a2@example.de;Thema;default;von Hand;;\r\n"
              "Name3;Vorname3;a3@example.de;Thema;default;08.12.2026 10:05:00;;\r\n");
    EXPECT_EQ(grid.Table().Cell(3, 6), "08.12.2026 10:05:00");  // the table shows what was saved
    const JournalContent journal = ReadJournal(ListPath());
    EXPECT_TRUE(journal.Interrupted());
    ASSERT_EQ(journal.records.size(), 2u);
    for (const JournalRecord& record : journal.records) EXPECT_EQ(record.kind, 'K') << record.line;
}

// Line n of Lines(), with other fields where given.
std::string Line(int n, const char* result = "not send", const char* topic = "Thema", const char* address = nullptr) {
    const std::string i = std::to_string(n);
    return "Name" + i + ";Vorname" + i + ";" + (address ? address : "a" + i + "@example.de") + ";" + topic +
           ";default;" + result + ";;\r\n";
}

TEST_F(GridTest, SaveOverAListChangedByARunAsksFirst) {
    const char* sent1 = "08.12.2026 10:00:00";
    const char* sent3 = "08.12.2026 10:00:05";
    const char* doubt = "unsicher: Verbindung nach dem Senden getrennt";
    const std::string byRun = Line(1, sent1) + Line(2) + Line(3, sent3) + Line(4, doubt);
    const std::string untouched = Line(4) + Line(3) + Line(2, "not send", "Neu") + Line(1);
    // The list's lines afterwards, and rows 1 to 4 of the table where they differ from them.
    struct Case {
        int choice, row, column;
        const char* edit;
        std::string file, table = {};
        bool warned = false;
    };
    const Case cases[] = {
        {0, 3, 4, "Neu", byRun},  // "Neu laden": the list as the run left it, nothing written
        // "Trotzdem speichern": the run's entries reach the rows of their recipients (sorted otherwise), the
        // user's edit stays. A changed address is another recipient: the old one's entry has no row, and that is said.
        {1, 3, 4, "Neu", Line(4, doubt) + Line(3, sent3) + Line(2, "not send", "Neu") + Line(1, sent1)},
        {1, 4, 3, "neu@x.de", Line(4, doubt) + Line(3, sent3) + Line(2) + Line(1, "not send", "Thema", "neu@x.de"),
         {}, true},
        {2, 3, 4, "Neu", byRun, untouched},  // "Abbrechen"
        {-1, 3, 4, "Neu", byRun, untouched},  // the box closed
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "choice " << c.choice << ", edit " << c.edit);
        WriteList(Lines(4));
        grid.FormShow();
        grid.StringGrid1MouseDown(0, 1, true);
        grid.StringGrid1MouseDown(0, 1, true);
        grid.Table().EditCell(c.row, c.column, c.edit);
        WriteList(byRun);
        fakes.messages.shown.clear();
        fakes.messages.choices.push_back(c.choice);
        fakes.dialogs.results.push_back(QString::fromStdString(ListPath()));
        Button(grid, "ToolButton4")->click();
        EXPECT_EQ(home.Read("ptdata/sendlist.csv"), c.file);
        std::string rows;
        for (int r = 1; r <= 4; ++r) rows += RowText(r) + "||\r\n";
        EXPECT_EQ(rows, QString::fromStdString(c.table.empty() ? c.file : c.table).replace(';', '|').toStdString());
        ASSERT_EQ(fakes.messages.shown.size(), c.warned ? 2u : 1u);
        const QString asked = "Die Empfängerliste \"" + QString::fromStdString(ListPath()) + "\" wurde geändert, seit";
        EXPECT_TRUE(fakes.messages.shown[0].text.startsWith(asked));
        EXPECT_EQ(fakes.messages.offered.back(), QStringList({"Neu laden", "Trotzdem speichern", "Abbrechen"}));
        if (c.choice != 0 && c.choice != 1) continue;
        // The table holds what the file holds now: saving again asks nothing and keeps the run's entries.
        fakes.dialogs.results.push_back(QString::fromStdString(ListPath()));
        Button(grid, "ToolButton4")->click();
        EXPECT_EQ(home.Read("ptdata/sendlist.csv"), c.file);
    }
}

TEST_F(GridTest, SaveAfterASortShowsWhatItSavedNumberedAsTheFileLines) {
    WriteList(Line(3) + "Meier;;meier@example.de;;;;;\r\n" + Line(1) + "Zander;;;;default;not send;;\r\n" + Line(2) +
              "\r\n;;;;default;not send;;\r\n");
    grid.FormShow();
    // Meier, Name1, Name2, Name3, Zander with their old numbers; the blank row and the one "Neu" filled go unmentioned.
    grid.StringGrid1MouseDown(0, 1, true);
    fakes.messages.AnswerQuestions({true});
    fakes.dialogs.results.push_back(QString::fromStdString(ListPath()));
    Button(grid, "ToolButton4")->click();
    ASSERT_EQ(fakes.messages.shown.size(), 1u);
    EXPECT_EQ(fakes.messages.shown[0].text, "2 Zeilen ohne Vorname werden nicht gespeichert, die erste ist Zeile 2 "
                                            "(Meier, meier@example.de). Trotzdem speichern?");
    EXPECT_EQ(home.Read("ptdata/sendlist.csv"), Line(1) + Line(2) + Line(3));
    // Row n is line n of the file, which is how the check names it.
    EXPECT_EQ(Column(0)[0] + ":" + RowText(1), "1:Name1|Vorname1|a1@example.de|Thema|default|not send");
    EXPECT_EQ(RowText(4), "");
}

TEST_F(GridTest, ClosingWithUnsavedEditsAsksFirst) {
    // "Schliessen" or the close button; the answer (-1: box closed); the save dialog picks the list; stays open.
    const struct { bool button; int choice; bool save; bool open; } cases[] = {
        {true, 0, true, false}, {false, 0, false, true}, {false, 1, false, false}, {true, 2, false, true}, {false, -1, false, true}};
    for (const auto& c : cases) {
        WriteList(Lines(2));
        grid.show();
        grid.Table().EditCell(1, 4, "Neu");
        fakes.messages.choices.push_back(c.choice);
        if (c.choice == 0) fakes.dialogs.results.push_back(c.save ? std::optional(QString::fromStdString(ListPath())) : std::nullopt);
        QCloseEvent close;  // what the window system sends for the title bar's close button
        c.button ? Button(grid, "ToolButton15")->click() : void(QApplication::sendEvent(grid.windowHandle(), &close));
        EXPECT_EQ(grid.isVisible(), c.open) << c.choice;
        EXPECT_EQ(home.Read("ptdata/sendlist.csv"), c.save ? Line(1, "not send", "Neu") + Line(2) : Lines(2));
        EXPECT_EQ(fakes.messages.offered, std::vector<QStringList>(&c - cases + 1, {"&Ja", "&Nein", "Abbrechen"}));
        grid.hide();
    }
    // Nothing to ask (the fake fails on a question): after a save, and when "Neu" left nothing to save.
    grid.show();
    grid.Table().EditCell(1, 4, "Neu");
    fakes.dialogs.results.push_back(QString::fromStdString(ListPath()));
    for (const char* name : {"ToolButton4", "ToolButton15"}) Button(grid, name)->click();
    grid.show();
    for (const char* name : {"ToolButton1", "ToolButton15"}) Button(grid, name)->click();
    EXPECT_FALSE(grid.isVisible());
}

TEST_F(GridTest, SavesOverAnUnchangedDeletedOrOtherFileAskNothing) {
    WriteList(Lines(2));
    home.Write("other.csv", "x\r\n");
    grid.FormShow();
    grid.Table().EditCell(1, 4, "Neu");
    // Unchanged since the load, then since the editor's own save; deleted, with nothing in it to lose; another file.
    for (int round = 0; round < 4; ++round) {
        if (round == 2) std::remove(ListPath().c_str());
        const std::string target = round < 3 ? "ptdata/sendlist.csv" : "other.csv";
        fakes.dialogs.results.push_back(QString::fromStdString(home.File(target)));
        Button(grid, "ToolButton4")->click();
        EXPECT_EQ(home.Read(target), Line(1, "not send", "Neu") + Line(2)) << round;
    }
    EXPECT_TRUE(fakes.messages.shown.empty());
}

TEST_F(GridTest, MissingListOffersTheOpenDialog) {
    fakes.dialogs.results.push_back(std::nullopt);
    grid.FormShow();
    ASSERT_EQ(fakes.dialogs.calls.size(), 1u);
    EXPECT_FALSE(fakes.dialogs.calls[0].save);
    EXPECT_EQ(fakes.dialogs.calls[0].initialPath, QString::fromStdString(ListPath()));
    EXPECT_EQ(grid.Table().RowCount(), 19);
    EXPECT_EQ(Column(0).back(), "18");

    // A list named with other letter case is the list, and saving proposes it under that name.
    home.Write("ptdata/SendList.CSV", "Meier;Hans;\r\n");
    grid.FormShow();
    EXPECT_EQ(fakes.dialogs.calls.size(), 1u);
    EXPECT_EQ(RowText(1), "Meier|Hans");
    fakes.dialogs.results.push_back(std::nullopt);
    Button(grid, "ToolButton4")->click();
    EXPECT_EQ(fakes.dialogs.calls.back().initialPath, QString::fromStdString(Folder() + "SendList.CSV"));
}

TEST_F(GridTest, UnreadableListShowsTheFileErrorAndLeavesTheTableCleared) {
    WriteList("Meier;Hans;\r\n");
    grid.FormShow();
    ASSERT_EQ(RowText(1), "Meier|Hans");
    // A file that cannot be read, whoever runs the test.
    std::remove(ListPath().c_str());
    ASSERT_EQ(symlink("/proc/self/clear_refs", ListPath().c_str()), 0);
    grid.show();
    ASSERT_EQ(fakes.messages.shown.size(), 1u);
    EXPECT_EQ(fakes.messages.shown[0].kind, "Postira");
    EXPECT_TRUE(fakes.messages.shown[0].text.startsWith("Datei " + QString::fromStdString(ListPath()) +
                                                        " kann nicht geöffnet werden."));
    EXPECT_EQ(RowText(1), "");
}

TEST_F(GridTest, SaveWritesTrimmedRowsThatHaveAFirstName) {
    WriteList("old\r\n");
    grid.FormShow();
    grid.Table().EditCell(1, 1, "  Meier ");
    grid.Table().EditCell(1, 2, "\tHans");
    grid.Table().EditCell(1, 3, " h@x.de ");
    grid.Table().EditCell(2, 1, "Ohne");
    grid.Table().EditCell(2, 3, "o@x.de");
    grid.Table().EditCell(2, 4, "Thema");
    grid.Table().EditCell(4, 2, "Eva");
    // A ";" typed into a cell would split the field on the next load.
    grid.Table().EditCell(5, 2, "Anna; Berta");
    grid.Table().EditCell(5, 3, "a@x.de;b@x.de");

    const std::string target = home.File("saved.csv");
    fakes.dialogs.results.push_back(QString::fromStdString(target));
    // Row 2 has no first name: "Nein" saves nothing, "Ja" saves the others.
    fakes.messages.AnswerQuestions({false, true});
    Button(grid, "ToolButton4")->click();
    Button(grid, "ToolButton4")->click();
    EXPECT_EQ(fakes.messages.shown[0].text, "1 Zeile ohne Vorname wird nicht gespeichert: Zeile 2 (Ohne, o@x.de). Trotzdem speichern?");
    ASSERT_EQ(fakes.dialogs.calls.size(), 1u);
    EXPECT_TRUE(fakes.dialogs.calls[0].save);
    EXPECT_EQ(fakes.dialogs.calls[0].filter, "CSV (*.csv)|*.csv|Alle|*.*");
    EXPECT_EQ(fakes.dialogs.calls[0].initialPath, QString::fromStdString(ListPath()));
    EXPECT_EQ(home.Read("saved.csv"), "Meier;Hans;h@x.de;;;;;\r\n"
                                      ";Eva;;;;;;\r\n"
                                      ";Anna, Berta;a@x.de,b@x.de;;;;;\r\n");
    EXPECT_EQ(grid.ListFileName, target);
    EXPECT_EQ(home.Read("ptdata/sendlist.csv"), "old\r\n");

    // A cancelled save dialog writes nothing.
    fakes.dialogs.results.push_back(std::nullopt);
    grid.SaveList();
    EXPECT_EQ(home.Read("saved.csv"), "Meier;Hans;h@x.de;;;;;\r\n"
                                      ";Eva;;;;;;\r\n"
                                      ";Anna, Berta;a@x.de,b@x.de;;;;;\r\n");
}

TEST_F(GridTest, NewListFillsDefaultsAndSavingItWritesNothing) {
    WriteList(Lines(3));
    grid.FormShow();
    Button(grid, "ToolButton1")->click();
    EXPECT_EQ(grid.Table().RowCount(), 19);
    for (int r = 1; r <= 18; ++r) EXPECT_EQ(RowText(r), "||||default|not send") << r;
    Button(grid, "ToolButton4")->click();
    EXPECT_TRUE(fakes.dialogs.calls.empty());
    EXPECT_TRUE(fakes.messages.shown.empty());
    EXPECT_EQ(home.Read("ptdata/sendlist.csv"), Lines(3));
}

TEST_F(GridTest, ListsKeepTheirCharsetThroughLoadAndSave) {
    // Windows-1252 (ü = FC, € = 80) is shown as such and written back byte for byte.
    const std::string legacy = "M\xFCller;J\xFCrgen;j@x.de;Preis 5 \x80;default;not send;;\r\n";
    WriteList(legacy);
    grid.FormShow();
    EXPECT_TRUE(grid.ListLegacy());
    EXPECT_EQ(grid.Table().Cell(1, 1), "Müller");
    EXPECT_EQ(grid.Table().Cell(1, 4), "Preis 5 €");
    fakes.dialogs.results.push_back(QString::fromStdString(ListPath()));
    grid.SaveList();
    EXPECT_EQ(home.Read("ptdata/sendlist.csv"), legacy);

    // UTF-8 with a byte order mark: the mark stays part of the first field.
    const std::string utf8 = "\xEF\xBB\xBFM\xC3\xBCller;J\xC3\xBCrgen;;;;;;\r\n";
    WriteList(utf8);
    grid.FormShow();
    EXPECT_FALSE(grid.ListLegacy());
    EXPECT_EQ(grid.Table().Cell(1, 1), QChar(0xFEFF) + QStringLiteral("Müller"));
    fakes.dialogs.results.push_back(QString::fromStdString(ListPath()));
    grid.SaveList();
    EXPECT_EQ(home.Read("ptdata/sendlist.csv"), utf8);
}

TEST_F(GridTest, WindowsListTakesPickedPathsAndNewCharactersWithoutLoss) {
    // A list from Windows: the attachment path is in Windows-1252 too, and stays so.
    const std::string line1 = "M\xFCller;J\xFCrgen;j@x.de;Preis;default;not send;C:\\Texte\\\xC4nderung.pdf;\r\n";
    WriteList(line1);
    grid.FormShow();
    ASSERT_TRUE(grid.ListLegacy());
    grid.SetCurrentCell(2, 5);
    fakes.dialogs.results.push_back(QStringLiteral("/home/anna/Übersicht.txt"));
    Button(grid, "ToolButton12")->click();
    grid.Table().EditCell(2, 2, "Eva");
    // The picked path goes out in the bytes the file system names it with; the rest stays Windows-1252,
    // and loading and saving again changes no byte.
    const std::string saved = line1 + ";Eva;;;/home/anna/\xC3\x9C" "bersicht.txt;;;\r\n";
    for (int round = 0; round < 2; ++round) {
        fakes.dialogs.results.push_back(QString::fromStdString(ListPath()));
        Button(grid, "ToolButton4")->click();
        ASSERT_EQ(home.Read("ptdata/sendlist.csv"), saved) << round;
        grid.FormShow();
        EXPECT_EQ(grid.Table().Cell(2, 5), "/home/anna/Übersicht.txt");
        EXPECT_EQ(grid.Table().Cell(1, 7), "C:\\Texte\\Änderung.pdf");
    }
    EXPECT_TRUE(fakes.messages.shown.empty());

    // A character that Windows-1252 lacks: the user is asked first, and "Nein" writes nothing.
    grid.Table().EditCell(1, 4, "Preis in Złoty");
    fakes.messages.AnswerQuestions({false, true});
    const size_t dialogs = fakes.dialogs.calls.size();
    Button(grid, "ToolButton4")->click();
    ASSERT_EQ(fakes.messages.shown.size(), 1u);
    EXPECT_EQ(fakes.messages.shown[0].kind, "Bestätigung");
    EXPECT_TRUE(fakes.messages.shown[0].text.contains("Zeile 1, Spalte \"Thema\"")) << fakes.messages.shown[0].text.toStdString();
    EXPECT_EQ(fakes.dialogs.calls.size(), dialogs);
    EXPECT_EQ(home.Read("ptdata/sendlist.csv"), saved);
    // "Ja" writes the list as UTF-8; the Windows path keeps its bytes.
    fakes.dialogs.results.push_back(QString::fromStdString(ListPath()));
    Button(grid, "ToolButton4")->click();
    EXPECT_EQ(home.Read("ptdata/sendlist.csv"),
              "M\xC3\xBCller;J\xC3\xBCrgen;j@x.de;Preis in Z\xC5\x82oty;default;not send;C:\\Texte\\\xC4nderung.pdf;\r\n"
              ";Eva;;;/home/anna/\xC3\x9C" "bersicht.txt;;;\r\n");
    EXPECT_FALSE(grid.ListLegacy());
}

TEST_F(GridTest, HeaderPressesSortAscendingThenShowDescending) {
    WriteList("Bauer;B;\r\nadler;A;\r\nClaus;C;\r\n");
    grid.show();
    grid.Table().SetRowCount(31);

    PressHeader(grid, 1);
    EXPECT_EQ(Column(1)[0], "adler");
    EXPECT_EQ(Column(1)[1], "Bauer");
    EXPECT_EQ(Column(1)[2], "Claus");
    // The number travels with its row.
    EXPECT_EQ(Column(0)[0], "2");
    EXPECT_EQ(Column(0)[1], "1");
    EXPECT_EQ(grid.Table().RowCount(), 31);
    EXPECT_EQ(grid.Sort().MarkerFor(1), GridSort::Marker::Ascending);
    EXPECT_EQ(grid.Sort().MarkerFor(2), GridSort::Marker::None);

    PressHeader(grid, 1);
    EXPECT_EQ(RowText(1), "Claus|C");
    EXPECT_EQ(RowText(2), "Bauer|B");
    EXPECT_EQ(RowText(3), "adler|A");
    EXPECT_EQ(grid.Table().RowCount(), 20);
    EXPECT_EQ(grid.Sort().MarkerFor(1), GridSort::Marker::Descending);

    PressHeader(grid, 1);
    EXPECT_EQ(Column(1)[0], "adler");
    EXPECT_EQ(grid.Sort().MarkerFor(1), GridSort::Marker::Ascending);

    // Another column starts with its ascending sort; the next renumbering gives 1, 2, 3 again.
    PressHeader(grid, 2);
    EXPECT_EQ(grid.Sort().SortColumn, 2);
    EXPECT_EQ(grid.Sort().MarkerFor(1), GridSort::Marker::None);
    Button(grid, "ToolButton5")->click();
    EXPECT_EQ(Column(0)[0], "1");
    EXPECT_EQ(Column(0)[2], "3");
    fakes.messages.choices.push_back(1);  // the sorted order is not saved
    grid.close();
}

TEST_F(GridTest, OtherPressesTakeTheMarkerButLeaveTheToggles) {
    WriteList("Bauer;B;\r\nadler;A;\r\n");
    grid.show();
    PressHeader(grid, 1);
    ASSERT_EQ(Column(1)[0], "adler");

    // A right press on the header and a press on a cell only take the marker away.
    PressHeader(grid, 3, Qt::RightButton);
    EXPECT_EQ(grid.Sort().SortColumn, -1);
    EXPECT_EQ(grid.Sort().MarkerFor(1), GridSort::Marker::None);
    const QRect cell = grid.StringGrid1->visualRect(grid.Table().index(4, 4));
    QTest::mouseClick(grid.StringGrid1->viewport(), Qt::LeftButton, {}, cell.center());
    EXPECT_EQ(grid.Sort().SortColumn, -1);
    EXPECT_TRUE(grid.Sort().ColumnToggle[1]);
    EXPECT_FALSE(grid.Sort().ColumnToggle[5]);

    // So the next press on "Name" still shows the descending order.
    PressHeader(grid, 1);
    EXPECT_EQ(Column(1)[0], "Bauer");
    EXPECT_TRUE(grid.Sort().SortDescending);

    // The corner cell sorts by the number column without touching a toggle.
    QTest::mouseClick(grid.StringGrid1->findChild<QAbstractButton*>("CornerCell"), Qt::LeftButton);
    EXPECT_EQ(grid.Sort().SortColumn, 0);
    EXPECT_EQ(Column(1)[0], "Bauer");
    grid.close();
}

TEST_F(GridTest, SentColumnSortsByTime) {
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    // In text order the January time would come first; in time order it is last.
    WriteList("A;a;;;;08.12.2026 14:05:31;\r\n"
              "B;b;;;;09.01.2027 08:00:00;\r\n"
              "C;c;;;;08.12.2026 09:00:00;\r\n"
              "D;d;;;;" + FormatSendTime(QDateTime(QDate(2025, 3, 1), QTime(7, 0))) + ";\r\n");
    grid.FormShow();
    grid.StringGrid1MouseDown(0, 6, true);
    EXPECT_EQ(Column(1)[0], "D");
    EXPECT_EQ(Column(1)[1], "C");
    EXPECT_EQ(Column(1)[2], "A");
    EXPECT_EQ(Column(1)[3], "B");
    EXPECT_TRUE(fakes.messages.shown.empty());

    // A cell that is no time stops the sort before a row moves, with no marker.
    grid.Table().EditCell(2, 6, "not send");
    EXPECT_FALSE(RunGuarded([&] { grid.StringGrid1MouseDown(0, 6, true); }));
    ASSERT_EQ(fakes.messages.shown.size(), 1u);
    EXPECT_EQ(fakes.messages.shown[0].kind, "Postira");
    EXPECT_EQ(fakes.messages.shown[0].text, "'not send' ist keine gültige Datums- und Uhrzeitangabe");
    EXPECT_EQ(Column(1)[0], "D");
    EXPECT_EQ(Column(1)[1], "C");
    EXPECT_EQ(grid.Sort().MarkerFor(6), GridSort::Marker::None);
    EXPECT_FALSE(grid.Sort().ColumnToggle[6]);
}

TEST_F(GridTest, DescendingViewNeverLosesRows) {
    WriteList("Bauer;B;\r\nadler;A;\r\n");
    grid.FormShow();
    grid.Table().SetRowCount(41);
    grid.StringGrid1MouseDown(0, 1, true);

    // An edit after the ascending sort makes the saved descending order stale: the next press sorts
    // the edited rows afresh instead of putting the old copy over them.
    grid.Table().setData(grid.Table().index(0, 1), "Anna");
    grid.StringGrid1MouseDown(0, 1, true);
    EXPECT_EQ(RowText(1), "adler|Anna");
    EXPECT_EQ(grid.Sort().MarkerFor(1), GridSort::Marker::Ascending);

    // A row below the sorted block (no name, so the sort did not take it) survives the descending view.
    grid.Table().SetCell(35, 2, "Eva");
    grid.Sort().MouseDown(0, 1, true);
    EXPECT_EQ(RowText(1), "Bauer|B");
    EXPECT_EQ(grid.Table().RowCount(), 36);
    EXPECT_EQ(RowText(35), "|Eva");
}

TEST_F(GridTest, RowDeletionClampsTheRange) {
    WriteList(Lines(10));
    grid.FormShow();
    grid.Table().SetRowCount(11);

    AnswerDeletion("15", "20");
    Button(grid, "ToolButton10")->click();
    EXPECT_EQ(grid.Table().RowCount(), 10);
    EXPECT_EQ(RowText(9), "Name9|Vorname9|a9@example.de|Thema|default|not send");

    AnswerDeletion("2", "99");
    Button(grid, "ToolButton10")->click();
    EXPECT_EQ(grid.Table().RowCount(), 2);
    EXPECT_EQ(Column(1), std::vector<std::string>{"Name1"});

    AnswerDeletion("1", "10");
    Button(grid, "ToolButton10")->click();
    EXPECT_EQ(grid.Table().RowCount(), 2);
    EXPECT_EQ(RowText(1), "");
    EXPECT_EQ(Column(0), std::vector<std::string>{"1"});
}

TEST_F(GridTest, RowDeletionOfTheCurrentRowAndCancel) {
    WriteList(Lines(5));
    grid.FormShow();
    grid.Table().SetRowCount(6);
    grid.StringGrid1MouseDown(0, 1, true);  // a sort that the deletion forgets
    grid.SetCurrentCell(2, 3);
    onModal = [](QDialog& dialog) {
        auto& ask = dynamic_cast<TFormLoeschen&>(dialog);
        ask.FormShow();
        ask.CheckBox1->click();
        ask.BitBtn1->click();
    };
    Button(grid, "ToolButton10")->click();
    EXPECT_EQ(Column(1), (std::vector<std::string>{"Name1", "Name3", "Name4", "Name5"}));
    EXPECT_EQ(grid.CurrentRow(), 2);
    EXPECT_EQ(grid.CurrentColumn(), 3);
    EXPECT_FALSE(grid.Sort().SortActive);

    // Cancel and the window's close button delete nothing, and nothing is renumbered.
    grid.Table().SetCell(1, 0, "x");
    for (auto close : {std::function<void(TFormLoeschen&)>([](TFormLoeschen& ask) { ask.BitBtn2->click(); }),
                       std::function<void(TFormLoeschen&)>([](TFormLoeschen& ask) { ask.close(); })}) {
        onModal = [close](QDialog& dialog) {
            auto& ask = dynamic_cast<TFormLoeschen&>(dialog);
            ask.show();
            ask.EditVon->setText("1");
            ask.EditBis->setText("3");
            close(ask);
        };
        Button(grid, "ToolButton10")->click();
        EXPECT_EQ(grid.Table().RowCount(), 5);
        EXPECT_EQ(grid.Table().Cell(1, 0), "x");
    }
}

TEST_F(GridTest, CopyPasteAndFilePathWorkOnTheCurrentCell) {
    WriteList("Meier;Hans;\r\n");
    grid.FormShow();
    grid.SetCurrentCell(1, 1);
    Button(grid, "ToolButton7")->click();
    EXPECT_EQ(fakes.clipboard.Text(), "Meier");

    grid.SetCurrentCell(2, 3);
    fakes.clipboard.SetText("erste Zeile; mit Semikolon\r\nzweite Zeile");
    Button(grid, "ToolButton8")->click();
    EXPECT_EQ(grid.Table().Cell(2, 3), "erste Zeile, mit Semikolon");
    fakes.clipboard.SetText("");
    grid.SetCurrentCell(1, 2);
    Button(grid, "ToolButton8")->click();
    EXPECT_EQ(grid.Table().Cell(1, 2), "");

    // The file dialog starts where it was last; the path goes into whatever cell is current.
    grid.SetCurrentCell(1, 5);
    fakes.dialogs.results.push_back(QStringLiteral("/home/anna/texte/angebot.txt"));
    Button(grid, "ToolButton12")->click();
    EXPECT_EQ(grid.Table().Cell(1, 5), "/home/anna/texte/angebot.txt");
    grid.SetCurrentCell(1, 7);
    fakes.dialogs.results.push_back(std::nullopt);
    Button(grid, "ToolButton12")->click();
    EXPECT_EQ(grid.Table().Cell(1, 7), "");
    EXPECT_EQ(fakes.dialogs.calls.back().initialPath, "/home/anna/texte/angebot.txt");
    EXPECT_EQ(fakes.dialogs.calls.back().filter, "CSV (*.csv)|*.csv|All|*.*");
}

TEST_F(GridTest, CellEditsReachTheTableAndSurviveEscAndMinimising) {
    WriteList("Meier;Hans;\r\n");
    grid.show();
    grid.SetCurrentCell(2, 1);
    QLineEdit* editor = CellEditor(grid);
    ASSERT_NE(editor, nullptr);
    // Every keystroke reaches the table, so a toolbar command sees what the cell shows.
    QTest::keyClicks(editor, "Schulz");
    EXPECT_EQ(grid.Table().Cell(2, 1), "Schulz");
    // Typing in the middle stays in the middle: the table does not push its text back into the editor.
    QTest::keyClick(editor, Qt::Key_Home);
    QTest::keyClicks(editor, "XY");
    EXPECT_EQ(grid.Table().Cell(2, 1), "XYSchulz");
    QTest::keyClick(editor, Qt::Key_Delete);
    QTest::keyClick(editor, Qt::Key_Delete);
    EXPECT_EQ(grid.Table().Cell(2, 1), "XYhulz");
    QTest::keyClick(editor, Qt::Key_Home);
    QTest::keyClicks(editor, "Sc");
    QTest::keyClick(editor, Qt::Key_Delete);
    QTest::keyClick(editor, Qt::Key_Delete);
    EXPECT_EQ(grid.Table().Cell(2, 1), "Schulz");
    Button(grid, "ToolButton7")->click();
    EXPECT_EQ(fakes.clipboard.Text(), "Schulz");
    // A command that changes the cell shows in the open editor, and leaving the cell keeps it.
    fakes.clipboard.SetText("Bauer");
    Button(grid, "ToolButton8")->click();
    EXPECT_EQ(editor->text(), "Bauer");
    grid.SetCurrentCell(1, 1);
    EXPECT_EQ(grid.Table().Cell(2, 1), "Bauer");

    grid.SetCurrentCell(2, 1);
    editor = CellEditor(grid);
    ASSERT_NE(editor, nullptr);
    QTest::keyClick(editor, Qt::Key_End);
    QTest::keyClick(editor, Qt::Key_Backspace);
    QTest::keyClick(editor, Qt::Key_Backspace);
    QTest::keyClick(editor, Qt::Key_Backspace);
    QTest::keyClicks(editor, "Schulz");
    EXPECT_EQ(grid.Table().Cell(2, 1), "BaSchulz");
    // Esc leaves the cell's editor; a second Esc reaches the table. Neither closes the window.
    QTest::keyClick(editor, Qt::Key_Escape);
    ASSERT_EQ(CellEditor(grid), nullptr);
    QTest::keyClick(grid.StringGrid1, Qt::Key_Escape);
    EXPECT_TRUE(grid.isVisible());
    EXPECT_EQ(grid.Table().Cell(2, 1), "BaSchulz");

    // Restoring the minimised window (a spontaneous show event) is the same showing: no reload, no move.
    grid.move(5, 7);
    const QPoint placed = grid.pos();
    grid.showMinimized();
    grid.showNormal();
    EXPECT_EQ(grid.Table().Cell(2, 1), "BaSchulz");
    EXPECT_EQ(grid.pos(), placed);
    EXPECT_TRUE(fakes.dialogs.calls.empty());

    // A real showing loads the list afresh.
    grid.hide();
    grid.show();
    EXPECT_EQ(grid.Table().Cell(2, 1), "");
    grid.close();
}

TEST_F(GridTest, InsertRowAndClearList) {
    WriteList(Lines(2));
    grid.FormShow();
    Button(grid, "ToolButton5")->click();
    EXPECT_EQ(grid.Table().RowCount(), 20);
    EXPECT_EQ(Column(0).back(), "19");

    fakes.messages.AnswerQuestions({false, true});
    Button(grid, "ToolButton11")->click();
    EXPECT_EQ(fakes.messages.shown.back().kind, "Bestätigung");
    EXPECT_EQ(fakes.messages.shown.back().text, "Liste löschen?");
    EXPECT_EQ(RowText(1), "Name1|Vorname1|a1@example.de|Thema|default|not send");
    Button(grid, "ToolButton11")->click();
    EXPECT_EQ(RowText(1), "");
    EXPECT_EQ(grid.Table().RowCount(), 20);
    EXPECT_EQ(Column(0).back(), "19");
    EXPECT_EQ(home.Read("ptdata/sendlist.csv"), Lines(2));

    // At the table's capacity no row can be added.
    ASSERT_TRUE(grid.Table().SetRowCount(GridModel::kMaxRowCount));
    Button(grid, "ToolButton5")->click();
    EXPECT_EQ(fakes.messages.shown.back().kind, "Warnung");
    EXPECT_EQ(fakes.messages.shown.back().text, "Zeilenlimit erreicht. Keine neue Zeile möglich!");
    EXPECT_EQ(grid.Table().RowCount(), GridModel::kMaxRowCount);
}

TEST_F(GridTest, HelpCloseAndResize) {
    WriteList(Lines(1));
    QSignalSpy help(&grid, &TFormGrid::HelpContextRequested);
    grid.show();
    QTest::keyClick(grid.StringGrid1, Qt::Key_F1);
    Button(grid, "ToolButton14")->click();
    ASSERT_EQ(help.count(), 2);
    EXPECT_EQ(help[0][0].toInt(), 100);
    EXPECT_EQ(help[1][0].toInt(), 100);

    grid.resize(900, 500);
    EXPECT_EQ(grid.StringGrid1->horizontalHeader()->sectionSize(3), (grid.StringGrid1->width() - 55) / 7);
    EXPECT_EQ(grid.StringGrid1->verticalHeader()->width(), 30);

    Button(grid, "ToolButton15")->click();
    EXPECT_FALSE(grid.isVisible());
}

TEST_F(GridTest, HostileListFilesLoadWithoutHarm) {
    // 40 lines of binary bytes after every kind of line break, hundreds of separators, zero bytes.
    std::string binary;
    for (int i = 1; i <= 20000; ++i) {
        const char byte = static_cast<char>(i * 7919 % 256);
        if (byte != '\r' && byte != '\n') binary += byte;
        if (i % 500 == 0) binary += (i / 500) % 2 ? "\r" : "\n";
    }
    binary += std::string(700, ';') + "x\r\n" + std::string("\0\0;\0", 4);
    WriteList(binary);
    grid.FormShow();
    EXPECT_EQ(grid.Table().RowCount(), 43);
    grid.StringGrid1MouseDown(0, 1, true);
    grid.StringGrid1MouseDown(0, 1, true);

    // A hundred thousand lines, every one numbered and readable.
    WriteList(Lines(100000));
    grid.FormShow();
    EXPECT_EQ(grid.Table().RowCount(), 100001);
    EXPECT_EQ(grid.Table().Cell(100000, 0), "100000");
    EXPECT_GT(grid.StringGrid1->verticalHeader()->width(), 30);
}

}  // namespace
