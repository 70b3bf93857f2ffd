// Loop skeletons shared by the per-sample adjustments: they walk a
// rectangle handed over by the transfer and apply one operation to every
// processed channel of every pixel.  The pixel size is fixed at compile
// time for the common layouts, so the inner loop has no format branching.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>

#include "pipeline/adjust.h"
#include "pipeline/transfer.h"

namespace zbx::pipeline::kernels {

template <Variant V>
struct Traits;
template <>
struct Traits<Variant::kGrey8> {
    using Sample = std::uint8_t;
    static constexpr int kChannels = 1;
};
template <>
struct Traits<Variant::kGrey16> {
    using Sample = std::uint16_t;
    static constexpr int kChannels = 1;
};
template <>
struct Traits<Variant::kColour8> {
    using Sample = std::uint8_t;
    static constexpr int kChannels = 3;
};
template <>
struct Traits<Variant::kColour16> {
    using Sample = std::uint16_t;
    static constexpr int kChannels = 3;
};

// False while ForcePlainAdjustments holds: then only the plain kernels
// run.  Otherwise the vector kernels run on the target the portable vector
// layer dispatches to (simd::force_target pins one for comparisons).
[[nodiscard]] bool vector_kernels();

// lut[] on n bytes from s to d (the two may be the same).  With `fourth`,
// every fourth byte (index 3 mod 4) is left as it is in d.
void table_bytes(const std::uint8_t* s, std::uint8_t* d, std::int32_t n, bool fourth,
                 const std::uint8_t* lut);

// A byte table that is v -> min(v * whole + ((v * frac) >> 16), 255) for
// every v (brightness tables mostly are).
struct ByteScale {
    std::int16_t whole = 0;
    std::uint16_t frac = 0;
};

// The linear form of a 256-entry table, when it has one whose `whole` is
// 0..127: false otherwise.
[[nodiscard]] bool find_byte_scale(const std::uint8_t* lut, ByteScale& scale);

// One row of 8-bit sharpening from source rows y-2..y+1 into `dst`, all at
// pixel 0, `width` >= 5 pixels of `bpp` (1, 3 or 4) bytes, strength 0..30:
// pixels 2..width-3 get the sharpened value, the two at each end the
// rows[2] value, each through lut[] when there is one (`scale`, when given,
// being its linear form).  Fourth bytes of 4-byte pixels are kept.
void sharpen_row8(const std::uint8_t* const rows[4], std::uint8_t* dst, std::int32_t width,
                  int bpp, std::int32_t strength, const std::uint8_t* lut,
                  const ByteScale* scale = nullptr);

// Rows y-2..y+1 of a sharpening source and the destination row y, all at
// pixel 0.
struct SharpenRows {
    const std::uint8_t* r[4];
    std::uint8_t* d;
};

struct RectArgs;

// The sharpness rows of pixels holding just their `channels` samples
// (`samples` == channels) or a fourth one (`samples` == 4), samples of
// `sample_bytes` (1 or 2): every row of `a` two inside its edges, or with
// `one` just that row (`a` then gives only the width).  Limits to
// 0..maximum; fourth samples are kept.
void sharpen_flat(const RectArgs& a, const SharpenRows* one, std::int32_t s, std::int32_t maximum,
                  int sample_bytes, int samples, int channels);

// Samples are little-endian in the stores; memcpy keeps the access defined
// for any store and compiles to a plain load.
template <typename S>
inline S load(const std::uint8_t* p) {
    S v;
    std::memcpy(&v, p, sizeof(S));
    return v;
}
template <typename S>
inline void store(std::uint8_t* p, S v) {
    std::memcpy(p, &v, sizeof(S));
}

// The arguments of a rectangle callback, gathered once.
struct RectArgs {
    std::uint8_t* dst;
    const std::uint8_t* src;
    Rect rect;
    std::int32_t dst_x;
    std::int32_t dst_y;
    std::int32_t dst_bpp;
    std::int32_t src_bpp;
    std::int32_t dst_stride;
    std::int32_t src_stride;

    [[nodiscard]] const std::uint8_t* src_row(std::int32_t y) const {
        return src + static_cast<std::ptrdiff_t>(rect.top + y) * src_stride +
               static_cast<std::ptrdiff_t>(rect.left) * src_bpp;
    }
    [[nodiscard]] std::uint8_t* dst_row(std::int32_t y) const {
        return dst + static_cast<std::ptrdiff_t>(dst_y + y) * dst_stride +
               static_cast<std::ptrdiff_t>(dst_x) * dst_bpp;
    }
};

// True when both sides are pixels of one size that hold the variant's
// channels, and the rectangle is not empty.
template <Variant V>
[[nodiscard]] bool layout_fits(const RectArgs& a) {
    using T = Traits<V>;
    const int need = T::kChannels * static_cast<int>(sizeof(typename T::Sample));
    return a.dst != nullptr && a.src != nullptr && a.dst_bpp == a.src_bpp &&
           a.src_bpp >= need && a.src_bpp % static_cast<int>(sizeof(typename T::Sample)) == 0 &&
           a.rect.width() > 0 && a.rect.height() > 0;
}

template <Variant V, int kPixelBytes, typename Op>
void sample_loop(const RectArgs& a, int pixel_bytes, Op& op) {
    using T = Traits<V>;
    using S = typename T::Sample;
    const int step = kPixelBytes != 0 ? kPixelBytes : pixel_bytes;
    const std::int32_t w = a.rect.width();
    for (std::int32_t y = 0; y < a.rect.height(); ++y) {
        const std::uint8_t* s = a.src_row(y);
        std::uint8_t* d = a.dst_row(y);
        if constexpr (kPixelBytes == T::kChannels * static_cast<int>(sizeof(S))) {
            // Every sample of the row is processed: one flat walk.
            const std::int32_t n = w * T::kChannels;
            for (std::int32_t i = 0; i < n; ++i) {
                store<S>(d + i * sizeof(S), op(load<S>(s + i * sizeof(S))));
            }
        } else {
            for (std::int32_t x = 0; x < w; ++x) {
                const std::uint8_t* sp = s + x * step;
                std::uint8_t* dp = d + x * step;
                for (int c = 0; c < T::kChannels; ++c) {
                    store<S>(dp + c * sizeof(S), op(load<S>(sp + c * sizeof(S))));
                }
            }
        }
    }
}

// Replaces each processed sample s by op(s).  Returns 1, or 0 (nothing
// touched) when the layout does not suit the variant.
template <Variant V, typename Op>
int for_each_sample(const RectArgs& a, Op op) {
    using T = Traits<V>;
    constexpr int kSize = static_cast<int>(sizeof(typename T::Sample));
    if (!layout_fits<V>(a)) return 0;
    if (a.src_bpp == T::kChannels * kSize) {
        sample_loop<V, T::kChannels * kSize>(a, a.src_bpp, op);
    } else if (a.src_bpp == 4 * kSize) {
        sample_loop<V, 4 * kSize>(a, a.src_bpp, op);
    } else {
        sample_loop<V, 0>(a, a.src_bpp, op);
    }
    return 1;
}

// Replaces each processed byte s of an 8-bit picture by lut[s].  Eight
// bytes go through the table per step and leave in one store; in 4-byte
// colour pixels the fourth byte is kept from the destination word.  Layouts
// other than 1, 3 or 4 bytes per pixel take the per-sample loop.
template <Variant V>
int for_each_byte_lut(const RectArgs& a, const std::uint8_t* lut) {
    using T = Traits<V>;
    static_assert(sizeof(typename T::Sample) == 1);
    if (!layout_fits<V>(a)) return 0;
    const bool flat = a.src_bpp == T::kChannels;
    const bool fourth = T::kChannels == 3 && a.src_bpp == 4;
    if (!flat && !fourth) {
        return for_each_sample<V>(a, [lut](std::uint8_t v) { return lut[v]; });
    }
    if (vector_kernels()) {
        for (std::int32_t y = 0; y < a.rect.height(); ++y) {
            table_bytes(a.src_row(y), a.dst_row(y), a.rect.width() * a.src_bpp, fourth, lut);
        }
        return 1;
    }
    // Keep mask of one 8-byte step: the fourth byte of each pixel.
    const std::uint64_t keep = fourth ? 0xFF000000'FF000000ULL : 0;
    const std::int32_t n = a.rect.width() * a.src_bpp;
    for (std::int32_t y = 0; y < a.rect.height(); ++y) {
        const std::uint8_t* s = a.src_row(y);
        std::uint8_t* d = a.dst_row(y);
        std::int32_t i = 0;
        for (; i + 8 <= n; i += 8) {
            const std::uint64_t v = load<std::uint64_t>(s + i);
            std::uint64_t out = 0;
            for (int b = 0; b < 8; ++b) {
                out |= static_cast<std::uint64_t>(lut[(v >> (8 * b)) & 0xFF]) << (8 * b);
            }
            const std::uint64_t old = fourth ? load<std::uint64_t>(d + i) : 0;
            store<std::uint64_t>(d + i, (out & ~keep) | (old & keep));
        }
        for (; i < n; ++i) {
            if (!fourth || i % 4 != 3) d[i] = lut[s[i]];
        }
    }
    return 1;
}

inline RectArgs make_args(std::uint8_t* dst, const std::uint8_t* src, const Rect* src_rect,
                          std::int32_t dst_x, std::int32_t dst_y, std::uint16_t dst_bpp,
                          std::uint16_t src_bpp, std::int32_t dst_stride,
                          std::int32_t src_stride) {
    return RectArgs{dst,   src,     src_rect != nullptr ? *src_rect : Rect{},
                    dst_x, dst_y,   dst_bpp,
                    src_bpp, dst_stride, src_stride};
}

// Sample bits of a record, limited to 8..16.
inline int limit_bits(std::int32_t bits) { return std::clamp<std::int32_t>(bits, 8, 16); }

// A 16-bit lookup table of 2^bits entries: inline storage for the 12-bit
// samples of this system, the heap only for wider ones.
class Lut16 {
public:
    explicit Lut16(int entries) : size_(entries) {
        if (entries > static_cast<int>(inline_.size())) {
            heap_ = std::make_unique<std::uint16_t[]>(static_cast<std::size_t>(entries));
        }
    }
    std::uint16_t* data() { return heap_ ? heap_.get() : inline_.data(); }
    [[nodiscard]] const std::uint16_t* data() const {
        return heap_ ? heap_.get() : inline_.data();
    }
    [[nodiscard]] int size() const { return size_; }

private:
    int size_;
    std::array<std::uint16_t, 4096> inline_{};
    std::unique_ptr<std::uint16_t[]> heap_;
};

}  // namespace zbx::pipeline::kernels

namespace zbx::pipeline::kernels {

// Turns a body taking the gathered arguments into a rectangle callback.
template <int (*Body)(const RectArgs&, void*)>
int as_callback(std::uint8_t* dst, const std::uint8_t* src, const Rect* src_rect,
                std::int32_t dst_x, std::int32_t dst_y, std::uint16_t dst_bytes_pp,
                std::uint16_t src_bytes_pp, std::int32_t dst_stride, std::int32_t src_stride,
                void* params, void* /*extra*/) {
    if (params == nullptr || src_rect == nullptr) return 0;
    return Body(make_args(dst, src, src_rect, dst_x, dst_y, dst_bytes_pp, src_bytes_pp,
                          dst_stride, src_stride),
                params);
}

// The callback of one of four variants chosen by colour mode, or nullptr.
template <int (*Grey8)(const RectArgs&, void*), int (*Grey16)(const RectArgs&, void*),
          int (*Colour8)(const RectArgs&, void*), int (*Colour16)(const RectArgs&, void*)>
RectCallback select(int colour_mode) {
    Variant v{};
    if (!variant_for_mode(colour_mode, v)) return nullptr;
    switch (v) {
        case Variant::kGrey8: return &as_callback<Grey8>;
        case Variant::kGrey16: return &as_callback<Grey16>;
        case Variant::kColour8: return &as_callback<Colour8>;
        case Variant::kColour16: return &as_callback<Colour16>;
    }
    return nullptr;
}

}  // namespace zbx::pipeline::kernels
