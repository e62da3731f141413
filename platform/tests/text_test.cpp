// Text output in the bitmap font: glyph placement, colours, background mode, alignment, clipping.
#include <gtest/gtest.h>

#include "mvp/gdi.h"

using namespace mvp;

namespace {

constexpr COLORREF kInk = RGB(255, 127, 80);
constexpr COLORREF kPaper = 0x000000;

struct TextPanel {
    HDC dc;
    HFONT font;
    HGDIOBJ old_font;
    TextPanel(int w, int h) : dc(create_panel_dc(w, h, kPaper)) {
        font = CreateFontA(-10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "Terminal");
        old_font = SelectObject(dc, font);
        SetTextColor(dc, kInk);
        SetBkMode(dc, TRANSPARENT);
        SetTextAlign(dc, TA_LEFT | TA_TOP);
    }
    ~TextPanel() {
        SelectObject(dc, old_font);
        DeleteObject(font);
        delete_panel_dc(dc);
    }
    std::string rows(int y0, int y1, int x1) const {
        std::string s;
        for (int y = y0; y < y1; ++y) {
            for (int x = 0; x < x1; ++x) s += GetPixel(dc, x, y) == kInk ? '#' : '.';
            s += '\n';
        }
        return s;
    }
    int ink() const {
        Image img;
        read_image(dc, &img);
        int n = 0;
        for (COLORREF c : img.pixels) n += c == kInk;
        return n;
    }
};

}  // namespace

TEST(GdiText, GlyphSitsBelowOneRowOfLeadingInASixByTenCell) {
    TextPanel p(12, 12);
    EXPECT_EQ(TextOutA(p.dc, 0, 0, "A", 1), 1);
    EXPECT_EQ(p.rows(0, 10, 6),
              "......\n"
              ".###..\n"
              "#...#.\n"
              "#...#.\n"
              "#####.\n"
              "#...#.\n"
              "#...#.\n"
              "#...#.\n"
              "......\n"
              "......\n");
}

TEST(GdiText, CharactersAdvanceByTheCellWidthAndDescendersUseTheLastRows) {
    TextPanel p(12, 10);
    TextOutA(p.dc, 0, 0, "Ig", 2);
    EXPECT_EQ(p.rows(0, 10, 12),
              "............\n"
              ".###........\n"
              "..#.........\n"
              "..#....####.\n"
              "..#...#...#.\n"
              "..#...#...#.\n"
              "..#....####.\n"
              ".###......#.\n"
              "..........#.\n"
              ".......###..\n");
}

TEST(GdiText, OpaqueModeFillsTheCellsWithTheBackgroundColour) {
    TextPanel p(14, 12);
    SetBkMode(p.dc, OPAQUE);
    SetBkColor(p.dc, RGB(0, 0, 255));
    TextOutA(p.dc, 1, 1, "..", 2);
    EXPECT_EQ(GetPixel(p.dc, 1, 1), RGB(0, 0, 255));
    EXPECT_EQ(GetPixel(p.dc, 12, 10), RGB(0, 0, 255));
    EXPECT_EQ(GetPixel(p.dc, 13, 10), kPaper);
    EXPECT_EQ(GetPixel(p.dc, 0, 0), kPaper);
    EXPECT_EQ(GetPixel(p.dc, 2, 7), kInk);  // the dot of the first '.'
}

TEST(GdiText, AlignmentMovesTheCellsAroundTheReferencePoint) {
    TextPanel p(40, 40);
    SIZE size;
    ASSERT_EQ(GetTextExtentPoint32A(p.dc, "abc", 3, &size), 1);
    EXPECT_EQ(size.cx, 18);
    EXPECT_EQ(size.cy, 10);

    SetTextAlign(p.dc, TA_RIGHT | TA_BOTTOM);
    TextOutA(p.dc, 20, 20, "|", 1);  // cell [14, 20) x [10, 20): the bar in column 16, rows 11..17
    EXPECT_EQ(GetPixel(p.dc, 16, 11), kInk);
    EXPECT_EQ(GetPixel(p.dc, 16, 17), kInk);
    EXPECT_EQ(GetPixel(p.dc, 16, 18), kPaper);
    EXPECT_EQ(GetPixel(p.dc, 16, 10), kPaper);

    TextPanel q(40, 40);
    SetTextAlign(q.dc, TA_CENTER | TA_BASELINE);
    TextOutA(q.dc, 20, 20, "||", 2);  // cells from x 14, top at 20 - 8
    EXPECT_EQ(GetPixel(q.dc, 16, 13), kInk);
    EXPECT_EQ(GetPixel(q.dc, 22, 19), kInk);
    EXPECT_EQ(GetPixel(q.dc, 16, 12), kPaper);
    EXPECT_EQ(GetPixel(q.dc, 16, 20), kPaper);
}

TEST(GdiText, ClipsAtEveryEdgeAndStopsAtANul) {
    TextPanel p(8, 8);
    TextOutA(p.dc, -3, -2, "H", 1);
    // 'H' columns 0 and 4 land at x -3 and 1; rows 1..7 at y -1..5.
    EXPECT_EQ(GetPixel(p.dc, 1, 0), kInk);
    EXPECT_EQ(GetPixel(p.dc, 1, 5), kInk);
    EXPECT_EQ(GetPixel(p.dc, 0, 2), kInk);  // the crossbar, row 4 -> y 2
    EXPECT_EQ(GetPixel(p.dc, 1, 6), kPaper);

    TextPanel q(30, 12);
    TextOutA(q.dc, 0, 0, "I\0II", 4);
    TextPanel r(30, 12);
    TextOutA(r.dc, 0, 0, "I", 1);
    EXPECT_EQ(q.ink(), r.ink());

    TextOutA(q.dc, 2000000000, 0, "far", 3);
    TextOutA(q.dc, -2000000000, -2000000000, "far", 3);
    EXPECT_EQ(q.ink(), r.ink());
}

TEST(GdiText, UnknownBytesDrawABoxAndLargeFontsScale) {
    TextPanel p(12, 22);
    TextOutA(p.dc, 0, 0, "\x01", 1);
    EXPECT_EQ(p.rows(1, 2, 6), "#####.\n");
    EXPECT_EQ(p.rows(2, 3, 6), "#...#.\n");

    TextPanel q(12, 20);
    HFONT big = CreateFontA(-20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "Terminal");
    HGDIOBJ old = SelectObject(q.dc, big);
    SIZE size;
    GetTextExtentPoint32A(q.dc, "I", 1, &size);
    EXPECT_EQ(size.cx, 12);
    EXPECT_EQ(size.cy, 20);
    TextOutA(q.dc, 0, 0, "I", 1);
    EXPECT_EQ(q.rows(2, 4, 12), "..######....\n..######....\n");
    SelectObject(q.dc, old);
    DeleteObject(big);
}

TEST(GdiText, UpdateCpDrawsAtAndAdvancesTheCurrentPosition) {
    TextPanel p(30, 12);
    SetTextAlign(p.dc, TA_UPDATECP);
    MoveToEx(p.dc, 6, 0, nullptr);
    TextOutA(p.dc, 0, 0, "|", 1);
    TextOutA(p.dc, 0, 0, "|", 1);
    EXPECT_EQ(GetPixel(p.dc, 8, 1), kInk);
    EXPECT_EQ(GetPixel(p.dc, 14, 1), kInk);
    POINT pos;
    MoveToEx(p.dc, 0, 0, &pos);
    EXPECT_EQ(pos.x, 18);
}
