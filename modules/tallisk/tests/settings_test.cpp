// The panel's settings text: the round trip, and bad texts keeping the defaults for what cannot be
// read without overflowing.
#include <gtest/gtest.h>

#include <string>

#include "settings_string.h"

using namespace tallisk;

TEST(SettingsString, WritesLowerCaseHexColoursFlagsAndPath) {
    PanelLook look{0xABCDEF, 0x507FFF, 8, 0, "/banks/pic.bmp"};
    EXPECT_EQ(format_settings(look), "abcdef,507fff,8,0,/banks/pic.bmp");
    EXPECT_EQ(format_settings(PanelLook{}), "0,507fff,0,0,");
}

TEST(SettingsString, RoundTripsEveryField) {
    const PanelLook look{0x00112233, 0x00FF0000, 0, 8, "/some folder/with blanks/p.bmp"};
    const SettingsParse p = parse_settings(format_settings(look));
    EXPECT_TRUE(p.complete) << p.error;
    EXPECT_EQ(p.look.back_colour, look.back_colour);
    EXPECT_EQ(p.look.draw_colour, look.draw_colour);
    EXPECT_EQ(p.look.transparent, 0);
    EXPECT_EQ(p.look.picture_mode, 8);
    EXPECT_EQ(p.look.picture_path, look.picture_path);
    // An empty path is a complete string too.
    EXPECT_TRUE(parse_settings("ff,0,8,0,").complete);
}

TEST(SettingsString, BadTextsKeepTheDefaultsFromTheFirstUnreadableField) {
    const PanelLook d{0x010203, 0x040506, 0, 8, "/old.bmp"};
    struct Case {
        const char* text;
        uint32_t back, draw;
        int32_t transparent, picture;
        const char* path;
        bool complete = false;
    } cases[] = {
        {"", 0x010203, 0x040506, 0, 8, "/old.bmp"},
        {"junk", 0x010203, 0x040506, 0, 8, "/old.bmp"},
        {"ff", 0xFF, 0x040506, 0, 8, "/old.bmp"},
        {"ff,zz,8,0,/x.bmp", 0xFF, 0x040506, 0, 8, "/old.bmp"},
        {"ff,ee,8", 0xFF, 0xEE, 8, 8, "/old.bmp"},
        {"ff,ee,8,0", 0xFF, 0xEE, 8, 0, "/old.bmp"},
        {"123456789,ee,8,0,/x", 0x010203, 0x040506, 0, 8, "/old.bmp"},  // beyond 32 bits
        {"ff,ee,3,-1,/x", 0xFF, 0xEE, 8, 8, "/x", true},                // flags are 0 or 8
    };
    for (const Case& c : cases) {
        const SettingsParse p = parse_settings(c.text, d);
        EXPECT_EQ(p.complete, c.complete) << c.text;
        EXPECT_EQ(p.look.back_colour, c.back) << c.text;
        EXPECT_EQ(p.look.draw_colour, c.draw) << c.text;
        EXPECT_EQ(p.look.transparent, c.transparent) << c.text;
        EXPECT_EQ(p.look.picture_mode, c.picture) << c.text;
        EXPECT_EQ(p.look.picture_path, c.path) << c.text;
        EXPECT_EQ(p.error.empty(), c.complete) << c.text;
    }
}

TEST(SettingsString, RefusesAPathLongerThan299CharactersAndKeepsTheOldOne) {
    const PanelLook d{0, 0, 0, 0, "/old.bmp"};
    const std::string longest(299, 'p');
    SettingsParse p = parse_settings("1,2,0,8," + longest, d);
    EXPECT_TRUE(p.complete);
    EXPECT_EQ(p.look.picture_path, longest);
    p = parse_settings("1,2,0,8," + longest + "q", d);
    EXPECT_FALSE(p.complete);
    EXPECT_NE(p.error.find("299"), std::string::npos);
    EXPECT_EQ(p.look.picture_path, "/old.bmp");
    EXPECT_EQ(p.look.picture_mode, 8);  // the fields before it were read
    // Even a huge text is read without overflow.
    p = parse_settings("1,2,0,8," + std::string(100000, 'x'), d);
    EXPECT_FALSE(p.complete);
}
