// Panel pictures: a context's pixels written as a PNG file with libpng.
#include <png.h>

#include <vector>

#include "mvp/gdi.h"

namespace mvp {

bool write_png(HGDIOBJ dc_or_bitmap, const std::string& path, std::string* error) {
    Image image;
    if (!read_image(dc_or_bitmap, &image)) {
        if (error) *error = "no bitmap behind handle " + std::to_string(dc_or_bitmap);
        return false;
    }
    std::vector<png_byte> rgb(image.pixels.size() * 3);
    for (size_t i = 0; i < image.pixels.size(); ++i) {
        rgb[i * 3 + 0] = GetRValue(image.pixels[i]);
        rgb[i * 3 + 1] = GetGValue(image.pixels[i]);
        rgb[i * 3 + 2] = GetBValue(image.pixels[i]);
    }
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(image.width);
    png.height = static_cast<png_uint_32>(image.height);
    png.format = PNG_FORMAT_RGB;
    if (!png_image_write_to_file(&png, path.c_str(), 0, rgb.data(), 0, nullptr)) {
        if (error) *error = "cannot write " + path + ": " + png.message;
        png_image_free(&png);
        return false;
    }
    return true;
}

}  // namespace mvp
