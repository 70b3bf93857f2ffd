// Sharpening rows on every target of the portable vector layer.
//
// The 8-bit row of the adjustment sequence splits each vector of bytes into
// its even and odd bytes, each set in 16-bit lanes (mask and shift, no
// cross-lane widening): the column sums of four rows go into two arrays per
// chunk, the blur adds four of them P bytes apart (an odd P swaps the
// parity), and the term trunc(s * (v - blur) / 10) is
// mulhi(t, 6554) + (t < 0) for t = s * (v - blur): |t| <= 30 * 255, where
// 6554 / 65536 exceeds 1/10 by too little to reach the next integer and the
// correction turns floor into truncation.  The limited results go back into
// bytes as even | odd << 8, so no shuffle is needed, and then through the
// table (brightness after sharpening) when there is one.  A table of the
// linear form min(v * whole + ((v * frac) >> 16), 255) is applied as that
// (two multiplies on the 16-bit lanes) except where byte permutes make the
// table itself cheaper: on AVX2 the table lookup cost as much as the
// sharpening.
//
// The flat rows of the sharpness callback are the plain loops of
// SharpenFlat, which the compiler vectorises for each target.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "pipeline/adjust_sharpen_rows.cpp"
// Scalable (SVE) vectors cannot be held in arrays; NEON serves ARM.
#ifndef HWY_DISABLED_TARGETS
#define HWY_DISABLED_TARGETS (HWY_SVE | HWY_SVE2 | HWY_SVE_256 | HWY_SVE2_128)
#endif
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include <algorithm>
#include <cstring>
#include <type_traits>

#include <hwy/highway.h>

#include "pipeline/adjust_kernels.h"
#include "pipeline/byte_table-inl.h"

HWY_BEFORE_NAMESPACE();
namespace zbx::pipeline::kernels::HWY_NAMESPACE {

namespace hn = hwy::HWY_NAMESPACE;

namespace {

// Output pixels x0..x1-1 (2 <= x0, x1 <= width - 2) of one row, with P
// samples per pixel of which the first kChannels are written: first the
// column sums of four rows for every sample of the chunk, then per sample
// blur = (four column sums one pixel apart) >> 4 and the term, both over
// flat sample runs the compiler vectorises (16-bit lanes for 8-bit
// pictures, where every sum fits).  Fourth samples are computed too and
// then left as they were when the chunk is written.
constexpr std::int32_t kFlatChunk = 256;

template <typename S, typename Acc, int P, int kChannels>
HWY_INLINE void flat_chunk(const SharpenRows& rows, std::int32_t x0, std::int32_t x1, Acc s,
                           Acc maximum) {
    constexpr int kSize = static_cast<int>(sizeof(S));
    Acc col[(kFlatChunk + 3) * P];
    S out[kFlatChunk * P];
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
        store<S>(target + static_cast<std::ptrdiff_t>(j) * kSize,
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
            const Word old = load<Word>(d + o);
            store<Word>(d + o, (fresh & ~kKeep) | (old & kKeep));
        }
    }
}

template <typename S, int P, int kChannels>
void flat_rows(const RectArgs& a, const SharpenRows* one, std::int32_t s, std::int32_t maximum) {
    // Sums of 16 8-bit samples and their terms fit 16 bits.
    using Acc = std::conditional_t<sizeof(S) == 1, std::int16_t, std::int32_t>;
    const std::int32_t w = a.rect.width();
    auto row = [&](const SharpenRows& rows) {
        for (std::int32_t x0 = 2; x0 < w - 2; x0 += kFlatChunk) {
            flat_chunk<S, Acc, P, kChannels>(rows, x0, std::min(x0 + kFlatChunk, w - 2),
                                             static_cast<Acc>(s), static_cast<Acc>(maximum));
        }
    };
    if (one != nullptr) {
        row(*one);
        return;
    }
    for (std::int32_t y = 2; y <= a.rect.height() - 3; ++y) {
        row(SharpenRows{{a.src_row(y - 2), a.src_row(y - 1), a.src_row(y), a.src_row(y + 1)},
                        a.dst_row(y)});
    }
}

#if HWY_TARGET != HWY_SCALAR  // the one-lane target takes the flat rows
using D16 = hn::ScalableTag<std::int16_t>;
using V16 = hn::Vec<D16>;

// Output bytes per chunk: its column sums (two 16-bit arrays) stay in L1.
constexpr std::int32_t kChunk = 2048;
constexpr std::int32_t kLanes = (kChunk + 16 + 4 * HWY_MAX_BYTES) / 2;

// A vector of bytes from p of which only the first `count` (may be <= 0)
// are read; the rest are zero.
HWY_INLINE hn::Vec<D8> load_part(D8 d, const std::uint8_t* p, std::int32_t count) {
    const auto lanes = static_cast<std::int32_t>(hn::Lanes(d));
    if (count >= lanes) return hn::LoadU(d, p);
    alignas(HWY_MAX_BYTES) std::uint8_t buffer[HWY_MAX_BYTES] = {};
    if (count > 0) std::memcpy(buffer, p, static_cast<std::size_t>(count));
    return hn::Load(d, buffer);
}

// value + trunc(s * (value - blur) / 10), limited to 0..255.
HWY_INLINE V16 sharpened(D16 d, V16 value, V16 blur, V16 strength) {
    const V16 t = hn::Mul(strength, hn::Sub(value, blur));
    const V16 term = hn::Sub(hn::MulHigh(t, hn::Set(d, 6554)), hn::ShiftRight<15>(t));
    return hn::Min(hn::Max(hn::Add(value, term), hn::Zero(d)), hn::Set(d, 255));
}

// What follows sharpening: nothing, the table, or the table's linear form.
enum class After { kNone, kTable, kScale };

template <int P, After kAfter>
HWY_INLINE void sharpen_chunk(const std::uint8_t* const rows[4], std::uint8_t* dst, std::int32_t n,
                              std::int32_t a, std::int32_t b, std::int16_t strength,
                              const ByteTable& table, ByteScale scale) {
    const D8 d8;
    const D16 d16;
    const auto bytes = static_cast<std::int32_t>(hn::Lanes(d8));
    const auto lanes = static_cast<std::int32_t>(hn::Lanes(d16));
    HWY_ALIGN std::int16_t even[kLanes];
    HWY_ALIGN std::int16_t odd[kLanes];
    // Column sums from 2P bytes before the first output to those the last
    // step's blur reads (P bytes and a vector beyond its start).
    const std::int32_t base = a - 2 * P;
    const std::int32_t blocks = (b + P + bytes - base + bytes - 1) / bytes;
    const V16 low = hn::Set(d16, 0xFF);
    for (std::int32_t k = 0; k < blocks; ++k) {
        const std::int32_t from = base + bytes * k;
        V16 e = hn::Zero(d16);
        V16 o = hn::Zero(d16);
#pragma GCC unroll 4
        for (int r = 0; r < 4; ++r) {
            const V16 v = hn::BitCast(d16, load_part(d8, rows[r] + from, n - from));
            e = hn::Add(e, hn::And(v, low));
            o = hn::Add(o, hn::BitCast(d16, hn::ShiftRight<8>(hn::BitCast(hn::RebindToUnsigned<D16>(), v))));
        }
        hn::Store(e, d16, even + lanes * k);
        hn::Store(o, d16, odd + lanes * k);
    }
    // Column sums P bytes before and after: same parity for even P.
    constexpr int kBack = P % 2 == 0 ? P / 2 : (P + 1) / 2;
    constexpr int kAhead = P % 2 == 0 ? P / 2 : (P - 1) / 2;
    const V16 s = hn::Set(d16, strength);
    const hn::Repartition<std::uint32_t, D8> d32;
    const auto keep = hn::MaskFromVec(hn::BitCast(d8, hn::Set(d32, 0xFF000000u)));
    const auto at = [&](const std::int16_t* t, std::int32_t i) { return hn::LoadU(d16, t + i); };
    for (std::int32_t j = a; j < b; j += bytes) {
        const std::int32_t mj = (j - base) / 2;
        V16 be;
        V16 bo;
        if constexpr (P % 2 == 0) {
            be = hn::Add(hn::Add(at(even, mj - P), at(even, mj - kBack)),
                         hn::Add(at(even, mj), at(even, mj + kAhead)));
            bo = hn::Add(hn::Add(at(odd, mj - P), at(odd, mj - kBack)),
                         hn::Add(at(odd, mj), at(odd, mj + kAhead)));
        } else {
            be = hn::Add(hn::Add(at(even, mj - P), at(odd, mj - kBack)),
                         hn::Add(at(even, mj), at(odd, mj + kAhead)));
            bo = hn::Add(hn::Add(at(odd, mj - P), at(even, mj - kAhead)),
                         hn::Add(at(odd, mj), at(even, mj + kBack)));
        }
        be = hn::ShiftRight<4>(be);
        bo = hn::ShiftRight<4>(bo);
        const V16 v = hn::BitCast(d16, load_part(d8, rows[2] + j, n - j));
        V16 oe = sharpened(d16, hn::And(v, low), be, s);
        V16 oo = sharpened(
            d16, hn::BitCast(d16, hn::ShiftRight<8>(hn::BitCast(hn::RebindToUnsigned<D16>(), v))),
            bo, s);
        if constexpr (kAfter == After::kScale) {
            // v * whole + ((v * frac) >> 16), limited to 255.
            const hn::RebindToUnsigned<D16> du;
            const auto whole = hn::Set(d16, scale.whole);
            const auto frac = hn::Set(du, scale.frac);
            const auto top = hn::Set(d16, 255);
            oe = hn::Min(hn::Add(hn::Mul(oe, whole), hn::BitCast(d16, hn::MulHigh(hn::BitCast(du, oe), frac))), top);
            oo = hn::Min(hn::Add(hn::Mul(oo, whole), hn::BitCast(d16, hn::MulHigh(hn::BitCast(du, oo), frac))), top);
        }
        auto out = hn::BitCast(d8, hn::Or(oe, hn::ShiftLeft<8>(oo)));
        if constexpr (kAfter == After::kTable) out = table(out);
        std::uint8_t* d = dst + j;
        if (b - j >= bytes) {
            if constexpr (P == 4) out = hn::IfThenElse(keep, hn::LoadU(d8, d), out);
            hn::StoreU(out, d8, d);
        } else {
            HWY_ALIGN std::uint8_t buffer[HWY_MAX_BYTES];
            hn::Store(out, d8, buffer);
            for (std::int32_t i = 0; i < b - j; ++i) {
                if (P != 4 || i % 4 != 3) d[i] = buffer[i];
            }
        }
    }
}

template <int P, After kAfter>
HWY_NOINLINE void sharpen_row_bpp(const std::uint8_t* const rows[4], std::uint8_t* dst,
                                  std::int32_t width, std::int32_t strength, const ByteTable& table,
                                  ByteScale scale) {
    const std::int32_t n = width * P;
    for (std::int32_t a = 2 * P; a < n - 2 * P; a += kChunk) {
        sharpen_chunk<P, kAfter>(rows, dst, n, a, std::min(a + kChunk, n - 2 * P),
                                 static_cast<std::int16_t>(strength), table, scale);
    }
}

template <After kAfter>
void sharpen_row_after(const std::uint8_t* const rows[4], std::uint8_t* dst, std::int32_t width,
                       int bpp, std::int32_t strength, const ByteTable& table, ByteScale scale) {
    if (bpp == 1) {
        sharpen_row_bpp<1, kAfter>(rows, dst, width, strength, table, scale);
    } else if (bpp == 3) {
        sharpen_row_bpp<3, kAfter>(rows, dst, width, strength, table, scale);
    } else {
        sharpen_row_bpp<4, kAfter>(rows, dst, width, strength, table, scale);
    }
}

#endif

}  // namespace

void SharpenRow8(const std::uint8_t* const rows[4], std::uint8_t* dst, std::int32_t width,
                 int bpp, std::int32_t strength, const std::uint8_t* lut, const ByteScale* scale) {
#if HWY_TARGET == HWY_SCALAR
    (void)scale;
    const Rect rect{0, 0, width, 1};
    const auto b = static_cast<std::uint16_t>(bpp);
    const RectArgs args = make_args(dst, rows[2], &rect, 0, 0, b, b, 0, 0);
    const SharpenRows set{{rows[0], rows[1], rows[2], rows[3]}, dst};
    if (bpp == 1) {
        flat_rows<std::uint8_t, 1, 1>(args, &set, strength, 255);
    } else if (bpp == 3) {
        flat_rows<std::uint8_t, 3, 3>(args, &set, strength, 255);
    } else {
        flat_rows<std::uint8_t, 4, 3>(args, &set, strength, 255);
    }
    if (lut != nullptr) {
        for (std::int32_t i = 2 * bpp; i < (width - 2) * bpp; ++i) {
            if (bpp != 4 || i % 4 != 3) dst[i] = lut[dst[i]];
        }
    }
#else
    static constexpr std::uint8_t kUnused[256] = {};
    const ByteTable table(lut != nullptr ? lut : kUnused);
    // With byte permutes the table is cheaper than the two multiplies.
    const bool arithmetic = scale != nullptr && HWY_TARGET != HWY_AVX3_DL;
    if (lut == nullptr) {
        sharpen_row_after<After::kNone>(rows, dst, width, bpp, strength, table, ByteScale{});
    } else if (arithmetic) {
        sharpen_row_after<After::kScale>(rows, dst, width, bpp, strength, table, *scale);
    } else {
        sharpen_row_after<After::kTable>(rows, dst, width, bpp, strength, table, ByteScale{});
    }
#endif
}

void SharpenFlat(const RectArgs& a, const SharpenRows* one, std::int32_t s, std::int32_t maximum,
                 int sample_bytes, int samples, int channels) {
    if (sample_bytes == 1) {
        if (channels == 1) {
            flat_rows<std::uint8_t, 1, 1>(a, one, s, maximum);
        } else if (samples == 3) {
            flat_rows<std::uint8_t, 3, 3>(a, one, s, maximum);
        } else {
            flat_rows<std::uint8_t, 4, 3>(a, one, s, maximum);
        }
    } else if (channels == 1) {
        flat_rows<std::uint16_t, 1, 1>(a, one, s, maximum);
    } else if (samples == 3) {
        flat_rows<std::uint16_t, 3, 3>(a, one, s, maximum);
    } else {
        flat_rows<std::uint16_t, 4, 3>(a, one, s, maximum);
    }
}

}  // namespace zbx::pipeline::kernels::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace zbx::pipeline::kernels {

HWY_EXPORT(SharpenRow8);

bool find_byte_scale(const std::uint8_t* lut, ByteScale& scale) {
    // T = whole * 65536 + frac must give floor(v * T / 65536) == lut[v]
    // below 255 and at least 255 where the table is 255: each v bounds T.
    if (lut[0] != 0) return false;
    std::int64_t lo = 0;
    std::int64_t hi = std::int64_t{128} * 65536 - 1;
    for (std::int64_t v = 1; v < 256; ++v) {
        const std::int64_t e = lut[v];
        lo = std::max(lo, (e * 65536 + v - 1) / v);
        if (e < 255) hi = std::min(hi, ((e + 1) * 65536 + v - 1) / v - 1);
    }
    if (lo > hi) return false;
    scale.whole = static_cast<std::int16_t>(lo >> 16);
    scale.frac = static_cast<std::uint16_t>(lo & 0xFFFF);
    return true;
}
HWY_EXPORT(SharpenFlat);

void sharpen_row8(const std::uint8_t* const rows[4], std::uint8_t* dst, std::int32_t width,
                  int bpp, std::int32_t strength, const std::uint8_t* lut,
                  const ByteScale* scale) {
    HWY_DYNAMIC_DISPATCH(SharpenRow8)(rows, dst, width, bpp, strength, lut, scale);
    // The two-pixel frame at both ends keeps the row's values (through the
    // table when there is one).
    const std::int32_t edge = 2 * bpp;
    const std::int32_t n = width * bpp;
    for (const std::int32_t from : {0, n - edge}) {
        for (std::int32_t i = from; i < from + edge; ++i) {
            if (bpp == 4 && i % 4 == 3) continue;
            dst[i] = lut != nullptr ? lut[rows[2][i]] : rows[2][i];
        }
    }
}

void sharpen_flat(const RectArgs& a, const SharpenRows* one, std::int32_t s, std::int32_t maximum,
                  int sample_bytes, int samples, int channels) {
    if (vector_kernels()) {
        HWY_DYNAMIC_DISPATCH(SharpenFlat)(a, one, s, maximum, sample_bytes, samples, channels);
    } else {
        HWY_STATIC_DISPATCH(SharpenFlat)(a, one, s, maximum, sample_bytes, samples, channels);
    }
}

}  // namespace zbx::pipeline::kernels
#endif  // HWY_ONCE
