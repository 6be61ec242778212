#include "DateTime.h"

#include "Exceptions.h"

#include <chrono>
#include <cmath>

namespace {

using namespace std::chrono;

constexpr sys_days Epoch = year{1899} / December / 30;
constexpr double MinValue = -693593.0;           // 0001-01-01
constexpr double MaxValue = 2958466.0;           // first instant after 9999-12-31
constexpr long long MillisecondsPerDay = 86'400'000;

// Days from the epoch to the value's date; the integer part toward zero.
long long DayNumber(TDateTime value)
{
    if (!(value >= MinValue && value < MaxValue))
        throw EConvertError(L"Invalid date-time value: outside 1 January 0001 to 31 December 9999.");
    return static_cast<long long>(std::trunc(value));
}

} // namespace

TDecodedDate DecodeDate(TDateTime value)
{
    year_month_day date{Epoch + days{DayNumber(value)}};
    return {static_cast<std::uint16_t>(static_cast<int>(date.year())),
            static_cast<std::uint16_t>(static_cast<unsigned>(date.month())),
            static_cast<std::uint16_t>(static_cast<unsigned>(date.day()))};
}

SYSTEMTIME DateTimeToSystemTime(TDateTime value)
{
    long long dayNumber = DayNumber(value);
    long long milliseconds = std::llround(std::fabs(value - static_cast<double>(dayNumber)) * MillisecondsPerDay);
    if (milliseconds >= MillisecondsPerDay)
        milliseconds = MillisecondsPerDay - 1;

    sys_days day = Epoch + days{dayNumber};
    year_month_day date{day};
    hh_mm_ss<std::chrono::milliseconds> time{std::chrono::milliseconds{milliseconds}};

    SYSTEMTIME result{};
    result.wYear = static_cast<WORD>(static_cast<int>(date.year()));
    result.wMonth = static_cast<WORD>(static_cast<unsigned>(date.month()));
    result.wDay = static_cast<WORD>(static_cast<unsigned>(date.day()));
    result.wDayOfWeek = static_cast<WORD>(weekday{day}.c_encoding());
    result.wHour = static_cast<WORD>(time.hours().count());
    result.wMinute = static_cast<WORD>(time.minutes().count());
    result.wSecond = static_cast<WORD>(time.seconds().count());
    result.wMilliseconds = static_cast<WORD>(time.subseconds().count());
    return result;
}

TDateTime SystemTimeToDateTime(const SYSTEMTIME& time)
{
    year_month_day date{year{time.wYear}, month{time.wMonth}, day{time.wDay}};
    if (!date.ok())
        throw EConvertError(L"Invalid date.");
    double dayNumber = static_cast<double>((sys_days{date} - Epoch).count());
    double fraction = (((time.wHour * 60.0 + time.wMinute) * 60.0 + time.wSecond) * 1000.0 + time.wMilliseconds) /
                      MillisecondsPerDay;
    return dayNumber < 0 ? dayNumber - fraction : dayNumber + fraction;
}
