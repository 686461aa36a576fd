#include "listedit/form_grid.h"

TFormGrid::TFormGrid(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FormGrid"));
    setWindowTitle(QStringLiteral("Empfänger"));
    resize(795, 550);
}
