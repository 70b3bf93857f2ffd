// A whole DevelopFrame per colour mode with neutral settings at 1280 × 720,
// beside a plain copy of the bytes the mode's demosaic reads and writes (the
// mono modes only touch nothing, so their floor is the raw frame).  Also
// Color24 with all five colour and tone adjustments on, and the Color24
// demosaic alone: what a neutral DevelopFrame is compared with.
#include <benchmark/benchmark.h>

#include <array>
#include <cstring>
#include <random>
#include <vector>

#include "pipeline/adjustment_block.h"
#include "pipeline/demosaic.h"
#include "pipeline/develop.h"
#include "pipeline/image_buffer.h"

namespace {

using namespace zbx::pipeline;

constexpr int kW = 1280;
constexpr int kH = 720;
constexpr std::uint16_t kBits[6] = {8, 16, 24, 32, 48, 64};

class QuietHost : public DevelopHost {
public:
    std::int32_t sensor_gain() override { return 0; }
    void set_sensor_gain(std::int32_t) override {}
    std::int32_t min_gain() override { return 0; }
    std::int32_t max_gain() override { return 11; }
    std::int32_t sensor_exposure() override { return 637; }
    void set_sensor_exposure(std::int32_t) override {}
    std::int32_t min_exposure() override { return 1; }
    std::int32_t max_exposure() override { return 32767; }
    void store_gain(std::int32_t) override {}
    void store_exposure(std::int32_t) override {}
    void refresh_image_dialog() override {}
    void show_analog_value(std::int32_t, std::int32_t) override {}
    DefectListView lock_defect_list() override { return {}; }
    void unlock_defect_list() override {}
};

void develop(benchmark::State& state, int mode, bool adjusted = false) {
    std::array<CImageBuffer, 7> slots;
    for (int i = 0; i < 6; ++i) {
        if (slots[static_cast<std::size_t>(i)].Create(kW, kH, kBits[i]) != 1) {
            state.SkipWithError("no buffers");
            return;
        }
    }
    if (slots[6].CreateLike(&slots[static_cast<std::size_t>(mode)]) != 1) {
        state.SkipWithError("no scratch");
        return;
    }
    std::mt19937 rng(5);
    for (std::size_t i = 0; i < slots[0].store_size(); ++i) slots[0].pixels()[i] = static_cast<std::uint8_t>(rng());
    auto* raw16 = reinterpret_cast<std::uint16_t*>(slots[1].pixels());
    for (std::size_t i = 0; i < slots[1].store_size() / 2; ++i) raw16[i] = static_cast<std::uint16_t>(rng() & 0x0FFF);
    AdjustmentArray adjust{};
    SetAdjustmentDefaults(adjust);
    if (adjusted) {
        AdjustmentBlock b(adjust);
        b.Brightness() = 20;
        b.Contrast() = 15;
        b.Hue() = 30;
        b.Saturation() = 40;
        b.Sharpness() = 8;
        b.Gamma() = 120;
    }
    QuietHost host;
    DevelopInput in;
    in.adjust = &adjust;
    in.color_mode = mode;
    in.host = &host;
    for (std::size_t i = 0; i < 7; ++i) in.slots[i] = &slots[i];
    for (auto _ : state) {
        DevelopFrame(in);
        benchmark::ClobberMemory();
    }
    const std::size_t raw = slots[mode == 1 || mode >= 4 ? 1 : 0].store_size();
    state.SetBytesProcessed(static_cast<std::int64_t>(
        state.iterations() * (raw + (mode >= 2 ? slots[static_cast<std::size_t>(mode)].store_size() : 0))));
}

void copy_floor(benchmark::State& state, int mode) {
    const std::size_t px = static_cast<std::size_t>(kW) * kH;
    const std::size_t raw = px * (mode == 1 || mode >= 4 ? 2 : 1);
    const std::size_t bytes = raw + (mode >= 2 ? px * kBits[mode] / 8 : 0);
    std::vector<std::uint8_t> a(bytes, 1), b(bytes, 2);
    for (auto _ : state) {
        std::memcpy(b.data(), a.data(), bytes);
        benchmark::DoNotOptimize(b.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

// The demosaic DevelopFrame runs for Color24 (same mosaic, default gains).
void demosaic_only(benchmark::State& state) {
    CImageBuffer raw;
    CImageBuffer dst;
    if (raw.Create(kW, kH, 8) != 1 || dst.Create(kW, kH, 24) != 1) {
        state.SkipWithError("no buffers");
        return;
    }
    std::mt19937 rng(5);
    for (std::size_t i = 0; i < raw.store_size(); ++i) raw.pixels()[i] = static_cast<std::uint8_t>(rng());
    AdjustmentArray adjust{};
    SetAdjustmentDefaults(adjust);
    const AdjustmentBlock a(adjust);
    BayerRecord rec{a.BayerMode(), a.BayerGainRed(), a.BayerGainGreen(), a.BayerGainBlue()};
    for (auto _ : state) {
        benchmark::DoNotOptimize(DemosaicPasses(dst, raw, rec));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * (raw.store_size() + dst.store_size())));
}

BENCHMARK(demosaic_only);
BENCHMARK_CAPTURE(copy_floor, mono8, 0);
BENCHMARK_CAPTURE(develop, mono8, 0);
BENCHMARK_CAPTURE(copy_floor, mono10, 1);
BENCHMARK_CAPTURE(develop, mono10, 1);
BENCHMARK_CAPTURE(copy_floor, color24, 2);
BENCHMARK_CAPTURE(develop, color24, 2);
BENCHMARK_CAPTURE(develop, color24_all_adjustments, 2, true);
BENCHMARK_CAPTURE(copy_floor, color32, 3);
BENCHMARK_CAPTURE(develop, color32, 3);
BENCHMARK_CAPTURE(copy_floor, color48, 4);
BENCHMARK_CAPTURE(develop, color48, 4);
BENCHMARK_CAPTURE(copy_floor, color64, 5);
BENCHMARK_CAPTURE(develop, color64, 5);

}  // namespace
