#include <gtest/gtest.h>

#include <cmath>

#include "PositionStamp.h"
#include "StepKeys.h"

using namespace Core;

TEST(StepKeys, StepAndStopAtTheEnds)
{
    const struct { int current; StepKey key; int expected; } cases[] = {
        {5, StepKey::Next, 6},         {5, StepKey::Previous, 4},   {0, StepKey::Previous, 0},
        {19, StepKey::Next, 19},       {5, StepKey::PageForward, 15}, {15, StepKey::PageForward, 19},
        {5, StepKey::PageBack, 0},     {12, StepKey::PageBack, 2},  {7, StepKey::Home, 0},
        {7, StepKey::End, 19},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SteppedIndex(c.current, 20, c.key), c.expected) << c.current;
    EXPECT_EQ(SteppedIndex(0, 1, StepKey::End), 0);
    EXPECT_EQ(SteppedIndex(3, 0, StepKey::Next), 0);
}

TEST(StepKeys, AltStepsTheNextDimension)
{
    EXPECT_EQ(NextStepDim({2, 3, 5}, 2), 3);
    EXPECT_EQ(NextStepDim({2, 3, 5}, 5), 2);
    EXPECT_EQ(NextStepDim({2, 3, 5}, 4), 2); // last used is not steppable any more
    EXPECT_EQ(NextStepDim({3}, 3), 3);
    EXPECT_EQ(NextStepDim({}, 3), -1);
}

TEST(PositionStamp, TimeSpacingOrIndex)
{
    EXPECT_EQ(PositionStamp("t", 18, 0, 5.0, 0.0), "t = 00:01:30.0");
    EXPECT_EQ(PositionStamp("t", 3, 0, 0.005, 0.0), "t = 00:00:00.015");
    EXPECT_EQ(PositionStamp("t", 2, 0, 1.25, 0.0), "t = 00:00:02.50");
    EXPECT_EQ(PositionStamp("z", 25, 0, 0.0, 500.0), "z = 12.5 \xC2\xB5m");
    EXPECT_EQ(PositionStamp("z", 3, 0, 0.0, 250.0), "z = 0.75 \xC2\xB5m");
    EXPECT_EQ(PositionStamp("t", 7, 1, 0.0, 0.0), "t = 8");
    // The time wins over a spacing; nonsense values give the index.
    EXPECT_EQ(PositionStamp("t", 1, 0, 60.0, 300.0), "t = 00:01:00.0");
    EXPECT_EQ(PositionStamp("t", 4, 0, -1.0, std::nan("")), "t = 4");
}

TEST(PositionStamp, ClockRoundsOnce)
{
    EXPECT_EQ(FormatClock(59.96, 1), "00:01:00.0");
    EXPECT_EQ(FormatClock(3725.25, 2), "01:02:05.25");
    EXPECT_EQ(FormatClock(360000.0, 0), "100:00:00");
    EXPECT_EQ(FormatClock(-5.0, 1), "00:00:00.0");
}
