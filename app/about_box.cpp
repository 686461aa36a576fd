#include "app/about_box.h"

#include "ui/gradient.h"
#include "ui/icons.h"
#include "ui/services.h"

#include <QGridLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {

const QColor kGradientTop(214, 228, 254);

QLabel* Text(const QString& text, QWidget* parent, const char* name) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

}  // namespace

QIcon ProgramIcon() { return QIcon(QStringLiteral(":/postira/postira.svg")); }

QString FileVersionText() {
#ifdef POSTIRA_VERSION
    const QString version = QStringLiteral(POSTIRA_VERSION);
    // Four numbers, as the version record of a program file has them: missing parts count as 0.
    QStringList parts = version.split(QLatin1Char('.'), Qt::SkipEmptyParts);
    if (!parts.isEmpty()) {
        while (parts.size() < 4) parts << QStringLiteral("0");
        return parts.mid(0, 4).join(QLatin1Char('.'));
    }
#endif
    return QStringLiteral("Not available");
}

LinkLabel::LinkLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    QFont underlined = font();
    underlined.setUnderline(true);
    setFont(underlined);
    QPalette blue = palette();
    blue.setColor(QPalette::WindowText, Qt::blue);
    setPalette(blue);
}

void LinkLabel::enterEvent(QEnterEvent* event) {
    setCursor(Qt::PointingHandCursor);
    QLabel::enterEvent(event);
}

void LinkLabel::leaveEvent(QEvent* event) {
    setCursor(Qt::ArrowCursor);
    QLabel::leaveEvent(event);
}

void LinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit clicked();
    QLabel::mouseReleaseEvent(event);
}

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("Über ..."));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(357, 218);

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("ProgramIcon"));
    icon->setPixmap(ProgramIcon().pixmap(48, 48));

    QLabel* name = Text(QStringLiteral("Korvex"), this, "ProductName");
    QFont big = name->font();
    big.setPointSize(big.pointSize() + 6);
    big.setBold(true);
    name->setFont(big);

    LabelVersion = Text(QStringLiteral("Rel.Nr."), this, "LabelVersion");
    Label5 = new LinkLabel(QString::fromLatin1(kMakerWebSite), this);
    Label5->setObjectName(QStringLiteral("Label5"));
    connect(Label5, &LinkLabel::clicked, this, [this] { RunGuarded([this] { Label5Click(); }); });

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("OKButton"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* grid = new QGridLayout;
    grid->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
    grid->addWidget(name, 0, 1, 1, 2);
    grid->addWidget(Text(QStringLiteral("Version"), this, "Label2"), 1, 1);
    grid->addWidget(LabelVersion, 1, 2);
    grid->setColumnStretch(2, 1);

    auto* column = new QVBoxLayout(this);
    column->addLayout(grid);
    column->addSpacing(6);
    column->addWidget(Text(QStringLiteral("Copyright © 2026 Postira"), this, "Label3"));
    column->addWidget(Text(QStringLiteral("Alle Rechte vorbehalten."), this, "Label4"));
    column->addWidget(Text(QStringLiteral("Serienmails mit persönlicher Anrede."), this, "Label6"));
    column->addWidget(Label5);
    column->addStretch();
    column->addWidget(ok, 0, Qt::AlignRight);
}

int TAboutBox::ShowWithVersion(const QString& version) {
    LabelVersion->setText(version);
    if (parentWidget() != nullptr) {
        // Centred over the main window.
        const QRect owner = parentWidget()->frameGeometry();
        move(owner.center() - QPoint(width() / 2, height() / 2));
    }
    return exec();
}

void TAboutBox::Label5Click() {
    services::Starter().OpenUrl(QUrl(QStringLiteral("http://") + QString::fromLatin1(kMakerWebSite)));
}

void TAboutBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    PaintGradient(painter, rect(), kGradientTop);
}
