// The save dispatcher on real image buffers of every depth, its files read
// back by independent readers: libpng and libtiff decoders compared sample
// for sample with rules written out here, djpeg, pngcheck and tiffinfo, and
// byte checks of the bitmap files and raw dumps.
#include "output/save_image.h"

#include <png.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "output_test_support.h"
#include "pipeline/image_buffer.h"
#include "support/png_reader.h"

namespace zbx::output {
namespace {

using pipeline::CImageBuffer;
using testing::HaveTool;
using testing::Le16;
using testing::Le32;
using testing::OpenDescriptorCount;
using testing::ReadBytes;
using testing::RunCommand;
using testing::ScratchDir;
using testing::TestImage;
using testing::WriteBytes;

constexpr std::uint16_t kDepths[] = {8, 16, 24, 32, 48, 64};

int Channels(int bits) { return bits == 8 || bits == 16 ? 1 : (bits == 24 || bits == 48 ? 3 : 4); }
bool Wide(int bits) { return bits == 16 || bits >= 48; }

// A library image buffer holding the test pattern (padding bytes marked).
std::unique_ptr<CImageBuffer> MakeBuffer(const TestImage& img) {
    auto b = std::make_unique<CImageBuffer>();
    if (b->Create(img.width, img.height, img.bits_per_pixel) != 1 ||
        b->stride() != img.stride)
        return nullptr;
    std::memcpy(b->pixels(), img.store.data(), img.store.size());
    return b;
}

// Smooth, without wrap-arounds, so a JPEG of quality 100 comes close: the
// 8-bit value of every sample is x * 3 + y * 2 + c * 20, held in the top
// bits of the significant ones for 16-bit samples.
TestImage SmoothImage(std::int32_t w, std::int32_t h, std::uint16_t bits, int significant = 12) {
    TestImage img(w, h, bits, 0, significant);
    for (std::int32_t y = 0; y < h; ++y)
        for (std::int32_t x = 0; x < w; ++x)
            for (int c = 0; c < Channels(bits); ++c) {
                const unsigned v = unsigned(x * 3 + y * 2 + c * 20);
                img.set_sample(x, y, c, Wide(bits) ? v << (significant - 8) : v);
            }
    return img;
}

// ---- independent readers -------------------------------------------------

struct Decoded {
    bool ok = false;
    std::uint32_t width = 0, height = 0;
    int bit_depth = 0, channels = 0;
    int png_color_type = -1;
    std::uint16_t tiff_photometric = 0;
    std::uint32_t tiff_strips = 0;
    std::vector<std::uint8_t> pixels;  // packed rows
    // Sample c of pixel (x, y) as a number.
    [[nodiscard]] unsigned at(std::uint32_t x, std::uint32_t y, int c, bool big_endian) const {
        const std::size_t i = (std::size_t(y) * width + x) * channels + std::size_t(c);
        if (bit_depth == 8) return pixels[i];
        const std::uint8_t* p = pixels.data() + 2 * i;
        return big_endian ? unsigned(p[0]) << 8 | p[1] : unsigned(p[1]) << 8 | p[0];
    }
};

// The shared reader's samples, in this file's packed form.
Decoded ReadPng(const std::string& path) {
    const test::DecodedPng png = test::ReadPng(path);
    Decoded out;
    out.ok = png.ok;
    out.width = png.width;
    out.height = png.height;
    out.bit_depth = png.bit_depth;
    out.channels = png.channels;
    out.png_color_type = png.color_type;
    out.pixels = png.pixels;
    return out;
}

// Samples in the host's order, as libtiff hands them out.
Decoded ReadTiff(const std::string& path) {
    Decoded out;
    TIFF* t = TIFFOpen(path.c_str(), "rc");  // the strip as stored, never chopped
    if (t == nullptr) return out;
    std::uint16_t bits = 0, samples = 0;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &out.width);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &out.height);
    TIFFGetField(t, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetField(t, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &out.tiff_photometric);
    out.bit_depth = bits;
    out.channels = samples;
    out.tiff_strips = TIFFNumberOfStrips(t);
    const tmsize_t size = TIFFStripSize(t);
    out.pixels.resize(std::size_t(size));
    out.ok = TIFFReadEncodedStrip(t, 0, out.pixels.data(), size) == size;
    TIFFClose(t);
    return out;
}

// djpeg's PNM output: P5 grey or P6 colour, 8-bit.
Decoded ReadJpegWithDjpeg(const std::string& path) {
    Decoded out;
    const auto r = RunCommand("djpeg -pnm '" + path + "' 2>/dev/null");
    if (r.status != 0) return out;
    char magic[3] = {};
    unsigned w = 0, h = 0, max = 0;
    int consumed = 0;
    if (std::sscanf(r.output.c_str(), "%2s %u %u %u%n", magic, &w, &h, &max, &consumed) != 4 ||
        max != 255)
        return out;
    out.channels = std::strcmp(magic, "P5") == 0 ? 1 : std::strcmp(magic, "P6") == 0 ? 3 : 0;
    out.width = w;
    out.height = h;
    out.bit_depth = 8;
    const std::size_t start = std::size_t(consumed) + 1;  // one whitespace byte
    const std::size_t size = std::size_t(w) * h * std::size_t(out.channels);
    if (out.channels == 0 || r.output.size() != start + size) return out;
    out.pixels.assign(r.output.begin() + std::ptrdiff_t(start), r.output.end());
    out.ok = true;
    return out;
}

// ---- what each file must hold, from the source's samples ------------------

// File channel c (grey, or red, green, blue, fourth) of a PNG.
unsigned PngSample(const TestImage& s, std::int32_t x, std::int32_t y, int c, int shift) {
    switch (s.bits_per_pixel) {
        case 8: return s.sample(x, y, 0);
        case 16: return (s.sample(x, y, 0) << shift) & 0xFFFF;
        case 24: return s.sample(x, y, 2 - c);
        case 32: return c < 3 ? s.sample(x, y, 2 - c) : 255 - s.sample(x, y, 3);
        case 48: return (s.sample(x, y, 2 - c) << shift) & 0xFFFF;
        default: return c < 3 ? (s.sample(x, y, 2 - c) << shift) & 0xFFFF : 0xFFFF;
    }
}

unsigned TiffSample(const TestImage& s, std::int32_t x, std::int32_t y, int c, int shift) {
    switch (s.bits_per_pixel) {
        case 32: return c < 3 ? s.sample(x, y, 2 - c) : 0;
        default: return PngSample(s, x, y, c, shift);
    }
}

// JPEG channel c (grey, or red, green, blue) before compression.
unsigned JpegSample(const TestImage& s, std::int32_t x, std::int32_t y, int c, int down) {
    const int src_c = Channels(s.bits_per_pixel) == 1 ? 0 : 2 - c;
    const unsigned v = s.sample(x, y, src_c);
    return Wide(s.bits_per_pixel) ? (v >> down) & 0xFF : v;
}

// ---- PNG ------------------------------------------------------------------

TEST(SaveImage, PngOfEveryDepthHoldsTheShiftedSamples) {
    ScratchDir dir;
    struct Expect {
        int depth, color_type;
    };
    const Expect expect[] = {{8, PNG_COLOR_TYPE_GRAY}, {16, PNG_COLOR_TYPE_GRAY},
                             {8, PNG_COLOR_TYPE_RGB},  {8, PNG_COLOR_TYPE_RGB_ALPHA},
                             {16, PNG_COLOR_TYPE_RGB}, {16, PNG_COLOR_TYPE_RGB_ALPHA}};
    for (int significant : {12, 10}) {
        for (std::size_t d = 0; d < std::size(kDepths); ++d) {
            const std::uint16_t bits = kDepths[d];
            SCOPED_TRACE(::testing::Message() << bits << " bits, " << significant << " significant");
            TestImage img(37, 23, bits, 0, significant);
            if (bits == 32)
                for (std::int32_t x = 0; x < 37; ++x) img.set_sample(x, 0, 3, 0);  // alpha 255
            auto buf = MakeBuffer(img);
            ASSERT_NE(buf, nullptr);
            const std::string name = dir.file("p.png");
            ASSERT_EQ(SaveImageFile(name.c_str(), buf.get(), kSavePng, significant), 1);
            const Decoded png = ReadPng(name);
            ASSERT_TRUE(png.ok);
            EXPECT_EQ(png.width, 37u);
            EXPECT_EQ(png.height, 23u);
            EXPECT_EQ(png.bit_depth, expect[d].depth);
            EXPECT_EQ(png.png_color_type, expect[d].color_type);
            const int shift = 16 - significant;
            for (std::uint32_t y = 0; y < png.height; ++y)
                for (std::uint32_t x = 0; x < png.width; ++x)
                    for (int c = 0; c < png.channels; ++c)
                        ASSERT_EQ(png.at(x, y, c, true), PngSample(img, int(x), int(y), c, shift))
                            << "pixel " << x << "," << y << " channel " << c;
            if (bits == 32) {
                EXPECT_EQ(png.at(5, 0, 3, true), 255u);
            }
            // The source is only read.
            EXPECT_EQ(std::memcmp(buf->pixels(), img.store.data(), img.store.size()), 0);
        }
    }
}

TEST(SaveImage, Mono10SampleArrivesShiftedHighByteFirst) {
    ScratchDir dir;
    TestImage img(2, 2, 16);
    img.set_sample(0, 0, 0, 0x0ABC);
    auto buf = MakeBuffer(img);
    ASSERT_NE(buf, nullptr);
    ASSERT_EQ(SaveImageFile(dir.file("m.png").c_str(), buf.get(), kSavePng), 1);
    const Decoded png = ReadPng(dir.file("m.png"));
    ASSERT_TRUE(png.ok);
    EXPECT_EQ(png.pixels[0], 0xAB);
    EXPECT_EQ(png.pixels[1], 0xC0);
}

TEST(SaveImage, PngcheckAcceptsEveryDepth) {
    if (!HaveTool("pngcheck")) GTEST_SKIP() << "pngcheck not installed";
    ScratchDir dir;
    const char* kinds[] = {"8-bit grayscale", "16-bit grayscale", "24-bit RGB",
                           "32-bit RGB+alpha", "48-bit RGB", "64-bit RGB+alpha"};
    for (std::size_t d = 0; d < std::size(kDepths); ++d) {
        SCOPED_TRACE(kDepths[d]);
        auto buf = MakeBuffer(TestImage(40, 7, kDepths[d]));
        ASSERT_NE(buf, nullptr);
        const std::string name = dir.file("c.png");
        ASSERT_EQ(SaveImageFile(name.c_str(), buf.get(), kSavePng), 1);
        const auto r = RunCommand("pngcheck -v '" + name + "' 2>&1");
        EXPECT_EQ(r.status, 0) << r.output;
        EXPECT_NE(r.output.find("40 x 7 image, " + std::string(kinds[d]) + ", non-interlaced"),
                  std::string::npos)
            << r.output;
    }
}

// ---- TIFF -----------------------------------------------------------------

TEST(SaveImage, TiffOfEveryDepthHoldsTheConvertedSamples) {
    ScratchDir dir;
    for (int significant : {12, 10}) {
        for (const std::uint16_t bits : kDepths) {
            SCOPED_TRACE(::testing::Message() << bits << " bits, " << significant << " significant");
            TestImage img(29, 11, bits, 0, significant);
            auto buf = MakeBuffer(img);
            ASSERT_NE(buf, nullptr);
            const std::string name = dir.file("t.tif");
            ASSERT_EQ(SaveImageFile(name.c_str(), buf.get(), kSaveTiff, significant), 1);
            const Decoded tif = ReadTiff(name);
            ASSERT_TRUE(tif.ok);
            EXPECT_EQ(tif.width, 29u);
            EXPECT_EQ(tif.height, 11u);
            EXPECT_EQ(tif.tiff_strips, 1u);
            EXPECT_EQ(tif.bit_depth, Wide(bits) ? 16 : 8);
            EXPECT_EQ(tif.channels, Channels(bits));
            EXPECT_EQ(tif.tiff_photometric, Channels(bits) == 1 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB);
            // One strip of packed rows: no row alignment.
            EXPECT_EQ(tif.pixels.size(), std::size_t(29) * 11 * (bits / 8));
            const int shift = 16 - significant;
            for (std::uint32_t y = 0; y < tif.height; ++y)
                for (std::uint32_t x = 0; x < tif.width; ++x)
                    for (int c = 0; c < tif.channels; ++c)
                        ASSERT_EQ(tif.at(x, y, c, std::endian::native == std::endian::big),
                                  TiffSample(img, int(x), int(y), c, shift))
                            << "pixel " << x << "," << y << " channel " << c;
        }
    }
}

TEST(SaveImage, TiffinfoReadsTheTags) {
    if (!HaveTool("tiffinfo")) GTEST_SKIP() << "tiffinfo not installed";
    ScratchDir dir;
    for (const std::uint16_t bits : kDepths) {
        SCOPED_TRACE(bits);
        auto buf = MakeBuffer(TestImage(5, 3, bits));
        ASSERT_NE(buf, nullptr);
        const std::string name = dir.file("i.tif");
        ASSERT_EQ(SaveImageFile(name.c_str(), buf.get(), kSaveTiff), 1);
        const auto r = RunCommand("tiffinfo '" + name + "' 2>&1");
        EXPECT_EQ(r.status, 0) << r.output;
        const auto has = [&](const std::string& s) {
            EXPECT_NE(r.output.find(s), std::string::npos) << s << "\n" << r.output;
        };
        has("Image Width: 5 Image Length: 3");
        has("Bits/Sample: " + std::to_string(Wide(bits) ? 16 : 8));
        has("Samples/Pixel: " + std::to_string(Channels(bits)));
        has("Compression Scheme: None");
        has(Channels(bits) == 1 ? "Photometric Interpretation: min-is-black"
                                : "Photometric Interpretation: RGB color");
        has("Planar Configuration: single image plane");
    }
}

// ---- JPEG -----------------------------------------------------------------

TEST(SaveImage, JpegOfEveryDepthIsProgressiveAndCloseAtQuality100) {
    if (!HaveTool("djpeg")) GTEST_SKIP() << "djpeg not installed";
    ScratchDir dir;
    for (int significant : {12, 10}) {
        for (const std::uint16_t bits : kDepths) {
            SCOPED_TRACE(::testing::Message() << bits << " bits, " << significant << " significant");
            const TestImage img = SmoothImage(37, 23, bits, significant);
            auto buf = MakeBuffer(img);
            ASSERT_NE(buf, nullptr);
            std::uintmax_t previous_size = ~std::uintmax_t{0};
            for (int format : {kSaveJpeg100, kSaveJpeg70, kSaveJpeg20}) {
                SCOPED_TRACE(format);
                const std::string name = dir.file("j" + std::to_string(format) + ".jpg");
                ASSERT_EQ(SaveImageFile(name.c_str(), buf.get(), format, significant), 1);
                const auto verbose = RunCommand("djpeg -verbose -outfile /dev/null '" + name + "' 2>&1");
                EXPECT_NE(verbose.output.find("Start Of Frame 0xc2"), std::string::npos)
                    << verbose.output;
                const Decoded jpg = ReadJpegWithDjpeg(name);
                ASSERT_TRUE(jpg.ok);
                EXPECT_EQ(jpg.width, 37u);
                EXPECT_EQ(jpg.height, 23u);
                EXPECT_EQ(jpg.channels, Channels(bits) == 1 ? 1 : 3);
                // Lower quality, fewer bytes: the number picks the quality.
                const auto size = std::filesystem::file_size(name);
                EXPECT_LT(size, previous_size);
                previous_size = size;
                if (format != kSaveJpeg100) continue;
                int worst = 0;
                for (std::uint32_t y = 0; y < jpg.height; ++y)
                    for (std::uint32_t x = 0; x < jpg.width; ++x)
                        for (int c = 0; c < jpg.channels; ++c)
                            worst = std::max(worst,
                                             std::abs(int(jpg.at(x, y, c, false)) -
                                                      int(JpegSample(img, int(x), int(y), c,
                                                                     significant - 8))));
                EXPECT_LE(worst, 3);
            }
        }
    }
}

// Whole-range samples reduced to bytes: 4095 -> 255, 2048 -> 128 (and the
// 10-bit 1023 -> 255, 512 -> 128); flat pictures decode exactly.
TEST(SaveImage, JpegReducesSixteenBitSamplesToTheirTopByte) {
    if (!HaveTool("djpeg")) GTEST_SKIP() << "djpeg not installed";
    ScratchDir dir;
    struct Case {
        int significant;
        unsigned sample, expected;
    };
    for (const Case k : {Case{12, 4095, 255}, Case{12, 2048, 128}, Case{10, 1023, 255},
                         Case{10, 512, 128}}) {
        for (const std::uint16_t bits : {16, 48, 64}) {
            SCOPED_TRACE(::testing::Message() << bits << " bits, sample " << k.sample);
            TestImage img(16, 16, bits, 0, k.significant);
            for (std::int32_t y = 0; y < 16; ++y)
                for (std::int32_t x = 0; x < 16; ++x)
                    for (int c = 0; c < Channels(bits); ++c) img.set_sample(x, y, c, k.sample);
            auto buf = MakeBuffer(img);
            ASSERT_NE(buf, nullptr);
            const std::string name = dir.file("f.jpg");
            ASSERT_EQ(SaveImageFile(name.c_str(), buf.get(), kSaveJpeg100, k.significant), 1);
            const Decoded jpg = ReadJpegWithDjpeg(name);
            ASSERT_TRUE(jpg.ok);
            for (const std::uint8_t v : jpg.pixels) ASSERT_NEAR(v, k.expected, 1);
        }
    }
}

// Picture orientation survives each format: the source's top row is the
// file's top row.
TEST(SaveImage, JpegKeepsTheTopRowOnTop) {
    if (!HaveTool("djpeg")) GTEST_SKIP() << "djpeg not installed";
    ScratchDir dir;
    for (const std::uint16_t bits : kDepths) {
        SCOPED_TRACE(bits);
        TestImage img(16, 16, bits);
        const unsigned white = Wide(bits) ? 4095 : 255;
        for (std::int32_t y = 0; y < 16; ++y)
            for (std::int32_t x = 0; x < 16; ++x)
                for (int c = 0; c < Channels(bits); ++c)
                    img.set_sample(x, y, c, y < 8 ? white : 0);
        auto buf = MakeBuffer(img);
        ASSERT_NE(buf, nullptr);
        ASSERT_EQ(SaveImageFile(dir.file("o.jpg").c_str(), buf.get(), kSaveJpeg100), 1);
        const Decoded jpg = ReadJpegWithDjpeg(dir.file("o.jpg"));
        ASSERT_TRUE(jpg.ok);
        EXPECT_GT(jpg.at(3, 2, 0, false), 240u);
        EXPECT_LT(jpg.at(3, 13, 0, false), 15u);
    }
}

// ---- BMP and raw ------------------------------------------------------------

TEST(SaveImage, BmpOfEveryDepthIsTheStoreBottomRowFirst) {
    ScratchDir dir;
    for (const std::uint16_t bits : kDepths) {
        SCOPED_TRACE(bits);
        const TestImage img(5, 4, bits);
        auto buf = MakeBuffer(img);
        ASSERT_NE(buf, nullptr);
        const std::string name = dir.file("b.bmp");
        ASSERT_EQ(SaveImageFile(name.c_str(), buf.get(), kSaveBmp), 1);
        const std::vector<std::uint8_t> f = ReadBytes(name);
        const std::uint32_t offset = bits <= 8 ? 1078 : 54;
        const std::size_t stride = std::size_t(img.stride);
        ASSERT_EQ(f.size(), offset + 4 * stride);
        EXPECT_EQ(f[0], 'B');
        EXPECT_EQ(f[1], 'M');
        EXPECT_EQ(Le32(&f[2]), f.size());
        EXPECT_EQ(Le32(&f[6]), 0u);
        EXPECT_EQ(Le32(&f[10]), offset);
        EXPECT_EQ(Le32(&f[14]), 40u);
        EXPECT_EQ(Le32(&f[18]), 5u);
        EXPECT_EQ(Le32(&f[22]), 4u);
        EXPECT_EQ(Le16(&f[26]), 1u);
        EXPECT_EQ(Le16(&f[28]), bits);
        for (std::size_t i = 30; i < 54; ++i) ASSERT_EQ(f[i], 0) << "header byte " << i;
        if (bits == 8) {
            for (int i = 0; i < 256; ++i)
                for (int c = 0; c < 4; ++c)
                    ASSERT_EQ(f[54 + 4 * i + c], c < 3 ? i : 0) << "table entry " << i;
        }
        // The store unchanged, padding included, last memory row first.
        for (std::int32_t r = 0; r < 4; ++r)
            EXPECT_EQ(std::memcmp(&f[offset + std::size_t(r) * stride], img.row(3 - r), stride), 0)
                << "file row " << r;
    }
}

TEST(SaveImage, BmpNamedCases) {
    ScratchDir dir;
    // Color24 of width 5: stride 16, one padding byte per row.
    {
        auto buf = MakeBuffer(TestImage(5, 3, 24));
        ASSERT_NE(buf, nullptr);
        ASSERT_EQ(buf->stride(), 16);
        ASSERT_EQ(SaveImageFile(dir.file("c.bmp").c_str(), buf.get(), kSaveBmp), 1);
        EXPECT_EQ(ReadBytes(dir.file("c.bmp")).size(), 54u + 3 * 16);
    }
    // Mono10 keeps 16 bits per pixel and its raw samples.
    {
        TestImage img(3, 2, 16);
        img.set_sample(0, 1, 0, 0x0ABC);  // bottom-left pixel: first in the file
        auto buf = MakeBuffer(img);
        ASSERT_NE(buf, nullptr);
        ASSERT_EQ(SaveImageFile(dir.file("m.bmp").c_str(), buf.get(), kSaveBmp), 1);
        const auto f = ReadBytes(dir.file("m.bmp"));
        ASSERT_EQ(f.size(), 54u + 2 * 8);
        EXPECT_EQ(Le16(&f[28]), 16u);
        EXPECT_EQ(Le32(&f[30]), 0u);  // no compression, no bit masks
        EXPECT_EQ(Le16(&f[54]), 0x0ABC);
    }
}

TEST(SaveImage, RawIsTheStoreTopRowFirst) {
    ScratchDir dir;
    for (const std::uint16_t bits : kDepths) {
        SCOPED_TRACE(bits);
        const TestImage img(7, 5, bits);
        auto buf = MakeBuffer(img);
        ASSERT_NE(buf, nullptr);
        ASSERT_EQ(SaveImageFile(dir.file("r.raw").c_str(), buf.get(), kSaveRaw), 1);
        EXPECT_EQ(ReadBytes(dir.file("r.raw")), img.store);
    }
}

// ---- what is refused and what is left behind -------------------------------

TEST(SaveImage, FormatOutsideTheTableWritesNothing) {
    ScratchDir dir;
    auto buf = MakeBuffer(TestImage(4, 4, 24));
    ASSERT_NE(buf, nullptr);
    for (int format : {-1, 7, 100}) {
        EXPECT_EQ(SaveImageFile(dir.file("x").c_str(), buf.get(), format), 0) << format;
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(SaveImage, RefusesMissingArguments) {
    ScratchDir dir;
    auto buf = MakeBuffer(TestImage(4, 4, 24));
    ASSERT_NE(buf, nullptr);
    CImageBuffer empty;
    for (int format = kSaveBmp; format <= kSaveTiff; ++format) {
        SCOPED_TRACE(format);
        EXPECT_EQ(SaveImageFile(nullptr, buf.get(), format), 0);
        EXPECT_EQ(SaveImageFile(dir.file("x").c_str(), nullptr, format), 0);
        EXPECT_EQ(SaveImageFile(dir.file("x").c_str(), &empty, format), 0);
        // Only 12 and 10 significant bits have conversions.
        EXPECT_EQ(SaveImageFile(dir.file("x").c_str(), buf.get(), format, 8), 0);
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(SaveImage, UnwritableNamesFailWithoutLeaks) {
    ScratchDir dir;
    const std::string readonly = dir.file("readonly");
    WriteBytes(readonly, {1, 2, 3});
    ASSERT_EQ(::chmod(readonly.c_str(), 0444), 0);
    // A file nobody may write, not even a privileged test run.
    const bool have_proc = std::filesystem::exists("/proc/self/status");
    std::vector<std::string> names = {dir.file("missing/x"), dir.path().string()};
    if (::geteuid() != 0) names.push_back(readonly);
    if (have_proc) names.push_back("/proc/self/status");
    for (const std::uint16_t bits : kDepths) {
        auto buf = MakeBuffer(TestImage(6, 3, bits));
        ASSERT_NE(buf, nullptr);
        for (int format = kSaveBmp; format <= kSaveTiff; ++format) {
            for (const std::string& name : names) {
                SCOPED_TRACE(::testing::Message() << bits << " bits, format " << format << ", " << name);
                const int fds = OpenDescriptorCount();
                ::testing::internal::CaptureStderr();  // libtiff reports the open failure
                EXPECT_EQ(SaveImageFile(name.c_str(), buf.get(), format), 0);
                (void)::testing::internal::GetCapturedStderr();
                EXPECT_EQ(OpenDescriptorCount(), fds);
            }
        }
    }
    EXPECT_EQ(ReadBytes(readonly), (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing")));
}

// A longer file of the same name is emptied first: what is left is exactly
// what a save to a fresh name writes.
TEST(SaveImage, ExistingFileIsTruncated) {
    ScratchDir dir;
    for (const std::uint16_t bits : kDepths) {
        auto buf = MakeBuffer(TestImage(9, 4, bits));
        ASSERT_NE(buf, nullptr);
        for (int format = kSaveBmp; format <= kSaveTiff; ++format) {
            SCOPED_TRACE(::testing::Message() << bits << " bits, format " << format);
            const std::string fresh = dir.file("fresh");
            const std::string old = dir.file("old");
            std::filesystem::remove(fresh);
            WriteBytes(old, std::vector<std::uint8_t>(100000, 0x5A));
            ASSERT_EQ(SaveImageFile(fresh.c_str(), buf.get(), format), 1);
            ASSERT_EQ(SaveImageFile(old.c_str(), buf.get(), format), 1);
            EXPECT_EQ(ReadBytes(old), ReadBytes(fresh));
        }
    }
}

// Saves of two pictures at once, each into its own files, come out whole.
TEST(SaveImage, ConcurrentPngSavesStayApart) {
    ScratchDir dir;
    const TestImage colour(160, 90, 64);
    const TestImage grey(150, 100, 16);
    auto a = MakeBuffer(colour);
    auto b = MakeBuffer(grey);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    std::atomic<int> failures{0};
    constexpr int kRounds = 8;
    auto saver = [&](const CImageBuffer* buf, const std::string& prefix) {
        for (int i = 0; i < kRounds; ++i)
            if (SaveImageFile((prefix + std::to_string(i)).c_str(), buf, kSavePng) != 1) ++failures;
    };
    std::thread ta(saver, a.get(), dir.file("a"));
    std::thread tb(saver, b.get(), dir.file("b"));
    ta.join();
    tb.join();
    EXPECT_EQ(failures.load(), 0);
    for (int i = 0; i < kRounds; ++i) {
        for (const auto& [img, prefix] : {std::pair{&colour, "a"}, std::pair{&grey, "b"}}) {
            const Decoded png = ReadPng(dir.file(prefix + std::to_string(i)));
            ASSERT_TRUE(png.ok);
            for (std::uint32_t y = 0; y < png.height; y += 7)
                for (std::uint32_t x = 0; x < png.width; x += 5)
                    for (int c = 0; c < png.channels; ++c)
                        ASSERT_EQ(png.at(x, y, c, true), PngSample(*img, int(x), int(y), c, 4));
        }
    }
}

}  // namespace
}  // namespace zbx::output
