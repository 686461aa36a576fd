// The preview of an HTML mail: the HTML with the picture from inside the mail on the tab "HTML", the
// text part on the tab "Text"; a plain mail shows its text alone. Nothing is loaded that the mail does
// not hold.

#include "listedit/mail_html_view.h"
#include "listedit/preview_window.h"
#include "mailing/list_file.h"
#include "tests/support/qt/qt_printers.h"
#include "tests/support/temp_dir.h"

#include <QBuffer>
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTabBar>
#include <QTabWidget>
#include <QUrl>

#include <gtest/gtest.h>

namespace {

std::string PngOf(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

TEST(PreviewWindow, HtmlMailShowsItsPictureOnOneTabAndItsTextPartOnTheOther) {
    TempDir temp;
    QImage logo(4, 3, QImage::Format_RGB32);
    logo.fill(Qt::red);
    temp.Write("logo.png", PngOf(logo));
    temp.Write("stil.css", "p { color: red }");
    temp.Write("brief.html", "<html><head><link rel=\"stylesheet\" href=\"stil.css\"></head><body><p>Hallo $Prename</p>"
                             "<img src=\"logo.png\" alt=\"Logo\"><img src=\"https://example.test/x.png\"></body></html>\r\n");
    temp.Write("defaultmail.txt", "Hallo $Prename\r\n");
    const CheckInput input{temp.Path() + "/", temp.File("sendlist.csv"), {"smtp.example.de", "ich@example.de", "g", "25"}, {}, ""};
    TFormPreview window;

    const MailPreview html = PreviewRecord(input, SplitListLine("Meier;Hans;h@x.de;S;" + temp.File("brief.html") + ";;;"), 1);
    ASSERT_EQ(html.pictures.size(), 1u);
    window.SetPreview(html, 1);
    EXPECT_TRUE(window.TabsBody->tabBar()->isVisibleTo(&window));
    EXPECT_EQ(window.TabsBody->currentWidget(), window.BrowserHtml);
    EXPECT_EQ(window.TabsBody->tabText(0), "HTML");
    QTextDocument& document = *window.BrowserHtml->document();
    const QUrl cid(QStringLiteral("cid:") + QString::fromStdString(html.pictures.begin()->first));
    EXPECT_EQ(document.resource(QTextDocument::ImageResource, cid).value<QImage>().size(), QSize(4, 3));
    EXPECT_TRUE(document.toHtml().contains(cid.toString()));
    EXPECT_EQ(window.MemoBody->toPlainText(), "Hallo Hans\n\nLogo");
    // Neither a file beside the text nor the web is read, only the picture inside the mail.
    window.BrowserHtml->setSearchPaths({QString::fromStdString(temp.Path())});
    EXPECT_FALSE(document.resource(QTextDocument::StyleSheetResource, QUrl(QStringLiteral("stil.css"))).isValid());
    EXPECT_FALSE(document.resource(QTextDocument::ImageResource, QUrl(QStringLiteral("https://example.test/x.png"))).isValid());
    EXPECT_FALSE(window.BrowserHtml->openLinks());
    EXPECT_TRUE(window.LabelRemote->isVisibleTo(&window));

    const MailPreview plain = PreviewRecord(input, SplitListLine("Meier;Hans;h@x.de;S;;;;"), 1);
    window.SetPreview(plain, 1);
    EXPECT_FALSE(window.TabsBody->tabBar()->isVisibleTo(&window));
    EXPECT_EQ(window.TabsBody->currentWidget(), window.MemoBody);
    EXPECT_EQ(window.MemoBody->toPlainText(), "Hallo Hans");
    EXPECT_FALSE(document.resource(QTextDocument::ImageResource, cid).isValid()) << "the last mail's picture went";
    EXPECT_FALSE(window.LabelRemote->isVisibleTo(&window));
}

}  // namespace
