// libpng reports errors by longjmp; that stays inside this file.  The jump
// target is the write structure's own jmp_buf, so each call has its own and
// simultaneous saves cannot land in each other's frames.
#include "output/png_writer.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <memory>
#include <new>

#include "platform/files.h"

namespace zbx::output {
namespace {

[[noreturn]] void on_png_error(png_structp png, png_const_charp message) {
    if (png != nullptr) std::fprintf(stderr, "libpng error: %s\n", message);
    png_longjmp(png, 1);
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// Owns the write and info structures; destroys them on every path.
struct PngWrite {
    png_structp png = nullptr;
    png_infop info = nullptr;
    PngWrite(const PngWrite&) = delete;
    PngWrite& operator=(const PngWrite&) = delete;
    PngWrite() = default;
    ~PngWrite() {
        if (png != nullptr) png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
    }
};

struct PngFormat {
    int bit_depth;
    int color_type;
};

bool png_format(int bits_per_pixel, PngFormat& out) {
    switch (bits_per_pixel) {
        case 8: out = {8, PNG_COLOR_TYPE_GRAY}; return true;
        case 16: out = {16, PNG_COLOR_TYPE_GRAY}; return true;
        case 24: out = {8, PNG_COLOR_TYPE_RGB}; return true;
        case 32: out = {8, PNG_COLOR_TYPE_RGB_ALPHA}; return true;
        case 48: out = {16, PNG_COLOR_TYPE_RGB}; return true;
        case 64: out = {16, PNG_COLOR_TYPE_RGB_ALPHA}; return true;
        default: return false;
    }
}

// Every libpng call that can fail runs here, below the jump target.  No
// object with a destructor lives in this frame, and nothing set after
// setjmp is read after a jump.
bool encode(png_structp png, png_infop info, std::FILE* file, const ImageView& image,
            const PngFormat& format, png_bytepp rows) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width),
                 static_cast<png_uint_32>(image.height), format.bit_depth, format.color_type,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_set_bgr(png);
    // PNG stores 16-bit samples most significant byte first; libpng swaps
    // each row as it goes, which writes the same bytes as a swapped copy of
    // the whole image would, without the copy.
    if (format.bit_depth == 16) png_set_swap(png);
    png_write_image(png, rows);
    png_write_end(png, info);
    return true;
}

}  // namespace

int WritePngFile(const char* name, const ImageView& image) {
    if (name == nullptr || !image.valid()) return 0;
    PngFormat format{};
    if (!png_format(image.bits_per_pixel, format)) return 0;

    // libpng takes non-const row pointers but only reads them when writing.
    std::unique_ptr<png_bytep[]> rows(new (std::nothrow) png_bytep[std::size_t(image.height)]);
    if (!rows) return 0;
    for (std::int32_t y = 0; y < image.height; ++y)
        rows[std::size_t(y)] = const_cast<png_bytep>(image.row(y));

    std::unique_ptr<std::FILE, FileCloser> file(platform::open_stream_for_write(name));
    if (!file) return 0;

    PngWrite write;
    write.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, on_png_error, nullptr);
    if (write.png == nullptr) return 0;
    write.info = png_create_info_struct(write.png);
    if (write.info == nullptr) return 0;

    if (!encode(write.png, write.info, file.get(), image, format, rows.get())) return 0;
    // The last bytes reach the disk (or fail to) only at close.
    return std::fclose(file.release()) == 0 ? 1 : 0;
}

}  // namespace zbx::output
