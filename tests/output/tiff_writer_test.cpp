// TIFF files read again by libtiff, tag by tag and sample for sample, and
// described by tiffinfo.
#include "output/tiff_writer.h"

#include <tiffio.h>

#include <cstring>

#include <gtest/gtest.h>

#include "output_test_support.h"

namespace zbx::output {
namespace {

using testing::HaveTool;
using testing::RunCommand;
using testing::ScratchDir;
using testing::TestImage;

struct DecodedTiff {
    bool ok = false;
    std::uint32_t width = 0, height = 0;
    std::uint16_t bits = 0, photometric = 0, samples = 0, compression = 0, planar = 0;
    std::uint32_t strips = 0;
    tmsize_t strip_size = 0;
    std::vector<std::uint16_t> extra_samples;
    std::vector<std::uint8_t> strip;
};

DecodedTiff ReadTiff(const std::string& path) {
    DecodedTiff out;
    // "c": no strip chopping, so the file's own strips are seen.
    TIFF* t = TIFFOpen(path.c_str(), "rc");
    if (t == nullptr) return out;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &out.width);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &out.height);
    TIFFGetField(t, TIFFTAG_BITSPERSAMPLE, &out.bits);
    TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &out.photometric);
    TIFFGetField(t, TIFFTAG_SAMPLESPERPIXEL, &out.samples);
    TIFFGetField(t, TIFFTAG_COMPRESSION, &out.compression);
    TIFFGetField(t, TIFFTAG_PLANARCONFIG, &out.planar);
    std::uint16_t extra_count = 0;
    std::uint16_t* extra = nullptr;
    if (TIFFGetField(t, TIFFTAG_EXTRASAMPLES, &extra_count, &extra))
        out.extra_samples.assign(extra, extra + extra_count);
    out.strips = TIFFNumberOfStrips(t);
    out.strip_size = TIFFStripSize(t);
    out.strip.resize(std::size_t(out.strip_size));
    out.ok = TIFFReadEncodedStrip(t, 0, out.strip.data(), out.strip_size) == out.strip_size;
    TIFFClose(t);
    return out;
}

struct Case {
    std::uint16_t bits;
    std::uint16_t bits_per_sample;
    std::uint16_t photometric;
    std::uint16_t samples;
};

constexpr Case kCases[] = {
    {8, 8, PHOTOMETRIC_MINISBLACK, 1}, {16, 16, PHOTOMETRIC_MINISBLACK, 1},
    {24, 8, PHOTOMETRIC_RGB, 3},       {32, 8, PHOTOMETRIC_RGB, 4},
    {48, 16, PHOTOMETRIC_RGB, 3},      {64, 16, PHOTOMETRIC_RGB, 4},
};

// What the file must hold for sample c of pixel (x, y): red first, 16-bit
// samples shifted up by 16 - significant bits, the fourth sample 0 for
// 8 bits and opaque for 16.
unsigned Expected(const TestImage& img, const Case& k, std::int32_t x, std::int32_t y, int c,
                  int shift) {
    if (k.samples == 4 && c == 3) return k.bits_per_sample == 8 ? 0u : 0xFFFFu;
    const int source = k.samples >= 3 ? 2 - c : c;
    const unsigned v = img.sample(x, y, source);
    return k.bits_per_sample == 16 ? (v << shift) & 0xFFFFu : v;
}

unsigned FileSample(const DecodedTiff& d, std::int32_t x, std::int32_t y, int c) {
    const std::size_t index = (std::size_t(y) * d.width + std::size_t(x)) * d.samples + std::size_t(c);
    if (d.bits == 8) return d.strip[index];
    std::uint16_t v;
    std::memcpy(&v, &d.strip[2 * index], 2);  // libtiff hands back host order
    return v;
}

void ExpectTiff(const DecodedTiff& d, const TestImage& img, const Case& k, int shift) {
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.width, std::uint32_t(img.width));
    EXPECT_EQ(d.height, std::uint32_t(img.height));
    EXPECT_EQ(d.bits, k.bits_per_sample);
    EXPECT_EQ(d.photometric, k.photometric);
    EXPECT_EQ(d.samples, k.samples);
    EXPECT_EQ(d.compression, COMPRESSION_NONE);
    EXPECT_EQ(d.planar, PLANARCONFIG_CONTIG);
    // The fourth sample is declared, with no meaning claimed.
    EXPECT_EQ(d.extra_samples, k.samples == 4 ? std::vector<std::uint16_t>{EXTRASAMPLE_UNSPECIFIED}
                                              : std::vector<std::uint16_t>{});
    EXPECT_EQ(d.strips, 1u);
    EXPECT_EQ(d.strip_size, tmsize_t(img.height) * img.width * (k.bits / 8));
    for (std::int32_t y = 0; y < img.height; ++y)
        for (std::int32_t x = 0; x < img.width; ++x)
            for (int c = 0; c < k.samples; ++c)
                ASSERT_EQ(FileSample(d, x, y, c), Expected(img, k, x, y, c, shift))
                    << "pixel " << x << "," << y << " sample " << c;
}

TEST(TiffWriter, EveryDepthReadsBackShiftedAndRedFirst) {
    ScratchDir dir;
    for (const Case& k : kCases) {
        for (int significant : {12, 10}) {
            SCOPED_TRACE(std::to_string(k.bits) + " bits, significant " + std::to_string(significant));
            TestImage img(29, 11, k.bits, 0, significant);
            const std::string name = dir.file("t.tif");
            ASSERT_EQ(WriteTiffFile(name.c_str(), img.view(), significant), 1);
            ExpectTiff(ReadTiff(name), img, k, 16 - significant);
        }
    }
}

TEST(TiffWriter, StripsArePackedWithoutRowPadding) {
    ScratchDir dir;
    // Mono8 of width 5: the strip holds height × 5 bytes, not height × 8.
    TestImage mono(5, 7, 8);
    ASSERT_EQ(WriteTiffFile(dir.file("m.tif").c_str(), mono.view(), 12), 1);
    const DecodedTiff m = ReadTiff(dir.file("m.tif"));
    EXPECT_EQ(m.strip_size, 35);
    ExpectTiff(m, mono, kCases[0], 4);
    // Packed 8-bit rows go out directly; the caller's pixels stay as they are.
    TestImage packed(8, 5, 8);
    const std::vector<std::uint8_t> before = packed.store;
    ASSERT_EQ(WriteTiffFile(dir.file("p.tif").c_str(), packed.view(), 12), 1);
    EXPECT_EQ(packed.store, before);
    ExpectTiff(ReadTiff(dir.file("p.tif")), packed, kCases[0], 4);
    // A flipped view stores its memory row 0 first.
    TestImage colour(6, 4, 24);
    ASSERT_EQ(WriteTiffFile(dir.file("f.tif").c_str(), colour.view().flipped(), 12), 1);
    const DecodedTiff f = ReadTiff(dir.file("f.tif"));
    ASSERT_TRUE(f.ok);
    EXPECT_EQ(FileSample(f, 0, 0, 0), colour.sample(0, 3, 2));
    EXPECT_EQ(FileSample(f, 5, 3, 2), colour.sample(5, 0, 0));
}

// Frames larger than one band of converted rows, with a short last band;
// widths not a multiple of the vector blocks; 8-bit rows with padding.
TEST(TiffWriter, LargeFramesReadBackAcrossBands) {
    ScratchDir dir;
    for (const Case& k : kCases) {
        for (std::int32_t width : {211, 212}) {
            SCOPED_TRACE(std::to_string(k.bits) + " bits, width " + std::to_string(width));
            TestImage img(width, 457, k.bits);
            const std::string name = dir.file("big.tif");
            ASSERT_EQ(WriteTiffFile(name.c_str(), img.view(), 12), 1);
            ExpectTiff(ReadTiff(name), img, k, 4);
        }
    }
}

TEST(TiffWriter, RefusesBadArguments) {
    ScratchDir dir;
    TestImage img(4, 4, 16);
    EXPECT_EQ(WriteTiffFile(nullptr, img.view(), 12), 0);
    EXPECT_EQ(WriteTiffFile(dir.file("a.tif").c_str(), img.view(), 0), 0);
    EXPECT_EQ(WriteTiffFile(dir.file("a.tif").c_str(), img.view(), 17), 0);
    ImageView v = img.view();
    v.bits_per_pixel = 40;
    EXPECT_EQ(WriteTiffFile(dir.file("a.tif").c_str(), v, 12), 0);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

// libtiff's complaints about a failed write stay out of the application's
// standard error: the 0 result is the whole report.
TEST(TiffWriter, WriteErrorsAreQuiet) {
    const testing::FullDiskFile full;
    for (std::int32_t side : {2, 300}) {
        TestImage img(side, side, 48);
        ::testing::internal::CaptureStderr();
        const int result = WriteTiffFile(full.path(), img.view(), 12);
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(result, 0);
        EXPECT_EQ(err, "") << side;
    }
}

TEST(TiffWriter, TiffinfoDescribesTheTags) {
    if (!HaveTool("tiffinfo")) GTEST_SKIP() << "tiffinfo not installed";
    ScratchDir dir;
    struct {
        std::uint16_t bits;
        const char* bits_line;
        const char* samples_line;
        const char* photometric_line;
    } kinds[] = {
        {8, "Bits/Sample: 8", "Samples/Pixel: 1", "Photometric Interpretation: min-is-black"},
        {24, "Bits/Sample: 8", "Samples/Pixel: 3", "Photometric Interpretation: RGB color"},
        {32, "Bits/Sample: 8", "Samples/Pixel: 4", "Photometric Interpretation: RGB color"},
        {64, "Bits/Sample: 16", "Samples/Pixel: 4", "Photometric Interpretation: RGB color"},
    };
    for (const auto& k : kinds) {
        SCOPED_TRACE(k.bits);
        TestImage img(21, 13, k.bits);
        const std::string name = dir.file("i.tif");
        ASSERT_EQ(WriteTiffFile(name.c_str(), img.view(), 12), 1);
        const auto r = RunCommand("tiffinfo '" + name + "' 2>&1");
        EXPECT_EQ(r.status, 0) << r.output;
        for (const char* line : {"Image Width: 21 Image Length: 13", k.bits_line, k.samples_line,
                                 k.photometric_line, "Compression Scheme: None",
                                 "Planar Configuration: single image plane"})
            EXPECT_NE(r.output.find(line), std::string::npos) << line << "\n" << r.output;
        EXPECT_EQ(r.output.find("Warning"), std::string::npos) << r.output;
    }
}

}  // namespace
}  // namespace zbx::output
