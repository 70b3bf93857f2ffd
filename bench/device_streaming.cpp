// The streaming engine against the unpaced virtual camera, 8- and 16-bit
// samples at 1280 x 720, beside a plain read loop on the driver (the
// camera's own cost per frame) and a memcpy of one frame.
//
// Counters: frames_per_s counts frames the transfer thread finished;
// cpu_us_per_frame is the whole process's CPU time (every thread, camera
// included) per finished frame.  The engine's own cost per frame is the
// engine's cpu_us_per_frame minus the read loop's.
#include <benchmark/benchmark.h>

#include <cstring>
#include <ctime>
#include <vector>

#include "device/driver_requests.h"
#include "device/zorbex_530_sdk.h"
#include "platform/clock.h"
#include "zorbex/vcam.h"

namespace {

using zbx::device::CZorbex530SRXNQTSdk;

double process_cpu_seconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

void report(benchmark::State& state, double cpu_seconds, double frames, std::size_t frame_bytes) {
    state.counters["frames_per_s"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
    state.counters["cpu_us_per_frame"] = frames > 0 ? cpu_seconds * 1e6 / frames : 0.0;
    state.SetBytesProcessed(static_cast<std::int64_t>(frames * static_cast<double>(frame_bytes)));
}

std::unique_ptr<CZorbex530SRXNQTSdk> unpaced_camera(bool sixteen_bit) {
    (void)ZbxVcam_Reset();
    (void)ZbxVcam_SetPacing(0, ZBX_VCAM_UNPACED);
    auto sensor = std::make_unique<CZorbex530SRXNQTSdk>();
    sensor->set_sample_width(sixteen_bit);
    (void)sensor->set_window(0, 0, 1280, 720, 0);
    return sensor;
}

// The engine: the transfer thread fills the ring, this thread takes the
// newest frame each time and copies it out, as an acquisition thread does.
// Process CPU per finished frame includes those copies.
void BM_EngineStreaming(benchmark::State& state) {
    auto sensor = unpaced_camera(state.range(0) == 16);
    std::vector<std::uint8_t> raw(sensor->window_bytes());
    if (sensor->start_streaming() != 0) {
        state.SkipWithError("streaming did not start");
        return;
    }
    const std::uint32_t frames_before = sensor->frames();
    const double cpu_before = process_cpu_seconds();
    std::int64_t copies = 0;
    for (auto _ : state) {
        int wait;
        while ((wait = sensor->wait_for_newest_frame()) == zbx::device::kWaitFrameArrived) {
        }
        if (wait != zbx::device::kWaitNewestSelected || sensor->copy_newest_frame(raw) != 0) {
            state.SkipWithError("no frame");
            break;
        }
        benchmark::DoNotOptimize(raw.data());
        ++copies;
    }
    const double cpu = process_cpu_seconds() - cpu_before;
    const double frames = sensor->frames() - frames_before;
    (void)sensor->stop_streaming();
    report(state, cpu, frames, sensor->transfer_byte_count());
    state.counters["copies_per_s"] = benchmark::Counter(static_cast<double>(copies), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_EngineStreaming)->Arg(8)->Arg(16)->UseRealTime()->Unit(benchmark::kMicrosecond);

// The transfer thread alone, nobody copying: its cost per frame beside the
// read loop's is the engine's own cost (events, ring indices, slot choice).
void BM_EngineTransferOnly(benchmark::State& state) {
    auto sensor = unpaced_camera(state.range(0) == 16);
    if (sensor->start_streaming() != 0) {
        state.SkipWithError("streaming did not start");
        return;
    }
    const std::uint32_t frames_before = sensor->frames();
    const double cpu_before = process_cpu_seconds();
    // This thread only sleeps; one iteration is 10 ms of transfer.
    for (auto _ : state) zbx::platform::sleep_ms(10);
    const double cpu = process_cpu_seconds() - cpu_before;
    const double frames = sensor->frames() - frames_before;
    (void)sensor->stop_streaming();
    report(state, cpu, frames, sensor->transfer_byte_count());
}
BENCHMARK(BM_EngineTransferOnly)->Arg(8)->Arg(16)->UseRealTime()->Unit(benchmark::kMicrosecond);

// The camera alone: start frame and one read, into four buffers in turn as
// the ring's slots are, so both see the same cache behaviour.
void BM_DriverReadLoop(benchmark::State& state) {
    auto sensor = unpaced_camera(state.range(0) == 16);
    const std::uint32_t bytes = sensor->transfer_byte_count();
    std::vector<std::vector<std::uint8_t>> buffers(4, std::vector<std::uint8_t>(bytes));
    std::size_t slot = 0;
    zbx::device::ScopedDevice device(sensor->device_name());
    zbx::device::Packet start{};
    start[0] = zbx::device::kCmdStartFrame;
    const double cpu_before = process_cpu_seconds();
    double frames = 0;
    for (auto _ : state) {
        std::uint32_t moved = 0;
        (void)zbx::device::pipe_transfer(device.get(), zbx::device::kPipeCommand, zbx::device::kPacketSize,
                                         start.data(), zbx::device::TransferForm::kA, nullptr);
        std::vector<std::uint8_t>& frame = buffers[slot];
        slot = (slot + 1) % buffers.size();
        if (zbx::device::pipe_transfer(device.get(), zbx::device::kPipeImage, bytes, frame.data(),
                                       zbx::device::TransferForm::kB, &moved) != 0 ||
            moved != bytes) {
            state.SkipWithError("read failed");
            break;
        }
        benchmark::DoNotOptimize(frame.data());
        ++frames;
    }
    report(state, process_cpu_seconds() - cpu_before, frames, bytes);
}
BENCHMARK(BM_DriverReadLoop)->Arg(8)->Arg(16)->UseRealTime()->Unit(benchmark::kMicrosecond);

// One copy of a frame, the yardstick for the engine's own cost.
void BM_FrameMemcpy(benchmark::State& state) {
    const std::size_t bytes = std::size_t{1280} * 720 * (state.range(0) == 16 ? 2 : 1);
    std::vector<std::uint8_t> source(bytes, 1);
    std::vector<std::uint8_t> destination(bytes);
    const double cpu_before = process_cpu_seconds();
    double frames = 0;
    for (auto _ : state) {
        std::memcpy(destination.data(), source.data(), bytes);
        benchmark::DoNotOptimize(destination.data());
        benchmark::ClobberMemory();
        ++frames;
    }
    report(state, process_cpu_seconds() - cpu_before, frames, bytes);
}
BENCHMARK(BM_FrameMemcpy)->Arg(8)->Arg(16)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace
