// Software bitmaps, device contexts and blits.
//
// A blit walks destination steps i along each axis.  With extents a (source)
// and b (destination), step i reads source step floor(i * a / b); the steps
// whose destination and source both fall inside their bitmaps form one
// contiguous range per axis (the mapping is monotonic), computed once, so
// the pixel loops carry no bounds checks.  Each (source, destination) bit
// depth pair is its own loop body, chosen once per blit.
#include "platform/graphics.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

namespace zbx::platform {

struct BitmapAccess {
    static void make_stock(Bitmap& bitmap) { bitmap.stock_ = true; }
};

namespace {

// Pixel stores above this size are refused rather than attempted.
constexpr std::uint64_t kMaxStoreBytes = std::uint64_t{1} << 31;

std::shared_ptr<Bitmap> stock_bitmap() {
    static const std::shared_ptr<Bitmap> stock = [] {
        BitmapInfoHeader header;
        header.biWidth = 1;
        header.biHeight = 1;
        header.biPlanes = 1;
        header.biBitCount = 24;
        std::shared_ptr<Bitmap> bitmap = create_dib_section(header, {});
        if (bitmap) BitmapAccess::make_stock(*bitmap);
        return bitmap;
    }();
    return stock;
}

// One axis of a blit: the destination steps [first, last) that land inside
// both bitmaps, and how steps map to coordinates.
struct Axis {
    std::int64_t first = 0;
    std::int64_t last = 0;
    int dst_origin = 0;
    int dst_dir = 1;
    int src_origin = 0;
    int src_dir = 1;
    std::int64_t src_extent = 1;  // a
    std::int64_t dst_extent = 1;  // b

    [[nodiscard]] int dst_at(std::int64_t i) const {
        return static_cast<int>(dst_origin + dst_dir * i);
    }
    [[nodiscard]] std::int64_t src_step(std::int64_t i) const { return i * src_extent / dst_extent; }
    [[nodiscard]] int src_at(std::int64_t i) const {
        return static_cast<int>(src_origin + src_dir * src_step(i));
    }
};

std::int64_t ceil_div(std::int64_t n, std::int64_t d) {  // d > 0
    return n >= 0 ? (n + d - 1) / d : -((-n) / d);
}

// Steps k (0 <= k < extent) whose coordinate origin + dir * k lies in [0, size).
void steps_inside(int origin, int dir, std::int64_t extent, int size, std::int64_t* lo,
                  std::int64_t* hi) {
    if (dir > 0) {
        *lo = std::max<std::int64_t>(0, -std::int64_t{origin});
        *hi = std::min<std::int64_t>(extent, std::int64_t{size} - origin);
    } else {
        *lo = std::max<std::int64_t>(0, std::int64_t{origin} - size + 1);
        *hi = std::min<std::int64_t>(extent, std::int64_t{origin} + 1);
    }
}

Axis make_axis(int dst_origin, int dst_signed, int dst_size, int src_origin, int src_signed,
               int src_size) {
    Axis axis;
    axis.dst_origin = dst_origin;
    axis.dst_dir = dst_signed < 0 ? -1 : 1;
    axis.dst_extent = dst_signed < 0 ? -std::int64_t{dst_signed} : dst_signed;
    axis.src_origin = src_origin;
    axis.src_dir = src_signed < 0 ? -1 : 1;
    axis.src_extent = src_signed < 0 ? -std::int64_t{src_signed} : src_signed;

    std::int64_t dlo = 0;
    std::int64_t dhi = 0;
    steps_inside(dst_origin, axis.dst_dir, axis.dst_extent, dst_size, &dlo, &dhi);
    std::int64_t jlo = 0;
    std::int64_t jhi = 0;
    steps_inside(src_origin, axis.src_dir, axis.src_extent, src_size, &jlo, &jhi);
    // floor(i*a/b) >= jlo  <=>  i >= ceil(jlo*b/a);  floor(i*a/b) < jhi  <=>  i < ceil(jhi*b/a).
    std::int64_t slo = ceil_div(jlo * axis.dst_extent, axis.src_extent);
    std::int64_t shi = ceil_div(jhi * axis.dst_extent, axis.src_extent);
    axis.first = std::max(dlo, slo);
    axis.last = std::min(dhi, shi);
    if (axis.last < axis.first) axis.last = axis.first;
    return axis;
}

struct BlitTables {
    const RgbQuad* palette = nullptr;      // source colour table (8-bit sources)
    std::array<std::uint8_t, 256> index_map{};  // 8-bit to 8-bit
};

template <int kSrcBits>
inline void read_bgr(const std::uint8_t* p, const BlitTables& t, std::uint8_t* b, std::uint8_t* g,
                     std::uint8_t* r) {
    if constexpr (kSrcBits == 8) {
        const RgbQuad& q = t.palette[*p];
        *b = q.rgbBlue;
        *g = q.rgbGreen;
        *r = q.rgbRed;
    } else {
        *b = p[0];
        *g = p[1];
        *r = p[2];
    }
}

// 32-bit to 32-bit keeps the fourth byte; other sources give it 0.
template <int kSrcBits, int kDstBits>
inline void write_pixel(const std::uint8_t* src, std::uint8_t* dst, const BlitTables& t) {
    read_bgr<kSrcBits>(src, t, &dst[0], &dst[1], &dst[2]);
    if constexpr (kDstBits == 32) dst[3] = kSrcBits == 32 ? src[3] : 0;
}

// One destination row: `count` pixels from step `first` on.
template <int kSrcBits, int kDstBits>
void blit_row(const std::uint8_t* src_row, std::uint8_t* dst_row, const Axis& x, const BlitTables& t) {
    constexpr int kSrcBytes = kSrcBits / 8;
    constexpr int kDstBytes = kDstBits / 8;
    const std::int64_t count = x.last - x.first;
    std::uint8_t* dst = dst_row + std::int64_t{x.dst_at(x.first)} * kDstBytes;
    const std::ptrdiff_t dst_step = x.dst_dir * kDstBytes;

    if (x.src_extent == x.dst_extent) {
        const std::uint8_t* src = src_row + std::int64_t{x.src_at(x.first)} * kSrcBytes;
        const std::ptrdiff_t src_step = x.src_dir * kSrcBytes;
        if constexpr (kSrcBits == kDstBits && kSrcBits != 8) {
            if (src_step > 0 && dst_step > 0) {
                std::memcpy(dst, src, static_cast<std::size_t>(count) * kSrcBytes);
                return;
            }
        }
        for (std::int64_t k = 0; k < count; ++k, src += src_step, dst += dst_step) {
            if constexpr (kDstBits == 8) {
                *dst = t.index_map[*src];
            } else {
                write_pixel<kSrcBits, kDstBits>(src, dst, t);
            }
        }
        return;
    }

    // Scaled: source step advances by a/b per destination step, tracked
    // as a whole part and a remainder to avoid a division per pixel.
    const std::int64_t a = x.src_extent;
    const std::int64_t b = x.dst_extent;
    std::int64_t j = x.first * a / b;
    std::int64_t rem = x.first * a % b;
    const std::int64_t whole = a / b;
    const std::int64_t part = a % b;
    for (std::int64_t k = 0; k < count; ++k, dst += dst_step) {
        const std::uint8_t* src = src_row + (x.src_origin + x.src_dir * j) * kSrcBytes;
        if constexpr (kDstBits == 8) {
            *dst = t.index_map[*src];
        } else {
            write_pixel<kSrcBits, kDstBits>(src, dst, t);
        }
        j += whole;
        rem += part;
        if (rem >= b) {
            rem -= b;
            ++j;
        }
    }
}

using RowFunction = void (*)(const std::uint8_t*, std::uint8_t*, const Axis&, const BlitTables&);

RowFunction choose_row_function(int src_bits, int dst_bits) {
    switch (dst_bits) {
    case 8:
        return src_bits == 8 ? &blit_row<8, 8> : nullptr;
    case 24:
        if (src_bits == 8) return &blit_row<8, 24>;
        if (src_bits == 24) return &blit_row<24, 24>;
        if (src_bits == 32) return &blit_row<32, 24>;
        return nullptr;
    case 32:
        if (src_bits == 8) return &blit_row<8, 32>;
        if (src_bits == 24) return &blit_row<24, 32>;
        if (src_bits == 32) return &blit_row<32, 32>;
        return nullptr;
    default:
        return nullptr;
    }
}

int colour_distance(const RgbQuad& p, const RgbQuad& q) {
    int db = p.rgbBlue - q.rgbBlue;
    int dg = p.rgbGreen - q.rgbGreen;
    int dr = p.rgbRed - q.rgbRed;
    return db * db + dg * dg + dr * dr;
}

// Nearest destination entry for each source entry (exact matches kept).
void build_index_map(const ColorTable& from, const ColorTable& to, std::array<std::uint8_t, 256>* map) {
    for (std::size_t i = 0; i < kColorTableSize; ++i) {
        if (from[i] == to[i]) {
            (*map)[i] = static_cast<std::uint8_t>(i);
            continue;
        }
        std::size_t best = 0;
        int best_distance = std::numeric_limits<int>::max();
        for (std::size_t k = 0; k < kColorTableSize && best_distance != 0; ++k) {
            int d = colour_distance(from[i], to[k]);
            if (d < best_distance) {
                best_distance = d;
                best = k;
            }
        }
        (*map)[i] = static_cast<std::uint8_t>(best);
    }
}

// Both bitmaps locked by the caller.
void run_blit(const Bitmap& src, const std::uint8_t* src_store, Bitmap& dst, const Axis& x,
              const Axis& y, RowFunction row_function) {
    BlitTables tables;
    tables.palette = src.colors().data();
    if (dst.bits_per_pixel() == 8) build_index_map(src.colors(), dst.colors(), &tables.index_map);
    for (std::int64_t i = y.first; i < y.last; ++i) {
        int sy = y.src_at(i);
        int src_memory_row = src.bottom_up() ? src.height() - 1 - sy : sy;
        const std::uint8_t* src_row = src_store + std::int64_t{src_memory_row} * src.stride();
        row_function(src_row, dst.picture_row(y.dst_at(i)), x, tables);
    }
}

bool blit(DeviceContext* dst_dc, int x, int y, int width, int height, const DeviceContext* src_dc,
          int src_x, int src_y, int src_width, int src_height, std::uint32_t rop) {
    if (dst_dc == nullptr || src_dc == nullptr || rop != kSrcCopy) return false;
    Bitmap& dst = *dst_dc->bitmap();
    const Bitmap& src = *src_dc->bitmap();
    RowFunction row_function = choose_row_function(src.bits_per_pixel(), dst.bits_per_pixel());
    if (row_function == nullptr) return false;

    Axis ax = make_axis(x, width, dst.width(), src_x, src_width, src.width());
    Axis ay = make_axis(y, height, dst.height(), src_y, src_height, src.height());

    if (&src == &dst) {
        // Reading and writing one store: read from a snapshot so that
        // overlapping rectangles copy as if all was read first.
        {
            std::lock_guard lock(dst.mutex());
            if (is_retired(dst)) return false;
            std::unique_ptr<std::uint8_t[]> copy(new (std::nothrow) std::uint8_t[src.size_bytes()]);
            if (!copy) return false;
            std::memcpy(copy.get(), src.pixels(), src.size_bytes());
            run_blit(src, copy.get(), dst, ax, ay, row_function);
        }
        dst_dc->drawn();
        return true;
    }
    {
        std::scoped_lock lock(src.mutex(), dst.mutex());
        if (is_retired(src) || is_retired(dst)) return false;
        run_blit(src, src.pixels(), dst, ax, ay, row_function);
    }
    dst_dc->drawn();
    return true;
}

}  // namespace

// ---- Bitmap ---------------------------------------------------------------

Bitmap::~Bitmap() = default;

std::size_t Bitmap::size_bytes() const {
    return static_cast<std::size_t>(stride_) * static_cast<std::size_t>(height_);
}

std::uint8_t* Bitmap::picture_row(int y) {
    int row = bottom_up_ ? height_ - 1 - y : y;
    return store_.get() + static_cast<std::ptrdiff_t>(row) * stride_;
}

const std::uint8_t* Bitmap::picture_row(int y) const {
    int row = bottom_up_ ? height_ - 1 - y : y;
    return store_.get() + static_cast<std::ptrdiff_t>(row) * stride_;
}

std::shared_ptr<Bitmap> create_dib_section(const BitmapInfoHeader& header,
                                           std::span<const RgbQuad> colors, std::uint32_t usage) {
    if (usage != kDibRgbColors || header.biSize != sizeof(BitmapInfoHeader) ||
        header.biPlanes != 1 || header.biCompression != kBiRgb || header.biWidth <= 0 ||
        header.biHeight == 0 || header.biHeight == std::numeric_limits<std::int32_t>::min()) {
        return nullptr;
    }
    const int bits = header.biBitCount;
    if (bits != 8 && bits != 16 && bits != 24 && bits != 32) return nullptr;
    const std::int64_t rows = header.biHeight < 0 ? -std::int64_t{header.biHeight} : header.biHeight;
    const std::int64_t stride = dib_stride(header.biWidth, bits);
    const auto bytes = static_cast<std::uint64_t>(stride) * static_cast<std::uint64_t>(rows);
    if (stride > std::numeric_limits<int>::max() || bytes > kMaxStoreBytes) return nullptr;

    std::shared_ptr<Bitmap> bitmap(new (std::nothrow) Bitmap);
    if (!bitmap) return nullptr;
    bitmap->store_.reset(new (std::nothrow) std::uint8_t[bytes]());
    if (!bitmap->store_) return nullptr;
    bitmap->width_ = header.biWidth;
    bitmap->height_ = static_cast<int>(rows);
    bitmap->stride_ = static_cast<int>(stride);
    bitmap->bits_ = bits;
    bitmap->bottom_up_ = header.biHeight > 0;
    if (bits == 8) {
        std::copy_n(colors.begin(), std::min(colors.size(), kColorTableSize), bitmap->colors_.begin());
    }
    return bitmap;
}

std::shared_ptr<Bitmap> create_dib_section(const BitmapInfo& info, std::uint32_t usage) {
    return create_dib_section(info.bmiHeader, info.bmiColors, usage);
}

bool retire_bitmap(Bitmap* bitmap) {
    if (bitmap == nullptr) return false;
    std::lock_guard lock(bitmap->mutex_);
    bitmap->retired_ = true;
    return true;
}

// Needs the bitmap's lock (or a bitmap no other thread sees).
bool is_retired(const Bitmap& bitmap) { return bitmap.retired_; }

// ---- Device contexts ------------------------------------------------------

DeviceContext::DeviceContext(std::shared_ptr<Bitmap> bitmap, bool memory)
    : bitmap_(std::move(bitmap)), memory_(memory) {}

DeviceContext::~DeviceContext() {
    if (memory_ && bitmap_ && !bitmap_->stock_) {
        std::lock_guard lock(bitmap_->mutex_);
        if (bitmap_->selected_in_ == this) bitmap_->selected_in_ = nullptr;
    }
}

std::shared_ptr<Bitmap> DeviceContext::select_bitmap(std::shared_ptr<Bitmap> bitmap) {
    if (!memory_ || !bitmap) return nullptr;
    if (bitmap == bitmap_) return bitmap_;
    if (!bitmap->stock_) {
        std::lock_guard lock(bitmap->mutex_);
        if (bitmap->retired_ || bitmap->selected_in_ != nullptr) return nullptr;
        bitmap->selected_in_ = this;
    }
    if (!bitmap_->stock_) {
        std::lock_guard lock(bitmap_->mutex_);
        bitmap_->selected_in_ = nullptr;
    }
    std::shared_ptr<Bitmap> previous = std::move(bitmap_);
    bitmap_ = std::move(bitmap);
    return previous;
}

std::unique_ptr<DeviceContext> DeviceContext::for_surface(std::shared_ptr<Bitmap> surface,
                                                         std::function<void()> on_draw) {
    if (!surface) return nullptr;
    std::unique_ptr<DeviceContext> dc(new (std::nothrow) DeviceContext(std::move(surface), false));
    if (dc) dc->on_draw_ = std::move(on_draw);
    return dc;
}

void DeviceContext::drawn() const {
    if (on_draw_) on_draw_();
}

std::unique_ptr<DeviceContext> create_compatible_dc() {
    std::shared_ptr<Bitmap> stock = stock_bitmap();
    if (!stock) return nullptr;
    return std::unique_ptr<DeviceContext>(new (std::nothrow) DeviceContext(std::move(stock), true));
}

unsigned set_dib_color_table(DeviceContext* dc, unsigned start, unsigned count,
                             const RgbQuad* colors) {
    if (dc == nullptr || colors == nullptr) return 0;
    Bitmap& bitmap = *dc->bitmap();
    if (bitmap.bits_ != 8 || start >= kColorTableSize) return 0;
    count = std::min<unsigned>(count, static_cast<unsigned>(kColorTableSize) - start);
    std::lock_guard lock(bitmap.mutex_);
    std::copy_n(colors, count, bitmap.colors_.begin() + start);
    return count;
}

unsigned get_dib_color_table(const DeviceContext* dc, unsigned start, unsigned count,
                             RgbQuad* colors) {
    if (dc == nullptr || colors == nullptr) return 0;
    const Bitmap& bitmap = *dc->bitmap();
    if (bitmap.bits_per_pixel() != 8 || start >= kColorTableSize) return 0;
    count = std::min<unsigned>(count, static_cast<unsigned>(kColorTableSize) - start);
    std::lock_guard lock(bitmap.mutex());
    std::copy_n(bitmap.colors().begin() + start, count, colors);
    return count;
}

// ---- Blits ----------------------------------------------------------------

bool bit_blt(DeviceContext* dst, int x, int y, int width, int height, const DeviceContext* src,
             int src_x, int src_y, std::uint32_t rop) {
    if (width < 0 || height < 0) return false;
    if (width == 0 || height == 0) return dst != nullptr && src != nullptr && rop == kSrcCopy;
    return blit(dst, x, y, width, height, src, src_x, src_y, width, height, rop);
}

bool stretch_blt(DeviceContext* dst, int x, int y, int width, int height, const DeviceContext* src,
                 int src_x, int src_y, int src_width, int src_height, std::uint32_t rop) {
    if (width == 0 || height == 0 || src_width == 0 || src_height == 0) return false;
    return blit(dst, x, y, width, height, src, src_x, src_y, src_width, src_height, rop);
}

}  // namespace zbx::platform
