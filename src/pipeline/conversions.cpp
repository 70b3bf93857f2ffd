// Each conversion is one per-pixel operation stamped into a row walker.  The
// walker resolves the row order (same or flipped) and the pixel sizes once
// per call; the common size pairs get loops with constant pixel sizes.
#include "pipeline/conversions.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "pipeline/pixel_access.h"

#pragma GCC optimize("O3")

namespace zbx::pipeline {
namespace {

enum class Rows { kSame, kFlip };

template <int SrcBpp, int DstBpp, class Op>
void walk_row_fixed(std::uint8_t* d, const std::uint8_t* s, std::int32_t w, Op op) {
    for (std::int32_t x = 0; x < w; ++x) op(d + x * DstBpp, s + x * SrcBpp);
}

template <class Op>
void walk_row_any(std::uint8_t* d, const std::uint8_t* s, std::int32_t w, int src_bpp, int dst_bpp,
                  Op op) {
    for (std::int32_t x = 0; x < w; ++x) op(d + x * dst_bpp, s + x * src_bpp);
}

// Runs `op(dst_pixel, src_pixel)` over the rectangle.  `Pairs` lists the
// (source, destination) pixel sizes that get constant-size loops.
template <Rows Order, int... Pairs, class Op>
int convert(std::uint8_t* dst, const std::uint8_t* src, const Rect* r, std::int32_t dst_x,
            std::int32_t dst_y, int dst_bpp, int src_bpp, std::int32_t dst_stride,
            std::int32_t src_stride, Op op) {
    const std::int32_t w = r->width();
    const std::int32_t h = r->height();
    for (std::int32_t i = 0; i < h; ++i) {
        const std::int32_t src_row = Order == Rows::kFlip ? r->bottom - 1 - i : r->top + i;
        const std::uint8_t* s = src + static_cast<std::ptrdiff_t>(src_row) * src_stride +
                                static_cast<std::ptrdiff_t>(r->left) * src_bpp;
        std::uint8_t* d = dst + static_cast<std::ptrdiff_t>(dst_y + i) * dst_stride +
                          static_cast<std::ptrdiff_t>(dst_x) * dst_bpp;
        bool done = false;
        // Pairs come as (src, dst, src, dst, ...).
        constexpr int kPairs[] = {Pairs..., 0};
        [&]<std::size_t... I>(std::index_sequence<I...>) {
            ((!done && src_bpp == kPairs[2 * I] && dst_bpp == kPairs[2 * I + 1]
                  ? (walk_row_fixed<kPairs[2 * I], kPairs[2 * I + 1]>(d, s, w, op), done = true)
                  : false),
             ...);
        }(std::make_index_sequence<sizeof...(Pairs) / 2>{});
        if (!done) walk_row_any(d, s, w, src_bpp, dst_bpp, op);
    }
    return 1;
}

}  // namespace

#define ZBX_RECT_CALLBACK(name)                                                                \
    int name(std::uint8_t* dst, const std::uint8_t* src, const Rect* r, std::int32_t dst_x,   \
             std::int32_t dst_y, std::uint16_t dst_bpp, std::uint16_t src_bpp,                 \
             std::int32_t dst_stride, std::int32_t src_stride, void*, void*)
#define ZBX_ARGS dst, src, r, dst_x, dst_y, dst_bpp, src_bpp, dst_stride, src_stride

ZBX_RECT_CALLBACK(Restride) {
    (void)dst_x;
    (void)dst_y;
    (void)dst_stride;
    (void)dst_bpp;
    // Source and destination are the same store.  Working from the last row
    // backwards never overwrites a packed row before it has moved: a row's
    // new place starts at or after its old end.
    const std::size_t row_bytes = static_cast<std::size_t>(r->width()) * src_bpp;
    for (std::int32_t row = r->bottom - 1; row >= r->top; --row) {
        const std::uint8_t* from = src + static_cast<std::size_t>(row) * row_bytes;
        std::uint8_t* to = dst + static_cast<std::ptrdiff_t>(row) * src_stride +
                           static_cast<std::ptrdiff_t>(r->left) * src_bpp;
        std::memmove(to, from, row_bytes);
    }
    return 1;
}

namespace {
template <int Shift>
struct GrayDown {
    void operator()(std::uint8_t* d, const std::uint8_t* s) const {
        *d = static_cast<std::uint8_t>(load16(s) >> Shift);
    }
};
template <int Shift>
struct GrayUp {
    void operator()(std::uint8_t* d, const std::uint8_t* s) const {
        store16(d, static_cast<std::uint16_t>(load16(s) << Shift));
    }
};
}  // namespace

ZBX_RECT_CALLBACK(Gray16To8By4) { return convert<Rows::kSame, 2, 1>(ZBX_ARGS, GrayDown<4>{}); }
ZBX_RECT_CALLBACK(Gray16To8By4Flipped) {
    return convert<Rows::kFlip, 2, 1>(ZBX_ARGS, GrayDown<4>{});
}
ZBX_RECT_CALLBACK(Gray16To8By2Flipped) {
    return convert<Rows::kFlip, 2, 1>(ZBX_ARGS, GrayDown<2>{});
}
ZBX_RECT_CALLBACK(Gray12To16) { return convert<Rows::kSame, 2, 2>(ZBX_ARGS, GrayUp<4>{}); }
ZBX_RECT_CALLBACK(Gray10To16) { return convert<Rows::kSame, 2, 2>(ZBX_ARGS, GrayUp<6>{}); }

namespace {
// Blue, green, red bytes copied in order or swapped.
template <bool Swap>
struct Copy24 {
    void operator()(std::uint8_t* d, const std::uint8_t* s) const {
        d[0] = s[Swap ? 2 : 0];
        d[1] = s[1];
        d[2] = s[Swap ? 0 : 2];
    }
};
// Three 16-bit channels reduced to bytes.
struct Down48To24 {
    void operator()(std::uint8_t* d, const std::uint8_t* s) const {
        d[0] = static_cast<std::uint8_t>(load16(s) >> 4);
        d[1] = static_cast<std::uint8_t>(load16(s + 2) >> 4);
        d[2] = static_cast<std::uint8_t>(load16(s + 4) >> 4);
    }
};
template <int Shift, bool Swap, bool Alpha>
struct Up48 {
    void operator()(std::uint8_t* d, const std::uint8_t* s) const {
        const auto b = static_cast<std::uint16_t>(load16(s) << Shift);
        const auto g = static_cast<std::uint16_t>(load16(s + 2) << Shift);
        const auto r = static_cast<std::uint16_t>(load16(s + 4) << Shift);
        store16(d, Swap ? r : b);
        store16(d + 2, g);
        store16(d + 4, Swap ? b : r);
        if constexpr (Alpha) store16(d + 6, 0xFFFF);
    }
};
}  // namespace

ZBX_RECT_CALLBACK(Color32To24) { return convert<Rows::kSame, 4, 3>(ZBX_ARGS, Copy24<false>{}); }
ZBX_RECT_CALLBACK(Color48To24By4) {
    return convert<Rows::kSame, 6, 3, 8, 3>(ZBX_ARGS, Down48To24{});
}
ZBX_RECT_CALLBACK(Color48To24By4Flipped) {
    return convert<Rows::kFlip, 6, 3, 8, 3>(ZBX_ARGS, Down48To24{});
}
ZBX_RECT_CALLBACK(Color48To48By4) {
    return convert<Rows::kSame, 6, 6>(ZBX_ARGS, Up48<4, false, false>{});
}
ZBX_RECT_CALLBACK(Color48To48By4Swapped) {
    return convert<Rows::kSame, 6, 6>(ZBX_ARGS, Up48<4, true, false>{});
}
ZBX_RECT_CALLBACK(Color48To48By6) {
    return convert<Rows::kSame, 6, 6>(ZBX_ARGS, Up48<6, false, false>{});
}
ZBX_RECT_CALLBACK(Color48To48By6Swapped) {
    return convert<Rows::kSame, 6, 6>(ZBX_ARGS, Up48<6, true, false>{});
}
ZBX_RECT_CALLBACK(Color64By4Alpha) {
    return convert<Rows::kSame, 6, 8, 8, 8>(ZBX_ARGS, Up48<4, false, true>{});
}
ZBX_RECT_CALLBACK(Color64By4AlphaSwapped) {
    return convert<Rows::kSame, 6, 8, 8, 8>(ZBX_ARGS, Up48<4, true, true>{});
}
ZBX_RECT_CALLBACK(Color64By6Alpha) {
    return convert<Rows::kSame, 6, 8, 8, 8>(ZBX_ARGS, Up48<6, false, true>{});
}
ZBX_RECT_CALLBACK(Color64By6AlphaSwapped) {
    return convert<Rows::kSame, 6, 8, 8, 8>(ZBX_ARGS, Up48<6, true, true>{});
}
ZBX_RECT_CALLBACK(Color24CopyFlipped) {
    return convert<Rows::kFlip, 3, 3, 4, 3>(ZBX_ARGS, Copy24<false>{});
}
ZBX_RECT_CALLBACK(Color24Swapped) {
    return convert<Rows::kSame, 3, 3, 4, 3>(ZBX_ARGS, Copy24<true>{});
}

ZBX_RECT_CALLBACK(RowCopyFlipped) {
    const std::size_t bytes = static_cast<std::size_t>(std::min(dst_stride, src_stride));
    const std::int32_t h = r->height();
    for (std::int32_t i = 0; i < h; ++i) {
        const std::int32_t src_row = r->bottom - 1 - i;
        std::memcpy(dst + static_cast<std::ptrdiff_t>(dst_y + i) * dst_stride +
                        static_cast<std::ptrdiff_t>(dst_x) * dst_bpp,
                    src + static_cast<std::ptrdiff_t>(src_row) * src_stride +
                        static_cast<std::ptrdiff_t>(r->left) * src_bpp,
                    bytes);
    }
    return 1;
}

ZBX_RECT_CALLBACK(Color32Alpha) {
    // Colours copied and the fourth byte complemented: one XOR per pixel.
    return convert<Rows::kSame, 4, 4>(ZBX_ARGS, [](std::uint8_t* d, const std::uint8_t* s) {
        std::uint32_t v;
        std::memcpy(&v, s, 4);
        v ^= 0xFF000000u;
        std::memcpy(d, &v, 4);
    });
}

ZBX_RECT_CALLBACK(ColorToGray) {
    return convert<Rows::kSame, 3, 1>(ZBX_ARGS, [](std::uint8_t* d, const std::uint8_t* s) {
        const unsigned v = (30u * s[2] + 59u * s[1] + 11u * s[0]) / 100u;
        *d = static_cast<std::uint8_t>(v);
    });
}

#undef ZBX_ARGS
#undef ZBX_RECT_CALLBACK

namespace {
// Source byte offset of each destination column, built once per call into
// per-thread storage that grows only with the window.
std::int32_t* column_table(std::int32_t n) {
    thread_local std::vector<std::int32_t> table;
    if (table.size() < static_cast<std::size_t>(n)) table.resize(static_cast<std::size_t>(n));
    return table.data();
}

template <int Bpp>
int scale_flipped(std::uint8_t* dst, const std::uint8_t* src, const Rect* dr, const Rect* sr,
                  Size src_size, std::int32_t dst_stride, std::int32_t src_stride) {
    const std::int32_t wd = dr->width();
    const std::int32_t hd = dr->height();
    if (wd <= 0 || hd <= 0 || src_size.width <= 0 || src_size.height <= 0) return 1;
    const float sx = static_cast<float>(sr->width()) / static_cast<float>(wd);
    const float sy = static_cast<float>(sr->height()) / static_cast<float>(hd);
    const std::int32_t last_col = src_size.width - 1;
    const std::int32_t last_row = src_size.height - 1;
    std::int32_t* cols = column_table(wd);
    for (std::int32_t k = 0; k < wd; ++k) {
        const auto c = static_cast<std::int32_t>(static_cast<float>(k) * sx);
        cols[k] = std::clamp(c, 0, last_col) * Bpp;
    }
    for (std::int32_t i = 0; i < hd; ++i) {
        std::int32_t a = static_cast<std::int32_t>(static_cast<float>(i) * sy);
        a = std::clamp(a, 0, last_row);
        // Never outside the store, whatever rectangle was passed.
        const std::int32_t src_row = std::clamp(sr->bottom - 1 - a, 0, last_row);
        const std::uint8_t* s = src + static_cast<std::ptrdiff_t>(src_row) * src_stride;
        std::uint8_t* d = dst + static_cast<std::ptrdiff_t>(dr->top + i) * dst_stride +
                          static_cast<std::ptrdiff_t>(dr->left) * Bpp;
        for (std::int32_t k = 0; k < wd; ++k) {
            const std::uint8_t* p = s + cols[k];
            for (int b = 0; b < Bpp; ++b) d[k * Bpp + b] = p[b];
        }
    }
    return 1;
}
}  // namespace

int ScaleColor24Flipped(std::uint8_t* dst, const std::uint8_t* src, const Rect* dst_rect,
                        const Rect* src_rect, Size, Size src_size, std::uint16_t,
                        std::uint16_t, std::int32_t dst_stride, std::int32_t src_stride, void*,
                        void*) {
    return scale_flipped<3>(dst, src, dst_rect, src_rect, src_size, dst_stride, src_stride);
}

int ScaleGray8Flipped(std::uint8_t* dst, const std::uint8_t* src, const Rect* dst_rect,
                      const Rect* src_rect, Size, Size src_size, std::uint16_t, std::uint16_t,
                      std::int32_t dst_stride, std::int32_t src_stride, void*, void*) {
    return scale_flipped<1>(dst, src, dst_rect, src_rect, src_size, dst_stride, src_stride);
}

}  // namespace zbx::pipeline
