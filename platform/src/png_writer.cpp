// Panel pictures: a context's pixels written as a PNG file with libpng.
#include <png.h>

#include <vector>

#include "mvp/gdi.h"
#include "mvp/output_file.h"

namespace mvp {

namespace {

std::vector<png_byte> rgb_bytes(const Image& image) {
    std::vector<png_byte> rgb(image.pixels.size() * 3);
    for (size_t i = 0; i < image.pixels.size(); ++i) {
        rgb[i * 3 + 0] = GetRValue(image.pixels[i]);
        rgb[i * 3 + 1] = GetGValue(image.pixels[i]);
        rgb[i * 3 + 2] = GetBValue(image.pixels[i]);
    }
    return rgb;
}

png_image png_header(const Image& image) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(image.width);
    png.height = static_cast<png_uint_32>(image.height);
    png.format = PNG_FORMAT_RGB;
    return png;
}

}  // namespace

bool write_png(HGDIOBJ dc_or_bitmap, const std::string& path, std::string* error) {
    // Encoded in memory, then written as a whole so that a failed paint never leaves half a file.
    std::vector<uint8_t> bytes;
    if (!encode_png(dc_or_bitmap, &bytes, error)) {
        if (error) *error = path + ": " + *error;
        return false;
    }
    return write_output_file(path, bytes.data(), bytes.size(), error);
}

bool encode_png(HGDIOBJ dc_or_bitmap, std::vector<uint8_t>* bytes, std::string* error) {
    Image image;
    if (!read_image(dc_or_bitmap, &image)) {
        if (error) *error = "no bitmap behind handle " + std::to_string(dc_or_bitmap);
        return false;
    }
    const std::vector<png_byte> rgb = rgb_bytes(image);
    png_image png = png_header(image);
    // The first call only measures; the second writes into a buffer of that size.
    png_alloc_size_t size = 0;
    if (png_image_write_to_memory(&png, nullptr, &size, 0, rgb.data(), 0, nullptr)) {
        bytes->resize(size);
        if (png_image_write_to_memory(&png, bytes->data(), &size, 0, rgb.data(), 0, nullptr)) {
            bytes->resize(size);
            return true;
        }
    }
    if (error) *error = std::string("cannot encode the PNG: ") + png.message;
    png_image_free(&png);
    bytes->clear();
    return false;
}

}  // namespace mvp
