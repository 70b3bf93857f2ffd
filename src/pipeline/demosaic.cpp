// Bilinear demosaic.  For the output pixel (x, y) with rows A = y-2, B = y-1,
// C = y, D = y+1 of the raw rectangle, the two colours other than green are
// separable 9/3/3/1 sums:
//   P(i) = 3 C(i) + A(i)     (the colour that lies on row C)
//   Q(i) = 3 B(i) + D(i)     (the colour that lies on row B)
// A pixel is "alpha" when its column parity equals its row parity (a green
// position), "beta" otherwise:
//   alpha: green = B(x-1) + C(x),  hP = 3 P(x-1) + P(x+1),  hQ = 3 Q(x) + Q(x-2)
//   beta:  green = B(x) + C(x-1),  hP = 3 P(x) + P(x-2),    hQ = 3 Q(x-1) + Q(x+1)
// On even rows (r = 0) row C carries blue and row B red; on odd rows the
// reverse.  Channel = (h × k) >> 11 and green = sum >> 1, each limited to
// 0 ... max (255 for 8-bit, 4095 for 16-bit samples).
//
// The interior runs a plain row kernel, or on AVX2 machines (chosen at run
// time) kernels that first form per-row scratch and then combine 16 pixels
// per step (8 for 16-bit rows holding samples over 12 bits); all give
// identical results.  The border re-runs the same sums with neighbour
// replacement (rows only in the top and bottom strips).
#include "pipeline/demosaic.h"


#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

#include "pipeline/image_buffer.h"
#include "pipeline/pixel_access.h"
#include "pipeline/x86_simd.h"

#pragma GCC optimize("O3")

namespace zbx::pipeline {

std::int32_t BayerGainFactor(std::int32_t gain) {
    return static_cast<std::int32_t>(static_cast<double>(gain) * 1.28);
}

namespace {

std::atomic<bool> g_force_plain{false};

struct Params {
    int c0 = 0;
    int r0 = 0;
    std::int64_t k_blue = 128;
    std::int64_t k_red = 128;
};

Params params_of(const void* p) {
    const auto* rec = static_cast<const BayerRecord*>(p);
    BayerRecord r = rec != nullptr ? *rec : BayerRecord{};
    Params out;
    out.c0 = (r.phase == 2 || r.phase == 3) ? 1 : 0;
    out.r0 = (r.phase == 1 || r.phase == 3) ? 1 : 0;
    out.k_blue = BayerGainFactor(r.blue_gain);
    out.k_red = BayerGainFactor(r.red_gain);
    return out;
}

template <class T>
constexpr std::int64_t kMax = sizeof(T) == 1 ? 255 : 4095;

template <class T>
inline std::int64_t scaled(std::int64_t sum, std::int64_t k) {
    return std::clamp<std::int64_t>((sum * k) >> 11, 0, kMax<T>);
}

template <class T>
inline void put(std::uint8_t* px, std::int64_t b, std::int64_t g, std::int64_t r) {
    if constexpr (sizeof(T) == 1) {
        px[0] = static_cast<std::uint8_t>(b);
        px[1] = static_cast<std::uint8_t>(g);
        px[2] = static_cast<std::uint8_t>(r);
    } else {
        store16(px, static_cast<std::uint16_t>(b));
        store16(px + 2, static_cast<std::uint16_t>(g));
        store16(px + 4, static_cast<std::uint16_t>(r));
    }
}

// One output pixel from four row accessors and a column accessor; used by
// the plain interior (direct indices) and the border (replaced indices).
template <class T, class Row, class Col>
inline void pixel(const Row& row, const Col& col, int cx, int r, const Params& p,
                  std::uint8_t* out) {
    // row(0..3) = rows A, B, C, D; col(d) = index of column x + d.
    const T* A = row(0);
    const T* B = row(1);
    const T* C = row(2);
    const T* D = row(3);
    const auto P = [&](int d) { return 3 * std::int64_t{C[col(d)]} + A[col(d)]; };
    const auto Q = [&](int d) { return 3 * std::int64_t{B[col(d)]} + D[col(d)]; };
    std::int64_t g, hp, hq;
    if (cx == r) {
        g = std::int64_t{B[col(-1)]} + C[col(0)];
        hp = 3 * P(-1) + P(1);
        hq = 3 * Q(0) + Q(-2);
    } else {
        g = std::int64_t{B[col(0)]} + C[col(-1)];
        hp = 3 * P(0) + P(-2);
        hq = 3 * Q(-1) + Q(1);
    }
    const std::int64_t blue = r == 0 ? hp : hq;
    const std::int64_t red = r == 0 ? hq : hp;
    put<T>(out, scaled<T>(blue, p.k_blue), std::min(g >> 1, kMax<T>), scaled<T>(red, p.k_red));
}

template <class T>
struct Frame {
    const std::uint8_t* src;
    std::int32_t left, top, w, h;
    std::ptrdiff_t src_stride;
    std::uint8_t* dst;
    std::int32_t dst_x, dst_y;
    int dst_bpp;
    std::ptrdiff_t dst_stride;

    const T* src_row(int y) const {
        return reinterpret_cast<const T*>(src + (top + y) * src_stride) + left;
    }
    std::uint8_t* dst_px(int x, int y) const {
        return dst + (dst_y + y) * dst_stride + static_cast<std::ptrdiff_t>(dst_x + x) * dst_bpp;
    }
};

template <class T>
bool frame_of(Frame<T>& f, std::uint8_t* dst, const std::uint8_t* src, const Rect* r,
              std::int32_t dst_x, std::int32_t dst_y, std::uint16_t dst_bpp, std::uint16_t src_bpp,
              std::int32_t dst_stride, std::int32_t src_stride) {
    if (r == nullptr || dst == nullptr || src == nullptr) return false;
    if (src_bpp != sizeof(T) || dst_bpp < 3 * sizeof(T)) return false;
    if (r->width() < 4 || r->height() < 4) return false;
    f = Frame<T>{src, r->left, r->top, r->width(), r->height(), src_stride,
                 dst, dst_x, dst_y, dst_bpp, dst_stride};
    return true;
}

// Plain row: pixels x0 <= x < x1 of row y, rows A..D given (the border
// passes replaced rows).
template <class T>
void row_plain(const Frame<T>& f, const Params& p, const T* const rows[4], int y, int x0, int x1) {
    const int r = (y + p.r0) & 1;
    std::uint8_t* out = f.dst_px(0, y);
    const auto row = [&](int i) { return rows[i]; };
    for (int x = x0; x < x1; ++x) {
        const auto col = [x](int d) { return x + d; };
        pixel<T>(row, col, (x + p.c0) & 1, r, p, out + static_cast<std::ptrdiff_t>(x) * f.dst_bpp);
    }
}

// ---- AVX2 interior -------------------------------------------------------

// Per-thread row scratch, grown only when a wider frame arrives.
template <class U>
U* scratch(std::size_t n) {
    thread_local std::vector<U> buf;
    if (buf.size() < n) buf.resize(n);
    return buf.data();
}

#if ZBX_X86_SIMD

bool have_avx2() {
    static const bool ok = __builtin_cpu_supports("avx2");
    return ok && !g_force_plain.load(std::memory_order_relaxed);
}

__attribute__((target("avx2"))) inline __m256i times3(__m256i v) {
    return _mm256_add_epi16(_mm256_add_epi16(v, v), v);
}
__attribute__((target("avx2"))) inline __m256i times3_32(__m256i v) {
    return _mm256_add_epi32(_mm256_add_epi32(v, v), v);
}
__attribute__((target("avx2"))) inline __m256i load(const void* p) {
    return _mm256_loadu_si256(static_cast<const __m256i*>(p));
}
// Writes 16 (8-bit) or 8 (16-bit) pixels held as four-sample pixels in two
// vectors, `lo` with lane groups 0 | 2 and `hi` with 1 | 3.  Packed, each
// lane drops its fourth samples through `compact` and the lanes go out 12
// bytes apart in ascending order, each store overwriting the spare bytes of
// the one before; unpacked, the bytes in `keep` stay as the destination
// holds them.
template <bool kPacked>
__attribute__((target("avx2"))) inline void store_lanes(std::uint8_t* o, __m256i lo, __m256i hi,
                                                        __m256i compact, __m256i keep) {
    if constexpr (kPacked) {
        lo = _mm256_shuffle_epi8(lo, compact);
        hi = _mm256_shuffle_epi8(hi, compact);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm256_castsi256_si128(lo));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 12), _mm256_castsi256_si128(hi));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 24), _mm256_extracti128_si256(lo, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 36), _mm256_extracti128_si256(hi, 1));
    } else {
        const __m256i old0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(o));
        const __m256i old1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(o + 32));
        const __m256i first = _mm256_permute2x128_si256(lo, hi, 0x20);
        const __m256i second = _mm256_permute2x128_si256(lo, hi, 0x31);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(o), _mm256_blendv_epi8(first, old0, keep));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(o + 32), _mm256_blendv_epi8(second, old1, keep));
    }
}

__attribute__((target("avx2"))) inline __m256i widen(const std::uint8_t* p) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

// P, Q and the widened rows B and C of one row; restrict lets the compiler
// vectorise (byte pointers could otherwise alias the scratch).
template <class T, class U>
__attribute__((target("avx2"))) void vertical(const T* __restrict A, const T* __restrict B,
                                              const T* __restrict C, const T* __restrict D,
                                              U* __restrict P, U* __restrict Q, U* __restrict Bw,
                                              U* __restrict Cw, int w) {
    for (int i = 0; i < w; ++i) {
        P[i] = static_cast<U>(3u * C[i] + A[i]);
        Q[i] = static_cast<U>(3u * B[i] + D[i]);
        Bw[i] = B[i];
        Cw[i] = C[i];
    }
}

// 8-bit samples: returns the first column not written.  Needs k in
// [0, 32767] (checked by the caller) so that (h << 4) × 2k fits mulhi.
//
// The row scratch keeps each colour only at its own columns (zero
// elsewhere): Pc = P at the columns of row C's colour, Qc = Q at those of
// row B's colour, Gs = the green samples of rows B and C (one of the two at
// each column).  Then, for alpha and beta pixels alike,
//   hP = 3 (Pc(x) + Pc(x-1)) + Pc(x-2) + Pc(x+1)
//   hQ = 3 (Qc(x) + Qc(x-1)) + Qc(x-2) + Qc(x+1)
//   green sum = Gs(x-1) + Gs(x)
// because of each pair {x-1, x} and {x-2, x+1} exactly one column carries
// the colour.
template <int OutBpp>
__attribute__((target("avx2"))) int row_avx2_8(const Frame<std::uint8_t>& f, const Params& p,
                                               const std::uint8_t* const rows[4], int y) {
    const int w = f.w;
    const int x0 = 2;
    const int x1 = w - 2;
    // 16-pixel steps up to x1 - 2 (see the stores below); nothing to do for
    // narrower rows.
    if (x0 + 16 + 2 > x1) return x0;
    const std::uint8_t* A = rows[0];
    const std::uint8_t* B = rows[1];
    const std::uint8_t* C = rows[2];
    const std::uint8_t* D = rows[3];
    const int n = (w + 15) & ~15;
    std::uint16_t* s = scratch<std::uint16_t>(3 * static_cast<std::size_t>(n) + 64);
    std::uint16_t* Pc = s;
    std::uint16_t* Qc = s + n;
    std::uint16_t* Gs = s + 2 * n;
    const int r = (y + p.r0) & 1;
    // Row C's colour (blue on even rows, red on odd) sits where
    // (i + c0) & 1 == 1 - r; row B's colour where it equals r; the green of
    // row C where it equals r, that of row B elsewhere.
    const bool p_even = ((p.c0 & 1) == 1 - r);  // does even i carry row C's colour?
    const __m256i even = _mm256_set1_epi32(0x0000FFFF);
    const __m256i odd = _mm256_set1_epi32(static_cast<int>(0xFFFF0000u));
    const __m256i p_mask = p_even ? even : odd;
    const __m256i q_mask = p_even ? odd : even;
    // Green of row C at row B's colour columns (q_mask), of row B at p_mask.
    int i = 0;
    for (; i + 16 <= w; i += 16) {
        const __m256i a = widen(A + i), b = widen(B + i), c = widen(C + i), d = widen(D + i);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(Pc + i), _mm256_and_si256(_mm256_add_epi16(times3(c), a), p_mask));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(Qc + i), _mm256_and_si256(_mm256_add_epi16(times3(b), d), q_mask));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(Gs + i), _mm256_blendv_epi8(b, c, q_mask));
    }
    for (; i < w; ++i) {
        const bool pc = ((i + p.c0) & 1) == 1 - r;
        Pc[i] = pc ? static_cast<std::uint16_t>(3 * C[i] + A[i]) : 0;
        Qc[i] = pc ? 0 : static_cast<std::uint16_t>(3 * B[i] + D[i]);
        Gs[i] = pc ? B[i] : C[i];
    }
    // Row C's colour is blue on even rows.
    const __m256i kp = _mm256_set1_epi16(static_cast<short>(2 * (r == 0 ? p.k_blue : p.k_red)));
    const __m256i kq = _mm256_set1_epi16(static_cast<short>(2 * (r == 0 ? p.k_red : p.k_blue)));
    const __m256i max = _mm256_set1_epi16(255);
    // Packs [b g r x] dwords of one 128-bit lane into 12 leading bytes.
    const __m256i compact = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1,
                                             0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const __m256i alpha_bytes = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
    std::uint8_t* out = f.dst_px(0, y);
    int x = x0;
    // Two pixels to spare: the 24-bit stores write 4 bytes past the step,
    // which the plain tail then overwrites.
    for (; x + 16 + 2 <= x1; x += 16) {
        const __m256i p01 = _mm256_add_epi16(load(Pc + x), load(Pc + x - 1));
        const __m256i q01 = _mm256_add_epi16(load(Qc + x), load(Qc + x - 1));
        const __m256i hp = _mm256_add_epi16(times3(p01), _mm256_add_epi16(load(Pc + x - 2), load(Pc + x + 1)));
        const __m256i hq = _mm256_add_epi16(times3(q01), _mm256_add_epi16(load(Qc + x - 2), load(Qc + x + 1)));
        const __m256i g = _mm256_srli_epi16(_mm256_add_epi16(load(Gs + x - 1), load(Gs + x)), 1);
        // (h × k) >> 11 == mulhi(h << 4, 2k); h <= 4080 keeps h << 4 in 16 bits.
        const __m256i vp = _mm256_min_epu16(_mm256_mulhi_epu16(_mm256_slli_epi16(hp, 4), kp), max);
        const __m256i vq = _mm256_min_epu16(_mm256_mulhi_epu16(_mm256_slli_epi16(hq, 4), kq), max);
        const __m256i blue = r == 0 ? vp : vq;
        const __m256i red = r == 0 ? vq : vp;
        const __m256i bg = _mm256_or_si256(blue, _mm256_slli_epi16(g, 8));
        // Dwords [b g r 0]: lo holds pixels 0-3 | 8-11, hi 4-7 | 12-15; the
        // fourth byte keeps what the destination holds.
        store_lanes<OutBpp == 3>(out + static_cast<std::ptrdiff_t>(x) * OutBpp,
                                 _mm256_unpacklo_epi16(bg, red), _mm256_unpackhi_epi16(bg, red),
                                 compact, alpha_bytes);
    }
    return x;
}

// 16-bit samples holding 12-bit values, 16 pixels per step in 16-bit lanes:
// with samples <= 4095 every sum stays below 2^16 (h <= 65520), and with
// k <= 2047 the product h × k stays below 2^27, so (h × k) >> 11 is
// (mulhi << 5) | (mullo >> 11).  Returns x0 when a row holds larger samples
// (the caller then takes the 32-bit-lane kernel).
template <int OutBpp>
__attribute__((target("avx2"))) int row_avx2_12(const Frame<std::uint16_t>& f, const Params& p,
                                                const std::uint16_t* const rows[4], int y) {
    const int w = f.w;
    const int x0 = 2;
    const int x1 = w - 2;
    if (x0 + 16 + 2 > x1) return x0;
    const std::uint16_t* A = rows[0];
    const std::uint16_t* B = rows[1];
    const std::uint16_t* C = rows[2];
    const std::uint16_t* D = rows[3];
    const int n = (w + 15) & ~15;
    std::uint16_t* s = scratch<std::uint16_t>(3 * static_cast<std::size_t>(n) + 64);
    std::uint16_t* Pc = s;
    std::uint16_t* Qc = s + n;
    std::uint16_t* Gs = s + 2 * n;
    const int r = (y + p.r0) & 1;
    const bool p_even = ((p.c0 & 1) == 1 - r);
    const __m256i even = _mm256_set1_epi32(0x0000FFFF);
    const __m256i odd = _mm256_set1_epi32(static_cast<int>(0xFFFF0000u));
    const __m256i p_mask = p_even ? even : odd;
    const __m256i q_mask = p_even ? odd : even;
    __m256i high = _mm256_setzero_si256();
    int i = 0;
    for (; i + 16 <= w; i += 16) {
        const __m256i a = load(A + i), b = load(B + i), c = load(C + i), d = load(D + i);
        high = _mm256_or_si256(high, _mm256_or_si256(_mm256_or_si256(a, b), _mm256_or_si256(c, d)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(Pc + i), _mm256_and_si256(_mm256_add_epi16(times3(c), a), p_mask));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(Qc + i), _mm256_and_si256(_mm256_add_epi16(times3(b), d), q_mask));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(Gs + i), _mm256_blendv_epi8(b, c, q_mask));
    }
    unsigned tail_high = 0;
    for (; i < w; ++i) {
        tail_high |= A[i] | B[i] | C[i] | D[i];
        const bool pc = ((i + p.c0) & 1) == 1 - r;
        Pc[i] = pc ? static_cast<std::uint16_t>(3 * C[i] + A[i]) : 0;
        Qc[i] = pc ? 0 : static_cast<std::uint16_t>(3 * B[i] + D[i]);
        Gs[i] = pc ? B[i] : C[i];
    }
    const __m256i over = _mm256_srli_epi16(high, 12);
    if (!_mm256_testz_si256(over, over) || (tail_high >> 12) != 0) return x0;

    const __m256i kp = _mm256_set1_epi16(static_cast<short>(r == 0 ? p.k_blue : p.k_red));
    const __m256i kq = _mm256_set1_epi16(static_cast<short>(r == 0 ? p.k_red : p.k_blue));
    const __m256i max = _mm256_set1_epi16(4095);
    const __m256i zero = _mm256_setzero_si256();
    // Packs [b g r x] 16-bit quads of one lane into 12 leading bytes.
    const __m256i compact = _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13, -1, -1, -1, -1,
                                             0, 1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13, -1, -1, -1, -1);
    const __m256i alpha_words = _mm256_set1_epi64x(static_cast<long long>(0xFFFF000000000000ull));
    std::uint8_t* out = f.dst_px(0, y);
    int x = x0;
    for (; x + 16 + 2 <= x1; x += 16) {
        const __m256i p01 = _mm256_add_epi16(load(Pc + x), load(Pc + x - 1));
        const __m256i q01 = _mm256_add_epi16(load(Qc + x), load(Qc + x - 1));
        const __m256i hp = _mm256_add_epi16(times3(p01), _mm256_add_epi16(load(Pc + x - 2), load(Pc + x + 1)));
        const __m256i hq = _mm256_add_epi16(times3(q01), _mm256_add_epi16(load(Qc + x - 2), load(Qc + x + 1)));
        const __m256i g = _mm256_srli_epi16(_mm256_add_epi16(load(Gs + x - 1), load(Gs + x)), 1);
        const __m256i vp = _mm256_min_epu16(
            _mm256_or_si256(_mm256_slli_epi16(_mm256_mulhi_epu16(hp, kp), 5),
                            _mm256_srli_epi16(_mm256_mullo_epi16(hp, kp), 11)),
            max);
        const __m256i vq = _mm256_min_epu16(
            _mm256_or_si256(_mm256_slli_epi16(_mm256_mulhi_epu16(hq, kq), 5),
                            _mm256_srli_epi16(_mm256_mullo_epi16(hq, kq), 11)),
            max);
        const __m256i blue = r == 0 ? vp : vq;
        const __m256i red = r == 0 ? vq : vp;
        const __m256i bg_lo = _mm256_unpacklo_epi16(blue, g);  // pixels 0-3 | 8-11
        const __m256i bg_hi = _mm256_unpackhi_epi16(blue, g);  // pixels 4-7 | 12-15
        const __m256i rz_lo = _mm256_unpacklo_epi16(red, zero);
        const __m256i rz_hi = _mm256_unpackhi_epi16(red, zero);
        __m256i q0 = _mm256_unpacklo_epi32(bg_lo, rz_lo);  // pixels 0-1 | 8-9
        __m256i q1 = _mm256_unpackhi_epi32(bg_lo, rz_lo);  // 2-3 | 10-11
        __m256i q2 = _mm256_unpacklo_epi32(bg_hi, rz_hi);  // 4-5 | 12-13
        __m256i q3 = _mm256_unpackhi_epi32(bg_hi, rz_hi);  // 6-7 | 14-15
        std::uint8_t* o = out + static_cast<std::ptrdiff_t>(x) * OutBpp;
        if constexpr (OutBpp == 6) {
            q0 = _mm256_shuffle_epi8(q0, compact);
            q1 = _mm256_shuffle_epi8(q1, compact);
            q2 = _mm256_shuffle_epi8(q2, compact);
            q3 = _mm256_shuffle_epi8(q3, compact);
            // Ascending 16-byte stores, each overwriting the 4 spare bytes of
            // the one before.
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm256_castsi256_si128(q0));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 12), _mm256_castsi256_si128(q1));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 24), _mm256_castsi256_si128(q2));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 36), _mm256_castsi256_si128(q3));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 48), _mm256_extracti128_si256(q0, 1));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 60), _mm256_extracti128_si256(q1, 1));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 72), _mm256_extracti128_si256(q2, 1));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 84), _mm256_extracti128_si256(q3, 1));
        } else {
            const __m256i parts[4] = {_mm256_permute2x128_si256(q0, q1, 0x20),   // pixels 0-3
                                      _mm256_permute2x128_si256(q2, q3, 0x20),   // 4-7
                                      _mm256_permute2x128_si256(q0, q1, 0x31),   // 8-11
                                      _mm256_permute2x128_si256(q2, q3, 0x31)};  // 12-15
            for (int j = 0; j < 4; ++j) {
                auto* dst = reinterpret_cast<__m256i*>(o + 32 * j);
                _mm256_storeu_si256(dst, _mm256_blendv_epi8(parts[j], load(dst), alpha_words));
            }
        }
    }
    return x;
}

// 16-bit samples, 8 pixels per step in 32-bit lanes.  Needs k in [0, 4095]
// so that h × k (h < 2^20) fits 32 bits unsigned.
template <int OutBpp>
__attribute__((target("avx2"))) int row_avx2_16(const Frame<std::uint16_t>& f, const Params& p,
                                                const std::uint16_t* const rows[4], int y) {
    const int w = f.w;
    const std::uint16_t* A = rows[0];
    const std::uint16_t* B = rows[1];
    const std::uint16_t* C = rows[2];
    const std::uint16_t* D = rows[3];
    std::uint32_t* s = scratch<std::uint32_t>(4 * static_cast<std::size_t>(w) + 8);
    std::uint32_t* P = s;
    std::uint32_t* Q = s + w;
    std::uint32_t* B32 = s + 2 * w;
    std::uint32_t* C32 = s + 3 * w;
    vertical(A, B, C, D, P, Q, B32, C32, w);
    const int r = (y + p.r0) & 1;
    const int x0 = 2;
    const int x1 = w - 2;
    const bool alpha_even = ((x0 + p.c0) & 1) == r;
    const __m256i alpha = alpha_even ? _mm256_set1_epi64x(0x00000000FFFFFFFFll)
                                     : _mm256_set1_epi64x(static_cast<long long>(0xFFFFFFFF00000000ull));
    const __m256i kp = _mm256_set1_epi32(static_cast<int>(r == 0 ? p.k_blue : p.k_red));
    const __m256i kq = _mm256_set1_epi32(static_cast<int>(r == 0 ? p.k_red : p.k_blue));
    const __m256i max = _mm256_set1_epi32(4095);
    // Packs [b g r x] 16-bit quads of one lane into 12 leading bytes.
    const __m256i compact = _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13, -1, -1, -1, -1,
                                             0, 1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13, -1, -1, -1, -1);
    const __m256i alpha_words = _mm256_set1_epi64x(static_cast<long long>(0xFFFF000000000000ull));
    std::uint8_t* out = f.dst_px(0, y);
    int x = x0;
    for (; x + 8 + 2 <= x1; x += 8) {
        const __m256i pm2 = load(P + x - 2), pm1 = load(P + x - 1), p0 = load(P + x), pp1 = load(P + x + 1);
        const __m256i qm2 = load(Q + x - 2), qm1 = load(Q + x - 1), q0 = load(Q + x), qp1 = load(Q + x + 1);
        const __m256i hp = _mm256_blendv_epi8(_mm256_add_epi32(times3_32(p0), pm2),
                                              _mm256_add_epi32(times3_32(pm1), pp1), alpha);
        const __m256i hq = _mm256_blendv_epi8(_mm256_add_epi32(times3_32(qm1), qp1),
                                              _mm256_add_epi32(times3_32(q0), qm2), alpha);
        const __m256i g = _mm256_min_epu32(
            _mm256_srli_epi32(_mm256_blendv_epi8(_mm256_add_epi32(load(B32 + x), load(C32 + x - 1)),
                                                 _mm256_add_epi32(load(B32 + x - 1), load(C32 + x)), alpha),
                              1),
            max);
        const __m256i vp = _mm256_min_epu32(_mm256_srli_epi32(_mm256_mullo_epi32(hp, kp), 11), max);
        const __m256i vq = _mm256_min_epu32(_mm256_srli_epi32(_mm256_mullo_epi32(hq, kq), 11), max);
        const __m256i blue = r == 0 ? vp : vq;
        const __m256i red = r == 0 ? vq : vp;
        const __m256i bg = _mm256_or_si256(blue, _mm256_slli_epi32(g, 16));
        // Quads [b g r 0]: lo holds pixels 0-1 | 4-5, hi 2-3 | 6-7.
        store_lanes<OutBpp == 6>(out + static_cast<std::ptrdiff_t>(x) * OutBpp,
                                 _mm256_unpacklo_epi32(bg, red), _mm256_unpackhi_epi32(bg, red),
                                 compact, alpha_words);
    }
    return x;
}

template <class T>
int fast_row(const Frame<T>& f, const Params& p, const T* const rows[4], int y) {
    if constexpr (sizeof(T) == 1) {
        if (p.k_blue < 0 || p.k_red < 0 || p.k_blue > 32767 || p.k_red > 32767) return 2;
        if (f.dst_bpp == 3) return row_avx2_8<3>(f, p, rows, y);
        if (f.dst_bpp == 4) return row_avx2_8<4>(f, p, rows, y);
    } else {
        if (p.k_blue < 0 || p.k_red < 0 || p.k_blue > 4095 || p.k_red > 4095) return 2;
        const bool narrow_k = p.k_blue <= 2047 && p.k_red <= 2047;
        if (f.dst_bpp == 6) {
            const int x = narrow_k ? row_avx2_12<6>(f, p, rows, y) : 2;
            return x != 2 ? x : row_avx2_16<6>(f, p, rows, y);
        }
        if (f.dst_bpp == 8) {
            const int x = narrow_k ? row_avx2_12<8>(f, p, rows, y) : 2;
            return x != 2 ? x : row_avx2_16<8>(f, p, rows, y);
        }
    }
    return 2;
}

#else

bool have_avx2() { return false; }

template <class T>
int fast_row(const Frame<T>&, const Params&, const T* const[4], int) {
    return 2;
}

#endif  // ZBX_X86_SIMD

// Columns x0 <= x < x1 of row y from rows A..D: SIMD steps, plain tail.
template <class T>
void run_row(const Frame<T>& f, const Params& p, const T* const rows[4], int y, bool simd) {
    const int x = simd ? fast_row<T>(f, p, rows, y) : 2;
    row_plain<T>(f, p, rows, y, x, f.w - 2);
}

template <class T>
int interior(std::uint8_t* dst, const std::uint8_t* src, const Rect* rect, std::int32_t dst_x,
             std::int32_t dst_y, std::uint16_t dst_bpp, std::uint16_t src_bpp,
             std::int32_t dst_stride, std::int32_t src_stride, void* params) {
    Frame<T> f;
    if (!frame_of(f, dst, src, rect, dst_x, dst_y, dst_bpp, src_bpp, dst_stride, src_stride)) return 1;
    const Params p = params_of(params);
    const bool simd = have_avx2();
    for (int y = 2; y <= f.h - 3; ++y) {
        const T* rows[4] = {f.src_row(y - 2), f.src_row(y - 1), f.src_row(y), f.src_row(y + 1)};
        run_row<T>(f, p, rows, y, simd);
    }
    return 1;
}

// The two-pixel frame.  A neighbour outside the rectangle is taken 4
// further in (same filter colour).  In the top and bottom strips only rows
// are replaced for columns 2 ... W-3, so they run through the row kernel;
// the left and right strips go pixel by pixel.  Every pixel of the frame is
// written once; the result equals computing the strips one after another.
template <class T>
int border(std::uint8_t* dst, const std::uint8_t* src, const Rect* rect, std::int32_t dst_x,
           std::int32_t dst_y, std::uint16_t dst_bpp, std::uint16_t src_bpp,
           std::int32_t dst_stride, std::int32_t src_stride, void* params) {
    Frame<T> f;
    if (!frame_of(f, dst, src, rect, dst_x, dst_y, dst_bpp, src_bpp, dst_stride, src_stride)) return 1;
    const Params p = params_of(params);
    const bool simd = have_avx2();
    const int w = f.w;
    const int h = f.h;
    const auto fix = [](int i, int n) { return i < 0 ? i + 4 : (i >= n ? i - 4 : i); };
    const auto rows_of = [&](int y, const T* rows[4]) {
        for (int i = 0; i < 4; ++i) rows[i] = f.src_row(fix(y - 2 + i, h));
    };
    const auto one = [&](int x, int y) {
        const T* rows[4];
        rows_of(y, rows);
        const auto row = [&](int i) { return rows[i]; };
        const auto col = [&](int d) { return fix(x + d, w); };
        pixel<T>(row, col, (x + p.c0) & 1, (y + p.r0) & 1, p, f.dst_px(x, y));
    };
    const int edge_rows[4] = {0, 1, h - 2, h - 1};
    for (const int y : edge_rows) {
        const T* rows[4];
        rows_of(y, rows);
        run_row<T>(f, p, rows, y, simd);
    }
    for (const int x : {0, 1, w - 2, w - 1})
        for (int y = 0; y < h; ++y) one(x, y);
    return 1;
}

template <class T>
int measure(const std::uint8_t* src, const Rect* rect, std::uint16_t src_bpp,
            std::int32_t src_stride, void* params) {
    auto* rec = static_cast<BayerRecord*>(params);
    if (rec == nullptr || rect == nullptr || src == nullptr || src_bpp != sizeof(T)) return 1;
    const int c0 = (rec->phase == 2 || rec->phase == 3) ? 1 : 0;
    const int r0 = (rec->phase == 1 || rec->phase == 3) ? 1 : 0;
    // sum[c][r] and count per filter position.
    std::uint64_t sum[2][2] = {};
    std::uint64_t count[2][2] = {};
    const int w = rect->width();
    for (int y = 0; y < rect->height(); ++y) {
        const T* row = reinterpret_cast<const T*>(src + static_cast<std::ptrdiff_t>(rect->top + y) * src_stride) +
                       rect->left;
        const int r = (y + r0) & 1;
        std::uint64_t even = 0, odd = 0;
        for (int x = 0; x + 1 < w; x += 2) {
            even += row[x];
            odd += row[x + 1];
        }
        if (w & 1) even += row[w - 1];
        sum[c0][r] += even;
        sum[c0 ^ 1][r] += odd;
        count[c0][r] += static_cast<std::uint64_t>((w + 1) / 2);
        count[c0 ^ 1][r] += static_cast<std::uint64_t>(w / 2);
    }
    const std::uint64_t green_n = count[0][0] + count[1][1];
    const std::uint64_t blue_n = count[1][0];
    const std::uint64_t red_n = count[0][1];
    if (green_n == 0 || blue_n == 0 || red_n == 0) return 1;
    const double mg = static_cast<double>(sum[0][0] + sum[1][1]) / static_cast<double>(green_n);
    const double mb = static_cast<double>(sum[1][0]) / static_cast<double>(blue_n);
    const double mr = static_cast<double>(sum[0][1]) / static_cast<double>(red_n);
    const double s = mg + mb + mr;
    const double t = s / mg / 3;
    const auto gain = [](double v) -> std::int32_t {
        if (std::isnan(v)) return 100;
        if (v >= static_cast<double>(std::numeric_limits<std::int32_t>::max()))
            return std::numeric_limits<std::int32_t>::max();
        return static_cast<std::int32_t>(v);
    };
    rec->blue_gain = gain(s / mb / 3 * 100 / t);
    rec->red_gain = gain(s / mr / 3 * 100 / t);
    rec->green_gain = 100;
    return 1;
}

}  // namespace

void ForcePlainDemosaic(bool plain) { g_force_plain.store(plain, std::memory_order_relaxed); }

#define ZBX_DEMOSAIC_ARGS                                                                      \
    std::uint8_t *dst, const std::uint8_t *src, const Rect *src_rect, std::int32_t dst_x,      \
        std::int32_t dst_y, std::uint16_t dst_bytes_pp, std::uint16_t src_bytes_pp,            \
        std::int32_t dst_stride, std::int32_t src_stride, void *params, void *
#define ZBX_PASS dst, src, src_rect, dst_x, dst_y, dst_bytes_pp, src_bytes_pp, dst_stride, src_stride, params

int DemosaicInterior8(ZBX_DEMOSAIC_ARGS) { return interior<std::uint8_t>(ZBX_PASS); }
int DemosaicBorder8(ZBX_DEMOSAIC_ARGS) { return border<std::uint8_t>(ZBX_PASS); }
int DemosaicInterior16(ZBX_DEMOSAIC_ARGS) { return interior<std::uint16_t>(ZBX_PASS); }
int DemosaicBorder16(ZBX_DEMOSAIC_ARGS) { return border<std::uint16_t>(ZBX_PASS); }
int MeasureWhiteBalance8(ZBX_DEMOSAIC_ARGS) {
    (void)dst, (void)dst_x, (void)dst_y, (void)dst_bytes_pp, (void)dst_stride;
    return measure<std::uint8_t>(src, src_rect, src_bytes_pp, src_stride, params);
}
int MeasureWhiteBalance16(ZBX_DEMOSAIC_ARGS) {
    (void)dst, (void)dst_x, (void)dst_y, (void)dst_bytes_pp, (void)dst_stride;
    return measure<std::uint16_t>(src, src_rect, src_bytes_pp, src_stride, params);
}

#undef ZBX_PASS
#undef ZBX_DEMOSAIC_ARGS

int DemosaicPasses(CImageBuffer& dst, CImageBuffer& raw, BayerRecord& record) {
    const bool wide = raw.bits_per_pixel() == 16;
    TransferRect(dst, wide ? DemosaicInterior16 : DemosaicInterior8, raw, nullptr, 0, 0, &record, nullptr);
    TransferRect(dst, wide ? DemosaicBorder16 : DemosaicBorder8, raw, nullptr, 0, 0, &record, nullptr);
    return 1;
}

}  // namespace zbx::pipeline
