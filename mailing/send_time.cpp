#include "mailing/send_time.h"

#include "mailing/list_file.h"
#include "mailing/text_codec.h"

#include <QStringList>

namespace {

// Widens a two-digit year ("yy") to four digits; quoted literal text stays as it is. A two-digit year
// would make 2026 read back as 1926 and is ambiguous in a log that lives for years.
QString WithFourDigitYear(const QString& format) {
    QString out;
    bool quoted = false;
    for (qsizetype i = 0; i < format.size();) {
        const QChar c = format[i];
        if (c == QLatin1Char('\'')) {
            quoted = !quoted;
            out += c;
            ++i;
            continue;
        }
        if (quoted || c != QLatin1Char('y')) {
            out += c;
            ++i;
            continue;
        }
        qsizetype run = 0;
        while (i + run < format.size() && format[i + run] == QLatin1Char('y')) ++run;
        out += QString(run == 2 ? 4 : run, QLatin1Char('y'));
        i += run;
    }
    return out;
}

QString ShortDateFormat(const QLocale& locale) { return WithFourDigitYear(locale.dateFormat(QLocale::ShortFormat)); }

}  // namespace

QString SendTimeFormat(const QLocale& locale) { return ShortDateFormat(locale) + QStringLiteral(" HH:mm:ss"); }

std::string FormatSendTime(const QDateTime& time, const QLocale& locale) {
    return ToLocal(locale.toString(time, SendTimeFormat(locale)));
}

std::optional<QDateTime> ParseSendTime(std::string_view text, const QLocale& locale) {
    const QString value = FromLocal(TrimView(text));
    if (value.isEmpty()) return std::nullopt;
    const QStringList formats = {SendTimeFormat(locale), ShortDateFormat(locale) + QStringLiteral(" HH:mm"),
                                 locale.dateTimeFormat(QLocale::ShortFormat),
                                 locale.dateTimeFormat(QLocale::LongFormat)};
    for (const QString& format : formats) {
        const QDateTime time = locale.toDateTime(value, format);
        if (time.isValid()) return time;
    }
    const QDate date = locale.toDate(value, ShortDateFormat(locale));
    if (date.isValid()) return QDateTime(date, QTime(0, 0));
    return std::nullopt;
}
