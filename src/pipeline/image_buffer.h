// Every picture the library holds: a device-independent bitmap with its own
// header, 256-entry colour table, pixel store and memory device context.
// Rows are stored top row of the picture first although the header declares
// a bottom-up bitmap (only the preview's scaled image really is bottom-up).
#pragma once

#include <cstddef>
#include <cstdint>

#include "pipeline/transfer.h"

namespace zbx::pipeline {

// The platform's 40-byte bitmap information header.
struct BitmapInfoHeader {
    std::uint32_t biSize = 40;
    std::int32_t biWidth = 0;
    std::int32_t biHeight = 0;
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
    std::uint8_t blue = 0;
    std::uint8_t green = 0;
    std::uint8_t red = 0;
    std::uint8_t reserved = 0;
};

// Header and colour table back to back: the block handed to bitmap creation
// and written by the BMP writer.
struct BitmapInfo {
    BitmapInfoHeader header;
    RgbQuad colors[256];
};
static_assert(sizeof(BitmapInfo) == 40 + 1024);

// Row start rule: every row begins on a 4-byte boundary.
[[nodiscard]] constexpr std::int32_t StrideFor(std::int32_t width, std::uint16_t bits) {
    return (width * (bits / 8) + 3) & ~3;
}

class CImageBuffer {
public:
    // Colour table modes of SetColorTable.
    static constexpr int kGreyRamp = 0;
    static constexpr int kApplyEntries = 2;

    CImageBuffer();
    ~CImageBuffer();
    CImageBuffer(const CImageBuffer&) = delete;
    CImageBuffer& operator=(const CImageBuffer&) = delete;

    // 1 on success; 0 on bad arguments (buffer untouched) or when no store
    // could be had (buffer empty).
    [[nodiscard]] int Create(std::int32_t width, std::int32_t height, std::uint16_t bits);
    // The format of `other` with a store of its own; pixels are not copied.
    [[nodiscard]] int CreateLike(const CImageBuffer* other);
    void Release();

    // Mode 0 writes the grey ramp; mode 2 applies `count` caller entries
    // from index `start` to the selected bitmap; other modes do nothing.
    int SetColorTable(int mode, const RgbQuad* entries, int start, int count);

    // Platform block copy from `src`'s device context to (x, y); the whole
    // source when `src_rect` is null.  Returns what the block copy returns.
    int DrawFrom(const CImageBuffer& src, const Rect* src_rect, std::int32_t x, std::int32_t y);

    [[nodiscard]] std::uint8_t* pixels() { return pixels_; }
    [[nodiscard]] const std::uint8_t* pixels() const { return pixels_; }
    [[nodiscard]] std::int32_t width() const { return width_; }
    [[nodiscard]] std::int32_t height() const { return height_; }
    [[nodiscard]] std::int32_t stride() const { return stride_; }
    [[nodiscard]] std::uint16_t bits_per_pixel() const { return bits_; }
    [[nodiscard]] std::uint16_t bytes_per_pixel() const { return static_cast<std::uint16_t>(bits_ / 8); }
    // height × stride bytes.
    [[nodiscard]] std::size_t store_size() const {
        return static_cast<std::size_t>(height_) * static_cast<std::size_t>(stride_);
    }
    [[nodiscard]] bool empty() const { return pixels_ == nullptr; }
    [[nodiscard]] const BitmapInfoHeader& header() const { return info_.header; }
    [[nodiscard]] const RgbQuad* color_table() const { return info_.colors; }
    [[nodiscard]] const BitmapInfo& bitmap_info() const { return info_; }
    // Null for an empty buffer and for one on the heap fallback.
    [[nodiscard]] void* device_context() const { return dc_; }
    // True when the store is a plain heap block (no bitmap could be made).
    [[nodiscard]] bool on_heap() const { return heap_ != nullptr; }

private:
    int Allocate(void* colour_dc);
    void WriteGreyRamp();
    // Bitmap section and memory context from the graphics stand-in.
    bool CreateSection(void* colour_dc);
    void ReleaseSection();

    BitmapInfo info_;
    void* dc_ = nullptr;
    void* bitmap_ = nullptr;
    std::uint8_t* pixels_ = nullptr;
    std::int32_t width_ = 0;
    std::int32_t height_ = 0;
    std::int32_t stride_ = 0;
    std::uint16_t bits_ = 0;
    void* previous_object_ = nullptr;
    std::uint8_t* heap_ = nullptr;
};

}  // namespace zbx::pipeline
