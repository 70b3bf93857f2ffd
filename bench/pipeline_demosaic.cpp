// Demosaic at 1280 × 720 beside a plain copy of the bytes it reads and
// writes (the floor) and, where OpenCV is installed, its single-thread
// bilinear cvtColor on the same mosaic.  "Plain" forces the scalar kernel
// for comparison.
#include <benchmark/benchmark.h>

#if ZBX_BENCH_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

#include <cstring>
#include <random>
#include <vector>

#include "pipeline/demosaic.h"
#include "pipeline/image_buffer.h"

namespace {

using zbx::pipeline::BayerRecord;
using zbx::pipeline::CImageBuffer;

constexpr int kW = 1280;
constexpr int kH = 720;

void fill(CImageBuffer& b) {
    std::mt19937 rng(7);
    for (std::size_t i = 0; i < b.store_size(); ++i) b.pixels()[i] = static_cast<std::uint8_t>(rng());
    if (b.bits_per_pixel() == 16) {
        auto* p = reinterpret_cast<std::uint16_t*>(b.pixels());
        for (std::size_t i = 0; i < b.store_size() / 2; ++i) p[i] &= 0x0FFF;
    }
}

void demosaic(benchmark::State& state, std::uint16_t raw_bits, std::uint16_t dst_bits, bool plain) {
    CImageBuffer raw, dst;
    if (raw.Create(kW, kH, raw_bits) != 1 || dst.Create(kW, kH, dst_bits) != 1) {
        state.SkipWithError("no buffers");
        return;
    }
    fill(raw);
    zbx::pipeline::ForcePlainDemosaic(plain);
    BayerRecord rec{3, 130, 100, 90};
    for (auto _ : state) {
        zbx::pipeline::DemosaicPasses(dst, raw, rec);
        benchmark::DoNotOptimize(dst.pixels());
        benchmark::ClobberMemory();
    }
    zbx::pipeline::ForcePlainDemosaic(false);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(raw.store_size() + dst.store_size()));
}

// memcpy of as many bytes as the demosaic reads plus writes.
void copy_floor(benchmark::State& state, std::size_t bytes) {
    std::vector<std::uint8_t> a(bytes, 1), b(bytes, 2);
    for (auto _ : state) {
        std::memcpy(b.data(), a.data(), bytes);
        benchmark::DoNotOptimize(b.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bytes));
}

constexpr std::size_t kPixels = static_cast<std::size_t>(kW) * kH;

#if ZBX_BENCH_OPENCV
// The same mosaic ("G R / B G" at the origin) to blue-green-red, bilinear,
// on one thread.
void opencv_anchor(benchmark::State& state, int depth, int channels) {
    cv::setNumThreads(1);
    cv::Mat raw(kH, kW, CV_MAKETYPE(depth, 1));
    cv::randu(raw, 0, depth == CV_8U ? 256 : 4096);
    cv::Mat out(kH, kW, CV_MAKETYPE(depth, channels));
    const int code = channels == 3 ? cv::COLOR_BayerGR2BGR : cv::COLOR_BayerGR2BGRA;
    for (auto _ : state) {
        cv::cvtColor(raw, out, code);
        benchmark::DoNotOptimize(out.data);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(raw.total() * raw.elemSize() +
                                                      out.total() * out.elemSize()));
}
BENCHMARK_CAPTURE(opencv_anchor, opencv_8_to_24, CV_8U, 3);
BENCHMARK_CAPTURE(opencv_anchor, opencv_16_to_48, CV_16U, 3);
#endif

BENCHMARK_CAPTURE(copy_floor, bytes_8_to_24, kPixels * (1 + 3));
BENCHMARK_CAPTURE(demosaic, raw8_to_24, 8, 24, false);
BENCHMARK_CAPTURE(demosaic, raw8_to_24_plain, 8, 24, true);
BENCHMARK_CAPTURE(copy_floor, bytes_8_to_32, kPixels * (1 + 4));
BENCHMARK_CAPTURE(demosaic, raw8_to_32, 8, 32, false);
BENCHMARK_CAPTURE(demosaic, raw8_to_32_plain, 8, 32, true);
BENCHMARK_CAPTURE(copy_floor, bytes_16_to_48, kPixels * (2 + 6));
BENCHMARK_CAPTURE(demosaic, raw16_to_48, 16, 48, false);
BENCHMARK_CAPTURE(demosaic, raw16_to_48_plain, 16, 48, true);
BENCHMARK_CAPTURE(copy_floor, bytes_16_to_64, kPixels * (2 + 8));
BENCHMARK_CAPTURE(demosaic, raw16_to_64, 16, 64, false);
BENCHMARK_CAPTURE(demosaic, raw16_to_64_plain, 16, 64, true);

}  // namespace
