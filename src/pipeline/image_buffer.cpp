#include "pipeline/image_buffer.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace zbx::pipeline {

CImageBuffer::CImageBuffer() = default;

CImageBuffer::~CImageBuffer() { Release(); }

int CImageBuffer::Create(std::int32_t width, std::int32_t height, std::uint16_t bits) {
    if (width <= 0 || height <= 0 || bits == 0) return 0;
    Release();
    info_.header.biPlanes = 1;
    info_.header.biWidth = width;
    info_.header.biHeight = height;
    info_.header.biBitCount = bits;
    info_.header.biCompression = 0;
    width_ = width;
    height_ = height;
    bits_ = bits;
    stride_ = StrideFor(width, bits);
    return Allocate(nullptr);
}

int CImageBuffer::CreateLike(const CImageBuffer* other) {
    if (other == nullptr || other->width_ <= 0 || other->height_ <= 0 || other->bits_ == 0) return 0;
    // `other` may be this buffer: keep what Release() clears.
    const BitmapInfoHeader header = other->info_.header;
    const std::int32_t width = other->width_;
    const std::int32_t height = other->height_;
    const std::int32_t stride = other->stride_;
    const std::uint16_t bits = other->bits_;
    void* const colour_dc = other == this ? nullptr : other->dc_;
    Release();
    info_.header = header;
    width_ = width;
    height_ = height;
    stride_ = stride;
    bits_ = bits;
    return Allocate(colour_dc);
}

void CImageBuffer::Release() {
    ReleaseSection();
    if (heap_ != nullptr) {
        std::free(heap_);
        heap_ = nullptr;
    }
    pixels_ = nullptr;
    width_ = height_ = stride_ = 0;
    bits_ = 0;
    info_ = BitmapInfo{};
}

void CImageBuffer::WriteGreyRamp() {
    for (int i = 0; i < 256; ++i) {
        const auto v = static_cast<std::uint8_t>(i);
        info_.colors[i] = RgbQuad{v, v, v, 0};
    }
}

int CImageBuffer::Allocate(void* colour_dc) {
    if (bits_ == 8) SetColorTable(kGreyRamp, nullptr, 0, 256);
    if (CreateSection(colour_dc)) return 1;
    if (pixels_ != nullptr || dc_ != nullptr || bitmap_ != nullptr) {
        // A section was made but could not be selected into a context.
        Release();
        return 0;
    }
    // Heap fallback: the library's own routines work on it, blits do not.
    const std::size_t size = store_size();
    heap_ = static_cast<std::uint8_t*>(std::calloc(size == 0 ? 1 : size, 1));
    if (heap_ == nullptr) {
        Release();
        return 0;
    }
    pixels_ = heap_;
    return 1;
}

}  // namespace zbx::pipeline

// ---- Platform graphics part -------------------------------------------

namespace zbx::pipeline {

bool CImageBuffer::CreateSection(void* /*colour_dc*/) {
    // Not yet wired to the graphics stand-in: every buffer takes the heap
    // fallback of the design.
    return false;
}

void CImageBuffer::ReleaseSection() {
    bitmap_ = nullptr;
    dc_ = nullptr;
    previous_object_ = nullptr;
}

int CImageBuffer::SetColorTable(int mode, const RgbQuad* entries, int start, int count) {
    if (mode == kGreyRamp) {
        WriteGreyRamp();
    } else if (mode == kApplyEntries) {
        (void)entries;
        (void)start;
        (void)count;
    }
    return 1;
}

int CImageBuffer::DrawFrom(const CImageBuffer& src, const Rect* src_rect, std::int32_t x,
                           std::int32_t y) {
    (void)src;
    (void)src_rect;
    (void)x;
    (void)y;
    return 0;
}

}  // namespace zbx::pipeline
