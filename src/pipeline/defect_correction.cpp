// A listed position maps to the frame by the region's window (mirrored
// when the read-out is), then to frame column u and row j (j counted from
// the last memory row), divided by the sub-sampling.  Neighbour candidates
// are looked up in a map of the frame's listed pixels, made once per frame:
// a list read from an arbitrary file may hold hundreds of thousands of
// positions, and a pass over it per candidate took minutes per frame.
#include "pipeline/defect_correction.h"

#include <algorithm>
#include <cstddef>
#include <vector>

#include "pipeline/adjust_kernels.h"

namespace zbx::pipeline {
namespace {

struct Window {
    std::int32_t col_first;
    std::int32_t col_last;
    std::int32_t row_first;
    std::int32_t row_last;
};

Window window_of(const DefectRegion& r) {
    Window w{};
    if (!r.mirror_h || (r.x_start == 0 && r.width == kSensorWidth)) {
        w.col_first = r.x_start;
        w.col_last = r.x_start + r.width - 1;
    } else {
        w.col_first = kSensorWidth - r.x_start - r.width;
        w.col_last = kSensorWidth - 1 - r.x_start;
    }
    if (r.mirror_v && r.height < kSensorHeight) {
        w.row_first = r.y_start;
        w.row_last = r.y_start + r.height - 1;
    } else {
        w.row_first = kSensorHeight - r.y_start - r.height;
        w.row_last = kSensorHeight - 1 - r.y_start;
    }
    return w;
}

// Offsets inside the window are never negative; floor keeps it safe anyway.
inline std::int64_t floor_div(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
}

class Mapper {
public:
    Mapper(const DefectRegion& region, std::int32_t frame_width, std::int32_t frame_height)
        : region_(region),
          window_(window_of(region)),
          step_(std::max<std::int32_t>(region.subsample, 1)),
          width_(frame_width),
          height_(frame_height) {}

    // Frame position (u, j) of a list entry; false when it lies outside the
    // window or the frame.
    bool map(DefectPosition p, std::int32_t& u, std::int32_t& j) const {
        // 64-bit: positions come from a file and may be anything.
        const std::int64_t x = region_.mirror_h ? std::int64_t{kSensorWidth} - 1 - p.x : p.x;
        const std::int64_t y = region_.mirror_v ? std::int64_t{kSensorHeight} - 1 - p.y : p.y;
        if (x < window_.col_first || x > window_.col_last) return false;
        if (y < window_.row_first || y > window_.row_last) return false;
        const std::int64_t fu = floor_div(x - window_.col_first, step_);
        const std::int64_t fj = floor_div(y - window_.row_first, step_);
        if (fu < 0 || fu >= width_ || fj < 0 || fj >= height_) return false;
        u = static_cast<std::int32_t>(fu);
        j = static_cast<std::int32_t>(fj);
        return true;
    }

private:
    DefectRegion region_;
    Window window_;
    std::int32_t step_;
    std::int32_t width_;
    std::int32_t height_;
};

template <typename S>
int correct(PixelPlane raw, std::span<const DefectPosition> defects, const DefectRegion& region) {
    const Mapper mapper(region, raw.width, raw.height);
    auto at = [&](std::int32_t u, std::int32_t j) {
        return raw.pixels + static_cast<std::ptrdiff_t>(raw.height - 1 - j) * raw.stride +
               static_cast<std::ptrdiff_t>(u) * raw.bytes_per_pixel;
    };
    // One byte per frame pixel: 1 where some list entry maps.
    const auto index = [&](std::int32_t u, std::int32_t j) {
        return static_cast<std::size_t>(j) * static_cast<std::size_t>(raw.width) + static_cast<std::size_t>(u);
    };
    std::vector<std::uint8_t> listed(static_cast<std::size_t>(raw.width) * static_cast<std::size_t>(raw.height));
    for (const DefectPosition& p : defects) {
        std::int32_t u = 0;
        std::int32_t j = 0;
        if (mapper.map(p, u, j)) listed[index(u, j)] = 1;
    }
    int written = 0;
    for (const DefectPosition& p : defects) {
        std::int32_t u = 0;
        std::int32_t j = 0;
        if (!mapper.map(p, u, j)) continue;
        std::int64_t sum = 0;
        std::int32_t count = 0;
        // Nearest good pixel from (u, j) in direction (du, dj), if any.
        auto gather = [&](std::int32_t du, std::int32_t dj) {
            for (std::int32_t cu = u + du, cj = j + dj;
                 cu >= 0 && cu < raw.width && cj >= 0 && cj < raw.height; cu += du, cj += dj) {
                if (listed[index(cu, cj)] == 0) {
                    sum += kernels::load<S>(at(cu, cj));
                    ++count;
                    return;
                }
            }
        };
        gather(-1, 0);
        gather(1, 0);
        gather(0, -1);
        gather(0, 1);
        if (count == 0) continue;
        kernels::store<S>(at(u, j), static_cast<S>(sum / count));
        ++written;
    }
    return written;
}

}  // namespace

int CorrectDefects(PixelPlane raw, std::span<const DefectPosition> defects,
                   const DefectRegion& region) {
    if (raw.empty() || defects.empty()) return 0;
    if (raw.bytes_per_pixel == 1) return correct<std::uint8_t>(raw, defects, region);
    if (raw.bytes_per_pixel == 2) return correct<std::uint16_t>(raw, defects, region);
    return 0;
}

}  // namespace zbx::pipeline
