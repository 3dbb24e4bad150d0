#include "base/MinuteCounter.h"

#include <gtest/gtest.h>

namespace kavel {
namespace {

// Events at minutes (one each), then the total asked for at a minute.
struct WindowCase {
    const char* Name;
    int Window;
    std::vector<std::int64_t> Events;
    std::int64_t AskedAt;
    std::uint64_t Total;
};

class MinuteCounterWindow : public testing::TestWithParam<WindowCase> {};

TEST_P(MinuteCounterWindow, CountsTheCurrentMinuteAndTheWindowMinusOneBefore) {
    MinuteCounter counter(GetParam().Window);
    for (const std::int64_t minute : GetParam().Events)
        counter.Add(minute);
    EXPECT_EQ(counter.Total(GetParam().AskedAt), GetParam().Total);
}

INSTANTIATE_TEST_SUITE_P(
    Edges, MinuteCounterWindow,
    testing::Values(WindowCase{"SameMinute", 5, {100, 100, 100}, 100, 3},
                    WindowCase{"LastMinuteOfTheWindow", 5, {100}, 104, 1},
                    WindowCase{"FirstMinuteAfterTheWindow", 5, {100}, 105, 0},
                    WindowCase{"PartlyExpired", 5, {100, 101, 103, 104}, 105, 3},
                    WindowCase{"LongJumpClearsAll", 5, {100, 101}, 1000, 0},
                    WindowCase{"OneMinuteWindow", 1, {100, 100}, 101, 0},
                    WindowCase{"OneMinuteWindowSameMinute", 1, {99, 100, 100}, 100, 2},
                    WindowCase{"RingWrapsManyTimes", 3, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 10, 3},
                    WindowCase{"NegativeMinutes", 5, {-3, -2}, 1, 2}),
    [](const testing::TestParamInfo<WindowCase>& param) { return std::string(param.param.Name); });

TEST(MinuteCounter, ClockGoingBackKeepsItsCountsInTheNewestMinute) {
    MinuteCounter counter(5);
    counter.Add(100);
    // An hour back (summer time ends): the event counts as of minute 100.
    counter.Add(40);
    EXPECT_EQ(counter.Total(40), 2u);
    EXPECT_EQ(counter.Total(104), 2u);
    EXPECT_EQ(counter.Total(105), 0u);
}

TEST(MinuteCounter, ClearForgetsEverything) {
    MinuteCounter counter(5);
    counter.Add(100, 7);
    counter.Clear();
    EXPECT_EQ(counter.Total(100), 0u);
    counter.Add(200);
    EXPECT_EQ(counter.Total(200), 1u);
}

TEST(MinuteCounter, MinuteOfRoundsTowardsMinusInfinity) {
    EXPECT_EQ(MinuteOf(0), 0);
    EXPECT_EQ(MinuteOf(59999), 0);
    EXPECT_EQ(MinuteOf(60000), 1);
    EXPECT_EQ(MinuteOf(-1), -1);
    EXPECT_EQ(MinuteOf(-60000), -1);
    EXPECT_EQ(MinuteOf(-60001), -2);
}

} // namespace
} // namespace kavel
