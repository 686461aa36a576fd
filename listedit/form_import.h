#pragma once
// The window that imports recipients from a ";"- or ","-separated text file.

#include <QDialog>

class TFormImport : public QDialog {
    Q_OBJECT
public:
    explicit TFormImport(QWidget* parent = nullptr);
};
