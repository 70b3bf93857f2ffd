// The whole streaming path as an application sees it: the virtual camera's
// frames developed by the session, copied into the caller's buffer and
// announced with message 0x8002, optionally painted into a preview window.
//
// One iteration is one frame message.  Time is wall time per frame (so
// items_per_second is the delivered frame rate); the CPU column is the
// whole process's CPU time per frame, transfer thread included.  Compare
// with bench_pipeline_develop (development alone) and bench_device_streaming
// (the transfer and frame copy alone): this path should add only the image
// copy, the paint and the message to them.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "c_stream_loops.h"
#include "platform/settings_store.h"
#include "platform/shared_memory.h"
#include "zorbex/vcam.h"
#include "zorbex/window.h"
#include "zorbex/zorbex.h"

// Settings and the camera table of this program only, never the user's.
void zbx_bench::private_environment() {
    static const bool done = [] {
        const std::filesystem::path dir =
            std::filesystem::temp_directory_path() / ("zbx-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        zbx::platform::set_settings_root(dir);
        zbx::platform::set_shared_memory_namespace("zbxbench-" + std::to_string(::getpid()));
        return true;
    }();
    (void)done;
}

namespace {

using zbx_bench::next_frame;

double process_cpu_seconds() {
    rusage usage{};
    (void)getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

struct Options {
    bool paced = false;
    bool adjustments = false;
    int preview_width = 0;  // 0: no preview window
    int preview_height = 0;
    bool caller_buffer = true;  // false: frame messages only
};

void stream(benchmark::State& state, const Options& options) {
    // Each run starts as a first run: a session saves its filter values
    // when released, and the next run would load them.
    zbx_bench::fresh_camera(options.paced);
    const ZbxWindow notify = ZbxWin_CreateMessageWindow();
    const ZbxWindow frames = ZbxWin_CreateMessageWindow();
    const ZbxHandle h = Zorbex_Initialize(notify);
    (void)Zorbex_SetColorMode(h, 24);
    // The first-run wait time (1 ms) when paced; none when frames come at once.
    (void)Zorbex_SetWaitTime(h, options.paced ? 1 : 0);
    (void)Zorbex_SetExposureTime(h, 637);
    if (options.adjustments) {
        (void)Zorbex_SetBrightness(h, 10);
        (void)Zorbex_SetContrast(h, 10);
        (void)Zorbex_SetHue(h, 10);
        (void)Zorbex_SetSaturation(h, 10);
        (void)Zorbex_SetSharpness(h, 1);
        (void)Zorbex_SetGamma(h, 120);
        (void)Zorbex_SetBayerGainRed(h, 110);
        (void)Zorbex_SetBayerGainBlue(h, 90);
    }
    ZbxWindow parent = nullptr;
    if (options.preview_width > 0) {
        parent = ZbxWin_CreateWindow(nullptr, 0, 0, options.preview_width, options.preview_height, 1);
        (void)Zorbex_SetPreviewWindow(h, parent, 0, 0, options.preview_width, options.preview_height);
    } else {
        (void)Zorbex_SetPreviewWindow(h, nullptr, 0, 0, 0, 0);
    }
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(1280) * 720 * 3);
    const int length = options.caller_buffer ? static_cast<int>(buffer.size()) : 0;
    if (Zorbex_CallBackPreview(h, frames, options.caller_buffer ? buffer.data() : nullptr, length, 1) != 1 ||
        !next_frame(frames)) {
        state.SkipWithError("streaming did not start");
    } else {
        const double cpu_before = process_cpu_seconds();
        const auto wall_before = std::chrono::steady_clock::now();
        for (auto _ : state) {
            if (!next_frame(frames)) {
                state.SkipWithError("no frame");
                break;
            }
        }
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_before).count();
        // Share of one core the whole process used while streaming.
        state.counters["cores"] = wall > 0 ? (process_cpu_seconds() - cpu_before) / wall : 0;
        state.SetItemsProcessed(state.iterations());
    }
    (void)Zorbex_Close(h);
    (void)Zorbex_Release(h);
    if (parent != nullptr) (void)ZbxWin_DestroyWindow(parent);
    (void)ZbxWin_DestroyWindow(frames);
    (void)ZbxWin_DestroyWindow(notify);
}

void BM_Color24Neutral(benchmark::State& state) { stream(state, Options{}); }
// As BM_Color24Neutral, but every frame kept intact: the library is handed
// the other of two buffers per frame message (what a consumer that keeps
// frames beyond the next one, like the Python stream, pays for).
void BM_Color24HandOver(benchmark::State& state) {
    zbx_bench::CInterfaceHandOver stream;
    const double cpu_before = process_cpu_seconds();
    const auto wall_before = std::chrono::steady_clock::now();
    if (!zbx_bench::run_c_stream(state, stream)) return;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_before).count();
    state.counters["cores"] = wall > 0 ? (process_cpu_seconds() - cpu_before) / wall : 0;
    state.counters["dropped"] = static_cast<double>(stream.lost());
}
void BM_Color24AllAdjustments(benchmark::State& state) { stream(state, Options{false, true, 0, 0}); }
void BM_Color24PreviewScaled(benchmark::State& state) { stream(state, Options{false, false, 640, 360}); }
void BM_Color24PreviewSameSize(benchmark::State& state) { stream(state, Options{false, false, 1280, 720}); }
// The paced camera at its ~45 frames per second: the "cores" counter is the
// CPU share that streaming costs.
void BM_Color24NeutralPaced(benchmark::State& state) { stream(state, Options{true, false, 0, 0}); }
void BM_Color24NeutralPacedNoCopy(benchmark::State& state) { stream(state, Options{true, false, 0, 0, false}); }
void BM_Color24PreviewScaledPaced(benchmark::State& state) { stream(state, Options{true, false, 640, 360}); }

BENCHMARK(BM_Color24Neutral)->UseRealTime()->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_Color24HandOver)->UseRealTime()->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_Color24AllAdjustments)->UseRealTime()->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_Color24PreviewScaled)->UseRealTime()->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_Color24PreviewSameSize)->UseRealTime()->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_Color24NeutralPaced)->UseRealTime()->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond)->Iterations(135);
BENCHMARK(BM_Color24NeutralPacedNoCopy)->UseRealTime()->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond)->Iterations(135);
BENCHMARK(BM_Color24PreviewScaledPaced)->UseRealTime()->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond)->Iterations(135);

}  // namespace
