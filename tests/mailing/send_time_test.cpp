#include "mailing/send_time.h"

#include <gtest/gtest.h>

void PrintTo(const SendTime& time, std::ostream* out) {
    *out << time.date.toString(Qt::ISODate).toStdString() << ' ' << time.time.toString().toStdString();
}

namespace {

TEST(SendTime, WhatTheRunWritesReadsBackInEveryLocale) {
    const QDateTime time(QDate(2026, 12, 8), QTime(14, 5, 31));
    for (const QLocale& locale : {QLocale(QLocale::German, QLocale::Germany), QLocale(QLocale::English, QLocale::UnitedStates),
                                  QLocale(QLocale::French, QLocale::France), QLocale::c()}) {
        SCOPED_TRACE(locale.name().toStdString());
        const std::string text = FormatSendTime(time, locale);
        EXPECT_NE(text.find("2026"), std::string::npos) << text;
        EXPECT_EQ(ParseSendTime(text, locale), (SendTime{time.date(), time.time()})) << text;
    }
    EXPECT_EQ(FormatSendTime(time, QLocale(QLocale::German, QLocale::Germany)), "08.12.2026 14:05:31");
}

TEST(SendTime, ReadsOtherFormsAndRejectsText) {
    const QLocale german(QLocale::German, QLocale::Germany);
    EXPECT_EQ(ParseSendTime(" 08.12.2026 14:05 ", german), (SendTime{QDate(2026, 12, 8), QTime(14, 5)}));
    EXPECT_EQ(ParseSendTime("08.12.2026", german), (SendTime{QDate(2026, 12, 8), QTime(0, 0)}));
    EXPECT_EQ(ParseSendTime("8.2.2026 4:05:31", german), (SendTime{QDate(2026, 2, 8), QTime(4, 5, 31)}));
    // The locale's own short form with a two-digit year, as other programs write it.
    EXPECT_EQ(ParseSendTime("08.12.26 14:05", german), (SendTime{QDate(1926, 12, 8), QTime(14, 5)}));
    EXPECT_EQ(ParseSendTime("8 dec 2026 14:05:31", QLocale::c()), (SendTime{QDate(2026, 12, 8), QTime(14, 5, 31)}));
    for (const char* bad : {"", "not send", "Fehler beim Senden", "32.12.2026 10:00:00", "08.12.2026 25:00:00", "08.12.2026 14:05:31x",
                            "29.02.2026 10:00:00", "08-12-2026 14:05:31"})
        EXPECT_FALSE(ParseSendTime(bad, german).has_value()) << bad;
}

}  // namespace
