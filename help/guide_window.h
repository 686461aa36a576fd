#pragma once
// The user guide in a window of the program's own, for desktops where no browser can be started: the
// guide is plain HTML, which Qt's rich-text viewer shows with its links between the pages.

#include <QDialog>

class QTextBrowser;

class TFormGuide : public QDialog {
    Q_OBJECT
public:
    explicit TFormGuide(QWidget* parent = nullptr);

    // Shows `page` (a file of the guide) without blocking the window that asked.
    void ShowPage(const QString& page);

    QTextBrowser* Browser = nullptr;
};

// The one guide window of the program, made when first needed.
TFormGuide& GuideWindow(QWidget* owner);
