// Tables in double precision per call, one lookup per sample.
#include "pipeline/adjust_gamma.h"

#include <algorithm>
#include <cmath>

#include "pipeline/adjust_kernels.h"

namespace zbx::pipeline {

double gamma_exponent(std::int32_t value) {
    const std::int32_t g = std::clamp<std::int32_t>(value, 0, 200);
    if (g <= 100) return g / 100.0;
    return (g - 100) / 10.0 + 1.0;
}

void build_gamma_table8(double exponent, std::uint8_t* table) {
    for (int i = 0; i < 256; ++i) {
        table[i] = static_cast<std::uint8_t>(std::pow(i / 255.0, exponent) * 255.0);
    }
}

void build_gamma_table16(double exponent, int bits, std::uint16_t* table) {
    const std::int32_t n = 1 << bits;
    const double scale = n - 1;
    for (std::int32_t i = 0; i < n; ++i) {
        table[i] = static_cast<std::uint16_t>(
            std::pow(static_cast<double>(i) / static_cast<double>(n), exponent) * scale);
    }
}

namespace {

template <Variant V>
int gamma_body(const kernels::RectArgs& args, void* params) {
    const auto& rec = *static_cast<const AdjustRecord*>(params);
    using S = typename kernels::Traits<V>::Sample;
    double e = gamma_exponent(rec.value);
    if constexpr (sizeof(S) == 1) {
        if constexpr (V == Variant::kColour8) e = std::clamp(e, 0.001, 99.999);
        std::array<std::uint8_t, 256> lut{};
        build_gamma_table8(e, lut.data());
        return kernels::for_each_byte_lut<V>(args, lut.data());
    } else {
        const int bits = kernels::limit_bits(rec.sample_bits);
        const std::int32_t n = 1 << bits;
        kernels::Lut16 lut(n);
        std::uint16_t* t = lut.data();
        build_gamma_table16(e, bits, t);
        const S last = t[n - 1];
        return kernels::for_each_sample<V>(args, [&](S s) { return s < n ? t[s] : last; });
    }
}

}  // namespace

RectCallback gamma_callback(int colour_mode) {
    return kernels::select<&gamma_body<Variant::kGrey8>, &gamma_body<Variant::kGrey16>,
                           &gamma_body<Variant::kColour8>, &gamma_body<Variant::kColour16>>(
        colour_mode);
}

int apply_gamma(PixelPlane image, int colour_mode, const AdjustRecord& record) {
    AdjustRecord rec = record;
    return run_in_place(image, gamma_callback(colour_mode), &rec);
}

}  // namespace zbx::pipeline
