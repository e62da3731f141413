// The panel's background picture: a 24- or 32-bit BMP file copied into a device-independent
// section selected into its own memory context, ready to be copied onto the panel.
#pragma once

#include <cstdint>
#include <string>

#include "mvp/win_types.h"

namespace tallisk {

class BackgroundPicture {
public:
    BackgroundPicture() = default;
    ~BackgroundPicture() { release(); }
    BackgroundPicture(const BackgroundPicture&) = delete;
    BackgroundPicture& operator=(const BackgroundPicture&) = delete;

    // Replaces the picture with the file's; false (and no picture) when the file is missing, not
    // "BM", not 24 or 32 bits per pixel, compressed or shorter than its pixels.
    bool load(const std::string& path);
    // Selects the old object back, deletes the bitmap and the context, zeroes everything.
    void release();
    // Copies the picture at its own size to (0, 0) of dc.
    void draw(mvp::HDC dc) const;

    bool loaded() const { return m_dc != 0; }
    int width() const { return m_width; }
    int height() const { return m_height; }
    int bytes_per_pixel() const { return m_bytes_per_pixel; }
    int stride() const { return m_stride; }
    const uint8_t* row(int r) const { return m_pixels + static_cast<size_t>(r) * m_stride; }

private:
    mvp::HBITMAP m_bitmap = 0;
    mvp::HGDIOBJ m_old = 0;
    int m_height = 0;
    int m_width = 0;
    int m_bytes_per_pixel = 0;
    int m_stride = 0;
    uint8_t* m_pixels = nullptr;
    mvp::HDC m_dc = 0;
};

}  // namespace tallisk
