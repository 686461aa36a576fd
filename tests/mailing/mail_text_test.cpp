#include "mailing/mail_text.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

namespace {

TEST(MailText, Utf8StaysAnythingElseIsWindows1252AndPathsNameTheFileThatIsThere) {
    const struct {
        std::string bytes, utf8;
        bool windows1252, undecodable;
    } texts[] = {
        {"Gr\xC3\xBC\xC3\x9F" "e", "Grüße", false, false},
        {"Gr\xFC\xDF" "e \x80", "Grüße €", true, false},
        {"\xC3\xBC \xFC", "Ã¼ ü", true, false},  // one byte that is not UTF-8 makes the whole text Windows-1252
        {"a\x81" "b", "a\xEF\xBF\xBD" "b", true, true},
    };
    for (const auto& t : texts) {
        const MailText text = DecodeMailText(t.bytes);
        EXPECT_EQ(text.utf8, t.utf8);
        EXPECT_EQ(text.windows1252, t.windows1252) << t.utf8;
        EXPECT_EQ(text.undecodable, t.undecodable) << t.utf8;
    }

    TempDir temp;
    temp.Write("K\xC3\xB6ln.txt", "utf-8 name");  // a file copied from Windows gets a UTF-8 name here
    temp.Write("M\xFCnchen.txt", "raw name");     // one made here from the list's bytes keeps them
    const RecipientRecord line = SplitListLine("M\xFCller;J\xFCrgen;j@x.de;F\xFCr Sie;" + temp.File("K\xF6ln.txt") +
                                               ";12.01.2026 10:00:00; " + temp.File("M\xFCnchen.txt") + " ;");
    const MailRecord mail = RecordForMail(line);
    EXPECT_EQ(mail.fields.Surname + mail.fields.FirstName + mail.fields.Subject, "MüllerJürgenFür Sie");
    EXPECT_EQ(mail.fields.TextFile, temp.File("Köln.txt"));
    EXPECT_EQ(mail.fields.Attachment, temp.File("M\xFCnchen.txt"));
    EXPECT_FALSE(mail.undecodable);

    const TextLines lines = SplitTextLines(std::string("A;a;a@x.de;S;;;") + temp.File("K\xF6ln.txt") + ";\r\n");
    EXPECT_FALSE(IsWindows1252List(lines)) << "a path alone does not decide the list's charset";
    EXPECT_TRUE(IsWindows1252List(SplitTextLines("A;a;a@x.de;F\xFCr;;;;\r\n")));
    EXPECT_EQ(InListCharset("09.12.2026 14:05:31 März", true), "09.12.2026 14:05:31 M\xE4rz");
    EXPECT_EQ(InListCharset("오후 2:05:31", true), "오후 2:05:31");
}

}  // namespace
