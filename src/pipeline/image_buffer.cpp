#include "pipeline/image_buffer.h"

#include <new>

namespace zbx::pipeline {

CImageBuffer::CImageBuffer() = default;

CImageBuffer::~CImageBuffer() { Release(); }

int CImageBuffer::Create(std::int32_t width, std::int32_t height, std::uint16_t bits) {
    if (width <= 0 || height <= 0 || bits == 0) return 0;
    Release();
    BitmapInfoHeader& h = info_.bmiHeader;
    h.biPlanes = 1;
    h.biWidth = width;
    h.biHeight = height;
    h.biBitCount = bits;
    h.biCompression = platform::kBiRgb;
    width_ = width;
    height_ = height;
    bits_ = bits;
    stride_ = StrideFor(width, bits);
    return Allocate(nullptr);
}

int CImageBuffer::CreateLike(const CImageBuffer* other) {
    if (other == nullptr || other->width_ <= 0 || other->height_ <= 0 || other->bits_ == 0) return 0;
    // `other` may be this buffer: keep what Release() clears.
    const BitmapInfoHeader header = other->info_.bmiHeader;
    const std::int32_t width = other->width_;
    const std::int32_t height = other->height_;
    const std::int32_t stride = other->stride_;
    const std::uint16_t bits = other->bits_;
    const platform::DeviceContext* colour_dc = other == this ? nullptr : other->dc_.get();
    Release();
    info_.bmiHeader = header;
    width_ = width;
    height_ = height;
    stride_ = stride;
    bits_ = bits;
    return Allocate(colour_dc);
}

void CImageBuffer::Release() {
    ReleaseSection();
    heap_.reset();
    pixels_ = nullptr;
    width_ = height_ = stride_ = 0;
    bits_ = 0;
    info_ = BitmapInfo{};
}

int CImageBuffer::View(std::int32_t width, std::int32_t height, std::uint16_t bits, std::uint8_t* pixels) {
    if (width <= 0 || height <= 0 || bits == 0 || pixels == nullptr) return 0;
    Release();
    BitmapInfoHeader& h = info_.bmiHeader;
    h.biPlanes = 1;
    h.biWidth = width;
    h.biHeight = height;
    h.biBitCount = bits;
    h.biCompression = platform::kBiRgb;
    width_ = width;
    height_ = height;
    bits_ = bits;
    stride_ = StrideFor(width, bits);
    if (bits == 8) WriteGreyRamp();
    pixels_ = pixels;
    return 1;
}

void CImageBuffer::WriteGreyRamp() {
    for (int i = 0; i < 256; ++i) {
        const auto v = static_cast<std::uint8_t>(i);
        info_.bmiColors[static_cast<std::size_t>(i)] = RgbQuad{v, v, v, 0};
    }
}

int CImageBuffer::Allocate(const platform::DeviceContext* colour_dc) {
    if (bits_ == 8) SetColorTable(kGreyRamp, nullptr, 0, 256);
    switch (CreateSection(colour_dc)) {
        case Section::kMade:
            return 1;
        case Section::kFailed:
            Release();
            return 0;
        case Section::kNone:
            break;
    }
    // Heap fallback: the library's own routines work on it, blits do not.
    const std::size_t size = store_size();
    heap_.reset(new (std::nothrow) std::uint8_t[size == 0 ? 1 : size]());
    if (!heap_) {
        Release();
        return 0;
    }
    pixels_ = heap_.get();
    return 1;
}

CImageBuffer::Section CImageBuffer::CreateSection(const platform::DeviceContext* /*colour_dc*/) {
    // The stand-in has one colour usage and needs no reference context.
    std::shared_ptr<platform::Bitmap> bitmap = platform::create_dib_section(info_, platform::kDibRgbColors);
    if (!bitmap) return Section::kNone;
    bitmap_ = std::move(bitmap);
    pixels_ = bitmap_->pixels();
    // The pixel routines address rows by this buffer's stride.
    if (bitmap_->stride() != stride_) return Section::kFailed;
    dc_ = platform::create_compatible_dc();
    if (!dc_) return Section::kFailed;
    previous_object_ = dc_->select_bitmap(bitmap_);
    if (!previous_object_) return Section::kFailed;
    return Section::kMade;
}

void CImageBuffer::ReleaseSection() {
    if (bitmap_) {
        if (dc_ && previous_object_) (void)dc_->select_bitmap(previous_object_);
        bitmap_.reset();
        pixels_ = nullptr;
    }
    previous_object_.reset();
    dc_.reset();
}

int CImageBuffer::SetColorTable(int mode, const RgbQuad* entries, int start, int count) {
    if (mode == kGreyRamp) {
        WriteGreyRamp();
        if (dc_) platform::set_dib_color_table(dc_.get(), 0, 256, info_.bmiColors.data());
    } else if (mode == kApplyEntries) {
        if (dc_ && entries != nullptr && start >= 0 && count > 0)
            platform::set_dib_color_table(dc_.get(), static_cast<unsigned>(start),
                                          static_cast<unsigned>(count), entries);
    }
    return 1;
}

int CImageBuffer::DrawFrom(const CImageBuffer& src, const Rect* src_rect, std::int32_t x,
                           std::int32_t y) {
    const Rect r = src_rect != nullptr ? *src_rect : Rect{0, 0, src.width_, src.height_};
    return platform::bit_blt(dc_.get(), x, y, r.width(), r.height(), src.dc_.get(), r.left, r.top,
                             platform::kSrcCopy)
               ? 1
               : 0;
}

}  // namespace zbx::pipeline
