#include "app/check_window.h"

#include "mailing/text_codec.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

constexpr int kLineColumn = 0;
const QColor kFailure(128, 0, 0);

QTableWidgetItem* Item(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    return item;
}

QString Utf8(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<int>(text.size())); }

}  // namespace

TFormCheck::TFormCheck(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FormCheck"));
    setWindowTitle(QString::fromUtf8("Mailing prüfen"));
    resize(760, 460);

    LabelSummary = new QLabel(this);
    LabelSummary->setObjectName(QStringLiteral("LabelSummary"));
    LabelSummary->setWordWrap(true);
    TableFindings = new QTableWidget(0, 4, this);
    TableFindings->setObjectName(QStringLiteral("TableFindings"));
    TableFindings->setHorizontalHeaderLabels(
        {QStringLiteral("Zeile"), QStringLiteral("Adresse"), QStringLiteral("Art"), QStringLiteral("Befund")});
    TableFindings->verticalHeader()->setVisible(false);
    TableFindings->setSelectionBehavior(QAbstractItemView::SelectRows);
    TableFindings->setSelectionMode(QAbstractItemView::SingleSelection);
    TableFindings->setEditTriggers(QAbstractItemView::NoEditTriggers);
    TableFindings->setWordWrap(true);
    TableFindings->horizontalHeader()->setStretchLastSection(true);
    TableFindings->setColumnWidth(0, 50);
    TableFindings->setColumnWidth(1, 190);
    TableFindings->setColumnWidth(2, 60);

    ButtonPreview = new QPushButton(QStringLiteral("Vorschau"), this);
    ButtonPreview->setObjectName(QStringLiteral("ButtonPreview"));
    ButtonSend = new QPushButton(QStringLiteral("Trotzdem senden"), this);
    ButtonSend->setObjectName(QStringLiteral("ButtonSend"));
    ButtonClose = new QPushButton(QStringLiteral("Abbrechen"), this);
    ButtonClose->setObjectName(QStringLiteral("ButtonClose"));
    // Enter cancels, however often the window was opened and whichever button was pressed last: a
    // pressed button would otherwise become the default for Enter.
    ButtonClose->setDefault(true);
    ButtonSend->setAutoDefault(false);
    ButtonPreview->setAutoDefault(false);
    connect(ButtonSend, &QPushButton::clicked, this, &QDialog::accept);
    connect(ButtonClose, &QPushButton::clicked, this, &QDialog::reject);
    connect(ButtonPreview, &QPushButton::clicked, this, [this] {
        if (onPreview && CurrentLine() > 0) onPreview(CurrentLine());
    });
    connect(TableFindings, &QTableWidget::cellDoubleClicked, this, [this](int, int) {
        if (onOpenLine && CurrentLine() > 0) onOpenLine(CurrentLine());
    });
    connect(TableFindings, &QTableWidget::currentCellChanged, this, [this] { UpdateButtons(); });
    connect(TableFindings->horizontalHeader(), &QHeaderView::sectionResized, this, [this] { FitRows(); });

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(ButtonPreview);
    buttons->addStretch(1);
    buttons->addWidget(ButtonSend);
    buttons->addWidget(ButtonClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(LabelSummary);
    layout->addWidget(TableFindings, 1);
    layout->addWidget(new QLabel(QString::fromUtf8("Doppelklick auf eine Zeile öffnet sie in der Empfängerliste."), this));
    layout->addLayout(buttons);
}

void TFormCheck::SetReport(const CheckReport& report, Purpose purpose) {
    const int failures = static_cast<int>(
        std::count_if(report.findings.begin(), report.findings.end(), [](const CheckLine& line) {
            return IsFailure(line.finding);
        }));
    const int notes = static_cast<int>(std::count_if(report.findings.begin(), report.findings.end(),
                                                     [](const CheckLine& line) { return IsNote(line.finding); }));
    const int hints = static_cast<int>(report.findings.size()) - failures - notes;
    // The rows of a clean report are notes only: the head says so.
    QString head = QString::fromUtf8("%1 Fehler, %2 Hinweise.").arg(failures).arg(hints);
    if (report.Clean()) {
        head = notes == 0   ? QString::fromUtf8("Keine Befunde.")
               : notes == 1 ? QString::fromUtf8("Keine Befunde, 1 Info.")
                            : QString::fromUtf8("Keine Befunde, %1 Infos.").arg(notes);
    }
    QString summary = head + QLatin1Char(' ') + Utf8(report.SummaryText());
    for (const std::string& note : report.notes) summary += QLatin1Char('\n') + Utf8(note);
    LabelSummary->setText(summary);

    TableFindings->setRowCount(0);
    TableFindings->setRowCount(static_cast<int>(report.findings.size()));
    for (int row = 0; row < TableFindings->rowCount(); ++row) {
        const CheckLine& line = report.findings[static_cast<size_t>(row)];
        const bool failure = IsFailure(line.finding);
        auto* number = Item(line.number > 0 ? QString::number(line.number) : QStringLiteral("Konto"));
        number->setData(Qt::UserRole, line.number);
        TableFindings->setItem(row, kLineColumn, number);
        TableFindings->setItem(row, 1, Item(FromLocal(line.address)));
        TableFindings->setItem(row, 2, Item(failure                  ? QStringLiteral("Fehler")
                                            : IsNote(line.finding) ? QStringLiteral("Info")
                                                                   : QStringLiteral("Hinweis")));
        auto* text = Item(Utf8(line.text));
        text->setToolTip(text->text());
        TableFindings->setItem(row, 3, text);
        if (failure) {
            for (int column = 0; column < 4; ++column) TableFindings->item(row, column)->setForeground(kFailure);
        }
    }
    FitRows();
    if (TableFindings->rowCount() > 0) TableFindings->setCurrentCell(0, 0);

    const bool beforeRun = purpose == Purpose::BeforeRun;
    ButtonSend->setVisible(beforeRun);
    ButtonClose->setText(beforeRun ? QStringLiteral("Abbrechen") : QString::fromUtf8("Schließen"));
    ButtonClose->setDefault(true);
    TableFindings->setFocus();
    UpdateButtons();
}

bool TFormCheck::ShowReport(const CheckReport& report, Purpose purpose) {
    SetReport(report, purpose);
    return exec() == QDialog::Accepted;
}

int TFormCheck::CurrentLine() const {
    const QTableWidgetItem* item = TableFindings->item(TableFindings->currentRow(), kLineColumn);
    return item == nullptr ? 0 : item->data(Qt::UserRole).toInt();
}

void TFormCheck::FitRows() {
    // The findings are whole sentences: each row as high as its text needs in the column's width. A list
    // with thousands of findings keeps one line a row, since measuring them all would make the window
    // slow to open and to resize.
    constexpr int kMostRowsFitted = 2000;
    if (TableFindings->rowCount() <= kMostRowsFitted) TableFindings->resizeRowsToContents();
}

void TFormCheck::UpdateButtons() { ButtonPreview->setEnabled(CurrentLine() > 0); }
