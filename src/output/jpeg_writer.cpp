// libjpeg's standard error manager ends the process on an error; this file
// replaces its exit with a longjmp back into the failing call, and keeps
// that mechanism to itself.  The jump target belongs to the call.
#include "output/jpeg_writer.h"

#include <cstdio>
// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

#include <csetjmp>
#include <memory>
#include <new>

#include "platform/files.h"

namespace zbx::output {
namespace {

struct ErrorManager {
    jpeg_error_mgr base;  // first, so libjpeg's pointer is also ours
    std::jmp_buf jump;
};

[[noreturn]] void on_jpeg_error(j_common_ptr cinfo) {
    (*cinfo->err->output_message)(cinfo);  // "message" to standard error
    std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

#ifdef JCS_EXTENSIONS
// libjpeg-turbo reads blue-green-red itself and converts exactly as it
// would the same pixels handed over red first, so rows go in unchanged.
constexpr J_COLOR_SPACE kColorInput = JCS_EXT_BGR;
constexpr bool kSwapRows = false;
#else
constexpr J_COLOR_SPACE kColorInput = JCS_RGB;
constexpr bool kSwapRows = true;
#endif

// All libjpeg calls that can fail, below the jump target.  No object with a
// destructor lives here and nothing set after setjmp is read after a jump.
bool encode(jpeg_compress_struct* cinfo, ErrorManager* err, std::FILE* file,
            const ImageView& image, int quality, int progressive, JSAMPLE* swap_row) {
    if (setjmp(err->jump)) return false;
    jpeg_create_compress(cinfo);  // passes the header's JPEG_LIB_VERSION
    jpeg_stdio_dest(cinfo, file);
    cinfo->image_width = static_cast<JDIMENSION>(image.width);
    cinfo->image_height = static_cast<JDIMENSION>(image.height);
    const bool grey = image.bits_per_pixel == 8;
    cinfo->input_components = grey ? 1 : 3;
    cinfo->in_color_space = grey ? JCS_GRAYSCALE : kColorInput;
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, quality, TRUE);
    if (progressive) jpeg_simple_progression(cinfo);
    jpeg_start_compress(cinfo, TRUE);
    while (cinfo->next_scanline < cinfo->image_height) {
        // libjpeg takes non-const rows but only reads them.
        auto* row = const_cast<JSAMPLE*>(image.row(static_cast<std::int32_t>(cinfo->next_scanline)));
        if (!grey && kSwapRows) {
            for (std::int32_t x = 0; x < image.width; ++x) {
                swap_row[3 * x + 0] = row[3 * x + 2];
                swap_row[3 * x + 1] = row[3 * x + 1];
                swap_row[3 * x + 2] = row[3 * x + 0];
            }
            row = swap_row;
        }
        JSAMPROW rows[1] = {row};
        jpeg_write_scanlines(cinfo, rows, 1);
    }
    jpeg_finish_compress(cinfo);
    return true;
}

}  // namespace

int WriteJpegFile(const char* name, const ImageView& image, int quality, int progressive) {
    if (name == nullptr || !image.valid()) return 0;
    if (image.bits_per_pixel != 8 && image.bits_per_pixel != 24) return 0;
    // JPEG frames have 16-bit sizes.
    if (image.width > JPEG_MAX_DIMENSION || image.height > JPEG_MAX_DIMENSION) return 0;

    std::unique_ptr<JSAMPLE[]> swap_row;
    if (kSwapRows && image.bits_per_pixel == 24) {
        swap_row.reset(new (std::nothrow) JSAMPLE[3 * std::size_t(image.width)]);
        if (!swap_row) return 0;
    }

    std::unique_ptr<std::FILE, FileCloser> file(platform::open_stream_for_write(name));
    if (!file) return 0;

    jpeg_compress_struct cinfo{};
    ErrorManager err{};
    cinfo.err = jpeg_std_error(&err.base);
    err.base.error_exit = on_jpeg_error;

    const bool ok = encode(&cinfo, &err, file.get(), image, quality, progressive, swap_row.get());
    jpeg_destroy_compress(&cinfo);
    if (!ok) return 0;
    // The stdio destination flushes at the end; close reports what is left.
    return std::fclose(file.release()) == 0 ? 1 : 0;
}

}  // namespace zbx::output
