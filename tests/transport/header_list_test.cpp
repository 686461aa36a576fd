// Header lines: setting, replacing, removing and reading values, folding, and the date value.

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "tests/support/transport_text.h"
#include "transport/header_list.h"
#include "transport/internet_date.h"

namespace {

std::string Joined(const TIdHeaderList& list) {
    std::string all;
    for (const std::string& line : list.Lines()) all += line + "\r\n";
    return all;
}

// Sets TZ for one test and restores it afterwards.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone) {
        const char* old = std::getenv("TZ");
        hadOld_ = old != nullptr;
        if (hadOld_) old_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedTimeZone() {
        if (hadOld_) {
            setenv("TZ", old_.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

private:
    bool hadOld_ = false;
    std::string old_;
};

// 2026-12-08 04:05:06 UTC, a Tuesday.
constexpr std::time_t kTuesday = 1796702706;

}  // namespace

TEST(HeaderList, SetsReplacesInPlaceAndRemoves) {
    TIdHeaderList list;
    list.SetHeaderValue("From", "a@b.de");
    list.SetHeaderValue("Subject", "Hallo");
    list.SetHeaderValue("To", "c@d.de");
    list.SetHeaderValue("SUBJECT", "Neu");
    // The line keeps its place and takes the name as the caller gives it.
    EXPECT_EQ(Joined(list), "From: a@b.de\r\nSUBJECT: Neu\r\nTo: c@d.de\r\n");
    EXPECT_EQ(list.ReadHeaderValue("subject"), "Neu");
    EXPECT_EQ(list.ReadHeaderValue("Cc"), "");

    list.SetHeaderValue("Cc", "");
    EXPECT_EQ(list.Count(), 3u);
    list.SetHeaderValue("From", "");
    EXPECT_EQ(Joined(list), "SUBJECT: Neu\r\nTo: c@d.de\r\n");
}

TEST(HeaderList, ReplacingAndRemovingTakeTheContinuationLinesAlong) {
    TIdHeaderList list;
    list.SetHeaderValue("Subject", std::string(60, 'a') + " " + std::string(30, 'b'));
    list.SetHeaderValue("To", "x@y.de");
    ASSERT_EQ(list.Count(), 3u);
    EXPECT_EQ(list.ReadHeaderValue("Subject"), std::string(60, 'a') + " " + std::string(30, 'b'));
    list.SetHeaderValue("Subject", "kurz");
    EXPECT_EQ(Joined(list), "Subject: kurz\r\nTo: x@y.de\r\n");
    list.SetHeaderValue("Subject", std::string(60, 'a') + " " + std::string(30, 'b'));
    list.SetHeaderValue("Subject", "");
    EXPECT_EQ(Joined(list), "To: x@y.de\r\n");
}

TEST(HeaderList, SixAddressCcFoldsAfterTheCommasIntoThreeLines) {
    std::string value;
    for (int i = 1; i <= 6; ++i) {
        if (i > 1) value += ", ";
        value += "empfaenger" + std::to_string(i) + "@beispiel-firma.de";  // 27 characters
    }
    TIdHeaderList list;
    list.SetHeaderValue("Cc", value);
    ASSERT_EQ(list.Count(), 3u);
    EXPECT_EQ(list[0], "Cc: empfaenger1@beispiel-firma.de, empfaenger2@beispiel-firma.de,");
    EXPECT_EQ(list[1], " empfaenger3@beispiel-firma.de, empfaenger4@beispiel-firma.de,");
    EXPECT_EQ(list[2], " empfaenger5@beispiel-firma.de, empfaenger6@beispiel-firma.de");
    EXPECT_EQ(list.ReadHeaderValue("cc"), value);
}

TEST(HeaderList, FoldedLinesUnfoldToTheOriginalLine) {
    const std::string lines[] = {
        "Subject: " + std::string(100, 'x'),                        // nothing to break at
        "Subject: a  b   " + std::string(70, 'c') + "  d\t\te",      // runs of blanks and TABs
        "To: \"" + std::string(40, 'n') + " , " + std::string(40, 'm') + "\" <a@b>",  // blanks in quotes
        "Subject: 1,2,3," + std::string(80, '9') + ",4",             // commas alone are no break points
    };
    for (const std::string& line : lines) {
        std::string folded = WrapHeaderText(line);
        EXPECT_EQ(WithoutCrLf(folded), line);
        EXPECT_EQ(folded.find("\r\n\r\n"), std::string::npos);
    }
    // The blank after the name is the only place to break; the rest stays long.
    EXPECT_EQ(WrapHeaderText(lines[0]), "Subject:\r\n " + std::string(100, 'x'));
    EXPECT_EQ(WrapHeaderText(lines[3]), "Subject:\r\n " + lines[3].substr(9));
    EXPECT_EQ(WrapHeaderText(lines[2]), "To:\r\n " + lines[2].substr(4, 85) + "\r\n <a@b>")
        << "no break inside the quotes";
    EXPECT_EQ(WrapHeaderText("X: " + std::string(100, 'x'), 78).find("\r\n"), 2u);
    EXPECT_EQ(WrapHeaderText(std::string(100, 'x')), std::string(100, 'x'));
}

TEST(HeaderList, LongPlainSubjectBreaksBeforeTheLastBlankBeforeColumn78) {
    std::string words;
    for (int i = 0; i < 12; ++i) words += "Wort" + std::to_string(i) + "xx ";
    words += "Ende";
    TIdHeaderList list;
    list.SetHeaderValue("Subject", words);
    ASSERT_GE(list.Count(), 2u);
    EXPECT_LE(list[0].size(), 78u);
    EXPECT_GT(list[0].size() + 1 + list[1].find(' ', 1), 78u) << "the first line is filled";
    EXPECT_EQ(list[1][0], ' ');
    EXPECT_NE(list[1][1], ' ');
}

TEST(HeaderList, EncodedWordsKeepTheirTabContinuation) {
    std::string first = "=?UTF-8?Q?" + std::string(60, 'a') + "?=";
    std::string second = "=?UTF-8?Q?" + std::string(20, 'b') + "?=";
    TIdHeaderList list;
    list.SetHeaderValue("Subject", first + "\r\n\t" + second);
    ASSERT_EQ(list.Count(), 3u);
    EXPECT_EQ(list[0], "Subject:");
    EXPECT_EQ(list[1], " " + first);
    EXPECT_EQ(list[2], "\t" + second);
}

TEST(HeaderList, ValuesCannotInjectHeaderLinesOrEndTheHeader) {
    TIdHeaderList list;
    list.SetHeaderValue("Subject", "Hallo\r\nBcc: opfer@example.org");
    list.SetHeaderValue("X-A", "eins\nzwei\rdrei");
    list.SetHeaderValue("X-B", "x\r\n \r\n\tBcc: y@z");
    list.SetHeaderValue("X-C", "\r\n\r\n");
    for (const std::string& line : list.Lines()) {
        EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos);
        EXPECT_NE(line.find_first_not_of(" \t"), std::string::npos) << "blank line in the header";
    }
    EXPECT_EQ(list.IndexOfName("Bcc"), -1);
    EXPECT_EQ(list.ReadHeaderValue("Subject"), "Hallo  Bcc: opfer@example.org");
    EXPECT_EQ(list.ReadHeaderValue("X-A"), "eins zwei drei");
}

TEST(HeaderList, HugeValuesFoldInLinearTime) {
    std::string value;
    for (int i = 0; i < 100000; ++i) value += "abcdefghi ";
    std::string folded = WrapHeaderText(value);
    EXPECT_EQ(WithoutCrLf(folded), value);
    std::string commas(1 << 20, ',');
    EXPECT_EQ(WrapHeaderText(commas), commas);
}

TEST(InternetDate, FormatsDayAndYearWithoutLeadingZerosAndTheOffset) {
    ScopedTimeZone utc("UTC0");
    EXPECT_EQ(FormatInternetDate(kTuesday), "Tue, 8 Dec 2026 04:05:06 +0000");
    ScopedTimeZone west("EST5");
    EXPECT_EQ(FormatInternetDate(kTuesday), "Mon, 7 Dec 2026 23:05:06 -0500");
    EXPECT_EQ(LocalUtcOffset(), std::chrono::minutes(-300));
}

TEST(InternetDate, UsesTheOffsetOfTheInstantAcrossDaylightSaving) {
    ScopedTimeZone berlin("CET-1CEST,M3.5.0,M10.5.0/3");
    EXPECT_EQ(FormatInternetDate(kTuesday), "Tue, 8 Dec 2026 05:05:06 +0100");
    EXPECT_EQ(FormatInternetDate(kTuesday - 180 * 86400), "Thu, 11 Jun 2026 06:05:06 +0200");
}

TEST(InternetDate, FormatsOffsets) {
    using std::chrono::minutes;
    EXPECT_EQ(FormatUtcOffset(minutes(0)), "+0000");
    EXPECT_EQ(FormatUtcOffset(minutes(0), true), "GMT");
    EXPECT_EQ(FormatUtcOffset(minutes(60), true), "+0100");
    EXPECT_EQ(FormatUtcOffset(minutes(-210)), "-0330");
    EXPECT_EQ(FormatUtcOffset(minutes(345)), "+0545");
}

TEST(InternetDate, AnInstantOutsideTheZonesRangeIsAnError) {
    try {
        FormatInternetDate(static_cast<std::time_t>(1) << 62);
        FAIL() << "no error";
    } catch (const EIdTimeZoneError& error) {
        EXPECT_STREQ(error.what(), "Das Einlesen der Informationen über die Zeitzone ist fehlgeschlagen.");
    }
}
