#include "bench/LatencyStats.h"

#include <gtest/gtest.h>

using tqbench::LatencyStats;
using tqbench::MedianOf;

TEST(LatencyStats, PercentilesAreNearestRanksOfTheSamples)
{
    LatencyStats stats;
    // Added out of order: the figures must not depend on the order.
    for (int i = 100; i >= 1; --i)
        stats.Add(i);
    EXPECT_EQ(stats.Count(), 100u);
    EXPECT_DOUBLE_EQ(stats.Percentile(50), 50);
    EXPECT_DOUBLE_EQ(stats.Percentile(99), 99);
    EXPECT_DOUBLE_EQ(stats.Percentile(100), 100);
    EXPECT_DOUBLE_EQ(stats.Percentile(0), 1);
    EXPECT_DOUBLE_EQ(stats.Percentile(1), 1);
    EXPECT_DOUBLE_EQ(stats.Percentile(1.5), 2);
    EXPECT_DOUBLE_EQ(stats.Mean(), 50.5);
    EXPECT_DOUBLE_EQ(stats.Total(), 5050);
}

TEST(LatencyStats, FractionalPercentilesDoNotRoundPastTheirRank)
{
    LatencyStats stats;
    for (int i = 1; i <= 1000; ++i)
        stats.Add(i);
    // 99.9 % of 1000 is exactly rank 999, though 99.9 has no exact binary form.
    EXPECT_DOUBLE_EQ(stats.Percentile(99.9), 999);
    EXPECT_DOUBLE_EQ(stats.Percentile(99.95), 1000);
    // Out of range is clamped.
    EXPECT_DOUBLE_EQ(stats.Percentile(250), 1000);
    EXPECT_DOUBLE_EQ(stats.Percentile(-3), 1);
}

TEST(LatencyStats, SmallAndEmptySets)
{
    LatencyStats stats;
    EXPECT_DOUBLE_EQ(stats.Percentile(50), 0);
    EXPECT_DOUBLE_EQ(stats.Mean(), 0);
    stats.Add(7);
    EXPECT_DOUBLE_EQ(stats.Percentile(1), 7);
    EXPECT_DOUBLE_EQ(stats.Percentile(99), 7);
    stats.Add(3);
    // Of two samples the median is the lower (rank 1), p99 the higher.
    EXPECT_DOUBLE_EQ(stats.Median(), 3);
    EXPECT_DOUBLE_EQ(stats.Percentile(99), 7);
    stats.Clear();
    EXPECT_TRUE(stats.Empty());
    EXPECT_DOUBLE_EQ(stats.Total(), 0);
}

TEST(LatencyStats, MergeKeepsEverySampleOfBothAndSortsAgain)
{
    LatencyStats a, b;
    for (int i = 0; i < 10; ++i)
        a.Add(100 + i);
    EXPECT_DOUBLE_EQ(a.Percentile(50), 104);  // sorted once
    for (int i = 0; i < 10; ++i)
        b.Add(i);
    a.Merge(b);
    EXPECT_EQ(a.Count(), 20u);
    EXPECT_DOUBLE_EQ(a.Percentile(50), 9);
    EXPECT_DOUBLE_EQ(a.Percentile(100), 109);
    EXPECT_DOUBLE_EQ(a.Total(), 1045 + 45);
    a.Merge(LatencyStats{});
    EXPECT_EQ(a.Count(), 20u);
}

TEST(LatencyStats, MedianOfRepeatedFigures)
{
    EXPECT_DOUBLE_EQ(MedianOf({}), 0);
    EXPECT_DOUBLE_EQ(MedianOf({5}), 5);
    EXPECT_DOUBLE_EQ(MedianOf({9, 1, 5}), 5);
    EXPECT_DOUBLE_EQ(MedianOf({4, 1, 3, 2}), 2.5);
    // One wild run does not move it.
    EXPECT_DOUBLE_EQ(MedianOf({10, 11, 1000}), 11);
}
