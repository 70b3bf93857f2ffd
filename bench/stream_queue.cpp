// Frames through the frame queue (zorbex/stream.h) against the virtual
// camera, beside the development work they cost, in one run.
//
// - BM_PacedColor24: the camera's own rate (about 45 per second), every
//   frame in order.  CPU per frame of the library's own threads and the
//   program's thread (counter lib_cpu_us), of the transfer thread apart
//   (transfer_cpu_us: on this virtual camera it renders the test chart and
//   copies it into the ring, which on the camera is the device's work and
//   its DMA), and of the whole process (process_cpu_us); demosaic_cpu_us is
//   the demosaic of one frame alone, timed in the same benchmark, and
//   lib_to_demosaic the ratio.
// - BM_UnpacedOneCore: the whole process pinned to one core, the camera as
//   fast as frames are taken: frames per second, and the ratio to the
//   develop step alone on the same core (to_develop).
// - BM_KeepEvery: every frame in order, paced, a program that keeps all it
//   takes: dropped must stay 0; process CPU per frame (process_cpu_us).
// - BM_UnpacedLoop: unpaced, every frame taken and given back at once,
//   frames per second and process CPU per frame.
// - BM_CancelLatency: from ZbxStream_Cancel to the return of a thread
//   waiting in ZbxStream_Wait, median and longest of 100.
// - BM_Sessions: `range(0)` sessions in one process, one camera slot each,
//   paced, a consumer thread each; frames lost, longest gap between two
//   frames of a camera, process CPU per frame.  ZBX_BENCH_SECONDS sets the
//   length (default 10).
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <sched.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "pipeline/demosaic.h"
#include "pipeline/develop.h"
#include "pipeline/image_buffer.h"
#include "platform/settings_store.h"
#include "platform/shared_memory.h"
#include "zorbex/stream.h"
#include "zorbex/vcam.h"
#include "zorbex/window.h"
#include "zorbex/zorbex.h"

namespace {

using Clock = std::chrono::steady_clock;

void private_environment() {
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

double process_cpu_s() {
    rusage usage{};
    (void)getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

double clock_s(clockid_t id) {
    timespec ts{};
    if (clock_gettime(id, &ts) != 0) return 0;
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// CPU time of every thread of this process whose name starts with `prefix`
// (Linux's per-thread CPU clock of another thread of the process).
double threads_cpu_s(const std::string& prefix) {
    double total = 0;
    DIR* dir = opendir("/proc/self/task");
    if (dir == nullptr) return 0;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
        std::string name;
        std::getline(comm, name);
        if (name.rfind(prefix, 0) != 0) continue;
        const pid_t tid = static_cast<pid_t>(std::atoi(entry->d_name));
        total += clock_s(static_cast<clockid_t>((~static_cast<clockid_t>(tid) << 3) | 6));
    }
    closedir(dir);
    return total;
}

// A first-run session on slot `slot` in colour mode 24, no preview, no wait.
ZbxHandle open_camera(int slot, bool paced) {
    private_environment();
    (void)ZbxVcam_SetPacing(slot, paced ? ZBX_VCAM_PACED : ZBX_VCAM_UNPACED);
    ZbxVcamScene scene{};
    scene.kind = ZBX_VCAM_SCENE_CHART;
    scene.moving = 1;
    (void)ZbxVcam_SetScene(slot, &scene);
    const ZbxHandle h = Zorbex_Initialize(nullptr);
    if (h == 0 || Zorbex_SetDeviceNumber(h, slot) == 0) return 0;
    (void)Zorbex_SetPreviewWindow(h, nullptr, 0, 0, 0, 0);
    (void)Zorbex_SetWaitTime(h, 0);
    (void)Zorbex_SetColorMode(h, 24);
    return h;
}

void reset_cameras(int slots) {
    private_environment();
    (void)zbx::platform::delete_settings_tree("Software\\Tevrun\\Zorbex530RDNQTSdk");
    (void)ZbxVcam_Reset();
    (void)ZbxVcam_SetSlots(slots >= 32 ? 0xFFFFFFFFu : (1u << slots) - 1);
}

// CPU seconds of one 1280 x 720 Colour 24 demosaic (the step alone), and of
// the whole neutral develop step, each the best of a few tries.
struct StepCost {
    double demosaic_s = 0;
    double develop_s = 0;
};

class NullHost final : public zbx::pipeline::DevelopHost {
public:
    std::int32_t sensor_gain() override { return 0; }
    void set_sensor_gain(std::int32_t) override {}
    std::int32_t min_gain() override { return 0; }
    std::int32_t max_gain() override { return 12; }
    std::int32_t sensor_exposure() override { return 0; }
    void set_sensor_exposure(std::int32_t) override {}
    std::int32_t min_exposure() override { return 1; }
    std::int32_t max_exposure() override { return 32767; }
    void store_gain(std::int32_t) override {}
    void store_exposure(std::int32_t) override {}
    void refresh_image_dialog() override {}
    void show_analog_value(std::int32_t, std::int32_t) override {}
    zbx::pipeline::DefectListView lock_defect_list() override { return {}; }
    void unlock_defect_list() override {}
};

StepCost measure_steps() {
    using zbx::pipeline::CImageBuffer;
    std::vector<std::unique_ptr<CImageBuffer>> slots;
    const std::uint16_t bits[7] = {8, 16, 24, 32, 48, 64, 24};
    for (std::uint16_t b : bits) {
        slots.push_back(std::make_unique<CImageBuffer>());
        (void)slots.back()->Create(1280, 720, b);
    }
    CImageBuffer& raw = *slots[0];
    for (std::size_t i = 0; i < raw.store_size(); ++i) raw.pixels()[i] = static_cast<std::uint8_t>(i * 2654435761u >> 24);
    zbx::pipeline::AdjustmentArray adjust{};
    zbx::pipeline::SetAdjustmentDefaults(adjust);
    NullHost host;
    zbx::pipeline::DevelopInput in;
    in.adjust = &adjust;
    in.color_mode = 2;
    in.host = &host;
    for (std::size_t i = 0; i < 7; ++i) in.slots[i] = slots[i].get();
    zbx::pipeline::BayerRecord rec{3, 100, 100, 100};
    StepCost best{1e9, 1e9};
    for (int round = 0; round < 5; ++round) {
        constexpr int kReps = 20;
        double t0 = clock_s(CLOCK_THREAD_CPUTIME_ID);
        for (int i = 0; i < kReps; ++i) zbx::pipeline::DemosaicPasses(*slots[2], raw, rec);
        double t1 = clock_s(CLOCK_THREAD_CPUTIME_ID);
        best.demosaic_s = std::min(best.demosaic_s, (t1 - t0) / kReps);
        t0 = clock_s(CLOCK_THREAD_CPUTIME_ID);
        for (int i = 0; i < kReps; ++i) zbx::pipeline::DevelopFrame(in);
        t1 = clock_s(CLOCK_THREAD_CPUTIME_ID);
        best.develop_s = std::min(best.develop_s, (t1 - t0) / kReps);
    }
    return best;
}

ZbxStream* open_stream(ZbxHandle h, std::uint32_t buffers, std::uint32_t delivery) {
    ZbxStreamConfig config = ZBX_STREAM_CONFIG_INIT;
    config.buffer_count = buffers;
    config.delivery = delivery;
    ZbxStream* s = nullptr;
    if (ZbxStream_Open(h, &config, &s) != ZBX_OK || ZbxStream_Start(s) != ZBX_OK) return nullptr;
    return s;
}

void BM_PacedColor24(benchmark::State& state) {
    const StepCost steps = measure_steps();
    reset_cameras(1);
    const ZbxHandle h = open_camera(0, true);
    ZbxStream* s = h != 0 ? open_stream(h, 4, ZBX_DELIVER_ALL) : nullptr;
    if (s == nullptr) {
        state.SkipWithError("no stream");
        return;
    }
    // Settle: the first frames pay for the buffers.
    for (int i = 0; i < 10; ++i) {
        const ZbxFrame* f = nullptr;
        if (ZbxStream_Wait(s, 5000, &f) == ZBX_OK) (void)ZbxStream_Release(s, f);
    }
    const double p0 = process_cpu_s();
    const double a0 = threads_cpu_s("zbx-acquire");
    const double x0 = threads_cpu_s("zbx-transfer");
    const double m0 = clock_s(CLOCK_THREAD_CPUTIME_ID);
    std::uint64_t frames = 0;
    std::uint64_t dropped = 0;
    for (auto _ : state) {
        const ZbxFrame* f = nullptr;
        if (ZbxStream_Wait(s, 5000, &f) != ZBX_OK) {
            state.SkipWithError("no frame");
            break;
        }
        dropped += f->dropped;
        ++frames;
        (void)ZbxStream_Release(s, f);
    }
    const double lib = (threads_cpu_s("zbx-acquire") - a0) + (clock_s(CLOCK_THREAD_CPUTIME_ID) - m0);
    const double transfer = threads_cpu_s("zbx-transfer") - x0;
    const double process = process_cpu_s() - p0;
    (void)ZbxStream_Close(s);
    (void)Zorbex_Release(h);
    const double n = static_cast<double>(std::max<std::uint64_t>(frames, 1));
    state.counters["lib_cpu_us"] = lib / n * 1e6;
    state.counters["transfer_cpu_us"] = transfer / n * 1e6;
    state.counters["process_cpu_us"] = process / n * 1e6;
    state.counters["demosaic_cpu_us"] = steps.demosaic_s * 1e6;
    state.counters["lib_to_demosaic"] = lib / n / steps.demosaic_s;
    state.counters["dropped"] = static_cast<double>(dropped);
}
BENCHMARK(BM_PacedColor24)->Iterations(225)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_UnpacedOneCore(benchmark::State& state) {
    // Pinned before anything starts: the library's threads inherit it.
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(sched_getcpu(), &one);
    cpu_set_t before;
    (void)sched_getaffinity(0, sizeof before, &before);
    (void)sched_setaffinity(0, sizeof one, &one);
    const StepCost steps = measure_steps();
    reset_cameras(1);
    const ZbxHandle h = open_camera(0, false);
    ZbxStream* s = h != 0 ? open_stream(h, 4, ZBX_DELIVER_ALL) : nullptr;
    if (s == nullptr) {
        state.SkipWithError("no stream");
        (void)sched_setaffinity(0, sizeof before, &before);
        return;
    }
    std::uint64_t frames = 0;
    const Clock::time_point start = Clock::now();
    for (auto _ : state) {
        const ZbxFrame* f = nullptr;
        if (ZbxStream_Wait(s, 5000, &f) != ZBX_OK) {
            state.SkipWithError("no frame");
            break;
        }
        ++frames;
        (void)ZbxStream_Release(s, f);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    (void)ZbxStream_Close(s);
    (void)Zorbex_Release(h);
    (void)sched_setaffinity(0, sizeof before, &before);
    const double fps = static_cast<double>(frames) / seconds;
    state.counters["fps"] = fps;
    state.counters["develop_alone_fps"] = 1.0 / steps.develop_s;
    state.counters["to_develop"] = fps * steps.develop_s;
}
BENCHMARK(BM_UnpacedOneCore)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(3);

void BM_KeepEvery(benchmark::State& state) {
    const auto keep = static_cast<std::uint32_t>(state.range(0));
    reset_cameras(1);
    const ZbxHandle h = open_camera(0, true);
    ZbxStream* s = h != 0 ? open_stream(h, keep + 4, ZBX_DELIVER_ALL) : nullptr;
    if (s == nullptr) {
        state.SkipWithError("no stream");
        return;
    }
    std::vector<const ZbxFrame*> kept;
    std::uint64_t dropped = 0;
    const double cpu_start = process_cpu_s();
    for (auto _ : state) {
        const ZbxFrame* f = nullptr;
        if (ZbxStream_Wait(s, 5000, &f) != ZBX_OK) {
            state.SkipWithError("no frame");
            break;
        }
        dropped += f->dropped;
        kept.push_back(f);
    }
    const double cpu = process_cpu_s() - cpu_start;
    for (const ZbxFrame* f : kept) (void)ZbxStream_Release(s, f);
    (void)ZbxStream_Close(s);
    (void)Zorbex_Release(h);
    state.counters["dropped"] = static_cast<double>(dropped);
    state.counters["kept"] = static_cast<double>(kept.size());
    // The whole process (library threads, the virtual camera's transfer
    // thread, this loop) per frame: bench/python_stream.py's yardstick.
    state.counters["process_cpu_us"] = kept.empty() ? 0 : cpu / static_cast<double>(kept.size()) * 1e6;
}
BENCHMARK(BM_KeepEvery)->Arg(300)->Iterations(300)->UseRealTime()->Unit(benchmark::kMillisecond);

// Unpaced, every frame in order, the loop taking each frame and giving it
// back at once (four queue buffers, no pinning): the C counterpart of
// `for frame in cam.stream(strategy="all")` with only the loop variable.
void BM_UnpacedLoop(benchmark::State& state) {
    reset_cameras(1);
    const ZbxHandle h = open_camera(0, false);
    ZbxStream* s = h != 0 ? open_stream(h, 4, ZBX_DELIVER_ALL) : nullptr;
    if (s == nullptr) {
        state.SkipWithError("no stream");
        return;
    }
    const ZbxFrame* first = nullptr;
    if (ZbxStream_Wait(s, 5000, &first) == ZBX_OK) (void)ZbxStream_Release(s, first);  // the start is not timed
    std::uint64_t frames = 0;
    std::uint64_t dropped = 0;
    const double cpu_start = process_cpu_s();
    const Clock::time_point start = Clock::now();
    for (auto _ : state) {
        const ZbxFrame* f = nullptr;
        if (ZbxStream_Wait(s, 5000, &f) != ZBX_OK) {
            state.SkipWithError("no frame");
            break;
        }
        ++frames;
        dropped += f->dropped;
        (void)ZbxStream_Release(s, f);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = process_cpu_s() - cpu_start;
    (void)ZbxStream_Close(s);
    (void)Zorbex_Release(h);
    state.counters["fps"] = static_cast<double>(frames) / seconds;
    state.counters["dropped"] = static_cast<double>(dropped);
    state.counters["process_cpu_us"] = frames == 0 ? 0 : cpu / static_cast<double>(frames) * 1e6;
}
BENCHMARK(BM_UnpacedLoop)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(2);

void BM_CancelLatency(benchmark::State& state) {
    reset_cameras(1);
    (void)ZbxVcam_StopFrames(0, 1);
    const ZbxHandle h = open_camera(0, true);
    ZbxStream* s = h != 0 ? open_stream(h, 2, ZBX_DELIVER_ALL) : nullptr;
    if (s == nullptr) {
        state.SkipWithError("no stream");
        return;
    }
    std::vector<double> latencies;
    for (auto _ : state) {
        (void)ZbxStream_Resume(s);
        std::atomic<bool> waiting{false};
        Clock::time_point returned;
        std::thread waiter([&] {
            const ZbxFrame* f = nullptr;
            waiting = true;
            (void)ZbxStream_Wait(s, -1, &f);
            returned = Clock::now();
        });
        while (!waiting) std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        const Clock::time_point cancelled = Clock::now();
        (void)ZbxStream_Cancel(s);
        waiter.join();
        latencies.push_back(std::chrono::duration<double, std::milli>(returned - cancelled).count());
    }
    (void)ZbxStream_Close(s);
    (void)Zorbex_Release(h);
    (void)ZbxVcam_StopFrames(0, 0);
    std::sort(latencies.begin(), latencies.end());
    state.counters["median_ms"] = latencies[latencies.size() / 2];
    state.counters["max_ms"] = latencies.back();
}
BENCHMARK(BM_CancelLatency)->Iterations(100)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_Sessions(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const char* env = std::getenv("ZBX_BENCH_SECONDS");
    const double seconds = env != nullptr ? std::atof(env) : 10.0;
    for (auto _ : state) {
        reset_cameras(count);
        std::vector<ZbxHandle> cams;
        std::vector<ZbxStream*> streams;
        // Opening a session takes a good part of a second: every camera is
        // opened first and started only when all are, so that no queue
        // fills up while the others open.
        for (int i = 0; i < count; ++i) {
            cams.push_back(open_camera(i, true));
            ZbxStreamConfig config = ZBX_STREAM_CONFIG_INIT;
            ZbxStream* s = nullptr;
            if (cams.back() == 0 || ZbxStream_Open(cams.back(), &config, &s) != ZBX_OK) {
                state.SkipWithError("no stream");
                return;
            }
            streams.push_back(s);
        }
        for (ZbxStream* s : streams)
            if (ZbxStream_Start(s) != ZBX_OK) {
                state.SkipWithError("no start");
                return;
            }
        std::atomic<bool> stop{false};
        std::vector<std::uint64_t> frames(count), dropped(count), longest_gap_ns(count);
        std::vector<std::thread> consumers;
        const double p0 = process_cpu_s();
        for (int i = 0; i < count; ++i)
            consumers.emplace_back([&, i] {
                std::uint64_t last = 0;
                while (!stop) {
                    const ZbxFrame* f = nullptr;
                    if (ZbxStream_Wait(streams[i], 100, &f) != ZBX_OK) continue;
                    // The first frames of a start are not counted against it.
                    if (frames[i] > 0) {
                        dropped[i] += f->dropped;
                        longest_gap_ns[i] = std::max<std::uint64_t>(longest_gap_ns[i], f->timestamp_ns - last);
                    }
                    last = f->timestamp_ns;
                    ++frames[i];
                    (void)ZbxStream_Release(streams[i], f);
                }
            });
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        stop = true;
        for (auto& t : consumers) t.join();
        const double process = process_cpu_s() - p0;
        for (int i = 0; i < count; ++i) {
            (void)ZbxStream_Close(streams[i]);
            (void)Zorbex_Release(cams[i]);
        }
        std::uint64_t all = 0, lost = 0, gap = 0;
        for (int i = 0; i < count; ++i) {
            all += frames[i];
            lost += dropped[i];
            gap = std::max(gap, longest_gap_ns[i]);
        }
        state.counters["frames"] = static_cast<double>(all);
        state.counters["lost"] = static_cast<double>(lost);
        state.counters["longest_gap_ms"] = static_cast<double>(gap) * 1e-6;
        state.counters["process_cpu_us_per_frame"] = process / static_cast<double>(std::max<std::uint64_t>(all, 1)) * 1e6;
    }
}
BENCHMARK(BM_Sessions)->Arg(32)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace
