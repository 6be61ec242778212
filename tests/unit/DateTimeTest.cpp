#include "DateTime.h"
#include "Exceptions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

struct TDecodeCase
{
    double Value;
    int Year, Month, Day;
};

class DecodeDateTest : public testing::TestWithParam<TDecodeCase> {};

TEST_P(DecodeDateTest, GivesTheCalendarDateOfTheDatePart)
{
    const TDecodeCase& c = GetParam();
    TDecodedDate date = DecodeDate(c.Value);
    EXPECT_EQ(date.Year, c.Year) << "value " << c.Value;
    EXPECT_EQ(date.Month, c.Month) << "value " << c.Value;
    EXPECT_EQ(date.Day, c.Day) << "value " << c.Value;
}

INSTANTIATE_TEST_SUITE_P(Table, DecodeDateTest, testing::Values(
    TDecodeCase{40939.40349291667, 2012, 1, 31}, // the stored start value, 09:41:01.788
    TDecodeCase{40939.0, 2012, 1, 31},
    TDecodeCase{40939.999999, 2012, 1, 31},      // just before midnight stays on the day
    TDecodeCase{40968.5, 2012, 2, 29},           // leap day
    TDecodeCase{36585.0, 2000, 2, 29},           // leap day of a year divisible by 400
    TDecodeCase{60.0, 1900, 2, 28},              // 1900 is not a leap year
    TDecodeCase{61.0, 1900, 3, 1},
    TDecodeCase{0.0, 1899, 12, 30},              // the epoch
    TDecodeCase{1.75, 1899, 12, 31},
    TDecodeCase{-1.0, 1899, 12, 29},
    TDecodeCase{-1.25, 1899, 12, 29},            // negative: the integer part is the day, the fraction the time
    TDecodeCase{-0.5, 1899, 12, 30},
    TDecodeCase{-53688.0, 1753, 1, 1},
    TDecodeCase{-109205.0, 1601, 1, 1},
    TDecodeCase{-693593.0, 1, 1, 1},
    TDecodeCase{2958465.0, 9999, 12, 31},
    TDecodeCase{2958465.99999, 9999, 12, 31}));

TEST(DecodeDate, RefusesValuesOutsideTheCalendar)
{
    for (double value : {-693594.0, 2958466.0, std::numeric_limits<double>::quiet_NaN(),
                         std::numeric_limits<double>::infinity()})
        EXPECT_THROW(DecodeDate(value), EConvertError) << value;
}

TEST(DateTimeToSystemTime, KeepsTheTimeOfDayToTheMillisecond)
{
    SYSTEMTIME time = DateTimeToSystemTime(40939.40349291667);
    EXPECT_EQ(time.wYear, 2012);
    EXPECT_EQ(time.wMonth, 1);
    EXPECT_EQ(time.wDay, 31);
    EXPECT_EQ(time.wDayOfWeek, 2); // a Tuesday
    EXPECT_EQ(time.wHour, 9);
    EXPECT_EQ(time.wMinute, 41);
    EXPECT_EQ(time.wSecond, 1);
    EXPECT_EQ(time.wMilliseconds, 788);

    SYSTEMTIME early = DateTimeToSystemTime(-1.25);
    EXPECT_EQ(early.wYear, 1899);
    EXPECT_EQ(early.wMonth, 12);
    EXPECT_EQ(early.wDay, 29);
    EXPECT_EQ(early.wHour, 6);
    EXPECT_EQ(early.wMinute, 0);
}

TEST(SystemTimeToDateTime, IsTheInverseIncludingNegativeValues)
{
    for (double value : {40939.40349291667, 0.0, 0.5, -1.25, -693593.0, 2958465.5, -53688.75}) {
        double back = SystemTimeToDateTime(DateTimeToSystemTime(value));
        EXPECT_NEAR(back, value, 1.0 / 86'400'000) << value;
    }
    SYSTEMTIME impossible{};
    impossible.wYear = 2013;
    impossible.wMonth = 2;
    impossible.wDay = 30;
    EXPECT_THROW(SystemTimeToDateTime(impossible), EConvertError);
}

} // namespace
