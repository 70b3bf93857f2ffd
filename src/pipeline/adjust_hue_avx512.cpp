// Hand-written hue and saturation of 8-bit pixels for AVX-512 with VBMI,
// kept beside the portable kernel (adjust_hue_rows.cpp), which runs it on
// that target: measured on 1280 x 720 Color24 the portable version takes
// about 30% longer, its interleaved loads, widening and float division for
// the position costing more than these byte permutes.  Row ends
// use masked loads and stores, so nothing is read or written past a row.
// A 256-entry byte table sits in four registers; two two-register byte
// permutes look up entries 0-127 and 128-255, and the index's top bit
// chooses between them.
//
// Hue and saturation run on 32 pixels per step in 16-bit lanes: byte
// permutes spread the blue, green and red bytes of 32 pixels into three
// registers, every intermediate of the pixel rule stays below 2^16, and
// p = (d * (0xFF0000 / c) + 0x8000) >> 16 is split with the reciprocal
// rc = rh * 65536 + rl into d * rh + mulhi(d, rl) + (mullo(d, rl) >> 15):
// the low product d * rl (below 2^24) rounds up exactly when its bit 15 is
// set.  The reciprocal's three bytes come from byte tables.
// gcc 12 takes the placeholder of a 512-bit register's undefined upper half
// (in the cast to 256 bits) for an uninitialised value.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include <algorithm>
#include <array>

#include "pipeline/adjust_hue_saturation.h"
#include "pipeline/adjust_kernels.h"
#include "pipeline/x86_simd.h"

#if ZBX_X86_SIMD

namespace zbx::pipeline::kernels {

#define ZBX_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi")))

namespace {

struct ByteTable {
    __m512i t0, t1, t2, t3;
};

ZBX_AVX512 inline ByteTable load_table(const std::uint8_t* lut) {
    return {_mm512_loadu_si512(lut), _mm512_loadu_si512(lut + 64), _mm512_loadu_si512(lut + 128),
            _mm512_loadu_si512(lut + 192)};
}

ZBX_AVX512 inline __m512i look_up(const ByteTable& t, __m512i v) {
    const __m512i low = _mm512_permutex2var_epi8(t.t0, v, t.t1);
    const __m512i high = _mm512_permutex2var_epi8(t.t2, v, t.t3);
    return _mm512_mask_blend_epi8(_mm512_movepi8_mask(v), low, high);
}

// The first n (0..64) bits set.
inline __mmask64 first(std::int32_t n) {
    return n >= 64 ? ~__mmask64{0} : (__mmask64{1} << n) - 1;
}

// Bytes of 0xFF0000 / c (0 for c = 0): byte 0, 1 and 2 tables.
constexpr std::array<std::uint8_t, 256> reciprocal_byte(int byte) {
    std::array<std::uint8_t, 256> t{};
    for (int c = 1; c < 256; ++c) t[c] = static_cast<std::uint8_t>((0xFF0000 / c) >> (8 * byte));
    return t;
}
constexpr std::array<std::uint8_t, 256> kRecip0 = reciprocal_byte(0);
constexpr std::array<std::uint8_t, 256> kRecip1 = reciprocal_byte(1);
constexpr std::array<std::uint8_t, 256> kRecip2 = reciprocal_byte(2);

// Byte indices that spread channel `ch` of 32 pixels of `bpp` bytes (in two
// registers) into the low bytes of 16-bit lanes.
constexpr std::array<std::uint8_t, 64> spread_index(int bpp, int ch) {
    std::array<std::uint8_t, 64> t{};
    for (int j = 0; j < 32; ++j) t[2 * j] = static_cast<std::uint8_t>(j * bpp + ch);
    return t;
}
// Byte indices that gather output bytes first..first+63 of 32 pixels from
// blue | green << 8 (first register) and red (second register) lanes.
constexpr std::array<std::uint8_t, 64> gather_index(int bpp, int first) {
    std::array<std::uint8_t, 64> t{};
    for (int i = 0; i < 64; ++i) {
        const int j = (first + i) / bpp;
        const int ch = (first + i) % bpp;
        t[i] = static_cast<std::uint8_t>(ch == 0 ? 2 * j : ch == 1 ? 2 * j + 1 : 64 + 2 * j);
    }
    return t;
}

template <int kBpp>
struct Indices {
    static constexpr std::array<std::uint8_t, 64> kB = spread_index(kBpp, 0);
    static constexpr std::array<std::uint8_t, 64> kG = spread_index(kBpp, 1);
    static constexpr std::array<std::uint8_t, 64> kR = spread_index(kBpp, 2);
    static constexpr std::array<std::uint8_t, 64> kOut0 = gather_index(kBpp, 0);
    static constexpr std::array<std::uint8_t, 64> kOut1 = gather_index(kBpp, 64);
};

constexpr __mmask64 kLowBytes = 0x5555'5555'5555'5555ULL;

// Role bits of a channel (blue 0, green 1, red 2) in a sector's code.
constexpr int kFull = 1;     // << channel: n + w
constexpr int kMoving = 8;   // << channel: n + q or n + w - q
constexpr int kRising = 64;  // the moving channel gets n + q

// Codes by j = sector + wrap (0..6), in every 16-byte block for a byte
// shuffle: sector k = (j + whole sectors of the hue shift) mod 6 makes red
// (k 0, 1), green (2, 3) or blue (4, 5) full, and moves blue (k 0, 3),
// green (1, 4) or red (2, 5), rising for odd k.
ZBX_AVX512 inline __m512i role_codes(std::int32_t shift_div) {
    std::uint8_t codes[64];
    for (int j = 0; j < 64; ++j) {
        const int k = (j % 16 + shift_div) % 6;
        const int full = k < 2 ? 2 : k < 4 ? 1 : 0;
        const int moving = k % 3;
        codes[j] = static_cast<std::uint8_t>((kFull << full) | (kMoving << moving) | (k % 2 != 0 ? kRising : 0));
    }
    return _mm512_loadu_si512(codes);
}

template <int kBpp, bool kTable>
ZBX_AVX512 void hue_rows_bpp(const RectArgs& a, const HueSaturationRun::Plan& plan,
                             const std::uint8_t* lut) {
    using I = Indices<kBpp>;
    const __m512i ib = _mm512_loadu_si512(I::kB.data());
    const __m512i ig = _mm512_loadu_si512(I::kG.data());
    const __m512i ir = _mm512_loadu_si512(I::kR.data());
    const __m512i io0 = _mm512_loadu_si512(I::kOut0.data());
    const __m512i io1 = _mm512_loadu_si512(I::kOut1.data());
    const ByteTable rh = load_table(kRecip2.data());
    const ByteTable rl0 = load_table(kRecip0.data());
    const ByteTable rl1 = load_table(kRecip1.data());
    ByteTable out_table{};
    if constexpr (kTable) out_table = load_table(lut);
    // (S + 256) = ah * 256 + al: sat[c] = ah * c + ((al * c + 128) >> 8).
    const std::int32_t a256 = plan.saturation + 256;
    const __m512i sat_low = _mm512_set1_epi16(static_cast<short>(a256 & 255));
    const bool sat_high = a256 >= 256;
    const __m512i shift_mod = _mm512_set1_epi16(static_cast<short>(plan.shift_mod));
    const __m512i roles = role_codes(plan.shift_div);
    const __m512i one = _mm512_set1_epi16(1);
    const __m512i v128 = _mm512_set1_epi16(128);
    // Fourth bytes stay as the destination has them.
    const __mmask64 write = kBpp == 4 ? ~__mmask64{0x8888'8888'8888'8888ULL} : ~__mmask64{0};
    const std::int32_t bytes = a.rect.width() * kBpp;
    for (std::int32_t y = 0; y < a.rect.height(); ++y) {
        const std::uint8_t* s = a.src_row(y);
        std::uint8_t* d = a.dst_row(y);
        // Whole steps load and store exactly their bytes without masks (a
        // wider masked store would stall the next step's load); the last,
        // partial step, if any, is masked.  Two loops, so that the whole
        // steps carry no mask arithmetic.
        const auto step = [&]<bool whole>(std::int32_t i) ZBX_AVX512 {
            const __mmask64 m0 = whole ? ~__mmask64{0} : first(bytes - i);
            // The second register holds the step's bytes 64..32 * kBpp - 1.
            const __mmask64 m1 = whole ? first(32 * kBpp - 64)
                                       : first(std::clamp(bytes - i - 64, 0, 32 * kBpp - 64));
            __m512i v0;
            __m512i v1;
            if constexpr (whole) {
                v0 = _mm512_loadu_si512(s + i);
                v1 = kBpp == 3 ? _mm512_maskz_loadu_epi8(first(32), s + i + 64)
                               : _mm512_loadu_si512(s + i + 64);
            } else {
                v0 = _mm512_maskz_loadu_epi8(m0, s + i);
                v1 = _mm512_maskz_loadu_epi8(m1, s + i + 64);
            }
            const __m512i b = _mm512_maskz_permutex2var_epi8(kLowBytes, v0, ib, v1);
            const __m512i g = _mm512_maskz_permutex2var_epi8(kLowBytes, v0, ig, v1);
            const __m512i r = _mm512_maskz_permutex2var_epi8(kLowBytes, v0, ir, v1);
            const __m512i mx = _mm512_max_epu16(_mm512_max_epu16(r, g), b);
            const __m512i mn = _mm512_min_epu16(_mm512_min_epu16(r, g), b);
            const __m512i c = _mm512_sub_epi16(mx, mn);
            const __m512i l = _mm512_add_epi16(mx, mn);
            const __mmask32 red = _mm512_cmpeq_epi16_mask(r, mx);
            const __mmask32 green = ~red & _mm512_cmpeq_epi16_mask(g, mx);
            __m512i sector = _mm512_set1_epi16(5);
            sector = _mm512_mask_mov_epi16(sector, green, _mm512_set1_epi16(3));
            sector = _mm512_mask_mov_epi16(sector, red, one);
            __m512i dv = _mm512_sub_epi16(r, g);
            dv = _mm512_mask_sub_epi16(dv, green, b, r);
            dv = _mm512_mask_sub_epi16(dv, red, g, b);
            const __mmask32 negative = _mm512_movepi16_mask(dv);
            sector = _mm512_mask_sub_epi16(sector, negative, sector, one);
            dv = _mm512_mask_add_epi16(dv, negative, dv, c);
            __m512i sat = _mm512_srli_epi16(_mm512_add_epi16(_mm512_mullo_epi16(c, sat_low), v128), 8);
            if (sat_high) sat = _mm512_add_epi16(sat, c);
            const __m512i limit = _mm512_min_epi16(l, _mm512_sub_epi16(_mm512_set1_epi16(511), l));
            const __m512i c2 = _mm512_min_epi16(sat, limit);
            const __m512i n = _mm512_srli_epi16(_mm512_sub_epi16(l, c2), 1);
            // ((L + c2) >> 1) - n is c2 itself: L + c2 and L - c2 are both
            // even or both odd.
            const __m512i w = c2;
            // Reciprocal bytes by c (its high byte is 0; index c | c << 8
            // looks up the low and middle bytes in one 16-bit lane).
            const __m512i cc = _mm512_or_si512(c, _mm512_slli_epi16(c, 8));
            const __mmask64 top = _mm512_movepi8_mask(cc);
            const __m512i rhi = _mm512_maskz_mov_epi8(
                kLowBytes, _mm512_mask_blend_epi8(top, _mm512_permutex2var_epi8(rh.t0, cc, rh.t1),
                                                  _mm512_permutex2var_epi8(rh.t2, cc, rh.t3)));
            const __m512i lo = _mm512_mask_blend_epi8(top, _mm512_permutex2var_epi8(rl0.t0, cc, rl0.t1),
                                                      _mm512_permutex2var_epi8(rl0.t2, cc, rl0.t3));
            const __m512i mid = _mm512_mask_blend_epi8(top, _mm512_permutex2var_epi8(rl1.t0, cc, rl1.t1),
                                                       _mm512_permutex2var_epi8(rl1.t2, cc, rl1.t3));
            const __m512i rlo = _mm512_mask_blend_epi8(~kLowBytes, lo, mid);
            __m512i p = _mm512_add_epi16(
                _mm512_add_epi16(_mm512_mullo_epi16(dv, rhi), _mm512_mulhi_epu16(dv, rlo)),
                _mm512_srli_epi16(_mm512_mullo_epi16(dv, rlo), 15));
            p = _mm512_add_epi16(p, shift_mod);
            const __mmask32 wrap = _mm512_cmpgt_epi16_mask(p, _mm512_set1_epi16(254));
            p = _mm512_mask_sub_epi16(p, wrap, p, _mm512_set1_epi16(255));
            // The channels' roles by sector + wrap, the hue's whole sectors
            // folded in (see role_codes).
            const __m512i role = _mm512_shuffle_epi8(roles, _mm512_mask_add_epi16(sector, wrap, sector, one));
            // p <= 254 and w <= 255: p * w + 128 stays below 2^16.
            const __m512i q = _mm512_srli_epi16(_mm512_add_epi16(_mm512_mullo_epi16(p, w), v128), 8);
            // Each channel is n, n + w, or the moving value n + q (rising)
            // or n + w - q (falling).
            const __m512i full = _mm512_add_epi16(n, w);
            const __m512i moving = _mm512_mask_blend_epi16(_mm512_test_epi16_mask(role, _mm512_set1_epi16(kRising)),
                                                           _mm512_sub_epi16(full, q), _mm512_add_epi16(n, q));
            const auto channel = [&](int ch) ZBX_AVX512 {
                const __m512i v = _mm512_mask_mov_epi16(
                    n, _mm512_test_epi16_mask(role, _mm512_set1_epi16(static_cast<short>(kMoving << ch))), moving);
                return _mm512_mask_mov_epi16(
                    v, _mm512_test_epi16_mask(role, _mm512_set1_epi16(static_cast<short>(kFull << ch))), full);
            };
            const __m512i ob = channel(0);
            const __m512i og = channel(1);
            const __m512i orr = channel(2);
            const __m512i bg = _mm512_or_si512(ob, _mm512_slli_epi16(og, 8));
            __m512i out0 = _mm512_permutex2var_epi8(bg, io0, orr);
            __m512i out1 = _mm512_permutex2var_epi8(bg, io1, orr);
            if constexpr (kTable) {
                out0 = look_up(out_table, out0);
                out1 = look_up(out_table, out1);
            }
            if constexpr (whole && kBpp == 3) {
                _mm512_storeu_si512(d + i, out0);
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i + 64),
                                    _mm512_castsi512_si256(out1));
            } else {
                _mm512_mask_storeu_epi8(d + i, m0 & write, out0);
                _mm512_mask_storeu_epi8(d + i + 64, m1 & write, out1);
            }
        };
        std::int32_t i = 0;
        for (; i + 32 * kBpp <= bytes; i += 32 * kBpp) step.template operator()<true>(i);
        if (i < bytes) step.template operator()<false>(i);
    }
}

}  // namespace

}  // namespace zbx::pipeline::kernels

namespace zbx::pipeline {

void hue_rows_avx512(const kernels::RectArgs& args, const HueSaturationRun::Plan& plan,
                     const std::uint8_t* lut) {
    if (args.src_bpp == 3) {
        if (lut != nullptr) {
            kernels::hue_rows_bpp<3, true>(args, plan, lut);
        } else {
            kernels::hue_rows_bpp<3, false>(args, plan, lut);
        }
    } else if (lut != nullptr) {
        kernels::hue_rows_bpp<4, true>(args, plan, lut);
    } else {
        kernels::hue_rows_bpp<4, false>(args, plan, lut);
    }
}

}  // namespace zbx::pipeline

#endif  // ZBX_X86_SIMD
