// Every conversion the preview, savers and recorder use, at 1280 × 720,
// each beside a plain copy of the bytes it reads and writes (the floor).
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "pipeline/conversions.h"
#include "pipeline/image_buffer.h"

namespace {

using namespace zbx::pipeline;

constexpr int kW = 1280;
constexpr int kH = 720;

struct Conversion {
    const char* name;
    RectCallback rect;
    ScaledCallback scaled;
    std::uint16_t src_bits;
    std::uint16_t dst_bits;
    int dst_w;
    int dst_h;
};

const Conversion kConversions[] = {
    {"Restride8", Restride, nullptr, 8, 8, kW, kH},
    {"Restride16", Restride, nullptr, 16, 16, kW, kH},
    {"Gray16To8By4", Gray16To8By4, nullptr, 16, 8, kW, kH},
    {"Gray16To8By4Flipped", Gray16To8By4Flipped, nullptr, 16, 8, kW, kH},
    {"Gray16To8By2Flipped", Gray16To8By2Flipped, nullptr, 16, 8, kW, kH},
    {"Gray12To16", Gray12To16, nullptr, 16, 16, kW, kH},
    {"Color32To24", Color32To24, nullptr, 32, 24, kW, kH},
    {"Color48To24By4", Color48To24By4, nullptr, 48, 24, kW, kH},
    {"Color64To24By4", Color48To24By4, nullptr, 64, 24, kW, kH},
    {"Color48To24By4Flipped", Color48To24By4Flipped, nullptr, 48, 24, kW, kH},
    {"Color64To24By4Flipped", Color48To24By4Flipped, nullptr, 64, 24, kW, kH},
    {"Color48To48By4", Color48To48By4, nullptr, 48, 48, kW, kH},
    {"Color48To48By4Swapped", Color48To48By4Swapped, nullptr, 48, 48, kW, kH},
    {"Color64By4Alpha", Color64By4Alpha, nullptr, 64, 64, kW, kH},
    {"Color64By4AlphaSwapped", Color64By4AlphaSwapped, nullptr, 64, 64, kW, kH},
    {"Color24CopyFlipped", Color24CopyFlipped, nullptr, 24, 24, kW, kH},
    {"Color32To24CopyFlipped", Color24CopyFlipped, nullptr, 32, 24, kW, kH},
    {"RowCopyFlipped8", RowCopyFlipped, nullptr, 8, 8, kW, kH},
    {"RowCopyFlipped24", RowCopyFlipped, nullptr, 24, 24, kW, kH},
    {"Color24Swapped", Color24Swapped, nullptr, 24, 24, kW, kH},
    {"Color32Alpha", Color32Alpha, nullptr, 32, 32, kW, kH},
    {"ColorToGray", ColorToGray, nullptr, 24, 8, kW, kH},
    {"ScaleColor24Flipped_half", nullptr, ScaleColor24Flipped, 24, 24, kW / 2, kH / 2},
    {"ScaleColor24Flipped_same", nullptr, ScaleColor24Flipped, 24, 24, kW, kH},
    {"ScaleGray8Flipped_same", nullptr, ScaleGray8Flipped, 8, 8, kW, kH},
};

void run(benchmark::State& state, const Conversion& c) {
    CImageBuffer src, dst;
    // Re-striding runs only where packed rows are narrower than the stride.
    const int src_w = c.rect == Restride ? kW - 1 : kW;
    if (src.Create(src_w, kH, c.src_bits) != 1 || dst.Create(c.dst_w, c.dst_h, c.dst_bits) != 1) {
        state.SkipWithError("no buffers");
        return;
    }
    std::mt19937 rng(3);
    for (std::size_t i = 0; i < src.store_size(); ++i) src.pixels()[i] = static_cast<std::uint8_t>(rng());
    CImageBuffer& to = c.rect == Restride ? src : dst;
    for (auto _ : state) {
        if (c.rect != nullptr) {
            TransferRect(to, c.rect, src, nullptr, 0, 0, nullptr, nullptr);
        } else {
            TransferScaled(dst, c.scaled, src, nullptr, nullptr, nullptr, nullptr);
        }
        benchmark::ClobberMemory();
    }
    const std::size_t bytes = src.store_size() + (c.rect == Restride ? 0 : dst.store_size());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

void copy_floor(benchmark::State& state, const Conversion& c) {
    const std::size_t bytes = static_cast<std::size_t>(kW) * kH * (c.src_bits / 8) +
                              (c.rect == Restride ? 0 : static_cast<std::size_t>(c.dst_w) * c.dst_h * (c.dst_bits / 8));
    std::vector<std::uint8_t> a(bytes, 1), b(bytes, 2);
    for (auto _ : state) {
        std::memcpy(b.data(), a.data(), bytes);
        benchmark::DoNotOptimize(b.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

const bool kRegistered = [] {
    for (const Conversion& c : kConversions) {
        benchmark::RegisterBenchmark((std::string("copy_floor/") + c.name).c_str(), copy_floor, c);
        benchmark::RegisterBenchmark((std::string("convert/") + c.name).c_str(), run, c);
    }
    return true;
}();

}  // namespace
