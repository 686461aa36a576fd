#pragma once
// The toolbars of the list editor windows: fixed, in the window's own colour, with picture buttons that
// run their command through the general error display.

#include <QColor>
#include <QString>
#include <QStyle>

#include <functional>

class QToolBar;
class QToolButton;
class QWidget;

// A toolbar named "ToolBar1" that cannot be moved or torn off, filled with `colour`.
QToolBar* MakeToolBar(QWidget* parent, const QColor& colour);

// Adds a button with a picture from the desktop theme (or Qt's `fallback`), named `name` for tests and
// accessibility tools, with `hint` as its tooltip. A click runs `command` through RunGuarded.
QToolButton* AddCommandButton(QToolBar* bar, const char* name, const QString& hint, const char* themeIcon,
                              QStyle::StandardPixmap fallback, std::function<void()> command);
