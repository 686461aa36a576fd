#include "listedit/mail_html_view.h"

#include <QImage>
#include <QUrl>

MailHtmlView::MailHtmlView(QWidget* parent) : QTextBrowser(parent) {
    setOpenLinks(false);
    setOpenExternalLinks(false);
}

void MailHtmlView::ShowMail(const std::string& html, const std::map<std::string, std::string>& pictures) {
    // clear() also drops the pictures of the mail shown before.
    document()->clear();
    for (const auto& [contentId, bytes] : pictures) {
        const QImage picture = QImage::fromData(reinterpret_cast<const uchar*>(bytes.data()), static_cast<int>(bytes.size()));
        if (picture.isNull()) continue;  // not a picture Qt can draw: it shows as missing
        document()->addResource(QTextDocument::ImageResource, QUrl(QStringLiteral("cid:") + QString::fromStdString(contentId)),
                                picture);
    }
    setHtml(QString::fromUtf8(html.data(), static_cast<qsizetype>(html.size())));
}

QVariant MailHtmlView::loadResource(int, const QUrl&) { return {}; }
