// Every picture the library holds: a device-independent bitmap with its own
// header, 256-entry colour table, pixel store and memory device context.
// Rows are stored top row of the picture first although the header declares
// a bottom-up bitmap (only the preview's scaled image really is bottom-up).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "pipeline/transfer.h"
#include "platform/graphics.h"

namespace zbx::pipeline {

// The platform's 40-byte header, colour table entry and header-plus-table
// block.
using BitmapInfoHeader = platform::BitmapInfoHeader;
using RgbQuad = platform::RgbQuad;
using BitmapInfo = platform::BitmapInfo;

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
    // Makes this buffer a view of `pixels` (rows StrideFor(width, bits)
    // apart), which it neither owns nor frees: development writes straight
    // into memory that is not a bitmap, such as a program's frame buffer.
    // No device context, so blits from it do nothing.  0 on bad arguments.
    [[nodiscard]] int View(std::int32_t width, std::int32_t height, std::uint16_t bits, std::uint8_t* pixels);

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
    [[nodiscard]] const BitmapInfoHeader& header() const { return info_.bmiHeader; }
    [[nodiscard]] const RgbQuad* color_table() const { return info_.bmiColors.data(); }
    [[nodiscard]] const BitmapInfo& bitmap_info() const { return info_; }
    // Null for an empty buffer and for one on the heap fallback.
    [[nodiscard]] platform::DeviceContext* device_context() const { return dc_.get(); }
    // True when the store is a plain heap block (no bitmap could be made).
    [[nodiscard]] bool on_heap() const { return heap_ != nullptr; }

private:
    enum class Section { kMade, kNone, kFailed };

    int Allocate(const platform::DeviceContext* colour_dc);
    void WriteGreyRamp();
    // Bitmap section selected into a fresh memory context.
    Section CreateSection(const platform::DeviceContext* colour_dc);
    void ReleaseSection();

    BitmapInfo info_;
    std::unique_ptr<platform::DeviceContext> dc_;
    std::shared_ptr<platform::Bitmap> bitmap_;
    std::uint8_t* pixels_ = nullptr;
    std::int32_t width_ = 0;
    std::int32_t height_ = 0;
    std::int32_t stride_ = 0;
    std::uint16_t bits_ = 0;
    // What the context held before the bitmap; selected back before the
    // bitmap goes.
    std::shared_ptr<platform::Bitmap> previous_object_;
    std::unique_ptr<std::uint8_t[]> heap_;
};

}  // namespace zbx::pipeline
