#include "help/guide_window.h"

#include <QFileInfo>
#include <QPointer>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

TFormGuide::TFormGuide(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FormGuide"));
    setWindowTitle(QStringLiteral("Postira – Hilfe"));
    resize(760, 600);
    Browser = new QTextBrowser(this);
    Browser->setObjectName(QStringLiteral("Browser"));
    // The pages link to each other; a web address has nothing to be shown with here.
    Browser->setOpenLinks(true);
    Browser->setOpenExternalLinks(false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Browser);
}

void TFormGuide::ShowPage(const QString& page) {
    Browser->setSearchPaths({QFileInfo(page).absolutePath()});
    Browser->setSource(QUrl::fromLocalFile(page));
    show();
    raise();
    activateWindow();
}

TFormGuide& GuideWindow(QWidget* owner) {
    static QPointer<TFormGuide> window;
    if (window.isNull()) window = new TFormGuide(owner);
    return *window;
}
