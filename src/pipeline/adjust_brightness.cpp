// value = trunc(sample * f) in single precision, limited to 0..maximum.
// The factor is fixed per call, so the in-range samples go through a table
// built with exactly that arithmetic.
#include "pipeline/adjust_brightness.h"

#include <algorithm>
#include <cstdlib>

#include "pipeline/adjust_kernels.h"

namespace zbx::pipeline {

float brightness_factor(std::int32_t value) {
    const std::int32_t v = std::clamp<std::int32_t>(value, -255, 255);
    if (v < 0) return static_cast<float>(1.0 - std::abs(v) * 0.00392156862745098);
    if (v > 0) return static_cast<float>(1.0 + v * 0.0392156862745098);
    return 1.0F;
}

namespace {

inline std::int32_t scaled(std::int32_t sample, float f, std::int32_t maximum) {
    const auto v = static_cast<std::int32_t>(static_cast<float>(sample) * f);
    return std::clamp<std::int32_t>(v, 0, maximum);
}

template <Variant V>
int brightness_body(const kernels::RectArgs& args, void* params) {
    const auto& rec = *static_cast<const AdjustRecord*>(params);
    const float f = brightness_factor(rec.value);
    using S = typename kernels::Traits<V>::Sample;
    if constexpr (sizeof(S) == 1) {
        std::array<std::uint8_t, 256> lut{};
        for (int i = 0; i < 256; ++i) lut[i] = static_cast<std::uint8_t>(scaled(i, f, 255));
        return kernels::for_each_byte_lut<V>(args, lut.data());
    } else {
        const std::int32_t maximum = (1 << kernels::limit_bits(rec.sample_bits)) - 1;
        kernels::Lut16 lut(maximum + 1);
        std::uint16_t* t = lut.data();
        for (std::int32_t i = 0; i <= maximum; ++i) {
            t[i] = static_cast<std::uint16_t>(scaled(i, f, maximum));
        }
        return kernels::for_each_sample<V>(args, [&](S s) {
            return s <= maximum ? t[s] : static_cast<S>(scaled(s, f, maximum));
        });
    }
}

}  // namespace

RectCallback brightness_callback(int colour_mode) {
    return kernels::select<&brightness_body<Variant::kGrey8>, &brightness_body<Variant::kGrey16>,
                           &brightness_body<Variant::kColour8>,
                           &brightness_body<Variant::kColour16>>(colour_mode);
}

int apply_brightness(PixelPlane image, int colour_mode, const AdjustRecord& record) {
    AdjustRecord rec = record;
    return run_in_place(image, brightness_callback(colour_mode), &rec);
}

}  // namespace zbx::pipeline
