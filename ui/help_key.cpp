#include "ui/help_key.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

HelpKeyWatcher::HelpKeyWatcher(QWidget* window, std::function<void()> onHelp)
    : QObject(window), window_(window), onHelp_(std::move(onHelp)) {
    qApp->installEventFilter(this);
}

HelpKeyWatcher::~HelpKeyWatcher() { qApp->removeEventFilter(this); }

bool HelpKeyWatcher::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType()) return false;
    if (static_cast<QWidget*>(watched)->window() != window_) return false;
    if (static_cast<QKeyEvent*>(event)->key() != Qt::Key_F1) return false;
    onHelp_();
    return true;
}
