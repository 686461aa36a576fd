#include "mailing/html_text.h"
#include "mailing/mail_pictures.h"
#include "mailing/mail_reading.h"
#include "mailing/smtp_transport.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

namespace {

TEST(HtmlText, KindByEndingAndNamesNeverBecomeMarkup) {
    EXPECT_EQ(TextKindOfPath("/a/Brief.HTM"), TextKind::Html);
    EXPECT_EQ(TextKindOfPath("brief.html"), TextKind::Html);
    EXPECT_EQ(TextKindOfPath("brief.Md"), TextKind::Markdown);
    EXPECT_EQ(TextKindOfPath("brief.md.txt"), TextKind::Plain);
    EXPECT_EQ(TextKindOfPath("html"), TextKind::Plain);

    const std::string surname = "<b>M&uuml;ller</b> *\"O'Neil\"* [x](y)";
    const std::string html = MailBodyOfText(TextKind::Html, "<p title=\"$Name\">$Name</p>", "", surname);
    EXPECT_EQ(html, "<p title=\"&lt;b&gt;M&amp;uuml;ller&lt;/b&gt; *&quot;O&#39;Neil&quot;* [x](y)\">"
                    "&lt;b&gt;M&amp;uuml;ller&lt;/b&gt; *&quot;O&#39;Neil&quot;* [x](y)</p>");
    // In Markdown, in a paragraph, a code span and an HTML block alike, the name stays text.
    const std::string markdown =
        MailBodyOfText(TextKind::Markdown, "Hallo **$Prename** $Name\n\n`$Name`\n\n<div>$Name</div>\n", "Jürgen", surname);
    EXPECT_NE(markdown.find("<strong>Jürgen</strong> &lt;b&gt;M&amp;uuml;ller&lt;/b&gt; *&quot;O&#39;Neil&quot;* [x](y)"),
              std::string::npos)
        << markdown;
    EXPECT_EQ(markdown.find("<b>"), std::string::npos) << markdown;
    EXPECT_EQ(markdown.find("<em>"), std::string::npos) << markdown;
    EXPECT_EQ(markdown.find("<a "), std::string::npos) << markdown;
    EXPECT_EQ(TextOfHtml(markdown), "Hallo Jürgen " + std::string("<b>M&uuml;ller</b> *\"O'Neil\"* [x](y)") +
                                        "\n\n<b>M&uuml;ller</b> *\"O'Neil\"* [x](y)\n\n<b>M&uuml;ller</b> *\"O'Neil\"* [x](y)\n");
    EXPECT_NE(MarkdownToHtml("| a | b |\n|---|---|\n| 1 | ~~2~~ |\n").find("<del>2</del>"), std::string::npos);
    EXPECT_EQ(MailBodyOfText(TextKind::Plain, "<$Name>", "", "&"), "<&>");
}

TEST(HtmlText, TextPartKeepsTheShapeAndDropsTheMarkup) {
    const struct {
        const char* html;
        const char* text;
    } cases[] = {
        {"<html><head><title>T</title><style>p{}</style></head><body><p>Eins\n  zwei</p><p>drei<br>vier</p>"
         "<script>x()</script></body></html>",
         "Eins zwei\n\ndrei\nvier\n"},
        {"<ul><li>A</li><li>B<ul><li>C</li></ul></li></ul><p>Ende</p>", "- A\n- B\n  - C\n\nEnde\n"},
        {"<p><a href=\"https://x.de/p?a=1&amp;b=2\">Preise</a>, <a href=\"https://y.de\">https://y.de</a>, "
         "<a href=\"mailto:a@b.de\">a@b.de</a>, <a href=\"#oben\">oben</a></p>",
         "Preise <https://x.de/p?a=1&b=2>, https://y.de, a@b.de, oben\n"},
        {"<p><img src=\"logo.png\" alt=\"Firma &amp; Co\"> Gr&uuml;&szlig;e&nbsp;&nbsp;&lt;3&gt;</p>",
         "Firma & Co Grüße  <3>\n"},
        {"<table><tr><th>Artikel</th><th>Preis</th></tr><tr><td>Tee</td><td><b>4,50 €</b></td></tr></table>",
         "Artikel\tPreis\nTee\t4,50 €\n"},
        {"<pre>  a\n   b</pre>", "  a\n   b\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(TextOfHtml(c.html), c.text) << c.html;
}

TEST(MailPictures, LocalPicturesBecomeCidPartsOnceAndTheRestStaysAsWritten) {
    TempDir temp;
    temp.Write("logo.png", "\x89PNG\r\n\x1A\nrest");
    temp.Write("mein bild.jpg", "\xFF\xD8\xFFjpeg");
    const std::string folder = temp.File("");

    const struct {
        const char* src;
        std::optional<std::string> path;
    } references[] = {
        {"logo.png", folder + "logo.png"},
        {" mein%20bild.jpg ", folder + "mein bild.jpg"},
        {"/abs/b.gif", "/abs/b.gif"},
        {"file:///abs/b%C3%BC.gif", "/abs/bü.gif"},
        {"file://localhost/abs/b.gif", "/abs/b.gif"},
        {"file://server/share/b.gif", std::nullopt},
        {"https://x.de/logo.png", std::nullopt},
        {"//x.de/logo.png", std::nullopt},
        {"cid:bild1@x", std::nullopt},
        {"data:image/png;base64,AAAA", std::nullopt},
        {"sub/c.png?v=2#top", folder + "sub/c.png"},
    };
    for (const auto& r : references) EXPECT_EQ(LocalPicturePath(r.src, folder), r.path) << r.src;

    const std::string html =
        "<p style=\"color:#c00\">Hi</p><img class=x src=logo.png alt=\"A\"><IMG SRC='logo.png'>"
        "<img src=\"https://x.de/l.png\"><img src=\"mein%20bild.jpg\" width=\"10\">";
    const HtmlMail mail = PrepareHtmlMail(html, folder);
    ASSERT_EQ(mail.pictures.size(), 2u);
    EXPECT_EQ(mail.pictures[0].path, folder + "logo.png");
    EXPECT_EQ(mail.remotePictures, std::vector<std::string>{"https://x.de/l.png"});
    const std::string id0 = mail.pictures[0].contentId;
    const std::string id1 = mail.pictures[1].contentId;
    EXPECT_NE(id0, id1);
    EXPECT_EQ(mail.html, "<p style=\"color:#c00\">Hi</p><img class=x src=\"cid:" + id0 + "\" alt=\"A\"><IMG SRC=\"cid:" +
                             id0 + "\"><img src=\"https://x.de/l.png\"><img src=\"cid:" + id1 + "\" width=\"10\">");
    EXPECT_EQ(mail.text, "Hi\n\nA\n");

    const auto png = LoadPicture(folder + "logo.png");
    EXPECT_EQ(png->contentType, "image/png");
    EXPECT_EQ(*png->base64, "iVBORw0KGgpyZXN0\r\n");
    EXPECT_EQ(LoadPicture(folder + "logo.png"), png) << "read and encoded once while the file stays the same";
    EXPECT_EQ(LoadPicture(folder + "mein bild.jpg")->contentType, "image/jpeg");
    try {
        LoadPicture(folder + "fehlt.png");
        ADD_FAILURE() << "a missing picture must fail";
    } catch (const EPictureUnreadable& error) {
        EXPECT_NE(std::string(error.what()).find(folder + "fehlt.png"), std::string::npos) << error.what();
    }
}

// The preview reads a written HTML mail back through its nested parts (related in alternative, both
// in mixed beside the line's attachment): the text part as the text, the HTML, and the picture's bytes
// under its Content-ID; neither the picture nor the attachment is taken for a text.
TEST(ReadWrittenMail, FindsTextHtmlAndPicturesInNestedParts) {
    TempDir temp;
    const std::string logo = std::string("\x89PNG\r\n\x1A\n", 8) + std::string(100, '\0') + "\r\n.=";
    temp.Write("logo.png", logo);
    temp.Write("anlage.txt", "kein Text der Mail");
    OutgoingMail mail;
    mail.from = "ich@x.de";
    mail.recipients = "du@x.de";
    mail.subject = "Grüße";
    mail.html = std::make_shared<const HtmlMail>(
        PrepareHtmlMail("<p>Grüße an J&uuml;rgen =</p>\n<p>.Punkt</p><img src=\"logo.png\" alt=\"Logo\">", temp.File("")));
    for (const std::string attachment : {"", "anlage.txt"}) {
        mail.attachmentPath = attachment.empty() ? "" : temp.File(attachment);
        TIdMessage message;
        FillMessage(mail, message);
        std::string written;
        WriteReceivedMessage(message, [&](std::string_view piece) { written += piece; });
        ASSERT_NE(written.find("multipart/related"), std::string::npos) << written;

        const ReadMail read = ReadWrittenMail(written);
        EXPECT_EQ(read.subject, "Grüße");
        EXPECT_EQ(read.body, "Grüße an Jürgen =\n\n.Punkt\n\nLogo") << attachment;
        EXPECT_EQ(read.html, mail.html->html) << attachment;
        ASSERT_EQ(read.pictures.size(), 1u) << attachment;
        EXPECT_EQ(read.pictures.begin()->first, mail.html->pictures[0].contentId);
        EXPECT_EQ(read.pictures.begin()->second, logo);
    }
}

}  // namespace
