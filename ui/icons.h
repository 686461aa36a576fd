#pragma once

#include <QIcon>
#include <QStyle>

// An icon from the desktop theme, or Qt's standard picture when the theme has none, so every button
// shows a picture on any desktop.
QIcon ThemeIcon(const char* themeName, QStyle::StandardPixmap fallback);

// Chooses an installed icon theme when the desktop named none (a bare X server, a minimal session).
void EnsureIconTheme();
