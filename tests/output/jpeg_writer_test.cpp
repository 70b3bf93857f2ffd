// JPEG files decoded again by libjpeg and djpeg: component count, colour
// space, progressive scans, orientation, closeness at quality 100.
#include "output/jpeg_writer.h"

#include <cstdio>
// jpeglib.h needs FILE and size_t first.
#include <jpeglib.h>

#include <atomic>
#include <csetjmp>
#include <cstdlib>
#include <thread>

#include <gtest/gtest.h>

#include "output_test_support.h"

namespace zbx::output {
namespace {

using testing::FullDiskFile;
using testing::HaveTool;
using testing::ReadBytes;
using testing::RunCommand;
using testing::ScratchDir;
using testing::TestImage;

struct JumpError {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

void JumpOnError(j_common_ptr cinfo) { std::longjmp(reinterpret_cast<JumpError*>(cinfo->err)->jump, 1); }

struct DecodedJpeg {
    bool ok = false;
    int components = 0;
    J_COLOR_SPACE color_space = JCS_UNKNOWN;
    bool progressive = false;
    JDIMENSION width = 0;
    JDIMENSION height = 0;
    std::vector<std::uint8_t> pixels;  // grey or red-green-blue, packed
};

DecodedJpeg ReadJpeg(const std::string& path) {
    DecodedJpeg out;
    const std::vector<std::uint8_t> bytes = ReadBytes(path);
    if (bytes.empty()) return out;
    jpeg_decompress_struct cinfo{};
    JumpError err{};
    cinfo.err = jpeg_std_error(&err.base);
    err.base.error_exit = JumpOnError;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return DecodedJpeg{};
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&cinfo, TRUE);
    out.components = cinfo.num_components;
    out.color_space = cinfo.jpeg_color_space;
    out.progressive = cinfo.progressive_mode != 0;
    jpeg_start_decompress(&cinfo);
    out.width = cinfo.output_width;
    out.height = cinfo.output_height;
    const std::size_t row = std::size_t(cinfo.output_width) * cinfo.output_components;
    out.pixels.resize(row * cinfo.output_height);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW r = out.pixels.data() + row * cinfo.output_scanline;
        jpeg_read_scanlines(&cinfo, &r, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    out.ok = true;
    return out;
}

// Smooth pictures without wrap-arounds, so quality 100 must come close.
TestImage SmoothImage(std::int32_t w, std::int32_t h, std::uint16_t bits) {
    TestImage img(w, h, bits);
    for (std::int32_t y = 0; y < h; ++y)
        for (std::int32_t x = 0; x < w; ++x) {
            if (bits == 8) {
                img.set_sample(x, y, 0, unsigned(x * 2 + y));
            } else {
                img.set_sample(x, y, 0, unsigned(x * 3));          // blue
                img.set_sample(x, y, 1, unsigned(y * 4));          // green
                img.set_sample(x, y, 2, unsigned(100 + x - y));    // red
            }
        }
    return img;
}

TEST(JpegWriter, GreyIsOneProgressiveComponent) {
    ScratchDir dir;
    TestImage img = SmoothImage(64, 48, 8);
    for (int quality : {100, 70, 20}) {
        SCOPED_TRACE(quality);
        const std::string name = dir.file("g" + std::to_string(quality) + ".jpg");
        ASSERT_EQ(WriteJpegFile(name.c_str(), img.view(), quality, 1), 1);
        const DecodedJpeg d = ReadJpeg(name);
        ASSERT_TRUE(d.ok);
        EXPECT_EQ(d.components, 1);
        EXPECT_EQ(d.color_space, JCS_GRAYSCALE);
        EXPECT_TRUE(d.progressive);
        EXPECT_EQ(d.width, 64u);
        EXPECT_EQ(d.height, 48u);
        if (quality == 100) {
            for (std::int32_t y = 0; y < 48; ++y)
                for (std::int32_t x = 0; x < 64; ++x)
                    ASSERT_NEAR(d.pixels[std::size_t(y) * 64 + x], img.sample(x, y, 0), 2)
                        << x << "," << y;
        }
    }
    // Without the flag: a sequential file.
    ASSERT_EQ(WriteJpegFile(dir.file("s.jpg").c_str(), img.view(), 70, 0), 1);
    EXPECT_FALSE(ReadJpeg(dir.file("s.jpg")).progressive);
}

TEST(JpegWriter, ColourIsCloseAtQuality100AndUpright) {
    ScratchDir dir;
    TestImage img = SmoothImage(64, 48, 24);
    const std::string name = dir.file("c.jpg");
    ASSERT_EQ(WriteJpegFile(name.c_str(), img.view(), 100, 1), 1);
    const DecodedJpeg d = ReadJpeg(name);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.components, 3);
    EXPECT_EQ(d.color_space, JCS_YCbCr);
    EXPECT_TRUE(d.progressive);
    double total = 0;
    for (std::int32_t y = 0; y < 48; ++y)
        for (std::int32_t x = 0; x < 64; ++x)
            for (int c = 0; c < 3; ++c) {
                const int decoded = d.pixels[(std::size_t(y) * 64 + x) * 3 + c];
                const int source = int(img.sample(x, y, 2 - c));  // file is red first
                ASSERT_NEAR(decoded, source, 6) << x << "," << y << " channel " << c;
                total += std::abs(decoded - source);
            }
    EXPECT_LT(total / (64 * 48 * 3), 1.5);

    // Red above, blue below: the top of the file is memory row 0.
    TestImage halves(16, 16, 24);
    for (std::int32_t y = 0; y < 16; ++y)
        for (std::int32_t x = 0; x < 16; ++x) {
            halves.set_sample(x, y, 0, y < 8 ? 0 : 255);
            halves.set_sample(x, y, 1, 0);
            halves.set_sample(x, y, 2, y < 8 ? 255 : 0);
        }
    ASSERT_EQ(WriteJpegFile(name.c_str(), halves.view(), 100, 1), 1);
    const DecodedJpeg h = ReadJpeg(name);
    ASSERT_TRUE(h.ok);
    const std::uint8_t* top = &h.pixels[(2 * 16 + 4) * 3];
    const std::uint8_t* bottom = &h.pixels[(13 * 16 + 4) * 3];
    EXPECT_GT(top[0], 230);
    EXPECT_LT(top[2], 25);
    EXPECT_LT(bottom[0], 25);
    EXPECT_GT(bottom[2], 230);
}

// The writer's file is byte for byte what libjpeg makes of the same pixels
// handed over red first, with the same settings.
TEST(JpegWriter, MatchesTheLibraryOnSwappedPixels) {
    ScratchDir dir;
    TestImage img(45, 30, 24);
    const std::string name = dir.file("m.jpg");
    ASSERT_EQ(WriteJpegFile(name.c_str(), img.view(), 70, 1), 1);

    std::vector<std::uint8_t> rgb(std::size_t(45) * 30 * 3);
    for (std::int32_t y = 0; y < 30; ++y)
        for (std::int32_t x = 0; x < 45; ++x)
            for (int c = 0; c < 3; ++c) rgb[(std::size_t(y) * 45 + x) * 3 + c] = std::uint8_t(img.sample(x, y, 2 - c));
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* mem = nullptr;
    unsigned long mem_size = 0;
    jpeg_mem_dest(&cinfo, &mem, &mem_size);
    cinfo.image_width = 45;
    cinfo.image_height = 30;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 70, TRUE);
    jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW r = rgb.data() + std::size_t(cinfo.next_scanline) * 45 * 3;
        jpeg_write_scanlines(&cinfo, &r, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    const std::vector<std::uint8_t> expected(mem, mem + mem_size);
    std::free(mem);
    EXPECT_EQ(ReadBytes(name), expected);
}

TEST(JpegWriter, RefusesOtherDepths) {
    ScratchDir dir;
    for (std::uint16_t bits : {16, 32, 48, 64}) {
        TestImage img(8, 8, bits);
        EXPECT_EQ(WriteJpegFile(dir.file("x.jpg").c_str(), img.view(), 100, 1), 0) << bits;
    }
    TestImage img(8, 8, 8);
    EXPECT_EQ(WriteJpegFile(nullptr, img.view(), 100, 1), 0);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(JpegWriter, DjpegDecodesBothKinds) {
    if (!HaveTool("djpeg")) GTEST_SKIP() << "djpeg not installed";
    ScratchDir dir;
    struct {
        std::uint16_t bits;
        const char* magic;
    } kinds[] = {{8, "P5\n33 17\n255\n"}, {24, "P6\n33 17\n255\n"}};
    for (const auto& k : kinds) {
        SCOPED_TRACE(k.bits);
        TestImage img(33, 17, k.bits);
        const std::string name = dir.file("d.jpg");
        ASSERT_EQ(WriteJpegFile(name.c_str(), img.view(), 20, 1), 1);
        const auto pnm = RunCommand("djpeg -pnm '" + name + "'");
        EXPECT_EQ(pnm.status, 0);
        EXPECT_EQ(pnm.output.rfind(k.magic, 0), 0u) << pnm.output.substr(0, 20);
        // The frame marker of a progressive file is SOF2.
        const auto verbose = RunCommand("djpeg -verbose -outfile /dev/null '" + name + "' 2>&1");
        EXPECT_EQ(verbose.status, 0) << verbose.output;
        EXPECT_NE(verbose.output.find("Start Of Frame 0xc2"), std::string::npos) << verbose.output;
    }
}

// Library errors in one thread do not reach another's save.
TEST(JpegWriter, ConcurrentSavesDoNotDisturbEachOther) {
    ScratchDir dir;
    TestImage img = SmoothImage(120, 80, 24);
    const std::string reference = dir.file("ref.jpg");
    ASSERT_EQ(WriteJpegFile(reference.c_str(), img.view(), 70, 1), 1);
    const std::vector<std::uint8_t> expected = ReadBytes(reference);
    std::atomic<bool> stop{false};
    std::atomic<int> full_successes{0};
    const FullDiskFile full;
    std::thread failing([&] {
        while (!stop.load())
            if (WriteJpegFile(full.path(), img.view(), 70, 1) != 0) ++full_successes;
    });
    int mismatches = 0;
    for (int i = 0; i < 20; ++i) {
        const std::string name = dir.file("t" + std::to_string(i) + ".jpg");
        if (WriteJpegFile(name.c_str(), img.view(), 70, 1) != 1 || ReadBytes(name) != expected)
            ++mismatches;
    }
    stop = true;
    failing.join();
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(full_successes.load(), 0);
}

}  // namespace
}  // namespace zbx::output
