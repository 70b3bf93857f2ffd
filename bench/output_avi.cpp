// The recorder's per-frame work at the sensor's full size, all of it done
// under the session's frame lock: converting the developed picture to the
// AVI's bottom-up 24-bit frame, and appending the frame to the file.  A
// plain memcpy of one frame is the floor both are compared against.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "output/avi_writer.h"
#include "output/recorder.h"

namespace {

using zbx::output::AviStatus;
using zbx::output::CAviWriter;
using zbx::output::RecordConverter;
using zbx::pipeline::CImageBuffer;

constexpr int kWidth = 1280;
constexpr int kHeight = 720;

void BM_FrameCopyFloor(benchmark::State& state) {
    std::vector<std::uint8_t> src(zbx::output::AviFrameSize(kWidth, kHeight), 0x5A);
    std::vector<std::uint8_t> dst(src.size());
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), src.size());
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * src.size()));
}
BENCHMARK(BM_FrameCopyFloor);

// Argument: bits per pixel of the developed output buffer.
void BM_ConvertForRecording(benchmark::State& state) {
    const auto bits = static_cast<std::uint16_t>(state.range(0));
    CImageBuffer output;
    RecordConverter converter;
    if (!output.Create(kWidth, kHeight, bits) || !converter.Prepare(kWidth, kHeight)) {
        state.SkipWithError("no buffers");
        return;
    }
    for (std::size_t i = 0; i < output.store_size(); ++i)
        output.pixels()[i] = static_cast<std::uint8_t>(i * 13);
    for (auto _ : state) {
        const CImageBuffer* picture = converter.Convert(output);
        benchmark::DoNotOptimize(picture);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * output.store_size()));
}
BENCHMARK(BM_ConvertForRecording)->Arg(8)->Arg(16)->Arg(24)->Arg(32)->Arg(48)->Arg(64);

// Appending frames to a file in the temporary folder (page cache speed;
// a real disk is slower).  The file is restarted before it nears 4 GiB.
void BM_AddFrame(benchmark::State& state) {
    const char* tmp = std::getenv("TMPDIR");
    const std::string name =
        std::string(tmp != nullptr ? tmp : "/tmp") + "/zbxbench-" + std::to_string(::getpid()) + ".avi";
    CAviWriter writer;
    writer.set_size(kWidth, kHeight);
    std::vector<std::uint8_t> picture(zbx::output::AviFrameSize(kWidth, kHeight), 0x33);
    if (!writer.Open(name.c_str())) {
        state.SkipWithError("cannot create the file");
        return;
    }
    int in_file = 0;
    for (auto _ : state) {
        if (writer.AddFrame(picture) != AviStatus::kOk) {
            state.SkipWithError("write failed");
            break;
        }
        // 200 frames (about 550 MB) per file keep the folder small.
        if (++in_file == 200) {
            state.PauseTiming();
            (void)writer.Finish();
            (void)writer.Open(name.c_str());
            in_file = 0;
            state.ResumeTiming();
        }
    }
    (void)writer.Finish();
    ::unlink(name.c_str());
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * picture.size()));
}
BENCHMARK(BM_AddFrame)->Unit(benchmark::kMillisecond);

}  // namespace
