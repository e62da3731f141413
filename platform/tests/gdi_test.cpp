// Fills, lines, pixels and handle checks against hand-checked pixels.
#include <gtest/gtest.h>

#include <climits>

#include "mvp/gdi.h"

using namespace mvp;

namespace {

constexpr COLORREF kWhite = 0xFFFFFF;
constexpr COLORREF kRed = RGB(255, 0, 0);

// A w x h white panel that is deleted at the end of the test.
struct Panel {
    HDC dc;
    Panel(int w, int h) : dc(create_panel_dc(w, h, kWhite)) {}
    ~Panel() { delete_panel_dc(dc); }
    COLORREF at(int x, int y) const { return GetPixel(dc, x, y); }
    // The set pixels as a picture, '#' for `c`, '.' for anything else.
    std::string rows(COLORREF c) const {
        Image img;
        read_image(dc, &img);
        std::string s;
        for (int y = 0; y < img.height; ++y) {
            for (int x = 0; x < img.width; ++x) s += img.at(x, y) == c ? '#' : '.';
            s += '\n';
        }
        return s;
    }
};

void line(HDC dc, int x0, int y0, int x1, int y1) {
    MoveToEx(dc, x0, y0, nullptr);
    LineTo(dc, x1, y1);
}

}  // namespace

TEST(GdiFill, RightAndBottomEdgesAreExclusive) {
    Panel p(8, 6);
    HBRUSH red = CreateSolidBrush(kRed);
    RECT r{2, 1, 5, 4};
    EXPECT_EQ(FillRect(p.dc, &r, red), 1);
    EXPECT_EQ(p.rows(kRed),
              "........\n"
              "..###...\n"
              "..###...\n"
              "..###...\n"
              "........\n"
              "........\n");
    DeleteObject(red);
}

TEST(GdiFill, ClipsToTheSurfaceAndIgnoresEmptyRectangles) {
    Panel p(4, 3);
    HBRUSH red = CreateSolidBrush(kRed);
    RECT huge{INT_MIN, INT_MIN, INT_MAX, INT_MAX};
    EXPECT_EQ(FillRect(p.dc, &huge, red), 1);
    EXPECT_EQ(p.rows(kRed), "####\n####\n####\n");
    HBRUSH white = CreateSolidBrush(kWhite);
    RECT inverted{3, 2, 1, 0};
    FillRect(p.dc, &inverted, white);
    RECT outside{10, 10, 20, 20};
    FillRect(p.dc, &outside, white);
    EXPECT_EQ(p.rows(kRed), "####\n####\n####\n");
    DeleteObject(red);
    DeleteObject(white);
}

TEST(GdiFill, PanelFillOnePixelBeyondTheEdgeCoversEverything) {
    // Modules fill (0, 0, w + 1, h + 1); the extra row and column fall off the surface.
    Panel p(50, 25);
    HBRUSH b = CreateSolidBrush(0xFF0000);
    RECT r{0, 0, 51, 26};
    FillRect(p.dc, &r, b);
    EXPECT_EQ(p.at(0, 0), 0xFF0000u);
    EXPECT_EQ(p.at(49, 24), 0xFF0000u);
    DeleteObject(b);
}

TEST(GdiLine, EndPointIsNotDrawn) {
    Panel p(6, 5);
    HPEN pen = CreatePen(PS_SOLID, 1, kRed);
    HGDIOBJ old = SelectObject(p.dc, pen);
    line(p.dc, 1, 1, 5, 1);
    line(p.dc, 0, 2, 0, 4);
    EXPECT_EQ(p.rows(kRed),
              "......\n"
              ".####.\n"
              "#.....\n"
              "#.....\n"
              "......\n");
    SelectObject(p.dc, old);
    DeleteObject(pen);
}

TEST(GdiLine, ShallowAndSteepLinesStepAtTheHalfway) {
    Panel p(5, 5);
    HPEN pen = CreatePen(PS_SOLID, 1, kRed);
    HGDIOBJ old = SelectObject(p.dc, pen);
    line(p.dc, 0, 0, 4, 1);  // x: 0 1 2 3, y: 0 0 1 1
    EXPECT_EQ(p.rows(kRed), "##...\n..##.\n.....\n.....\n.....\n");
    Panel q(5, 5);
    SelectObject(q.dc, pen);
    line(q.dc, 4, 4, 3, 0);  // going up: y 4 3 2 1, x 4 4 3 3
    EXPECT_EQ(q.rows(kRed), ".....\n...#.\n...#.\n....#\n....#\n");
    SelectObject(q.dc, GetStockObject(BLACK_PEN));
    SelectObject(p.dc, old);
    DeleteObject(pen);
}

TEST(GdiLine, PolylineJoinsDrawEveryCornerOnce) {
    Panel p(5, 5);
    HPEN pen = CreatePen(PS_SOLID, 1, kRed);
    SelectObject(p.dc, pen);
    MoveToEx(p.dc, 0, 0, nullptr);
    LineTo(p.dc, 3, 0);
    LineTo(p.dc, 3, 3);
    POINT pos;
    MoveToEx(p.dc, 0, 0, &pos);
    EXPECT_EQ(pos.x, 3);
    EXPECT_EQ(pos.y, 3);
    EXPECT_EQ(p.rows(kRed), "####.\n...#.\n...#.\n.....\n.....\n");
    SelectObject(p.dc, GetStockObject(BLACK_PEN));
    DeleteObject(pen);
}

TEST(GdiLine, FarEndsAreClippedWithoutWalkingThem) {
    Panel p(6, 3);
    HPEN pen = CreatePen(PS_SOLID, 1, kRed);
    SelectObject(p.dc, pen);
    line(p.dc, -2000000000, 1, 2000000000, 1);
    EXPECT_EQ(p.rows(kRed), "......\n######\n......\n");
    line(p.dc, INT_MIN, INT_MIN, INT_MAX, INT_MAX);  // passes near the panel; must not hang or crash
    line(p.dc, 100, 100, 200, 300);
    SelectObject(p.dc, GetStockObject(BLACK_PEN));
    DeleteObject(pen);
}

TEST(GdiLine, NullPenMovesWithoutDrawingAndWidePenDrawsSquares) {
    Panel p(7, 5);
    SelectObject(p.dc, GetStockObject(NULL_PEN));
    line(p.dc, 0, 0, 6, 0);
    EXPECT_EQ(p.rows(0x000000), ".......\n.......\n.......\n.......\n.......\n");
    HPEN wide = CreatePen(PS_SOLID, 3, kRed);
    SelectObject(p.dc, wide);
    line(p.dc, 2, 2, 3, 2);
    EXPECT_EQ(p.rows(kRed), ".......\n.###...\n.###...\n.###...\n.......\n");
    SelectObject(p.dc, GetStockObject(BLACK_PEN));
    DeleteObject(wide);
}

TEST(GdiRectangle, OutlineWithPenAndInsideWithBrush) {
    Panel p(6, 5);
    HBRUSH red = CreateSolidBrush(kRed);
    SelectObject(p.dc, red);
    Rectangle(p.dc, 0, 0, 5, 4);
    EXPECT_EQ(p.rows(0x000000), "#####.\n#...#.\n#...#.\n#####.\n......\n");
    EXPECT_EQ(p.rows(kRed), "......\n.###..\n.###..\n......\n......\n");
    SelectObject(p.dc, GetStockObject(WHITE_BRUSH));
    DeleteObject(red);
}

TEST(GdiPixels, OutsideTheSurfaceIsInvalid) {
    Panel p(2, 2);
    EXPECT_EQ(SetPixel(p.dc, 1, 1, kRed), kRed);
    EXPECT_EQ(GetPixel(p.dc, 1, 1), kRed);
    EXPECT_EQ(GetPixel(p.dc, 2, 0), CLR_INVALID);
    EXPECT_EQ(GetPixel(p.dc, -1, 0), CLR_INVALID);
    EXPECT_EQ(SetPixel(p.dc, 0, 2, kRed), CLR_INVALID);
    HDC bare = CreateCompatibleDC(0);  // no bitmap selected
    EXPECT_EQ(GetPixel(bare, 0, 0), CLR_INVALID);
    EXPECT_EQ(LineTo(bare, 5, 5), 1);
    DeleteDC(bare);
}

TEST(GdiHandles, BadHandlesFailQuietly) {
    const GdiCounts before = gdi_counts();
    RECT r{0, 0, 1, 1};
    for (HDC bad : {0, -1, 40, 123456}) {
        Image img;
        EXPECT_EQ(FillRect(bad, &r, GetStockObject(BLACK_BRUSH)), 0);
        EXPECT_EQ(MoveToEx(bad, 0, 0, nullptr), 0);
        EXPECT_EQ(LineTo(bad, 1, 1), 0);
        EXPECT_EQ(SelectObject(bad, GetStockObject(BLACK_PEN)), 0);
        EXPECT_EQ(TextOutA(bad, 0, 0, "x", 1), 0);
        EXPECT_EQ(SetTextColor(bad, 0), CLR_INVALID);
        EXPECT_EQ(SetBkMode(bad, TRANSPARENT), 0);
        EXPECT_EQ(BitBlt(bad, 0, 0, 1, 1, bad, 0, 0, SRCCOPY), 0);
        EXPECT_EQ(DeleteDC(bad), 0);
        EXPECT_EQ(DeleteObject(bad), 0);
        EXPECT_FALSE(read_image(bad, &img));
    }
    Panel p(2, 2);
    HBRUSH brush = CreateSolidBrush(kRed);
    EXPECT_EQ(FillRect(p.dc, nullptr, brush), 0);
    EXPECT_EQ(FillRect(brush, &r, brush), 0);  // a brush is not a context
    EXPECT_EQ(FillRect(p.dc, &r, p.dc), 0);    // nor a context a brush
    EXPECT_EQ(SetBkMode(p.dc, 99), 0);
    EXPECT_EQ(TextOutA(p.dc, 0, 0, nullptr, 3), 0);
    EXPECT_EQ(TextOutA(p.dc, 0, 0, "x", -1), 0);
    EXPECT_EQ(CreateFontIndirectA(nullptr), 0);
    DeleteObject(brush);
    EXPECT_EQ(DeleteObject(brush), 0);  // handles are not reused
    const GdiCounts after = gdi_counts();
    EXPECT_EQ(after.total(), before.total() + 2);  // the panel's context and bitmap
}

TEST(GdiHandles, SelectedObjectsCannotBeDeletedStockObjectsNeverAre) {
    Panel p(2, 2);
    HPEN pen = CreatePen(PS_SOLID, 1, kRed);
    HGDIOBJ old = SelectObject(p.dc, pen);
    EXPECT_EQ(old, GetStockObject(BLACK_PEN));
    EXPECT_EQ(DeleteObject(pen), 0);
    EXPECT_EQ(SelectObject(p.dc, old), pen);
    EXPECT_EQ(DeleteObject(pen), 1);
    EXPECT_EQ(DeleteObject(GetStockObject(WHITE_BRUSH)), 1);
    EXPECT_NE(GetStockObject(WHITE_BRUSH), 0);
    RECT r{0, 0, 2, 2};
    EXPECT_EQ(FillRect(p.dc, &r, GetStockObject(BLACK_BRUSH)), 1);
    EXPECT_EQ(p.at(1, 1), 0x000000u);
    EXPECT_EQ(GetStockObject(9999), 0);
}

TEST(GdiHandles, ABitmapLivesInOneContextAtATime) {
    HBITMAP bm = CreateCompatibleBitmap(0, 3, 3);
    HDC a = CreateCompatibleDC(0), b = CreateCompatibleDC(a);
    EXPECT_EQ(SelectObject(a, bm), 0);  // a bare context had no bitmap
    EXPECT_EQ(SelectObject(b, bm), HGDI_ERROR);
    EXPECT_EQ(DeleteObject(bm), 0);
    DeleteDC(a);  // releases the bitmap
    EXPECT_NE(SelectObject(b, bm), HGDI_ERROR);
    DeleteDC(b);
    EXPECT_EQ(DeleteObject(bm), 1);
    EXPECT_EQ(CreateCompatibleDC(12345), 0);
}
