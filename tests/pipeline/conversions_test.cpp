#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "pipeline/conversions.h"
#include "pipeline/image_buffer.h"
#include "pipeline/pixel_access.h"

namespace zbx::pipeline {
namespace {

std::uint16_t s16(const CImageBuffer& b, int x, int y, int channel = 0) {
    return load16(b.pixels() + y * b.stride() + x * b.bytes_per_pixel() + 2 * channel);
}
const std::uint8_t* px(const CImageBuffer& b, int x, int y) {
    return b.pixels() + y * b.stride() + x * b.bytes_per_pixel();
}
void fill_random(CImageBuffer& b, unsigned seed) {
    std::mt19937 rng(seed);
    for (std::size_t i = 0; i < b.store_size(); ++i) b.pixels()[i] = static_cast<std::uint8_t>(rng());
}

TEST(Conversions, RestrideMovesPackedRowsToStridePositions) {
    for (const std::uint16_t bits : {8, 16}) {
        CImageBuffer raw;
        ASSERT_EQ(raw.Create(5, 4, bits), 1);  // stride 8 or 12, packed rows 5 or 10 bytes
        const int bpp = bits / 8;
        const int packed = 5 * bpp;
        for (int i = 0; i < 4 * packed; ++i) raw.pixels()[i] = static_cast<std::uint8_t>(i + 1);
        EXPECT_EQ(TransferRect(raw, Restride, raw, nullptr, 0, 0, nullptr, nullptr), 1);
        for (int row = 0; row < 4; ++row)
            for (int b = 0; b < packed; ++b)
                ASSERT_EQ(raw.pixels()[row * raw.stride() + b], row * packed + b + 1) << bits;
    }
}

TEST(Conversions, GreyReductionsAndShifts) {
    CImageBuffer g16, g8, out16;
    ASSERT_EQ(g16.Create(3, 2, 16), 1);
    ASSERT_EQ(g8.Create(3, 2, 8), 1);
    ASSERT_EQ(out16.Create(3, 2, 16), 1);
    const std::uint16_t values[2][3] = {{0x0FFF, 0x0123, 0x1234}, {0x0010, 0x03FF, 0xFFFF}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) store16(g16.pixels() + y * g16.stride() + 2 * x, values[y][x]);

    TransferRect(g8, Gray16To8By4, g16, nullptr, 0, 0, nullptr, nullptr);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) EXPECT_EQ(*px(g8, x, y), (values[y][x] >> 4) & 0xFF);

    TransferRect(g8, Gray16To8By4Flipped, g16, nullptr, 0, 0, nullptr, nullptr);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) EXPECT_EQ(*px(g8, x, y), (values[1 - y][x] >> 4) & 0xFF);

    TransferRect(g8, Gray16To8By2Flipped, g16, nullptr, 0, 0, nullptr, nullptr);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) EXPECT_EQ(*px(g8, x, y), (values[1 - y][x] >> 2) & 0xFF);

    TransferRect(out16, Gray12To16, g16, nullptr, 0, 0, nullptr, nullptr);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) EXPECT_EQ(s16(out16, x, y), static_cast<std::uint16_t>(values[y][x] << 4));

    TransferRect(out16, Gray10To16, g16, nullptr, 0, 0, nullptr, nullptr);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) EXPECT_EQ(s16(out16, x, y), static_cast<std::uint16_t>(values[y][x] << 6));
}

// Checks every pixel of a same-or-flipped colour conversion against `rule`.
template <class Rule>
void check_colour(RectCallback cb, int src_bits, int dst_bits, bool flip, Rule rule) {
    CImageBuffer src, dst;
    ASSERT_EQ(src.Create(7, 5, static_cast<std::uint16_t>(src_bits)), 1);
    ASSERT_EQ(dst.Create(7, 5, static_cast<std::uint16_t>(dst_bits)), 1);
    fill_random(src, 11u * src_bits + dst_bits);
    fill_random(dst, 5);
    ASSERT_EQ(TransferRect(dst, cb, src, nullptr, 0, 0, nullptr, nullptr), 1);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x)
            rule(px(dst, x, y), px(src, x, flip ? 4 - y : y));
}

TEST(Conversions, ColourToTwentyFourBits) {
    for (const int bits : {24, 32}) {
        check_colour(Color24CopyFlipped, bits, 24, true, [](const std::uint8_t* d, const std::uint8_t* s) {
            EXPECT_EQ(d[0], s[0]);
            EXPECT_EQ(d[1], s[1]);
            EXPECT_EQ(d[2], s[2]);
        });
        check_colour(Color24Swapped, bits, 24, false, [](const std::uint8_t* d, const std::uint8_t* s) {
            EXPECT_EQ(d[0], s[2]);
            EXPECT_EQ(d[1], s[1]);
            EXPECT_EQ(d[2], s[0]);
        });
    }
    check_colour(Color32To24, 32, 24, false, [](const std::uint8_t* d, const std::uint8_t* s) {
        EXPECT_EQ(std::memcmp(d, s, 3), 0);
    });
    for (const int bits : {48, 64}) {
        for (const bool flip : {false, true}) {
            check_colour(flip ? Color48To24By4Flipped : Color48To24By4, bits, 24, flip,
                         [](const std::uint8_t* d, const std::uint8_t* s) {
                             for (int c = 0; c < 3; ++c) EXPECT_EQ(d[c], (load16(s + 2 * c) >> 4) & 0xFF);
                         });
        }
    }
}

TEST(Conversions, SixteenBitChannelsShiftedForSavers) {
    struct Case {
        RectCallback cb;
        int shift;
        bool swap;
    };
    for (const Case c : {Case{Color48To48By4, 4, false}, Case{Color48To48By4Swapped, 4, true},
                         Case{Color48To48By6, 6, false}, Case{Color48To48By6Swapped, 6, true}}) {
        check_colour(c.cb, 48, 48, false, [&](const std::uint8_t* d, const std::uint8_t* s) {
            for (int ch = 0; ch < 3; ++ch)
                EXPECT_EQ(load16(d + 2 * ch),
                          static_cast<std::uint16_t>(load16(s + 2 * (c.swap ? 2 - ch : ch)) << c.shift));
        });
    }
    for (const int src_bits : {48, 64}) {
        for (const Case c : {Case{Color64By4Alpha, 4, false}, Case{Color64By4AlphaSwapped, 4, true},
                             Case{Color64By6Alpha, 6, false}, Case{Color64By6AlphaSwapped, 6, true}}) {
            check_colour(c.cb, src_bits, 64, false, [&](const std::uint8_t* d, const std::uint8_t* s) {
                for (int ch = 0; ch < 3; ++ch)
                    EXPECT_EQ(load16(d + 2 * ch),
                              static_cast<std::uint16_t>(load16(s + 2 * (c.swap ? 2 - ch : ch)) << c.shift));
                EXPECT_EQ(load16(d + 6), 0xFFFF);
            });
        }
    }
}

TEST(Conversions, AlphaComplementAndRowCopy) {
    check_colour(Color32Alpha, 32, 32, false, [](const std::uint8_t* d, const std::uint8_t* s) {
        EXPECT_EQ(std::memcmp(d, s, 3), 0);
        EXPECT_EQ(d[3], static_cast<std::uint8_t>(~s[3]));
    });
    for (const int bits : {8, 16, 24, 32}) {
        CImageBuffer src, dst;
        ASSERT_EQ(src.Create(5, 4, static_cast<std::uint16_t>(bits)), 1);
        ASSERT_EQ(dst.Create(5, 4, static_cast<std::uint16_t>(bits)), 1);
        fill_random(src, static_cast<unsigned>(bits));
        TransferRect(dst, RowCopyFlipped, src, nullptr, 0, 0, nullptr, nullptr);
        for (int y = 0; y < 4; ++y)
            EXPECT_EQ(std::memcmp(px(dst, 0, y), px(src, 0, 3 - y), static_cast<std::size_t>(src.stride())), 0);
    }
}

TEST(Conversions, ColourToGreyWeights) {
    CImageBuffer c, g;
    ASSERT_EQ(c.Create(4, 1, 24), 1);
    ASSERT_EQ(g.Create(4, 1, 8), 1);
    const std::uint8_t bgr[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
    std::memcpy(c.pixels(), bgr, sizeof bgr);
    TransferRect(g, ColorToGray, c, nullptr, 0, 0, nullptr, nullptr);
    EXPECT_EQ(g.pixels()[0], 28);
    EXPECT_EQ(g.pixels()[1], 150);
    EXPECT_EQ(g.pixels()[2], 76);
    EXPECT_EQ(g.pixels()[3], 255);
}

TEST(Conversions, ScalingHalvesFromTheBottomRow) {
    CImageBuffer src, dst;
    ASSERT_EQ(src.Create(1280, 720, 24), 1);
    ASSERT_EQ(dst.Create(640, 360, 24), 1);
    for (int y = 0; y < 720; ++y)
        for (int x = 0; x < 1280; ++x) {
            std::uint8_t* p = src.pixels() + y * src.stride() + 3 * x;
            p[0] = static_cast<std::uint8_t>(x);
            p[1] = static_cast<std::uint8_t>(x >> 8);
            p[2] = static_cast<std::uint8_t>(y);
        }
    EXPECT_EQ(TransferScaled(dst, ScaleColor24Flipped, src, nullptr, nullptr, nullptr, nullptr), 1);
    for (int i = 0; i < 360; ++i)
        for (int k = 0; k < 640; ++k) {
            const std::uint8_t* d = dst.pixels() + i * dst.stride() + 3 * k;
            const int sx = 2 * k;
            const int sy = 719 - 2 * i;
            ASSERT_EQ(d[0] | (d[1] << 8), sx);
            ASSERT_EQ(d[2], sy & 0xFF);
        }
}

TEST(Conversions, GreyScalingUpRepeatsPixels) {
    CImageBuffer src, dst;
    ASSERT_EQ(src.Create(3, 2, 8), 1);
    ASSERT_EQ(dst.Create(7, 5, 8), 1);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) src.pixels()[y * src.stride() + x] = static_cast<std::uint8_t>(10 * y + x);
    TransferScaled(dst, ScaleGray8Flipped, src, nullptr, nullptr, nullptr, nullptr);
    const float sx = 3.0f / 7.0f;
    const float sy = 2.0f / 5.0f;
    for (int i = 0; i < 5; ++i)
        for (int k = 0; k < 7; ++k) {
            const int a = static_cast<int>(static_cast<float>(i) * sy);
            const int c = static_cast<int>(static_cast<float>(k) * sx);
            EXPECT_EQ(dst.pixels()[i * dst.stride() + k], 10 * (1 - a) + c);
        }
}

}  // namespace
}  // namespace zbx::pipeline
