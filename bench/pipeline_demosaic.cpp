// Demosaic at 1280 × 720 beside a plain copy of the bytes it reads and
// writes (the floor) and, where OpenCV is installed, its single-thread
// bilinear cvtColor on the same mosaic.  Rows without a suffix use the
// processor's best vector target; "/plain" forces the scalar kernel and
// "/<target>" pins the dispatch to one target (every one this processor runs
// gets a row).  To see a processor without AVX-512, compare the "/AVX2" rows
// with OpenCV run under OPENCV_CPU_DISABLE=AVX512_SKX (the context lines
// show what OpenCV then uses).
#include <benchmark/benchmark.h>

#if ZBX_BENCH_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "pipeline/demosaic.h"
#include "pipeline/image_buffer.h"
#include "pipeline/simd_targets.h"

namespace {

using zbx::pipeline::BayerRecord;
using zbx::pipeline::CImageBuffer;
namespace simd = zbx::pipeline::simd;

constexpr int kW = 1280;
constexpr int kH = 720;
constexpr std::size_t kPixels = static_cast<std::size_t>(kW) * kH;

void fill(CImageBuffer& b) {
    std::mt19937 rng(7);
    for (std::size_t i = 0; i < b.store_size(); ++i) b.pixels()[i] = static_cast<std::uint8_t>(rng());
    if (b.bits_per_pixel() == 16) {
        auto* p = reinterpret_cast<std::uint16_t*>(b.pixels());
        for (std::size_t i = 0; i < b.store_size() / 2; ++i) p[i] &= 0x0FFF;
    }
}

// target: 0 = the processor's best, -1 = the plain kernels, else one target.
void demosaic(benchmark::State& state, std::uint16_t raw_bits, std::uint16_t dst_bits,
              std::int64_t target) {
    CImageBuffer raw, dst;
    if (raw.Create(kW, kH, raw_bits) != 1 || dst.Create(kW, kH, dst_bits) != 1) {
        state.SkipWithError("no buffers");
        return;
    }
    fill(raw);
    zbx::pipeline::ForcePlainDemosaic(target == -1);
    simd::force_target(target > 0 ? target : 0);
    BayerRecord rec{3, 130, 100, 90};
    for (auto _ : state) {
        zbx::pipeline::DemosaicPasses(dst, raw, rec);
        benchmark::DoNotOptimize(dst.pixels());
        benchmark::ClobberMemory();
    }
    zbx::pipeline::ForcePlainDemosaic(false);
    simd::force_target(0);
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
BENCHMARK_CAPTURE(copy_floor, bytes_8_to_32, kPixels * (1 + 4));
BENCHMARK_CAPTURE(copy_floor, bytes_16_to_48, kPixels * (2 + 6));
BENCHMARK_CAPTURE(copy_floor, bytes_16_to_64, kPixels * (2 + 8));

// The demosaic rows: best, plain and one per runnable target, per format;
// also names the vector targets and OpenCV's own instruction sets in the
// context lines.
const bool kRegistered = [] {
    std::string targets;
    for (const std::int64_t t : simd::runnable_targets()) targets += simd::target_name(t) + " ";
    benchmark::AddCustomContext("zbx_simd_targets", targets);
#if ZBX_BENCH_OPENCV
    benchmark::AddCustomContext("opencv_avx2", cv::checkHardwareSupport(CV_CPU_AVX2) ? "on" : "off");
    benchmark::AddCustomContext("opencv_avx512_skx",
                                cv::checkHardwareSupport(CV_CPU_AVX512_SKX) ? "on" : "off");
#endif
    const int formats[][2] = {{8, 24}, {8, 32}, {16, 48}, {16, 64}};
    for (const auto& f : formats) {
        const std::string base = "demosaic/raw" + std::to_string(f[0]) + "_to_" + std::to_string(f[1]);
        const auto raw_bits = static_cast<std::uint16_t>(f[0]);
        const auto dst_bits = static_cast<std::uint16_t>(f[1]);
        const auto add = [&](const std::string& name, std::int64_t target) {
            benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State& s) {
                demosaic(s, raw_bits, dst_bits, target);
            });
        };
        add(base, 0);
        add(base + "/plain", -1);
        for (const std::int64_t t : simd::runnable_targets()) add(base + "/" + simd::target_name(t), t);
    }
    return true;
}();

}  // namespace
