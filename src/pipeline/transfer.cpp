#include "pipeline/transfer.h"

#include <algorithm>

#include "pipeline/image_buffer.h"

namespace zbx::pipeline {

bool ClipTransfer(const CImageBuffer& dst, const CImageBuffer& src, Rect& src_rect,
                  std::int32_t& dst_x, std::int32_t& dst_y) {
    const auto fail = [&] {
        src_rect = Rect{};
        dst_x = 0;
        dst_y = 0;
        return false;
    };
    // 64-bit so that extreme positions cannot wrap into range.
    const std::int64_t dw = dst.width();
    const std::int64_t dh = dst.height();
    const std::int64_t sw = src.width();
    const std::int64_t sh = src.height();

    std::int64_t d_left = dst_x;
    std::int64_t d_top = dst_y;
    std::int64_t d_right = d_left + (static_cast<std::int64_t>(src_rect.right) - src_rect.left);
    std::int64_t d_bottom = d_top + (static_cast<std::int64_t>(src_rect.bottom) - src_rect.top);
    if (d_right <= 0 || d_bottom <= 0 || d_left >= dw || d_top >= dh) return fail();
    d_left = std::max<std::int64_t>(d_left, 0);
    d_top = std::max<std::int64_t>(d_top, 0);
    d_right = std::min(d_right, dw);
    d_bottom = std::min(d_bottom, dh);

    std::int64_t s_left = src_rect.left + (d_left - dst_x);
    std::int64_t s_top = src_rect.top + (d_top - dst_y);
    std::int64_t s_right = s_left + (d_right - d_left);
    std::int64_t s_bottom = s_top + (d_bottom - d_top);
    if (s_right <= 0 || s_bottom <= 0 || s_left >= sw || s_top >= sh) return fail();
    s_left = std::max<std::int64_t>(s_left, 0);
    s_top = std::max<std::int64_t>(s_top, 0);
    s_right = std::min(s_right, sw);
    s_bottom = std::min(s_bottom, sh);
    // A reversed rectangle (right < left) leaves nothing to do.
    if (s_right <= s_left || s_bottom <= s_top) return fail();

    dst_x = static_cast<std::int32_t>(d_left);
    dst_y = static_cast<std::int32_t>(dh - d_bottom);
    src_rect = Rect{static_cast<std::int32_t>(s_left), static_cast<std::int32_t>(sh - s_bottom),
                    static_cast<std::int32_t>(s_right), static_cast<std::int32_t>(sh - s_top)};
    return true;
}

int TransferRect(CImageBuffer& dst, RectCallback callback, CImageBuffer& src,
                 const Rect* src_rect, std::int32_t dst_x, std::int32_t dst_y, void* params,
                 void* extra) {
    Rect rect = src_rect != nullptr ? *src_rect : Rect{0, 0, src.width(), src.height()};
    if (!ClipTransfer(dst, src, rect, dst_x, dst_y)) return 0;
    if (callback == nullptr) return 0;
    // Both stores exist: a buffer without one has width and height 0 and is
    // clipped away above.
    return callback(dst.pixels(), src.pixels(), &rect, dst_x, dst_y, dst.bytes_per_pixel(),
                    src.bytes_per_pixel(), dst.stride(), src.stride(), params, extra);
}

int TransferScaled(CImageBuffer& dst, ScaledCallback callback, CImageBuffer& src,
                   const Rect* src_rect, const Rect* dst_rect, void* params, void* extra) {
    if (callback == nullptr) return 0;
    // Without pixels on either side there is nothing a callback could touch.
    if (dst.empty() || src.empty()) return 0;
    const Rect s = src_rect != nullptr ? *src_rect : Rect{0, 0, src.width(), src.height()};
    const Rect d = dst_rect != nullptr ? *dst_rect : Rect{0, 0, dst.width(), dst.height()};
    return callback(dst.pixels(), src.pixels(), &d, &s, Size{dst.width(), dst.height()},
                    Size{src.width(), src.height()}, dst.bytes_per_pixel(), src.bytes_per_pixel(),
                    dst.stride(), src.stride(), params, extra);
}

}  // namespace zbx::pipeline
