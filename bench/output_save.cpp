// The save dispatcher at 1280 × 720 for every format and depth, beside the
// same writer given pixels already in its form (and, for BMP and raw, one
// write of the same bytes): the difference is what the dispatcher adds
// (its conversion and temporary picture).  The writers themselves are
// compared with direct encoder calls in output_writers.
// Also the copy of a whole output buffer, which is all a save does under
// the frame lock.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "output/bmp_writer.h"
#include "output/jpeg_writer.h"
#include "output/png_writer.h"
#include "output/save_image.h"
#include "output/tiff_writer.h"
#include "pipeline/conversions.h"
#include "pipeline/image_buffer.h"

namespace {

using zbx::output::ImageView;
using zbx::output::ViewOf;
using zbx::pipeline::CImageBuffer;

constexpr int kWidth = 1280;
constexpr int kHeight = 720;

// A developed frame: smooth shading with a little noise, 16-bit samples
// holding 12-bit values.
const CImageBuffer& Source(int bits) {
    static std::map<int, std::unique_ptr<CImageBuffer>> cache;
    auto& buf = cache[bits];
    if (buf) return *buf;
    buf = std::make_unique<CImageBuffer>();
    if (buf->Create(kWidth, kHeight, std::uint16_t(bits)) != 1) std::abort();
    const bool wide = bits == 16 || bits >= 48;
    const int samples = bits / (wide ? 16 : 8);
    std::uint32_t noise = 1;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            for (int c = 0; c < samples; ++c) {
                noise = noise * 1664525u + 1013904223u;
                const unsigned v = unsigned(x * 3 + y * 2 + c * 500) % 3800 + 100 + (noise >> 29);
                std::uint8_t* p = buf->pixels() + std::size_t(y) * buf->stride() +
                                  std::size_t(x) * (bits / 8);
                if (wide) {
                    p[2 * c] = std::uint8_t(v);
                    p[2 * c + 1] = std::uint8_t(v >> 8);
                } else {
                    p[c] = std::uint8_t(v >> 4);
                }
            }
    return *buf;
}

// The source in the form the format's writer takes, made once.
const CImageBuffer& Prepared(int format, int bits) {
    static std::map<std::pair<int, int>, std::unique_ptr<CImageBuffer>> cache;
    const bool jpeg = format >= zbx::output::kSaveJpeg100 && format <= zbx::output::kSaveJpeg20;
    const bool png = format == zbx::output::kSavePng;
    zbx::pipeline::RectCallback convert = nullptr;
    std::uint16_t out_bits = std::uint16_t(bits);
    if (jpeg && bits == 16) convert = zbx::pipeline::Gray16To8By4, out_bits = 8;
    if (jpeg && bits == 32) convert = zbx::pipeline::Color32To24, out_bits = 24;
    if (jpeg && bits >= 48) convert = zbx::pipeline::Color48To24By4, out_bits = 24;
    if (png && bits == 16) convert = zbx::pipeline::Gray12To16;
    if (png && bits == 32) convert = zbx::pipeline::Color32Alpha;
    if (png && bits == 48) convert = zbx::pipeline::Color48To48By4;
    if (png && bits == 64) convert = zbx::pipeline::Color64By4Alpha;
    const CImageBuffer& src = Source(bits);
    if (convert == nullptr) return src;
    auto& buf = cache[{format, bits}];
    if (buf) return *buf;
    buf = std::make_unique<CImageBuffer>();
    if (buf->Create(kWidth, kHeight, out_bits) != 1) std::abort();
    zbx::pipeline::TransferRect(*buf, convert, const_cast<CImageBuffer&>(src), nullptr, 0, 0,
                                nullptr, nullptr);
    return *buf;
}

struct ScratchDir {
    std::string path;
    ScratchDir() {
        path = (std::filesystem::temp_directory_path() / "zbx-bench-save-XXXXXX").string();
        if (::mkdtemp(path.data()) == nullptr) std::abort();
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

std::string Target(int format) {
    static const ScratchDir dir;
    return dir.path + "/out" + std::to_string(format);
}

void Check(benchmark::State& state, int result) {
    if (result != 1) state.SkipWithError("save failed");
}

// args: format, bits per pixel.
void BM_Save(benchmark::State& state) {
    const int format = int(state.range(0));
    const int bits = int(state.range(1));
    const CImageBuffer& src = Source(bits);
    const std::string name = Target(format);
    for (auto _ : state) Check(state, zbx::output::SaveImageFile(name.c_str(), &src, format));
}

void BM_WriterOnPrepared(benchmark::State& state) {
    const int format = int(state.range(0));
    const int bits = int(state.range(1));
    const ImageView v = ViewOf(Prepared(format, bits));
    const std::string name = Target(format);
    for (auto _ : state) {
        switch (format) {
            case zbx::output::kSaveBmp: Check(state, zbx::output::WriteBmpFile(v, name.c_str())); break;
            case zbx::output::kSaveRaw: Check(state, zbx::output::WriteRawFile(v, name.c_str())); break;
            case zbx::output::kSavePng: Check(state, zbx::output::WritePngFile(name.c_str(), v)); break;
            case zbx::output::kSaveTiff: Check(state, zbx::output::WriteTiffFile(name.c_str(), v, 12)); break;
            default: {
                const int quality = format == 2 ? 100 : format == 3 ? 70 : 20;
                Check(state, zbx::output::WriteJpegFile(name.c_str(), v, quality, 1));
            }
        }
    }
}

// Floor of BMP and raw: one write of the store's bytes.
void BM_OneWrite(benchmark::State& state) {
    const CImageBuffer& src = Source(int(state.range(0)));
    const std::string name = Target(99);
    for (auto _ : state) {
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        benchmark::DoNotOptimize(::write(fd, src.pixels(), src.store_size()));
        ::close(fd);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(src.store_size()));
}

// What a save holds the frame lock for: one copy into a kept buffer.
void BM_CopyOutputBuffer(benchmark::State& state) {
    const CImageBuffer& src = Source(int(state.range(0)));
    CImageBuffer kept;
    if (kept.CreateLike(&src) != 1) std::abort();
    for (auto _ : state) {
        std::memcpy(kept.pixels(), src.pixels(), src.store_size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(src.store_size()));
}

#define FORMATS_AND_DEPTHS                                                                        \
    ->ArgsProduct({{0, 1, 2, 3, 4, 5, 6}, {8, 16, 24, 32, 48, 64}})->Unit(benchmark::kMillisecond)
BENCHMARK(BM_Save) FORMATS_AND_DEPTHS;
BENCHMARK(BM_WriterOnPrepared) FORMATS_AND_DEPTHS;
#define DEPTHS ->Arg(8)->Arg(16)->Arg(24)->Arg(32)->Arg(48)->Arg(64)->Unit(benchmark::kMillisecond)
BENCHMARK(BM_OneWrite) DEPTHS;
BENCHMARK(BM_CopyOutputBuffer) DEPTHS;

}  // namespace
