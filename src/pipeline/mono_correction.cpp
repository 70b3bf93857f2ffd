// Both callbacks walk the rectangle once; the cell position follows from
// the row and column parities.  Products are 64-bit because measured gains
// are not limited.
#include "pipeline/mono_correction.h"

#include <algorithm>
#include <array>

#include "pipeline/adjust_kernels.h"

namespace zbx::pipeline {

std::int32_t gray_sample_maximum(std::int32_t sample_bits) {
    switch (sample_bits) {
        case 8: return 255;
        case 10: return 1023;
        case 12: return 4095;
        case 14: return 16383;
        default: return 65535;
    }
}

namespace {

enum Cell { kG1 = 0, kR = 1, kB = 2, kG2 = 3 };

// Cell of (column parity, row parity) after the phase's offsets.
struct CellMap {
    int c0;
    int r0;
    explicit CellMap(std::int32_t phase)
        : c0(phase == 2 || phase == 3 ? 1 : 0), r0(phase == 1 || phase == 3 ? 1 : 0) {}
    [[nodiscard]] int cell(std::int32_t x, std::int32_t y) const {
        const int c = (x + c0) & 1;
        const int r = (y + r0) & 1;
        return r * 2 + c == 0 ? kG1 : (r == 0 ? kR : (c == 0 ? kB : kG2));
    }
};

struct CellParams {
    std::array<std::int64_t, 4> gain;
    std::array<std::int64_t, 4> offset;
};

CellParams cell_params(const GrayRecord& rec) {
    CellParams p{};
    p.gain[kR] = rec.gain_r;
    p.gain[kG1] = rec.gain_g1;
    p.gain[kG2] = rec.gain_g2;
    p.gain[kB] = rec.gain_b;
    p.offset[kR] = rec.offset_r;
    p.offset[kG1] = rec.offset_g1;
    p.offset[kG2] = rec.offset_g2;
    p.offset[kB] = rec.offset_b;
    return p;
}

template <typename S>
bool mono_layout_fits(const kernels::RectArgs& a) {
    return a.dst != nullptr && a.src != nullptr && a.dst_bpp == a.src_bpp &&
           a.src_bpp >= static_cast<int>(sizeof(S)) && a.rect.width() > 0 &&
           a.rect.height() > 0;
}

inline std::int64_t corrected(std::int64_t sample, std::int64_t gain, std::int64_t offset,
                              std::int64_t maximum) {
    return std::clamp<std::int64_t>(offset + gain * sample / 128, 0, maximum);
}

template <typename S>
int correction_body(const kernels::RectArgs& a, void* params) {
    if (!mono_layout_fits<S>(a)) return 0;
    const auto& rec = *static_cast<const GrayRecord*>(params);
    const CellMap map(rec.phase);
    const CellParams cp = cell_params(rec);
    const std::int32_t w = a.rect.width();
    const int pb = a.src_bpp;
    if constexpr (sizeof(S) == 1) {
        // Four tables of 256, one per cell; each row alternates two of them.
        std::array<std::array<std::uint8_t, 256>, 4> lut{};
        for (int k = 0; k < 4; ++k) {
            for (int i = 0; i < 256; ++i) {
                lut[k][i] = static_cast<std::uint8_t>(corrected(i, cp.gain[k], cp.offset[k], 255));
            }
        }
        for (std::int32_t y = 0; y < a.rect.height(); ++y) {
            const std::uint8_t* s = a.src_row(y);
            std::uint8_t* d = a.dst_row(y);
            const std::array<std::uint8_t, 256>* pair[2] = {&lut[map.cell(0, y)],
                                                            &lut[map.cell(1, y)]};
            for (std::int32_t x = 0; x < w; ++x) {
                d[x * pb] = (*pair[x & 1])[s[x * pb]];
            }
        }
    } else {
        const std::int64_t maximum = gray_sample_maximum(rec.sample_bits);
        for (std::int32_t y = 0; y < a.rect.height(); ++y) {
            const std::uint8_t* s = a.src_row(y);
            std::uint8_t* d = a.dst_row(y);
            const int cells[2] = {map.cell(0, y), map.cell(1, y)};
            for (std::int32_t x = 0; x < w; ++x) {
                const int k = cells[x & 1];
                const std::int64_t v =
                    corrected(kernels::load<S>(s + x * pb), cp.gain[k], cp.offset[k], maximum);
                kernels::store<S>(d + x * pb, static_cast<S>(v));
            }
        }
    }
    return 1;
}

template <typename S>
int balance_body(const kernels::RectArgs& a, void* params) {
    if (!mono_layout_fits<S>(a)) return 0;
    auto& rec = *static_cast<GrayRecord*>(params);
    const CellMap map(rec.phase);
    const std::int64_t maximum = sizeof(S) == 1 ? 255 : gray_sample_maximum(rec.sample_bits);
    std::array<std::int64_t, 4> sum{};
    std::array<std::int64_t, 4> count{};
    const std::int32_t w = a.rect.width();
    const int pb = a.src_bpp;
    for (std::int32_t y = 0; y < a.rect.height(); ++y) {
        const std::uint8_t* s = a.src_row(y);
        const int cells[2] = {map.cell(0, y), map.cell(1, y)};
        for (std::int32_t x = 0; x < w; ++x) {
            const std::int64_t v = kernels::load<S>(s + x * pb);
            if (v != 0 && v != maximum) {
                sum[cells[x & 1]] += v;
                count[cells[x & 1]] += 1;
            }
        }
    }
    std::array<double, 4> mean{};
    for (int k = 0; k < 4; ++k) {
        if (count[k] == 0) return 0;
        mean[k] = static_cast<double>(sum[k]) / static_cast<double>(count[k]);
    }
    const double h = *std::max_element(mean.begin(), mean.end());
    auto gain = [&](int k) { return static_cast<std::int32_t>(h / mean[k] * 128.0); };
    rec.gain_r = gain(kR);
    rec.gain_g1 = gain(kG1);
    rec.gain_g2 = gain(kG2);
    rec.gain_b = gain(kB);
    return 1;
}

}  // namespace

RectCallback gray_correction_callback(int colour_mode) {
    if (colour_mode == kModeMono8) return &kernels::as_callback<&correction_body<std::uint8_t>>;
    if (colour_mode == kModeMono10) return &kernels::as_callback<&correction_body<std::uint16_t>>;
    return nullptr;
}

RectCallback gray_balance_callback(int colour_mode) {
    if (colour_mode == kModeMono8) return &kernels::as_callback<&balance_body<std::uint8_t>>;
    if (colour_mode == kModeMono10) return &kernels::as_callback<&balance_body<std::uint16_t>>;
    return nullptr;
}

int apply_gray_correction(PixelPlane image, int colour_mode, const GrayRecord& record) {
    GrayRecord rec = record;
    return run_in_place(image, gray_correction_callback(colour_mode), &rec);
}

bool measure_gray_balance(PixelPlane image, int colour_mode, GrayRecord& record) {
    return run_in_place(image, gray_balance_callback(colour_mode), &record) == 1;
}

}  // namespace zbx::pipeline
