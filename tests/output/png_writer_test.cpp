// PNG files decoded again by libpng's reader, sample for sample, and checked
// by pngcheck; saves in several threads at once.
#include "output/png_writer.h"

#include <png.h>

#include <atomic>
#include <csetjmp>
#include <cstdio>
#include <thread>

#include <gtest/gtest.h>

#include "output_test_support.h"
#include "support/png_reader.h"

namespace zbx::output {
namespace {

using testing::FullDiskFile;
using testing::HaveTool;
using testing::RunCommand;
using testing::ScratchDir;
using testing::TestImage;

using test::DecodedPng;
using test::ReadPng;

struct Case {
    std::uint16_t bits;
    int depth;
    int color_type;
    int channels;
};

constexpr Case kCases[] = {
    {8, 8, PNG_COLOR_TYPE_GRAY, 1},   {16, 16, PNG_COLOR_TYPE_GRAY, 1},
    {24, 8, PNG_COLOR_TYPE_RGB, 3},   {32, 8, PNG_COLOR_TYPE_RGB_ALPHA, 4},
    {48, 16, PNG_COLOR_TYPE_RGB, 3},  {64, 16, PNG_COLOR_TYPE_RGB_ALPHA, 4},
};

// File sample c of pixel x: grey, or red, green, blue (, alpha).
unsigned FileSample(const DecodedPng& d, png_uint_32 y, png_uint_32 x, int c, int channels) {
    const std::uint8_t* row = d.row(y);
    if (d.bit_depth == 8) return row[x * channels + c];
    const std::uint8_t* p = row + 2 * (x * channels + c);
    return unsigned(p[0]) << 8 | p[1];
}

// The buffer's channel for file channel c: blue and red trade places.
int SourceChannel(int c, int channels) { return channels >= 3 && c < 3 ? 2 - c : c; }

void ExpectSameImage(const DecodedPng& d, const TestImage& img, const Case& k) {
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.width, png_uint_32(img.width));
    EXPECT_EQ(d.height, png_uint_32(img.height));
    EXPECT_EQ(d.bit_depth, k.depth);
    EXPECT_EQ(d.color_type, k.color_type);
    EXPECT_EQ(d.interlace, PNG_INTERLACE_NONE);
    EXPECT_EQ(d.row_bytes, std::size_t(img.width) * k.bits / 8);
    for (png_uint_32 y = 0; y < d.height; ++y)
        for (png_uint_32 x = 0; x < d.width; ++x)
            for (int c = 0; c < k.channels; ++c)
                ASSERT_EQ(FileSample(d, y, x, c, k.channels),
                          img.sample(std::int32_t(x), std::int32_t(y), SourceChannel(c, k.channels)))
                    << "pixel " << x << "," << y << " channel " << c;
}

TEST(PngWriter, EveryDepthDecodesToTheSamePixels) {
    ScratchDir dir;
    for (const Case& k : kCases) {
        SCOPED_TRACE(k.bits);
        // Full 16-bit range, as the savers hand over shifted samples.
        TestImage img(37, 23, k.bits, 0, 16);
        const std::string name = dir.file("p" + std::to_string(k.bits) + ".png");
        ASSERT_EQ(WritePngFile(name.c_str(), img.view()), 1);
        ExpectSameImage(ReadPng(name), img, k);
    }
}

TEST(PngWriter, SixteenBitSamplesAreStoredHighByteFirst) {
    ScratchDir dir;
    const std::string name = dir.file("mono.png");
    TestImage img(2, 2, 16);
    img.set_sample(0, 0, 0, 0xABC0);  // a Mono10 0x0ABC after the saver's shift
    ASSERT_EQ(WritePngFile(name.c_str(), img.view()), 1);
    const DecodedPng d = ReadPng(name);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.row(0)[0], 0xAB);
    EXPECT_EQ(d.row(0)[1], 0xC0);
}

TEST(PngWriter, RowsAreTakenAtTheStride) {
    ScratchDir dir;
    // Colour48 of width 3: stride 20, 18 bytes of samples per row.
    TestImage img(3, 4, 48, 0, 16);
    ASSERT_EQ(img.stride, 20);
    ASSERT_EQ(WritePngFile(dir.file("a.png").c_str(), img.view()), 1);
    const DecodedPng d = ReadPng(dir.file("a.png"));
    EXPECT_EQ(d.row_bytes, 18u);
    ExpectSameImage(d, img, kCases[4]);
    // An odd stride and a flipped view.
    TestImage odd(5, 6, 24, 17);
    ASSERT_EQ(WritePngFile(dir.file("b.png").c_str(), odd.view().flipped()), 1);
    const DecodedPng f = ReadPng(dir.file("b.png"));
    ASSERT_TRUE(f.ok);
    for (png_uint_32 y = 0; y < 6; ++y)
        for (png_uint_32 x = 0; x < 5; ++x)
            ASSERT_EQ(FileSample(f, y, x, 0, 3), odd.sample(std::int32_t(x), 5 - std::int32_t(y), 2));
}

TEST(PngWriter, RefusesWhatItCannotWrite) {
    ScratchDir dir;
    TestImage img(4, 4, 24);
    EXPECT_EQ(WritePngFile(nullptr, img.view()), 0);
    ImageView v = img.view();
    v.bits_per_pixel = 40;
    EXPECT_EQ(WritePngFile(dir.file("x.png").c_str(), v), 0);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

// Pixels that do not compress, so the encoder's output outgrows the stream
// buffer and the write fails inside libpng, not only at the close.
TestImage NoiseImage(std::int32_t w, std::int32_t h, std::uint16_t bits) {
    TestImage img(w, h, bits);
    std::uint32_t state = 12345;
    for (auto& byte : img.store) {
        state = state * 1664525u + 1013904223u;
        byte = std::uint8_t(state >> 24);
    }
    return img;
}

TEST(PngWriter, LibraryErrorComesBackAsZero) {
    TestImage img = NoiseImage(256, 256, 24);
    const FullDiskFile full;
    ::testing::internal::CaptureStderr();
    const int result = WritePngFile(full.path(), img.view());
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(result, 0);
    EXPECT_NE(err.find("libpng error: Write Error\n"), std::string::npos) << err;
}

TEST(PngWriter, PngcheckAcceptsEveryDepth) {
    if (!HaveTool("pngcheck")) GTEST_SKIP() << "pngcheck not installed";
    ScratchDir dir;
    const char* expected[] = {"8-bit grayscale", "16-bit grayscale", "24-bit RGB",
                              "32-bit RGB+alpha", "48-bit RGB", "64-bit RGB+alpha"};
    int i = 0;
    for (const Case& k : kCases) {
        SCOPED_TRACE(k.bits);
        TestImage img(64, 9, k.bits, 0, 16);
        const std::string name = dir.file("c" + std::to_string(k.bits) + ".png");
        ASSERT_EQ(WritePngFile(name.c_str(), img.view()), 1);
        const auto r = RunCommand("pngcheck -v '" + name + "' 2>&1");
        EXPECT_EQ(r.status, 0) << r.output;
        EXPECT_NE(r.output.find("64 x 9 image, " + std::string(expected[i++]) + ", non-interlaced"),
                  std::string::npos)
            << r.output;
        EXPECT_NE(r.output.find("No errors detected"), std::string::npos) << r.output;
    }
}

// The error state belongs to each call: one thread's saves keep failing on
// a full disk, with libpng jumping out of them, while two others save good
// files that must come out whole.
TEST(PngWriter, ConcurrentSavesDoNotDisturbEachOther) {
    ScratchDir dir;
    TestImage colour(160, 90, 48, 0, 16);
    TestImage grey(150, 100, 8);
    const TestImage noise = NoiseImage(128, 128, 24);
    std::atomic<int> good_failures{0};
    std::atomic<int> full_successes{0};
    std::atomic<int> full_attempts{0};
    std::atomic<bool> stop{false};
    constexpr int kRounds = 15;
    const FullDiskFile full;

    auto saver = [&](const TestImage* img, const std::string& prefix) {
        for (int i = 0; i < kRounds; ++i) {
            const std::string name = prefix + std::to_string(i) + ".png";
            if (WritePngFile(name.c_str(), img->view()) != 1) ++good_failures;
        }
    };
    std::thread failing([&] {
        do {
            ++full_attempts;
            if (WritePngFile(full.path(), noise.view()) != 0) ++full_successes;
        } while (!stop.load());
    });
    std::thread a(saver, &colour, dir.file("a"));
    std::thread b(saver, &grey, dir.file("b"));
    a.join();
    b.join();
    stop = true;
    failing.join();
    EXPECT_EQ(good_failures.load(), 0);
    EXPECT_EQ(full_successes.load(), 0);
    EXPECT_GT(full_attempts.load(), 0);
    for (int i = 0; i < kRounds; ++i) {
        ExpectSameImage(ReadPng(dir.file("a") + std::to_string(i) + ".png"), colour, kCases[4]);
        ExpectSameImage(ReadPng(dir.file("b") + std::to_string(i) + ".png"), grey, kCases[0]);
    }
}

}  // namespace
}  // namespace zbx::output
