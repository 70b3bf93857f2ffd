// Bitmap files and raw dumps, checked byte by byte.
#include "output/bmp_writer.h"

#include <gtest/gtest.h>

#include "output_test_support.h"

namespace zbx::output {
namespace {

using testing::Le16;
using testing::Le32;
using testing::ReadBytes;
using testing::ScratchDir;
using testing::TestImage;

struct BmpFile {
    std::vector<std::uint8_t> bytes;
    [[nodiscard]] std::uint32_t offset() const { return Le32(&bytes[10]); }
    [[nodiscard]] const std::uint8_t* info() const { return &bytes[14]; }
};

BmpFile SaveBmp(const ScratchDir& dir, const ImageView& view) {
    const std::string name = dir.file("picture.bmp");
    EXPECT_EQ(WriteBmpFile(view, name.c_str()), 1);
    return {ReadBytes(name)};
}

void ExpectHeader(const BmpFile& f, const ImageView& v, std::uint32_t offset,
                  std::uint32_t stride) {
    ASSERT_GE(f.bytes.size(), 54u);
    EXPECT_EQ(f.bytes[0], 'B');
    EXPECT_EQ(f.bytes[1], 'M');
    EXPECT_EQ(Le32(&f.bytes[2]), offset + std::uint32_t(v.height) * stride);
    EXPECT_EQ(Le32(&f.bytes[6]), 0u);
    EXPECT_EQ(f.offset(), offset);
    EXPECT_EQ(f.bytes.size(), offset + std::size_t(v.height) * stride);
    const std::uint8_t* info = f.info();
    EXPECT_EQ(Le32(info + 0), 40u);
    EXPECT_EQ(Le32(info + 4), std::uint32_t(v.width));
    EXPECT_EQ(Le32(info + 8), std::uint32_t(v.height));  // positive: bottom-up
    EXPECT_EQ(Le16(info + 12), 1u);
    EXPECT_EQ(Le16(info + 14), v.bits_per_pixel);
    for (int off = 16; off < 40; ++off) EXPECT_EQ(info[off], 0) << "info byte " << off;
}

// File row r holds picture row height - 1 - r.
void ExpectRowsBottomUp(const BmpFile& f, const TestImage& img, std::uint32_t stride,
                        std::size_t copied) {
    for (std::int32_t r = 0; r < img.height; ++r) {
        const std::uint8_t* file_row = &f.bytes[f.offset() + std::size_t(r) * stride];
        const std::uint8_t* src = img.row(img.height - 1 - r);
        for (std::size_t i = 0; i < stride; ++i)
            ASSERT_EQ(file_row[i], i < copied ? src[i] : 0) << "file row " << r << " byte " << i;
    }
}

TEST(BmpWriter, Mono8CarriesGreyTableAndFlippedRows) {
    ScratchDir dir;
    TestImage img(5, 3, 8);  // stride 8
    const BmpFile f = SaveBmp(dir, img.view());
    ExpectHeader(f, img.view(), 1078, 8);
    for (int i = 0; i < 256; ++i) {
        const std::uint8_t* e = &f.bytes[54 + 4 * i];
        ASSERT_EQ(e[0], i);
        ASSERT_EQ(e[1], i);
        ASSERT_EQ(e[2], i);
        ASSERT_EQ(e[3], 0);
    }
    // Row padding of the store goes into the file as it is.
    ExpectRowsBottomUp(f, img, 8, 8);
}

TEST(BmpWriter, Mono8UsesTheGivenColourTable) {
    ScratchDir dir;
    TestImage img(4, 2, 8);
    std::vector<RgbQuad> table(256);
    for (int i = 0; i < 256; ++i) table[i] = RgbQuad{std::uint8_t(255 - i), 1, 2, 3};
    ImageView v = img.view();
    v.color_table = table.data();
    const BmpFile f = SaveBmp(dir, v);
    EXPECT_EQ(f.bytes[54 + 4 * 10 + 0], 245);
    EXPECT_EQ(f.bytes[54 + 4 * 10 + 1], 1);
    EXPECT_EQ(f.bytes[54 + 4 * 10 + 2], 2);
    EXPECT_EQ(f.bytes[54 + 4 * 10 + 3], 3);
}

TEST(BmpWriter, Color24OfWidthFivePadsEveryRow) {
    ScratchDir dir;
    TestImage img(5, 4, 24);
    ASSERT_EQ(img.stride, 16);
    // A clean store: the padding byte the file must carry is 0.
    for (std::int32_t y = 0; y < img.height; ++y) img.row(y)[15] = 0;
    const BmpFile f = SaveBmp(dir, img.view());
    ExpectHeader(f, img.view(), 54, 16);
    ExpectRowsBottomUp(f, img, 16, 16);
    EXPECT_EQ(f.bytes[54 + 15], 0);
    // Bottom-left pixel of the picture is the first pixel of the file.
    EXPECT_EQ(f.bytes[54 + 0], img.sample(0, 3, 0));
    EXPECT_EQ(f.bytes[54 + 2], img.sample(0, 3, 2));
}

TEST(BmpWriter, DeepSamplesStayAsTheyAre) {
    ScratchDir dir;
    for (std::uint16_t bits : {16, 32, 48, 64}) {
        SCOPED_TRACE(bits);
        TestImage img(3, 5, bits);
        const std::uint32_t stride = std::uint32_t(img.stride);
        const BmpFile f = SaveBmp(dir, img.view());
        ExpectHeader(f, img.view(), 54, stride);
        ExpectRowsBottomUp(f, img, stride, stride);
    }
    // Taller than one write chunk: the rows stay in order across chunks.
    TestImage tall(100, 1000, 24);
    const BmpFile t = SaveBmp(dir, tall.view());
    ExpectHeader(t, tall.view(), 54, 300);
    ExpectRowsBottomUp(t, tall, 300, 300);
    // A Mono10 sample keeps its 16 bits: 0x0ABC stays 0xBC, 0x0A.
    TestImage mono(2, 1, 16);
    mono.set_sample(0, 0, 0, 0x0ABC);
    const BmpFile f = SaveBmp(dir, mono.view());
    EXPECT_EQ(Le16(&f.bytes[54]), 0x0ABC);
}

TEST(BmpWriter, ViewStrideOtherThanTheFileRow) {
    ScratchDir dir;
    // Wider rows than the file's: only the file's row length is taken.
    TestImage wide(5, 3, 24, 40);
    BmpFile f = SaveBmp(dir, wide.view());
    ExpectHeader(f, wide.view(), 54, 16);
    ExpectRowsBottomUp(f, wide, 16, 16);
    // Packed rows (15 bytes): each file row is padded with one zero.
    TestImage packed(5, 3, 24, 15);
    f = SaveBmp(dir, packed.view());
    ExpectHeader(f, packed.view(), 54, 16);
    ExpectRowsBottomUp(f, packed, 16, 15);
    // A bottom-up store handed over flipped gives the same file as the
    // top-first one.
    TestImage top(7, 4, 8);
    TestImage bottom(7, 4, 8);
    for (std::int32_t y = 0; y < 4; ++y)
        std::copy(top.row(3 - y), top.row(3 - y) + top.stride, bottom.row(y));
    const std::vector<std::uint8_t> a = SaveBmp(dir, top.view()).bytes;
    const std::vector<std::uint8_t> b = SaveBmp(dir, bottom.view().flipped()).bytes;
    EXPECT_EQ(a, b);
}

TEST(BmpWriter, RefusesInvalidViews) {
    ScratchDir dir;
    TestImage img(4, 4, 24);
    ImageView v = img.view();
    const std::string name = dir.file("x.bmp");
    v.bits_per_pixel = 12;
    EXPECT_EQ(WriteBmpFile(v, name.c_str()), 0);
    v = img.view();
    v.stride = 8;  // shorter than a row
    EXPECT_EQ(WriteBmpFile(v, name.c_str()), 0);
    v = img.view();
    v.height = 0;
    EXPECT_EQ(WriteBmpFile(v, name.c_str()), 0);
    EXPECT_FALSE(std::filesystem::exists(name));
}

TEST(RawDump, WritesTheStoreWithPadding) {
    ScratchDir dir;
    const std::string name = dir.file("frame.raw");
    for (std::uint16_t bits : {8, 16, 24, 32, 48, 64}) {
        SCOPED_TRACE(bits);
        TestImage img(5, 3, bits);
        ASSERT_EQ(WriteRawFile(img.view(), name.c_str()), 1);
        EXPECT_EQ(ReadBytes(name), img.store);
    }
    // Flipped: memory row 0 of the view first.
    TestImage img(3, 4, 16);
    ASSERT_EQ(WriteRawFile(img.view().flipped(), name.c_str()), 1);
    const std::vector<std::uint8_t> bytes = ReadBytes(name);
    ASSERT_EQ(bytes.size(), img.store.size());
    for (std::int32_t r = 0; r < 4; ++r)
        EXPECT_TRUE(std::equal(img.row(3 - r), img.row(3 - r) + img.stride,
                               bytes.begin() + std::ptrdiff_t(r) * img.stride))
            << "row " << r;
}

}  // namespace
}  // namespace zbx::output
