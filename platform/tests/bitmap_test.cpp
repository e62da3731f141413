// Device-independent sections, blits and the PNG writer.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "mvp/gdi.h"

using namespace mvp;

namespace {

BITMAPINFO info(int w, int h, int bits) {
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = static_cast<WORD>(bits);
    bi.bmiHeader.biCompression = BI_RGB;
    return bi;
}

}  // namespace

TEST(GdiSection, BottomUpTwentyFourBitRowsArePaddedAndReversed) {
    BITMAPINFO bi = info(3, 2, 24);
    void* bits = nullptr;
    HBITMAP bm = CreateDIBSection(0, &bi, DIB_RGB_COLORS, &bits, 0, 0);
    ASSERT_NE(bm, 0);
    ASSERT_NE(bits, nullptr);
    HDC dc = CreateCompatibleDC(0);
    HGDIOBJ old = SelectObject(dc, bm);
    SetPixel(dc, 0, 0, RGB(1, 2, 3));   // top row is the last in memory
    SetPixel(dc, 2, 1, RGB(4, 5, 6));   // bottom row is the first
    const auto* p = static_cast<const uint8_t*>(bits);
    EXPECT_EQ(p[12 + 0], 3);  // stride 12: 9 bytes rounded up
    EXPECT_EQ(p[12 + 1], 2);
    EXPECT_EQ(p[12 + 2], 1);
    EXPECT_EQ(p[6], 6);
    EXPECT_EQ(p[7], 5);
    EXPECT_EQ(p[8], 4);
    BITMAP desc;
    ASSERT_EQ(GetObjectA(bm, sizeof desc, &desc), static_cast<int>(sizeof desc));
    EXPECT_EQ(desc.bmWidth, 3);
    EXPECT_EQ(desc.bmHeight, 2);
    EXPECT_EQ(desc.bmWidthBytes, 12);
    EXPECT_EQ(desc.bmBitsPixel, 24);
    EXPECT_EQ(desc.bmBits, bits);
    SelectObject(dc, old);
    DeleteDC(dc);
    EXPECT_EQ(DeleteObject(bm), 1);
}

TEST(GdiSection, TopDownThirtyTwoBitPixelsReadAsWritten) {
    BITMAPINFO bi = info(2, -2, 32);
    void* bits = nullptr;
    HBITMAP bm = CreateDIBSection(0, &bi, DIB_RGB_COLORS, &bits, 0, 0);
    ASSERT_NE(bm, 0);
    auto* p = static_cast<uint8_t*>(bits);
    p[4 + 0] = 0x30;  // pixel (1, 0): blue, green, red, unused
    p[4 + 1] = 0x20;
    p[4 + 2] = 0x10;
    p[4 + 3] = 0x99;
    HDC dc = CreateCompatibleDC(0);
    SelectObject(dc, bm);
    EXPECT_EQ(GetPixel(dc, 1, 0), RGB(0x10, 0x20, 0x30));
    SetPixel(dc, 0, 1, RGB(0xAA, 0xBB, 0xCC));
    EXPECT_EQ(p[8], 0xCC);
    EXPECT_EQ(p[11], 0);  // drawing clears the fourth byte
    DeleteDC(dc);
    DeleteObject(bm);
}

TEST(GdiSection, UnsupportedFormatsAndSizesFail) {
    void* bits = reinterpret_cast<void*>(1);
    BITMAPINFO bi = info(4, 4, 8);
    EXPECT_EQ(CreateDIBSection(0, &bi, DIB_RGB_COLORS, &bits, 0, 0), 0);
    EXPECT_EQ(bits, nullptr);
    for (auto [w, h] : {std::pair{0, 4}, {4, 0}, {-4, 4}, {100000, 2}, {30000, 30000}}) {
        bi = info(w, h, 32);
        EXPECT_EQ(CreateDIBSection(0, &bi, DIB_RGB_COLORS, &bits, 0, 0), 0) << w << "x" << h;
    }
    bi = info(4, 4, 24);
    bi.bmiHeader.biCompression = 1;
    EXPECT_EQ(CreateDIBSection(0, &bi, DIB_RGB_COLORS, &bits, 0, 0), 0);
    EXPECT_EQ(CreateDIBSection(0, nullptr, DIB_RGB_COLORS, &bits, 0, 0), 0);
    EXPECT_EQ(CreateCompatibleBitmap(0, -1, 5), 0);
}

TEST(GdiBlit, CopiesClippedToBothSurfacesAcrossPixelFormats) {
    BITMAPINFO bi = info(3, 3, 24);
    void* bits = nullptr;
    HBITMAP picture = CreateDIBSection(0, &bi, DIB_RGB_COLORS, &bits, 0, 0);
    HDC src = CreateCompatibleDC(0);
    HGDIOBJ old = SelectObject(src, picture);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x) SetPixel(src, x, y, RGB(static_cast<BYTE>(x * 10), static_cast<BYTE>(y * 10), 7));
    HDC dst = create_panel_dc(4, 4, 0xFFFFFF);
    EXPECT_EQ(BitBlt(dst, 2, -1, 3, 3, src, 0, 0, SRCCOPY), 1);
    // Only source columns 0..1 and rows 1..2 land on the panel.
    EXPECT_EQ(GetPixel(dst, 2, 0), RGB(0, 10, 7));
    EXPECT_EQ(GetPixel(dst, 3, 1), RGB(10, 20, 7));
    EXPECT_EQ(GetPixel(dst, 1, 0), 0xFFFFFFu);
    EXPECT_EQ(GetPixel(dst, 2, 2), 0xFFFFFFu);
    EXPECT_EQ(BitBlt(dst, 0, 0, 4, 4, src, 5, 5, SRCCOPY), 1);  // source entirely outside
    EXPECT_EQ(GetPixel(dst, 0, 0), 0xFFFFFFu);
    EXPECT_EQ(BitBlt(dst, 0, 0, 4, 4, src, 0, 0, 0x00660046), 0);  // raster operations beyond the copies
    EXPECT_EQ(BitBlt(dst, 0, 0, -1, 4, src, 0, 0, SRCCOPY), 0);
    EXPECT_EQ(BitBlt(dst, 0, 3, 1, 1, 0, 0, 0, BLACKNESS), 1);
    EXPECT_EQ(GetPixel(dst, 0, 3), 0x000000u);
    SelectObject(src, old);
    DeleteDC(src);
    DeleteObject(picture);
    delete_panel_dc(dst);
}

TEST(GdiBlit, OverlappingCopyWithinOneSurfaceReadsTheOriginal) {
    HDC dc = create_panel_dc(4, 1, 0x000000);
    for (int x = 0; x < 4; ++x) SetPixel(dc, x, 0, RGB(static_cast<BYTE>(x + 1), 0, 0));
    BitBlt(dc, 1, 0, 3, 1, dc, 0, 0, SRCCOPY);
    EXPECT_EQ(GetPixel(dc, 1, 0), RGB(1, 0, 0));
    EXPECT_EQ(GetPixel(dc, 2, 0), RGB(2, 0, 0));
    EXPECT_EQ(GetPixel(dc, 3, 0), RGB(3, 0, 0));
    delete_panel_dc(dc);
}

TEST(GdiPng, WritesThePixelsOfAContext) {
    HDC dc = create_panel_dc(3, 2, RGB(0, 0, 255));
    SetPixel(dc, 2, 1, RGB(10, 20, 30));
    const std::string path = std::string(MV_BINARY_DIR) + "/platform_png_test.png";
    std::string error;
    ASSERT_TRUE(write_png(dc, path, &error)) << error;
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&img, path.c_str()));
    img.format = PNG_FORMAT_RGB;
    std::vector<png_byte> rgb(PNG_IMAGE_SIZE(img));
    ASSERT_TRUE(png_image_finish_read(&img, nullptr, rgb.data(), 0, nullptr));
    EXPECT_EQ(img.width, 3u);
    EXPECT_EQ(img.height, 2u);
    EXPECT_EQ(rgb[0], 0);
    EXPECT_EQ(rgb[1], 0);
    EXPECT_EQ(rgb[2], 255);
    EXPECT_EQ(rgb[15], 10);
    EXPECT_EQ(rgb[16], 20);
    EXPECT_EQ(rgb[17], 30);
    delete_panel_dc(dc);
    std::filesystem::remove(path);
}

TEST(GdiPng, ReportsBadHandlesAndUnwritablePaths) {
    std::string error;
    EXPECT_FALSE(write_png(0, "/tmp/never.png", &error));
    EXPECT_NE(error.find("no bitmap"), std::string::npos);
    HDC dc = create_panel_dc(2, 2, 0);
    EXPECT_FALSE(write_png(dc, "/nonexistent-dir/x.png", &error));
    EXPECT_NE(error.find("/nonexistent-dir/x.png"), std::string::npos);
    delete_panel_dc(dc);
}
