#include "app/options_window.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

const char* const kCaption = "Versandoptionen";
const char* const kPlainLogin = "Anmeldung ohne Verschlüsselung erlauben";
const char* const kPlainLoginHint =
    "Ohne diese Erlaubnis sendet Postira das Passwort nur über eine verschlüsselte Verbindung (TLS); "
    "bietet der Server keine an, geht keine Mail hinaus. Erlauben Sie es nur für einen Server, dem Sie "
    "auf dem ganzen Weg vertrauen, etwa im eigenen Firmennetz. Ein Server auf diesem Rechner braucht "
    "keine Erlaubnis, und wo der Server Verschlüsselung anbietet, wird sie immer genutzt.";
const char* const kRateBefore = "Höchstens";
const char* const kRateAfter = "Mails pro Minute (0: ohne Grenze)";
const char* const kRateHint =
    "Die Mails gehen gleichmäßig über die Minute verteilt hinaus, damit der Anbieter sie nicht wegen zu "
    "vieler Mails abweist (Microsoft 365 nimmt 30 in der Minute, manche Anbieter weniger). Weist der Server "
    "eine Mail vorübergehend ab, versucht Postira es nach einer Wartezeit noch einmal.";
const char* const kSavedWith =
    "Die Optionen gelten ab der nächsten Mail. Gespeichert werden sie mit \"Einstellungen speichern\" "
    "und \"Beenden\".";

QLabel* Explanation(const char* text, const char* name, QWidget* parent) {
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setWordWrap(true);
    return label;
}

}  // namespace

TFormOptions::TFormOptions(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FormOptions"));
    setWindowTitle(QString::fromUtf8(kCaption));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);

    CheckPlainLogin = new QCheckBox(QString::fromUtf8(kPlainLogin), this);
    CheckPlainLogin->setObjectName(QStringLiteral("CheckPlainLogin"));
    SpinRate = new QSpinBox(this);
    SpinRate->setObjectName(QStringLiteral("SpinRate"));
    SpinRate->setRange(0, kMaxMailsPerMinute);

    ButtonOK = new QPushButton(QStringLiteral("OK"), this);
    ButtonOK->setObjectName(QStringLiteral("ButtonOK"));
    ButtonOK->setDefault(true);
    ButtonCancel = new QPushButton(QStringLiteral("Abbrechen"), this);
    ButtonCancel->setObjectName(QStringLiteral("ButtonCancel"));
    connect(ButtonOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(ButtonCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ButtonOK);
    buttons->addWidget(ButtonCancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(CheckPlainLogin);
    auto* hint = Explanation(kPlainLoginHint, "LabelPlainLogin", this);
    hint->setContentsMargins(20, 0, 0, 0);
    layout->addWidget(hint);
    layout->addSpacing(12);
    auto* rate = new QHBoxLayout;
    rate->addWidget(new QLabel(QString::fromUtf8(kRateBefore), this));
    rate->addWidget(SpinRate);
    rate->addWidget(new QLabel(QString::fromUtf8(kRateAfter), this));
    rate->addStretch(1);
    layout->addLayout(rate);
    layout->addWidget(Explanation(kRateHint, "LabelRate", this));
    layout->addSpacing(12);
    layout->addWidget(Explanation(kSavedWith, "LabelSavedWith", this));
    layout->addStretch(1);
    layout->addLayout(buttons);
    // The wrapped explanations need the height that goes with the window's width, not with their own.
    constexpr int kWidth = 440;
    setFixedSize(kWidth, heightForWidth(kWidth));
}

void TFormOptions::SetOptions(const SendOptions& options) {
    shown_ = options;
    CheckPlainLogin->setChecked(options.allowPlainLogin);
    SpinRate->setValue(options.mailsPerMinute);
}

SendOptions TFormOptions::Options() const {
    // What the window does not show stays as it was handed in.
    SendOptions options = shown_;
    options.allowPlainLogin = CheckPlainLogin->isChecked();
    options.mailsPerMinute = SpinRate->value();
    return options;
}

std::optional<SendOptions> TFormOptions::Edit(const SendOptions& options) {
    SetOptions(options);
    if (exec() != QDialog::Accepted) return std::nullopt;
    return Options();
}
