#include "listedit/form_grid.h"

#include "listedit/form_import.h"
#include "listedit/form_loeschen.h"
#include "listedit/grid_view.h"
#include "listedit/list_table.h"
#include "listedit/row_range.h"
#include "mailing/data_folder.h"
#include "mailing/file_io.h"
#include "mailing/list_file.h"
#include "mailing/list_recovery.h"
#include "mailing/text_codec.h"
#include "ui/help_key.h"
#include "ui/tool_bar.h"
#include "ui/services.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QScrollBar>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int kWindowWidth = 795;
constexpr int kWindowHeight = 550;
constexpr int kToolBarHeight = 29;
constexpr int kColumnWidth = 97;
constexpr int kRowHeight = 24;
constexpr int kNumberColumnWidth = 30;
// What the resize leaves for the number column and the frame before the seven columns share the width.
constexpr int kResizeReserve = 55;
// Fixed cells and toolbar: the colour value 0xD0BFB6 in blue-green-red order.
const QColor kFixedColour(0xB6, 0xBF, 0xD0);

const char* const kTitles[kGridColumns] = {"",          "     Name",       "     Vorname",  "     Email",
                                           "     Thema", "     Textdatei", "     Gesendet", "     Anhang"};
const char* const kOpenFilter = "CSV (*.csv)|*.csv|All|*.*";
const char* const kSaveFilter = "CSV (*.csv)|*.csv|Alle|*.*";
const char* const kRowLimit = "Zeilenlimit erreicht. Keine neue Zeile möglich!";
const char* const kClearQuestion = "Liste löschen?";
const char* const kCharsetQuestion =
    "Die Liste ist im Zeichensatz Windows-1252 gespeichert. Zeile %1, Spalte \"%2\", enthält Zeichen, die es "
    "darin nicht gibt. Soll die Liste als UTF-8 gespeichert werden? Bei \"Nein\" wird nichts gespeichert.";
const char* const kListInUse =
    "Die Liste \"%1\" kann jetzt nicht gespeichert werden: Mit ihr läuft gerade ein Mailingdurchlauf. Bitte "
    "speichern Sie, wenn er beendet ist.";
const char* const kChangedQuestion =
    "Die Empfängerliste \"%1\" wurde geändert, seit sie hier geladen oder zuletzt gespeichert wurde, zum "
    "Beispiel von einem Mailingdurchlauf, der Sendezeiten eingetragen hat.\n\n"
    "\"Neu laden\" zeigt die Liste, wie sie jetzt ist; die Änderungen in der Tabelle gehen dabei verloren.\n"
    "\"Trotzdem speichern\" übernimmt die Einträge der Spalte \"Gesendet\" aus der neueren Datei in die "
    "passenden Zeilen der Tabelle und speichert sie; andere Änderungen der neueren Datei gehen dabei verloren.\n"
    "\"Abbrechen\" speichert nichts.";
const char* const kChoiceReload = "Neu laden";
const char* const kChoiceSave = "Trotzdem speichern";
const char* const kChoiceCancel = "Abbrechen";
const char* const kOneWithoutFirstName =
    "1 Zeile ohne Vorname wird nicht gespeichert: Zeile %1 (%2). Trotzdem speichern?";
const char* const kSomeWithoutFirstName =
    "%1 Zeilen ohne Vorname werden nicht gespeichert, die erste ist Zeile %2 (%3). Trotzdem speichern?";
// How much of a field the question shows: enough to find the row, short enough for the box.
constexpr qsizetype kShownFieldLength = 40;
const char* const kUnsavedQuestion = "Änderungen speichern?";
// With the keys Alt+J and Alt+N, as in the other questions that answer "Ja" or "Nein".
const char* const kChoiceYes = "&Ja";
const char* const kChoiceNo = "&Nein";
const char* const kMergeGone =
    "Die Liste \"%1\" wurde gespeichert. Geänderte oder neue Zeilen der neueren Datei, zu denen die Tabelle "
    "keine Zeile mit gleichem Name, Vorname, Email, Thema, Textdatei und Anhang hat: %2. Ihr Eintrag in der "
    "Spalte \"Gesendet\" fehlt in der gespeicherten Liste.";

// Name and address of a row, by which the user finds it; the first other field that holds data when it has
// neither.
QString RowLabel(const GridRow& row) {
    QStringList parts;
    for (const int column : {1, 3})
        if (CellHoldsData(row, column)) parts << Shortened(TrimmedCell(row[column]), kShownFieldLength);
    for (int column = 4; column < kGridColumns && parts.isEmpty(); ++column)
        if (CellHoldsData(row, column)) parts << Shortened(TrimmedCell(row[column]), kShownFieldLength);
    return parts.join(QStringLiteral(", "));
}

QString FirstLine(const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('\r') || text[i] == QLatin1Char('\n')) return text.left(i);
    }
    return text;
}

}  // namespace

TFormGrid::TFormGrid(QWidget* parent) : QDialog(parent), sort_(table_) {
    setObjectName(QStringLiteral("FormGrid"));
    setWindowTitle(QStringLiteral("Empfänger"));
    resize(kWindowWidth, kWindowHeight);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    BuildToolBar();
    BuildTable();
    layout->addWidget(ToolBar1);
    layout->addWidget(StringGrid1);

    runModal_ = [](QDialog& dialog) { dialog.exec(); };
    helpKey_ = new HelpKeyWatcher(this, [this] { FormKeyDown(Qt::Key_F1); });
    connect(&table_, &GridModel::CellEdited, this, [this] { ResetSort(); });
    WriteTitles();
    NumberRows();
}

TFormGrid::~TFormGrid() = default;

QToolButton* TFormGrid::AddToolButton(const char* name, const QString& hint, const char* themeIcon,
                                      int fallbackPixmap, void (TFormGrid::*handler)()) {
    return AddCommandButton(ToolBar1, name, hint, themeIcon, static_cast<QStyle::StandardPixmap>(fallbackPixmap),
                            [this, handler] { (this->*handler)(); });
}

void TFormGrid::BuildToolBar() {
    ToolBar1 = MakeToolBar(this, kFixedColour);
    ToolBar1->setFixedHeight(kToolBarHeight);
    ToolBar1->setIconSize(QSize(16, 16));

    AddToolButton("ToolButton1", QStringLiteral("Neu"), "document-new", QStyle::SP_FileIcon,
                  &TFormGrid::ToolButton1Click);
    AddToolButton("ToolButton3", QStringLiteral("Empfängerliste laden"), "document-open", QStyle::SP_DialogOpenButton,
                  &TFormGrid::ToolButton3Click);
    AddToolButton("ToolButton4", QStringLiteral("Liste speichern"), "document-save", QStyle::SP_DialogSaveButton,
                  &TFormGrid::ToolButton4Click);
    AddToolButton("ToolButton5", QStringLiteral("Zeile einfügen"), "list-add", QStyle::SP_ArrowDown,
                  &TFormGrid::ToolButton5Click);
    AddToolButton("ToolButton10", QStringLiteral("Zeile entfernen"), "list-remove", QStyle::SP_DialogDiscardButton,
                  &TFormGrid::ToolButton10Click);
    ToolBar1->addSeparator();
    AddToolButton("ToolButton7", QStringLiteral("Kopieren"), "edit-copy", QStyle::SP_FileDialogContentsView,
                  &TFormGrid::ToolButton7Click);
    AddToolButton("ToolButton8", QStringLiteral("Einfügen"), "edit-paste", QStyle::SP_FileDialogListView,
                  &TFormGrid::ToolButton8Click);
    AddToolButton("ToolButton11", QStringLiteral("Gesamte Liste löschen"), "edit-clear", QStyle::SP_TrashIcon,
                  &TFormGrid::ToolButton11Click);
    AddToolButton("ToolButton12", QStringLiteral("Textdatei in Liste einfügen"), "insert-text",
                  QStyle::SP_FileLinkIcon, &TFormGrid::ToolButton12Click);
    ToolBar1->addSeparator();
    AddToolButton("ToolButton17", QStringLiteral("Datei importieren"), "document-import", QStyle::SP_ArrowRight,
                  &TFormGrid::ToolButton17Click);
    AddToolButton("ToolButtonPreview", QStringLiteral("Vorschau"), "document-print-preview",
                  QStyle::SP_FileDialogContentsView, &TFormGrid::ToolButtonPreviewClick);
    ToolBar1->addSeparator();
    AddToolButton("ToolButton14", QStringLiteral("Hilfe"), "help-contents", QStyle::SP_DialogHelpButton,
                  &TFormGrid::ToolButton14Click);
    ToolBar1->addSeparator();
    AddToolButton("ToolButton15", QStringLiteral("Schliessen"), "window-close", QStyle::SP_DialogCloseButton,
                  &TFormGrid::ToolButton15Click);
}

void TFormGrid::BuildTable() {
    StringGrid1 = new QTableView(this);
    StringGrid1->setObjectName(QStringLiteral("StringGrid1"));
    header_ = new GridHeader(
        [this](int column) {
            switch (sort_.MarkerFor(column)) {
                case GridSort::Marker::Ascending: return SortMarkerPixmap(false);
                case GridSort::Marker::Descending: return SortMarkerPixmap(true);
                case GridSort::Marker::None: break;
            }
            return QPixmap();
        },
        StringGrid1);
    StringGrid1->setHorizontalHeader(header_);
    StringGrid1->setModel(&table_);
    StringGrid1->setItemDelegate(new CellDelegate(StringGrid1));
    // Cells are edited in place; the editor opens as soon as a cell becomes current, and Tab moves on.
    StringGrid1->setEditTriggers(QAbstractItemView::AllEditTriggers);
    StringGrid1->setTabKeyNavigation(true);
    StringGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    StringGrid1->setSelectionBehavior(QAbstractItemView::SelectItems);
    StringGrid1->setShowGrid(true);
    StringGrid1->setWordWrap(false);

    QHeaderView* rows = StringGrid1->verticalHeader();
    header_->setSectionsClickable(false);
    header_->setHighlightSections(false);
    // Titles start at the left, after the blanks that leave room for the sort marker.
    header_->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header_->setSectionResizeMode(QHeaderView::Interactive);
    header_->setDefaultSectionSize(kColumnWidth);
    header_->setMinimumSectionSize(8);
    header_->setFixedHeight(kRowHeight);
    rows->setSectionsClickable(false);
    rows->setHighlightSections(false);
    rows->setSectionResizeMode(QHeaderView::Interactive);
    rows->setMinimumSectionSize(8);
    rows->setDefaultSectionSize(kRowHeight);

    QPalette palette = StringGrid1->palette();
    palette.setColor(QPalette::Base, Qt::white);
    StringGrid1->setPalette(palette);
    const QString fixedStyle = QStringLiteral("background-color: %1;").arg(kFixedColour.name());
    StringGrid1->setStyleSheet(QStringLiteral("QHeaderView::section { %1 border: 0px; border-right: 1px solid gray;"
                                              " border-bottom: 1px solid gray; padding-left: 2px; }"
                                              " QTableCornerButton::section { %1 border: 0px;"
                                              " border-right: 1px solid gray; border-bottom: 1px solid gray; }")
                                   .arg(fixedStyle));

    // Presses anywhere on the table reach the sort; the corner cell sorts by the number column.
    StringGrid1->viewport()->installEventFilter(this);
    header_->viewport()->installEventFilter(this);
    rows->viewport()->installEventFilter(this);
    if (auto* corner = StringGrid1->findChild<QAbstractButton*>()) {
        disconnect(corner, SIGNAL(clicked()), StringGrid1, SLOT(selectAll()));
        corner->installEventFilter(this);
        corner->setObjectName(QStringLiteral("CornerCell"));
    }
    connect(StringGrid1, &QTableView::clicked, this, [this] { StringGrid1Click(); });
}

void TFormGrid::SetImportWindow(TFormImport* window) {
    importWindow_ = window;
    if (window != nullptr) window->SetTargetGrid(this);
}

TFormLoeschen& TFormGrid::DeleteDialog() {
    if (deleteDialog_ == nullptr) deleteDialog_ = new TFormLoeschen(this);
    return *deleteDialog_;
}

TFormImport& TFormGrid::ImportWindow() {
    if (importWindow_ == nullptr) SetImportWindow(new TFormImport(this));
    return *importWindow_;
}

void TFormGrid::WriteTitles() {
    for (int c = 0; c < kGridColumns; ++c) table_.SetCell(0, c, QString::fromUtf8(kTitles[c]));
}

void TFormGrid::UpdateNumberColumnWidth() {
    // At least 30 pixels; wider when the largest row number would not fit, so no number is cut off.
    const QString largest = QString::number(table_.RowCount() - 1);
    const int needed = StringGrid1->verticalHeader()->fontMetrics().horizontalAdvance(largest) + 8;
    StringGrid1->verticalHeader()->setFixedWidth(std::max(kNumberColumnWidth, needed));
}

void TFormGrid::UpdateMarkers() { header_->viewport()->update(); }

int TFormGrid::CurrentRow() const {
    const QModelIndex current = StringGrid1->currentIndex();
    return current.isValid() ? current.row() + 1 : 1;
}

int TFormGrid::CurrentColumn() const {
    const QModelIndex current = StringGrid1->currentIndex();
    return current.isValid() ? current.column() + 1 : 1;
}

void TFormGrid::SetCurrentCell(int row, int column) {
    row = std::clamp(row, 1, table_.RowCount() - 1);
    column = std::clamp(column, 1, kGridColumns - 1);
    StringGrid1->setCurrentIndex(table_.index(row - 1, column - 1));
}

void TFormGrid::KeepCurrentCell(const std::function<void()>& change) {
    const int row = CurrentRow();
    const int column = CurrentColumn();
    change();
    SetCurrentCell(row, column);
}

void TFormGrid::ClearRows() {
    table_.ClearRows();
    // The rows that showed an interrupted run's sends are gone: a save applies those sends afresh to
    // whatever rows of the same recipients it then writes (an import of the same people, say).
    recovery_.shown.clear();
}

void TFormGrid::NumberRows() {
    table_.NumberRows();
    UpdateNumberColumnWidth();
}

void TFormGrid::ResetSort() {
    sort_.ResetSort();
    UpdateMarkers();
}

void TFormGrid::FormShow() {
    KeepCurrentCell([this] { ClearRows(); });
    ResetSort();
    ListFileName = DataFilePath(dataFolder_, kListFileName);
    WriteTitles();
    UpdateNumberColumnWidth();
    if (!FileExists(ListFileName)) {
        if (const auto chosen = ChooseListFile()) ListFileName = ToLocal(*chosen);
    }
    LoadList();
    NumberRows();
    // Opened at a line of the check's findings: that line's row is the current one.
    if (lineToShow_ > 0 && lineToShow_ < table_.RowCount()) SetCurrentCell(lineToShow_, 1);
    lineToShow_ = 0;
}

std::optional<QString> TFormGrid::ChooseListFile() {
    openDialogPath_ = FromLocal(DataFilePath(dataFolder_, kListFileName));
    const auto chosen = services::Dialogs().OpenFile(this, QString::fromUtf8(kOpenFilter), openDialogPath_);
    if (chosen) openDialogPath_ = *chosen;
    return chosen;
}

void TFormGrid::LoadList() {
    // The callers have emptied the table for the list: until it is in, the table has nothing to lose.
    savedContent_.clear();
    if (!FileExists(ListFileName)) return;
    ListContent content;
    EditorRecovery recovery;
    KnownList known{ListFileName, {}, {}};
    {
        BusyCursor busy;
        // The identity before the bytes: a change in between makes the next save ask once too often,
        // never once too few.
        known.identity = IdentifyFile(ListFileName);
        std::string bytes = ReadWholeFile(ListFileName);
        // A run that was interrupted left its sends in a journal: show them, so that a save from here
        // keeps them and nobody is sent the mail again.
        TextLines lines = SplitTextLines(bytes);
        recovery = RecoverForEditor(ListFileName, lines);
        if (!recovery.shown.empty()) bytes = JoinTextLines(lines);
        content = ParseListFile(bytes);
        known.text = std::move(bytes);
    }
    if (content.lines.size() + 1 > static_cast<size_t>(GridModel::kMaxRowCount)) {
        services::Messages().Warning(QString::fromUtf8(kRowLimit));
        return;
    }
    KeepCurrentCell([&] { table_.PlaceLines(content.lines); });
    listCharset_ = std::move(content.charset);
    recovery_ = std::move(recovery);
    known_ = std::move(known);
    savedContent_ = TableContent(table_.DataRows());
    NumberRows();
    if (!recovery_.shown.empty()) {
        QString text = QStringLiteral("Der letzte Mailingdurchlauf wurde unterbrochen. %1 bereits gesendete Mails "
                                      "wurden aus dem Journal in die Liste übernommen.")
                           .arg(recovery_.shown.size());
        if (recovery_.gone > 0)
            text += QStringLiteral(" %1 weitere gingen an Empfänger, deren Zeile nicht mehr in der Liste steht.")
                        .arg(recovery_.gone);
        services::Messages().Information(text);
    }
}

bool TFormGrid::ConfirmCharset(ListCharset& charset) {
    std::optional<CellPosition> lost;
    {
        BusyCursor busy;
        lost = FirstCellLost(table_.DataRows(), charset);
    }
    if (!lost) return true;
    const QString title = QString::fromUtf8(kTitles[lost->column]).trimmed();
    if (!services::Messages().Question(QString::fromUtf8(kCharsetQuestion).arg(lost->row).arg(title))) return false;
    charset.SwitchToUtf8();
    return true;
}

bool TFormGrid::ConfirmRowsWithoutFirstName() {
    const RowsWithoutFirstName dropped = FindRowsWithoutFirstName(table_.DataRows());
    if (dropped.count == 0) return true;
    // The number the row shows, which after a sort is not its position.
    const GridRow& row = table_.Row(dropped.first);
    const QString number = row[0].isEmpty() ? QString::number(dropped.first) : row[0];
    const QString label = RowLabel(row);
    const QString text = dropped.count == 1
                             ? QString::fromUtf8(kOneWithoutFirstName).arg(number, label)
                             : QString::fromUtf8(kSomeWithoutFirstName).arg(QString::number(dropped.count), number, label);
    return services::Messages().Question(text);
}

bool TFormGrid::SaveList() {
    // A copy: the charset changes for good only when the list has been written in it.
    ListCharset charset = listCharset_;
    if (!ConfirmCharset(charset)) return false;
    std::optional<std::string> text;
    {
        BusyCursor busy;
        text = ListFileText(table_.DataRows(), charset);
    }
    if (!text) return false;
    if (!ConfirmRowsWithoutFirstName()) return false;
    // The list under the name it has in the data folder ("SendList.CSV", say): proposing the canonical
    // name there would make a second list beside it.
    const auto chosen = services::Dialogs().SaveFile(this, QString::fromUtf8(kSaveFilter),
                                                     FromLocal(DataFilePath(dataFolder_, kListFileName)));
    if (!chosen) return false;
    const std::string path = ToLocal(*chosen);
    SendTimeMerge merge;
    if (!ResolveOutsideChange(path, *text, merge)) return false;
    std::optional<std::string> written;
    {
        BusyCursor busy;
        written = SaveEditedList(path, *text, recovery_);
    }
    if (!written) {
        services::Messages().Warning(QString::fromUtf8(kListInUse).arg(*chosen));
        return false;
    }
    // What was written is the new state to compare with: saving again asks nothing unless someone else
    // writes the file in between.
    known_ = {path, IdentifyFile(path), *written};
    if (merge.gone > 0) services::Messages().Warning(QString::fromUtf8(kMergeGone).arg(*chosen).arg(merge.gone));
    ListFileName = path;
    // The journal now holds those sends as written: nothing of them is left to apply.
    recovery_ = {};
    ShowSavedRows(*written);
    return true;
}

void TFormGrid::ShowSavedRows(const std::string& written) {
    // The table as the written file loads: without the rows that gave no line, with the send times the save
    // took from a newer file or a run's journal, and numbered so that row n is line n of the file, which
    // is how the check and the run name it.
    ListContent content;
    {
        BusyCursor busy;
        content = ParseListFile(written);
    }
    // The descending copy of a sort still holds the rows as they were before.
    ResetSort();
    KeepCurrentCell([&] {
        ClearRows();
        table_.PlaceLines(content.lines);
    });
    listCharset_ = std::move(content.charset);
    NumberRows();
    savedContent_ = TableContent(table_.DataRows());
}

bool TFormGrid::HasUnsavedEdits() const {
    const std::vector<GridRow> content = TableContent(table_.DataRows());
    return !content.empty() && content != savedContent_;
}

bool TFormGrid::MayClose() {
    if (!HasUnsavedEdits()) return true;
    const QStringList choices = {QString::fromUtf8(kChoiceYes), QString::fromUtf8(kChoiceNo),
                                 QString::fromUtf8(kChoiceCancel)};
    switch (services::Messages().Choose(QString::fromUtf8(kUnsavedQuestion), choices)) {
        case 0: return SaveList();
        case 1: return true;
        default: return false;  // "Abbrechen", or the box closed
    }
}

bool TFormGrid::ResolveOutsideChange(const std::string& path, std::string& text, SendTimeMerge& merge) {
    // The same list under another spelling (a link, "..") is the same list.
    if (ResolvedPath(path) != ResolvedPath(known_.path)) return true;
    const FileIdentity now = IdentifyFile(path);
    // A file deleted since has nothing in it to lose.
    if (!now.exists || now == known_.identity) return true;
    const QStringList choices = {QString::fromUtf8(kChoiceReload), QString::fromUtf8(kChoiceSave),
                                 QString::fromUtf8(kChoiceCancel)};
    const int choice = services::Messages().Choose(QString::fromUtf8(kChangedQuestion).arg(FromLocal(path)), choices);
    if (choice == 0) {
        LoadListAfresh(path);
        return false;
    }
    if (choice != 1) return false;
    BusyCursor busy;
    // Read after the answer: a run that wrote again while the question was open is merged too.
    merge = MergeNewerSendTimes(known_.text, ReadWholeFile(path), std::move(text));
    text = merge.text;
    return true;
}

void TFormGrid::DeleteRowsKeepingCurrent(int first, int count) {
    const int remembered = CurrentRow();
    const int column = CurrentColumn();
    table_.DeleteRows(first, count);
    SetCurrentCell(std::min(remembered, table_.RowCount() - 1), column);
}

void TFormGrid::DeleteGridRow(int row) { DeleteRowsKeepingCurrent(row, 1); }

bool TFormGrid::ImportRows(const std::vector<LineCells>& rows) {
    if (rows.size() + 1 > static_cast<size_t>(GridModel::kMaxRowCount)) {
        services::Messages().Warning(QString::fromUtf8(kRowLimit));
        return false;
    }
    BusyCursor busy;
    // A descending copy made before the import would otherwise replace the imported rows on the next
    // press on that header.
    ResetSort();
    KeepCurrentCell([&] {
        ClearRows();
        table_.PlaceLines(rows);
    });
    // The imported text is Unicode; it is saved in the locale's charset.
    listCharset_ = ListCharset();
    NumberRows();
    return true;
}

void TFormGrid::ToolButton1Click() {
    ResetSort();
    KeepCurrentCell([this] {
        ClearRows();
        table_.FillColumn(5, QString::fromUtf8(kNewRowTextFile));
        table_.FillColumn(6, QString::fromUtf8(kNewRowResult));
    });
    NumberRows();
}

void TFormGrid::ToolButton3Click() {
    const auto chosen = ChooseListFile();
    if (!chosen) return;
    LoadListAfresh(ToLocal(*chosen));
}

void TFormGrid::LoadListAfresh(const std::string& path) {
    ResetSort();
    KeepCurrentCell([this] { ClearRows(); });
    ListFileName = path;
    LoadList();
}

void TFormGrid::ToolButton4Click() { SaveList(); }

void TFormGrid::ToolButton5Click() {
    if (!table_.SetRowCount(table_.RowCount() + 1)) {
        services::Messages().Warning(QString::fromUtf8(kRowLimit));
        return;
    }
    NumberRows();
}

void TFormGrid::ToolButton10Click() {
    TFormLoeschen& dialog = DeleteDialog();
    runModal_(dialog);
    ResetSort();
    if (dialog.ZeileVon == TFormLoeschen::kCancelled) return;
    if (dialog.ZeileVon == 0) {
        DeleteGridRow(CurrentRow());
    } else {
        const RowRange range = ClampRowRange(dialog.ZeileVon, dialog.ZeileBis, table_.RowCount());
        SetCurrentCell(range.first, CurrentColumn());
        DeleteRowsKeepingCurrent(range.first, range.Count());
    }
    NumberRows();
}

void TFormGrid::ToolButton7Click() { services::Clip().SetText(table_.Cell(CurrentRow(), CurrentColumn())); }

void TFormGrid::ToolButton8Click() {
    const int row = CurrentRow();
    const int column = CurrentColumn();
    // A cell holds one line: the clipboard's first line only.
    table_.EditCell(row, column, FirstLine(services::Clip().Text()));
}

void TFormGrid::ToolButton11Click() {
    if (!services::Messages().Question(QString::fromUtf8(kClearQuestion))) return;
    ResetSort();
    KeepCurrentCell([this] { ClearRows(); });
    NumberRows();
}

void TFormGrid::ToolButton12Click() {
    const auto chosen = services::Dialogs().OpenFile(this, QString::fromUtf8(kOpenFilter), openDialogPath_);
    if (!chosen) return;
    openDialogPath_ = *chosen;
    table_.EditCell(CurrentRow(), CurrentColumn(), *chosen);
}

void TFormGrid::ToolButton17Click() { runModal_(ImportWindow()); }

void TFormGrid::ToolButton14Click() { emit HelpContextRequested(kHelpContext); }

void TFormGrid::ToolButton15Click() { close(); }

void TFormGrid::StringGrid1MouseDown(int row, int column, bool leftButton) {
    BusyCursor busy;
    try {
        KeepCurrentCell([&] { sort_.MouseDown(row, column, leftButton); });
    } catch (...) {
        UpdateMarkers();
        throw;
    }
    UpdateMarkers();
}

void TFormGrid::StringGrid1Click() { StringGrid1->horizontalScrollBar()->setValue(0); }

void TFormGrid::FormResize() {
    // Every column gets the same share of the width; widths dragged by the user are given up.
    const int width = std::max(1, (StringGrid1->width() - kResizeReserve) / 7);
    header_->setDefaultSectionSize(width);
    for (int section = 0; section < header_->count(); ++section) header_->resizeSection(section, width);
    UpdateNumberColumnWidth();
}

void TFormGrid::FormKeyDown(int key) {
    if (key == Qt::Key_F1) RunGuarded([this] { ToolButton14Click(); });
}

void TFormGrid::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // A window restored after a minimise gets a spontaneous show event: it is the same showing, and
    // reloading then would throw away every unsaved edit.
    if (event->spontaneous()) return;
    if (const QScreen* screen = this->screen()) move(screen->availableGeometry().center() - rect().center());
    RunGuarded([this] { FormShow(); });
}

void TFormGrid::keyPressEvent(QKeyEvent* event) {
    // A dialog closes on Esc. Here Esc leaves a cell's editor, and a second press would close the
    // window when the user only meant to leave the cell; only "Schliessen" and the window's close button
    // close it.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TFormGrid::closeEvent(QCloseEvent* event) {
    // A hidden window (the program ending) has nothing on screen to ask about.
    if (!isVisible()) {
        QDialog::closeEvent(event);
        return;
    }
    // A save that fails shows its error and keeps the window open.
    bool close = false;
    RunGuarded([&] { close = MayClose(); });
    if (!close) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TFormGrid::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    FormResize();
}

bool TFormGrid::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::MouseButtonPress) return QDialog::eventFilter(watched, event);
    const auto* mouse = static_cast<QMouseEvent*>(event);
    const bool leftButton = mouse->button() == Qt::LeftButton;
    const QPoint pos = mouse->position().toPoint();
    int row = -1;
    int column = -1;
    if (watched == header_->viewport()) {
        const int section = header_->logicalIndexAt(pos);
        // A press on the border between two titles starts a resize, not a sort.
        const int grip = header_->style()->pixelMetric(QStyle::PM_HeaderGripMargin, nullptr, header_);
        const int left = header_->sectionViewportPosition(section);
        const int right = left + header_->sectionSize(section);
        const bool onBorder = pos.x() >= right - grip || (header_->visualIndex(section) > 0 && pos.x() < left + grip);
        if (section >= 0 && !onBorder) {
            row = 0;
            column = section + 1;
        }
    } else if (watched->objectName() == QLatin1String("CornerCell")) {
        row = 0;
        column = 0;
    } else if (watched == StringGrid1->viewport()) {
        const QModelIndex at = StringGrid1->indexAt(pos);
        if (at.isValid()) {
            row = at.row() + 1;
            column = at.column() + 1;
        }
    } else if (watched == StringGrid1->verticalHeader()->viewport()) {
        const int section = StringGrid1->verticalHeader()->logicalIndexAt(pos);
        if (section >= 0) {
            row = section + 1;
            column = 0;
        }
    }
    RunGuarded([&] { StringGrid1MouseDown(row, column, leftButton); });
    return QDialog::eventFilter(watched, event);
}
