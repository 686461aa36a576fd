#include "app/about_box.h"

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("Über ..."));
    setFixedSize(357, 218);
}
