// Per pixel, with mx/mn the largest/smallest channel, c = mx - mn and
// L = mx + mn: the sector and position d come from the largest channel;
// the new chroma c2 = min(sat[c], L < 256 ? L : 511 - L) keeps every
// channel within 0..255; the pixel is rebuilt around n = (L - c2) >> 1
// and width w = ((L + c2) >> 1) - n at the shifted position p.  No
// division per pixel: p uses the reciprocal 0xFF0000 / c, and the pixel is
// composed in one word as grey(n) + (grey(w) & mask[k]) + q * mul[k].
// Only constant tables are shared; the saturation table lives per call.
//
// The AVX2 kernel runs the same steps on eight pixels at once in 32-bit
// lanes, each pixel first gathered into one word (blue, green, red in bytes
// 0-2): the saturation table becomes its formula, the reciprocal a gather,
// grey(v) a byte broadcast and mask/mul permutes by k reduced below 6.
// Row ends that do not fill eight pixels take the plain pixel function.
// With AVX-512, 8-bit pictures take the 32-pixel kernel of
// adjust_avx512.cpp instead, which can also apply a table to its results.
#include "pipeline/adjust_hue_saturation.h"

#include <algorithm>

#include "pipeline/adjust_kernels.h"
#include "pipeline/x86_simd.h"

namespace zbx::pipeline {

std::int32_t hue_shift_steps(std::int32_t hue_degrees) {
    const auto t32 = static_cast<std::int64_t>(hue_degrees) * 65536 / 360;
    const auto t = static_cast<std::uint16_t>(t32);
    const std::int32_t u = (static_cast<std::int32_t>(t) * 6) >> 8;
    std::int32_t low = u & 511;
    if (low >= 256) low -= 512;
    std::int32_t shift = low + 510 * (((u + 256) >> 9) % 3);
    while (shift < 0) shift += kHueSteps;
    while (shift >= kHueSteps) shift -= kHueSteps;
    return shift;
}

std::array<std::int32_t, 256> saturation_table(std::int32_t saturation) {
    const std::int32_t s = std::clamp<std::int32_t>(saturation, -255, 255);
    std::array<std::int32_t, 256> table{};
    for (std::int32_t c = 0; c < 256; ++c) table[c] = ((s + 256) * 256 * c + 32768) >> 16;
    return table;
}

namespace {

constexpr std::array<std::int32_t, 256> make_reciprocals() {
    std::array<std::int32_t, 256> r{};
    for (std::int32_t c = 1; c < 256; ++c) r[c] = 0xFF0000 / c;
    return r;
}
constexpr std::array<std::int32_t, 256> kReciprocal = make_reciprocals();

// Sector k (0..5, twice so that k up to 11 needs no reduction): which
// channels carry the full width, and where the partial amount goes.
constexpr std::array<std::int32_t, 12> kMask = {0xFF00FF, 0xFF0000, 0xFFFF00, 0x00FF00,
                                                0x00FFFF, 0x0000FF, 0xFF00FF, 0xFF0000,
                                                0xFFFF00, 0x00FF00, 0x00FFFF, 0x0000FF};
constexpr std::array<std::int32_t, 12> kMul = {-1, 0x100, -0x10000, 1, -0x100, 0x10000,
                                               -1, 0x100, -0x10000, 1, -0x100, 0x10000};

constexpr std::int32_t grey(std::int32_t v) { return v * 0x010101; }

using HuePlan = HueSaturationRun::Plan;

// Blue, green, red in bits 0-7, 8-15, 16-23 of the result.  Written
// without branches (the choices compile to conditional moves): pictures
// change sector from pixel to pixel.  A grey pixel (c = 0) needs no case
// of its own: c2 = 0 gives w = 0 and q = 0, so the result is grey(n).
inline std::int32_t adjust_pixel(std::int32_t b, std::int32_t g, std::int32_t r,
                                 const HuePlan& plan) {
    const std::int32_t mx = std::max(std::max(r, g), b);
    const std::int32_t mn = std::min(std::min(r, g), b);
    const std::int32_t c = mx - mn;
    const std::int32_t l = mx + mn;
    const bool red = r >= g && r >= b;
    const bool green = !red && g >= b;
    std::int32_t sector = red ? 1 : (green ? 3 : 5);
    std::int32_t d = red ? g - b : (green ? b - r : r - g);
    const std::int32_t negative = d < 0 ? 1 : 0;
    sector -= negative;
    d += negative != 0 ? c : 0;
    const std::int32_t c2 = std::min(plan.sat[c], l < 256 ? l : 511 - l);
    const std::int32_t n = (l - c2) >> 1;
    std::int32_t p = ((d * kReciprocal[c] + 0x8000) >> 16) + plan.shift_mod;
    const std::int32_t wrap = p > 254 ? 1 : 0;
    const std::int32_t k = sector + wrap + plan.shift_div;
    p -= wrap != 0 ? 255 : 0;
    const std::int32_t w = ((l + c2) >> 1) - n;
    const std::int32_t q = (p * w + 128) >> 8;
    return grey(n) + (grey(w) & kMask[k]) + q * kMul[k];
}

// One pixel of a layout: 16-bit samples are shifted down by `shift` and
// limited to 255 first, the results shifted back up.
template <typename S>
inline void hue_pixel(const std::uint8_t* sp, std::uint8_t* dp, int shift, const HuePlan& plan) {
    using kernels::load;
    using kernels::store;
    constexpr int kSize = static_cast<int>(sizeof(S));
    std::int32_t b = load<S>(sp);
    std::int32_t g = load<S>(sp + kSize);
    std::int32_t r = load<S>(sp + 2 * kSize);
    if constexpr (kSize == 2) {
        b = std::min(b >> shift, 255);
        g = std::min(g >> shift, 255);
        r = std::min(r >> shift, 255);
    }
    const std::int32_t word = adjust_pixel(b, g, r, plan);
    store<S>(dp, static_cast<S>((word & 0xFF) << shift));
    store<S>(dp + kSize, static_cast<S>(((word >> 8) & 0xFF) << shift));
    store<S>(dp + 2 * kSize, static_cast<S>(((word >> 16) & 0xFF) << shift));
}

template <typename S, int kPixelBytes>
void hue_rows(const kernels::RectArgs& a, int pixel_bytes, const HuePlan& shared_plan, int shift) {
    // A private copy: byte stores into the picture could alias the
    // caller's plan, which would force reloads in every pixel.
    const HuePlan plan = shared_plan;
    const int pb = kPixelBytes != 0 ? kPixelBytes : pixel_bytes;
    const std::int32_t w = a.rect.width();
    for (std::int32_t y = 0; y < a.rect.height(); ++y) {
        const std::uint8_t* s = a.src_row(y);
        std::uint8_t* d = a.dst_row(y);
        for (std::int32_t x = 0; x < w; ++x) {
            const std::ptrdiff_t o = static_cast<std::ptrdiff_t>(x) * pb;
            hue_pixel<S>(s + o, d + o, shift, plan);
        }
    }
}

#if ZBX_X86_SIMD
// Pixels per AVX2 step, and bytes a step may read beyond its own pixels
// (the 3- and 6-byte layouts load whole vectors).
constexpr std::int32_t kStep = 8;
constexpr int overread(int pixel_bytes) { return pixel_bytes == 3 ? 4 : pixel_bytes == 6 ? 8 : 0; }

// Eight pixels as words b | g << 8 | r << 16, samples of 16-bit layouts
// shifted down by `down` and limited to 255.
template <int kPixelBytes>
__attribute__((target("avx2"))) inline __m256i load_words(const std::uint8_t* p, __m128i down) {
    if constexpr (kPixelBytes == 3) {
        const __m256i v = _mm256_set_m128i(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 12)),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
        const __m256i spread = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1,
                                                0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
        return _mm256_shuffle_epi8(v, spread);
    } else if constexpr (kPixelBytes == 4) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        return _mm256_and_si256(v, _mm256_set1_epi32(0xFFFFFF));
    } else {
        // Two vectors of four pixels with 16-bit samples at 8-byte spacing.
        __m256i a;
        __m256i b;
        if constexpr (kPixelBytes == 8) {
            a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
            b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
        } else {
            const __m256i halves = _mm256_setr_epi32(0, 1, 2, 0, 3, 4, 5, 0);
            const __m256i spread = _mm256_setr_epi8(0, 1, 2, 3, 4, 5, -1, -1, 6, 7, 8, 9, 10, 11, -1, -1,
                                                    0, 1, 2, 3, 4, 5, -1, -1, 6, 7, 8, 9, 10, 11, -1, -1);
            a = _mm256_permutevar8x32_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)),
                                            halves);
            b = _mm256_permutevar8x32_epi32(
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 24)), halves);
            a = _mm256_shuffle_epi8(a, spread);
            b = _mm256_shuffle_epi8(b, spread);
        }
        const __m256i top = _mm256_set1_epi16(255);
        a = _mm256_min_epu16(_mm256_srl_epi16(a, down), top);
        b = _mm256_min_epu16(_mm256_srl_epi16(b, down), top);
        // Bytes b g r x per pixel; packing interleaves the 128-bit halves.
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8);
        return _mm256_and_si256(packed, _mm256_set1_epi32(0xFFFFFF));
    }
}

// Writes eight result words; the fourth byte or sample stays as it was.
template <int kPixelBytes>
__attribute__((target("avx2"))) inline void store_words(std::uint8_t* p, __m256i words,
                                                        __m128i up) {
    if constexpr (kPixelBytes == 3) {
        const __m256i pack = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1,
                                              0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
        const __m256i v = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(words, pack),
                                                      _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm256_castsi256_si128(v));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p + 16), _mm256_extracti128_si256(v, 1));
    } else if constexpr (kPixelBytes == 4) {
        auto* q = reinterpret_cast<__m256i*>(p);
        const __m256i old = _mm256_loadu_si256(q);
        _mm256_storeu_si256(q, _mm256_blendv_epi8(words, old, _mm256_set1_epi32(-16777216)));
    } else {
        for (int half = 0; half < 2; ++half) {
            const __m128i w4 = half == 0 ? _mm256_castsi256_si128(words)
                                         : _mm256_extracti128_si256(words, 1);
            const __m256i samples = _mm256_sll_epi16(_mm256_cvtepu8_epi16(w4), up);
            std::uint8_t* at = p + half * 4 * kPixelBytes;
            if constexpr (kPixelBytes == 8) {
                auto* q = reinterpret_cast<__m256i*>(at);
                _mm256_storeu_si256(q, _mm256_blend_epi16(samples, _mm256_loadu_si256(q), 0x88));
            } else {
                const __m256i pack = _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13, -1, -1, -1,
                                                      -1, 0, 1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13, -1,
                                                      -1, -1, -1);
                const __m256i v = _mm256_permutevar8x32_epi32(
                    _mm256_shuffle_epi8(samples, pack), _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(at), _mm256_castsi256_si128(v));
                _mm_storel_epi64(reinterpret_cast<__m128i*>(at + 16), _mm256_extracti128_si256(v, 1));
            }
        }
    }
}

// adjust_pixel on eight words at once.
__attribute__((target("avx2"))) inline __m256i adjust_words(__m256i words, __m256i sat_mul,
                                                            __m256i shift_mod, __m256i shift_div,
                                                            __m256i masks, __m256i muls) {
    const __m256i byte = _mm256_set1_epi32(0xFF);
    const __m256i b = _mm256_and_si256(words, byte);
    const __m256i g = _mm256_and_si256(_mm256_srli_epi32(words, 8), byte);
    const __m256i r = _mm256_srli_epi32(words, 16);
    const __m256i mx = _mm256_max_epi32(_mm256_max_epi32(r, g), b);
    const __m256i mn = _mm256_min_epi32(_mm256_min_epi32(r, g), b);
    const __m256i c = _mm256_sub_epi32(mx, mn);
    const __m256i l = _mm256_add_epi32(mx, mn);
    // Red largest when r is the maximum; green when g is and red is not.
    const __m256i red = _mm256_cmpeq_epi32(r, mx);
    const __m256i green = _mm256_andnot_si256(red, _mm256_cmpeq_epi32(g, mx));
    __m256i sector = _mm256_blendv_epi8(_mm256_set1_epi32(5), _mm256_set1_epi32(3), green);
    sector = _mm256_blendv_epi8(sector, _mm256_set1_epi32(1), red);
    __m256i d = _mm256_blendv_epi8(_mm256_sub_epi32(r, g), _mm256_sub_epi32(b, r), green);
    d = _mm256_blendv_epi8(d, _mm256_sub_epi32(g, b), red);
    const __m256i negative = _mm256_srai_epi32(d, 31);
    sector = _mm256_add_epi32(sector, negative);
    d = _mm256_add_epi32(d, _mm256_and_si256(c, negative));
    // sat[c] by its formula, ((S + 256) * 256 * c + 32768) >> 16 being
    // ((S + 256) * c + 128) >> 8 with both factors below 2^15; and
    // L < 256 ? L : 511 - L is min(L, 511 - L).
    const __m256i sat = _mm256_srai_epi32(
        _mm256_add_epi32(_mm256_madd_epi16(c, sat_mul), _mm256_set1_epi32(128)), 8);
    const __m256i c2 =
        _mm256_min_epi32(sat, _mm256_min_epi32(l, _mm256_sub_epi32(_mm256_set1_epi32(511), l)));
    const __m256i n = _mm256_srai_epi32(_mm256_sub_epi32(l, c2), 1);
    const __m256i w = _mm256_sub_epi32(_mm256_srai_epi32(_mm256_add_epi32(l, c2), 1), n);
    const __m256i rc = _mm256_i32gather_epi32(kReciprocal.data(), c, 4);
    __m256i p = _mm256_srai_epi32(
        _mm256_add_epi32(_mm256_mullo_epi32(d, rc), _mm256_set1_epi32(0x8000)), 16);
    p = _mm256_add_epi32(p, shift_mod);
    const __m256i wrap = _mm256_cmpgt_epi32(p, _mm256_set1_epi32(254));
    __m256i k = _mm256_sub_epi32(_mm256_add_epi32(sector, shift_div), wrap);
    p = _mm256_sub_epi32(p, _mm256_and_si256(wrap, byte));
    k = _mm256_sub_epi32(k, _mm256_and_si256(_mm256_cmpgt_epi32(k, _mm256_set1_epi32(5)),
                                             _mm256_set1_epi32(6)));
    // p <= 254 and w <= 255: the 16-bit multiply-add gives p * w exactly.
    const __m256i q = _mm256_srai_epi32(
        _mm256_add_epi32(_mm256_madd_epi16(p, w), _mm256_set1_epi32(128)), 8);
    const __m256i spread = _mm256_setr_epi8(0, 0, 0, -1, 4, 4, 4, -1, 8, 8, 8, -1, 12, 12, 12, -1,
                                            0, 0, 0, -1, 4, 4, 4, -1, 8, 8, 8, -1, 12, 12, 12, -1);
    const __m256i grey_n = _mm256_shuffle_epi8(n, spread);
    const __m256i grey_w = _mm256_shuffle_epi8(w, spread);
    const __m256i mask = _mm256_permutevar8x32_epi32(masks, k);
    const __m256i mul = _mm256_permutevar8x32_epi32(muls, k);
    return _mm256_add_epi32(_mm256_add_epi32(grey_n, _mm256_and_si256(grey_w, mask)),
                            _mm256_mullo_epi32(q, mul));
}

template <typename S, int kPixelBytes>
__attribute__((target("avx2"))) void hue_rows_avx2(const kernels::RectArgs& a,
                                                   const HuePlan& shared_plan, int shift,
                                                   std::int32_t saturation) {
    const HuePlan plan = shared_plan;
    const __m128i count = _mm_cvtsi32_si128(shift);
    const __m256i sat_mul = _mm256_set1_epi32(saturation + 256);
    const __m256i shift_mod = _mm256_set1_epi32(plan.shift_mod);
    const __m256i shift_div = _mm256_set1_epi32(plan.shift_div);
    const __m256i masks = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kMask.data()));
    const __m256i muls = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kMul.data()));
    const std::int32_t w = a.rect.width();
    // Steps whose loads stay inside the row.
    const std::int32_t simd_end =
        w - (overread(kPixelBytes) + kPixelBytes - 1) / kPixelBytes - (kStep - 1);
    for (std::int32_t y = 0; y < a.rect.height(); ++y) {
        const std::uint8_t* s = a.src_row(y);
        std::uint8_t* d = a.dst_row(y);
        std::int32_t x = 0;
        for (; x < simd_end; x += kStep) {
            const std::ptrdiff_t o = static_cast<std::ptrdiff_t>(x) * kPixelBytes;
            const __m256i words = load_words<kPixelBytes>(s + o, count);
            store_words<kPixelBytes>(d + o,
                                     adjust_words(words, sat_mul, shift_mod, shift_div, masks, muls),
                                     count);
        }
        for (; x < w; ++x) {
            const std::ptrdiff_t o = static_cast<std::ptrdiff_t>(x) * kPixelBytes;
            hue_pixel<S>(s + o, d + o, shift, plan);
        }
    }
}

// The AVX2 rows, when the processor has them and the layout is one of the
// two usual ones; false leaves the rows to the plain kernel.
template <typename S>
bool hue_rows_vector(const kernels::RectArgs& a, const HuePlan& plan, int shift) {
    constexpr int kSize = static_cast<int>(sizeof(S));
    if (!kernels::use_avx2()) return false;
    if (a.src_bpp == 3 * kSize) {
        hue_rows_avx2<S, 3 * kSize>(a, plan, shift, plan.saturation);
    } else if (a.src_bpp == 4 * kSize) {
        hue_rows_avx2<S, 4 * kSize>(a, plan, shift, plan.saturation);
    } else {
        return false;
    }
    return true;
}

#else

template <typename S>
bool hue_rows_vector(const kernels::RectArgs&, const HuePlan&, int) {
    return false;
}

#endif  // ZBX_X86_SIMD

template <Variant V>
int hue_run(const kernels::RectArgs& args, const HuePlan& plan, const std::uint8_t* lut,
            const std::int32_t* wide) {
    using S = typename kernels::Traits<V>::Sample;
    constexpr int kSize = static_cast<int>(sizeof(S));
    if (!kernels::layout_fits<V>(args)) return 0;
#if ZBX_X86_SIMD
    if constexpr (kSize == 1) {
        const bool usual = args.src_bpp == 3 * kSize || args.src_bpp == 4 * kSize;
        if (usual && kernels::use_avx512()) {
            hue_rows_avx512(args, plan, lut);
            return 1;
        }
    }
#endif
    const int down = kSize == 2 ? kernels::limit_bits(plan.sample_bits) - 8 : 0;
    // With a table, row by row, so that its pass finds the row still in
    // cache; without, the whole rectangle at once.  On AVX2 that pass
    // gathers from `wide`: applying the table to the kernel's result words
    // before the store (three more gathers per eight pixels) measured
    // slower, about 0.12 ms per 1280 x 720 Color24 frame with hue and the
    // table on.
    const std::int32_t rows = lut != nullptr ? 1 : args.rect.height();
    for (std::int32_t y = 0; y < args.rect.height(); y += rows) {
        kernels::RectArgs part = args;
        part.rect.top = args.rect.top + y;
        part.rect.bottom = part.rect.top + rows;
        part.dst_y = args.dst_y + y;
        if (hue_rows_vector<S>(part, plan, down)) {
            // done on AVX2
        } else if (args.src_bpp == 3 * kSize) {
            hue_rows<S, 3 * kSize>(part, args.src_bpp, plan, down);
        } else if (args.src_bpp == 4 * kSize) {
            hue_rows<S, 4 * kSize>(part, args.src_bpp, plan, down);
        } else {
            hue_rows<S, 0>(part, args.src_bpp, plan, down);
        }
        if constexpr (kSize == 1) {
            if (lut != nullptr) {
                // In place on the destination row just written.
                kernels::RectArgs again = part;
                again.src = part.dst;
                again.src_stride = part.dst_stride;
                again.rect = Rect{part.dst_x, part.dst_y, part.dst_x + part.rect.width(),
                                  part.dst_y + 1};
                (void)kernels::for_each_byte_lut<V>(again, lut, wide);
            }
        }
    }
    return 1;
}

template <Variant V>
int hue_body(const kernels::RectArgs& args, void* params) {
    const HueSaturationRun run(*static_cast<const HueRecord*>(params));
    return run.run(V, args);
}

}  // namespace

HueSaturationRun::HueSaturationRun(const HueRecord& record)
    : plan_{saturation_table(record.saturation), 0, 0,
            std::clamp<std::int32_t>(record.saturation, -255, 255), record.sample_bits} {
    const std::int32_t shift = hue_shift_steps(record.hue);
    plan_.shift_mod = shift % 255;
    plan_.shift_div = shift / 255;
}

int HueSaturationRun::run(Variant variant, const kernels::RectArgs& args,
                          const std::uint8_t* lut, const std::int32_t* wide_lut) const {
    if (variant == Variant::kColour8) return hue_run<Variant::kColour8>(args, plan_, lut, wide_lut);
    if (variant == Variant::kColour16) {
        return hue_run<Variant::kColour16>(args, plan_, nullptr, nullptr);
    }
    return 0;
}

RectCallback hue_saturation_callback(int colour_mode) {
    Variant v{};
    if (!variant_for_mode(colour_mode, v)) return nullptr;
    if (v == Variant::kColour8) return &kernels::as_callback<&hue_body<Variant::kColour8>>;
    if (v == Variant::kColour16) return &kernels::as_callback<&hue_body<Variant::kColour16>>;
    return nullptr;
}

int apply_hue_saturation(PixelPlane image, int colour_mode, const HueRecord& record) {
    HueRecord rec = record;
    return run_in_place(image, hue_saturation_callback(colour_mode), &rec);
}

}  // namespace zbx::pipeline
