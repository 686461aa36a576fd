#pragma once
// The window "Versandoptionen": the sending options of the account, beside the account fields of the
// main window. What it changes is in force for the next send at once and is written to the options file
// with the settings ("Einstellungen speichern", "Beenden").

#include "mailing/send_options.h"

#include <QDialog>

#include <optional>

class QCheckBox;
class QPushButton;
class QSpinBox;

class TFormOptions : public QDialog {
    Q_OBJECT
public:
    explicit TFormOptions(QWidget* parent = nullptr);

    // Shows the options modally; the changed options when the user left with "OK", else nothing.
    std::optional<SendOptions> Edit(const SendOptions& options);

    void SetOptions(const SendOptions& options);
    SendOptions Options() const;

    QCheckBox* CheckPlainLogin = nullptr;
    QSpinBox* SpinRate = nullptr;
    QPushButton* ButtonOK = nullptr;
    QPushButton* ButtonCancel = nullptr;

private:
    SendOptions shown_;
};
