#include "ui/icons.h"

#include <QApplication>
#include <QDir>

QIcon ThemeIcon(const char* themeName, QStyle::StandardPixmap fallback) {
    QIcon icon = QIcon::fromTheme(QString::fromLatin1(themeName));
    if (icon.isNull() || icon.availableSizes().isEmpty()) {
        if (!icon.isNull() && !icon.pixmap(24, 24).isNull()) return icon;
        icon = QApplication::style()->standardIcon(fallback);
    }
    return icon;
}

void EnsureIconTheme() {
    const QString current = QIcon::themeName();
    if (!current.isEmpty() && current != QLatin1String("hicolor")) return;
    for (const char* candidate : {"Adwaita", "breeze", "Tango", "gnome"}) {
        for (const QString& base : QIcon::themeSearchPaths()) {
            if (QDir(base + QLatin1Char('/') + QLatin1String(candidate)).exists()) {
                QIcon::setThemeName(QString::fromLatin1(candidate));
                return;
            }
        }
    }
}
