// Stopwatch tests: intervals on a scripted clock, across the 32-bit wrap, and on the real clock.
#include "base/Stopwatch.h"

#include <gtest/gtest.h>

namespace {
uint32_t g_clockReadings[4];
int g_clockIndex = 0;
uint32_t ScriptedClock() {
    return g_clockReadings[g_clockIndex++ & 3];
}
} // namespace

TEST(Stopwatch, MeasuresBetweenStartAndStopInMillisecondsAndMicroseconds) {
    g_clockReadings[0] = 1000;
    g_clockReadings[1] = 1021;
    g_clockIndex = 0;
    Stopwatch stopwatch(ScriptedClock);
    stopwatch.Start();
    stopwatch.Stop();
    EXPECT_EQ(21u, stopwatch.ElapsedMs());
    EXPECT_EQ(21000u, stopwatch.ElapsedUs());
}

TEST(Stopwatch, IntervalAcrossTheClocksWrap) {
    g_clockReadings[0] = 0xFFFFFFF6u;
    g_clockReadings[1] = 0x0000000Au;
    g_clockIndex = 0;
    Stopwatch stopwatch(ScriptedClock);
    stopwatch.Start();
    stopwatch.Stop();
    EXPECT_EQ(20u, stopwatch.ElapsedMs());
    EXPECT_EQ(20u, Stopwatch::Interval(0xFFFFFFF6u, 0x0000000Au));
    EXPECT_EQ(0u, Stopwatch::Interval(0xFFFFFFFFu, 0xFFFFFFFFu));
    EXPECT_EQ(0xFFFFFFFFu, Stopwatch::Interval(1, 0));
}

TEST(Stopwatch, RealClockSeesASleep) {
    Stopwatch stopwatch;
    stopwatch.Start();
    Sleep(30);
    stopwatch.Stop();
    EXPECT_GE(stopwatch.ElapsedMs(), 25u);
    EXPECT_LT(stopwatch.ElapsedMs(), 10000u);
}
