// Still-image writers at 1280 × 720, each beside a direct use of the same
// encoder (or a single write of the same bytes) on the same pixels, so the
// writers' own share of the time shows.
// Files go to the temporary folder; on a disk its write-back dominates and
// scatters the wall times, so for the writers' own cost run with TMPDIR on
// a memory file system (TMPDIR=/dev/shm).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>
// jpeglib.h needs FILE and size_t first.
#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

#include "output/bmp_writer.h"
#include "output/jpeg_writer.h"
#include "output/png_writer.h"
#include "output/tiff_writer.h"

namespace {

using zbx::output::AlignedStride;
using zbx::output::ImageView;
using zbx::output::MakeImageView;

constexpr int kWidth = 1280;
constexpr int kHeight = 720;

// A camera-like picture: smooth shading with a little sensor noise; 16-bit
// samples hold 12-bit values shifted to the top, as the savers hand them
// to PNG.
const std::vector<std::uint8_t>& Pixels(int bits) {
    static std::map<int, std::vector<std::uint8_t>> cache;
    auto& store = cache[bits];
    if (!store.empty()) return store;
    const int stride = AlignedStride(kWidth, bits);
    store.assign(std::size_t(stride) * kHeight, 0);
    const bool wide = bits == 16 || bits >= 48;
    const int samples = bits / (wide ? 16 : 8);
    std::uint32_t noise = 1;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            for (int c = 0; c < samples; ++c) {
                noise = noise * 1664525u + 1013904223u;
                const unsigned base = unsigned(x * 3 + y * 2 + c * 500) % 3800 + 100;
                const unsigned v = base + (noise >> 29);  // 12 bits
                std::uint8_t* p = store.data() + std::size_t(y) * stride + std::size_t(x) * (bits / 8);
                if (wide) {
                    const unsigned s = v << 4;
                    p[2 * c] = std::uint8_t(s);
                    p[2 * c + 1] = std::uint8_t(s >> 8);
                } else {
                    p[c] = std::uint8_t(v >> 4);
                }
            }
    return store;
}

ImageView View(int bits) {
    return MakeImageView(Pixels(bits).data(), kWidth, kHeight, std::uint16_t(bits));
}

// Files go to one scratch directory, removed at exit.
struct ScratchDir {
    std::string path;
    ScratchDir() {
        path = (std::filesystem::temp_directory_path() / "zbx-bench-XXXXXX").string();
        if (::mkdtemp(path.data()) == nullptr) std::abort();
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

std::string Target(const char* ext) {
    static const ScratchDir dir;
    return dir.path + "/out." + ext;
}

void Check(benchmark::State& state, int result) {
    if (result != 1) state.SkipWithError("write failed");
}

// ---- BMP and raw dump: beside one write of the same number of bytes.

void OneWrite(const char* name, const std::uint8_t* p, std::size_t n) {
    int fd = ::open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    benchmark::DoNotOptimize(::write(fd, p, n));
    ::close(fd);
}

void BM_Bmp(benchmark::State& state) {
    const int bits = int(state.range(0));
    const ImageView v = View(bits);
    const std::string name = Target("bmp");
    for (auto _ : state) Check(state, zbx::output::WriteBmpFile(v, name.c_str()));
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(Pixels(bits).size()));
}

void BM_Raw(benchmark::State& state) {
    const int bits = int(state.range(0));
    const ImageView v = View(bits);
    const std::string name = Target("raw");
    for (auto _ : state) Check(state, zbx::output::WriteRawFile(v, name.c_str()));
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(Pixels(bits).size()));
}

void BM_DirectOneWrite(benchmark::State& state) {
    const int bits = int(state.range(0));
    const auto& store = Pixels(bits);
    const std::string name = Target("bin");
    for (auto _ : state) OneWrite(name.c_str(), store.data(), store.size());
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(store.size()));
}

// ---- PNG: beside a plain libpng write of the same rows.

void BM_Png(benchmark::State& state) {
    const ImageView v = View(int(state.range(0)));
    const std::string name = Target("png");
    for (auto _ : state) Check(state, zbx::output::WritePngFile(name.c_str(), v));
}

void DirectPng(const char* name, const ImageView& v) {
    static const std::map<int, std::pair<int, int>> kType = {
        {8, {8, PNG_COLOR_TYPE_GRAY}},  {16, {16, PNG_COLOR_TYPE_GRAY}},
        {24, {8, PNG_COLOR_TYPE_RGB}},  {32, {8, PNG_COLOR_TYPE_RGB_ALPHA}},
        {48, {16, PNG_COLOR_TYPE_RGB}}, {64, {16, PNG_COLOR_TYPE_RGB_ALPHA}}};
    const auto [depth, type] = kType.at(v.bits_per_pixel);
    std::FILE* f = std::fopen(name, "wb");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::vector<png_bytep> rows(std::size_t(v.height));
    for (int y = 0; y < v.height; ++y) rows[std::size_t(y)] = const_cast<png_bytep>(v.row(y));
    if (setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, f);
        png_set_IHDR(png, info, png_uint_32(v.width), png_uint_32(v.height), depth, type,
                     PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        png_set_bgr(png);
        if (depth == 16) png_set_swap(png);
        png_write_image(png, rows.data());
        png_write_end(png, info);
    }
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
}

void BM_DirectPng(benchmark::State& state) {
    const ImageView v = View(int(state.range(0)));
    const std::string name = Target("png");
    for (auto _ : state) DirectPng(name.c_str(), v);
}

// ---- JPEG: beside a plain libjpeg-turbo write of the same rows.

void BM_Jpeg(benchmark::State& state) {
    const ImageView v = View(int(state.range(0)));
    const int quality = int(state.range(1));
    const std::string name = Target("jpg");
    for (auto _ : state) Check(state, zbx::output::WriteJpegFile(name.c_str(), v, quality, 1));
}

void DirectJpeg(const char* name, const ImageView& v, int quality) {
    std::FILE* f = std::fopen(name, "wb");
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, f);
    cinfo.image_width = JDIMENSION(v.width);
    cinfo.image_height = JDIMENSION(v.height);
    cinfo.input_components = v.bits_per_pixel == 8 ? 1 : 3;
    cinfo.in_color_space = v.bits_per_pixel == 8 ? JCS_GRAYSCALE : JCS_EXT_BGR;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW r = const_cast<JSAMPROW>(v.row(int(cinfo.next_scanline)));
        jpeg_write_scanlines(&cinfo, &r, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::fclose(f);
}

void BM_DirectJpeg(benchmark::State& state) {
    const ImageView v = View(int(state.range(0)));
    const int quality = int(state.range(1));
    const std::string name = Target("jpg");
    for (auto _ : state) DirectJpeg(name.c_str(), v, quality);
}

// ---- TIFF: the writer converts (red first, shifts) and writes; the direct
// call writes a strip converted beforehand, i.e. libtiff's cost alone.

void BM_Tiff(benchmark::State& state) {
    const ImageView v = View(int(state.range(0)));
    const std::string name = Target("tif");
    for (auto _ : state) Check(state, zbx::output::WriteTiffFile(name.c_str(), v, 12));
}

void BM_DirectTiff(benchmark::State& state) {
    const int bits = int(state.range(0));
    const bool wide = bits == 16 || bits >= 48;
    const int bps = wide ? 16 : 8;
    const int spp = bits / bps;
    std::vector<std::uint8_t> strip(std::size_t(kWidth) * kHeight * (bits / 8), 0x5A);
    const std::string name = Target("tif");
    for (auto _ : state) {
        TIFF* t = TIFFOpen(name.c_str(), "w");
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, std::uint32_t(kWidth));
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, std::uint32_t(kHeight));
        TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
        TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bps);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, spp == 1 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB);
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, spp);
        if (spp == 4) {
            const std::uint16_t extra[] = {EXTRASAMPLE_UNSPECIFIED};
            TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, extra);
        }
        benchmark::DoNotOptimize(TIFFWriteEncodedStrip(t, 0, strip.data(), tmsize_t(strip.size())));
        TIFFClose(t);
    }
}

#define DEPTHS ->Arg(8)->Arg(16)->Arg(24)->Arg(32)->Arg(48)->Arg(64)->Unit(benchmark::kMillisecond)
BENCHMARK(BM_Bmp) DEPTHS;
BENCHMARK(BM_Raw) DEPTHS;
BENCHMARK(BM_DirectOneWrite) DEPTHS;
BENCHMARK(BM_Png) DEPTHS;
BENCHMARK(BM_DirectPng) DEPTHS;
BENCHMARK(BM_Tiff) DEPTHS;
BENCHMARK(BM_DirectTiff) DEPTHS;
#define JPEG_ARGS ->ArgsProduct({{8, 24}, {100, 70, 20}})->Unit(benchmark::kMillisecond)
BENCHMARK(BM_Jpeg) JPEG_ARGS;
BENCHMARK(BM_DirectJpeg) JPEG_ARGS;

}  // namespace
