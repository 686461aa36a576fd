#pragma once
// The window "Vorschau": one recipient's mail exactly as it would be sent, read-only: sender, recipients,
// copies and subject as the recipient's program shows them, the text, the attachment with its size, and
// why no mail would go where that is so.

#include "mailing/mailing_check.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

class TFormPreview : public QDialog {
    Q_OBJECT
public:
    explicit TFormPreview(QWidget* parent = nullptr);

    // Fills the window with the mail of line `number`.
    void SetPreview(const MailPreview& preview, int number);
    // Fills it and shows it modally.
    void ShowPreview(const MailPreview& preview, int number);

    QLineEdit* EditFrom = nullptr;
    QLineEdit* EditTo = nullptr;
    QLineEdit* EditCc = nullptr;
    QLineEdit* EditSubject = nullptr;
    QPlainTextEdit* MemoBody = nullptr;
    QLabel* LabelAttachment = nullptr;
    QLabel* LabelSize = nullptr;
    QLabel* LabelProblem = nullptr;
    QPushButton* ButtonClose = nullptr;
};

// A size for reading: "812 Bytes", "12,3 KB", "4,5 MB".
QString SizeText(long long bytes);
