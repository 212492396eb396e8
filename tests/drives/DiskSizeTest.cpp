#include "drives/DiskSize.h"

#include <gtest/gtest.h>

using vornel::drives::FormatDiskSize;

TEST(FormatDiskSize, EveryUnitBoundaryAndTheListsExamples) {
    EXPECT_EQ(FormatDiskSize(0), "");
    EXPECT_EQ(FormatDiskSize(1023), "");
    EXPECT_EQ(FormatDiskSize(1024), "1.00KB");
    EXPECT_EQ(FormatDiskSize(1048575), "1024.00KB");
    EXPECT_EQ(FormatDiskSize(1048576), "1.00MB");
    EXPECT_EQ(FormatDiskSize(1073741823), "1024.00MB");
    EXPECT_EQ(FormatDiskSize(1073741824), "1.00GB");
    EXPECT_EQ(FormatDiskSize(1000000000), "953.67MB");
    EXPECT_EQ(FormatDiskSize(8000000000), "7.45GB");
    EXPECT_EQ(FormatDiskSize(16000000000), "14.90GB");
}

TEST(FormatDiskSize, HalvesRoundUpOnTheExactValue) {
    EXPECT_EQ(FormatDiskSize(2281701376), "2.13GB"); // exactly 2.125 GB
    EXPECT_EQ(FormatDiskSize(2281701375), "2.12GB"); // a byte below the half
    EXPECT_EQ(FormatDiskSize(1024 + 5), "1.00KB");   // 1.00488
    EXPECT_EQ(FormatDiskSize(1024 + 6), "1.01KB");   // 1.00586
    EXPECT_EQ(FormatDiskSize(1024 * 3 / 2), "1.50KB");
    EXPECT_EQ(FormatDiskSize(10 * 1048576 + 52429), "10.05MB"); // 10.0500001
    EXPECT_EQ(FormatDiskSize(102395), "100.00KB");              // 99.995 carries into the units
}

TEST(FormatDiskSize, NoUnitAboveGigabytesAndNoOverflowAtTheTop) {
    EXPECT_EQ(FormatDiskSize(3LL << 40), "3072.00GB");
    EXPECT_EQ(FormatDiskSize(INT64_MAX), "8589934592.00GB");
    EXPECT_EQ(FormatDiskSize(-1), "");
    EXPECT_EQ(FormatDiskSize(INT64_MIN), "");
}
