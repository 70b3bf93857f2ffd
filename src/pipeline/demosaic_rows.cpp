// Vector rows of the bilinear demosaic (sums explained in demosaic.cpp).
//
// Each row first forms scratch in which every colour is kept only at its own
// columns (zero elsewhere): Pc = 3 C + A at the columns of row C's colour,
// Qc = 3 B + D at those of row B's colour, Gs = the green sample of row B or
// C (one of the two at each column).  Then, for alpha and beta pixels alike,
//   hP = 3 (Pc(x) + Pc(x-1)) + Pc(x-2) + Pc(x+1)
//   hQ = 3 (Qc(x) + Qc(x-1)) + Qc(x-2) + Qc(x+1)
//   green sum = Gs(x-1) + Gs(x)
// because of each pair {x-1, x} and {x-2, x+1} exactly one column carries
// the colour.  No step depends on the parity of x, so the last vector step
// may overlap the one before (it writes the same values again) and the
// plain tail is left with nothing to do once a row holds one vector.
//
// Lane widths: 8-bit samples in 16-bit lanes, (h × k) >> 11 as
// mulhi(h << 4, 2k) (h <= 4080, k <= 32767).  16-bit samples of at most 12
// bits in 16-bit lanes (every sum < 2^16; with k <= 2047 the product is below
// 2^27, so (h × k) >> 11 = (mulhi << 5) | (mullo >> 11)); rows with larger
// samples, or larger gains, in 32-bit lanes (h < 2^20, k <= 4095).
#include "pipeline/demosaic_rows.h"

#include <cstddef>
#include <type_traits>
#include <vector>

// The step loops gain about a fifth at -O3 (unrolled, the lambdas inlined).
#pragma GCC optimize("O3")

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "pipeline/demosaic_rows.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace zbx::pipeline::demosaic_rows {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Per-thread row scratch, grown only when a wider frame arrives.
template <class T>
T* Scratch(std::size_t n) {
    thread_local std::vector<T> buf;
    if (buf.size() < n) buf.resize(n);
    return buf.data();
}

template <class D, class S>
HWY_INLINE hn::Vec<D> LoadRow(D d, const S* p) {
    if constexpr (sizeof(S) == sizeof(hn::TFromD<D>)) {
        return hn::LoadU(d, p);
    } else {
        return hn::PromoteTo(d, hn::LoadU(hn::Rebind<S, D>(), p));
    }
}

template <class V>
HWY_INLINE V Times3(V v) {
    return hn::Add(hn::Add(v, v), v);
}

// Lane type T for a row of kChannels-sample pixels.  Four-sample rows stay
// within 256-bit vectors: keeping the fourth sample takes a de-interleaving
// load, which at 512 bits costs more than the wider steps gain.
template <class T, int kChannels>
using RowTag = std::conditional_t<kChannels == 4, hn::CappedTag<T, 32 / sizeof(T)>, hn::ScalableTag<T>>;

// The scratch rows Pc, Qc, Gs of w columns.  Row C's colour (blue on even
// rows, red on odd) sits where (i + c0) & 1 == 1 - r, row B's colour where
// it equals r; the green of row C lies at row B's colour columns.  Returns
// false when kCheck12 and a sample exceeds 12 bits.
template <bool kCheck12, class D, class S, class T = hn::TFromD<D>>
HWY_INLINE bool ScratchRows(D d, const S* const rows[4], const RowJob& j, T* Pc, T* Qc, T* Gs) {
    const S* A = rows[0];
    const S* B = rows[1];
    const S* C = rows[2];
    const S* Dr = rows[3];
    const int w = j.width;
    const int n = static_cast<int>(hn::Lanes(d));
    const bool p_even = (j.c0 & 1) == 1 - j.r;
    // Steps start at even columns, so lane parity is column parity when n is
    // even; a single-lane target leaves every column to the plain loop.
    const int vector_end = n % 2 == 0 ? w : 0;
    const auto parity = hn::And(hn::Iota(d, 0), hn::Set(d, T{1}));
    const auto p_mask = hn::Eq(parity, hn::Set(d, static_cast<T>(p_even ? 0 : 1)));
    const auto q_mask = hn::Eq(parity, hn::Set(d, static_cast<T>(p_even ? 1 : 0)));
    auto high = hn::Zero(d);
    int i = 0;
    for (; i + n <= vector_end; i += n) {
        const auto a = LoadRow(d, A + i);
        const auto b = LoadRow(d, B + i);
        const auto c = LoadRow(d, C + i);
        const auto dd = LoadRow(d, Dr + i);
        if constexpr (kCheck12) high = hn::Or(high, hn::Or(hn::Or(a, b), hn::Or(c, dd)));
        hn::StoreU(hn::IfThenElseZero(p_mask, hn::Add(Times3(c), a)), d, Pc + i);
        hn::StoreU(hn::IfThenElseZero(q_mask, hn::Add(Times3(b), dd)), d, Qc + i);
        hn::StoreU(hn::IfThenElse(q_mask, c, b), d, Gs + i);
    }
    unsigned tail_high = 0;
    for (; i < w; ++i) {
        if constexpr (kCheck12) tail_high |= unsigned{A[i]} | B[i] | C[i] | Dr[i];
        const bool pc = ((i + j.c0) & 1) == 1 - j.r;
        Pc[i] = pc ? static_cast<T>(3u * C[i] + A[i]) : T{0};
        Qc[i] = pc ? T{0} : static_cast<T>(3u * B[i] + Dr[i]);
        Gs[i] = pc ? B[i] : C[i];
    }
    if constexpr (kCheck12) {
        const auto over = hn::ShiftRight<12>(high);
        return (tail_high >> 12) == 0 && hn::AllTrue(d, hn::Eq(over, hn::Zero(d)));
    }
    return true;
}

// hP, hQ and the green sum at columns x ... x+n-1.
template <class D, class T = hn::TFromD<D>>
HWY_INLINE void Sums(D d, const T* Pc, const T* Qc, const T* Gs, int x, hn::Vec<D>& hp,
                     hn::Vec<D>& hq, hn::Vec<D>& g2) {
    const auto p01 = hn::Add(hn::LoadU(d, Pc + x), hn::LoadU(d, Pc + x - 1));
    const auto q01 = hn::Add(hn::LoadU(d, Qc + x), hn::LoadU(d, Qc + x - 1));
    hp = hn::Add(Times3(p01), hn::Add(hn::LoadU(d, Pc + x - 2), hn::LoadU(d, Pc + x + 1)));
    hq = hn::Add(Times3(q01), hn::Add(hn::LoadU(d, Qc + x - 2), hn::LoadU(d, Qc + x + 1)));
    g2 = hn::Add(hn::LoadU(d, Gs + x - 1), hn::LoadU(d, Gs + x));
}

// Blue, green, red of n pixels to o; a fourth sample keeps its value.
template <int kChannels, class D, class V, class T = hn::TFromD<D>>
HWY_INLINE void StorePixels(D d, V b, V g, V r, T* o) {
    if constexpr (kChannels == 3) {
        hn::StoreInterleaved3(b, g, r, d, o);
    } else {
        V o0, o1, o2, o3;
        hn::LoadInterleaved4(d, o, o0, o1, o2, o3);
        hn::StoreInterleaved4(b, g, r, o3, d, o);
    }
}

// Runs step(x) over columns 2 ... w-3 in steps of n, the last one
// overlapping; returns the first column not written.
template <class Step>
HWY_INLINE int Columns(int w, int n, const Step& step) {
    const int x0 = 2;
    const int x1 = w - 2;
    if (x1 - x0 < n) return x0;
    int x = x0;
    for (; x + n <= x1; x += n) step(x);
    if (x < x1) step(x1 - n);
    return x1;
}

// 16-bit samples of at most 12 bits, k <= 2047; returns 2 for a row with a
// larger sample.
template <int kChannels>
int Row12T(const RowJob& j) {
    const RowTag<std::uint16_t, kChannels> d;
    const int w = j.width;
    const int n = static_cast<int>(hn::Lanes(d));
    if (w - 4 < n) return 2;
    std::uint16_t* s = Scratch<std::uint16_t>(3 * static_cast<std::size_t>(w));
    std::uint16_t* Pc = s;
    std::uint16_t* Qc = s + w;
    std::uint16_t* Gs = s + 2 * static_cast<std::size_t>(w);
    const auto* const* rows = reinterpret_cast<const std::uint16_t* const*>(j.rows);
    if (!ScratchRows<true>(d, rows, j, Pc, Qc, Gs)) return 2;
    const auto kp = hn::Set(d, static_cast<std::uint16_t>(j.r == 0 ? j.k_blue : j.k_red));
    const auto kq = hn::Set(d, static_cast<std::uint16_t>(j.r == 0 ? j.k_red : j.k_blue));
    const auto max = hn::Set(d, std::uint16_t{4095});
    const auto scale = [&](auto h, auto k) HWY_ATTR {
        return hn::Min(hn::Or(hn::ShiftLeft<5>(hn::MulHigh(h, k)), hn::ShiftRight<11>(hn::Mul(h, k))),
                       max);
    };
    auto* out = reinterpret_cast<std::uint16_t*>(j.out);
    const int r = j.r;
    return Columns(w, n, [&](int x) HWY_ATTR {
        hn::Vec<decltype(d)> hp, hq, g2;
        Sums(d, Pc, Qc, Gs, x, hp, hq, g2);
        const auto vp = scale(hp, kp);
        const auto vq = scale(hq, kq);
        StorePixels<kChannels>(d, r == 0 ? vp : vq, hn::ShiftRight<1>(g2), r == 0 ? vq : vp,
                               out + static_cast<std::ptrdiff_t>(x) * kChannels);
    });
}

// Any 16-bit samples, k <= 4095, in 32-bit lanes.
template <int kChannels>
int Row16T(const RowJob& j) {
    const RowTag<std::uint32_t, kChannels> d;
    const hn::Rebind<std::uint16_t, decltype(d)> d16;
    const hn::RebindToSigned<decltype(d)> di;
    const int w = j.width;
    const int n = static_cast<int>(hn::Lanes(d));
    if (w - 4 < n) return 2;
    std::uint32_t* s = Scratch<std::uint32_t>(3 * static_cast<std::size_t>(w));
    std::uint32_t* Pc = s;
    std::uint32_t* Qc = s + w;
    std::uint32_t* Gs = s + 2 * static_cast<std::size_t>(w);
    const auto* const* rows = reinterpret_cast<const std::uint16_t* const*>(j.rows);
    (void)ScratchRows<false>(d, rows, j, Pc, Qc, Gs);
    const auto kp = hn::Set(d, static_cast<std::uint32_t>(j.r == 0 ? j.k_blue : j.k_red));
    const auto kq = hn::Set(d, static_cast<std::uint32_t>(j.r == 0 ? j.k_red : j.k_blue));
    const auto max = hn::Set(d, std::uint32_t{4095});
    auto* out = reinterpret_cast<std::uint16_t*>(j.out);
    const int r = j.r;
    return Columns(w, n, [&](int x) HWY_ATTR {
        hn::Vec<decltype(d)> hp, hq, g2;
        Sums(d, Pc, Qc, Gs, x, hp, hq, g2);
        const auto vp = hn::Min(hn::ShiftRight<11>(hn::Mul(hp, kp)), max);
        const auto vq = hn::Min(hn::ShiftRight<11>(hn::Mul(hq, kq)), max);
        const auto g = hn::Min(hn::ShiftRight<1>(g2), max);
        const auto b16 = hn::DemoteTo(d16, hn::BitCast(di, r == 0 ? vp : vq));
        const auto g16 = hn::DemoteTo(d16, hn::BitCast(di, g));
        const auto r16 = hn::DemoteTo(d16, hn::BitCast(di, r == 0 ? vq : vp));
        StorePixels<kChannels>(d16, b16, g16, r16, out + static_cast<std::ptrdiff_t>(x) * kChannels);
    });
}

#if HWY_TARGET != HWY_SCALAR  // one lane cannot hold a pixel pair

// 8-bit rows work on even and odd columns apart, so that a pair of 16-bit
// lanes (even pixel in the low byte, odd in the high) is a run of two
// pixels and no lane ever crosses the vector.  Each colour other than green
// lies at one column parity; its half-row H[k] = 3 C + A (or 3 B + D) at
// column 2k or 2k+1 gives, for the pixels x = 2k and 2k+1:
//   colour at even columns: 3 H[k] + H[k-1],  3 H[k] + H[k+1]
//   colour at odd columns:  3 H[k-1] + H[k],  3 H[k] + H[k-1]
// and green Go[k-1] + Ge[k], Ge[k] + Go[k] from the green samples at even
// (Ge) and odd (Go) columns.

// The half rows of w columns: P (row C's colour, at parity kPP) to Pd,
// Q (row B's colour) to Qd, the green samples to Ge and Go.
template <int kPP, class D16, class T = hn::TFromD<D16>>
HWY_INLINE void HalfRows8(D16 d, const std::uint8_t* const rows[4], int w, T* Pd, T* Qd, T* Ge,
                          T* Go) {
    const hn::Repartition<std::uint8_t, D16> d8;
    const int n = static_cast<int>(hn::Lanes(d));
    const auto low = hn::Set(d, T{0xFF});
    const auto even = [&](const std::uint8_t* p) HWY_ATTR {
        return hn::And(hn::BitCast(d, hn::LoadU(d8, p)), low);
    };
    const auto odd = [&](const std::uint8_t* p) HWY_ATTR {
        return hn::ShiftRight<8>(hn::BitCast(d, hn::LoadU(d8, p)));
    };
    const std::uint8_t* A = rows[0];
    const std::uint8_t* B = rows[1];
    const std::uint8_t* C = rows[2];
    const std::uint8_t* Dr = rows[3];
    int k = 0;
    for (; 2 * (k + n) <= w; k += n) {
        const int i = 2 * k;
        if constexpr (kPP == 0) {
            const auto ce = even(C + i);
            const auto bo = odd(B + i);
            hn::StoreU(hn::Add(Times3(ce), even(A + i)), d, Pd + k);
            hn::StoreU(hn::Add(Times3(bo), odd(Dr + i)), d, Qd + k);
            hn::StoreU(even(B + i), d, Ge + k);
            hn::StoreU(odd(C + i), d, Go + k);
        } else {
            const auto co = odd(C + i);
            const auto be = even(B + i);
            hn::StoreU(hn::Add(Times3(co), odd(A + i)), d, Pd + k);
            hn::StoreU(hn::Add(Times3(be), even(Dr + i)), d, Qd + k);
            hn::StoreU(even(C + i), d, Ge + k);
            hn::StoreU(odd(B + i), d, Go + k);
        }
    }
    for (; 2 * k < w; ++k) {
        const int e = 2 * k;
        const int o = e + 1 < w ? e + 1 : e;  // a missing odd column is never read
        const int pc = kPP == 0 ? e : o;
        const int qc = kPP == 0 ? o : e;
        Pd[k] = static_cast<T>(3 * C[pc] + A[pc]);
        Qd[k] = static_cast<T>(3 * B[qc] + Dr[qc]);
        Ge[k] = kPP == 0 ? B[e] : C[e];
        Go[k] = kPP == 0 ? C[o] : B[o];
    }
}

// Sums of one colour at the pixels 2k ... 2k+2n-1, even and odd apart.
template <int kPar, class D, class T = hn::TFromD<D>>
HWY_INLINE void HalfSums(D d, const T* H, int k, hn::Vec<D>& e, hn::Vec<D>& o) {
    const auto h0 = hn::LoadU(d, H + k);
    const auto hm = hn::LoadU(d, H + k - 1);
    if constexpr (kPar == 0) {
        const auto t = Times3(h0);
        e = hn::Add(t, hm);
        o = hn::Add(t, hn::LoadU(d, H + k + 1));
    } else {
        e = hn::Add(Times3(hm), h0);
        o = hn::Add(Times3(h0), hm);
    }
}

// kPB: the column parity of blue.
template <int kPB, int kChannels>
int Row8Pairs(const RowJob& j, const std::uint16_t* Bh, const std::uint16_t* Rh,
              const std::uint16_t* Ge, const std::uint16_t* Go) {
    const RowTag<std::uint16_t, kChannels> d;
    const hn::Repartition<std::uint8_t, decltype(d)> d8;
    const int n = static_cast<int>(hn::Lanes(d));
    // Pixel pairs k = 1 ... k_end-1 cover columns 2 ... 2 k_end - 1 <= w - 3.
    const int k_end = (j.width - 2) / 2;
    if (k_end - 1 < n) return 2;
    const auto kb = hn::Set(d, static_cast<std::uint16_t>(2 * j.k_blue));
    const auto kr = hn::Set(d, static_cast<std::uint16_t>(2 * j.k_red));
    const auto max = hn::Set(d, std::uint16_t{255});
    // (h × k) >> 11 == mulhi(h << 4, 2k), limited to 255.
    const auto scale = [&](hn::Vec<decltype(d)> h, hn::Vec<decltype(d)> k) HWY_ATTR {
        return hn::Min(hn::MulHigh(hn::ShiftLeft<4>(h), k), max);
    };
    const auto pair = [&](hn::Vec<decltype(d)> e, hn::Vec<decltype(d)> o) HWY_ATTR {
        return hn::BitCast(d8, hn::Or(e, hn::ShiftLeft<8>(o)));
    };
    std::uint8_t* out = j.out;
    const auto step = [&](int k) HWY_ATTR {
        hn::Vec<decltype(d)> be, bo, re, ro;
        HalfSums<kPB>(d, Bh, k, be, bo);
        HalfSums<1 - kPB>(d, Rh, k, re, ro);
        const auto ge = hn::LoadU(d, Ge + k);
        const auto g_even = hn::ShiftRight<1>(hn::Add(hn::LoadU(d, Go + k - 1), ge));
        const auto g_odd = hn::ShiftRight<1>(hn::Add(ge, hn::LoadU(d, Go + k)));
        StorePixels<kChannels>(d8, pair(scale(be, kb), scale(bo, kb)), pair(g_even, g_odd),
                               pair(scale(re, kr), scale(ro, kr)),
                               out + static_cast<std::ptrdiff_t>(2 * k) * kChannels);
    };
    int k = 1;
    for (; k + n <= k_end; k += n) step(k);
    if (k < k_end) step(k_end - n);
    return 2 * k_end;
}

// 8-bit samples, k <= 32767.
template <int kChannels>
int Row8T(const RowJob& j) {
    const RowTag<std::uint16_t, kChannels> d;
    const int w = j.width;
    if ((w - 2) / 2 - 1 < static_cast<int>(hn::Lanes(d))) return 2;
    const std::size_t half = static_cast<std::size_t>(w + 1) / 2;
    std::uint16_t* s = Scratch<std::uint16_t>(4 * half);
    std::uint16_t* Ph = s;
    std::uint16_t* Qh = s + half;
    std::uint16_t* Ge = s + 2 * half;
    std::uint16_t* Go = s + 3 * half;
    const auto* const* rows = reinterpret_cast<const std::uint8_t* const*>(j.rows);
    // Row C's colour (blue on even rows, red on odd) sits where
    // (x + c0) & 1 == 1 - r, that is at parity pp.
    const int pp = (1 - j.r + j.c0) & 1;
    if (pp == 0) {
        HalfRows8<0>(d, rows, w, Ph, Qh, Ge, Go);
    } else {
        HalfRows8<1>(d, rows, w, Ph, Qh, Ge, Go);
    }
    const std::uint16_t* Bh = j.r == 0 ? Ph : Qh;
    const std::uint16_t* Rh = j.r == 0 ? Qh : Ph;
    const int pb = j.r == 0 ? pp : 1 - pp;
    return pb == 0 ? Row8Pairs<0, kChannels>(j, Bh, Rh, Ge, Go)
                   : Row8Pairs<1, kChannels>(j, Bh, Rh, Ge, Go);
}

int Row8Impl(const RowJob& j) {
    if (j.out_bpp == 3) return Row8T<3>(j);
    if (j.out_bpp == 4) return Row8T<4>(j);
    return 2;
}

#else

int Row8Impl(const RowJob&) { return 2; }

#endif

int Row16Impl(const RowJob& j) {
    if (j.out_bpp != 6 && j.out_bpp != 8) return 2;
    if (j.k_blue <= 2047 && j.k_red <= 2047) {
        const int x = j.out_bpp == 6 ? Row12T<3>(j) : Row12T<4>(j);
        if (x != 2) return x;
    }
    return j.out_bpp == 6 ? Row16T<3>(j) : Row16T<4>(j);
}

}  // namespace HWY_NAMESPACE
}  // namespace zbx::pipeline::demosaic_rows
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace zbx::pipeline::demosaic_rows {

HWY_EXPORT(Row8Impl);
HWY_EXPORT(Row16Impl);

int Row8(const RowJob& job) { return HWY_DYNAMIC_DISPATCH(Row8Impl)(job); }
int Row16(const RowJob& job) { return HWY_DYNAMIC_DISPATCH(Row16Impl)(job); }

}  // namespace zbx::pipeline::demosaic_rows
#endif  // HWY_ONCE
