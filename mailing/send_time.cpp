#include "mailing/send_time.h"

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

// Reads `text` in a date-and-time `format` made of numbers (d, dd, M, MM, yyyy, H, HH, m, mm, s, ss),
// short month names (MMM) and plain separators. Qt's general parser takes tens of microseconds per text,
// which makes sorting a long list by send time take seconds; this one reads the usual formats directly.
// Nothing when the format has other parts (then the general parser decides) or the text does not fit.
struct FastParse {
    bool supported = true;
    std::optional<SendTime> time;
};

FastParse ParseNumericDateTime(const QString& text, const QString& format, const QLocale& locale) {
    int day = -1, month = -1, year = -1, hour = 0, minute = 0, second = 0;
    qsizetype at = 0;
    auto readNumber = [&](int maxDigits, int& value) {
        int digits = 0;
        value = 0;
        while (digits < maxDigits && at < text.size() && text[at].isDigit() && text[at].unicode() < 128) {
            value = value * 10 + (text[at].unicode() - u'0');
            ++at;
            ++digits;
        }
        return digits > 0;
    };
    for (qsizetype i = 0; i < format.size();) {
        const QChar c = format[i];
        qsizetype run = 1;
        while (i + run < format.size() && format[i + run] == c) ++run;
        i += run;
        bool ok = true;
        if (c == QLatin1Char('d') && run <= 2) {
            ok = readNumber(2, day);
        } else if (c == QLatin1Char('M') && run <= 2) {
            ok = readNumber(2, month);
        } else if (c == QLatin1Char('M') && run == 3) {
            ok = false;
            for (int m = 1; m <= 12 && !ok; ++m) {
                const QString name = locale.monthName(m, QLocale::ShortFormat);
                if (!name.isEmpty() && text.mid(at, name.size()).compare(name, Qt::CaseInsensitive) == 0) {
                    month = m;
                    at += name.size();
                    ok = true;
                }
            }
        } else if (c == QLatin1Char('y') && run == 4) {
            // Exactly four digits: "26" is no year 26 but the locale's two-digit form, read below.
            const qsizetype start = at;
            ok = readNumber(4, year) && at - start == 4;
        } else if (c == QLatin1Char('H') && run <= 2) {
            ok = readNumber(2, hour);
        } else if (c == QLatin1Char('m') && run <= 2) {
            ok = readNumber(2, minute);
        } else if (c == QLatin1Char('s') && run <= 2) {
            ok = readNumber(2, second);
        } else if (c.isLetter() || c == QLatin1Char('\'')) {
            return {false, std::nullopt};
        } else {
            // Separators must stand in the text as they stand in the format.
            for (qsizetype k = 0; k < run && ok; ++k, ++at) ok = at < text.size() && text[at] == c;
        }
        if (!ok) return {true, std::nullopt};
    }
    if (at != text.size() || day < 0 || month < 0 || year < 0) return {true, std::nullopt};
    const QDate date(year, month, day);
    const QTime time(hour, minute, second);
    if (!date.isValid() || !time.isValid()) return {true, std::nullopt};
    return {true, SendTime{date, time}};
}

}  // namespace

QString SendTimeFormat(const QLocale& locale) { return ShortDateFormat(locale) + QStringLiteral(" HH:mm:ss"); }

std::string FormatSendTime(const QDateTime& time, const QLocale& locale) {
    return ToLocal(locale.toString(time, SendTimeFormat(locale)));
}

QString SendTime::SortableText() const {
    QString text(14, Qt::Uninitialized);
    QChar* out = text.data();
    const auto put = [&out](int value, int digits) {
        for (int i = digits - 1; i >= 0; --i, value /= 10) out[i] = QChar(u'0' + value % 10);
        out += digits;
    };
    put(date.year(), 4);
    put(date.month(), 2);
    put(date.day(), 2);
    put(time.hour(), 2);
    put(time.minute(), 2);
    put(time.second(), 2);
    return text;
}

std::optional<SendTime> ParseSendTime(std::string_view text, const QLocale& locale) {
    return ParseSendTimeText(FromLocal(text), locale);
}

std::optional<SendTime> ParseSendTimeText(const QString& text, const QLocale& locale) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin].unicode() <= 32) ++begin;
    while (end > begin && text[end - 1].unicode() <= 32) --end;
    const QString value = text.mid(begin, end - begin);
    if (value.isEmpty()) return std::nullopt;
    // The run's own format first: it is what nearly every cell holds.
    const QString ownFormat = SendTimeFormat(locale);
    const FastParse own = ParseNumericDateTime(value, ownFormat, locale);
    if (own.time) return own.time;
    QStringList formats;
    if (!own.supported) formats << ownFormat;
    formats << ShortDateFormat(locale) + QStringLiteral(" HH:mm") << locale.dateTimeFormat(QLocale::ShortFormat)
            << locale.dateTimeFormat(QLocale::LongFormat);
    for (const QString& format : formats) {
        const FastParse fast = ParseNumericDateTime(value, format, locale);
        if (fast.time) return fast.time;
        if (fast.supported) continue;
        const QDateTime time = locale.toDateTime(value, format);
        if (time.isValid()) return SendTime{time.date(), time.time()};
    }
    const QDate date = locale.toDate(value, ShortDateFormat(locale));
    if (date.isValid()) return SendTime{date, QTime(0, 0)};
    return std::nullopt;
}
