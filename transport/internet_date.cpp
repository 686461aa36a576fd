#include "transport/internet_date.h"

#include <cstdio>
#include <cstdlib>

namespace {

const char* const kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::tm LocalTimeAt(std::time_t when) {
    // localtime_r need not look at TZ again; tzset makes a changed zone count. localtime_r fails only
    // when the zone cannot be applied to this instant.
    tzset();
    std::tm local{};
    if (localtime_r(&when, &local) == nullptr) throw EIdTimeZoneError();
    return local;
}

std::chrono::minutes OffsetOf(const std::tm& local) {
    return std::chrono::duration_cast<std::chrono::minutes>(std::chrono::seconds(local.tm_gmtoff));
}

}  // namespace

EIdTimeZoneError::EIdTimeZoneError()
    : EIdException("Das Einlesen der Informationen über die Zeitzone ist fehlgeschlagen.") {}

std::chrono::minutes LocalUtcOffset() { return OffsetOf(LocalTimeAt(std::time(nullptr))); }

std::string FormatUtcOffset(std::chrono::minutes offset, bool gmtForZero) {
    if (offset.count() == 0 && gmtForZero) return "GMT";
    long long total = std::llabs(static_cast<long long>(offset.count()));
    char text[32];
    std::snprintf(text, sizeof text, "%c%02lld%02lld", offset.count() < 0 ? '-' : '+', total / 60, total % 60);
    return text;
}

std::string FormatInternetDate(const std::tm& localTime, std::chrono::minutes offset) {
    if (localTime.tm_wday < 0 || localTime.tm_wday > 6 || localTime.tm_mon < 0 || localTime.tm_mon > 11) {
        throw EIdException("Ungültiges Datum");
    }
    char text[96];
    std::snprintf(text, sizeof text, "%s, %d %s %lld %02d:%02d:%02d %s", kDayNames[localTime.tm_wday],
                  localTime.tm_mday, kMonthNames[localTime.tm_mon], localTime.tm_year + 1900LL,
                  localTime.tm_hour, localTime.tm_min, localTime.tm_sec, FormatUtcOffset(offset).c_str());
    return text;
}

std::string FormatInternetDate(std::time_t when) {
    std::tm local = LocalTimeAt(when);
    return FormatInternetDate(local, OffsetOf(local));
}
