// Cost of delivering one unpaced frame through the driver port (start-frame
// packet plus the frame read), beside a plain copy of the same bytes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "platform/driver_port.h"
#include "zorbex/vcam.h"

namespace {

namespace port = zbx::platform;

constexpr std::size_t kSamples = 1280 * 720;

class Camera {
public:
    explicit Camera(bool sixteen_bit) {
        ZbxVcam_Reset();
        ZbxVcam_SetPacing(0, ZBX_VCAM_UNPACED);
        handle_ = port::driver_open("\\\\.\\Zbrx530RDNQT-0");
        std::uint8_t width[64] = {0x25, 14, static_cast<std::uint8_t>(sixteen_bit ? 5 : 4)};
        send(width);
    }
    ~Camera() { port::driver_close(handle_); }

    bool send(std::span<std::uint8_t> packet) {
        const std::uint8_t pipe0[4] = {0, 0, 0, 0};
        std::uint32_t moved = 0;
        return port::driver_control(handle_, port::kIoctlPipeTransferA, pipe0, packet, &moved);
    }
    std::uint32_t grab(std::span<std::uint8_t> frame) {
        std::uint8_t start[64] = {0x02};
        send(start);
        const std::uint8_t pipe2[4] = {2, 0, 0, 0};
        std::uint32_t moved = 0;
        port::driver_control(handle_, port::kIoctlPipeTransferB, pipe2, frame, &moved);
        return moved;
    }
    port::DriverHandle handle_;
};

void BM_Delivery(benchmark::State& state) {
    const bool sixteen_bit = state.range(0) == 16;
    const std::size_t bytes = kSamples * (sixteen_bit ? 2 : 1);
    Camera camera(sixteen_bit);
    std::vector<std::uint8_t> frame(bytes);
    if (camera.grab(frame) != bytes) state.SkipWithError("frame read failed");
    for (auto _ : state) {
        benchmark::DoNotOptimize(camera.grab(frame));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Delivery)->Arg(8)->Arg(16)->Unit(benchmark::kMicrosecond);

// Worst case: the exposure changes before every frame (automatic exposure),
// so the camera renders its base frame again each time.
void BM_DeliveryExposureChanging(benchmark::State& state) {
    const bool sixteen_bit = state.range(0) == 16;
    const std::size_t bytes = kSamples * (sixteen_bit ? 2 : 1);
    Camera camera(sixteen_bit);
    std::vector<std::uint8_t> frame(bytes);
    std::uint16_t exposure = 600;
    for (auto _ : state) {
        exposure = exposure == 600 ? 601 : 600;
        std::uint8_t write[64] = {0x04, 0, 15, static_cast<std::uint8_t>(exposure >> 8),
                                  static_cast<std::uint8_t>(exposure)};
        camera.send(write);
        benchmark::DoNotOptimize(camera.grab(frame));
        benchmark::ClobberMemory();
    }
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DeliveryExposureChanging)->Arg(8)->Arg(16)->Unit(benchmark::kMicrosecond);

void BM_PlainCopy(benchmark::State& state) {
    const std::size_t bytes = kSamples * (state.range(0) == 16 ? 2 : 1);
    std::vector<std::uint8_t> source(bytes, 1), frame(bytes);
    for (auto _ : state) {
        std::memcpy(frame.data(), source.data(), bytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PlainCopy)->Arg(8)->Arg(16)->Unit(benchmark::kMicrosecond);

}  // namespace
