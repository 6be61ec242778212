#include "ErrorCounter.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace {

struct TCountCase {
    std::string Name;
    std::vector<std::int64_t> Times; // monotonic milliseconds of each error, in order
    std::set<int> RestartAt;         // error numbers whose verdict restarts
};

std::vector<std::int64_t> Spaced(std::int64_t start, std::int64_t step, int count)
{
    std::vector<std::int64_t> times;
    for (int i = 0; i < count; ++i)
        times.push_back(start + step * i);
    return times;
}

std::vector<std::int64_t> Joined(std::vector<std::int64_t> a, const std::vector<std::int64_t>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::set<int> EveryTenth(int count)
{
    std::set<int> numbers;
    for (int n = 10; n <= count; n += 10)
        numbers.insert(n);
    return numbers;
}

const std::vector<TCountCase> CountCases = {
    {"three errors offer nothing", {0, 1000, 2000}, {}},
    {"the fourth error offers a restart", {0, 1000, 2000, 3000}, {}},
    {"ten within a second restart", Spaced(0, 100, 10), {10}},
    {"ten exactly 60000 ms apart first to last restart", Joined(Spaced(0, 1, 9), {60'000}), {10}},
    {"ten 60001 ms apart first to last do not", Joined(Spaced(0, 1, 9), {60'001}), {}},
    {"ten spread over 61 s do not", Joined(Spaced(0, 6'000, 9), {61'000}), {}},
    // 1..10 span 61 s, 2..11 span 54 s: the eleventh completes a burst.
    {"the eleventh after a non-restart", Joined({0}, Spaced(13'000, 6'000, 10)), {11}},
    {"nine quick errors never restart", Spaced(0, 1, 9), {}},
    // After a restart verdict the next burst needs ten errors of its own.
    {"a burst starts over after a restart", Spaced(0, 100, 25), {10, 20}},
    {"late in a long uptime", Spaced(5'000'000'000'000LL, 6'666, 10), {10}},
    {"long run just too slow never restarts", Spaced(0, 6'667, 1000), {}},
    {"long run just fast enough restarts every tenth", Spaced(0, 6'666, 1000), EveryTenth(1000)},
};

void PrintTo(const TCountCase& c, std::ostream* out)
{
    *out << c.Name;
}

class ErrorCounterTimes : public testing::TestWithParam<TCountCase> {};

TEST_P(ErrorCounterTimes, VerdictForEveryError)
{
    const TCountCase& c = GetParam();
    TErrorCounter counter;
    for (std::size_t i = 0; i < c.Times.size(); ++i) {
        const int number = static_cast<int>(i) + 1;
        const TErrorVerdict verdict = counter.Count(c.Times[i]);
        ASSERT_EQ(verdict.Number, number) << c.Name;
        EXPECT_EQ(verdict.OfferRestart, number >= 4) << c.Name << ", error " << number;
        EXPECT_EQ(verdict.RestartNow, c.RestartAt.count(number) == 1) << c.Name << ", error " << number;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, ErrorCounterTimes, testing::ValuesIn(CountCases),
                         [](const testing::TestParamInfo<TCountCase>& info) {
                             std::string name;
                             for (char ch : info.param.Name)
                                 name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                             return name;
                         });

TEST(ErrorCounter, RunsAreIndependent)
{
    TErrorCounter first;
    for (int i = 0; i < 5; ++i)
        first.Count(i);
    TErrorCounter fresh;
    const TErrorVerdict verdict = fresh.Count(5);
    EXPECT_EQ(verdict.Number, 1);
    EXPECT_FALSE(verdict.OfferRestart);
}

} // namespace
