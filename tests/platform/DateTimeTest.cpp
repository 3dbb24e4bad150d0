#include "platform/DateTime.h"

#include "platform/Clock.h"

#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>
#include <random>
#include <thread>

namespace kavel {
namespace {

TEST(DateTime, EpochAndKnownDates) {
    EXPECT_EQ(EncodeDateTime(1970, 1, 1, 0, 0, 0)->Ms, 0);
    EXPECT_EQ(EncodeDateTime(1970, 1, 2, 0, 0, 0, 1)->Ms, MsPerDay + 1);
    EXPECT_EQ(EncodeDateTime(1969, 12, 31, 23, 59, 59, 999)->Ms, -1);
    // 2000-03-01 is day 11017 after the epoch.
    EXPECT_EQ(EncodeDateTime(2000, 3, 1, 0, 0, 0)->Ms, 11017 * MsPerDay);
}

struct InvalidCase {
    int Year, Month, Day, Hour, Minute, Second, Millisecond;
};

class InvalidDateTest : public testing::TestWithParam<InvalidCase> {};

TEST_P(InvalidDateTest, GivesNothing) {
    const InvalidCase& c = GetParam();
    EXPECT_FALSE(EncodeDateTime(c.Year, c.Month, c.Day, c.Hour, c.Minute, c.Second, c.Millisecond));
}

INSTANTIATE_TEST_SUITE_P(
    Fields, InvalidDateTest,
    testing::Values(InvalidCase{2005, 2, 29, 0, 0, 0, 0}, InvalidCase{1900, 2, 29, 0, 0, 0, 0},
                    InvalidCase{2005, 4, 31, 0, 0, 0, 0}, InvalidCase{2005, 0, 1, 0, 0, 0, 0},
                    InvalidCase{2005, 13, 1, 0, 0, 0, 0}, InvalidCase{2005, 1, 0, 0, 0, 0, 0},
                    InvalidCase{2005, 1, 1, 24, 0, 0, 0}, InvalidCase{2005, 1, 1, -1, 0, 0, 0},
                    InvalidCase{2005, 1, 1, 0, 60, 0, 0}, InvalidCase{2005, 1, 1, 0, 0, 60, 0},
                    InvalidCase{2005, 1, 1, 0, 0, 0, 1000}, InvalidCase{0, 1, 1, 0, 0, 0, 0},
                    InvalidCase{10000, 1, 1, 0, 0, 0, 0}));

TEST(DateTime, LeapDays) {
    EXPECT_TRUE(EncodeDateTime(2004, 2, 29, 0, 0, 0));
    EXPECT_TRUE(EncodeDateTime(2000, 2, 29, 0, 0, 0));
    EXPECT_EQ(DaysInMonth(2100, 2), 28);
    EXPECT_EQ(DaysInMonth(2005, 13), 0);
}

// Every valid moment decodes to the parts it was made of, across the whole range of years.
TEST(DateTime, EncodeDecodeRoundTrip) {
    std::mt19937 random(42);
    for (int i = 0; i < 100000; ++i) {
        const int year = 1 + static_cast<int>(random() % 9999);
        const int month = 1 + static_cast<int>(random() % 12);
        const int day = 1 + static_cast<int>(random() % static_cast<unsigned>(DaysInMonth(year, month)));
        const int hour = static_cast<int>(random() % 24);
        const int minute = static_cast<int>(random() % 60);
        const int second = static_cast<int>(random() % 60);
        const int ms = static_cast<int>(random() % 1000);
        const auto time = EncodeDateTime(year, month, day, hour, minute, second, ms);
        ASSERT_TRUE(time);
        const DateParts p = DecodeDateTime(*time);
        ASSERT_EQ(std::tie(p.Year, p.Month, p.Day, p.Hour, p.Minute, p.Second, p.Millisecond),
                  std::tie(year, month, day, hour, minute, second, ms));
    }
}

TEST(DateTime, MonthsAreAsLongAsTheirDaysAndInOrder) {
    DateTime previous{EncodeDateTime(1, 1, 1, 0, 0, 0)->Ms - 1};
    for (int year = 1; year <= 2400; year += 7)
        for (int month = 1; month <= 12; ++month) {
            const DateTime first = *EncodeDateTime(year, month, 1, 0, 0, 0);
            const DateTime last = *EncodeDateTime(year, month, DaysInMonth(year, month), 0, 0, 0);
            EXPECT_EQ(last.Ms - first.Ms, (DaysInMonth(year, month) - 1) * MsPerDay);
            EXPECT_GT(first, previous);
            previous = first;
        }
}

struct WholeUnitsCase {
    std::int64_t DifferenceMs;
    std::int64_t Minutes, Hours, Days;
};

class WholeUnitsTest : public testing::TestWithParam<WholeUnitsCase> {};

TEST_P(WholeUnitsTest, TruncatedAndSymmetric) {
    const WholeUnitsCase& c = GetParam();
    const DateTime a = *EncodeDateTime(2005, 3, 5, 9, 7, 0);
    const DateTime b{a.Ms + c.DifferenceMs};
    for (const auto& [x, y] : {std::pair{a, b}, std::pair{b, a}}) {
        EXPECT_EQ(WholeMinutesBetween(x, y), c.Minutes);
        EXPECT_EQ(WholeHoursBetween(x, y), c.Hours);
        EXPECT_EQ(WholeDaysBetween(x, y), c.Days);
    }
}

INSTANTIATE_TEST_SUITE_P(Differences, WholeUnitsTest,
                         testing::Values(WholeUnitsCase{0, 0, 0, 0}, WholeUnitsCase{MsPerMinute - 1, 0, 0, 0},
                                         WholeUnitsCase{MsPerMinute, 1, 0, 0},
                                         WholeUnitsCase{MsPerHour - 1, 59, 0, 0},
                                         WholeUnitsCase{MsPerDay - 1, 1439, 23, 0},
                                         WholeUnitsCase{MsPerDay, 1440, 24, 1},
                                         WholeUnitsCase{3 * MsPerDay + MsPerHour + 1, 4380, 73, 3}));

TEST(DateTime, Midnight) {
    EXPECT_TRUE(IsMidnight(*EncodeDateTime(2005, 3, 5, 0, 0, 0)));
    EXPECT_FALSE(IsMidnight(*EncodeDateTime(2005, 3, 5, 0, 0, 0, 1)));
    EXPECT_FALSE(IsMidnight(*EncodeDateTime(2005, 3, 5, 12, 0, 0)));
    EXPECT_TRUE(IsMidnight(*EncodeDateTime(1969, 12, 31, 0, 0, 0)));
    EXPECT_FALSE(IsMidnight(*EncodeDateTime(1969, 12, 31, 23, 0, 0)));
}

} // namespace
} // namespace kavel

namespace kavel {
namespace {

TEST(SystemClock, AgreesWithTheLocalTimeOfTheCLibrary) {
    for (const char* zone : {"UTC0", "CET-1CEST,M3.5.0,M10.5.0/3", "<+0545>-5:45"}) {
        setenv("TZ", zone, 1);
        tzset();
        const std::time_t before = std::time(nullptr);
        // A thread of its own, so the per-thread offset cache starts empty for this zone.
        DateTime now;
        std::thread([&now] { now = platform::SystemClock().Now(); }).join();
        std::tm local{};
        localtime_r(&before, &local);
        const DateTime expected = *EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                                  local.tm_hour, local.tm_min, local.tm_sec);
        EXPECT_GE(now.Ms, expected.Ms) << zone;
        EXPECT_LT(now.Ms, expected.Ms + 2000) << zone;
    }
    unsetenv("TZ");
    tzset();
}

} // namespace
} // namespace kavel
