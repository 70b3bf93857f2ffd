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

// Source samples are little-endian.
inline std::uint16_t load16(const std::uint8_t* p) {
    if constexpr (std::endian::native == std::endian::little) {
        std::uint16_t v;
        std::memcpy(&v, p, 2);
        return v;
    } else {
        return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
    }
}

// libtiff writes 16-bit strip samples in the host's order.
inline void store16(std::uint8_t* p, unsigned v) {
    const auto s = static_cast<std::uint16_t>(v);
    std::memcpy(p, &s, 2);
}

// One row from the view's layout (blue first, 16-bit little-endian) into the
// file's packed layout (red first, 16-bit samples shifted to the top, host
// order).  The fourth 8-bit sample is 0, the fourth 16-bit one opaque.
template <int kBits>
void convert_row(std::uint8_t* dst, const std::uint8_t* src, std::int32_t width, int shift) {
    for (std::int32_t x = 0; x < width; ++x) {
        if constexpr (kBits == 16) {
            store16(dst, unsigned(load16(src)) << shift);
            dst += 2;
            src += 2;
        } else if constexpr (kBits == 24 || kBits == 32) {
            dst[0] = src[2];
            dst[1] = src[1];
            dst[2] = src[0];
            if constexpr (kBits == 32) dst[3] = 0;
            dst += kBits / 8;
            src += kBits / 8;
        } else {  // 48, 64
            store16(dst + 0, unsigned(load16(src + 4)) << shift);
            store16(dst + 2, unsigned(load16(src + 2)) << shift);
            store16(dst + 4, unsigned(load16(src + 0)) << shift);
            if constexpr (kBits == 64) store16(dst + 6, 0xFFFFu);
            dst += kBits / 8;
            src += kBits / 8;
        }
    }
}

template <int kBits>
void convert_image(std::uint8_t* dst, const ImageView& image, int shift) {
    const std::size_t packed = image.packed_row_bytes();
    for (std::int32_t y = 0; y < image.height; ++y, dst += packed) {
        if constexpr (kBits == 8)
            std::memcpy(dst, image.row(y), packed);
        else
            convert_row<kBits>(dst, image.row(y), image.width, shift);
    }
}

bool fill_strip(std::uint8_t* dst, const ImageView& image, int shift) {
    switch (image.bits_per_pixel) {
        case 8: convert_image<8>(dst, image, shift); return true;
        case 16: convert_image<16>(dst, image, shift); return true;
        case 24: convert_image<24>(dst, image, shift); return true;
        case 32: convert_image<32>(dst, image, shift); return true;
        case 48: convert_image<48>(dst, image, shift); return true;
        case 64: convert_image<64>(dst, image, shift); return true;
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
