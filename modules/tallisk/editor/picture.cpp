// Loading the background picture from a BMP file.
#include "picture.h"

#include <cstring>

#include "file_bytes.h"
#include "mvp/gdi.h"

namespace tallisk {

namespace {

constexpr size_t kFileHeader = 14;
constexpr size_t kInfoHeader = 40;
constexpr int32_t kMaxSide = 32768;
// A bigger file cannot hold a picture the drawing library would accept.
constexpr size_t kMaxFile = size_t{512} << 20;

uint32_t u32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }
uint16_t u16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

}  // namespace

bool BackgroundPicture::load(const std::string& path) {
    release();
    const auto bytes = read_file_bytes(path, kMaxFile, {"BM"});
    if (!bytes || bytes->size() < kFileHeader + kInfoHeader) return false;
    const uint8_t* f = bytes->data();
    if (f[0] != 'B' || f[1] != 'M') return false;
    const uint32_t offset = u32(f + 10);
    const uint8_t* info = f + kFileHeader;
    if (u32(info) < kInfoHeader) return false;
    const int32_t width = static_cast<int32_t>(u32(info + 4));
    const int32_t height = static_cast<int32_t>(u32(info + 8));
    const int bits = u16(info + 14);
    const uint32_t compression = u32(info + 16);
    if ((bits != 24 && bits != 32) || compression != mvp::BI_RGB) return false;
    if (width <= 0 || width > kMaxSide || height == 0 || height < -kMaxSide || height > kMaxSide) return false;
    const int rows = height < 0 ? -height : height;
    const int bpp = bits / 8;
    const size_t stride = (static_cast<size_t>(width) * bpp + 3) & ~size_t{3};
    // Every row must lie inside the file.
    if (offset > bytes->size() || stride * rows > bytes->size() - offset) return false;

    mvp::BITMAPINFO bmi{};
    bmi.bmiHeader.biWidth = width;
    bmi.bmiHeader.biHeight = height;
    bmi.bmiHeader.biBitCount = static_cast<mvp::WORD>(bits);
    void* bits_out = nullptr;
    const mvp::HBITMAP bitmap = mvp::CreateDIBSection(0, &bmi, mvp::DIB_RGB_COLORS, &bits_out, 0, 0);
    if (!bitmap || !bits_out) return false;
    const mvp::HDC dc = mvp::CreateCompatibleDC(0);
    if (!dc) {
        mvp::DeleteObject(bitmap);
        return false;
    }
    // Same orientation and stride as the file: the rows copy as they are.
    std::memcpy(bits_out, f + offset, stride * rows);
    m_bitmap = bitmap;
    m_old = mvp::SelectObject(dc, bitmap);
    m_dc = dc;
    m_width = width;
    m_height = rows;
    m_bytes_per_pixel = bpp;
    m_stride = static_cast<int>(stride);
    m_pixels = static_cast<uint8_t*>(bits_out);
    return true;
}

void BackgroundPicture::release() {
    if (!m_dc) return;
    // A fresh memory context has no bitmap to select back; deleting the context first frees the
    // bitmap in either case, so it can be deleted.
    if (m_old != 0 && m_old != mvp::HGDI_ERROR) mvp::SelectObject(m_dc, m_old);
    mvp::DeleteDC(m_dc);
    mvp::DeleteObject(m_bitmap);
    m_bitmap = 0;
    m_old = 0;
    m_height = m_width = m_bytes_per_pixel = m_stride = 0;
    m_pixels = nullptr;
    m_dc = 0;
}

void BackgroundPicture::draw(mvp::HDC dc) const {
    if (!m_dc) return;
    mvp::BitBlt(dc, 0, 0, m_width, m_height, m_dc, 0, 0, mvp::SRCCOPY);
}

}  // namespace tallisk
