// The conversion slots of the device link: 24-bit previews of grey or
// luma/chroma frames, and the copy of a frame sent as two fields.  This
// camera model sends neither; the slots serve models that do.
//
// Luma/chroma words: low byte Y, high byte C + 128; even columns carry V and
// odd columns U, each shared by the pixel pair.  Progressive frames use
// studio-range coefficients, Y' = 1.164 (Y - 16); frames in two fields use
// full-range ones, Y' = Y.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "device/zbx_sdk_lib.h"

namespace zbx::device {

namespace {

struct YuvCoefficients {
    double luma_scale, luma_offset, r_v, g_u, g_v, b_u;
};
constexpr YuvCoefficients kProgressive{1.164, 16.0, 1.596, 0.391, 0.813, 2.018};
constexpr YuvCoefficients kFields{1.0, 0.0, 1.14, 0.395, 0.581, 2.032};

std::uint8_t clamp_byte(double v) {
    return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}

}  // namespace

std::size_t CZBXSdkLib::source_index(int x, int y, bool interlaced) const {
    if (!interlaced) {
        return static_cast<std::size_t>(first_line_ + y) * static_cast<std::size_t>(pitch_) +
               static_cast<std::size_t>(x_offset_ + x);
    }
    const int field = y & 1;
    const int line = fields_.first_line + (y >> 1) + (field ? fields_.lines_per_field - 1 : 0);
    return static_cast<std::size_t>(line) * static_cast<std::size_t>(pitch_) +
           static_cast<std::size_t>(fields_.x_offset[field] + x);
}

int CZBXSdkLib::copy_interlaced_frame(std::uint8_t* destination, const std::uint8_t* source) {
    if (!field_geometry_fits(fields_)) return kCodeBadLines;
    const std::size_t sample = sixteen_bit_ ? 2 : 1;
    const std::size_t row = static_cast<std::size_t>(output_width_) * sample;
    for (int y = 0; y < line_count_; ++y, destination += row) {
        std::memcpy(destination, source + source_index(0, y, true) * sample, row);
    }
    return 0;
}

int CZBXSdkLib::convert_rect_to_24(std::uint8_t* destination, const std::uint8_t* source, int colour,
                                   const ConvertRect& rect) {
    const int width = rect.right - rect.left + 1;
    const int height = rect.bottom - rect.top + 1;
    if (width > pitch_ || height > total_lines_) return kCodeBadRect;
    // Nor may it reach outside the window.
    if (width < 1 || height < 1 || rect.left < 0 || rect.top < 0 || rect.right >= output_width_ ||
        rect.bottom >= line_count_ || (interlaced_ && !field_geometry_fits(fields_))) {
        return kCodeBadRect;
    }
    if (destination == nullptr || source == nullptr) return kCodeNullBuffer;

    if (colour == 0 || !sixteen_bit_) {
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const std::size_t i = source_index(rect.left + x, rect.top + y, interlaced_);
                // 16-bit samples hold 12-bit values: keep the top eight bits.
                std::uint8_t grey = source[i];
                if (sixteen_bit_) {
                    const unsigned word = source[2 * i] | (source[2 * i + 1] << 8);
                    grey = static_cast<std::uint8_t>(std::min(word >> 4, 255u));
                }
                std::memset(destination, grey, 3);
                destination += 3;
            }
        }
        return 0;
    }

    const YuvCoefficients& k = interlaced_ ? kFields : kProgressive;
    const auto word_at = [&](int x, int y) {
        const std::size_t i = source_index(x, y, interlaced_);
        return static_cast<unsigned>(source[2 * i] | (source[2 * i + 1] << 8));
    };
    for (int y = rect.top; y <= rect.bottom; ++y) {
        for (int x = rect.left; x <= rect.right; ++x) {
            const int pair = x & ~1;
            const double luma = k.luma_scale * ((word_at(x, y) & 0xFF) - k.luma_offset);
            const double v = static_cast<double>(word_at(pair, y) >> 8) - 128.0;
            // A pair cut off by the window's right edge has no U.
            const double u = pair + 1 < output_width_ ? static_cast<double>(word_at(pair + 1, y) >> 8) - 128.0 : 0.0;
            destination[0] = clamp_byte(luma + k.b_u * u);
            destination[1] = clamp_byte(luma - k.g_u * u - k.g_v * v);
            destination[2] = clamp_byte(luma + k.r_v * v);
            destination += 3;
        }
    }
    return 0;
}

int CZBXSdkLib::convert_frame_to_24(std::uint8_t* destination, const std::uint8_t* source, int colour) {
    return convert_rect_to_24(destination, source, colour, ConvertRect{0, 0, output_width_ - 1, line_count_ - 1});
}

}  // namespace zbx::device
