#pragma once
// The send time that the mailing run writes into field 6 of a list line, and reading it back (the list
// editor sorts its "Gesendet" column by time). Both sides use the one format below, so that what the run
// writes always reads back.

#include <QDateTime>
#include <QLocale>

#include <optional>
#include <string>
#include <string_view>

// The locale's short date with a four-digit year, a blank, hours, minutes and seconds; under a German
// locale "dd.MM.yyyy HH:mm:ss" (08.12.2026 14:05:31).
QString SendTimeFormat(const QLocale& locale = QLocale());

// The time as the run writes it, as local text bytes.
std::string FormatSendTime(const QDateTime& time, const QLocale& locale = QLocale());

// A send time as read from a list: the local date and clock time as written. It is kept apart from
// QDateTime on purpose: turning a local time into a QDateTime asks the time zone database every time,
// which made sorting a long list by send time take seconds.
struct SendTime {
    QDate date;
    QTime time;
    bool operator==(const SendTime&) const = default;
    // "yyyyMMddhhmmss": texts that sort in time order.
    QString SortableText() const;
};

// Reads a send time: the format above first, then the locale's own short and long date-and-time forms
// (lists written by other versions), then a date alone (midnight). Blanks around the text are ignored.
// Nothing when the text is no date and time.
std::optional<SendTime> ParseSendTime(std::string_view text, const QLocale& locale = QLocale());
// The same for text that is already decoded (a table cell).
std::optional<SendTime> ParseSendTimeText(const QString& text, const QLocale& locale = QLocale());
