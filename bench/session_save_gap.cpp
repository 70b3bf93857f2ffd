// Does a still-image save stall the live stream?  The paced virtual camera
// (about 45 frames per second) streams 720p frames into a callback window
// while another thread saves a PNG with Zorbex_SaveImage; the frame messages
// (0x8002) are time-stamped as the application receives them, and the
// longest gap between two of them around the save is reported.
//
// One iteration is one save; the time column is the save's wall time.
// Counters:
//   max_gap_ms       longest gap between frame messages that overlaps a
//                    save (the frame before it starts to the first after it
//                    ends), over all iterations
//   mean_gap_ms      that gap averaged over the iterations
//   frame_ms         the camera's frame time
//   max_gap_frames   max_gap_ms / frame_ms; goal: at most 2
//   frames_in_save   frame messages received while a save ran, per save
//   failed_frames    failure messages (wParam 0) during the saves, in all
//   file_mb          size of the saved file
// The scene is the camera's moving chart; with noise added (second
// argument) it compresses like a real camera picture, which is what makes
// PNG slow: without it the encoder has almost nothing to do.
// BM_NoSave watches the same number of frames without saving, as the
// floor of what pacing and scheduling give on this machine.
//
// Only the public C API is used, apart from main's private settings folder
// and shared-memory namespace, so that the run never touches the user's.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/settings_store.h"
#include "platform/shared_memory.h"
#include "zorbex/vcam.h"
#include "zorbex/window.h"
#include "zorbex/zorbex.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms_between(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

std::filesystem::path& scratch_dir() {
    static std::filesystem::path dir;
    return dir;
}

// What the callback window received next: a frame, a failed frame
// (wParam 0), or nothing within the time-out.
enum class Arrival { kFrame, kFailed, kNothing };

Arrival next_message(ZbxWindow window, std::uint32_t timeout_ms) {
    ZbxMessage m{};
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (Clock::now() < until) {
        if (ZbxWin_WaitMessage(window, &m, timeout_ms) == 0) continue;
        if (m.message != ZBX_MSG_FRAME) continue;
        return m.wparam != 0 ? Arrival::kFrame : Arrival::kFailed;
    }
    return Arrival::kNothing;
}

// A streaming session of the paced camera in the given colour mode, with a
// callback window and a caller buffer; torn down at scope exit.
class Stream {
public:
    Stream(int bits, int noise) {
        (void)ZbxVcam_Reset();
        (void)ZbxVcam_SetPacing(0, ZBX_VCAM_PACED);
        ZbxVcamScene scene{};
        (void)ZbxVcam_GetScene(0, &scene);
        scene.noise = noise;
        (void)ZbxVcam_SetScene(0, &scene);
        notify_ = ZbxWin_CreateMessageWindow();
        frames_ = ZbxWin_CreateMessageWindow();
        h_ = Zorbex_Initialize(notify_);
        (void)Zorbex_SetColorMode(h_, bits);
        (void)Zorbex_SetWaitTime(h_, 1);
        (void)Zorbex_SetExposureTime(h_, 637);
        (void)Zorbex_SetPreviewWindow(h_, nullptr, 0, 0, 0, 0);
        buffer_.resize(std::size_t(1280) * 720 * std::size_t(bits / 8));
        started_ = h_ != 0 &&
                   Zorbex_CallBackPreview(h_, frames_, buffer_.data(), int(buffer_.size()), 1) == 1;
        // A few frames first, so that start-up is not measured.
        for (int i = 0; started_ && i < 5; ++i)
            started_ = next_message(frames_, 2000) == Arrival::kFrame;
    }
    ~Stream() {
        (void)Zorbex_Close(h_);
        (void)Zorbex_Release(h_);
        (void)ZbxWin_DestroyWindow(frames_);
        (void)ZbxWin_DestroyWindow(notify_);
    }
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    bool started() const { return started_; }
    ZbxHandle handle() const { return h_; }
    ZbxWindow frames() const { return frames_; }

    double frame_ms() const {
        ZbxVcamStats stats{};
        if (ZbxVcam_GetStats(0, &stats) != ZBX_VCAM_OK) return 0;
        return stats.frame_period_us / 1000.0;
    }

private:
    ZbxWindow notify_ = nullptr;
    ZbxWindow frames_ = nullptr;
    ZbxHandle h_ = 0;
    std::vector<std::uint8_t> buffer_;
    bool started_ = false;
};

struct GapTotals {
    double max_gap_ms = 0;
    double sum_gap_ms = 0;
    double frames_in_save = 0;
    double failed = 0;
    double file_bytes = 0;
};

void report(benchmark::State& state, const GapTotals& t, double frame_ms) {
    const double n = double(std::max<std::int64_t>(state.iterations(), 1));
    state.counters["max_gap_ms"] = t.max_gap_ms;
    state.counters["mean_gap_ms"] = t.sum_gap_ms / n;
    state.counters["frame_ms"] = frame_ms;
    state.counters["max_gap_frames"] = frame_ms > 0 ? t.max_gap_ms / frame_ms : 0;
    state.counters["frames_in_save"] = t.frames_in_save / n;
    state.counters["failed_frames"] = t.failed;
    if (t.file_bytes > 0) state.counters["file_mb"] = t.file_bytes / 1e6;
}

// args: colour mode (24 or 48), scene noise (12-bit scale).
void BM_SavePngWhileStreaming(benchmark::State& state) {
    const int bits = int(state.range(0));
    Stream stream(bits, int(state.range(1)));
    if (!stream.started()) {
        state.SkipWithError("streaming did not start");
        return;
    }
    const std::string name = (scratch_dir() / ("gap" + std::to_string(bits) + ".png")).string();
    GapTotals totals;
    for (auto _ : state) {
        // Start right after a frame message, so that the gap before the
        // save's first frame is measured from a known arrival.
        if (next_message(stream.frames(), 2000) != Arrival::kFrame) {
            state.SkipWithError("no frame before the save");
            break;
        }
        const Clock::time_point last_before = Clock::now();
        std::atomic<bool> done{false};
        int saved = 0;
        Clock::time_point save_start, save_end;
        std::thread saver([&] {
            save_start = Clock::now();
            saved = Zorbex_SaveImage(stream.handle(), name.c_str(), ZBX_FILE_PNG);
            save_end = Clock::now();
            done.store(true, std::memory_order_release);
        });
        // Arrivals until the first frame after the save has ended.
        std::vector<Clock::time_point> arrivals{last_before};
        int failed = 0;
        bool lost = false;
        for (;;) {
            const bool finished = done.load(std::memory_order_acquire);
            const Arrival a = next_message(stream.frames(), 3000);
            if (a == Arrival::kNothing) {
                lost = true;
                break;
            }
            if (a == Arrival::kFailed) {
                ++failed;
                continue;
            }
            arrivals.push_back(Clock::now());
            if (finished) break;  // this frame came after the save ended
        }
        saver.join();
        if (saved != 1 || lost) {
            state.SkipWithError(saved != 1 ? "save failed" : "stream stopped");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(save_end - save_start).count());
        double gap = 0;
        for (std::size_t i = 1; i < arrivals.size(); ++i)
            gap = std::max(gap, ms_between(arrivals[i - 1], arrivals[i]));
        totals.max_gap_ms = std::max(totals.max_gap_ms, gap);
        totals.sum_gap_ms += gap;
        totals.frames_in_save += double(std::count_if(
            arrivals.begin() + 1, arrivals.end(),
            [&](Clock::time_point t) { return t > save_start && t < save_end; }));
        totals.failed += failed;
        std::error_code ec;
        totals.file_bytes = double(std::filesystem::file_size(name, ec));
    }
    report(state, totals, stream.frame_ms());
}

// The same watch without a save: as many frames as a Color48 PNG save
// lasts, about 70.
void BM_NoSave(benchmark::State& state) {
    Stream stream(int(state.range(0)), int(state.range(1)));
    if (!stream.started()) {
        state.SkipWithError("streaming did not start");
        return;
    }
    GapTotals totals;
    for (auto _ : state) {
        if (next_message(stream.frames(), 2000) != Arrival::kFrame) {
            state.SkipWithError("no frame");
            break;
        }
        Clock::time_point previous = Clock::now();
        const Clock::time_point start = previous;
        double gap = 0;
        int frames = 0;
        while (frames < 70) {
            const Arrival a = next_message(stream.frames(), 3000);
            if (a == Arrival::kNothing) break;
            if (a == Arrival::kFailed) {
                totals.failed += 1;
                continue;
            }
            const Clock::time_point now = Clock::now();
            gap = std::max(gap, ms_between(previous, now));
            previous = now;
            ++frames;
        }
        if (frames < 70) {
            state.SkipWithError("stream stopped");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(previous - start).count());
        totals.max_gap_ms = std::max(totals.max_gap_ms, gap);
        totals.sum_gap_ms += gap;
        totals.frames_in_save += frames;
    }
    report(state, totals, stream.frame_ms());
}

BENCHMARK(BM_NoSave)->Args({24, 32})->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SavePngWhileStreaming)->Args({24, 0})->Args({24, 32})->Iterations(8)
    ->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SavePngWhileStreaming)->Args({48, 0})->Args({48, 32})->Iterations(4)
    ->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

// Settings and the camera table of this program only, never the user's;
// the folders are removed at the end.
int main(int argc, char** argv) {
    const std::string tag = std::to_string(::getpid());
    const std::filesystem::path root = std::filesystem::temp_directory_path() / ("zbx-bench-gap-" + tag);
    std::error_code ec;
    std::filesystem::create_directories(root / "settings", ec);
    std::filesystem::create_directories(root / "files", ec);
    if (ec) return 1;
    scratch_dir() = root / "files";
    zbx::platform::set_shared_memory_namespace("zbxbench-gap-" + tag);
    zbx::platform::set_settings_root(root / "settings");

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    zbx::platform::set_settings_root({});
    std::filesystem::remove_all(root, ec);
    return 0;
}
