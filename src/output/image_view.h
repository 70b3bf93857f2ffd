// A borrowed view of one picture's pixels, as the still-image writers take
// it.  The writers never own or keep the pixels; the caller keeps them alive
// and unchanged for the call.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/graphics.h"

namespace zbx::output {

// One colour-table entry, in the order a bitmap file stores it (the image
// buffers' own table type).
using RgbQuad = platform::RgbQuad;

inline constexpr int kColorTableEntries = 256;

// Row length of a bitmap store: bytes per pixel (whole bytes) times width,
// rounded up so every row starts on a 4-byte boundary.
[[nodiscard]] constexpr std::int32_t AlignedStride(std::int32_t width, int bits_per_pixel) {
    return (width * (bits_per_pixel / 8) + 3) & ~3;
}

// Memory row 0 is the top of the picture for every writer.  `stride` is the
// distance in bytes from memory row i to row i + 1; a negative stride walks
// a store from its last row backwards, which lets a caller hand over a
// bottom-up store without copying it (see flipped()).  Every memory row has
// |stride| readable bytes, padding included (the raw dump and the BMP writer
// copy it as it is).  Samples are laid out
// as in the library's image buffers: 8 grey, 16 grey, 24 blue-green-red,
// 32 blue-green-red-fourth, 48 and 64 the same with 16-bit little-endian
// samples.
struct ImageView {
    const std::uint8_t* pixels = nullptr;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::ptrdiff_t stride = 0;
    std::uint16_t bits_per_pixel = 0;
    // 256 entries; used by the BMP writer for 8 bits, a grey ramp when null.
    const RgbQuad* color_table = nullptr;

    [[nodiscard]] const std::uint8_t* row(std::int32_t i) const {
        return pixels + static_cast<std::ptrdiff_t>(i) * stride;
    }
    [[nodiscard]] std::size_t bytes_per_pixel() const { return bits_per_pixel / 8u; }
    [[nodiscard]] std::size_t packed_row_bytes() const {
        return bytes_per_pixel() * static_cast<std::size_t>(width > 0 ? width : 0);
    }
    [[nodiscard]] std::size_t abs_stride() const {
        return static_cast<std::size_t>(stride < 0 ? -stride : stride);
    }
    // Non-empty, a whole-byte depth of 8 to 64 bits, rows long enough.
    [[nodiscard]] bool valid() const {
        return pixels != nullptr && width > 0 && height > 0 && bits_per_pixel >= 8 &&
               bits_per_pixel <= 64 && bits_per_pixel % 8 == 0 &&
               abs_stride() >= packed_row_bytes();
    }
    // The same pixels with the row order reversed.
    [[nodiscard]] ImageView flipped() const {
        ImageView v = *this;
        if (height > 0) {
            v.pixels = row(height - 1);
            v.stride = -stride;
        }
        return v;
    }
};

// A view of a top-first store whose rows follow the bitmap rule.
[[nodiscard]] inline ImageView MakeImageView(const void* pixels, std::int32_t width,
                                             std::int32_t height, std::uint16_t bits_per_pixel) {
    ImageView v;
    v.pixels = static_cast<const std::uint8_t*>(pixels);
    v.width = width;
    v.height = height;
    v.stride = AlignedStride(width, bits_per_pixel);
    v.bits_per_pixel = bits_per_pixel;
    return v;
}

}  // namespace zbx::output
