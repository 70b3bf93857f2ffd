#include "pipeline/adjust.h"

#include <algorithm>
#include <array>
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

namespace {

constexpr std::int32_t kSampleBits = 12;

// Which of the per-sample steps a tone pass runs, in development order.
struct ToneSteps {
    bool gamma;
    bool contrast;
    bool brightness;
};

// Consecutive per-sample steps (gamma, contrast and, when no sharpening
// lies between, brightness) composed into one table and one pass: each
// step maps any sample to a single value, so the chain of their tables
// gives what running them one after another gives.
template <Variant V>
void tone_pass(PixelPlane plane, const AdjustmentValues& v, ToneSteps steps) {
    const Rect rect{0, 0, plane.width, plane.height};
    const kernels::RectArgs args =
        kernels::make_args(plane.pixels, plane.pixels, &rect, 0, 0, plane.bytes_per_pixel,
                           plane.bytes_per_pixel, plane.stride, plane.stride);
    const float factor = brightness_factor(v.brightness);
    double exponent = gamma_exponent(v.gamma);
    if constexpr (sizeof(typename kernels::Traits<V>::Sample) == 1) {
        if constexpr (V == Variant::kColour8) exponent = std::clamp(exponent, 0.001, 99.999);
        std::array<std::uint8_t, 256> gamma{};
        build_gamma_table8(exponent, gamma.data());
        std::array<std::uint16_t, 256> contrast{};
        build_contrast_table(v.contrast, 8, contrast.data());
        std::array<std::uint8_t, 256> lut{};
        for (std::int32_t i = 0; i < 256; ++i) {
            std::int32_t s = i;
            if (steps.gamma) s = gamma[s];
            if (steps.contrast) s = contrast[s];
            if (steps.brightness) {
                s = std::clamp(static_cast<std::int32_t>(static_cast<float>(s) * factor), 0, 255);
            }
            lut[i] = static_cast<std::uint8_t>(s);
        }
        (void)kernels::for_each_byte_lut<V>(args, lut.data());
    } else {
        constexpr std::int32_t n = 1 << kSampleBits;
        std::array<std::uint16_t, n> gamma{};
        build_gamma_table16(exponent, kSampleBits, gamma.data());
        std::array<std::uint16_t, n> contrast{};
        build_contrast_table(v.contrast, kSampleBits, contrast.data());
        // Each step's own rule, samples at or beyond the tables included.
        auto chain = [&](std::int32_t s) {
            if (steps.gamma) s = gamma[std::min(s, n - 1)];
            if (steps.contrast) s = s < n ? contrast[s] : n - 1;
            if (steps.brightness) {
                s = std::clamp(static_cast<std::int32_t>(static_cast<float>(s) * factor), 0,
                               n - 1);
            }
            return s;
        };
        kernels::Lut16 table(n);
        std::uint16_t* lut = table.data();
        for (std::int32_t i = 0; i < n; ++i) lut[i] = static_cast<std::uint16_t>(chain(i));
        (void)kernels::for_each_sample<V>(args, [&](std::uint16_t s) {
            return s < n ? lut[s] : static_cast<std::uint16_t>(chain(s));
        });
    }
}

void run_tone_pass(PixelPlane plane, int colour_mode, const AdjustmentValues& v,
                   ToneSteps steps) {
    Variant variant{};
    if (plane.empty() || !variant_for_mode(colour_mode, variant)) return;
    switch (variant) {
        case Variant::kGrey8: tone_pass<Variant::kGrey8>(plane, v, steps); break;
        case Variant::kGrey16: tone_pass<Variant::kGrey16>(plane, v, steps); break;
        case Variant::kColour8: tone_pass<Variant::kColour8>(plane, v, steps); break;
        case Variant::kColour16: tone_pass<Variant::kColour16>(plane, v, steps); break;
    }
}

}  // namespace

void ApplyAdjustments(PixelPlane output, PixelPlane scratch, int colour_mode,
                      const AdjustmentValues& values) {
    const bool colour = colour_mode >= kModeColor24 && colour_mode <= kModeColor64;
    if (colour && (values.hue != 0 || values.saturation != 0)) {
        apply_hue_saturation(output, colour_mode,
                             HueRecord{values.hue, 0, values.saturation, kSampleBits});
    }
    const bool sharpen = values.sharpness != 0;
    const ToneSteps tone{values.gamma != 100, values.contrast != 0,
                         values.brightness != 0 && !sharpen};
    const bool one_pass = (tone.gamma ? 1 : 0) + (tone.contrast ? 1 : 0) +
                              (tone.brightness ? 1 : 0) >= 2;
    if (one_pass) {
        run_tone_pass(output, colour_mode, values, tone);
    } else {
        if (tone.gamma) apply_gamma(output, colour_mode, AdjustRecord{values.gamma, kSampleBits});
        if (tone.contrast) {
            apply_contrast(output, colour_mode, AdjustRecord{values.contrast, kSampleBits});
        }
    }
    if (sharpen) {
        apply_sharpness(output, scratch, colour_mode, AdjustRecord{values.sharpness, kSampleBits});
    }
    if (values.brightness != 0 && !(one_pass && tone.brightness)) {
        apply_brightness(output, colour_mode, AdjustRecord{values.brightness, kSampleBits});
    }
}

}  // namespace zbx::pipeline
