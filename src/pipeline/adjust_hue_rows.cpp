// Hue and saturation on every target of the portable vector layer, one
// vector of pixels per step in 16-bit lanes (adjust_hue_saturation.cpp has
// the pixel rule and its plain kernel).
//
// Every intermediate of the rule stays below 2^16: the new chroma
// ((S + 256) * c + 128) >> 8 is split as (S + 256) = ah * 256 + al into
// ah * c + ((al * c + 128) >> 8), and q = (p * w + 128) >> 8 with p <= 254,
// w <= 255 is taken as unsigned.  The position p = (d * rc + 0x8000) >> 16
// with rc = 0xFF0000 / c runs in 32-bit lanes, rc being the truncated float
// quotient 16711680.0f / c, which equals the integer quotient for every c
// in 1..255 (checked exhaustively; the comparison tests walk every chroma).
// Each output channel is n, n + w, n + q or n + w - q, chosen by sector
// through byte lookups of sector + wrap (the hue's whole sectors folded
// into the tables once per call).  Fetching the reciprocal with 32-bit
// gathers from a table instead (then p in 16-bit lanes) measured no faster
// on AVX2 and slower on AVX-512, so the float division stays.
//
// 8-bit pixels are split into blue, green and red vectors by interleaved
// loads, widened to 16 bits, and the results narrowed back; a table, when
// given, then applies to the row's bytes after the interleaved stores.  16-bit
// samples are shifted down and limited to 255 first, the results shifted
// back up.  Fourth bytes or samples keep what the destination had.  The
// pixels after the last whole vector of a row are left to the caller.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "pipeline/adjust_hue_rows.cpp"
// Scalable (SVE) vectors cannot be held in a table object; NEON serves ARM.
#ifndef HWY_DISABLED_TARGETS
#define HWY_DISABLED_TARGETS (HWY_SVE | HWY_SVE2 | HWY_SVE_256 | HWY_SVE2_128)
#endif
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include <hwy/highway.h>

#include <array>

#include "pipeline/adjust_hue_saturation.h"
#include "pipeline/adjust_kernels.h"
#include "pipeline/byte_table-inl.h"

HWY_BEFORE_NAMESPACE();
namespace zbx::pipeline::kernels::HWY_NAMESPACE {

#if HWY_TARGET != HWY_SCALAR  // the one-lane target leaves every pixel to the plain rule
namespace {

using D16 = hn::ScalableTag<std::int16_t>;
using V16 = hn::Vec<D16>;
using DU16 = hn::ScalableTag<std::uint16_t>;

struct Consts {
    V16 sat_low;   // (S + 256) & 255
    bool sat_high; // (S + 256) >= 256
    V16 shift_mod;
    // By j = sector + wrap (0..6, in both bytes of a lane), whether the
    // sector k = (j + shift div 255) mod 6 gives red, green, blue the full
    // value or the moving one, and whether that one rises (k odd).
    V8 full[3];
    V8 moving[3];
    V8 odd;
    // Constants, kept here so that the compiler loads them (as operands)
    // rather than building each again from an immediate where registers
    // run short (AVX2 has 16).
    V16 v128, v254, v255, v511, byte_one, byte_three, byte_five;
    hn::Vec<hn::Repartition<std::int32_t, D16>> one32, half32;
    hn::Vec<hn::Repartition<float, D16>> numerator;
};

// Float to int32 toward zero for values known to fit: on x86 the bare
// conversion, without the portable layer's fix-up of out-of-range lanes.
template <class D32, class VF>
HWY_INLINE hn::Vec<D32> truncate(D32 d32, VF v) {
#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3
    (void)d32;
    return hn::Vec<D32>{_mm512_cvttps_epi32(v.raw)};
#elif HWY_ARCH_X86 && HWY_TARGET == HWY_AVX2
    (void)d32;
    return hn::Vec<D32>{_mm256_cvttps_epi32(v.raw)};
#elif HWY_ARCH_X86 && (HWY_TARGET == HWY_SSE4 || HWY_TARGET == HWY_SSSE3)
    (void)d32;
    return hn::Vec<D32>{_mm_cvttps_epi32(v.raw)};
#else
    return hn::ConvertTo(d32, v);
#endif
}

// p = (d * (0xFF0000 / c) + 0x8000) >> 16 in 32-bit lanes, each half of
// the lanes interleaved with zeros and packed back with saturation (d and
// c are 0..255, p 0..255), which keeps the lanes' order on every target
// without crossing 128-bit blocks.
HWY_INLINE V16 position(V16 dv, V16 c, const Consts& k) {
    const D16 d;
    const hn::Repartition<std::int32_t, D16> d32;
    const auto part = [&](hn::Vec<decltype(d32)> d0, hn::Vec<decltype(d32)> c0) {
        const auto rc = truncate(d32, hn::Div(k.numerator, hn::ConvertTo(hn::Repartition<float, D16>(), hn::Max(c0, k.one32))));
        return hn::ShiftRight<16>(hn::Add(hn::Mul(d0, rc), k.half32));
    };
    const V16 zero = hn::Zero(d);
    const auto lo = part(hn::ZipLower(dv, zero), hn::ZipLower(c, zero));
    const auto hi = part(hn::ZipUpper(d32, dv, zero), hn::ZipUpper(d32, c, zero));
    return hn::ReorderDemote2To(d, lo, hi);
}

// The pixel rule on blue, green, red 0..255 in 16-bit lanes.
HWY_INLINE void adjust(V16 b, V16 g, V16 r, const Consts& k, V16& ob, V16& og, V16& orr) {
    const D16 d;
    const DU16 du;
    const D8 d8;
    const V16 mx = hn::Max(hn::Max(r, g), b);
    const V16 mn = hn::Min(hn::Min(r, g), b);
    const V16 c = hn::Sub(mx, mn);
    const V16 l = hn::Add(mx, mn);
    const auto red = hn::Eq(r, mx);
    const auto green = hn::AndNot(red, hn::Eq(g, mx));
    // The sector in both bytes of each lane, for the byte lookups below.
    V16 sector = hn::IfThenElse(red, k.byte_one, hn::IfThenElse(green, k.byte_three, k.byte_five));
    V16 dv = hn::IfThenElse(red, hn::Sub(g, b), hn::IfThenElse(green, hn::Sub(b, r), hn::Sub(r, g)));
    const V16 negative = hn::ShiftRight<15>(dv);  // -1 where negative
    sector = hn::Sub(sector, hn::And(negative, k.byte_one));
    dv = hn::Add(dv, hn::And(c, negative));
    V16 sat = hn::BitCast(d, hn::ShiftRight<8>(hn::BitCast(du, hn::Add(hn::Mul(c, k.sat_low), k.v128))));
    if (k.sat_high) sat = hn::Add(sat, c);
    const V16 c2 = hn::Min(sat, hn::Min(l, hn::Sub(k.v511, l)));
    const V16 n = hn::ShiftRight<1>(hn::Sub(l, c2));
    // ((L + c2) >> 1) - ((L - c2) >> 1) is c2 itself: L + c2 and L - c2
    // are both even or both odd.
    const V16 w = c2;
    V16 p = hn::Add(position(dv, c, k), k.shift_mod);
    const V16 wrap = hn::VecFromMask(d, hn::Gt(p, k.v254));
    sector = hn::Add(sector, hn::And(wrap, k.byte_one));
    p = hn::Sub(p, hn::And(wrap, k.v255));
    const V16 q = hn::BitCast(d, hn::ShiftRight<8>(hn::BitCast(du, hn::Add(hn::Mul(p, w), k.v128))));
    const V16 full = hn::Add(n, w);
    const auto lookup = [&](V8 table) {
        return hn::MaskFromVec(hn::BitCast(d, hn::TableLookupBytes(table, hn::BitCast(d8, sector))));
    };
    const V16 moving = hn::IfThenElse(lookup(k.odd), hn::Add(n, q), hn::Sub(full, q));
    const auto channel = [&](int ch) {
        return hn::IfThenElse(lookup(k.full[ch]), full, hn::IfThenElse(lookup(k.moving[ch]), moving, n));
    };
    orr = channel(0);
    og = channel(1);
    ob = channel(2);
}

HWY_NOINLINE Consts consts_of(const HueSaturationRun::Plan& plan) {
    const D16 d;
    const D8 d8;
    const std::int32_t a256 = plan.saturation + 256;
    Consts k{};
    k.sat_low = hn::Set(d, static_cast<std::int16_t>(a256 & 255));
    k.sat_high = a256 >= 256;
    k.shift_mod = hn::Set(d, static_cast<std::int16_t>(plan.shift_mod));
    // Which channel is full and which moves, by sector (red, green, blue).
    constexpr int kFull[6] = {0, 0, 1, 1, 2, 2};
    constexpr int kMoving[6] = {2, 1, 0, 2, 1, 0};
    alignas(16) std::uint8_t bytes[7][16] = {};
    for (int j = 0; j < 16; ++j) {
        const int sector = (j + plan.shift_div) % 6;
        bytes[kFull[sector]][j] = 0xFF;
        bytes[3 + kMoving[sector]][j] = 0xFF;
        bytes[6][j] = (sector & 1) != 0 ? 0xFF : 0;
    }
    for (int ch = 0; ch < 3; ++ch) {
        k.full[ch] = hn::LoadDup128(d8, bytes[ch]);
        k.moving[ch] = hn::LoadDup128(d8, bytes[3 + ch]);
    }
    k.odd = hn::LoadDup128(d8, bytes[6]);
    k.v128 = hn::Set(d, 128);
    k.v254 = hn::Set(d, 254);
    k.v255 = hn::Set(d, 255);
    k.v511 = hn::Set(d, 511);
    k.byte_one = hn::Set(d, 0x0101);
    k.byte_three = hn::Set(d, 0x0303);
    k.byte_five = hn::Set(d, 0x0505);
    const hn::Repartition<std::int32_t, D16> d32;
    k.one32 = hn::Set(d32, 1);
    k.half32 = hn::Set(d32, 0x8000);
    k.numerator = hn::Set(hn::Repartition<float, D16>(), 16711680.0F);
    return k;
}

// Bytes zero-extended to 16-bit lanes, the low and high half of each
// 128-bit block; narrow() packs two such vectors back in the same order
// with saturation.  Neither crosses blocks.
HWY_INLINE void widen(V8 v, V16& lo, V16& hi) {
    const D16 d;
    const DU16 du;
    const D8 d8;
    lo = hn::BitCast(d, hn::ZipLower(v, hn::Zero(d8)));
    hi = hn::BitCast(d, hn::ZipUpper(du, v, hn::Zero(d8)));
}
HWY_INLINE V8 narrow(V16 lo, V16 hi) {
#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3
    return V8{_mm512_packus_epi16(lo.raw, hi.raw)};
#elif HWY_ARCH_X86 && HWY_TARGET == HWY_AVX2
    return V8{_mm256_packus_epi16(lo.raw, hi.raw)};
#elif HWY_ARCH_X86 && (HWY_TARGET == HWY_SSE4 || HWY_TARGET == HWY_SSSE3)
    return V8{_mm_packus_epi16(lo.raw, hi.raw)};
#else
    // One block per vector: halves in order.
    const D8 d8;
    const hn::Half<D8> dh8;
    return hn::Combine(d8, hn::DemoteTo(dh8, hi), hn::DemoteTo(dh8, lo));
#endif
}

// The rule on a vector of 8-bit channels.
HWY_INLINE void adjust8(V8 b8, V8 g8, V8 r8, const Consts& k, V8& ob8, V8& og8, V8& or8) {
    V16 lo[3];
    V16 hi[3];
    V16 in_lo[3];
    V16 in_hi[3];
    widen(b8, in_lo[0], in_hi[0]);
    widen(g8, in_lo[1], in_hi[1]);
    widen(r8, in_lo[2], in_hi[2]);
    adjust(in_lo[0], in_lo[1], in_lo[2], k, lo[0], lo[1], lo[2]);
    adjust(in_hi[0], in_hi[1], in_hi[2], k, hi[0], hi[1], hi[2]);
    ob8 = narrow(lo[0], hi[0]);
    og8 = narrow(lo[1], hi[1]);
    or8 = narrow(lo[2], hi[2]);
}

template <int kBpp, bool kTable>
std::int32_t hue_rows8(const RectArgs& a, const HueSaturationRun::Plan& plan,
                       const std::uint8_t* lut) {
    const D8 d8;
    const auto step = static_cast<std::int32_t>(hn::Lanes(d8));
    const std::int32_t done = a.rect.width() / step * step;
    const Consts k = consts_of(plan);
    static constexpr std::uint8_t kUnused[256] = {};
    const ByteTable table(kTable ? lut : kUnused);
    for (std::int32_t y = 0; y < a.rect.height(); ++y) {
        const std::uint8_t* s = a.src_row(y);
        std::uint8_t* d = a.dst_row(y);
        for (std::int32_t x = 0; x < done; x += step) {
            const std::ptrdiff_t o = static_cast<std::ptrdiff_t>(x) * kBpp;
            V8 b;
            V8 g;
            V8 r;
            V8 fourth;
            if constexpr (kBpp == 3) {
                hn::LoadInterleaved3(d8, s + o, b, g, r);
            } else {
                hn::LoadInterleaved4(d8, s + o, b, g, r, fourth);
                if (s != d) {
                    V8 t0;
                    V8 t1;
                    V8 t2;
                    hn::LoadInterleaved4(d8, d + o, t0, t1, t2, fourth);
                }
            }
            V8 ob;
            V8 og;
            V8 orr;
            adjust8(b, g, r, k, ob, og, orr);
            if constexpr (kBpp == 3) {
                hn::StoreInterleaved3(ob, og, orr, d8, d + o);
            } else {
                hn::StoreInterleaved4(ob, og, orr, fourth, d8, d + o);
            }
        }
        if constexpr (kTable) {
            // The table over the row just written, still in the nearest
            // cache: measured faster than looking it up in the loop above,
            // which then runs short of registers.  Fourth bytes stay.
            const hn::Repartition<std::uint32_t, D8> d32;
            const auto keep = hn::MaskFromVec(hn::BitCast(d8, hn::Set(d32, kBpp == 4 ? 0xFF000000u : 0u)));
            for (std::int32_t i = 0; i < done * kBpp; i += step) {
                const V8 v = hn::LoadU(d8, d + i);
                hn::StoreU(hn::IfThenElse(keep, v, table(v)), d8, d + i);
            }
        }
    }
    return done;
}

template <int kSamples>
std::int32_t hue_rows16(const RectArgs& a, const HueSaturationRun::Plan& plan, int down) {
    const DU16 du;
    const D16 d;
    const auto step = static_cast<std::int32_t>(hn::Lanes(du));
    const std::int32_t done = a.rect.width() / step * step;
    const Consts k = consts_of(plan);
    const auto top = hn::Set(du, 255);
    for (std::int32_t y = 0; y < a.rect.height(); ++y) {
        const auto* s = reinterpret_cast<const std::uint16_t*>(a.src_row(y));
        auto* t = reinterpret_cast<std::uint16_t*>(a.dst_row(y));
        for (std::int32_t x = 0; x < done; x += step) {
            const std::ptrdiff_t o = static_cast<std::ptrdiff_t>(x) * kSamples;
            hn::Vec<DU16> b;
            hn::Vec<DU16> g;
            hn::Vec<DU16> r;
            hn::Vec<DU16> fourth;
            if constexpr (kSamples == 3) {
                hn::LoadInterleaved3(du, s + o, b, g, r);
            } else {
                hn::LoadInterleaved4(du, s + o, b, g, r, fourth);
                if (s != t) {
                    hn::Vec<DU16> t0;
                    hn::Vec<DU16> t1;
                    hn::Vec<DU16> t2;
                    hn::LoadInterleaved4(du, t + o, t0, t1, t2, fourth);
                }
            }
            const auto narrow = [&](hn::Vec<DU16> v) {
                return hn::BitCast(d, hn::Min(hn::ShiftRightSame(v, down), top));
            };
            V16 ob;
            V16 og;
            V16 orr;
            adjust(narrow(b), narrow(g), narrow(r), k, ob, og, orr);
            const auto widen = [&](V16 v) { return hn::ShiftLeftSame(hn::BitCast(du, v), down); };
            if constexpr (kSamples == 3) {
                hn::StoreInterleaved3(widen(ob), widen(og), widen(orr), du, t + o);
            } else {
                hn::StoreInterleaved4(widen(ob), widen(og), widen(orr), fourth, du, t + o);
            }
        }
    }
    return done;
}

}  // namespace
#endif

std::int32_t HueRows(const RectArgs& a, const HueSaturationRun::Plan& plan,
                     const std::uint8_t* lut, int down) {
#if HWY_TARGET == HWY_SCALAR
    (void)a;
    (void)plan;
    (void)lut;
    (void)down;
    return 0;
#else
#if HWY_TARGET == HWY_AVX3_DL
    // The hand-written kernel is faster here (see adjust_hue_avx512.cpp).
    if (a.src_bpp == 3 || a.src_bpp == 4) {
        hue_rows_avx512(a, plan, lut);
        return a.rect.width();
    }
#endif
    switch (a.src_bpp) {
        case 3: return lut != nullptr ? hue_rows8<3, true>(a, plan, lut) : hue_rows8<3, false>(a, plan, lut);
        case 4: return lut != nullptr ? hue_rows8<4, true>(a, plan, lut) : hue_rows8<4, false>(a, plan, lut);
        case 6: return hue_rows16<3>(a, plan, down);
        case 8: return hue_rows16<4>(a, plan, down);
        default: return 0;
    }
#endif
}

}  // namespace zbx::pipeline::kernels::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace zbx::pipeline::kernels {

HWY_EXPORT(HueRows);

std::int32_t hue_rows(const RectArgs& a, const HueSaturationRun::Plan& plan,
                      const std::uint8_t* lut, int down) {
    return HWY_DYNAMIC_DISPATCH(HueRows)(a, plan, lut, down);
}

}  // namespace zbx::pipeline::kernels
#endif  // HWY_ONCE
