#include "mailing/send_time.h"

#include <gtest/gtest.h>

namespace {

TEST(SendTime, WhatTheRunWritesReadsBackInEveryLocale) {
    const QDateTime time(QDate(2026, 12, 8), QTime(14, 5, 31));
    for (const QLocale& locale : {QLocale(QLocale::German, QLocale::Germany), QLocale(QLocale::English, QLocale::UnitedStates),
                                  QLocale(QLocale::French, QLocale::France), QLocale::c()}) {
        SCOPED_TRACE(locale.name().toStdString());
        const std::string text = FormatSendTime(time, locale);
        EXPECT_NE(text.find("2026"), std::string::npos) << text;
        EXPECT_EQ(ParseSendTime(text, locale), time) << text;
    }
    EXPECT_EQ(FormatSendTime(time, QLocale(QLocale::German, QLocale::Germany)), "08.12.2026 14:05:31");
}

TEST(SendTime, ReadsOtherFormsAndRejectsText) {
    const QLocale german(QLocale::German, QLocale::Germany);
    EXPECT_EQ(ParseSendTime(" 08.12.2026 14:05 ", german), QDateTime(QDate(2026, 12, 8), QTime(14, 5)));
    EXPECT_EQ(ParseSendTime("08.12.2026", german), QDateTime(QDate(2026, 12, 8), QTime(0, 0)));
    for (const char* bad : {"", "not send", "Fehler beim Senden", "32.12.2026 10:00:00", "08.12.2026 25:00:00"})
        EXPECT_FALSE(ParseSendTime(bad, german).has_value()) << bad;
}

}  // namespace
