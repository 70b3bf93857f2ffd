// The 4 x 4 box sum is separable.  For the usual layouts (pixels holding
// just the samples, or a fourth one) the rows go to the vector layer's flat
// kernel (adjust_sharpen_rows.cpp: column sums of four rows per chunk, then
// blur and term over flat sample runs); the term is computed rather than
// looked up, and equals the table entry for every sample within the
// maximum.  Other layouts take a per-pixel loop with a sliding column sum.
#include "pipeline/adjust_sharpness.h"

#include <algorithm>
#include <cstring>

#include "pipeline/adjust_kernels.h"

namespace zbx::pipeline {
namespace {

using RowSet = kernels::SharpenRows;

template <typename S, int kChannels>
void sharpen_row_any(const RowSet& rows, std::int32_t w, int pb, std::int32_t s,
                     std::int32_t maximum) {
    using kernels::load;
    constexpr int kSize = static_cast<int>(sizeof(S));
    auto column = [&](std::int32_t x, int c) {
        const std::ptrdiff_t o = static_cast<std::ptrdiff_t>(x) * pb + c * kSize;
        return static_cast<std::int32_t>(load<S>(rows.r[0] + o)) + load<S>(rows.r[1] + o) +
               load<S>(rows.r[2] + o) + load<S>(rows.r[3] + o);
    };
    std::int32_t c0[kChannels];
    std::int32_t c1[kChannels];
    std::int32_t c2[kChannels];
    for (int c = 0; c < kChannels; ++c) {
        c0[c] = column(0, c);
        c1[c] = column(1, c);
        c2[c] = column(2, c);
    }
    for (std::int32_t x = 2; x <= w - 3; ++x) {
        for (int c = 0; c < kChannels; ++c) {
            const std::int32_t c3 = column(x + 1, c);
            const std::int32_t blur = (c0[c] + c1[c] + c2[c] + c3) >> 4;
            const std::ptrdiff_t o = static_cast<std::ptrdiff_t>(x) * pb + c * kSize;
            const std::int32_t v = load<S>(rows.r[2] + o);
            const std::int32_t out = v + s * (v - blur) / 10;
            kernels::store<S>(rows.d + o, static_cast<S>(std::clamp(out, 0, maximum)));
            c0[c] = c1[c];
            c1[c] = c2[c];
            c2[c] = c3;
        }
    }
}

// The rectangle's rows, or with `one` just that row (the rectangle then
// gives only the width and pixel size).
template <Variant V>
void sharpen_any(const kernels::RectArgs& args, const RowSet* one, std::int32_t s,
                 std::int32_t maximum) {
    using T = kernels::Traits<V>;
    using S = typename T::Sample;
    constexpr int kSize = static_cast<int>(sizeof(S));
    if (args.src_bpp == T::kChannels * kSize) {
        kernels::sharpen_flat(args, one, s, maximum, kSize, T::kChannels, T::kChannels);
        return;
    }
    if constexpr (T::kChannels == 3) {
        if (args.src_bpp == 4 * kSize) {
            kernels::sharpen_flat(args, one, s, maximum, kSize, 4, T::kChannels);
            return;
        }
    }
    const std::int32_t w = args.rect.width();
    if (one != nullptr) {
        sharpen_row_any<S, T::kChannels>(*one, w, args.src_bpp, s, maximum);
        return;
    }
    for (std::int32_t y = 2; y <= args.rect.height() - 3; ++y) {
        const RowSet rows{{args.src_row(y - 2), args.src_row(y - 1), args.src_row(y),
                           args.src_row(y + 1)},
                          args.dst_row(y)};
        sharpen_row_any<S, T::kChannels>(rows, w, args.src_bpp, s, maximum);
    }
}

std::int32_t limit_strength(std::int32_t value) { return std::clamp<std::int32_t>(value, 0, 30); }

template <Variant V>
std::int32_t maximum_of(std::int32_t sample_bits) {
    return sizeof(typename kernels::Traits<V>::Sample) == 1
               ? 255
               : (1 << kernels::limit_bits(sample_bits)) - 1;
}

template <Variant V>
int sharpness_body(const kernels::RectArgs& args, void* params) {
    if (!kernels::layout_fits<V>(args)) return 0;
    const auto& rec = *static_cast<const AdjustRecord*>(params);
    sharpen_any<V>(args, nullptr, limit_strength(rec.value), maximum_of<V>(rec.sample_bits));
    return 1;
}

template <Variant V>
void sharpen_one(const std::uint8_t* const rows[4], std::uint8_t* dst, std::int32_t width,
                 std::int32_t bytes_per_pixel, const AdjustRecord& record) {
    const Rect rect{0, 0, width, 1};
    const auto bpp = static_cast<std::uint16_t>(bytes_per_pixel);
    const kernels::RectArgs args = kernels::make_args(dst, rows[2], &rect, 0, 0, bpp, bpp, 0, 0);
    if (!kernels::layout_fits<V>(args)) return;
    const RowSet set{{rows[0], rows[1], rows[2], rows[3]}, dst};
    sharpen_any<V>(args, &set, limit_strength(record.value), maximum_of<V>(record.sample_bits));
}

}  // namespace

void sharpen_row(Variant variant, const std::uint8_t* const rows[4], std::uint8_t* dst,
                 std::int32_t width, std::int32_t bytes_per_pixel, const AdjustRecord& record) {
    switch (variant) {
        case Variant::kGrey8:
            sharpen_one<Variant::kGrey8>(rows, dst, width, bytes_per_pixel, record);
            break;
        case Variant::kGrey16:
            sharpen_one<Variant::kGrey16>(rows, dst, width, bytes_per_pixel, record);
            break;
        case Variant::kColour8:
            sharpen_one<Variant::kColour8>(rows, dst, width, bytes_per_pixel, record);
            break;
        case Variant::kColour16:
            sharpen_one<Variant::kColour16>(rows, dst, width, bytes_per_pixel, record);
            break;
    }
}

RectCallback sharpness_callback(int colour_mode) {
    return kernels::select<&sharpness_body<Variant::kGrey8>, &sharpness_body<Variant::kGrey16>,
                           &sharpness_body<Variant::kColour8>,
                           &sharpness_body<Variant::kColour16>>(colour_mode);
}

int apply_sharpness(PixelPlane image, PixelPlane scratch, int colour_mode,
                    const AdjustRecord& record) {
    if (image.empty() || scratch.empty() || image.pixels == scratch.pixels ||
        image.width != scratch.width || image.height != scratch.height ||
        image.stride != scratch.stride || image.bytes_per_pixel != scratch.bytes_per_pixel) {
        return 0;
    }
    std::memcpy(scratch.pixels, image.pixels,
                static_cast<std::size_t>(image.height) * static_cast<std::size_t>(image.stride));
    AdjustRecord rec = record;
    return run_between(image, scratch, sharpness_callback(colour_mode), &rec);
}

}  // namespace zbx::pipeline
