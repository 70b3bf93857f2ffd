// Graphics stand-in: device-independent bitmaps with colour tables, memory
// device contexts, and the block and stretching copies the library uses.
//
// Coordinates given to the blits are picture coordinates: x to the right,
// y down from the top row of the picture.  A bitmap whose header has a
// positive height is bottom-up (memory row 0 is the picture's bottom row),
// a negative height top-down; the blits map picture rows to memory rows
// accordingly.  Window client areas are top-down 24-bit bitmaps.
//
// Pixel formats: blits read 8-bit (through the source's colour table), 24-
// and 32-bit (blue, green, red[, unused]) sources and write 24- and 32-bit
// destinations; an 8-bit destination takes only 8-bit sources (each source
// colour mapped to the nearest entry of the destination's table).  A 32-bit
// destination gets the fourth byte of a 32-bit source, 0 otherwise.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>

namespace zbx::platform {

// The 40-byte bitmap information header, field for field.
struct BitmapInfoHeader {
    std::uint32_t biSize = 40;
    std::int32_t biWidth = 0;
    std::int32_t biHeight = 0;  // > 0 bottom-up, < 0 top-down
    std::uint16_t biPlanes = 0;
    std::uint16_t biBitCount = 0;
    std::uint32_t biCompression = 0;
    std::uint32_t biSizeImage = 0;
    std::int32_t biXPelsPerMeter = 0;
    std::int32_t biYPelsPerMeter = 0;
    std::uint32_t biClrUsed = 0;
    std::uint32_t biClrImportant = 0;
};
static_assert(sizeof(BitmapInfoHeader) == 40);

struct RgbQuad {
    std::uint8_t rgbBlue = 0;
    std::uint8_t rgbGreen = 0;
    std::uint8_t rgbRed = 0;
    std::uint8_t rgbReserved = 0;
    friend bool operator==(const RgbQuad&, const RgbQuad&) = default;
};
static_assert(sizeof(RgbQuad) == 4);

inline constexpr std::size_t kColorTableSize = 256;
using ColorTable = std::array<RgbQuad, kColorTableSize>;

// Header with the colour table directly behind it, as bitmap creation and
// the BMP format take them.
struct BitmapInfo {
    BitmapInfoHeader bmiHeader;
    ColorTable bmiColors{};
};
static_assert(sizeof(BitmapInfo) == 40 + 4 * kColorTableSize);

inline constexpr std::uint32_t kBiRgb = 0;         // uncompressed
inline constexpr std::uint32_t kDibRgbColors = 0;  // colour table holds colours
inline constexpr std::uint32_t kSrcCopy = 0x00CC0020;

// Bytes from one row to the next: rows start on 4-byte boundaries.
[[nodiscard]] constexpr std::int64_t dib_stride(std::int64_t width, int bits_per_pixel) {
    return (width * bits_per_pixel + 31) / 32 * 4;
}

class DeviceContext;

// A device-independent bitmap section: format, colour table and a pixel
// store that lives as long as the bitmap.  Pixels may be written directly
// through pixels(); blits lock mutex() while they touch them, so a reader
// that races with blits (the window system's read-back) locks it too.
class Bitmap {
public:
    Bitmap(const Bitmap&) = delete;
    Bitmap& operator=(const Bitmap&) = delete;
    ~Bitmap();

    [[nodiscard]] int width() const { return width_; }
    [[nodiscard]] int height() const { return height_; }  // rows, always > 0
    [[nodiscard]] int stride() const { return stride_; }
    [[nodiscard]] int bits_per_pixel() const { return bits_; }
    [[nodiscard]] bool bottom_up() const { return bottom_up_; }
    [[nodiscard]] std::uint8_t* pixels() { return store_.get(); }
    [[nodiscard]] const std::uint8_t* pixels() const { return store_.get(); }
    [[nodiscard]] std::size_t size_bytes() const;
    // Memory row of picture row y (0 = top).
    [[nodiscard]] std::uint8_t* picture_row(int y);
    [[nodiscard]] const std::uint8_t* picture_row(int y) const;

    // The colour table (used for 8 bits per pixel).
    [[nodiscard]] const ColorTable& colors() const { return colors_; }
    [[nodiscard]] std::mutex& mutex() const { return mutex_; }

private:
    friend class DeviceContext;
    friend std::shared_ptr<Bitmap> create_dib_section(const BitmapInfoHeader&,
                                                      std::span<const RgbQuad>, std::uint32_t);
    friend unsigned set_dib_color_table(DeviceContext*, unsigned, unsigned, const RgbQuad*);
    friend bool retire_bitmap(Bitmap*);
    friend bool is_retired(const Bitmap&);
    friend struct BitmapAccess;
    Bitmap() = default;

    int width_ = 0;
    int height_ = 0;
    int stride_ = 0;
    int bits_ = 0;
    bool bottom_up_ = true;
    bool retired_ = false;          // guarded by mutex_
    bool stock_ = false;            // the shared 1 x 1 bitmap of fresh contexts
    DeviceContext* selected_in_ = nullptr;  // guarded by mutex_
    ColorTable colors_{};           // guarded by mutex_ once shared
    std::unique_ptr<std::uint8_t[]> store_;
    mutable std::mutex mutex_;
};

// Makes a bitmap section of the header's format with a zeroed pixel store.
// The colour table is taken from `colors` (missing entries zero) for 8 bits
// per pixel.  Null when the header is not a 40-byte uncompressed header with
// one plane, a positive width, a non-zero height and 8, 16, 24 or 32 bits
// per pixel, when usage is not kDibRgbColors, or when memory runs out.
// (Deeper pixels have no bitmap section; callers keep such pictures in
// plain memory.)
[[nodiscard]] std::shared_ptr<Bitmap> create_dib_section(const BitmapInfoHeader& header,
                                                         std::span<const RgbQuad> colors,
                                                         std::uint32_t usage = kDibRgbColors);
[[nodiscard]] std::shared_ptr<Bitmap> create_dib_section(const BitmapInfo& info,
                                                         std::uint32_t usage = kDibRgbColors);

// Marks a bitmap dead: later blits into or out of it fail.  Used by the
// window system when a window goes away under a context still held.
bool retire_bitmap(Bitmap* bitmap);
[[nodiscard]] bool is_retired(const Bitmap& bitmap);

// A device context: the target and source of blits.  A memory context
// holds a selected bitmap (a shared 1 x 1 stock bitmap when created); a
// window context draws into a window's client area.  One thread at a time
// uses a context; destroying it releases the bitmap it holds.
class DeviceContext {
public:
    DeviceContext(const DeviceContext&) = delete;
    DeviceContext& operator=(const DeviceContext&) = delete;
    ~DeviceContext();

    [[nodiscard]] bool is_memory() const { return memory_; }
    // Memory contexts only: selects the bitmap and returns the one selected
    // before (to be selected back later).  Null, and nothing changed, for a
    // window context, a null or retired bitmap, or a bitmap selected into
    // another context.
    std::shared_ptr<Bitmap> select_bitmap(std::shared_ptr<Bitmap> bitmap);
    // The bitmap drawn into; never null.
    [[nodiscard]] const std::shared_ptr<Bitmap>& bitmap() const { return bitmap_; }

    // For the window system: a context bound for good to a bitmap.  When
    // given, on_draw runs after each blit into it, outside the bitmap's
    // lock, on the drawing thread (it shows the window on screen).
    [[nodiscard]] static std::unique_ptr<DeviceContext> for_surface(std::shared_ptr<Bitmap> surface,
                                                                    std::function<void()> on_draw = {});
    // Runs on_draw (nothing when there is none).
    void drawn() const;

private:
    friend std::unique_ptr<DeviceContext> create_compatible_dc();
    DeviceContext(std::shared_ptr<Bitmap> bitmap, bool memory);

    std::shared_ptr<Bitmap> bitmap_;
    bool memory_;
    std::function<void()> on_draw_;
};

// A memory context compatible with the screen, holding the stock bitmap.
[[nodiscard]] std::unique_ptr<DeviceContext> create_compatible_dc();

// Writes `count` entries from `start` into the colour table of the bitmap
// selected in dc.  Returns the number written: 0 when dc is null, its bitmap
// is not 8 bits per pixel, or start is past the table; the count is cut at
// the end of the table.
unsigned set_dib_color_table(DeviceContext* dc, unsigned start, unsigned count,
                             const RgbQuad* colors);
unsigned get_dib_color_table(const DeviceContext* dc, unsigned start, unsigned count,
                             RgbQuad* colors);

// Block copy of width x height pixels from (src_x, src_y) in src to (x, y)
// in dst, converting formats.  Pixels whose source or destination lies
// outside its bitmap are skipped.  Only kSrcCopy is supported.  False for a
// null or retired context, negative sizes, another raster operation or a
// format pair that cannot be converted.
[[nodiscard]] bool bit_blt(DeviceContext* dst, int x, int y, int width, int height,
                           const DeviceContext* src, int src_x, int src_y, std::uint32_t rop);

// Stretching copy, nearest neighbour: destination step i (0 <= i < |w|)
// takes source step floor(i x |src_w| / |w|).  A negative extent walks its
// rectangle backwards from the origin (x, x - 1, ...), so extents of
// opposite signs mirror the picture: a source origin on the last row with a
// negative source height turns it upside down.  Clipping, formats and
// failures as bit_blt; zero extents fail.
[[nodiscard]] bool stretch_blt(DeviceContext* dst, int x, int y, int width, int height,
                               const DeviceContext* src, int src_x, int src_y, int src_width,
                               int src_height, std::uint32_t rop);

}  // namespace zbx::platform
