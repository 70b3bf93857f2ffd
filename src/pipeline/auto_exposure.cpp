#include "pipeline/auto_exposure.h"

#include <algorithm>

#include "pipeline/develop.h"
#include "pipeline/image_buffer.h"
#include "pipeline/pixel_access.h"

namespace zbx::pipeline {

std::array<Rect, 5> ExposureWindows(std::int32_t width, std::int32_t height) {
    const double w = width;
    const double h = height;
    const auto r = [&](double l, double t, double rr, double b) {
        return Rect{static_cast<std::int32_t>(l * w), static_cast<std::int32_t>(t * h),
                    static_cast<std::int32_t>(rr * w), static_cast<std::int32_t>(b * h)};
    };
    return {r(0.1, 0.1, 0.2, 0.2), r(0.1, 0.8, 0.2, 0.9), r(0.45, 0.45, 0.55, 0.55),
            r(0.8, 0.1, 0.9, 0.2), r(0.8, 0.8, 0.9, 0.9)};
}

namespace {
template <int Bytes>
int window_mean(const std::uint8_t* src, const Rect* rect, std::uint16_t src_bpp,
                std::int32_t src_stride) {
    if (src == nullptr || rect == nullptr || src_bpp != Bytes) return 0;
    const std::int64_t count = static_cast<std::int64_t>(rect->width()) * rect->height();
    if (count <= 0) return 0;
    std::uint64_t sum = 0;
    for (std::int32_t y = rect->top; y < rect->bottom; ++y) {
        const std::uint8_t* row = src + static_cast<std::ptrdiff_t>(y) * src_stride;
        for (std::int32_t x = rect->left; x < rect->right; ++x) {
            if constexpr (Bytes == 1) {
                sum += row[x];
            } else {
                // 12-bit values onto the 8-bit threshold scale.
                sum += std::min<unsigned>(load16(row + 2 * x) >> 4, 255u);
            }
        }
    }
    return static_cast<int>(sum / static_cast<std::uint64_t>(count));
}
}  // namespace

int WindowMean8(std::uint8_t*, const std::uint8_t* src, const Rect* src_rect, std::int32_t,
                std::int32_t, std::uint16_t, std::uint16_t src_bytes_pp, std::int32_t,
                std::int32_t src_stride, void*, void*) {
    return window_mean<1>(src, src_rect, src_bytes_pp, src_stride);
}

int WindowMean16(std::uint8_t*, const std::uint8_t* src, const Rect* src_rect, std::int32_t,
                 std::int32_t, std::uint16_t, std::uint16_t src_bytes_pp, std::int32_t,
                 std::int32_t src_stride, void*, void*) {
    return window_mean<2>(src, src_rect, src_bytes_pp, src_stride);
}

double ExposureFactor(std::span<const int> means) {
    double f = 1.0;
    for (const int m : means) {
        if (m >= 201) {
            f -= 0.15;
        } else if (m >= 161) {
            f -= 0.10;
        } else if (m >= 100) {
            // in range
        } else if (m >= 50) {
            f += 0.05;
        } else {
            f += 0.10;
        }
    }
    return f;
}

void RunAutoExposure(CImageBuffer& raw, std::int32_t auto_iris_mode, DevelopHost& host) {
    if (auto_iris_mode != 1 && auto_iris_mode != 2) return;
    const RectCallback mean = raw.bits_per_pixel() == 16 ? WindowMean16 : WindowMean8;
    std::array<int, 5> means{};
    const auto windows = ExposureWindows(raw.width(), raw.height());
    for (std::size_t i = 0; i < windows.size(); ++i) {
        means[i] = TransferRect(raw, mean, raw, &windows[i], windows[i].left, windows[i].top,
                                nullptr, nullptr);
    }
    const double f = ExposureFactor(means);
    if (f > 0.6 && f < 1.2) return;

    if (auto_iris_mode == 2) {
        std::int32_t g = std::max(host.sensor_gain(), 4);
        std::int32_t next = static_cast<std::int32_t>(g * f);
        if (f > 1 && next <= 4) next = 4;
        const std::int32_t lo = host.min_gain();
        const std::int32_t hi = host.max_gain();
        if (next < lo) next = lo;
        if (next >= hi) next = hi;
        host.set_sensor_gain(next);
        host.store_gain(next);
        host.show_analog_value(kGainEditControl, next);
    } else {
        const std::int32_t e = host.sensor_exposure();
        std::int32_t next = static_cast<std::uint16_t>(static_cast<std::int64_t>(e * f));
        if (next < 1) next = 1;
        const std::int32_t lo = host.min_exposure();
        const std::int32_t hi = host.max_exposure();
        if (next < lo) next = lo;
        if (next >= hi) next = hi;
        host.set_sensor_exposure(next);
        host.store_exposure(next);
        host.show_analog_value(kExposureEditControl, next);
    }
}

}  // namespace zbx::pipeline
