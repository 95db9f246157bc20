#pragma once
// The two conversions that must never wrap or trap, whichever layer does
// them: numbers read from a document (doubles) into 64-bit counts, and sums
// of counts that a hostile or corrupt document can make as large as it likes.
// One rule for each, so a size reads the same in the manifest and in the
// state file, and a total saturates the same way in planning and download.
#include <cstdint>
#include <limits>

// A JSON number as a signed 64-bit integer: truncated toward zero; a value
// beyond the range (infinities included) clamps to INT64_MIN or INT64_MAX;
// NaN reads 0. The cast alone would be undefined behaviour out of range.
constexpr int64_t double_to_int64(double v)
{
    constexpr double two_to_63 = 9223372036854775808.0;
    if (v != v) return 0;
    if (v >= two_to_63) return std::numeric_limits<int64_t>::max();
    if (v <= -two_to_63) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(v);
}

// a + b, clamped instead of overflowing: past the top gives INT64_MAX, past
// the bottom INT64_MIN, so a sum of hostile values cannot wrap round to a
// small or negative total.
constexpr int64_t saturating_add(int64_t a, int64_t b)
{
    int64_t sum = 0;
    if (!__builtin_add_overflow(a, b, &sum)) return sum;
    return b > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
}
