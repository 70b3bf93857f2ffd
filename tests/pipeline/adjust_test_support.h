// Hand-made pixel stores for the adjustment, mono and defect tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "pipeline/adjust.h"
#include "pipeline/adjust_kernels.h"
#include "pipeline/simd_targets.h"
#include "pipeline/transfer.h"

namespace zbx::pipeline::testing {

// A picture with rows padded to 4 bytes, like the image buffers, and
// `extra` more bytes of padding per row when asked.
struct Frame {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t bpp = 0;  // bytes per pixel
    std::int32_t stride = 0;
    std::vector<std::uint8_t> store;

    Frame(std::int32_t w, std::int32_t h, std::int32_t bytes_pp, std::int32_t extra = 0)
        : width(w), height(h), bpp(bytes_pp), stride(((w * bytes_pp + 3) & ~3) + extra),
          store(static_cast<std::size_t>(stride) * h) {}

    [[nodiscard]] int sample_size() const { return bpp == 1 || bpp == 3 || bpp == 4 ? 1 : 2; }
    [[nodiscard]] std::int32_t get(std::int32_t x, std::int32_t y, int c = 0) const {
        const std::uint8_t* p = store.data() + y * stride + x * bpp + c * sample_size();
        if (sample_size() == 1) return *p;
        std::uint16_t v;
        std::memcpy(&v, p, 2);
        return v;
    }
    void set(std::int32_t x, std::int32_t y, int c, std::int32_t v) {
        std::uint8_t* p = store.data() + y * stride + x * bpp + c * sample_size();
        if (sample_size() == 1) {
            *p = static_cast<std::uint8_t>(v);
        } else {
            const auto s = static_cast<std::uint16_t>(v);
            std::memcpy(p, &s, 2);
        }
    }
    [[nodiscard]] int samples_per_pixel() const { return bpp / sample_size(); }
    void fill_random(std::mt19937& rng, std::int32_t maximum) {
        std::uniform_int_distribution<std::int32_t> dist(0, maximum);
        for (auto& b : store) b = static_cast<std::uint8_t>(rng());
        for (std::int32_t y = 0; y < height; ++y)
            for (std::int32_t x = 0; x < width; ++x)
                for (int c = 0; c < samples_per_pixel(); ++c) set(x, y, c, dist(rng));
    }
    void fill(std::int32_t v) {
        for (std::int32_t y = 0; y < height; ++y)
            for (std::int32_t x = 0; x < width; ++x)
                for (int c = 0; c < samples_per_pixel(); ++c) set(x, y, c, v);
    }
    [[nodiscard]] PixelPlane plane() {
        return PixelPlane{store.data(), width, height, stride, static_cast<std::uint16_t>(bpp)};
    }
};

// Calls a callback as the transfer would: source rectangle in memory rows,
// destination position, both pixel sizes and strides.
inline int call(RectCallback cb, Frame& dst, const Frame& src, Rect rect, std::int32_t dst_x,
                std::int32_t dst_y, void* params) {
    return cb(dst.store.data(), src.store.data(), &rect, dst_x, dst_y,
              static_cast<std::uint16_t>(dst.bpp), static_cast<std::uint16_t>(src.bpp),
              dst.stride, src.stride, params, nullptr);
}

// The kernel paths a test runs on: the plain reference, then the vector
// kernels pinned to each target of the vector layer this processor runs.
struct KernelPath {
    std::string name;
    bool plain;
    std::int64_t target;  // 0 for the plain path
};
inline std::vector<KernelPath> kernel_paths() {
    std::vector<KernelPath> paths{{"plain", true, 0}};
    for (const std::int64_t t : simd::runnable_targets()) {
        paths.push_back({simd::target_name(t), false, t});
    }
    return paths;
}

// Runs body(path) once per path, back to the default afterwards.
template <typename Body>
void on_every_path(Body body) {
    for (const KernelPath& path : kernel_paths()) {
        ForcePlainAdjustments(path.plain);
        simd::force_target(path.target);
        body(path);
    }
    ForcePlainAdjustments(false);
    simd::force_target(0);
}

// Pixel sizes of the six colour modes.
inline constexpr std::int32_t kModeBytes[6] = {1, 2, 3, 4, 6, 8};

}  // namespace zbx::pipeline::testing
