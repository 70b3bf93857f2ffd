// Sharpening: flat pictures, step edges, the untouched frame, and every
// variant against a plain 16-sample blur and the term table.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "adjust_test_support.h"
#include "pipeline/adjust_sharpness.h"

namespace zbx::pipeline {
namespace {

using testing::call;
using testing::Frame;
using testing::kModeBytes;

bool wide(int mode) { return mode == kModeMono10 || mode >= kModeColor48; }
int channels_of(int mode) { return mode <= kModeMono10 ? 1 : 3; }

// Blur from a 4 x 4 block, then the table term (s * (i - max)) / 10.
Frame ref_sharpen(const Frame& src, const Frame& dst_before, Rect r, std::int32_t dx,
                  std::int32_t dy, std::int32_t s, int mode) {
    const std::int32_t maximum = wide(mode) ? 4095 : 255;
    std::vector<std::int32_t> term(2 * maximum + 2);
    for (std::int32_t i = 0; i < static_cast<std::int32_t>(term.size()); ++i) {
        term[i] = (s * (i - maximum)) / 10;
    }
    Frame out = dst_before;
    for (std::int32_t y = 2; y <= r.height() - 3; ++y) {
        for (std::int32_t x = 2; x <= r.width() - 3; ++x) {
            for (int c = 0; c < channels_of(mode); ++c) {
                std::int32_t sum = 0;
                for (std::int32_t yy = y - 2; yy <= y + 1; ++yy)
                    for (std::int32_t xx = x - 2; xx <= x + 1; ++xx)
                        sum += src.get(r.left + xx, r.top + yy, c);
                const std::int32_t blur = sum >> 4;
                const std::int32_t v = src.get(r.left + x, r.top + y, c);
                std::int32_t o = v + term[v - blur + maximum];
                o = o < 0 ? 0 : (o > maximum ? maximum : o);
                out.set(dx + x, dy + y, c, o);
            }
        }
    }
    return out;
}

TEST(AdjustSharpness, FlatPictureUnchanged) {
    for (int mode = 0; mode < 6; ++mode) {
        Frame f(12, 10, kModeBytes[mode]);
        f.fill(wide(mode) ? 2000 : 117);
        const Frame before = f;
        Frame scratch(12, 10, kModeBytes[mode]);
        ASSERT_EQ(apply_sharpness(f.plane(), scratch.plane(), mode, AdjustRecord{10, 12}), 1);
        EXPECT_EQ(f.store, before.store) << mode;
    }
}

TEST(AdjustSharpness, StepEdgeOvershootsAndLimits) {
    // Columns 0..5 dark, 6..11 bright.
    Frame f(12, 8, 1);
    for (std::int32_t y = 0; y < 8; ++y)
        for (std::int32_t x = 0; x < 12; ++x) f.set(x, y, 0, x < 6 ? 40 : 200);
    Frame scratch(12, 8, 1);
    ASSERT_EQ(apply_sharpness(f.plane(), scratch.plane(), kModeMono8, AdjustRecord{10, 12}), 1);
    // x = 6: block covers columns 4..7 -> blur 120; 200 + (200 - 120) = 280 -> 255.
    EXPECT_EQ(f.get(6, 3), 255);
    // x = 5: blur (40*3 + 200) * 4 / 16 = 80; 40 + (40 - 80) = 0.
    EXPECT_EQ(f.get(5, 3), 0);
    // x = 7: blur (40 + 200*3) / 4 = 160; 200 + 40 = 240.
    EXPECT_EQ(f.get(7, 3), 240);
    // x = 4: block 2..5, all dark.
    EXPECT_EQ(f.get(4, 3), 40);
    // The two-pixel frame keeps its values.
    EXPECT_EQ(f.get(1, 3), 40);
    EXPECT_EQ(f.get(10, 3), 200);
    EXPECT_EQ(f.get(6, 0), 200);
    EXPECT_EQ(f.get(6, 7), 200);
    // Sharpness 3: 200 + trunc(3 * 80 / 10) = 224; 40 + trunc(3 * -40 / 10) = 28.
    f.fill(0);
    for (std::int32_t y = 0; y < 8; ++y)
        for (std::int32_t x = 0; x < 12; ++x) f.set(x, y, 0, x < 6 ? 40 : 200);
    apply_sharpness(f.plane(), scratch.plane(), kModeMono8, AdjustRecord{3, 12});
    EXPECT_EQ(f.get(6, 4), 224);
    EXPECT_EQ(f.get(5, 4), 28);
}

TEST(AdjustSharpness, EveryVariantMatchesPlainBlur) {
    std::mt19937 rng(11);
    for (int mode = 0; mode < 6; ++mode) {
        for (std::int32_t s : {1, 7, 10, 30}) {
            Frame src(19, 14, kModeBytes[mode]);
            src.fill_random(rng, wide(mode) ? 4095 : 255);
            Frame dst(17, 15, kModeBytes[mode]);
            dst.fill_random(rng, 65535);
            const Rect r{2, 1, 17, 13};
            const Frame expected = ref_sharpen(src, dst, r, 1, 2, s, mode);
            AdjustRecord rec{s, 12};
            ASSERT_EQ(call(sharpness_callback(mode), dst, src, r, 1, 2, &rec), 1);
            EXPECT_EQ(dst.store, expected.store) << "mode " << mode << " s " << s;
        }
    }
}

// Rows longer than one chunk of the row kernel, odd widths, and the plain
// path forced as well as the SIMD one.
TEST(AdjustSharpness, WideRowsOnBothPathsMatchPlainBlur) {
    std::mt19937 rng(12);
    testing::on_every_path([&](const testing::KernelPath& path) {
        for (int mode = 0; mode < 6; ++mode) {
            for (std::int32_t width : {5, 6, 37, 261, 600}) {
                const std::int32_t s = static_cast<std::int32_t>(rng() % 30) + 1;
                Frame src(width + 3, 7, kModeBytes[mode]);
                src.fill_random(rng, wide(mode) ? 4095 : 255);
                Frame dst(width + 1, 8, kModeBytes[mode]);
                dst.fill_random(rng, 65535);
                const Rect r{3, 0, width + 3, 7};
                const Frame expected = ref_sharpen(src, dst, r, 1, 1, s, mode);
                AdjustRecord rec{s, 12};
                ASSERT_EQ(call(sharpness_callback(mode), dst, src, r, 1, 1, &rec), 1);
                EXPECT_EQ(dst.store, expected.store)
                    << "path " << path.name << " mode " << mode << " width " << width;
            }
        }
    });
}

// Every centre value v with every blur a 4 x 4 block around it can have
// (the other fifteen samples all u) at every strength, through the whole
// sequence on every path: the SIMD terms divide by 10 with a multiply, which
// must truncate toward zero exactly as the division does.
TEST(AdjustSharpness, EveryCentreAndBlurAtEveryStrength) {
    constexpr std::int32_t kBlocks = 256 * 256;
    Frame original(4 * kBlocks + 4, 5, 1);
    for (std::int32_t i = 0; i < kBlocks; ++i) {
        const std::int32_t u = i / 256;
        for (std::int32_t y = 0; y < 5; ++y)
            for (std::int32_t x = 4 * i; x < 4 * i + 4; ++x) original.set(x, y, 0, u);
        original.set(4 * i + 2, 2, 0, i % 256);
    }
    Frame scratch(original.width, 5, 1);
    testing::on_every_path([&](const testing::KernelPath& path) {
        for (std::int32_t s = 1; s <= 30; ++s) {
            Frame f = original;
            ApplyAdjustments(f.plane(), scratch.plane(), kModeMono8,
                             AdjustmentValues{0, 0, 0, 0, s, 100});
            for (std::int32_t i = 0; i < kBlocks; ++i) {
                const std::int32_t u = i / 256;
                const std::int32_t v = i % 256;
                const std::int32_t blur = (15 * u + v) >> 4;
                const std::int32_t want = std::clamp(v + s * (v - blur) / 10, 0, 255);
                ASSERT_EQ(f.get(4 * i + 2, 2), want)
                    << path.name << " s " << s << " v " << v << " blur " << blur;
            }
        }
    });
}

TEST(AdjustSharpness, NeedsAScratchOfTheSameFormat) {
    Frame f(8, 8, 3);
    f.fill(50);
    f.set(4, 4, 0, 250);
    const Frame before = f;
    Frame wrong(8, 7, 3);
    EXPECT_EQ(apply_sharpness(f.plane(), wrong.plane(), kModeColor24, AdjustRecord{10, 12}), 0);
    EXPECT_EQ(apply_sharpness(f.plane(), f.plane(), kModeColor24, AdjustRecord{10, 12}), 0);
    EXPECT_EQ(f.store, before.store);
    // Pictures too small for a two-pixel frame are left as they are.
    Frame tiny(4, 4, 1);
    tiny.fill(10);
    tiny.set(2, 2, 0, 200);
    const Frame tiny_before = tiny;
    Frame tiny_scratch(4, 4, 1);
    EXPECT_EQ(apply_sharpness(tiny.plane(), tiny_scratch.plane(), kModeMono8, AdjustRecord{30, 12}),
              1);
    EXPECT_EQ(tiny.store, tiny_before.store);
}

}  // namespace
}  // namespace zbx::pipeline

namespace zbx::pipeline {
namespace {

// The 8-bit sequence row called directly on every vector target, each
// source row and the destination in a store of exactly its own bytes (so
// that the address sanitizer sees any read or write past a row), at widths
// around the vector steps and the 2048-byte chunk: every written byte is
// the sharpened value (the source value in the two-pixel frame), with a
// table its entry (also a linear table given with its linear form), and
// fourth bytes keep what the destination had.
TEST(AdjustSharpness, SequenceRowsStayInsideTheirRows) {
    std::mt19937 rng(52);
    std::vector<std::uint8_t> random_lut(256);
    for (auto& e : random_lut) e = static_cast<std::uint8_t>(rng());
    for (const testing::KernelPath& path : testing::kernel_paths()) {
        if (path.plain) continue;
        simd::force_target(path.target);
        for (int bpp : {1, 3, 4}) {
            for (std::int32_t width = 5; width <= 40; ++width) {
                for (std::int32_t w : {width, 2048 / bpp + width - 20, 4096 / bpp + width - 20}) {
                    const std::size_t n = static_cast<std::size_t>(w) * bpp;
                    std::vector<std::uint8_t> rows[4];
                    for (auto& r : rows) {
                        r.resize(n);
                        for (auto& b : r) b = static_cast<std::uint8_t>(rng());
                    }
                    const std::uint8_t* src[4] = {rows[0].data(), rows[1].data(), rows[2].data(),
                                                  rows[3].data()};
                    std::vector<std::uint8_t> before(n);
                    for (auto& b : before) b = static_cast<std::uint8_t>(rng());
                    const std::int32_t s = std::uniform_int_distribution<std::int32_t>(1, 30)(rng);
                    // A linear table: a random slope below 12.
                    const std::int32_t slope = std::uniform_int_distribution<std::int32_t>(0, 12 * 65536 - 1)(rng);
                    std::vector<std::uint8_t> linear_lut(256);
                    for (std::int32_t v = 0; v < 256; ++v) {
                        linear_lut[v] = static_cast<std::uint8_t>(
                            std::min<std::int64_t>(std::int64_t{v} * slope >> 16, 255));
                    }
                    kernels::ByteScale scale;
                    ASSERT_TRUE(kernels::find_byte_scale(linear_lut.data(), scale)) << slope;
                    for (const int table : {0, 1, 2}) {
                        const std::vector<std::uint8_t>& lut = table == 2 ? linear_lut : random_lut;
                        std::vector<std::uint8_t> want = before;
                        for (std::int32_t x = 0; x < w; ++x) {
                            const bool frame = x < 2 || x > w - 3;
                            for (int c = 0; c < std::min(bpp, 3); ++c) {
                                const std::size_t i = static_cast<std::size_t>(x) * bpp + c;
                                std::int32_t v = rows[2][i];
                                if (!frame) {
                                    std::int32_t sum = 0;
                                    for (const auto& r : rows)
                                        for (std::int32_t k = -2; k <= 1; ++k) sum += r[i + k * bpp];
                                    v = std::clamp(v + s * (v - (sum >> 4)) / 10, 0, 255);
                                }
                                want[i] = table != 0 ? lut[v] : static_cast<std::uint8_t>(v);
                            }
                        }
                        std::vector<std::uint8_t> got = before;
                        kernels::sharpen_row8(src, got.data(), w, bpp, s, table != 0 ? lut.data() : nullptr,
                                              table == 2 ? &scale : nullptr);
                        ASSERT_EQ(got, want) << path.name << " bpp " << bpp << " width " << w
                                             << " table " << table;
                    }
                }
            }
        }
    }
    simd::force_target(0);
}


}  // namespace
}  // namespace zbx::pipeline
