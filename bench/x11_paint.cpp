// The preview on screen: one 1280 x 720 paint pushed to the X server (the
// 24-bit client surface turned into 32-bit pixels and sent through shared
// memory, waited for), beside a memcpy of the frame and the headless paint;
// and frames delivered against the camera's frames with the preview shown.
//
// Needs an X display: run under Xvfb, e.g.
//   xvfb-run -s "-screen 0 1920x1080x24" build/bench/bench_x11_paint
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/graphics.h"
#include "platform/settings_store.h"
#include "platform/shared_memory.h"
#include "platform/window.h"
#include "platform/x11/presenter.h"
#include "zorbex/vcam.h"
#include "zorbex/window.h"
#include "zorbex/zorbex.h"

namespace {

using namespace zbx::platform;

constexpr int kWidth = 1280;
constexpr int kHeight = 720;
constexpr std::size_t kFrameBytes = std::size_t{kWidth} * kHeight * 3;

struct Picture {
    std::shared_ptr<Bitmap> bitmap;
    std::unique_ptr<DeviceContext> dc = create_compatible_dc();
    Picture() {
        BitmapInfo info;
        info.bmiHeader.biWidth = kWidth;
        info.bmiHeader.biHeight = kHeight;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 24;
        bitmap = create_dib_section(info);
        for (std::size_t i = 0; i < bitmap->size_bytes(); ++i) bitmap->pixels()[i] = static_cast<std::uint8_t>(i * 7);
        (void)dc->select_bitmap(bitmap);
    }
};

// A visible window with a client area of the frame's size (no frame).
struct ScreenWindow {
    ZbxWindow handle = create_window(WindowCreateInfo{kApplicationWindowClass, "bench", kWsVisible | kWsPopup, 0, 0,
                                                      0, kWidth, kHeight});
    std::unique_ptr<DeviceContext> dc = get_dc(handle);
    ~ScreenWindow() {
        dc.reset();
        destroy_window(handle);
    }
};

bool need_display(benchmark::State& state) {
    if (x11::ensure_connected()) return true;
    state.SkipWithError("no X display: run under Xvfb (xvfb-run -s \"-screen 0 1920x1080x24\" ...)");
    return false;
}

void BM_MemcpyFrame(benchmark::State& state) {
    std::vector<std::uint8_t> from(kFrameBytes, 7);
    std::vector<std::uint8_t> to(kFrameBytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), kFrameBytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFrameBytes));
}
BENCHMARK(BM_MemcpyFrame);

// What the acquisition thread pays per frame: the flipped copy into the
// window's surface (on screen the push is left to the presenter's thread).
void BM_HeadlessPaint(benchmark::State& state) {
    Picture picture;
    ScreenWindow window;
    for (auto _ : state) {
        bool ok = stretch_blt(window.dc.get(), 0, 0, kWidth, kHeight, picture.dc.get(), 0, kHeight - 1, kWidth,
                              -kHeight, kSrcCopy);
        benchmark::DoNotOptimize(ok);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFrameBytes));
}
BENCHMARK(BM_HeadlessPaint);

// One push of the surface to the X server, completed (XSync).
void BM_ScreenPush(benchmark::State& state) {
    if (!need_display(state)) return;
    Picture picture;
    ScreenWindow window;
    (void)stretch_blt(window.dc.get(), 0, 0, kWidth, kHeight, picture.dc.get(), 0, kHeight - 1, kWidth, -kHeight,
                      kSrcCopy);
    (void)x11::flush(2000);
    const auto id = reinterpret_cast<std::uintptr_t>(window.handle);
    for (auto _ : state) {
        if (!x11::push_now(id)) {
            state.SkipWithError("push failed");
            break;
        }
    }
    state.counters["shm"] = x11::uses_shared_memory() ? 1 : 0;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFrameBytes));
}
BENCHMARK(BM_ScreenPush)->UseRealTime();

// The virtual camera at its own rate, streaming with the library's
// top-level preview on screen: delivered = frames announced to the
// application / frames the camera sent.
void BM_PreviewOnScreenDelivery(benchmark::State& state) {
    if (!need_display(state)) return;
    static const bool private_env = [] {
        const auto dir = std::filesystem::temp_directory_path() / ("zbx-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        set_settings_root(dir);
        set_shared_memory_namespace("zbxbench-" + std::to_string(::getpid()));
        return true;
    }();
    (void)private_env;
    (void)ZbxVcam_Reset();
    const ZbxHandle h = Zorbex_Initialize(nullptr);
    ZbxWindow frames = ZbxWin_CreateMessageWindow();
    if (h == 0 || Zorbex_SetColorMode(h, 24) == 0) {
        state.SkipWithError("no camera");
        return;
    }
    double delivered = 0;
    double sent = 0;
    for (auto _ : state) {
        ZbxVcamStats before{};
        (void)ZbxVcam_GetStats(0, &before);
        (void)Zorbex_CallBackPreview(h, frames, nullptr, 0, 0);
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        std::uint64_t count = 0;
        ZbxMessage m{};
        while (std::chrono::steady_clock::now() < end)
            if (ZbxWin_WaitMessage(frames, &m, 20) != 0 && m.message == ZBX_MSG_FRAME && m.wparam != 0) ++count;
        (void)Zorbex_StopPreview(h);
        while (ZbxWin_PeekMessage(frames, &m, 1) != 0)
            if (m.message == ZBX_MSG_FRAME && m.wparam != 0) ++count;
        ZbxVcamStats after{};
        (void)ZbxVcam_GetStats(0, &after);
        delivered += static_cast<double>(count);
        sent += static_cast<double>(after.frames_delivered - before.frames_delivered);
        (void)Zorbex_Close(h);
    }
    state.counters["frames_sent"] = sent;
    state.counters["frames_delivered"] = delivered;
    state.counters["delivered_ratio"] = sent > 0 ? delivered / sent : 0;
    (void)Zorbex_Release(h);
    ZbxWin_DestroyWindow(frames);
}
BENCHMARK(BM_PreviewOnScreenDelivery)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
