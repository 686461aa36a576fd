#pragma once
// The window "Mailing prüfen": what the check of the whole mailing found, one row per finding, and the
// sum. A double click on a row opens the list editor at that line; "Vorschau" shows the row's mail.
// Before a run it asks whether to send anyway.

#include "mailing/mailing_check.h"

#include <QDialog>

#include <functional>

class QLabel;
class QPushButton;
class QTableWidget;

class TFormCheck : public QDialog {
    Q_OBJECT
public:
    // From "Mailing prüfen" the window only shows; before a run it offers "Trotzdem senden".
    enum class Purpose { Check, BeforeRun };

    explicit TFormCheck(QWidget* parent = nullptr);

    // Fills the window with the report.
    void SetReport(const CheckReport& report, Purpose purpose);
    // Fills it and shows it modally; true when the user chose "Trotzdem senden".
    bool ShowReport(const CheckReport& report, Purpose purpose);

    // What a double click on a line's row and "Vorschau" do, with the line's number.
    std::function<void(int)> onOpenLine;
    std::function<void(int)> onPreview;

    QLabel* LabelSummary = nullptr;
    QTableWidget* TableFindings = nullptr;
    QPushButton* ButtonPreview = nullptr;
    QPushButton* ButtonSend = nullptr;
    QPushButton* ButtonClose = nullptr;

private:
    // The line of the current row; 0 for the account's row or none.
    int CurrentLine() const;
    void UpdateButtons();
    void FitRows();
};
