#include "listedit/form_loeschen.h"

#include "listedit/row_range.h"
#include "ui/gradient.h"
#include "ui/services.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>

namespace {

constexpr int kClientWidth = 352;
constexpr int kClientHeight = 150;
// Colours given as blue-green-red values 0xFEE4D6 and 0xFCD3C5.
const QColor kGradientTop(0xD6, 0xE4, 0xFE);
const QColor kCheckBoxBackground(0xC5, 0xD3, 0xFC);

const char* const kInvalidVon = "Ungültige Zeilennummer VON!";
const char* const kInvalidBis = "Ungültige Zeilennummer BIS!";
const char* const kInvalidRange = "Zeilennummern müssen größer 0 und BIS darf nicht kleiner als VON sein!";

}  // namespace

TFormLoeschen::TFormLoeschen(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FormLoeschen"));
    setWindowTitle(QStringLiteral("Zeilen löschen"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(kClientWidth, kClientHeight);
    setFont(QFont(QStringLiteral("Tahoma"), 8));

    CheckBox1 = new QCheckBox(QStringLiteral("Aktuelle Zeile löschen"), this);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    CheckBox1->setAutoFillBackground(true);
    QPalette palette = CheckBox1->palette();
    palette.setColor(QPalette::Window, kCheckBoxBackground);
    CheckBox1->setPalette(palette);
    CheckBox1->setGeometry(24, 16, 180, 21);

    auto* labelVon = new QLabel(QStringLiteral("Von Zeilennr.:"), this);
    labelVon->setGeometry(24, 52, 90, 21);
    EditVon = new QLineEdit(this);
    EditVon->setObjectName(QStringLiteral("EditVon"));
    EditVon->setGeometry(120, 52, 100, 21);
    labelVon->setBuddy(EditVon);

    auto* labelBis = new QLabel(QStringLiteral("Bis Zeilennr.:"), this);
    labelBis->setGeometry(24, 84, 90, 21);
    EditBis = new QLineEdit(this);
    EditBis->setObjectName(QStringLiteral("EditBis"));
    EditBis->setGeometry(120, 84, 100, 21);
    labelBis->setBuddy(EditBis);

    BitBtn1 = new QPushButton(QStringLiteral("OK"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setGeometry(252, 48, 80, 27);
    BitBtn1->setDefault(true);
    BitBtn1->setAutoDefault(true);
    BitBtn2 = new QPushButton(QStringLiteral("Abbrechen"), this);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    BitBtn2->setGeometry(252, 84, 80, 27);
    BitBtn2->setAutoDefault(false);

    connect(CheckBox1, &QCheckBox::clicked, this, [this] { RunGuarded([this] { CheckBox1Click(); }); });
    connect(BitBtn1, &QPushButton::clicked, this, [this] { RunGuarded([this] { BitBtn1Click(); }); });
    connect(BitBtn2, &QPushButton::clicked, this, [this] { RunGuarded([this] { BitBtn2Click(); }); });
    // Typing into the "Von" field means a range, not the current row. Only keys that change the text
    // count: Tab, the arrows or Enter pass through the field without touching the check box.
    connect(EditVon, &QLineEdit::textEdited, this, [this] { EditVonKeyPress(); });
}

void TFormLoeschen::FormShow() {
    EditVon->clear();
    EditBis->clear();
    CheckBox1->setChecked(false);
    ZeileVon = 0;
    ZeileBis = 0;
}

void TFormLoeschen::CheckBox1Click() {
    if (!CheckBox1->isChecked()) return;
    EditVon->clear();
    EditBis->clear();
}

void TFormLoeschen::EditVonKeyPress() { CheckBox1->setChecked(false); }

void TFormLoeschen::BitBtn1Click() {
    if (CheckBox1->isChecked()) {
        ZeileVon = 0;
        ZeileBis = 0;
        accept();
        return;
    }
    // Both fields are checked, so that the user learns about both mistakes at once.
    const std::optional<int> von = ParseRowNumber(EditVon->text());
    if (!von) {
        services::Messages().Error(QString::fromUtf8(kInvalidVon));
        EditVon->clear();
    }
    const std::optional<int> bis = ParseRowNumber(EditBis->text());
    if (!bis) {
        services::Messages().Error(QString::fromUtf8(kInvalidBis));
        EditBis->clear();
    }
    if (!von || !bis) return;
    if (*von < 1 || *bis < *von) {
        services::Messages().Error(QString::fromUtf8(kInvalidRange));
        EditVon->clear();
        EditBis->clear();
        return;
    }
    ZeileVon = *von;
    ZeileBis = *bis;
    accept();
}

void TFormLoeschen::BitBtn2Click() { reject(); }

void TFormLoeschen::reject() {
    ZeileVon = kCancelled;
    QDialog::reject();
}

void TFormLoeschen::showEvent(QShowEvent* event) {
    FormShow();
    QDialog::showEvent(event);
}

void TFormLoeschen::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    PaintGradient(painter, rect(), kGradientTop);
}
