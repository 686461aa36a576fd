#pragma once
// The value of the "Date" header (RFC 5322 section 3.3) and the offset of local time from UTC.

#include <chrono>
#include <ctime>
#include <string>

#include "transport/id_exception.h"

// The local time zone could not be read.
class EIdTimeZoneError : public EIdException {
public:
    EIdTimeZoneError();
};

// The offset of local time from UTC now (positive east of UTC).
std::chrono::minutes LocalUtcOffset();

// "+hhmm" or "-hhmm" of the offset's absolute value; a zero offset gives "+0000", or "GMT" on request.
std::string FormatUtcOffset(std::chrono::minutes offset, bool gmtForZero = false);

// "Tue, 8 Dec 2026 04:55:40 +0100": English day and month names, day and year without leading zeros,
// the 24-hour time with colons, and the offset. This form takes a broken-down local time and its
// offset as they are.
std::string FormatInternetDate(const std::tm& localTime, std::chrono::minutes offset);

// The same for an instant: its local time with the offset in force at that instant, so that the
// header always names the right moment, also for an instant in the other season of daylight saving.
std::string FormatInternetDate(std::time_t when);
