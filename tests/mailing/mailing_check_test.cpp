#include "mailing/mailing_check.h"
#include "tests/support/check_list.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <QString>

#include <filesystem>
#include <tuple>

namespace {

class MailingCheckTest : public ::testing::Test {
protected:
    MailingCheckTest() {
        input.dataFolder = temp.Path() + "/";
        input.listPath = temp.File("sendlist.csv");
        input.account = {"smtp.example.de", "ich@example.de", "geheim", "25"};
        input.options.mailsPerMinute = 30;
    }

    TempDir temp;
    CheckInput input;
};

TEST_F(MailingCheckTest, FindsEachFindingAtItsLineAndSumsTheMailsBeforeTheRunWouldStop) {
    const std::vector<ExpectedFinding> expected = WriteMailingWithEveryFinding(temp);
    const std::vector<std::string> before = FolderEntries(temp.Path());
    const std::string list = temp.Read("sendlist.csv");

    CheckReport report = CheckMailing(input);
    ASSERT_EQ(report.findings.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const CheckLine& found = report.findings[i];
        EXPECT_EQ(found.number, expected[i].number) << i;
        EXPECT_EQ(found.address, expected[i].address) << i;
        EXPECT_EQ(found.finding, expected[i].kind) << i;
        EXPECT_EQ(found.text, expected[i].text) << i;
    }
    EXPECT_EQ(report.mails, 8);
    EXPECT_EQ(report.stopLine, 13);
    EXPECT_EQ(report.duration, std::chrono::seconds(16));
    EXPECT_EQ(report.SummaryText(), kEveryFindingSummary);
    // Nothing written: no lock, no journal, the list as it was.
    EXPECT_EQ(FolderEntries(temp.Path()), before);
    EXPECT_EQ(temp.Read("sendlist.csv"), list);

    // A port that is no number and a copy address that bounces keep every mail back; the line findings
    // stay, the run would not get as far as line 13.
    input.account.port = "abc";
    input.cc = "chef@firma";
    report = CheckMailing(input);
    ASSERT_EQ(report.findings.size(), expected.size() + 2);
    EXPECT_EQ(report.findings[0].number, 0);
    EXPECT_EQ(report.findings[0].finding, CheckFinding::BadPort);
    EXPECT_EQ(report.findings[0].text, "Port \"abc\" ist keine Zahl: es kann keine Mail gesendet werden");
    EXPECT_EQ(report.findings[1].finding, CheckFinding::DoubtfulAddress);
    EXPECT_EQ(report.findings[2].number, 2);
    EXPECT_EQ(report.mails, 0);
    EXPECT_EQ(report.stopLine, 0);
    EXPECT_EQ(report.SummaryText(), "Keine Mail würde gesendet.");

    // Without the standard text the run ends with its file error at the first line that needs it.
    input.account.port = "25";
    input.cc.clear();
    std::filesystem::remove(temp.File("defaultmail.txt"));
    report = CheckMailing(input);
    ASSERT_FALSE(report.findings.empty());
    EXPECT_EQ(report.findings[0].number, 1);
    EXPECT_EQ(report.findings[0].finding, CheckFinding::TextUnreadable);
    EXPECT_TRUE(IsFailure(report.findings[0].finding));
    EXPECT_EQ(report.stopLine, 1);
    EXPECT_EQ(report.mails, 0);
}

TEST(ClosestPlaceholder, NamesWhatTheTextMeant) {
    TempDir temp;
    temp.Write("defaultmail.txt", "$Firstname $Surname $Vorname $VORNAME $Nachname $Prenmae $Nmae $Names 5 $ $5\r\n");
    temp.Write("sendlist.csv", "Meier;Hans;hans@x.de;S;;;;\r\n");
    const CheckInput input{temp.Path() + "/", temp.File("sendlist.csv"), {"smtp.example.de", "ich@example.de", "g", "25"}, {}, ""};
    const CheckReport report = CheckMailing(input);
    ASSERT_EQ(report.findings.size(), 1u);
    EXPECT_EQ(report.findings[0].text,
              "unbekannte Platzhalter \"$Firstname\" (gemeint ist wohl \"$Prename\"), \"$Surname\" (gemeint ist wohl "
              "\"$Name\"), \"$Vorname\" (gemeint ist wohl \"$Prename\"), \"$Nachname\" (gemeint ist wohl \"$Name\"), "
              "\"$Prenmae\" (gemeint ist wohl \"$Prename\"), \"$Nmae\" (gemeint ist wohl \"$Name\"): sie bleiben so in "
              "der einen Mail mit dem Text \"" + temp.File("defaultmail.txt") + "\" stehen");
    EXPECT_EQ(report.SummaryText().find("1 Mail würde gesendet, "), 0u) << report.SummaryText();
    EXPECT_NE(report.SummaryText().find("; ohne Versandgrenze geht sie so schnell hinaus"), std::string::npos);
}

// The text in Windows-1252 (for the characters used here, the same as Latin-1).
std::string Cp1252(const std::string& utf8) { return QString::fromStdString(utf8).toLatin1().toStdString(); }

// The preview decodes what the writer encoded: umlauts in the subject (encoded words) and in the body
// (quoted-printable, labelled UTF-8), the attachment beside the text, from a list and a text in either
// charset.
TEST_F(MailingCheckTest, PreviewShowsTheMailAsItsRecipientReadsIt) {
    temp.Write("preise.pdf", std::string(100, 'p'));
    input.cc = "chef@x.de";
    for (const bool listIs1252 : {false, true}) {
        for (const bool textIs1252 : {false, true}) {
            SCOPED_TRACE(std::string(listIs1252 ? "list 1252" : "list UTF-8") + (textIs1252 ? ", text 1252" : ""));
            const auto text = [](bool cp1252, const std::string& utf8) { return cp1252 ? Cp1252(utf8) : utf8; };
            temp.Write("defaultmail.txt", text(textIs1252, "Grüß Gott $Prename $Name,\r\n.ein Punkt vorn\r\n"));
            temp.Write("sendlist.csv", text(listIs1252, "Müller;Jürgen;Jürgen Müller <j@x.de>;Größe für Jürgen;default;;") +
                                           temp.File("preise.pdf") + ";\r\n\r\n");
            const MailPreview preview = PreviewLine(input, 1);
            EXPECT_EQ(preview.problem, "");
            EXPECT_EQ(preview.from, "ich@example.de");
            EXPECT_EQ(preview.to, "Jürgen Müller <j@x.de>");
            EXPECT_EQ(preview.cc, "chef@x.de");
            EXPECT_EQ(preview.subject, "Größe für Jürgen");
            EXPECT_EQ(preview.body, "Grüß Gott Jürgen Müller,\n.ein Punkt vorn");
            EXPECT_EQ(preview.attachmentName, "preise.pdf");
            EXPECT_EQ(preview.attachmentBytes, 100);
            EXPECT_EQ(preview.wireBytes, CheckMailing(input).wireBytes);
        }
    }

    EXPECT_EQ(PreviewLine(input, 2).problem, "Zeile 2 ist leer: sie wird übersprungen");
    RecipientRecord record = SplitListLine("Kurz;;k@x.de;S;;;;");
    MailPreview preview = PreviewRecord(input, record, 5);
    EXPECT_EQ(preview.problem, "kein Vorname: die Zeile wird nicht gesendet");
    EXPECT_EQ(preview.to, "k@x.de");
    record = SplitListLine("Zu;Zoe;<a@b.example>@c.example;S;;;;");
    preview = PreviewRecord(input, record, 6);
    EXPECT_EQ(preview.problem, "Adresse ungültig, sie wird nicht erkannt: der Versand bricht an dieser Zeile ab");
    EXPECT_EQ(preview.to, "<a@b.example>@c.example");
    EXPECT_EQ(preview.body, "Grüß Gott Zoe Zu,\n.ein Punkt vorn");
}

// Addresses that the parser takes but no server does, and bytes that neither charset reads.
TEST_F(MailingCheckTest, AddressesNoServerTakesAndUndecodableBytesAreFound) {
    temp.Write("defaultmail.txt", "Hallo $Prename\r\n");
    temp.Write("kaputt.txt", "Gr\x81\xFC\xDF\r\n");  // 0x81 has no character in Windows-1252
    const std::string broken = temp.File("kaputt.txt");
    temp.Write("sendlist.csv", "A;a;kaputt@@example.test;S;;;;\r\n"
                               "B;b;a b@example.test;S;;;;\r\n"
                               "C;c;@example.test;S;;;;\r\n"
                               "D\x81;d;d@x.de;S;;;;\r\n"
                               "M\xFCller;J\xFCrgen;j@x.de;Gr\xFC\xDF\x65;" + broken + ";;;\r\n"
                               "E;e;e@x.de;S;" + broken + ";;;\r\n");
    const char* const undecodable =
        "Bytes, die weder als UTF-8 noch als Windows-1252 lesbar sind: sie erscheinen beim Empfänger als \"\xEF\xBF\xBD\"";
    const std::string refused = ": die Mail geht hinaus, der Server weist sie aber wahrscheinlich ab";
    const std::vector<std::pair<CheckFinding, std::string>> expected = {
        {CheckFinding::DoubtfulAddress, "Adresse ungültig (mehr als ein \"@\")" + refused},
        {CheckFinding::DoubtfulAddress, "Adresse ungültig (Leerzeichen oder Steuerzeichen in der Adresse)" + refused},
        {CheckFinding::DoubtfulAddress, "Adresse ungültig (nichts vor dem \"@\")" + refused},
        {CheckFinding::Undecodable, std::string("Felder mit ") + undecodable},
        {CheckFinding::Undecodable, "Text \"" + broken + "\" mit " + undecodable},  // once for the file
    };
    const CheckReport report = CheckMailing(input);
    ASSERT_EQ(report.findings.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(report.findings[i].number, static_cast<int>(i) + 1);
        EXPECT_EQ(report.findings[i].finding, expected[i].first);
        EXPECT_EQ(report.findings[i].text, expected[i].second);
    }
    EXPECT_EQ(report.mails, 6) << "the run sends them all";
}

// The pictures of HTML and Markdown texts as the run takes them, the Markdown rendered first: a missing
// picture and one that is no file fail every line of the text, each picture from the web and the size
// of the others are told once per text. Notes alone leave the check clean.
TEST_F(MailingCheckTest, PicturesOfHtmlAndMarkdownTextsAreFoundAsTheRunTakesThem) {
    temp.Write("logo.png", std::string(100, 'p'));  // 140 bytes of base64 lines
    temp.Write("klein.gif", std::string(57, 'g'));  // one line of 78
    std::filesystem::create_directory(temp.File("ordner.png"));
    temp.Write("brief.html", "<p>Hallo $Prename</p><img src=\"logo.png\"><img src=\"fehlt.png\">"
                             "<img src=\"https://example.test/x.png\"><img src='ordner.png'>\r\n");
    temp.Write("brief.md", "Hallo $Prename ![Logo](logo.png) ![](klein.gif) ![Web](http://example.test/y.png)\r\n");
    const std::string html = temp.File("brief.html"), md = temp.File("brief.md");
    temp.Write("sendlist.csv", "Meier;Hans;hans@x.de;S;" + html + ";;;\r\n"
                               "Schulz;Eva;eva@x.de;S;" + html + ";;;\r\n"
                               "Kurz;Kai;kai@x.de;S;" + md + ";;;\r\n"
                               "Ohne;;ohne@x.de;S;" + md + ";;;\r\n");
    const std::string missing = "Bild \"" + temp.File("fehlt.png") + "\" der Textdatei \"" + html +
                                "\" fehlt: die Mail kann nicht gesendet werden";
    const std::string folder = "Bild \"" + temp.File("ordner.png") + "\" der Textdatei \"" + html +
                               "\" ist nicht lesbar: die Mail kann nicht gesendet werden";
    const std::string blocked = "\" kommt aus dem Netz: es wird beim Empfänger oft blockiert";
    const std::vector<std::tuple<int, CheckFinding, std::string>> expected = {
        {1, CheckFinding::PictureUnreadable, missing},
        {1, CheckFinding::PictureUnreadable, folder},
        {1, CheckFinding::RemotePicture, "Bild \"https://example.test/x.png\" der Textdatei \"" + html + blocked},
        {1, CheckFinding::PictureSize, "Bild der Textdatei \"" + html + "\": 140 Bytes je Mail"},
        {2, CheckFinding::PictureUnreadable, missing},
        {2, CheckFinding::PictureUnreadable, folder},
        {3, CheckFinding::RemotePicture, "Bild \"http://example.test/y.png\" der Textdatei \"" + md + blocked},
        {3, CheckFinding::PictureSize, "Bilder der Textdatei \"" + md + "\": 2, zusammen 218 Bytes je Mail"},
        {4, CheckFinding::NoFirstName, "kein Vorname: die Zeile wird nicht gesendet"},
    };
    CheckReport report = CheckMailing(input);
    ASSERT_EQ(report.findings.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(report.findings[i].number, std::get<0>(expected[i])) << i;
        EXPECT_EQ(report.findings[i].finding, std::get<1>(expected[i])) << i;
        EXPECT_EQ(report.findings[i].text, std::get<2>(expected[i])) << i;
        EXPECT_EQ(IsFailure(report.findings[i].finding), std::get<1>(expected[i]) == CheckFinding::PictureUnreadable ||
                                                             std::get<1>(expected[i]) == CheckFinding::NoFirstName);
    }
    EXPECT_EQ(report.mails, 1) << "the lines of the HTML text fail";
    EXPECT_EQ(PreviewLine(input, 1).problem, missing);

    temp.Write("sendlist.csv", "Kurz;Kai;kai@x.de;S;" + md + ";;;\r\n");
    temp.Write("brief.md", "Hallo $Prename ![Logo](logo.png)\r\n");
    report = CheckMailing(input);
    ASSERT_EQ(report.findings.size(), 1u);
    EXPECT_EQ(report.findings[0].finding, CheckFinding::PictureSize);
    EXPECT_TRUE(report.Clean());
}

}  // namespace
