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
// The interior runs the vector row kernels of demosaic_rows.cpp (the
// processor's best instruction set, chosen at run time) and the plain row
// kernel for what they leave; both give identical results.  The border
// re-runs the same sums with neighbour replacement (rows only in the top and
// bottom strips).
#include "pipeline/demosaic.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <limits>

#include "pipeline/demosaic_rows.h"
#include "pipeline/image_buffer.h"
#include "pipeline/pixel_access.h"

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

// ---- vector rows -----------------------------------------------------------

// The vector row kernels (demosaic_rows.cpp, dispatched to the processor's
// best target) for gains they handle; returns the first column not written.
template <class T>
int fast_row(const Frame<T>& f, const Params& p, const T* const rows[4], int y) {
    const std::int64_t k_limit = sizeof(T) == 1 ? 32767 : 4095;
    if (p.k_blue < 0 || p.k_red < 0 || p.k_blue > k_limit || p.k_red > k_limit) return 2;
    demosaic_rows::RowJob job{{rows[0], rows[1], rows[2], rows[3]},
                              f.w,
                              p.c0,
                              (y + p.r0) & 1,
                              static_cast<std::int32_t>(p.k_blue),
                              static_cast<std::int32_t>(p.k_red),
                              f.dst_px(0, y),
                              f.dst_bpp};
    return sizeof(T) == 1 ? demosaic_rows::Row8(job) : demosaic_rows::Row16(job);
}

bool use_vectors() { return !g_force_plain.load(std::memory_order_relaxed); }

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
    const bool simd = use_vectors();
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
    const bool simd = use_vectors();
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
