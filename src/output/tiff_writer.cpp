#include "output/tiff_writer.h"

#include <tiffio.h>

#include <bit>
#include <cstring>
#include <memory>
#include <new>

namespace zbx::output {
namespace {

struct TiffCloser {
    void operator()(TIFF* t) const { TIFFClose(t); }
};

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

// Row kernels, one per depth, from the view's layout (blue first, 16-bit
// samples little-endian) into the strip's (red first, 16-bit samples in
// host order shifted up by s = 16 - significant bits and cut to 16 bits):
//   16: v -> v << s                 24: B G R -> R G B
//   32: B G R X -> R G B 0          48: B G R -> R<<s G<<s B<<s
//   64: B G R X -> R<<s G<<s B<<s 0xFFFF
// Pixels are moved as whole words (memcpy: rows need not be aligned) and
// rearranged with shifts and masks, so the loops carry no branches and the
// compiler can widen them.  A 16-bit kernel shifts four samples in one
// 64-bit word: first clearing in every sample the bits that the shift
// pushes out (keep = 0xFFFF >> s per sample) makes the word's shift equal
// to four separate shifts.  Host words are read as little-endian samples.
static_assert(std::endian::native == std::endian::little,
              "the kernels read little-endian samples as host words");

struct RowParams {
    int shift;           // 16 - significant bits
    std::uint64_t keep;  // per 16-bit sample: the bits that survive the shift
};

RowParams row_params(int shift) {
    return {shift, (std::uint64_t{0xFFFF} >> shift) * 0x0001000100010001ull};
}

template <typename T>
inline T load(const std::uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <typename T>
inline void store(std::uint8_t* p, T v) {
    std::memcpy(p, &v, sizeof v);
}

// 16-bit sample i of a 64-bit word.
inline std::uint64_t lane(std::uint64_t w, int i) { return (w >> (16 * i)) & 0xFFFFu; }

using RowKernel = void (*)(std::uint8_t* __restrict dst, const std::uint8_t* __restrict src,
                           std::int32_t width, const RowParams& p);

void row_gray8(std::uint8_t* __restrict dst, const std::uint8_t* __restrict src,
               std::int32_t width, const RowParams&) {
    std::memcpy(dst, src, static_cast<std::size_t>(width));
}

void row_gray16(std::uint8_t* __restrict dst, const std::uint8_t* __restrict src,
                std::int32_t width, const RowParams& p) {
    const int s = p.shift;
    for (std::int32_t x = 0; x < width; ++x)
        store(dst + 2 * x, static_cast<std::uint16_t>(load<std::uint16_t>(src + 2 * x) << s));
}

// Three-byte pixels only vectorise with byte shuffles, which the x86-64
// baseline lacks; a copy for processors that have them is chosen at load.
#if defined(__x86_64__) && defined(__GNUC__)
#define ZBX_BYTE_SHUFFLE_CLONES __attribute__((target_clones("avx2", "ssse3", "default")))
#else
#define ZBX_BYTE_SHUFFLE_CLONES
#endif

ZBX_BYTE_SHUFFLE_CLONES
void row_rgb24(std::uint8_t* __restrict dst, const std::uint8_t* __restrict src,
               std::int32_t width, const RowParams&) {
    for (std::int32_t x = 0; x < width; ++x) {
        dst[3 * x + 0] = src[3 * x + 2];
        dst[3 * x + 1] = src[3 * x + 1];
        dst[3 * x + 2] = src[3 * x + 0];
    }
}

void row_rgb32(std::uint8_t* __restrict dst, const std::uint8_t* __restrict src,
               std::int32_t width, const RowParams&) {
    for (std::int32_t x = 0; x < width; ++x) {
        const auto v = load<std::uint32_t>(src + 4 * x);
        store(dst + 4 * x, ((v >> 16) & 0xFFu) | (v & 0xFF00u) | ((v & 0xFFu) << 16));
    }
}

// Four pixels are three words, B0 G0 R0 B1 | G1 R1 B2 G2 | R2 B3 G3 R3
// (first sample lowest), becoming R0 G0 B0 R1 | G1 B1 R2 G2 | B2 R3 G3 B3;
// the last width % 4 pixels one by one.
void row_rgb48(std::uint8_t* __restrict dst, const std::uint8_t* __restrict src,
               std::int32_t width, const RowParams& p) {
    const int s = p.shift;
    const std::uint64_t keep = p.keep;
    const std::int32_t blocks = width / 4;
    for (std::int32_t i = 0; i < blocks; ++i, src += 24, dst += 24) {
        const std::uint64_t a = (load<std::uint64_t>(src) & keep) << s;
        const std::uint64_t b = (load<std::uint64_t>(src + 8) & keep) << s;
        const std::uint64_t c = (load<std::uint64_t>(src + 16) & keep) << s;
        store(dst, lane(a, 2) | lane(a, 1) << 16 | lane(a, 0) << 32 | lane(b, 1) << 48);
        store(dst + 8, lane(b, 0) | lane(a, 3) << 16 | lane(c, 0) << 32 | lane(b, 3) << 48);
        store(dst + 16, lane(b, 2) | lane(c, 3) << 16 | lane(c, 2) << 32 | lane(c, 1) << 48);
    }
    for (std::int32_t x = blocks * 4; x < width; ++x, src += 6, dst += 6) {
        store(dst + 0, static_cast<std::uint16_t>(load<std::uint16_t>(src + 4) << s));
        store(dst + 2, static_cast<std::uint16_t>(load<std::uint16_t>(src + 2) << s));
        store(dst + 4, static_cast<std::uint16_t>(load<std::uint16_t>(src + 0) << s));
    }
}

void row_rgb64(std::uint8_t* __restrict dst, const std::uint8_t* __restrict src,
               std::int32_t width, const RowParams& p) {
    const int s = p.shift;
    const std::uint64_t keep = p.keep;
    for (std::int32_t x = 0; x < width; ++x) {
        const std::uint64_t v = (load<std::uint64_t>(src + 8 * x) & keep) << s;
        store(dst + 8 * x, lane(v, 2) | (v & 0xFFFF0000u) | lane(v, 0) << 32 |
                               std::uint64_t{0xFFFF} << 48);
    }
}

RowKernel row_kernel(int bits_per_pixel) {
    switch (bits_per_pixel) {
        case 8: return row_gray8;
        case 16: return row_gray16;
        case 24: return row_rgb24;
        case 32: return row_rgb32;
        case 48: return row_rgb48;
        case 64: return row_rgb64;
        default: return nullptr;
    }
}

// The whole strip, row after row; the kernel is chosen once (the caller
// has checked the depth).
void fill_strip(std::uint8_t* dst, const ImageView& image, int shift) {
    const std::size_t packed = image.packed_row_bytes();
    const RowKernel kernel = row_kernel(image.bits_per_pixel);
    const RowParams params = row_params(shift);
    for (std::int32_t y = 0; y < image.height; ++y, dst += packed)
        kernel(dst, image.row(y), image.width, params);
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

    // 8-bit rows that lie packed one after the other go out as they are;
    // libtiff leaves the data of an uncompressed 8-bit strip untouched.
    const bool direct = image.bits_per_pixel == 8 && image.stride == std::ptrdiff_t(packed);
    std::unique_ptr<std::uint8_t[]> strip;
    if (!direct) {
        strip.reset(new (std::nothrow) std::uint8_t[strip_bytes]);
        if (!strip) return 0;
    }

    std::unique_ptr<TIFF, TiffCloser> tif(TIFFOpen(name, "w"));
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

    void* data = const_cast<std::uint8_t*>(image.pixels);
    if (!direct) {
        fill_strip(strip.get(), image, shift);
        data = strip.get();
    }
    const bool strip_ok =
        TIFFWriteEncodedStrip(t, 0, data, static_cast<tmsize_t>(strip_bytes)) >= 0;
    // The directory is written here rather than silently inside the close,
    // so that a failure to write it is seen.
    const bool flushed = strip_ok && TIFFFlush(t) != 0;
    return strip_ok && flushed ? 1 : 0;
}

}  // namespace zbx::output
