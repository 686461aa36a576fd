#pragma once
// The dialog that asks for a range of rows to delete from the recipient table.

#include <QDialog>

class TFormLoeschen : public QDialog {
    Q_OBJECT
public:
    explicit TFormLoeschen(QWidget* parent = nullptr);
};
