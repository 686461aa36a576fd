#pragma once
// The dialog that asks for the rows to delete from the recipient table: the current row, or a range of
// row numbers. It leaves its answer in `ZeileVon` and `ZeileBis` and changes nothing itself.

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;

class TFormLoeschen : public QDialog {
    Q_OBJECT
public:
    // The answer: −1 cancelled; 0 and 0 the current row; v ≥ 1 and b ≥ v the rows v to b.
    static constexpr int kCancelled = -1;
    int ZeileVon = 0;
    int ZeileBis = 0;

    explicit TFormLoeschen(QWidget* parent = nullptr);

    // Every showing starts empty: fields, check box and answer.
    void FormShow();
    void CheckBox1Click();
    void EditVonKeyPress();
    // OK: checks the input; the dialog closes only when it is valid.
    void BitBtn1Click();
    // Cancel.
    void BitBtn2Click();
    // Esc and the window's close button count as cancel: they never delete a row.
    void reject() override;

    QCheckBox* CheckBox1 = nullptr;
    QLineEdit* EditVon = nullptr;
    QLineEdit* EditBis = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn2 = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};
