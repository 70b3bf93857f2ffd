// The 4 x 4 box sum is separable.  For the usual layouts (pixels holding
// just the samples, or a fourth one) a row is done in chunks: first the
// column sums of four rows for every sample of the chunk, then per sample
// blur = (four column sums one pixel apart) >> 4 and the term
// trunc(s * (v - blur) / 10), both over flat sample runs the compiler
// vectorises (16-bit lanes for 8-bit pictures, where every sum fits).  The
// term is computed rather than looked up; it equals the table entry for
// every sample within the maximum.  Fourth samples are computed too and
// then left as they were when the chunk is written.  The same source is
// built plain, for AVX2 and for AVX-512 (chosen at run time; the sequence
// of development has its own AVX-512 and AVX2 rows for 8-bit pictures in
// adjust_avx512.cpp and adjust_avx2.cpp).  Other layouts take a
// per-pixel loop with a sliding column sum.
#include "pipeline/adjust_sharpness.h"

#include <algorithm>
#include <cstring>

#include "pipeline/adjust_kernels.h"
#include "pipeline/x86_simd.h"

namespace zbx::pipeline {
namespace {

// Output pixels per chunk: the column sums of a chunk stay in L1.
constexpr std::int32_t kChunk = 256;

// Rows y-2..y+1 of the source, the destination row y, all at pixel 0.
struct RowSet {
    const std::uint8_t* r[4];
    std::uint8_t* d;
};

// Output pixels x0..x1-1 (2 <= x0, x1 <= width - 2) of one row, with P
// samples per pixel of which the first kChannels are written.  Acc holds
// column and block sums.
template <typename S, typename Acc, int P, int kChannels>
[[gnu::always_inline]] inline void sharpen_chunk(const RowSet& rows, std::int32_t x0,
                                                 std::int32_t x1, Acc s, Acc maximum) {
    using kernels::load;
    constexpr int kSize = static_cast<int>(sizeof(S));
    Acc col[(kChunk + 3) * P];
    S out[kChunk * P];
    const std::int32_t first = (x0 - 2) * P;  // sample index of the first column
    const std::int32_t columns = (x1 - x0 + 3) * P;
    const std::uint8_t* r0 = rows.r[0] + static_cast<std::ptrdiff_t>(first) * kSize;
    const std::uint8_t* r1 = rows.r[1] + static_cast<std::ptrdiff_t>(first) * kSize;
    const std::uint8_t* r2 = rows.r[2] + static_cast<std::ptrdiff_t>(first) * kSize;
    const std::uint8_t* r3 = rows.r[3] + static_cast<std::ptrdiff_t>(first) * kSize;
    for (std::int32_t i = 0; i < columns; ++i) {
        const std::ptrdiff_t o = static_cast<std::ptrdiff_t>(i) * kSize;
        col[i] = static_cast<Acc>(static_cast<Acc>(load<S>(r0 + o)) + static_cast<Acc>(load<S>(r1 + o)) +
                                  static_cast<Acc>(load<S>(r2 + o)) + static_cast<Acc>(load<S>(r3 + o)));
    }
    const std::int32_t n = (x1 - x0) * P;
    const std::uint8_t* centre = r2 + static_cast<std::ptrdiff_t>(2 * P) * kSize;
    std::uint8_t* d = rows.d + static_cast<std::ptrdiff_t>(x0) * P * kSize;
    // Straight into the destination when every sample is written.
    std::uint8_t* target = P == kChannels ? d : reinterpret_cast<std::uint8_t*>(out);
    for (std::int32_t j = 0; j < n; ++j) {
        const auto near = static_cast<Acc>(col[j + P] + col[j + 2 * P]);
        const auto far = static_cast<Acc>(col[j] + col[j + 3 * P]);
        const auto blur = static_cast<Acc>(static_cast<Acc>(near + far) >> 4);
        const auto v = static_cast<Acc>(load<S>(centre + static_cast<std::ptrdiff_t>(j) * kSize));
        const auto term = static_cast<Acc>(static_cast<Acc>(s * static_cast<Acc>(v - blur)) / 10);
        const auto value = static_cast<Acc>(v + term);
        kernels::store<S>(target + static_cast<std::ptrdiff_t>(j) * kSize,
                          static_cast<S>(std::clamp<Acc>(value, 0, maximum)));
    }
    if constexpr (P != kChannels) {
        // Whole pixels as words: the fourth sample comes from the destination.
        using Word = std::conditional_t<kSize == 1, std::uint32_t, std::uint64_t>;
        constexpr auto kKeep =
            static_cast<Word>(kSize == 1 ? 0xFF00'0000ULL : 0xFFFF'0000'0000'0000ULL);
        for (std::int32_t x = 0; x < x1 - x0; ++x) {
            const std::ptrdiff_t o = static_cast<std::ptrdiff_t>(x) * P * kSize;
            Word fresh;
            std::memcpy(&fresh, reinterpret_cast<const std::uint8_t*>(out) + o, sizeof(Word));
            const Word old = kernels::load<Word>(d + o);
            kernels::store<Word>(d + o, (fresh & ~kKeep) | (old & kKeep));
        }
    }
}

template <typename S, typename Acc, int P, int kChannels>
[[gnu::always_inline]] inline void sharpen_row_flat(const RowSet& rows, std::int32_t w,
                                                    std::int32_t s, std::int32_t maximum) {
    for (std::int32_t x0 = 2; x0 < w - 2; x0 += kChunk) {
        const std::int32_t x1 = std::min(x0 + kChunk, w - 2);
        sharpen_chunk<S, Acc, P, kChannels>(rows, x0, x1, static_cast<Acc>(s),
                                            static_cast<Acc>(maximum));
    }
}

// Every row of the rectangle, or with `one` just that row.
template <typename S, typename Acc, int P, int kChannels>
[[gnu::always_inline]] inline void sharpen_flat(const kernels::RectArgs& a, const RowSet* one,
                                                std::int32_t s, std::int32_t maximum) {
    const std::int32_t w = a.rect.width();
    if (one != nullptr) {
        sharpen_row_flat<S, Acc, P, kChannels>(*one, w, s, maximum);
        return;
    }
    for (std::int32_t y = 2; y <= a.rect.height() - 3; ++y) {
        const RowSet rows{{a.src_row(y - 2), a.src_row(y - 1), a.src_row(y), a.src_row(y + 1)},
                          a.dst_row(y)};
        sharpen_row_flat<S, Acc, P, kChannels>(rows, w, s, maximum);
    }
}

template <typename S, typename Acc, int P, int kChannels>
void sharpen_flat_plain(const kernels::RectArgs& a, const RowSet* one, std::int32_t s,
                        std::int32_t maximum) {
    sharpen_flat<S, Acc, P, kChannels>(a, one, s, maximum);
}

#if ZBX_X86_SIMD
template <typename S, typename Acc, int P, int kChannels>
__attribute__((target("avx2"))) void sharpen_flat_avx2(const kernels::RectArgs& a,
                                                        const RowSet* one, std::int32_t s,
                                                        std::int32_t maximum) {
    sharpen_flat<S, Acc, P, kChannels>(a, one, s, maximum);
}

template <typename S, typename Acc, int P, int kChannels>
__attribute__((target("avx512f,avx512bw,avx512vl,prefer-vector-width=512"))) void
sharpen_flat_avx512(const kernels::RectArgs& a, const RowSet* one, std::int32_t s,
                    std::int32_t maximum) {
    sharpen_flat<S, Acc, P, kChannels>(a, one, s, maximum);
}

#endif  // ZBX_X86_SIMD

template <typename S, int P, int kChannels>
void sharpen_flat_any(const kernels::RectArgs& a, const RowSet* one, std::int32_t s,
                      std::int32_t maximum) {
    // Sums of 16 8-bit samples and their terms fit 16 bits.
    using Acc = std::conditional_t<sizeof(S) == 1, std::int16_t, std::int32_t>;
#if ZBX_X86_SIMD
    if (kernels::use_avx512()) {
        sharpen_flat_avx512<S, Acc, P, kChannels>(a, one, s, maximum);
        return;
    }
    if (kernels::use_avx2()) {
        sharpen_flat_avx2<S, Acc, P, kChannels>(a, one, s, maximum);
        return;
    }
#endif
    sharpen_flat_plain<S, Acc, P, kChannels>(a, one, s, maximum);
}

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
        sharpen_flat_any<S, T::kChannels, T::kChannels>(args, one, s, maximum);
        return;
    }
    if constexpr (T::kChannels == 3) {
        if (args.src_bpp == 4 * kSize) {
            sharpen_flat_any<S, 4, T::kChannels>(args, one, s, maximum);
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
