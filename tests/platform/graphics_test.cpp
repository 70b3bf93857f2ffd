// Bitmaps, memory contexts, colour tables and blits.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "platform/graphics.h"
#include "platform/window.h"

namespace zbx::platform {
namespace {

std::shared_ptr<Bitmap> make_bitmap(int width, int height, int bits, const ColorTable* table = nullptr) {
    BitmapInfoHeader header;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = static_cast<std::uint16_t>(bits);
    ColorTable grey{};
    for (std::size_t i = 0; i < grey.size(); ++i) {
        auto v = static_cast<std::uint8_t>(i);
        grey[i] = RgbQuad{v, v, v, 0};
    }
    return create_dib_section(header, table != nullptr ? *table : grey);
}

struct Bgr {
    std::uint8_t b, g, r;
    friend bool operator==(const Bgr&, const Bgr&) = default;
};

// Pixel at picture coordinates (y down from the top), as colour.
Bgr pixel(const Bitmap& bitmap, int x, int y) {
    const std::uint8_t* p = bitmap.picture_row(y) + x * bitmap.bits_per_pixel() / 8;
    if (bitmap.bits_per_pixel() == 8) {
        const RgbQuad& q = bitmap.colors()[*p];
        return {q.rgbBlue, q.rgbGreen, q.rgbRed};
    }
    return {p[0], p[1], p[2]};
}

void fill_pattern(Bitmap& bitmap, unsigned seed) {
    std::mt19937 random(seed);
    for (std::size_t i = 0; i < bitmap.size_bytes(); ++i) {
        bitmap.pixels()[i] = static_cast<std::uint8_t>(random());
    }
}

struct Selected {
    std::unique_ptr<DeviceContext> dc = create_compatible_dc();
    std::shared_ptr<Bitmap> bitmap;
    explicit Selected(std::shared_ptr<Bitmap> b) : bitmap(std::move(b)) {
        EXPECT_NE(dc->select_bitmap(bitmap), nullptr);
    }
};

TEST(Bitmaps, SectionsHaveAlignedRowsZeroedStoreAndTheirOrientation) {
    auto b = make_bitmap(5, 3, 8);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->stride(), 8);
    EXPECT_EQ(b->size_bytes(), 24u);
    EXPECT_TRUE(b->bottom_up());
    EXPECT_EQ(b->colors()[255], (RgbQuad{255, 255, 255, 0}));
    for (std::size_t i = 0; i < b->size_bytes(); ++i) ASSERT_EQ(b->pixels()[i], 0);
    EXPECT_EQ(b->picture_row(0), b->pixels() + 2 * 8);  // top of the picture is the last memory row

    auto c = make_bitmap(1, -2, 24);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->stride(), 4);
    EXPECT_EQ(c->height(), 2);
    EXPECT_FALSE(c->bottom_up());
    EXPECT_EQ(c->picture_row(0), c->pixels());
    EXPECT_EQ(make_bitmap(1281, 1, 16)->stride(), 2564);

    // No section for deeper pixels or malformed headers.
    EXPECT_EQ(make_bitmap(4, 4, 48), nullptr);
    EXPECT_EQ(make_bitmap(4, 4, 64), nullptr);
    EXPECT_EQ(make_bitmap(0, 4, 24), nullptr);
    EXPECT_EQ(make_bitmap(4, 0, 24), nullptr);
    EXPECT_EQ(make_bitmap(1 << 20, 1 << 20, 32), nullptr);
    BitmapInfo info;
    info.bmiHeader.biWidth = 2;
    info.bmiHeader.biHeight = 2;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 8;
    info.bmiColors[7] = RgbQuad{1, 2, 3, 0};
    auto d = create_dib_section(info);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->colors()[7], (RgbQuad{1, 2, 3, 0}));
    EXPECT_EQ(create_dib_section(info, 1), nullptr);  // palette-index usage is not offered
    info.bmiHeader.biCompression = 3;
    EXPECT_EQ(create_dib_section(info), nullptr);
}

TEST(MemoryContexts, SelectReturnsThePreviousBitmapAndABitmapLivesInOneContext) {
    auto dc = create_compatible_dc();
    ASSERT_NE(dc, nullptr);
    EXPECT_TRUE(dc->is_memory());
    const std::shared_ptr<Bitmap> stock = dc->bitmap();
    EXPECT_EQ(stock->width(), 1);

    auto bitmap = make_bitmap(4, 4, 24);
    std::shared_ptr<Bitmap> previous = dc->select_bitmap(bitmap);
    EXPECT_EQ(previous, stock);
    EXPECT_EQ(dc->bitmap(), bitmap);

    auto other = create_compatible_dc();
    EXPECT_EQ(other->select_bitmap(bitmap), nullptr);  // already selected elsewhere
    EXPECT_EQ(other->select_bitmap(nullptr), nullptr);
    EXPECT_EQ(other->bitmap(), stock);

    EXPECT_EQ(dc->select_bitmap(previous), bitmap);  // restore
    EXPECT_NE(other->select_bitmap(bitmap), nullptr);
    other.reset();  // destroying the context frees the bitmap for others
    EXPECT_NE(dc->select_bitmap(bitmap), nullptr);

    // The pixel store outlives the context as long as the bitmap is held.
    std::uint8_t* pixels = bitmap->pixels();
    dc.reset();
    pixels[0] = 1;
    EXPECT_EQ(bitmap->pixels()[0], 1);
}

TEST(ColorTables, SetAndGetOnTheSelectedEightBitBitmap) {
    Selected s(make_bitmap(2, 2, 8));
    std::array<RgbQuad, 3> colours{RgbQuad{1, 2, 3, 0}, RgbQuad{4, 5, 6, 0}, RgbQuad{7, 8, 9, 0}};
    EXPECT_EQ(set_dib_color_table(s.dc.get(), 10, 3, colours.data()), 3u);
    std::array<RgbQuad, 4> back{};
    EXPECT_EQ(get_dib_color_table(s.dc.get(), 9, 4, back.data()), 4u);
    EXPECT_EQ(back[0], (RgbQuad{9, 9, 9, 0}));  // untouched grey entry
    EXPECT_EQ(back[1], colours[0]);
    EXPECT_EQ(back[3], colours[2]);

    // Cut at the end of the table; nothing past it.
    EXPECT_EQ(set_dib_color_table(s.dc.get(), 254, 3, colours.data()), 2u);
    EXPECT_EQ(s.bitmap->colors()[255], colours[1]);
    EXPECT_EQ(set_dib_color_table(s.dc.get(), 256, 1, colours.data()), 0u);
    EXPECT_EQ(get_dib_color_table(s.dc.get(), 300, 1, back.data()), 0u);

    Selected colour(make_bitmap(2, 2, 24));
    EXPECT_EQ(set_dib_color_table(colour.dc.get(), 0, 1, colours.data()), 0u);
    EXPECT_EQ(get_dib_color_table(colour.dc.get(), 0, 1, back.data()), 0u);
    EXPECT_EQ(set_dib_color_table(nullptr, 0, 1, colours.data()), 0u);
    EXPECT_EQ(set_dib_color_table(s.dc.get(), 0, 1, nullptr), 0u);
}

TEST(BlockCopy, PalettisedEightBitIntoTwentyFourBitHonoursRowOrder) {
    ColorTable table{};
    for (std::size_t i = 0; i < table.size(); ++i) {
        table[i] = RgbQuad{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i),
                           static_cast<std::uint8_t>(i / 2), 0};
    }
    Selected src(make_bitmap(3, 2, 8, &table));
    // Memory row 0 of a bottom-up bitmap is the picture's bottom row.
    src.bitmap->pixels()[0] = 10;
    src.bitmap->pixels()[src.bitmap->stride()] = 20;  // memory row 1: the top row
    Selected dst(make_bitmap(3, 2, 24));
    ASSERT_TRUE(bit_blt(dst.dc.get(), 0, 0, 3, 2, src.dc.get(), 0, 0, kSrcCopy));
    EXPECT_EQ(pixel(*dst.bitmap, 0, 1), (Bgr{10, 245, 5}));
    EXPECT_EQ(pixel(*dst.bitmap, 0, 0), (Bgr{20, 235, 10}));
    EXPECT_EQ(dst.bitmap->pixels()[0], 10);  // bottom row stays in memory row 0

    // Into a window the top picture row is the first row read back.
    ZbxWindow w = create_window(WindowCreateInfo{kApplicationWindowClass, "", kWsVisible, 0, 0, 0, 3, 2});
    ASSERT_NE(w, nullptr);
    auto wdc = get_dc(w);
    ASSERT_TRUE(bit_blt(wdc.get(), 0, 0, 3, 2, src.dc.get(), 0, 0, kSrcCopy));
    std::array<std::uint8_t, 2 * 9> read{};
    ASSERT_TRUE(read_client_pixels(w, read.data(), 9));
    EXPECT_EQ(read[0], 20);
    EXPECT_EQ(read[9], 10);
    destroy_window(w);
}

TEST(BlockCopy, TwentyFourAndThirtyTwoBitSourcesAtAnOffsetClippedAtTheEdges) {
    for (int src_bits : {24, 32}) {
        SCOPED_TRACE(src_bits);
        Selected src(make_bitmap(4, 3, src_bits));
        fill_pattern(*src.bitmap, 7);
        Selected dst(make_bitmap(5, 4, 24));
        fill_pattern(*dst.bitmap, 8);
        std::vector<std::uint8_t> before(dst.bitmap->pixels(), dst.bitmap->pixels() + dst.bitmap->size_bytes());

        // Lands 3 columns in and one row up: only 2 x 3 pixels fit.
        ASSERT_TRUE(bit_blt(dst.dc.get(), 3, -1, 4, 3, src.dc.get(), 0, 0, kSrcCopy));
        for (int y = 0; y < 4; ++y) {
            for (int x = 0; x < 5; ++x) {
                bool covered = x >= 3 && y <= 1;
                Bgr expected = covered ? pixel(*src.bitmap, x - 3, y + 1) : Bgr{};
                if (covered) {
                    EXPECT_EQ(pixel(*dst.bitmap, x, y), expected) << x << "," << y;
                } else {
                    const std::uint8_t* old = before.data() +
                                              (dst.bitmap->picture_row(y) - dst.bitmap->pixels()) + 3 * x;
                    EXPECT_EQ(pixel(*dst.bitmap, x, y), (Bgr{old[0], old[1], old[2]})) << x << "," << y;
                }
            }
        }
        // A source rectangle hanging out of the source copies only what exists.
        ASSERT_TRUE(bit_blt(dst.dc.get(), 0, 0, 5, 4, src.dc.get(), 2, 1, kSrcCopy));
        EXPECT_EQ(pixel(*dst.bitmap, 1, 1), pixel(*src.bitmap, 3, 2));
    }
}

TEST(BlockCopy, OverlappingCopyWithinOneBitmapReadsBeforeWriting) {
    Selected s(make_bitmap(6, 1, 24));
    for (int x = 0; x < 6; ++x) s.bitmap->picture_row(0)[3 * x] = static_cast<std::uint8_t>(x);
    ASSERT_TRUE(bit_blt(s.dc.get(), 1, 0, 5, 1, s.dc.get(), 0, 0, kSrcCopy));
    for (int x = 1; x < 6; ++x) EXPECT_EQ(s.bitmap->picture_row(0)[3 * x], x - 1);
}

TEST(BlockCopy, EightBitDestinationsMapToTheirOwnTable) {
    ColorTable inverted{};
    for (std::size_t i = 0; i < inverted.size(); ++i) {
        auto v = static_cast<std::uint8_t>(255 - i);
        inverted[i] = RgbQuad{v, v, v, 0};
    }
    Selected src(make_bitmap(2, 1, 8));
    src.bitmap->pixels()[0] = 3;
    src.bitmap->pixels()[1] = 200;
    Selected same(make_bitmap(2, 1, 8));
    ASSERT_TRUE(bit_blt(same.dc.get(), 0, 0, 2, 1, src.dc.get(), 0, 0, kSrcCopy));
    EXPECT_EQ(same.bitmap->pixels()[1], 200);
    Selected other(make_bitmap(2, 1, 8, &inverted));
    ASSERT_TRUE(bit_blt(other.dc.get(), 0, 0, 2, 1, src.dc.get(), 0, 0, kSrcCopy));
    EXPECT_EQ(other.bitmap->pixels()[0], 252);  // grey 3 is entry 252 there
    EXPECT_EQ(other.bitmap->pixels()[1], 55);
}

TEST(BlockCopy, RefusesWhatItCannotDo) {
    Selected a(make_bitmap(2, 2, 24));
    Selected grey(make_bitmap(2, 2, 8));
    Selected sixteen(make_bitmap(2, 2, 16));
    EXPECT_FALSE(bit_blt(grey.dc.get(), 0, 0, 2, 2, a.dc.get(), 0, 0, kSrcCopy));
    EXPECT_FALSE(bit_blt(a.dc.get(), 0, 0, 2, 2, sixteen.dc.get(), 0, 0, kSrcCopy));
    EXPECT_FALSE(bit_blt(a.dc.get(), 0, 0, 2, 2, grey.dc.get(), 0, 0, 0x00EE0086));
    EXPECT_FALSE(bit_blt(nullptr, 0, 0, 2, 2, grey.dc.get(), 0, 0, kSrcCopy));
    EXPECT_FALSE(bit_blt(a.dc.get(), 0, 0, 2, 2, nullptr, 0, 0, kSrcCopy));
    EXPECT_FALSE(bit_blt(a.dc.get(), 0, 0, -2, 2, grey.dc.get(), 0, 0, kSrcCopy));
    EXPECT_FALSE(stretch_blt(a.dc.get(), 0, 0, 2, 2, grey.dc.get(), 0, 0, 0, 2, kSrcCopy));
    // Entirely outside: nothing to draw, which is no failure.
    EXPECT_TRUE(bit_blt(a.dc.get(), 50, 50, 2, 2, grey.dc.get(), 0, 0, kSrcCopy));
}

TEST(StretchCopy, NegativeSourceHeightFromTheLastRowTurnsThePictureOver) {
    for (int src_bits : {8, 24, 32}) {
        SCOPED_TRACE(src_bits);
        // A buffer holding rows top-first although its header says bottom-up.
        Selected src(make_bitmap(4, 3, src_bits));
        fill_pattern(*src.bitmap, 3);
        ZbxWindow w = create_window(WindowCreateInfo{kApplicationWindowClass, "", kWsVisible, 0, 0, 0, 4, 3});
        auto wdc = get_dc(w);
        ASSERT_TRUE(stretch_blt(wdc.get(), 0, 0, 4, 3, src.dc.get(), 0, 2, 4, -3, kSrcCopy));
        std::array<std::uint8_t, 12 * 3> shown{};
        ASSERT_TRUE(read_client_pixels(w, shown.data(), 12));
        // Window row r shows memory row r of the buffer.
        for (int r = 0; r < 3; ++r) {
            for (int x = 0; x < 4; ++x) {
                Bgr expected = pixel(*src.bitmap, x, 2 - r);
                const std::uint8_t* got = shown.data() + r * 12 + 3 * x;
                EXPECT_EQ((Bgr{got[0], got[1], got[2]}), expected) << x << "," << r;
            }
        }
        destroy_window(w);
    }
}

TEST(StretchCopy, NearestNeighbourShrinksAndEnlarges) {
    Selected src(make_bitmap(4, 4, 24));
    fill_pattern(*src.bitmap, 5);
    Selected half(make_bitmap(2, 2, 24));
    ASSERT_TRUE(stretch_blt(half.dc.get(), 0, 0, 2, 2, src.dc.get(), 0, 0, 4, 4, kSrcCopy));
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 2; ++x) EXPECT_EQ(pixel(*half.bitmap, x, y), pixel(*src.bitmap, 2 * x, 2 * y));
    }
    Selected twice(make_bitmap(8, 6, 32));
    ASSERT_TRUE(stretch_blt(twice.dc.get(), 0, 0, 8, 6, src.dc.get(), 0, 1, 4, 3, kSrcCopy));
    for (int y = 0; y < 6; ++y) {
        for (int x = 0; x < 8; ++x) {
            EXPECT_EQ(pixel(*twice.bitmap, x, y), pixel(*src.bitmap, x / 2, 1 + y / 2));
        }
    }
    EXPECT_EQ(twice.bitmap->picture_row(0)[3], 0);  // fourth byte of a 32-bit destination
}

TEST(StretchCopy, OppositeWidthsMirrorLeftAndRight) {
    Selected src(make_bitmap(5, 1, 24));
    fill_pattern(*src.bitmap, 9);
    Selected dst(make_bitmap(5, 1, 24));
    ASSERT_TRUE(stretch_blt(dst.dc.get(), 4, 0, -5, 1, src.dc.get(), 0, 0, 5, 1, kSrcCopy));
    for (int x = 0; x < 5; ++x) EXPECT_EQ(pixel(*dst.bitmap, x, 0), pixel(*src.bitmap, 4 - x, 0));
}

// Plain per-pixel model of the stretching copy, checked against the real one
// over random rectangles, mirrors, clipping and formats.
void reference_stretch(Bitmap& dst, int x, int y, int w, int h, const Bitmap& src, int sx, int sy,
                       int sw, int sh) {
    auto sign = [](int v) { return v < 0 ? -1 : 1; };
    int aw = std::abs(w), ah = std::abs(h), asw = std::abs(sw), ash = std::abs(sh);
    for (int j = 0; j < ah; ++j) {
        int dy = y + sign(h) * j;
        int py = sy + sign(sh) * static_cast<int>(std::int64_t{j} * ash / ah);
        for (int i = 0; i < aw; ++i) {
            int dx = x + sign(w) * i;
            int px = sx + sign(sw) * static_cast<int>(std::int64_t{i} * asw / aw);
            if (dx < 0 || dy < 0 || dx >= dst.width() || dy >= dst.height()) continue;
            if (px < 0 || py < 0 || px >= src.width() || py >= src.height()) continue;
            Bgr c = pixel(src, px, py);
            std::uint8_t* p = dst.picture_row(dy) + dx * dst.bits_per_pixel() / 8;
            p[0] = c.b;
            p[1] = c.g;
            p[2] = c.r;
            if (dst.bits_per_pixel() == 32) {  // the fourth byte survives only 32 to 32
                p[3] = src.bits_per_pixel() == 32 ? src.picture_row(py)[4 * px + 3] : 0;
            }
        }
    }
}

TEST(StretchCopy, MatchesAPlainPerPixelModel) {
    std::mt19937 random(42);
    auto between = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
    for (int round = 0; round < 2000; ++round) {
        int src_bits = std::array{8, 24, 32}[static_cast<std::size_t>(between(0, 2))];
        int dst_bits = between(0, 1) ? 24 : 32;
        int src_height = between(1, 16) * (between(0, 1) ? 1 : -1);
        int dst_height = between(1, 16) * (between(0, 1) ? 1 : -1);
        Selected src(make_bitmap(between(1, 16), src_height, src_bits));
        Selected dst(make_bitmap(between(1, 16), dst_height, dst_bits));
        Selected expect(make_bitmap(dst.bitmap->width(), dst_height, dst_bits));
        fill_pattern(*src.bitmap, static_cast<unsigned>(round));
        fill_pattern(*dst.bitmap, static_cast<unsigned>(round) + 1000);
        std::copy_n(dst.bitmap->pixels(), dst.bitmap->size_bytes(), expect.bitmap->pixels());

        // Mostly inside the bitmaps, sometimes hanging over an edge.
        auto extent = [&] { return between(1, 20) * (between(0, 3) == 0 ? -1 : 1); };
        auto origin = [&](int size) { return between(-3, size + 2); };
        int x = origin(dst.bitmap->width()), y = origin(dst.bitmap->height()), w = extent(), h = extent();
        int sx = origin(src.bitmap->width()), sy = origin(src.bitmap->height()), sw = extent(), sh = extent();
        if (between(0, 2) == 0) sw = between(0, 1) ? w : -w;  // unscaled, maybe mirrored
        if (between(0, 2) == 0) sh = between(0, 1) ? h : -h;
        bool same = between(0, 3) == 0 && w == sw && h == sh && w > 0 && h > 0;
        SCOPED_TRACE(testing::Message() << "round " << round << " " << src_bits << "->" << dst_bits << " dst "
                                        << x << "," << y << " " << w << "x" << h << " src " << sx << ","
                                        << sy << " " << sw << "x" << sh);
        reference_stretch(*expect.bitmap, x, y, w, h, *src.bitmap, sx, sy, sw, sh);
        bool ok = same ? bit_blt(dst.dc.get(), x, y, w, h, src.dc.get(), sx, sy, kSrcCopy)
                       : stretch_blt(dst.dc.get(), x, y, w, h, src.dc.get(), sx, sy, sw, sh, kSrcCopy);
        ASSERT_TRUE(ok);
        ASSERT_EQ(0, std::memcmp(dst.bitmap->pixels(), expect.bitmap->pixels(), dst.bitmap->size_bytes()));
    }
}

}  // namespace
}  // namespace zbx::platform
