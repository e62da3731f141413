// The view-link texts, as both ends read and write them: sscanf "%i,%i" with a pointer-wide
// argument, and the table address text.
#include <gtest/gtest.h>

#include <cstdint>

#include "view_link.h"

namespace tallisk {
namespace {

TEST(ViewLink, ReadsMessagesAsPercentIComma) {
    struct Case {
        const char* text;
        bool has_code;
        int code;
        bool has_argument;
        intptr_t argument;
    };
    const Case cases[] = {
        {"17,1", true, 17, true, 1},
        {"  9,-123", true, 9, true, -123},  // leading blanks; signed decimal address
        {"9, 123", true, 9, true, 123},     // "%i" skips blanks before the argument...
        {"9 ,123", true, 9, false, 0},      // ...but the comma must follow the code at once
        {"0x0d,010", true, 13, true, 8},    // automatic base for both numbers
        {"+3,0x10", true, 3, true, 16},
        {"11", true, 11, false, 0},
        {"9,", true, 9, false, 0},
        {"9,x", true, 9, false, 0},
        {"18,0 trailing", true, 18, true, 0},
        {"99999999999,1", true, INT32_MAX, true, 1},  // a code past int is clamped
        {"-99999999999", true, INT32_MIN, false, 0},
        {"hello", false, 0, false, 0},
        {",5", false, 0, false, 0},
        {"", false, 0, false, 0},
        {nullptr, false, 0, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text ? c.text : "(null)");
        const ViewMessage m = parse_view_message(c.text);
        EXPECT_EQ(m.has_code, c.has_code);
        EXPECT_EQ(m.code, c.code);
        EXPECT_EQ(m.has_argument, c.has_argument);
        EXPECT_EQ(m.argument, c.argument);
    }
}

TEST(ViewLink, AddressesTravelAsSignedDecimalWideEnoughForPointers) {
    EXPECT_EQ(format_view_message(17, intptr_t{1}), "17,1");
    EXPECT_EQ(format_view_message(14, nullptr), "14,0");
    // An address with the top bit of a 32-bit word set, or above 2^32 on 64-bit builds.
    const void* p =
        reinterpret_cast<const void*>(static_cast<uintptr_t>(sizeof(void*) == 8 ? 0x7ffd12345678ull : 0xbfd12345ull));
    const ViewMessage m = parse_view_message(format_view_message(kViewEditBuffer, p).c_str());
    ASSERT_TRUE(m.has_code && m.has_argument);
    EXPECT_EQ(m.code, kViewEditBuffer);
    EXPECT_EQ(reinterpret_cast<const void*>(m.argument), p);
    EXPECT_EQ(parse_address(format_address(p).c_str()), reinterpret_cast<uintptr_t>(p));
}

TEST(ViewLink, TableAddressIsOneWholeUnsignedNumber) {
    const struct {
        const char* text;
        uintptr_t address;
    } cases[] = {
        {"4096", 4096}, {" 4096 ", 4096}, {"0x10", 16}, {"010", 8}, {"abc", 0},
        {"123abc", 0},  {"-5", 0},        {"", 0},      {nullptr, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text ? c.text : "(null)");
        EXPECT_EQ(parse_address(c.text), c.address);
    }
}

}  // namespace
}  // namespace tallisk
