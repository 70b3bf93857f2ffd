// The preview's per-frame blits: a full frame turned over into a window of
// the same size, a scaled frame, and the 8-bit to 24-bit block copy.
#include <benchmark/benchmark.h>

#include <algorithm>

#include "platform/graphics.h"
#include "platform/window.h"

namespace {

using namespace zbx::platform;

constexpr int kWidth = 1280;
constexpr int kHeight = 720;

struct Source {
    std::shared_ptr<Bitmap> bitmap;
    std::unique_ptr<DeviceContext> dc = create_compatible_dc();
    explicit Source(int bits, int width = kWidth, int height = kHeight) {
        BitmapInfo info;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = static_cast<std::uint16_t>(bits);
        for (std::size_t i = 0; i < kColorTableSize; ++i) {
            auto v = static_cast<std::uint8_t>(i);
            info.bmiColors[i] = RgbQuad{v, v, v, 0};
        }
        bitmap = create_dib_section(info);
        for (std::size_t i = 0; i < bitmap->size_bytes(); ++i) bitmap->pixels()[i] = static_cast<std::uint8_t>(i * 7);
        (void)dc->select_bitmap(bitmap);
    }
};

struct Window {
    ZbxWindow handle;
    std::unique_ptr<DeviceContext> dc;
    Window(int width, int height)
        : handle(create_window(WindowCreateInfo{kApplicationWindowClass, "", kWsVisible, 0, 0, 0, width, height})),
          dc(get_dc(handle)) {}
    ~Window() {
        dc.reset();
        destroy_window(handle);
    }
};

// Unscaled preview: one stretching copy with the rows turned over.
void BM_StretchFlippedSameSize(benchmark::State& state) {
    Source src(static_cast<int>(state.range(0)));
    Window window(kWidth, kHeight);
    for (auto _ : state) {
        bool ok = stretch_blt(window.dc.get(), 0, 0, kWidth, kHeight, src.dc.get(), 0, kHeight - 1, kWidth,
                              -kHeight, kSrcCopy);
        benchmark::DoNotOptimize(ok);
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_StretchFlippedSameSize)->Arg(8)->Arg(24)->Arg(32);

void BM_StretchHalfSize(benchmark::State& state) {
    Source src(24);
    Window window(kWidth / 2, kHeight / 2);
    for (auto _ : state) {
        bool ok = stretch_blt(window.dc.get(), 0, 0, kWidth / 2, kHeight / 2, src.dc.get(), 0, 0, kWidth,
                              kHeight, kSrcCopy);
        benchmark::DoNotOptimize(ok);
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight / 4);
}
BENCHMARK(BM_StretchHalfSize);

// Scaled preview and the recorder's grey-to-colour copy.
void BM_BlockCopy(benchmark::State& state) {
    Source src(static_cast<int>(state.range(0)));
    Source dst(24);
    for (auto _ : state) {
        bool ok = bit_blt(dst.dc.get(), 0, 0, kWidth, kHeight, src.dc.get(), 0, 0, kSrcCopy);
        benchmark::DoNotOptimize(ok);
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_BlockCopy)->Arg(8)->Arg(24);

}  // namespace
