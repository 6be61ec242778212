#pragma once
// The platform's date-time value: days since 30 December 1899, the fraction
// being the time of day. For a negative value the integer part (toward zero)
// is the day and the fraction still counts forward: -1.25 is 29 December 1899, 06:00.

#include <windows.h>

#include <cstdint>

using TDateTime = double;

struct TDecodedDate
{
    std::uint16_t Year;
    std::uint16_t Month;
    std::uint16_t Day;
};

// Year, month and day of the date part, proleptic Gregorian; the time is ignored.
// Years outside 1..9999 are outside the value's range and raise EConvertError.
TDecodedDate DecodeDate(TDateTime value);

// The date and time as the system's calendar structure, milliseconds kept.
SYSTEMTIME DateTimeToSystemTime(TDateTime value);
TDateTime SystemTimeToDateTime(const SYSTEMTIME& time);
