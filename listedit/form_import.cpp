#include "listedit/form_import.h"

#include "listedit/form_grid.h"
#include "listedit/line_number_editor.h"
#include "listedit/list_table.h"
#include "mailing/file_io.h"
#include "mailing/list_file.h"
#include "mailing/text_codec.h"
#include "ui/gradient.h"
#include "ui/help_key.h"
#include "ui/save_charset.h"
#include "ui/tool_bar.h"
#include "ui/services.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QRadioButton>
#include <QShowEvent>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int kWindowWidth = 778;
constexpr int kWindowHeight = 525;
constexpr int kButtonSize = 30;
// The toolbar and the top of the gradient: the colour value 0xFEE4D6 in blue-green-red order.
const QColor kPaleBlue(0xD6, 0xE4, 0xFE);

const char* const kOpenFilter = "csv|*.csv|Alle|*.*";
const char* const kNoSeparator = "Bitte Trennzeichen angeben!";
const char* const kHeadingQuestion =
    "Die erste Zeile sieht wie eine Überschrift aus (\"%1\"). Ohne sie importieren?";
// How much of the heading line the question shows.
constexpr qsizetype kShownHeadingLength = 60;
const char* const kOneRowTaken = "1 Zeile wurde in die Tabelle übernommen.";
const char* const kRowsTaken = "%1 Zeilen wurden in die Tabelle übernommen.";

}  // namespace

TFormImport::TFormImport(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FormImport"));
    setWindowTitle(QStringLiteral("Import"));
    resize(kWindowWidth, kWindowHeight);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    BuildToolBar();
    layout->addWidget(ToolBar1);

    auto* background = new GradientWidget(kPaleBlue, this);
    background->setObjectName(QStringLiteral("ClientArea"));
    auto* inner = new QVBoxLayout(background);
    inner->setContentsMargins(8, 8, 8, 8);
    SynMemo1 = new LineNumberEditor(background);
    SynMemo1->setObjectName(QStringLiteral("SynMemo1"));
    inner->addWidget(SynMemo1);
    layout->addWidget(background, 1);

    helpKey_ = new HelpKeyWatcher(this, [this] { FormKeyDown(Qt::Key_F1); });
}

QToolButton* TFormImport::AddToolButton(const char* name, const QString& hint, const char* themeIcon,
                                        int fallbackPixmap, void (TFormImport::*handler)()) {
    // Every button shows its hint as a tooltip: a picture alone does not say what a button does.
    QToolButton* button = AddCommandButton(ToolBar1, name, hint, themeIcon,
                                           static_cast<QStyle::StandardPixmap>(fallbackPixmap),
                                           [this, handler] { (this->*handler)(); });
    button->setIconSize(QSize(22, 22));
    button->setFixedSize(kButtonSize, kButtonSize);
    return button;
}

void TFormImport::BuildToolBar() {
    ToolBar1 = MakeToolBar(this, kPaleBlue);

    AddToolButton("ToolButton14", QStringLiteral("Messagefeld löschen"), "edit-clear",
                  QStyle::SP_DialogResetButton, &TFormImport::ToolButton14Click);
    AddToolButton("ToolButton19", QStringLiteral("Datei öffnen"), "document-open", QStyle::SP_DialogOpenButton,
                  &TFormImport::ToolButton19Click);
    AddToolButton("ToolButton12", QStringLiteral("Speichern"), "document-save", QStyle::SP_DialogSaveButton,
                  &TFormImport::ToolButton12Click);
    AddToolButton("ToolButton6", QStringLiteral("Kopieren"), "edit-copy", QStyle::SP_FileDialogContentsView,
                  &TFormImport::ToolButton6Click);
    AddToolButton("ToolButton11", QStringLiteral("Daten importieren"), "document-import", QStyle::SP_ArrowRight,
                  &TFormImport::ToolButton11Click);
    ToolBar1->addSeparator();
    AddToolButton("ToolButton16", QStringLiteral("Hilfe"), "help-contents", QStyle::SP_DialogHelpButton,
                  &TFormImport::ToolButton16Click);
    ToolBar1->addSeparator();
    AddToolButton("ToolButton18", QStringLiteral("Beenden"), "application-exit", QStyle::SP_DialogCloseButton,
                  &TFormImport::ToolButton18Click);
    ToolBar1->addSeparator();

    GroupBox1 = new QGroupBox(QStringLiteral("Trennzeichen"), ToolBar1);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    auto* radios = new QHBoxLayout(GroupBox1);
    radios->setContentsMargins(6, 0, 6, 0);
    RadioButton1 = new QRadioButton(QStringLiteral("Semikolon ;"), GroupBox1);
    RadioButton1->setObjectName(QStringLiteral("RadioButton1"));
    RadioButton2 = new QRadioButton(QStringLiteral("Komma ,"), GroupBox1);
    RadioButton2->setObjectName(QStringLiteral("RadioButton2"));
    radios->addWidget(RadioButton1);
    radios->addWidget(RadioButton2);
    ToolBar1->addWidget(GroupBox1);
    connect(RadioButton1, &QRadioButton::clicked, this, [this] { RadioButton1Click(); });
    connect(RadioButton2, &QRadioButton::clicked, this, [this] { RadioButton2Click(); });
}

void TFormImport::SetRadioButtons(bool semicolon, bool comma) {
    // Exclusive radio buttons cannot both be cleared; lift the exclusion for the moment.
    RadioButton1->setAutoExclusive(false);
    RadioButton2->setAutoExclusive(false);
    RadioButton1->setChecked(semicolon);
    RadioButton2->setChecked(comma);
    RadioButton1->setAutoExclusive(true);
    RadioButton2->setAutoExclusive(true);
}

void TFormImport::FormShow() {
    SynMemo1->clear();
    SetRadioButtons(false, false);
}

void TFormImport::DetectSeparator() {
    switch (::DetectSeparator(EditorLines(SynMemo1->Text()))) {
        case ';':
            Separator = QStringLiteral(";");
            SetRadioButtons(true, false);
            break;
        case ',':
            Separator = QStringLiteral(",");
            SetRadioButtons(false, true);
            break;
        default:
            // A radio button left selected would look like a separator that the import does not have.
            Separator.clear();
            SetRadioButtons(false, false);
            break;
    }
}

void TFormImport::RadioButton1Click() {
    if (RadioButton1->isChecked()) Separator = QStringLiteral(";");
}

void TFormImport::RadioButton2Click() {
    if (RadioButton2->isChecked()) Separator = QStringLiteral(",");
}

void TFormImport::LoadFile(const QString& path) {
    BusyCursor busy;
    EditorText text = DecodeEditorFile(ReadWholeFile(ToLocal(path)));
    SynMemo1->setPlainText(text.text);
    encoding_ = text.encoding;
}

void TFormImport::SaveFile(const QString& path) {
    const QString text = SynMemo1->Text();
    bool legacy = encoding_ == TextEncoding::LocalLegacy;
    if (!MaySaveWithoutLoss(text, legacy)) return;
    if (!legacy && encoding_ == TextEncoding::LocalLegacy) encoding_ = TextEncoding::Local;
    BusyCursor busy;
    WriteFileAtomic(ToLocal(path), EncodeEditorFile(text, encoding_));
}

void TFormImport::ToolButton14Click() { SynMemo1->clear(); }

void TFormImport::ToolButton19Click() {
    if (const auto chosen = services::Dialogs().OpenFile(this, QString::fromUtf8(kOpenFilter))) LoadFile(*chosen);
    DetectSeparator();
}

void TFormImport::ToolButton12Click() {
    if (const auto chosen = services::Dialogs().SaveFile(this, QString())) SaveFile(*chosen);
}

void TFormImport::ToolButton6Click() {
    // The selection as plain text, with "\n" between its lines.
    services::Clip().SetText(SynMemo1->SelectedText());
}

void TFormImport::ToolButton11Click() {
    const QString text = SynMemo1->Text();
    if (IsBlankLine(ToLocal(text))) return;
    const QString separator = Separator.trimmed();
    if (separator.isEmpty()) {
        services::Messages().Information(QString::fromUtf8(kNoSeparator));
        return;
    }
    if (grid_ == nullptr) return;
    const QStringList lines = EditorLines(text);
    std::vector<LineCells> rows;
    {
        BusyCursor busy;
        rows = ImportRows(lines, separator[0].toLatin1());
    }
    if (const auto heading = HeadingRow(rows)) {
        const QString shown = Shortened(lines[static_cast<qsizetype>(*heading)].trimmed(), kShownHeadingLength);
        if (services::Messages().Question(QString::fromUtf8(kHeadingQuestion).arg(shown)))
            rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(*heading));
    }
    if (!grid_->ImportRows(rows)) return;
    const auto taken = std::count_if(rows.begin(), rows.end(), [](const LineCells& row) { return row.has_value(); });
    services::Messages().Information(taken == 1 ? QString::fromUtf8(kOneRowTaken)
                                                : QString::fromUtf8(kRowsTaken).arg(taken));
}

void TFormImport::ToolButton16Click() { emit HelpContextRequested(kHelpContext); }

void TFormImport::ToolButton18Click() { close(); }

void TFormImport::FormKeyDown(int key) {
    if (key == Qt::Key_F1) RunGuarded([this] { ToolButton16Click(); });
}

void TFormImport::showEvent(QShowEvent* event) {
    // Restoring the window after a minimise is no new showing: the text stays.
    if (!event->spontaneous()) FormShow();
    QDialog::showEvent(event);
}
