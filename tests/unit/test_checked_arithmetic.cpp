#include "base/checked_arithmetic.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {
constexpr int64_t MAX = std::numeric_limits<int64_t>::max();
constexpr int64_t MIN = std::numeric_limits<int64_t>::min();
}  // namespace

// The edges where a plain cast is undefined: 2^63 itself is out of range,
// the largest double below it is not; -2^63 is exactly INT64_MIN.
TEST(CheckedArithmetic, DoubleToInt64TruncatesAndClamps)
{
    EXPECT_EQ(double_to_int64(1.9), 1);
    EXPECT_EQ(double_to_int64(-1.9), -1);
    EXPECT_EQ(double_to_int64(-0.5), 0);
    EXPECT_EQ(double_to_int64(9007199254740993.0), 9007199254740992);   // above 2^53: the double's value
    EXPECT_EQ(double_to_int64(std::nextafter(9223372036854775808.0, 0.0)), 9223372036854774784);
    EXPECT_EQ(double_to_int64(9223372036854775808.0), MAX);
    EXPECT_EQ(double_to_int64(1e300), MAX);
    EXPECT_EQ(double_to_int64(std::numeric_limits<double>::infinity()), MAX);
    EXPECT_EQ(double_to_int64(-9223372036854775808.0), MIN);
    EXPECT_EQ(double_to_int64(std::nextafter(-9223372036854775808.0, 0.0)), -9223372036854774784);
    EXPECT_EQ(double_to_int64(-std::numeric_limits<double>::infinity()), MIN);
    EXPECT_EQ(double_to_int64(std::nan("")), 0);
}

TEST(CheckedArithmetic, SaturatingAddClampsTowardTheOverflow)
{
    EXPECT_EQ(saturating_add(MAX - 1, 1), MAX);
    EXPECT_EQ(saturating_add(MAX, 1), MAX);
    EXPECT_EQ(saturating_add(1, MAX), MAX);
    EXPECT_EQ(saturating_add(MAX, MAX), MAX);
    EXPECT_EQ(saturating_add(MIN + 1, -1), MIN);
    EXPECT_EQ(saturating_add(MIN, -1), MIN);   // not INT64_MAX: the sum went below, not above
    EXPECT_EQ(saturating_add(-1, MIN), MIN);
    EXPECT_EQ(saturating_add(MIN, MIN), MIN);
    EXPECT_EQ(saturating_add(MAX, MIN), -1);   // mixed signs never overflow
    EXPECT_EQ(saturating_add(-5, 3), -2);
}
