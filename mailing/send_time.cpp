#include "mailing/send_time.h"

#include <QRegularExpression>

QString SendTimeFormat(const QLocale& locale) {
    QString date = locale.dateFormat(QLocale::ShortFormat);
    // A two-digit year cannot be read back without guessing the century.
    if (!date.contains(QStringLiteral("yyyy"))) date.replace(QRegularExpression(QStringLiteral("y+")), QStringLiteral("yyyy"));
    return date + QStringLiteral(" HH:mm:ss");
}

QString FormatSendTime(const QDateTime& time, const QLocale& locale) {
    return locale.toString(time, SendTimeFormat(locale));
}

std::optional<QDateTime> ParseSendTime(const QString& text, const QLocale& locale) {
    const QDateTime time = locale.toDateTime(text.trimmed(), SendTimeFormat(locale));
    if (!time.isValid()) return std::nullopt;
    return time;
}
