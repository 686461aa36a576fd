#include "ui/tool_bar.h"

#include "ui/icons.h"
#include "ui/services.h"

#include <QToolBar>
#include <QToolButton>

QToolBar* MakeToolBar(QWidget* parent, const QColor& colour) {
    auto* bar = new QToolBar(parent);
    bar->setObjectName(QStringLiteral("ToolBar1"));
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->setAutoFillBackground(true);
    QPalette palette = bar->palette();
    palette.setColor(QPalette::Window, colour);
    palette.setColor(QPalette::Button, colour);
    bar->setPalette(palette);
    return bar;
}

QToolButton* AddCommandButton(QToolBar* bar, const char* name, const QString& hint, const char* themeIcon,
                              QStyle::StandardPixmap fallback, std::function<void()> command) {
    auto* button = new QToolButton(bar);
    button->setObjectName(QString::fromLatin1(name));
    button->setToolTip(hint);
    button->setAccessibleName(hint);
    button->setIcon(ThemeIcon(themeIcon, fallback));
    button->setAutoRaise(true);
    bar->addWidget(button);
    QObject::connect(button, &QToolButton::clicked, button, [command = std::move(command)] { RunGuarded(command); });
    return button;
}
