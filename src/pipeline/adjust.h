// Colour and tone adjustments of the developed picture: shared records, the
// borrowed pixel view the entry functions take, and the whole adjustment
// sequence of development.
#pragma once

#include <cstdint>

#include "pipeline/transfer.h"

namespace zbx::pipeline {

// Output colour modes.
inline constexpr int kModeMono8 = 0;
inline constexpr int kModeMono10 = 1;
inline constexpr int kModeColor24 = 2;
inline constexpr int kModeColor32 = 3;
inline constexpr int kModeColor48 = 4;
inline constexpr int kModeColor64 = 5;

// A buffer's pixel store, borrowed for one call: rows top first in memory,
// pixel (x, row y) at pixels + y * stride + x * bytes_per_pixel.
struct PixelPlane {
    std::uint8_t* pixels = nullptr;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t stride = 0;
    std::uint16_t bytes_per_pixel = 0;
    [[nodiscard]] bool empty() const {
        return pixels == nullptr || width <= 0 || height <= 0 || bytes_per_pixel == 0;
    }
};

// Step parameters of gamma, contrast, sharpness and brightness.
struct AdjustRecord {
    std::int32_t value = 0;
    std::int32_t sample_bits = 12;  // of 16-bit samples; limited to 8..16
};

// Step parameters of hue and saturation.  The lightness shift is always 0
// and is ignored.
struct HueRecord {
    std::int32_t hue = 0;         // degrees, -360..360
    std::int32_t lightness_shift = 0;
    std::int32_t saturation = 0;  // -255..255
    std::int32_t sample_bits = 12;
};

// The four pixel layouts an adjustment has a variant for.
enum class Variant {
    kGrey8,     // mode 0: one byte per pixel
    kGrey16,    // mode 1: one 16-bit sample per pixel
    kColour8,   // modes 2, 3: blue, green, red bytes (+ untouched fourth)
    kColour16,  // modes 4, 5: blue, green, red 16-bit (+ untouched fourth)
};

// False for a colour mode outside 0..5.
[[nodiscard]] bool variant_for_mode(int colour_mode, Variant& variant);

// Runs `callback` once over the whole plane, source and destination both
// `plane`: what TransferRect does for a buffer with itself, no rectangle,
// position (0, 0).  0 for an empty plane or no callback.
int run_in_place(PixelPlane plane, RectCallback callback, void* params);

// Runs `callback` with `src` as source and `dst` as destination over the
// part both cover, like TransferRect with no rectangle at (0, 0) for two
// buffers of one format.  0 when the pixel sizes differ or nothing is left.
int run_between(PixelPlane dst, PixelPlane src, RectCallback callback, void* params);

// Selects the plain kernels even where SIMD ones exist (for comparison);
// every kernel gives identical results either way.
void ForcePlainAdjustments(bool plain);

// The session's adjustment values as development reads them.
struct AdjustmentValues {
    std::int32_t brightness = 0;  // neutral 0
    std::int32_t contrast = 0;    // neutral 0
    std::int32_t hue = 0;         // neutral 0 (with saturation 0)
    std::int32_t saturation = 0;  // neutral 0 (with hue 0)
    std::int32_t sharpness = 0;   // neutral 0
    std::int32_t gamma = 100;     // neutral 100
};

// The adjustment sequence of development, in place on `output` (the
// mode's output buffer): hue and saturation (colour modes only), gamma,
// contrast, sharpness, brightness, each skipped when neutral, with the
// result of running them one after another.  Sharpening needs `scratch`
// (the preallocated slot of the same format) as working rows; its content
// afterwards is unspecified.  With a scratch plane of another format
// sharpening is skipped.  Called on the acquisition thread under the frame
// lock.
void ApplyAdjustments(PixelPlane output, PixelPlane scratch, int colour_mode,
                      const AdjustmentValues& values);

}  // namespace zbx::pipeline
