// The generator shapes and buffer edits, value for value.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "generators.h"

using namespace tallisk;

namespace {
std::vector<float> shape(Shape s) {
    std::vector<float> x(1024, 7.0f);
    generate(s, x.data());
    return x;
}
}  // namespace

TEST(Generators, ShapesAreTheTabledFunctionsOfTheIndex) {
    auto silence = shape(Shape::Silence);
    auto sinus = shape(Shape::Sinus);
    auto saw = shape(Shape::Sawtooth);
    auto ramp = shape(Shape::Ramp);
    auto square = shape(Shape::Square);
    for (int i = 0; i < 1024; ++i) {
        ASSERT_EQ(silence[i], 0.0f);
        const float phase = static_cast<float>(i) * (1.0f / 1024.0f) * 6.2831855f;
        ASSERT_EQ(sinus[i], static_cast<float>(std::sin(static_cast<double>(phase))));
        ASSERT_EQ(saw[i], static_cast<float>(i) / 512.0f - 1.0f);
        ASSERT_EQ(ramp[i], 1.0f - static_cast<float>(i) / 512.0f);
        ASSERT_EQ(square[i], i < 512 ? 1.0f : -1.0f);
    }
    EXPECT_EQ(saw[0], -1.0f);
    EXPECT_EQ(saw[1023], 0.998046875f);
    EXPECT_EQ(ramp[0], 1.0f);
    EXPECT_EQ(ramp[1023], -0.998046875f);
    EXPECT_EQ(sinus[256], static_cast<float>(std::sin(0.25 * static_cast<double>(6.2831855f))));
}

TEST(Generators, TriangleAndPulseQuarters) {
    auto tri = shape(Shape::Triangle);
    auto pulse = shape(Shape::Pulse);
    EXPECT_EQ(tri[0], 0.0f);
    EXPECT_EQ(tri[255], 255.0f / 256.0f);
    EXPECT_EQ(tri[256], 1.0f);
    EXPECT_EQ(tri[511], 1.0f / 256.0f);
    EXPECT_EQ(tri[512], 0.0f);
    EXPECT_EQ(tri[767], -255.0f / 256.0f);
    EXPECT_EQ(tri[768], -1.0f);
    EXPECT_EQ(tri[1023], -1.0f / 256.0f);
    EXPECT_EQ(pulse[0], 1.0f);
    EXPECT_EQ(pulse[511], 1.0f - 511.0f / 1024.0f);
    EXPECT_EQ(pulse[512], -1.0f);
    EXPECT_EQ(pulse[1023], 511.0f / 1024.0f - 1.0f);
}

TEST(Edits, MirrorFlipsSample512AndMakesTheSecondHalfOdd) {
    auto x = shape(Shape::Sawtooth);
    const auto before = x;
    mirror(x.data());
    EXPECT_EQ(x[512], -before[512]);
    for (int m = 1; m < 512; ++m) ASSERT_EQ(x[512 + m], -x[512 - m]) << m;
    for (int i = 0; i < 512; ++i) ASSERT_EQ(x[i], before[i]);
}

TEST(Edits, NormaliseScalesToPeakOrLeavesQuietBuffers) {
    std::vector<float> x(1024, 0.0f);
    x[10] = -0.25f;
    x[20] = 0.125f;
    EXPECT_TRUE(normalise(x.data(), 1024, 1.0f));
    EXPECT_EQ(x[10], -1.0f);
    EXPECT_EQ(x[20], 0.5f);

    std::vector<float> quiet(1024, 0.0f);
    quiet[3] = 0.0104f;  // just under 1/96
    EXPECT_FALSE(normalise(quiet.data(), 1024, 1.0f));
    EXPECT_EQ(quiet[3], 0.0104f);
}

TEST(Edits, MixPasteBlendsStoredCopyAndClipboard) {
    std::vector<float> x(1024, 5.0f), stored(1024, 1.0f), clip(1024, -1.0f);
    mix_paste(x.data(), stored.data(), clip.data(), 0.25f);
    EXPECT_EQ(x[0], 0.75f * 1.0f + 0.25f * -1.0f);
    mix_paste(x.data(), stored.data(), clip.data(), 0.0f);
    EXPECT_EQ(x[100], 1.0f);
    mix_paste(x.data(), stored.data(), clip.data(), 1.0f);
    EXPECT_EQ(x[1023], -1.0f);
}
