#include "support/png_reader.h"

#include <png.h>

#include <cstdio>

namespace zbx::test {
namespace {

// Every libpng call that can fail runs below the jump target, and no object
// with a destructor lives in this frame.
bool decode(std::FILE* f, DecodedPng& out) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_init_io(png, f);
    png_read_info(png, info);
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    png_get_IHDR(png, info, &width, &height, &out.bit_depth, &out.color_type, &out.interlace, nullptr,
                 nullptr);
    out.width = width;
    out.height = height;
    out.channels = png_get_channels(png, info);
    out.row_bytes = png_get_rowbytes(png, info);
    out.pixels.resize(out.row_bytes * out.height);
    for (std::uint32_t y = 0; y < out.height; ++y) png_read_row(png, out.pixels.data() + out.row_bytes * y, nullptr);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

}  // namespace

DecodedPng ReadPng(const std::string& path) {
    DecodedPng out;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return out;
    out.ok = decode(f, out);
    std::fclose(f);
    return out;
}

}  // namespace zbx::test
