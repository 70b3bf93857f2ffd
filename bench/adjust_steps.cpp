// Each adjustment in each pixel layout at 1280 x 720 (with SIMD kernels,
// and with the plain path forced: simd:0), and all five on a Color24 frame
// beside a plain copy of that frame.  The five together read and write the
// frame once, so their floor is one in-place pass over it
// (BM_ReadWriteColor24); BM_AllFiveColor24 with simd:2 pins the vector
// layer's dispatch to its AVX2 target, as processors without AVX-512 run it.
// BM_Demosaic8To24 (same pinning) is the yardstick the five are compared
// with in one run.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "pipeline/adjust.h"
#include "pipeline/adjust_kernels.h"
#include "pipeline/adjust_brightness.h"
#include "pipeline/adjust_contrast.h"
#include "pipeline/adjust_gamma.h"
#include "pipeline/adjust_hue_saturation.h"
#include "pipeline/adjust_sharpness.h"
#include "pipeline/demosaic.h"
#include "pipeline/image_buffer.h"
#include "pipeline/mono_correction.h"
#include "pipeline/simd_targets.h"

namespace {

using namespace zbx::pipeline;

constexpr std::int32_t kWidth = 1280;
constexpr std::int32_t kHeight = 720;
constexpr std::uint16_t kModeBytes[6] = {1, 2, 3, 4, 6, 8};

struct Picture {
    std::vector<std::uint8_t> store;
    PixelPlane plane;
    explicit Picture(int mode) {
        const std::uint16_t bpp = kModeBytes[mode];
        const std::int32_t stride = (kWidth * bpp + 3) & ~3;
        store.resize(static_cast<std::size_t>(stride) * kHeight);
        std::mt19937 rng(7);
        const bool wide = bpp == 2 || bpp >= 6;
        for (std::size_t i = 0; i < store.size(); i += wide ? 2 : 1) {
            if (wide) {
                const auto v = static_cast<std::uint16_t>(rng() & 4095);
                std::memcpy(&store[i], &v, 2);
            } else {
                store[i] = static_cast<std::uint8_t>(rng());
            }
        }
        plane = PixelPlane{store.data(), kWidth, kHeight, stride, bpp};
    }
};

// Second argument 0 forces the plain kernels for the run.
struct PathChoice {
    explicit PathChoice(const benchmark::State& state) {
        ForcePlainAdjustments(state.range(1) == 0);
    }
    ~PathChoice() { ForcePlainAdjustments(false); }
    PathChoice(const PathChoice&) = delete;
    PathChoice& operator=(const PathChoice&) = delete;
};

// simd: 1 the best target, 2 the AVX2 target, 3 the AVX-512 one without
// VBMI (the best where there is no such target), 0 the plain kernels;
// undone when the run ends.
class Pin {
public:
    explicit Pin(std::int64_t simd) {
        ForcePlainAdjustments(simd == 0);
        if (simd != 2 && simd != 3) return;
        for (const std::int64_t t : simd::runnable_targets()) {
            if (simd::target_name(t) == (simd == 2 ? "AVX2" : "AVX3")) simd::force_target(t);
        }
    }
    ~Pin() {
        ForcePlainAdjustments(false);
        simd::force_target(0);
    }
    Pin(const Pin&) = delete;
    Pin& operator=(const Pin&) = delete;
};

void set_counters(benchmark::State& state, const Picture& p) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(p.store.size()));
}

void BM_Brightness(benchmark::State& state) {
    const int mode = static_cast<int>(state.range(0));
    const PathChoice path(state);
    Picture p(mode);
    for (auto _ : state) benchmark::DoNotOptimize(apply_brightness(p.plane, mode, {40, 12}));
    set_counters(state, p);
}

void BM_Contrast(benchmark::State& state) {
    const int mode = static_cast<int>(state.range(0));
    const PathChoice path(state);
    Picture p(mode);
    for (auto _ : state) benchmark::DoNotOptimize(apply_contrast(p.plane, mode, {30, 12}));
    set_counters(state, p);
}

void BM_Gamma(benchmark::State& state) {
    const int mode = static_cast<int>(state.range(0));
    const PathChoice path(state);
    Picture p(mode);
    for (auto _ : state) benchmark::DoNotOptimize(apply_gamma(p.plane, mode, {130, 12}));
    set_counters(state, p);
}

void BM_Sharpness(benchmark::State& state) {
    const int mode = static_cast<int>(state.range(0));
    const PathChoice path(state);
    Picture p(mode);
    Picture scratch(mode);
    for (auto _ : state) {
        benchmark::DoNotOptimize(apply_sharpness(p.plane, scratch.plane, mode, {10, 12}));
    }
    set_counters(state, p);
}

void BM_HueSaturation(benchmark::State& state) {
    const int mode = static_cast<int>(state.range(0));
    const PathChoice path(state);
    Picture p(mode);
    for (auto _ : state) {
        benchmark::DoNotOptimize(apply_hue_saturation(p.plane, mode, {30, 0, 40, 12}));
    }
    set_counters(state, p);
}

void BM_GrayCorrection(benchmark::State& state) {
    const int mode = static_cast<int>(state.range(0));
    Picture p(mode);
    const GrayRecord rec{0, 140, 128, 130, 150, 3, 0, -2, 5, mode == kModeMono8 ? 8 : 12};
    for (auto _ : state) benchmark::DoNotOptimize(apply_gray_correction(p.plane, mode, rec));
    set_counters(state, p);
}

void BM_GrayBalance(benchmark::State& state) {
    const int mode = static_cast<int>(state.range(0));
    Picture p(mode);
    GrayRecord rec{0, 128, 128, 128, 128, 0, 0, 0, 0, mode == kModeMono8 ? 8 : 12};
    for (auto _ : state) benchmark::DoNotOptimize(measure_gray_balance(p.plane, mode, rec));
    set_counters(state, p);
}

// simd as for Pin: 1 best, 2 AVX2, 0 plain.
void BM_AllFiveColor24(benchmark::State& state) {
    const Pin pin(state.range(0));
    Picture p(kModeColor24);
    Picture scratch(kModeColor24);
    const AdjustmentValues v{20, 15, 30, 40, 8, 120};
    for (auto _ : state) ApplyAdjustments(p.plane, scratch.plane, kModeColor24, v);
    set_counters(state, p);
}

// The 8-bit demosaic to Color24 of the same size, the five's yardstick.
void BM_Demosaic8To24(benchmark::State& state) {
    const Pin pin(state.range(0));
    CImageBuffer raw;
    CImageBuffer dst;
    if (raw.Create(kWidth, kHeight, 8) != 1 || dst.Create(kWidth, kHeight, 24) != 1) {
        state.SkipWithError("no buffers");
        return;
    }
    std::mt19937 rng(7);
    for (std::size_t i = 0; i < raw.store_size(); ++i) raw.pixels()[i] = static_cast<std::uint8_t>(rng());
    BayerRecord rec{3, 130, 100, 90};
    for (auto _ : state) {
        benchmark::DoNotOptimize(DemosaicPasses(dst, raw, rec));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(dst.store_size()));
}

// The sequence with some of the five steps on (bit 0 brightness, 1
// contrast, 2 hue and saturation, 3 sharpness, 4 gamma): what each costs
// inside the one pass.  simd as for Pin: 1 best, 2 AVX2, 3 AVX-512 without
// VBMI.
void BM_SequenceColor24(benchmark::State& state) {
    const auto steps = state.range(0);
    const Pin pin(state.range(1));
    Picture p(kModeColor24);
    Picture scratch(kModeColor24);
    AdjustmentValues v{};
    if ((steps & 1) != 0) v.brightness = 20;
    if ((steps & 2) != 0) v.contrast = 15;
    if ((steps & 4) != 0) {
        v.hue = 30;
        v.saturation = 40;
    }
    if ((steps & 8) != 0) v.sharpness = 8;
    if ((steps & 16) != 0) v.gamma = 120;
    for (auto _ : state) ApplyAdjustments(p.plane, scratch.plane, kModeColor24, v);
    set_counters(state, p);
}

// Every byte of the frame read and written back once, with as little work
// between as the compiler allows: the memory floor of an in-place pass.
// Whole 64-bit words, as a byte loop is not vectorised at -O2 and would
// measure the loop, not the memory.
void BM_ReadWriteColor24(benchmark::State& state) {
    Picture p(kModeColor24);
    constexpr std::uint64_t kFlip = 0x0101010101010101u;
    for (auto _ : state) {
        std::uint8_t* b = p.store.data();
        const std::size_t n = p.store.size();
        std::size_t i = 0;
        for (; i + 8 <= n; i += 8) {
            std::uint64_t word;
            std::memcpy(&word, b + i, 8);
            word ^= kFlip;
            std::memcpy(b + i, &word, 8);
        }
        for (; i < n; ++i) b[i] = static_cast<std::uint8_t>(b[i] ^ 1);
        benchmark::ClobberMemory();
    }
    set_counters(state, p);
}

void BM_CopyColor24(benchmark::State& state) {
    Picture p(kModeColor24);
    Picture copy(kModeColor24);
    for (auto _ : state) {
        std::memcpy(copy.store.data(), p.store.data(), p.store.size());
        benchmark::ClobberMemory();
    }
    set_counters(state, p);
}

void all_modes(benchmark::internal::Benchmark* b) {
    b->ArgNames({"mode", "simd"});
    for (int simd = 1; simd >= 0; --simd) {
        for (int m = 0; m < 6; ++m) b->Args({m, simd});
    }
    b->Unit(benchmark::kMicrosecond);
}

void colour_modes(benchmark::internal::Benchmark* b) {
    b->ArgNames({"mode", "simd"});
    for (int simd = 1; simd >= 0; --simd) {
        for (int m = kModeColor24; m <= kModeColor64; ++m) b->Args({m, simd});
    }
    b->Unit(benchmark::kMicrosecond);
}

void grey_modes(benchmark::internal::Benchmark* b) {
    b->ArgName("mode")->Arg(kModeMono8)->Arg(kModeMono10)->Unit(benchmark::kMicrosecond);
}

}  // namespace

BENCHMARK(BM_Brightness)->Apply(all_modes);
BENCHMARK(BM_Contrast)->Apply(all_modes);
BENCHMARK(BM_Gamma)->Apply(all_modes);
BENCHMARK(BM_Sharpness)->Apply(all_modes);
BENCHMARK(BM_HueSaturation)->Apply(colour_modes);
BENCHMARK(BM_GrayCorrection)->Apply(grey_modes);
BENCHMARK(BM_GrayBalance)->Apply(grey_modes);
BENCHMARK(BM_AllFiveColor24)
    ->ArgName("simd")
    ->Arg(1)
    ->Arg(2)
    ->Arg(0)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Demosaic8To24)->ArgName("simd")->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);
// Tone table alone, hue alone, sharpening alone, all but sharpening,
// sharpening with brightness after it, and all five.
BENCHMARK(BM_SequenceColor24)
    ->ArgNames({"steps", "simd"})
    ->ArgsProduct({{0b10011, 0b00100, 0b01000, 0b10111, 0b01001, 0b11111}, {1, 2, 3}})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CopyColor24)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadWriteColor24)->Unit(benchmark::kMicrosecond);
