#pragma once
// The recipient list editor: the list file "sendlist.csv" as a table with one row per line and one
// column per field. The user edits cells in place, sorts by a column with a press on its header, adds
// and removes rows, copies and pastes cells, puts a file path into a cell, imports a CSV file and saves
// the table as a list file. Nothing is written except by "Liste speichern".

#include "listedit/grid_model.h"
#include "listedit/grid_sort.h"
#include "mailing/list_charset.h"
#include "mailing/mailing_check.h"
#include "mailing/list_merge.h"
#include "mailing/list_recovery.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <string>
#include <vector>

class QTableView;
class QToolBar;
class QToolButton;
class GridHeader;
class HelpKeyWatcher;
class TFormImport;
class TFormLoeschen;

class TFormGrid : public QDialog {
    Q_OBJECT
public:
    // The help topic of the list editor windows.
    static constexpr int kHelpContext = 100;
    // Shows a dialog modally. The program runs it with exec(); tests answer the dialog through it.
    using ModalRunner = std::function<void(QDialog&)>;

    explicit TFormGrid(QWidget* parent = nullptr);
    ~TFormGrid() override;

    // The main window hands over the data folder before every showing.
    void SetDataFolder(const std::string& folder) { dataFolder_ = folder; }
    // The next showing makes the row of list line `number` (from 1) the current one.
    void SetLineToShow(int number) { lineToShow_ = number; }
    // What the preview of a row reads besides the row: account fields, options, copy list, data folder.
    std::function<CheckInput()> previewInput;
    const std::string& DataFolder() const { return dataFolder_; }

    // The row deletion dialog and the import window the program created; without them the window
    // makes its own.
    void SetDeleteDialog(TFormLoeschen* dialog) { deleteDialog_ = dialog; }
    void SetImportWindow(TFormImport* window);
    TFormLoeschen& DeleteDialog();
    TFormImport& ImportWindow();
    void SetModalRunner(ModalRunner runner) { runModal_ = std::move(runner); }

    // Every showing: empty table, no sort, the data folder's list file loaded (or one chosen in the
    // open dialog when it is missing).
    void FormShow();
    // Reads `ListFileName` into the table; line i goes to row i + 1. A missing file changes nothing.
    void LoadList();
    // Writes the rows that have a first name to a file chosen in the save dialog. Rows with data but no
    // first name are named first, and the user chooses whether to save without them. Over the list the table
    // came from, when that file changed since, the user first chooses to reload it, to save with its send
    // times taken over, or to cancel. Afterwards the table shows the rows as saved, numbered as the file's
    // lines. True when the file was written.
    bool SaveList();
    // Whether the table holds data that differs from the list as it was last loaded or saved. An empty
    // table never does: it cannot be saved, and closing it loses nothing.
    bool HasUnsavedEdits() const;
    void ClearRows();
    void NumberRows();
    void ResetSort();
    // Empties and removes one row (the last data row is only emptied).
    void DeleteGridRow(int row);
    // The import window's result: replaces the whole table with one row per line. False when there
    // are more lines than the table can hold; the table is then unchanged.
    bool ImportRows(const std::vector<LineCells>& rows);

    // Toolbar commands, left to right.
    void ToolButton1Click();   // "Neu"
    void ToolButton3Click();   // "Empfängerliste laden"
    void ToolButton4Click();   // "Liste speichern"
    void ToolButton5Click();   // "Zeile einfügen"
    void ToolButton10Click();  // "Zeile entfernen"
    void ToolButton7Click();   // "Kopieren"
    void ToolButton8Click();   // "Einfügen"
    void ToolButton11Click();  // "Gesamte Liste löschen"
    void ToolButton12Click();  // "Textdatei in Liste einfügen"
    void ToolButton17Click();  // "Datei importieren"
    void ToolButtonPreviewClick();  // "Vorschau": the current row's mail as it would be sent
    void ToolButton14Click();  // "Hilfe"
    void ToolButton15Click();  // "Schliessen"

    // A mouse press on the table: `row` 0 is the header row, `column` 0 the number column.
    void StringGrid1MouseDown(int row, int column, bool leftButton);
    void StringGrid1Click();
    void FormResize();
    void FormKeyDown(int key);

    // The current cell in table coordinates (row 1 and column 1 at the least).
    int CurrentRow() const;
    int CurrentColumn() const;
    void SetCurrentCell(int row, int column);

    GridModel& Table() { return table_; }
    GridSort& Sort() { return sort_; }
    // The list was read as Windows-1252 and is saved so.
    bool ListLegacy() const { return listCharset_.Legacy(); }

    // The list file the window works on.
    std::string ListFileName;

    QToolBar* ToolBar1 = nullptr;
    QTableView* StringGrid1 = nullptr;

signals:
    // Help was asked for, with the topic's context number.
    void HelpContextRequested(int context);

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    // "Schliessen" and the window's close button: unsaved edits are saved, dropped or kept open as the
    // user chooses.
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildToolBar();
    void BuildTable();
    QToolButton* AddToolButton(const char* name, const QString& hint, const char* themeIcon, int fallbackPixmap,
                               void (TFormGrid::*handler)());
    void WriteTitles();
    void UpdateNumberColumnWidth();
    void UpdateMarkers();
    // Removes rows and keeps the current cell where it was when that row still exists.
    void DeleteRowsKeepingCurrent(int first, int count);
    // Runs a change that rebuilds the table and puts the current cell back where it was.
    void KeepCurrentCell(const std::function<void()>& change);
    std::optional<QString> ChooseListFile();
    // Whether the rows can be saved in `charset`; when they cannot, asks whether to save as UTF-8 and
    // switches `charset` on yes.
    bool ConfirmCharset(ListCharset& charset);
    // Names the rows a save would drop for want of a first name and asks whether to save without them.
    bool ConfirmRowsWithoutFirstName();
    // After a save: the table as the `written` file loads, so that its row numbers are the file's line numbers.
    void ShowSavedRows(const std::string& written);
    // Asks about unsaved edits before the window closes; true when it may close.
    bool MayClose();
    // Empties the table and loads `path` into it.
    void LoadListAfresh(const std::string& path);
    // Before a save of `text` over `path`: when that is the list the table came from and the file changed
    // since, asks what to do, and takes the newer file's send times into `text` (and `merge`) when the
    // user chooses to save anyway. False when nothing is to be written.
    bool ResolveOutsideChange(const std::string& path, std::string& text, SendTimeMerge& merge);

    std::string dataFolder_;
    GridModel table_;
    GridSort sort_;
    // How the list's fields were read and how its rows are written back.
    ListCharset listCharset_;
    // What an interrupted run's journal put into the table when the list was loaded.
    EditorRecovery recovery_;
    // The list file as the table last read it or wrote it: which file it was then and its text, so that a
    // save sees a change made behind the table's back (a run that wrote its send times) and can merge it.
    struct KnownList {
        std::string path;
        FileIdentity identity;
        std::string text;
    };
    KnownList known_;
    // What the table held when it was last loaded or saved, to tell unsaved edits.
    std::vector<GridRow> savedContent_;
    // The open dialog remembers the file it last showed.
    QString openDialogPath_;
    TFormLoeschen* deleteDialog_ = nullptr;
    TFormImport* importWindow_ = nullptr;
    ModalRunner runModal_;
    int lineToShow_ = 0;
    GridHeader* header_ = nullptr;
    HelpKeyWatcher* helpKey_ = nullptr;
};
