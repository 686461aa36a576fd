#include "listedit/form_loeschen.h"

TFormLoeschen::TFormLoeschen(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FormLoeschen"));
    setWindowTitle(QStringLiteral("Zeilen löschen"));
    setFixedSize(352, 150);
}
