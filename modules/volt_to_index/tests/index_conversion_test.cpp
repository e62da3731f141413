// The two rounding rules of volt_to_index, driven directly.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "index_conversion.h"

using vti::floor_index;
using vti::nearest_index;

TEST(FloorIndex, WholeVoltsStoredJustBelowCountAsThatVolt) {
    ASSERT_LT(0.7f, 0.7);  // the float sits below 7 V
    EXPECT_EQ(floor_index(0.7f), 7);
    EXPECT_EQ(floor_index(0.3f), 3);
    EXPECT_EQ(floor_index(0.9f), 9);
    EXPECT_EQ(floor_index(2.9f), 29);
    for (int volts = 0; volts <= 300; ++volts) {
        EXPECT_EQ(floor_index(static_cast<float>(volts) / 10.0f), volts) << volts << " V";
        EXPECT_EQ(floor_index(static_cast<float>(volts) * 0.1f), volts) << volts << " V";
    }
}

TEST(FloorIndex, TruncatesTowardZeroKeepingTheSign) {
    EXPECT_EQ(floor_index(0.37f), 3);
    EXPECT_EQ(floor_index(-0.37f), -3);
    EXPECT_EQ(floor_index(0.099f), 0);
    EXPECT_EQ(floor_index(-0.099f), 0);
    EXPECT_EQ(floor_index(-0.7f), -7);
    EXPECT_EQ(floor_index(0.0f), 0);
    EXPECT_EQ(floor_index(-0.0f), 0);
}

TEST(NearestIndex, RoundsToNearestWithTiesToEven) {
    EXPECT_EQ(nearest_index(0.7f), 7);
    EXPECT_EQ(nearest_index(0.37f), 4);
    EXPECT_EQ(nearest_index(-0.37f), -4);
    EXPECT_EQ(nearest_index(0.25f), 2);
    EXPECT_EQ(nearest_index(0.75f), 8);
    EXPECT_EQ(nearest_index(-0.25f), -2);
    EXPECT_EQ(nearest_index(0.34f), 3);
}

TEST(IndexConversion, IndicesBeyondSixteenBitsWrap) {
    // 3276.8 V is 32768, one past the largest 16-bit index.
    EXPECT_EQ(floor_index(3276.8f), -32768);
    EXPECT_EQ(nearest_index(3276.8f), -32768);
    EXPECT_EQ(nearest_index(6553.6f), 0);
    EXPECT_EQ(nearest_index(6553.7f), 1);
    EXPECT_EQ(nearest_index(-3276.9f), 32767);
}

TEST(IndexConversion, NonNumbersAndHugeValuesGiveIndexZero) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (float v : {inf, -inf, nan, 1e30f, -1e30f}) {
        EXPECT_EQ(floor_index(v), 0) << v;
        EXPECT_EQ(nearest_index(v), 0) << v;
    }
}
