#include <cmath>
#include <cstdint>
#include <limits>

#include "runtime/checked.h"
#include "tests/unit/error_matchers.h"

using runtime::Increment;
using runtime::ToInteger;
using runtime::ToLong;

TEST(CheckedArithmetic, IncrementsUpToTheLimitThenOverflows) {
    EXPECT_EQ(2147483647, Increment(std::int32_t{2147483646}));
    EXPECT_EQ(0, Increment(std::int32_t{-1}));
    EXPECT_RUNTIME_ERROR(Increment(std::int32_t{2147483647}), 6);

    EXPECT_EQ(32767, Increment(std::int16_t{32766}));
    EXPECT_RUNTIME_ERROR(Increment(std::int16_t{32767}), 6);
}

TEST(CheckedArithmetic, ConversionsRoundHalvesToEven) {
    const struct {
        double value;
        std::int32_t expected;
    } cases[] = {{0.5, 0}, {1.5, 2}, {2.5, 2}, {3.5, 4}, {-0.5, 0}, {-1.5, -2}, {-2.5, -2},
                 {2.4999, 2}, {2.5001, 3}, {-7.0, -7}, {9999.0, 9999}};
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, ToLong(c.value)) << "ToLong(" << c.value << ")";
        EXPECT_EQ(c.expected, ToInteger(c.value)) << "ToInteger(" << c.value << ")";
    }
}

TEST(CheckedArithmetic, ConversionsOutOfRangeOverflow) {
    EXPECT_EQ(2147483647, ToLong(2147483647.4));
    EXPECT_EQ(-2147483647 - 1, ToLong(-2147483648.5));
    EXPECT_RUNTIME_ERROR(ToLong(2147483647.5), 6);
    EXPECT_RUNTIME_ERROR(ToLong(-2147483649.0), 6);
    EXPECT_EQ(32767, ToInteger(32767.4));
    EXPECT_RUNTIME_ERROR(ToInteger(32767.5), 6);
    EXPECT_RUNTIME_ERROR(ToInteger(-32768.6), 6);
}

TEST(CheckedArithmetic, NanAndInfinityAreRejected) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (double bad : {nan, inf, -inf}) {
        EXPECT_RUNTIME_ERROR(ToLong(bad), 6);
        EXPECT_RUNTIME_ERROR(ToInteger(bad), 6);
        EXPECT_RUNTIME_ERROR(runtime::CheckedFloat(bad), 6);
    }
}

TEST(CheckedArithmetic, FloatResultsBeyondSinglePrecisionOverflow) {
    const float largest = std::numeric_limits<float>::max();
    EXPECT_EQ(largest, runtime::CheckedFloat(static_cast<double>(largest)));
    EXPECT_RUNTIME_ERROR(runtime::CheckedFloat(static_cast<double>(largest) * 2.0), 6);
    // Beyond 2^24 whole numbers round to the nearest float.
    EXPECT_EQ(16777216.0f, runtime::CheckedFloat(16777217.0));
}
