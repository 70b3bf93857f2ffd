#include <gtest/gtest.h>

#include <cstring>

#include "pipeline/image_buffer.h"

namespace zbx::pipeline {
namespace {

TEST(ImageBuffer, StrideRuleAndStoreSize) {
    CImageBuffer b;
    ASSERT_EQ(b.Create(5, 3, 8), 1);
    EXPECT_EQ(b.stride(), 8);
    EXPECT_EQ(b.store_size(), 24u);
    ASSERT_EQ(b.Create(1, 1, 24), 1);
    EXPECT_EQ(b.stride(), 4);
    ASSERT_EQ(b.Create(1281, 2, 16), 1);
    EXPECT_EQ(b.stride(), 2564);
    ASSERT_EQ(b.Create(3, 2, 48), 1);
    EXPECT_EQ(b.stride(), 20);
    EXPECT_EQ(b.bytes_per_pixel(), 6);
}

TEST(ImageBuffer, HeaderDeclaresBottomUpBitmap) {
    CImageBuffer b;
    ASSERT_EQ(b.Create(640, 480, 32), 1);
    const BitmapInfoHeader& h = b.header();
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, 640);
    EXPECT_EQ(h.biHeight, 480);
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biBitCount, 32);
    EXPECT_EQ(h.biCompression, 0u);
    EXPECT_EQ(h.biSizeImage, 0u);
    // Header and colour table form one block.
    EXPECT_EQ(reinterpret_cast<const std::uint8_t*>(b.color_table()) -
                  reinterpret_cast<const std::uint8_t*>(&b.bitmap_info()),
              40);
}

TEST(ImageBuffer, BadArgumentsLeaveBufferAlone) {
    CImageBuffer b;
    ASSERT_EQ(b.Create(4, 4, 8), 1);
    b.pixels()[5] = 77;
    EXPECT_EQ(b.Create(0, 10, 8), 0);
    EXPECT_EQ(b.Create(10, -1, 8), 0);
    EXPECT_EQ(b.Create(10, 10, 0), 0);
    EXPECT_EQ(b.width(), 4);
    EXPECT_EQ(b.pixels()[5], 77);

    CImageBuffer empty;
    EXPECT_EQ(b.CreateLike(&empty), 0);
    EXPECT_EQ(b.CreateLike(nullptr), 0);
    EXPECT_EQ(b.width(), 4);
}

TEST(ImageBuffer, ReleaseEmptiesAndKeepsHeaderSize) {
    CImageBuffer b;
    EXPECT_TRUE(b.empty());
    EXPECT_EQ(b.header().biSize, 40u);
    ASSERT_EQ(b.Create(7, 3, 24), 1);
    b.Release();
    EXPECT_TRUE(b.empty());
    EXPECT_EQ(b.width(), 0);
    EXPECT_EQ(b.height(), 0);
    EXPECT_EQ(b.stride(), 0);
    EXPECT_EQ(b.bits_per_pixel(), 0);
    EXPECT_EQ(b.header().biSize, 40u);
    EXPECT_EQ(b.header().biWidth, 0);
    b.Release();  // twice is harmless
}

TEST(ImageBuffer, GreyRampForEightBitsOnly) {
    CImageBuffer b;
    ASSERT_EQ(b.Create(2, 2, 8), 1);
    for (int i = 0; i < 256; ++i) {
        const RgbQuad& q = b.color_table()[i];
        ASSERT_EQ(q.rgbBlue, i);
        ASSERT_EQ(q.rgbGreen, i);
        ASSERT_EQ(q.rgbRed, i);
        ASSERT_EQ(q.rgbReserved, 0);
    }
    ASSERT_EQ(b.Create(2, 2, 24), 1);
    EXPECT_EQ(b.color_table()[255].rgbRed, 0);
}

TEST(ImageBuffer, CreateLikeCopiesFormatWithOwnZeroedStore) {
    CImageBuffer a;
    ASSERT_EQ(a.Create(9, 5, 24), 1);
    std::memset(a.pixels(), 0xAB, a.store_size());
    CImageBuffer b;
    ASSERT_EQ(b.CreateLike(&a), 1);
    EXPECT_EQ(b.width(), 9);
    EXPECT_EQ(b.height(), 5);
    EXPECT_EQ(b.stride(), a.stride());
    EXPECT_EQ(b.bits_per_pixel(), 24);
    EXPECT_EQ(std::memcmp(&b.header(), &a.header(), sizeof(BitmapInfoHeader)), 0);
    EXPECT_NE(b.pixels(), a.pixels());
    for (std::size_t i = 0; i < b.store_size(); ++i) ASSERT_EQ(b.pixels()[i], 0);
    // Re-creating at the same size still gives a fresh, zeroed store.
    std::memset(b.pixels(), 1, b.store_size());
    ASSERT_EQ(b.CreateLike(&a), 1);
    EXPECT_EQ(b.pixels()[0], 0);
    // A buffer shaped like itself keeps its format.
    ASSERT_EQ(b.CreateLike(&b), 1);
    EXPECT_EQ(b.width(), 9);
}

TEST(ImageBuffer, SectionsForScreenFormatsHeapForDeepOnes) {
    for (const std::uint16_t bits : {8, 16, 24, 32}) {
        CImageBuffer b;
        ASSERT_EQ(b.Create(6, 4, bits), 1);
        EXPECT_NE(b.device_context(), nullptr) << bits;
        EXPECT_FALSE(b.on_heap());
        EXPECT_EQ(b.device_context()->bitmap()->pixels(), b.pixels());
    }
    for (const std::uint16_t bits : {48, 64}) {
        CImageBuffer b;
        ASSERT_EQ(b.Create(6, 4, bits), 1);
        EXPECT_EQ(b.device_context(), nullptr) << bits;
        EXPECT_TRUE(b.on_heap());
        for (std::size_t i = 0; i < b.store_size(); ++i) ASSERT_EQ(b.pixels()[i], 0);
    }
}

TEST(ImageBuffer, CallerColourEntriesGoToTheBitmapUntilRecreated) {
    CImageBuffer b;
    ASSERT_EQ(b.Create(4, 4, 8), 1);
    const RgbQuad red[2] = {{0, 0, 255, 0}, {0, 0, 200, 0}};
    EXPECT_EQ(b.SetColorTable(CImageBuffer::kApplyEntries, red, 10, 2), 1);
    RgbQuad got[2];
    ASSERT_EQ(platform::get_dib_color_table(b.device_context(), 10, 2, got), 2u);
    EXPECT_EQ(got[0], red[0]);
    EXPECT_EQ(got[1], red[1]);
    ASSERT_EQ(b.Create(4, 4, 8), 1);
    ASSERT_EQ(platform::get_dib_color_table(b.device_context(), 10, 1, got), 1u);
    EXPECT_EQ(got[0], (RgbQuad{10, 10, 10, 0}));
    EXPECT_EQ(b.SetColorTable(7, nullptr, 0, 0), 1);  // unknown modes do nothing
}

TEST(ImageBuffer, DrawFromCopiesThroughThePlatform) {
    CImageBuffer src, dst, deep;
    ASSERT_EQ(src.Create(4, 3, 24), 1);
    ASSERT_EQ(dst.Create(4, 3, 32), 1);
    for (std::size_t i = 0; i < src.store_size(); ++i) src.pixels()[i] = static_cast<std::uint8_t>(i);
    EXPECT_EQ(dst.DrawFrom(src, nullptr, 0, 0), 1);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(dst.pixels()[y * dst.stride() + 4 * x + c], src.pixels()[y * src.stride() + 3 * x + c]);
    // A heap buffer has no context: the block copy fails.
    ASSERT_EQ(deep.Create(4, 3, 48), 1);
    EXPECT_EQ(dst.DrawFrom(deep, nullptr, 0, 0), 0);
}

}  // namespace
}  // namespace zbx::pipeline
