#pragma once
// The send time that a run writes into a list line: the locale's short date with a four-digit year, a
// blank, and hours, minutes and seconds ("08.12.2026 14:05:31" under a German locale). The list editor
// sorts by it, so the same format reads it back.

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <optional>

QString SendTimeFormat(const QLocale& locale = QLocale::system());
QString FormatSendTime(const QDateTime& time, const QLocale& locale = QLocale::system());
std::optional<QDateTime> ParseSendTime(const QString& text, const QLocale& locale = QLocale::system());
