// Table per call, then one lookup per sample; the 8-bit variants use the
// same table rule with bits = 8.
#include "pipeline/adjust_contrast.h"

#include <algorithm>

#include "pipeline/adjust_kernels.h"

namespace zbx::pipeline {

void build_contrast_table(std::int32_t value, int bits, std::uint16_t* table) {
    const std::int32_t m = std::clamp<std::int32_t>(value, -127, 127);
    const std::int32_t n = 1 << bits;
    const std::int32_t o = m * (1 << (bits - 8));
    const double factor = static_cast<double>(n) / static_cast<double>(n - 2 * o);
    for (std::int32_t i = 0; i < n; ++i) {
        if (i < o) {
            table[i] = 0;
        } else if (i > n - o - 1) {
            table[i] = static_cast<std::uint16_t>(n - 1);
        } else {
            table[i] = static_cast<std::uint16_t>(static_cast<std::int32_t>(factor * (i - o)));
        }
    }
}

namespace {

template <Variant V>
int contrast_body(const kernels::RectArgs& args, void* params) {
    const auto& rec = *static_cast<const AdjustRecord*>(params);
    using S = typename kernels::Traits<V>::Sample;
    if constexpr (sizeof(S) == 1) {
        std::array<std::uint16_t, 256> wide{};
        build_contrast_table(rec.value, 8, wide.data());
        std::array<std::uint8_t, 256> lut{};
        std::copy(wide.begin(), wide.end(), lut.begin());
        return kernels::for_each_byte_lut<V>(args, lut.data());
    } else {
        const int bits = kernels::limit_bits(rec.sample_bits);
        kernels::Lut16 lut(1 << bits);
        std::uint16_t* t = lut.data();
        build_contrast_table(rec.value, bits, t);
        const std::int32_t n = 1 << bits;
        const auto top = static_cast<S>(n - 1);
        return kernels::for_each_sample<V>(args, [&](S s) { return s < n ? t[s] : top; });
    }
}

}  // namespace

RectCallback contrast_callback(int colour_mode) {
    return kernels::select<&contrast_body<Variant::kGrey8>, &contrast_body<Variant::kGrey16>,
                           &contrast_body<Variant::kColour8>, &contrast_body<Variant::kColour16>>(
        colour_mode);
}

int apply_contrast(PixelPlane image, int colour_mode, const AdjustRecord& record) {
    AdjustRecord rec = record;
    return run_in_place(image, contrast_callback(colour_mode), &rec);
}

}  // namespace zbx::pipeline
