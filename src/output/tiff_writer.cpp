#include "output/tiff_writer.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <memory>
#include <new>

#include "output/tiff_rows.h"
#include "platform/files.h"

namespace zbx::output {
namespace {

// Bytes of converted rows per write: a band well inside the L2 cache.
constexpr std::size_t kBandBytes = 256 * 1024;

struct TiffCloser {
    void operator()(TIFF* t) const { TIFFClose(t); }
};

// libtiff prints its errors and warnings to standard error unless the
// handle has handlers of its own; the library has no log, and a failure
// already comes back as 0.  Returning 1 tells libtiff the message is dealt
// with, so its process-wide handlers (the application's) stay out of it.
int ignore_tiff_message(TIFF*, void*, const char*, const char*, std::va_list) { return 1; }

struct TiffOptionsDeleter {
    void operator()(TIFFOpenOptions* o) const { TIFFOpenOptionsFree(o); }
};

// Opens `name` as a new TIFF on a descriptor of our own (regular files
// only, see open_for_write), with the quiet handlers.  libtiff owns the
// descriptor once this succeeds.
TIFF* open_tiff(const char* name) {
    std::unique_ptr<TIFFOpenOptions, TiffOptionsDeleter> options(TIFFOpenOptionsAlloc());
    if (!options) return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), ignore_tiff_message, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), ignore_tiff_message, nullptr);
    // libtiff may read back what it wrote (directory rewrites).
    platform::File file = platform::open_for_write(name, true);
    if (!file) return nullptr;
    TIFF* tif = TIFFFdOpenExt(file.fd(), name, "w", options.get());
    if (tif != nullptr) (void)file.release();
    return tif;
}

struct TiffLayout {
    std::uint16_t bits_per_sample;
    std::uint16_t photometric;
    std::uint16_t samples_per_pixel;
};

bool tiff_layout(int bits_per_pixel, TiffLayout& out) {
    switch (bits_per_pixel) {
        case 8: out = {8, PHOTOMETRIC_MINISBLACK, 1}; return true;
        case 16: out = {16, PHOTOMETRIC_MINISBLACK, 1}; return true;
        case 24: out = {8, PHOTOMETRIC_RGB, 3}; return true;
        case 32: out = {8, PHOTOMETRIC_RGB, 4}; return true;
        case 48: out = {16, PHOTOMETRIC_RGB, 3}; return true;
        case 64: out = {16, PHOTOMETRIC_RGB, 4}; return true;
        default: return false;
    }
}

}  // namespace

int WriteTiffFile(const char* name, const ImageView& image, int significant_bits) {
    if (name == nullptr || !image.valid()) return 0;
    if (significant_bits < 1 || significant_bits > 16) return 0;
    TiffLayout layout{};
    if (!tiff_layout(image.bits_per_pixel, layout)) return 0;
    const int shift = 16 - significant_bits;
    const std::size_t packed = image.packed_row_bytes();
    const std::size_t strip_bytes = packed * std::size_t(image.height);
    if (strip_bytes > std::size_t(INT32_MAX)) return 0;  // beyond a classic TIFF

    // Rows are converted a band at a time into a buffer that stays in
    // cache, and each band is appended to the single strip as it is.
    // 8-bit rows packed one after the other need no conversion and go out
    // in one piece.
    const bool direct = image.bits_per_pixel == 8 && image.stride == std::ptrdiff_t(packed);
    const auto band_rows = static_cast<std::int32_t>(
        std::clamp<std::size_t>(kBandBytes / packed, 1, std::size_t(image.height)));
    std::unique_ptr<std::uint8_t[]> band;
    if (!direct) {
        band.reset(new (std::nothrow) std::uint8_t[packed * std::size_t(band_rows)]);
        if (!band) return 0;
    }

    std::unique_ptr<TIFF, TiffCloser> tif(open_tiff(name));
    if (!tif) return 0;
    TIFF* t = tif.get();
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(image.width));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(image.height));
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, layout.bits_per_sample);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, layout.photometric);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, layout.samples_per_pixel);
    if (layout.samples_per_pixel == 4) {
        // An RGB file with a fourth sample must say what it is, or every
        // reader warns; "unspecified" claims no meaning for it (for 32 bits
        // it is 0, which as alpha would hide the picture).
        const std::uint16_t extra[] = {EXTRASAMPLE_UNSPECIFIED};
        TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, extra);
    }

    bool strip_ok = true;
    if (direct) {
        strip_ok = TIFFWriteRawStrip(t, 0, const_cast<std::uint8_t*>(image.pixels),
                                     static_cast<tmsize_t>(strip_bytes)) >= 0;
    } else {
        const TiffRowKernel kernel = SelectTiffRowKernel(image.bits_per_pixel);
        for (std::int32_t y0 = 0; strip_ok && y0 < image.height; y0 += band_rows) {
            const std::int32_t rows = std::min(band_rows, image.height - y0);
            for (std::int32_t r = 0; r < rows; ++r)
                kernel(band.get() + std::size_t(r) * packed, image.row(y0 + r), image.width, shift);
            strip_ok = TIFFWriteRawStrip(t, 0, band.get(), static_cast<tmsize_t>(packed * rows)) >= 0;
        }
    }
    // The directory is written here rather than silently inside the close,
    // so that a failure to write it is seen.
    const bool flushed = strip_ok && TIFFFlush(t) != 0;
    return strip_ok && flushed ? 1 : 0;
}

}  // namespace zbx::output
