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
        ASSERT_EQ(q.blue, i);
        ASSERT_EQ(q.green, i);
        ASSERT_EQ(q.red, i);
        ASSERT_EQ(q.reserved, 0);
    }
    ASSERT_EQ(b.Create(2, 2, 24), 1);
    EXPECT_EQ(b.color_table()[255].red, 0);
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

}  // namespace
}  // namespace zbx::pipeline
