#include "mailing/list_file.h"

#include <gtest/gtest.h>

using namespace std::string_literals;

namespace {

RecipientRecord Record(std::initializer_list<const char*> fields) {
    RecipientRecord record;
    int k = 1;
    for (const char* field : fields) record.Field(k++) = field;
    return record;
}

TEST(SplitListLine, FieldCounts) {
    // More than seven fields: the first seven stay, the rest is lost.
    EXPECT_EQ(SplitListLine("a;b;c;d;e;f;g;h;"), Record({"a", "b", "c", "d", "e", "f", "g"}));
    EXPECT_EQ(SplitListLine("a;b;c;d;e;f;g"), Record({"a", "b", "c", "d", "e", "f", "g"}));
    EXPECT_EQ(SplitListLine("a;b;c;d;e;f;g;h;i;j"), Record({"a", "b", "c", "d", "e", "f", "g"}));
    // Fewer: the later fields are empty, a trailing ";" changes nothing.
    EXPECT_EQ(SplitListLine("a;b"), Record({"a", "b"}));
    EXPECT_EQ(SplitListLine("a;b;"), Record({"a", "b"}));
    EXPECT_EQ(SplitListLine("whole line"), Record({"whole line"}));
    EXPECT_EQ(SplitListLine(""), RecipientRecord{});
    EXPECT_EQ(SplitListLine(";;;;;;;"), RecipientRecord{});
}

TEST(SplitListLine, KeepsBlanksAndBytes) {
    const RecipientRecord record = SplitListLine("Meier; Hans;x");
    EXPECT_EQ(record.FirstName, " Hans");
    EXPECT_EQ(JoinListLine(record), "Meier;Hans;x;;;;;");
    // A byte order mark is part of field 1; zero bytes and quotes are ordinary characters.
    const std::string bom = "\xEF\xBB\xBFM\xFC" "ller;\"Ann\";a\0b@x;"s;
    const RecipientRecord odd = SplitListLine(bom);
    EXPECT_EQ(odd.Surname, "\xEF\xBB\xBFM\xFCller");
    EXPECT_EQ(odd.FirstName, "\"Ann\"");
    EXPECT_EQ(odd.Address, "a\0b@x"s);
}

TEST(SplitListLine, HugeLineWithManyFields) {
    std::string line;
    for (int i = 0; i < 100000; ++i) line += "f" + std::to_string(i) + ";";
    const RecipientRecord record = SplitListLine(line);
    EXPECT_EQ(record.Surname, "f0");
    EXPECT_EQ(record.Attachment, "f6");
}

TEST(JoinListLine, TrimsAndDropsRowsWithoutFirstName) {
    EXPECT_EQ(JoinListLine(Record({"Meier", "Hans", "A", "Angebot", "default", "not send", ""})),
              "Meier;Hans;A;Angebot;default;not send;;");
    EXPECT_EQ(JoinListLine(Record({" \tMeier ", "\x01Hans\x1f", " A"})), "Meier;Hans;A;;;;;");
    EXPECT_EQ(JoinListLine(Record({"Meier", " \t ", "a@b.de"})), "");
    EXPECT_EQ(JoinListLine(Record({"Meier", "", "a@b.de"})), "");
    // Byte 0xA0 is above 32 and stays.
    EXPECT_EQ(JoinListLine(Record({"x", "\xA0"})), "x;\xA0;;;;;;");
}

TEST(JoinFieldsUntrimmed, WritesFieldsAsSplit) {
    const RecipientRecord record = SplitListLine(" Meier ; Hans ;a@b;S;default;;");
    EXPECT_EQ(JoinFieldsUntrimmed(record), " Meier ; Hans ;a@b;S;default;;;");
}

TEST(Trim, RemovesCodesUpTo32Only) {
    EXPECT_EQ(Trim(std::string("\0\x01 \t\r\nabc \x1f\x20", 11)), "abc");
    EXPECT_EQ(Trim("   "), "");
    EXPECT_EQ(Trim("\x7F" "a" "\x7F"), "\x7F" "a" "\x7F");
    EXPECT_TRUE(IsBlankLine(" \t "));
    EXPECT_FALSE(IsBlankLine(" ; "));
}

TEST(TextLines, LineBreaksOfEveryKind) {
    const TextLines mixed = SplitTextLines("a\r\nb\rc\nd");
    EXPECT_EQ(mixed.lines, (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_FALSE(mixed.finalBreak);
    EXPECT_EQ(JoinTextLines(mixed), "a\r\nb\r\nc\r\nd");

    const TextLines lf = SplitTextLines("a\nb\n");
    EXPECT_EQ(lf.lines, (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(lf.finalBreak);
    EXPECT_EQ(JoinTextLines(lf), "a\r\nb\r\n");

    // "\n\r" is two breaks, "\r\n" one.
    EXPECT_EQ(SplitTextLines("a\n\rb").lines, (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(SplitTextLines("a\r\r\nb").lines, (std::vector<std::string>{"a", "", "b"}));
}

TEST(TextLines, EmptyFileAndLoneBreak) {
    EXPECT_TRUE(SplitTextLines("").lines.empty());
    EXPECT_EQ(JoinTextLines(SplitTextLines("")), "");
    const TextLines one = SplitTextLines("\n");
    EXPECT_EQ(one.lines, (std::vector<std::string>{""}));
    EXPECT_EQ(JoinTextLines(one), "\r\n");
}

}  // namespace
