// Reading and writing the list text without the host.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>

#include "array_text.h"

using namespace array_to_floats;

TEST(ArrayItems, ReadLikeTheStandardDecimalConversion) {
    EXPECT_EQ(parse_item("2.25"), 2.25f);
    EXPECT_EQ(parse_item("   -7"), -7.0f);
    EXPECT_EQ(parse_item("2.5volts"), 2.5f);
    EXPECT_EQ(parse_item("1e3"), 1000.0f);
    EXPECT_EQ(parse_item(""), 0.0f);
    EXPECT_EQ(parse_item("abc"), 0.0f);
    EXPECT_EQ(parse_item(" "), 0.0f);
}

// Only plain decimal numbers: what the C library reads besides ends at its first letter, and what
// a float output cannot carry reads as 0.
TEST(ArrayItems, OnlyPlainDecimalNumbersAreRead) {
    const struct {
        const char* item;
        float value;
    } cases[] = {{"0x10", 0.0f}, {"inf", 0.0f},   {"-infinity", 0.0f}, {"nan", 0.0f},  {"NAN(1)", 0.0f},
                 {"1e39", 0.0f}, {"-1e999", 0.0f}, {".5", 0.5f},       {"5.", 5.0f},   {"+2e-1x", 0.2f},
                 {"3e", 3.0f},   {"3e+", 3.0f},    {"\t-.25e1", -2.5f}, {"-", 0.0f},  {".e3", 0.0f}};
    for (const auto& c : cases) EXPECT_EQ(parse_item(c.item), c.value) << c.item;
}

TEST(ArrayItems, SplitFillsMissingItemsWithZeroAndIgnoresTheRest) {
    EXPECT_EQ(split_items("1,2,3", 4), (std::vector<float>{1, 2, 3, 0}));
    EXPECT_EQ(split_items("0.5,abc,7", 3), (std::vector<float>{0.5f, 0, 7}));
    EXPECT_EQ(split_items("1,2,3,4", 2), (std::vector<float>{1, 2}));
    EXPECT_EQ(split_items("1,2.25,", 3), (std::vector<float>{1, 2.25f, 0}));
    EXPECT_EQ(split_items(",,5", 3), (std::vector<float>{0, 0, 5}));
    EXPECT_EQ(split_items("", 2), (std::vector<float>{0, 0}));
    EXPECT_TRUE(split_items("1,2", 0).empty());
    EXPECT_TRUE(split_items("1,2", -3).empty());
}

TEST(ArrayItems, WriteFixedNotationWithoutTrailingZerosEachEndingInAComma) {
    EXPECT_EQ(format_item(1.0f), "1,");
    EXPECT_EQ(format_item(2.5f), "2.5,");
    EXPECT_EQ(format_item(0.0f), "0,");
    EXPECT_EQ(format_item(100.0f), "100,");
    EXPECT_EQ(format_item(-0.5f), "-0.5,");
    EXPECT_EQ(format_item(0.1f), "0.1,");
    EXPECT_EQ(format_item(3.14159274f), "3.141593,");
    EXPECT_EQ(format_item(1e-7f), "0,");  // below the six decimals
    EXPECT_EQ(format_item(1e20f), "100000002004087734272,");
    EXPECT_EQ(format_item(INFINITY), "inf,");
    EXPECT_EQ(join_items({1.0f, 2.5f, 0.0f}), "1,2.5,0,");
    EXPECT_EQ(join_items({}), "");
}

TEST(ArrayItems, ATextRoundTripsThroughItsValues) {
    EXPECT_EQ(join_items(split_items("1,2.25,", 2)), "1,2.25,");
    EXPECT_EQ(join_items(split_items("0.5,abc,7", 3)), "0.5,0,7,");
}

TEST(ArrayItems, TheProcessLocaleDoesNotChangeTheFormat) {
    const char* names[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "de_DE"};
    const char* found = nullptr;
    for (const char* n : names)
        if (std::setlocale(LC_NUMERIC, n)) {
            found = n;
            break;
        }
    if (!found)
        GTEST_SKIP() << "no locale with a decimal comma is installed (tried de_DE.UTF-8, de_DE.utf8, "
                        "fr_FR.UTF-8, de_DE); tools/install-deps makes de_DE.UTF-8 with localedef";
    ASSERT_STREQ(std::localeconv()->decimal_point, ",") << found;
    EXPECT_EQ(format_item(2.25f), "2.25,");
    EXPECT_EQ(parse_item("2.25"), 2.25f);
    std::setlocale(LC_NUMERIC, "C");
}
