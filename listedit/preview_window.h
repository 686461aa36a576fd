#pragma once
// The window "Vorschau": one recipient's mail exactly as it would be sent, read-only: sender, recipients,
// copies and subject as the recipient's program shows them, the text, the attachment with its size, and
// why no mail would go where that is so. An HTML mail shows its HTML with its pictures on a first tab
// "HTML" and its text part on a second tab "Text"; a plain mail shows its text alone.

#include "mailing/mailing_check.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class MailHtmlView;

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
    QTabWidget* TabsBody = nullptr;
    MailHtmlView* BrowserHtml = nullptr;  // the tab "HTML"
    QPlainTextEdit* MemoBody = nullptr;   // the tab "Text"
    QLabel* LabelRemote = nullptr;        // under the tabs: remote pictures are not shown
    QLabel* LabelAttachment = nullptr;
    QLabel* LabelSize = nullptr;
    QLabel* LabelProblem = nullptr;
    QPushButton* ButtonClose = nullptr;
};

// A size for reading: "812 Bytes", "12,3 KB", "4,5 MB".
QString SizeText(long long bytes);
