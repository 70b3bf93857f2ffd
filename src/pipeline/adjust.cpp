#include "pipeline/adjust.h"

#include <algorithm>
#include <atomic>

#include "pipeline/adjust_brightness.h"
#include "pipeline/adjust_contrast.h"
#include "pipeline/adjust_gamma.h"
#include "pipeline/adjust_hue_saturation.h"
#include "pipeline/adjust_kernels.h"
#include "pipeline/adjust_sharpness.h"

namespace zbx::pipeline {

namespace {
std::atomic<bool> g_force_plain{false};
}  // namespace

void ForcePlainAdjustments(bool plain) { g_force_plain.store(plain, std::memory_order_relaxed); }

bool kernels::use_avx2() {
    static const bool ok = __builtin_cpu_supports("avx2");
    return ok && !g_force_plain.load(std::memory_order_relaxed);
}

bool variant_for_mode(int colour_mode, Variant& variant) {
    switch (colour_mode) {
        case kModeMono8: variant = Variant::kGrey8; return true;
        case kModeMono10: variant = Variant::kGrey16; return true;
        case kModeColor24:
        case kModeColor32: variant = Variant::kColour8; return true;
        case kModeColor48:
        case kModeColor64: variant = Variant::kColour16; return true;
        default: return false;
    }
}

int run_in_place(PixelPlane plane, RectCallback callback, void* params) {
    return run_between(plane, plane, callback, params);
}

int run_between(PixelPlane dst, PixelPlane src, RectCallback callback, void* params) {
    if (callback == nullptr || dst.empty() || src.empty() ||
        dst.bytes_per_pixel != src.bytes_per_pixel) {
        return 0;
    }
    // Whole buffers at (0, 0): the common part, first memory row first.
    const Rect rect{0, 0, std::min(dst.width, src.width), std::min(dst.height, src.height)};
    return callback(dst.pixels, src.pixels, &rect, 0, 0, dst.bytes_per_pixel,
                    src.bytes_per_pixel, dst.stride, src.stride, params, nullptr);
}

void ApplyAdjustments(PixelPlane output, PixelPlane scratch, int colour_mode,
                      const AdjustmentValues& values) {
    constexpr std::int32_t kSampleBits = 12;
    const bool colour = colour_mode >= kModeColor24 && colour_mode <= kModeColor64;
    if (colour && (values.hue != 0 || values.saturation != 0)) {
        apply_hue_saturation(output, colour_mode,
                             HueRecord{values.hue, 0, values.saturation, kSampleBits});
    }
    if (values.gamma != 100) {
        apply_gamma(output, colour_mode, AdjustRecord{values.gamma, kSampleBits});
    }
    if (values.contrast != 0) {
        apply_contrast(output, colour_mode, AdjustRecord{values.contrast, kSampleBits});
    }
    if (values.sharpness != 0) {
        apply_sharpness(output, scratch, colour_mode, AdjustRecord{values.sharpness, kSampleBits});
    }
    if (values.brightness != 0) {
        apply_brightness(output, colour_mode, AdjustRecord{values.brightness, kSampleBits});
    }
}

}  // namespace zbx::pipeline
