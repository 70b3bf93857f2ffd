#include "zorbex_format.h"

#include <cstring>

namespace zbx::gst {

GstVideoFormat format_of_mode(int bits) {
    switch (bits) {
    case 8: return GST_VIDEO_FORMAT_GRAY8;
    case 16: return GST_VIDEO_FORMAT_GRAY16_LE;
    case 24: return GST_VIDEO_FORMAT_BGR;
    case 32: return GST_VIDEO_FORMAT_BGRx;
    case 48:
    case 64: return GST_VIDEO_FORMAT_BGRA64_LE;
    default: return GST_VIDEO_FORMAT_UNKNOWN;
    }
}

int mode_of_format(GstVideoFormat format, int preferred) {
    switch (format) {
    case GST_VIDEO_FORMAT_GRAY8: return 8;
    case GST_VIDEO_FORMAT_GRAY16_LE: return 16;
    case GST_VIDEO_FORMAT_BGR: return 24;
    case GST_VIDEO_FORMAT_BGRx: return 32;
    case GST_VIDEO_FORMAT_BGRA64_LE: return preferred == 48 ? 48 : 64;
    default: return 0;
    }
}

std::size_t library_stride(int width, int bits) {
    return (static_cast<std::size_t>(width) * static_cast<std::size_t>(bits) / 8 + 3) & ~std::size_t{3};
}

bool row_is_final(int bits, bool msb_aligned) {
    // 64-bit rows always need their alpha sample; 48-bit rows grow.
    return bits == 8 || bits == 24 || bits == 32 || (bits == 16 && !msb_aligned);
}

namespace {

// Samples are little-endian on every machine this library runs on, so
// 16-bit words are read and written as uint16_t through memcpy.
void shift_grey(const std::uint8_t* source, std::uint8_t* destination, int width, unsigned shift) {
    for (int x = 0; x < width; ++x) {
        std::uint16_t v;
        std::memcpy(&v, source + 2 * x, 2);
        v = static_cast<std::uint16_t>(v << shift);
        std::memcpy(destination + 2 * x, &v, 2);
    }
}

// 48 -> 64: source and destination must not overlap.  64 -> 64 in place.
void colour_with_alpha(const std::uint8_t* source, std::uint8_t* destination, int width,
                       int source_pixel_bytes, unsigned shift) {
    for (int x = 0; x < width; ++x) {
        std::uint16_t bgr[3];
        std::memcpy(bgr, source + static_cast<std::size_t>(x) * source_pixel_bytes, 6);
        const std::uint16_t out[4] = {static_cast<std::uint16_t>(bgr[0] << shift),
                                      static_cast<std::uint16_t>(bgr[1] << shift),
                                      static_cast<std::uint16_t>(bgr[2] << shift), 0xFFFF};
        std::memcpy(destination + static_cast<std::size_t>(x) * 8, out, 8);
    }
}

}  // namespace

void finish_row(const std::uint8_t* source, std::uint8_t* destination, int width, int bits,
                bool msb_aligned) {
    const unsigned shift = msb_aligned ? 4 : 0;
    switch (bits) {
    case 16:
        if (shift != 0 || source != destination) shift_grey(source, destination, width, shift);
        break;
    case 48: colour_with_alpha(source, destination, width, 6, shift); break;
    case 64: colour_with_alpha(source, destination, width, 8, shift); break;
    default:
        if (source != destination) std::memcpy(destination, source, static_cast<std::size_t>(width) * static_cast<std::size_t>(bits) / 8);
        break;
    }
}

void finish_frame_in_place(std::uint8_t* data, int width, int height, std::size_t source_stride,
                           std::size_t stride, int bits, bool msb_aligned) {
    if (bits != 48) {
        for (int y = 0; y < height; ++y) {
            std::uint8_t* row = data + static_cast<std::size_t>(y) * stride;
            finish_row(row, row, width, bits, msb_aligned);
        }
        return;
    }
    // Each pixel moves to a higher address (8 x instead of 6 x, row y at
    // y x stride instead of y x source_stride): working from the last row
    // and the last pixel back, every pixel is read before anything lands on it.
    const unsigned shift = msb_aligned ? 4 : 0;
    for (int y = height - 1; y >= 0; --y) {
        const std::uint8_t* source = data + static_cast<std::size_t>(y) * source_stride;
        std::uint8_t* destination = data + static_cast<std::size_t>(y) * stride;
        for (int x = width - 1; x >= 0; --x) {
            std::uint16_t bgr[3];
            std::memcpy(bgr, source + static_cast<std::size_t>(x) * 6, 6);
            const std::uint16_t out[4] = {static_cast<std::uint16_t>(bgr[0] << shift),
                                          static_cast<std::uint16_t>(bgr[1] << shift),
                                          static_cast<std::uint16_t>(bgr[2] << shift), 0xFFFF};
            std::memcpy(destination + static_cast<std::size_t>(x) * 8, out, 8);
        }
    }
}

}  // namespace zbx::gst
