#include "listedit/form_import.h"

TFormImport::TFormImport(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FormImport"));
    setWindowTitle(QStringLiteral("Import"));
    resize(778, 525);
}
