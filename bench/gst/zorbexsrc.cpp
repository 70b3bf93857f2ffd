// zorbexsrc ! fakesink against a C loop on the frame queue it is built on,
// in one run.
//
// One iteration is one frame: a frame taken with ZbxStream_Wait and given
// back with ZbxStream_Release for the C loop (what a program of the
// library gets), a buffer leaving zorbexsrc for the element.
// items_per_second is the delivered frame rate, the CPU column the whole
// process's processor time per frame.  BM_ElementOverQueue gives the
// element's rate over the C loop's (goal: at least 0.97) from rounds of
// slices run in turn, which the load of a shared machine disturbs less, and
// the share of frames the element dropped in its slices.  On the paced
// camera, BM_ZorbexsrcPaced runs 60 s at camera rate and reports the frames
// the element dropped (goal: none) and the rate it kept.
//
// Both paths colour mode 24 (BGR) at 1280 x 720, every frame in order, no
// adjustments, no preview window.  Built from gst/CMakeLists.txt because it
// needs GStreamer.
#include <benchmark/benchmark.h>
#include <gst/gst.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/settings_store.h"
#include "platform/shared_memory.h"
#include "plugin.h"
#include "zorbex/stream.h"
#include "zorbex/vcam.h"
#include "zorbex/window.h"
#include "zorbex/zorbex.h"

namespace {

// Settings and the camera table of this program only, never the user's;
// GStreamer with the plugin registered in process.
void private_environment() {
    static const bool done = [] {
        const std::filesystem::path dir =
            std::filesystem::temp_directory_path() / ("zbx-bench-gst-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        zbx::platform::set_settings_root(dir);
        zbx::platform::set_shared_memory_namespace("zbxbench-gst-" + std::to_string(::getpid()));
        gst_init(nullptr, nullptr);
        return zorbex_plugin_register_static() == TRUE;
    }();
    (void)done;
}

// A first-run camera: no saved settings, a reset virtual camera, paced or not.
void fresh_camera(bool paced) {
    private_environment();
    (void)zbx::platform::delete_settings_tree("Software\\Tevrun\\Zorbex530RDNQTSdk");
    (void)ZbxVcam_Reset();
    (void)ZbxVcam_SetPacing(0, paced ? ZBX_VCAM_PACED : ZBX_VCAM_UNPACED);
}

// The C loop: a session in colour mode 24 with a queue of four buffers,
// every frame in order, each frame released as soon as it is taken.
class QueueLoop {
public:
    QueueLoop() {
        fresh_camera(false);
        h_ = Zorbex_Initialize(nullptr);
        (void)Zorbex_SetColorMode(h_, 24);
        (void)Zorbex_SetWaitTime(h_, 0);
        (void)Zorbex_SetPreviewWindow(h_, nullptr, 0, 0, 0, 0);
        ZbxStreamConfig config = ZBX_STREAM_CONFIG_INIT;
        started_ = ZbxStream_Open(h_, &config, &stream_) == ZBX_OK && ZbxStream_Start(stream_) == ZBX_OK && next();
    }
    ~QueueLoop() {
        if (stream_ != nullptr) (void)ZbxStream_Close(stream_);
        (void)Zorbex_Release(h_);
    }
    QueueLoop(const QueueLoop&) = delete;
    QueueLoop& operator=(const QueueLoop&) = delete;

    [[nodiscard]] bool started() const { return started_; }
    // Takes and gives back the next frame; false when none came in 10 s.
    [[nodiscard]] bool next() {
        const ZbxFrame* frame = nullptr;
        if (ZbxStream_Wait(stream_, 10000, &frame) != ZBX_OK) return false;
        return ZbxStream_Release(stream_, frame) == ZBX_OK;
    }
    [[nodiscard]] std::uint64_t dropped() {
        ZbxStreamStats stats{};
        (void)ZbxStream_GetStats(stream_, &stats);
        return stats.dropped;
    }

private:
    ZbxHandle h_ = 0;
    ZbxStream* stream_ = nullptr;
    bool started_ = false;
};

void BM_QueueLoop(benchmark::State& state) {
    QueueLoop loop;
    if (!loop.started()) {
        state.SkipWithError("streaming did not start");
        return;
    }
    for (auto _ : state) {
        if (!loop.next()) {
            state.SkipWithError("no frame");
            break;
        }
    }
    state.counters["dropped"] = static_cast<double>(loop.dropped());
    state.SetItemsProcessed(state.iterations());
}

// Counts the buffers that leave the source.  The waiting thread is woken
// only once the count reaches what it waits for, so that waiting for a batch
// costs one wake-up, not one per frame: a wake-up per frame would take
// processor time from the camera's threads that the C loops do not pay.
struct BufferCounter {
    std::mutex mutex;
    std::condition_variable arrived;
    std::atomic<std::uint64_t> count{0};
    std::atomic<std::uint64_t> wanted{1};

    static GstPadProbeReturn probe(GstPad*, GstPadProbeInfo*, gpointer data) {
        auto* self = static_cast<BufferCounter*>(data);
        if (self->count.fetch_add(1) + 1 >= self->wanted.load()) {
            std::lock_guard<std::mutex> lock(self->mutex);
            self->arrived.notify_one();
        }
        return GST_PAD_PROBE_OK;
    }
    // False when the count did not reach `n` within 10 s.
    bool wait_for(std::uint64_t n) {
        std::unique_lock<std::mutex> lock(mutex);
        wanted.store(n);
        return arrived.wait_for(lock, std::chrono::seconds(10), [&] { return count.load() >= n; });
    }
};

void run_element(benchmark::State& state, bool paced) {
    fresh_camera(paced);
    GstElement* pipeline = gst_parse_launch("zorbexsrc name=src color-mode=bgr ! fakesink sync=false", nullptr);
    GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "src");
    GstPad* pad = gst_element_get_static_pad(src, "src");
    BufferCounter counter;
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, BufferCounter::probe, &counter, nullptr);
    (void)gst_element_set_state(pipeline, GST_STATE_PLAYING);
    if (!counter.wait_for(1)) {
        state.SkipWithError("no buffer");
    } else {
        std::uint64_t seen = counter.count.load();
        GstStructure* stats = nullptr;
        g_object_get(src, "stats", &stats, nullptr);
        guint64 dropped_before = 0;
        (void)gst_structure_get_uint64(stats, "dropped", &dropped_before);
        gst_structure_free(stats);
        const auto wall_before = std::chrono::steady_clock::now();
        // Unpaced, frames are waited for 32 at a time (see BufferCounter).
        const std::uint64_t batch = paced ? 1 : 32;
        while (state.KeepRunningBatch(static_cast<benchmark::IterationCount>(batch))) {
            seen += batch;
            if (!counter.wait_for(seen)) {
                state.SkipWithError("no buffer");
                break;
            }
        }
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_before).count();
        g_object_get(src, "stats", &stats, nullptr);
        guint64 dropped = 0;
        (void)gst_structure_get_uint64(stats, "dropped", &dropped);
        gst_structure_free(stats);
        state.counters["dropped"] = static_cast<double>(dropped - dropped_before);
        state.counters["seconds"] = wall;
        state.SetItemsProcessed(state.iterations());
    }
    (void)gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pad);
    gst_object_unref(src);
    gst_object_unref(pipeline);
}

// The machine is shared: load from other work drifts over seconds, so the
// ratios are taken from slices run in turn, the two C loops and the
// element, with the same camera settings.  Each slice counts only after a
// warm-up: a stream's first frames (new buffers, a new pipeline) are not
// what a stream that runs for minutes delivers.
constexpr double kWarmUpSeconds = 0.5;

double frames_per_second_queue(double seconds) {
    QueueLoop loop;
    if (!loop.started()) return 0;
    const auto warm = std::chrono::steady_clock::now() + std::chrono::duration<double>(kWarmUpSeconds);
    while (std::chrono::steady_clock::now() < warm) {
        if (!loop.next()) return 0;
    }
    int n = 0;
    const auto begin = std::chrono::steady_clock::now();
    double elapsed = 0;
    while (elapsed < seconds && loop.next()) {
        ++n;
        elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    }
    return elapsed > 0 ? n / elapsed : 0;
}

// Frames delivered and dropped by the element so far.
struct ElementCounts {
    guint64 delivered = 0;
    guint64 dropped = 0;
};

ElementCounts element_counts(GstElement* src) {
    GstStructure* stats = nullptr;
    g_object_get(src, "stats", &stats, nullptr);
    ElementCounts counts;
    (void)gst_structure_get_uint64(stats, "delivered", &counts.delivered);
    (void)gst_structure_get_uint64(stats, "dropped", &counts.dropped);
    gst_structure_free(stats);
    return counts;
}

// The element's rate over `seconds`; adds the frames it delivered and
// dropped meanwhile to *counts.
double frames_per_second_element(double seconds, ElementCounts* counts) {
    fresh_camera(false);
    GstElement* pipeline = gst_parse_launch("zorbexsrc name=src color-mode=bgr ! fakesink sync=false", nullptr);
    GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "src");
    GstPad* pad = gst_element_get_static_pad(src, "src");
    BufferCounter counter;
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, BufferCounter::probe, &counter, nullptr);
    (void)gst_element_set_state(pipeline, GST_STATE_PLAYING);
    double rate = 0;
    if (counter.wait_for(1)) {
        counter.wanted.store(UINT64_MAX);  // no wake-ups while the slice runs
        std::this_thread::sleep_for(std::chrono::duration<double>(kWarmUpSeconds));
        const std::uint64_t first = counter.count.load();
        const ElementCounts before = element_counts(src);
        const auto begin = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        const std::uint64_t last = counter.count.load();
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        const ElementCounts after = element_counts(src);
        counts->delivered += after.delivered - before.delivered;
        counts->dropped += after.dropped - before.dropped;
        rate = static_cast<double>(last - first) / elapsed;
    }
    (void)gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pad);
    gst_object_unref(src);
    gst_object_unref(pipeline);
    return rate;
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// Rounds of two adjacent slices (C loop, element), each taking the first
// place in turn: the load of other work swings the camera's rate within
// seconds, so the ratio is that of the mean rates over all rounds; the
// median of the rounds' own ratios is given beside it.
void BM_ElementOverQueue(benchmark::State& state) {
    constexpr int kRounds = 10;
    constexpr double kSliceSeconds = 2.0;
    for (auto _ : state) {
        std::vector<double> ratios;
        double sums[2] = {};
        ElementCounts counts;
        for (int round = 0; round < kRounds; ++round) {
            double fps[2] = {};
            for (int place = 0; place < 2; ++place) {
                if ((round + place) % 2 == 0)
                    fps[0] = frames_per_second_queue(kSliceSeconds);
                else
                    fps[1] = frames_per_second_element(kSliceSeconds, &counts);
            }
            sums[0] += fps[0];
            sums[1] += fps[1];
            ratios.push_back(fps[0] > 0 ? fps[1] / fps[0] : 0);
        }
        state.counters["queue_fps"] = sums[0] / kRounds;
        state.counters["element_fps"] = sums[1] / kRounds;
        state.counters["ratio"] = sums[0] > 0 ? sums[1] / sums[0] : 0;
        state.counters["median_round_ratio"] = median(ratios);
        // Share of the camera's frames the element lost.
        const guint64 seen = counts.delivered + counts.dropped;
        state.counters["dropped_share"] = seen > 0 ? static_cast<double>(counts.dropped) / seen : 0;
    }
}

void BM_Zorbexsrc(benchmark::State& state) { run_element(state, false); }
// 60 s at the camera's ~45 frames per second.
void BM_ZorbexsrcPaced(benchmark::State& state) { run_element(state, true); }

BENCHMARK(BM_QueueLoop)->UseRealTime()->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond)->MinTime(3);
BENCHMARK(BM_Zorbexsrc)->UseRealTime()->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond)->MinTime(3);
BENCHMARK(BM_ElementOverQueue)->UseRealTime()->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK(BM_ZorbexsrcPaced)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(2700);

}  // namespace

BENCHMARK_MAIN();
