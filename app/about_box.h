#pragma once
// The about box: program name, version, rights notice and a link to the maker's web page.

#include <QDialog>
#include <QIcon>
#include <QLabel>



// The program's version as four numbers joined by ".", from the build; "Not available" when the build
// carries none.
QString FileVersionText();

// The program's icon: an envelope on the window's pale blue.
QIcon ProgramIcon();

// The maker's web site, as the link label shows it.
inline constexpr const char* kMakerWebSite = "www.postira.example";

// A label that behaves like a link: pointing hand while the mouse is over it, a click opens the page.
class LinkLabel : public QLabel {
    Q_OBJECT
public:
    explicit LinkLabel(const QString& text, QWidget* parent = nullptr);

signals:
    void clicked();

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};

class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent = nullptr);

    // Puts the version into its label and shows the box modally over its parent.
    int ShowWithVersion(const QString& version);

    void Label5Click();

    QLabel* LabelVersion = nullptr;
    LinkLabel* Label5 = nullptr;

protected:
    void paintEvent(QPaintEvent* event) override;
};
