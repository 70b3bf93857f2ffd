// Brightness, contrast and gamma, and the adjustment sequence: hand-made
// edge values, and every variant against the plain formula on random
// pictures, including 16-bit samples beyond the 12-bit range.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <vector>

#include "adjust_test_support.h"
#include "pipeline/adjust.h"
#include "pipeline/adjust_brightness.h"
#include "pipeline/adjust_contrast.h"
#include "pipeline/adjust_gamma.h"
#include "pipeline/adjust_hue_saturation.h"
#include "pipeline/adjust_sharpness.h"

namespace zbx::pipeline {
namespace {

using testing::call;
using testing::Frame;
using testing::kModeBytes;

int channels_of(int mode) { return mode <= kModeMono10 ? 1 : 3; }
bool wide(int mode) { return mode == kModeMono10 || mode >= kModeColor48; }

// Straightforward formulas, one sample at a time.
std::int32_t ref_brightness(std::int32_t s, std::int32_t v, std::int32_t maximum) {
    float f = 1.0F;
    if (v < 0) f = static_cast<float>(1.0 - std::abs(v) * 0.00392156862745098);
    if (v > 0) f = static_cast<float>(1.0 + v * 0.0392156862745098);
    const auto r = static_cast<std::int32_t>(static_cast<float>(s) * f);
    return r < 0 ? 0 : (r > maximum ? maximum : r);
}

std::int32_t ref_contrast(std::int32_t s, std::int32_t m, int bits) {
    const std::int32_t n = 1 << bits;
    const std::int32_t o = m * (n / 256);
    if (s >= n) return n - 1;
    if (s < o) return 0;
    if (s > n - o - 1) return n - 1;
    return static_cast<std::int32_t>(static_cast<double>(n) / (n - 2 * o) * (s - o));
}

double ref_exponent(std::int32_t g) { return g <= 100 ? g / 100.0 : (g - 100) / 10.0 + 1.0; }

std::int32_t ref_gamma(std::int32_t s, std::int32_t g, int mode) {
    double e = ref_exponent(g);
    if (!wide(mode)) {
        if (mode != kModeMono8) e = std::min(std::max(e, 0.001), 99.999);
        return static_cast<std::int32_t>(std::pow(s / 255.0, e) * 255.0);
    }
    const std::int32_t i = std::min(s, 4095);
    return static_cast<std::int32_t>(std::pow(i / 4096.0, e) * 4095.0);
}

// Runs `cb` from a sub-rectangle of a random picture into another picture
// at an offset and checks every destination sample: processed channels
// inside the target area against `ref`, everything else unchanged.
void check_against_reference(int mode, RectCallback cb, void* params,
                             const std::function<std::int32_t(std::int32_t)>& ref,
                             unsigned seed, std::int32_t width = 16) {
    ASSERT_NE(cb, nullptr);
    std::mt19937 rng(seed);
    const std::int32_t bpp = kModeBytes[mode];
    Frame src(std::max(23, width + 4), 11, bpp);
    src.fill_random(rng, wide(mode) ? 4095 : 255);
    if (wide(mode)) {
        src.set(4, 3, 0, 4096);
        src.set(5, 3, 0, 65535);
    }
    Frame dst(std::max(20, width + 3), 12, bpp);
    dst.fill_random(rng, 65535);
    const Frame before = dst;
    const Rect rect{3, 2, 3 + width, 9};
    const std::int32_t dx = 2;
    const std::int32_t dy = 3;
    ASSERT_EQ(call(cb, dst, src, rect, dx, dy, params), 1);
    for (std::int32_t y = 0; y < dst.height; ++y) {
        for (std::int32_t x = 0; x < dst.width; ++x) {
            const bool inside =
                x >= dx && x < dx + rect.width() && y >= dy && y < dy + rect.height();
            for (int c = 0; c < dst.samples_per_pixel(); ++c) {
                if (inside && c < channels_of(mode)) {
                    const std::int32_t s = src.get(x - dx + rect.left, y - dy + rect.top, c);
                    ASSERT_EQ(dst.get(x, y, c), ref(s))
                        << "mode " << mode << " at " << x << "," << y << " c" << c << " in " << s;
                } else {
                    ASSERT_EQ(dst.get(x, y, c), before.get(x, y, c))
                        << "mode " << mode << " touched " << x << "," << y << " c" << c;
                }
            }
        }
    }
}

TEST(AdjustBrightness, FactorsAtTheEnds) {
    EXPECT_FLOAT_EQ(brightness_factor(0), 1.0F);
    EXPECT_NEAR(brightness_factor(-255), 0.0F, 1e-6);
    EXPECT_FLOAT_EQ(brightness_factor(255), 11.0F);
}

TEST(AdjustBrightness, ExtremesBlackAndLimited) {
    for (int mode : {kModeMono8, kModeColor24, kModeMono10, kModeColor64}) {
        Frame f(4, 2, kModeBytes[mode]);
        f.fill(wide(mode) ? 3000 : 200);
        AdjustRecord dark{-255, 12};
        ASSERT_EQ(apply_brightness(f.plane(), mode, dark), 1);
        EXPECT_EQ(f.get(3, 1, 0), 0);
        f.fill(wide(mode) ? 300 : 20);
        f.set(0, 0, 0, 5);
        AdjustRecord bright{255, 12};
        apply_brightness(f.plane(), mode, bright);
        EXPECT_EQ(f.get(0, 0, 0), 55);  // times 11
        EXPECT_EQ(f.get(1, 0, 0), wide(mode) ? 3300 : 220);
        f.fill(wide(mode) ? 400 : 24);
        apply_brightness(f.plane(), mode, bright);
        EXPECT_EQ(f.get(1, 1, 0), wide(mode) ? 4095 : 255);
    }
}

TEST(AdjustBrightness, EveryVariantMatchesFormula) {
    for (int mode = 0; mode < 6; ++mode) {
        for (std::int32_t v : {-255, -200, -51, -1, 1, 7, 51, 128, 255, 300}) {
            AdjustRecord rec{v, 12};
            const std::int32_t maximum = wide(mode) ? 4095 : 255;
            const std::int32_t vv = std::max(-255, std::min(255, v));
            check_against_reference(
                mode, brightness_callback(mode), &rec,
                [&](std::int32_t s) { return ref_brightness(s, vv, maximum); }, 100 + v);
        }
    }
}

TEST(AdjustContrast, TablesAtTheirEdges) {
    std::uint16_t t8[256];
    build_contrast_table(100, 8, t8);
    EXPECT_EQ(t8[100], 0);
    EXPECT_EQ(t8[101], 4);  // trunc(256/56 * 1)
    EXPECT_EQ(t8[128], 128);
    EXPECT_EQ(t8[155], 251);
    EXPECT_EQ(t8[156], 255);
    build_contrast_table(-127, 8, t8);
    EXPECT_EQ(t8[0], 63);  // 256/510 * 127, compressed toward the middle
    EXPECT_EQ(t8[255], 191);
    std::vector<std::uint16_t> t16(4096);
    build_contrast_table(100, 12, t16.data());
    EXPECT_EQ(t16[1599], 0);
    EXPECT_EQ(t16[2496], 4095);
    EXPECT_EQ(t16[2048], 2048);
}

TEST(AdjustContrast, EveryVariantMatchesFormula) {
    for (int mode = 0; mode < 6; ++mode) {
        for (std::int32_t m : {-127, -60, -1, 1, 33, 100, 127}) {
            AdjustRecord rec{m, 12};
            check_against_reference(
                mode, contrast_callback(mode), &rec,
                [&](std::int32_t s) { return ref_contrast(s, m, wide(mode) ? 12 : 8); }, 200 + m);
        }
    }
}

TEST(AdjustGamma, TablesAtTheirEdges) {
    std::uint8_t t8[256];
    build_gamma_table8(1.0, t8);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(t8[i], i);
    std::vector<std::uint16_t> t16(4096);
    build_gamma_table16(1.0, 12, t16.data());
    EXPECT_EQ(t16[4095], 4094);  // divisor 4096, factor 4095
    EXPECT_EQ(t16[0], 0);
    EXPECT_DOUBLE_EQ(gamma_exponent(50), 0.5);
    EXPECT_DOUBLE_EQ(gamma_exponent(110), 2.0);
    EXPECT_DOUBLE_EQ(gamma_exponent(200), 11.0);
}

TEST(AdjustGamma, ZeroInGreyVersusColour) {
    AdjustRecord zero{0, 12};
    Frame grey(3, 2, 1);
    grey.fill(0);
    grey.set(1, 0, 0, 77);
    apply_gamma(grey.plane(), kModeMono8, zero);
    EXPECT_EQ(grey.get(0, 0), 255);
    EXPECT_EQ(grey.get(1, 0), 255);
    Frame grey16(3, 2, 2);
    grey16.fill(0);
    apply_gamma(grey16.plane(), kModeMono10, zero);
    EXPECT_EQ(grey16.get(2, 1), 4095);
    // The 8-bit colour variant keeps the exponent at 0.001: 0 stays 0.
    Frame colour(3, 2, 3);
    colour.fill(0);
    colour.set(1, 1, 2, 128);
    apply_gamma(colour.plane(), kModeColor24, zero);
    EXPECT_EQ(colour.get(0, 0, 0), 0);
    EXPECT_EQ(colour.get(1, 1, 2), 254);  // pow(128/255, 0.001) * 255
}

TEST(AdjustGamma, EveryVariantMatchesFormula) {
    for (int mode = 0; mode < 6; ++mode) {
        for (std::int32_t g : {0, 1, 37, 50, 99, 101, 110, 157, 200}) {
            AdjustRecord rec{g, 12};
            check_against_reference(
                mode, gamma_callback(mode), &rec, [&](std::int32_t s) { return ref_gamma(s, g, mode); },
                300 + g);
        }
    }
}

// Row lengths around the eight- and 64-byte steps of the table loops, on
// every kernel path.
TEST(AdjustCallbacks, EveryRowLengthMatchesFormula) {
    testing::on_every_path([&](const testing::KernelPath& path) {
        SCOPED_TRACE(path.name);
        for (int mode = 0; mode < 6; ++mode) {
            const int bits = wide(mode) ? 12 : 8;
            const std::int32_t maximum = wide(mode) ? 4095 : 255;
            for (std::int32_t width : {1, 2, 3, 5, 7, 9, 11, 13, 16, 21, 22, 37, 43}) {
                AdjustRecord b{-70, 12};
                check_against_reference(
                    mode, brightness_callback(mode), &b,
                    [&](std::int32_t s) { return ref_brightness(s, -70, maximum); }, 300 + width,
                    width);
                AdjustRecord c{45, 12};
                check_against_reference(
                    mode, contrast_callback(mode), &c,
                    [&](std::int32_t s) { return ref_contrast(s, 45, bits); }, 400 + width, width);
                AdjustRecord g{150, 12};
                check_against_reference(
                    mode, gamma_callback(mode), &g,
                    [&](std::int32_t s) { return ref_gamma(s, 150, mode); }, 500 + width, width);
            }
        }
    });
}

TEST(AdjustCallbacks, RefuseUnsuitedLayouts) {
    Frame f(4, 4, 2);
    f.fill(9);
    const Frame before = f;
    AdjustRecord rec{50, 12};
    // A colour variant on 2-byte pixels, and differing pixel sizes.
    EXPECT_EQ(call(brightness_callback(kModeColor24), f, f, Rect{0, 0, 4, 4}, 0, 0, &rec), 0);
    Frame g(4, 4, 1);
    EXPECT_EQ(call(contrast_callback(kModeMono8), g, f, Rect{0, 0, 4, 4}, 0, 0, &rec), 0);
    EXPECT_EQ(f.store, before.store);
    EXPECT_EQ(brightness_callback(6), nullptr);
    EXPECT_EQ(gamma_callback(-1), nullptr);
    EXPECT_EQ(apply_contrast(PixelPlane{}, kModeMono8, rec), 0);
}

TEST(AdjustSequence, NeutralValuesLeaveThePictureAlone) {
    std::mt19937 rng(5);
    for (int mode = 0; mode < 6; ++mode) {
        Frame f(16, 9, kModeBytes[mode]);
        f.fill_random(rng, wide(mode) ? 4095 : 255);
        const Frame before = f;
        Frame scratch(16, 9, kModeBytes[mode]);
        ApplyAdjustments(f.plane(), scratch.plane(), mode, AdjustmentValues{});
        EXPECT_EQ(f.store, before.store) << mode;
    }
}

TEST(AdjustSequence, RunsEachStepInOrder) {
    std::mt19937 rng(6);
    const AdjustmentValues v{-40, 30, 45, 60, 12, 130};
    for (int mode = 0; mode < 6; ++mode) {
        Frame f(21, 13, kModeBytes[mode]);
        f.fill_random(rng, wide(mode) ? 4095 : 255);
        Frame expected = f;
        Frame scratch(21, 13, kModeBytes[mode]);
        apply_hue_saturation(expected.plane(), mode, HueRecord{45, 0, 60, 12});
        apply_gamma(expected.plane(), mode, AdjustRecord{130, 12});
        apply_contrast(expected.plane(), mode, AdjustRecord{30, 12});
        apply_sharpness(expected.plane(), scratch.plane(), mode, AdjustRecord{12, 12});
        apply_brightness(expected.plane(), mode, AdjustRecord{-40, 12});
        ApplyAdjustments(f.plane(), scratch.plane(), mode, v);
        EXPECT_EQ(f.store, expected.store) << mode;
    }
}

// Every choice of neutral and non-neutral steps, on pictures wide enough
// for the SIMD steps and with 16-bit samples beyond 12 bits: the sequence
// gives what the five steps one after another give.
TEST(AdjustSequence, EverySubsetOfStepsInOrder) {
    std::mt19937 rng(8);
    const AdjustmentValues on{77, -50, -100, 90, 25, 40};
    for (int mode = 0; mode < 6; ++mode) {
        for (int mask = 1; mask < 32; ++mask) {
            AdjustmentValues v{};
            if ((mask & 1) != 0) v.brightness = on.brightness;
            if ((mask & 2) != 0) v.contrast = on.contrast;
            if ((mask & 4) != 0) {
                v.hue = on.hue;
                v.saturation = on.saturation;
            }
            if ((mask & 8) != 0) v.sharpness = on.sharpness;
            if ((mask & 16) != 0) v.gamma = on.gamma;
            Frame f(35, 9, kModeBytes[mode]);
            f.fill_random(rng, wide(mode) ? 4095 : 255);
            if (wide(mode)) f.set(6, 4, 1, 65535);
            Frame expected = f;
            Frame scratch(35, 9, kModeBytes[mode]);
            if (v.hue != 0) {
                apply_hue_saturation(expected.plane(), mode, HueRecord{v.hue, 0, v.saturation, 12});
            }
            if (v.gamma != 100) apply_gamma(expected.plane(), mode, AdjustRecord{v.gamma, 12});
            if (v.contrast != 0) apply_contrast(expected.plane(), mode, AdjustRecord{v.contrast, 12});
            if (v.sharpness != 0) {
                apply_sharpness(expected.plane(), scratch.plane(), mode,
                                AdjustRecord{v.sharpness, 12});
            }
            if (v.brightness != 0) {
                apply_brightness(expected.plane(), mode, AdjustRecord{v.brightness, 12});
            }
            ApplyAdjustments(f.plane(), scratch.plane(), mode, v);
            EXPECT_EQ(f.store, expected.store) << "mode " << mode << " steps " << mask;
        }
    }
}

// The byte-table walk on single rows held in stores of exactly their size
// (so that a read or write past the row shows under ASan), lengths around
// the 8-byte step and the vector widths, apart and in place: processed
// bytes through the table, fourth bytes of 4-byte pixels as the
// destination had them.
template <Variant V>
void check_byte_walk(std::int32_t bpp, std::int32_t width, bool in_place, unsigned seed) {
    std::mt19937 rng(seed);
    std::array<std::uint8_t, 256> lut{};
    for (auto& e : lut) e = static_cast<std::uint8_t>(rng());
    const std::size_t n = static_cast<std::size_t>(width) * bpp;
    std::vector<std::uint8_t> src(n);
    std::vector<std::uint8_t> dst(n);
    for (auto& b : src) b = static_cast<std::uint8_t>(rng());
    for (auto& b : dst) b = static_cast<std::uint8_t>(rng() | 1);
    if (in_place) dst = src;
    const std::vector<std::uint8_t> before = dst;
    const std::uint8_t* from = in_place ? dst.data() : src.data();
    const Rect rect{0, 0, width, 1};
    const kernels::RectArgs args = kernels::make_args(
        dst.data(), from, &rect, 0, 0, static_cast<std::uint16_t>(bpp),
        static_cast<std::uint16_t>(bpp), static_cast<std::int32_t>(n), static_cast<std::int32_t>(n));
    ASSERT_EQ(kernels::for_each_byte_lut<V>(args, lut.data()), 1);
    const std::vector<std::uint8_t>& in = in_place ? before : src;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t want = bpp == 4 && i % 4 == 3 ? before[i] : lut[in[i]];
        ASSERT_EQ(dst[i], want) << "bpp " << bpp << " width " << width << " byte " << i
                                << (in_place ? " in place" : " apart");
    }
}

// A linear form found for a brightness table reproduces each entry (a few
// factors, rounded just below a third or such, have none and keep the
// table); a curved gamma table has none.
TEST(AdjustTables, LinearFormOfBrightnessNotOfGamma) {
    for (std::int32_t b = -255; b <= 255; ++b) {
        const float f = brightness_factor(b);
        std::array<std::uint8_t, 256> lut{};
        for (int v = 0; v < 256; ++v) {
            lut[v] = static_cast<std::uint8_t>(
                std::clamp(static_cast<std::int32_t>(static_cast<float>(v) * f), 0, 255));
        }
        kernels::ByteScale scale;
        if (!kernels::find_byte_scale(lut.data(), scale)) continue;
        for (std::int32_t v = 0; v < 256; ++v) {
            const std::int32_t got = std::min(v * scale.whole + ((v * scale.frac) >> 16), 255);
            ASSERT_EQ(got, lut[v]) << "brightness " << b << " v " << v;
        }
    }
    std::array<std::uint8_t, 256> gamma{};
    build_gamma_table8(gamma_exponent(160), gamma.data());
    kernels::ByteScale scale;
    EXPECT_FALSE(kernels::find_byte_scale(gamma.data(), scale));
}

TEST(AdjustTables, ByteWalkAroundItsStepsOnEveryPath) {
    testing::on_every_path([&](const testing::KernelPath& path) {
        SCOPED_TRACE(path.name);
        for (std::int32_t bpp : {1, 3, 4}) {
            for (std::int32_t width : {1, 2, 3, 7, 8, 9, 10, 11, 12, 15, 16, 17, 21, 22, 31, 32,
                                       33, 63, 64, 65, 129, 191, 257}) {
                for (bool in_place : {false, true}) {
                    const unsigned seed = static_cast<unsigned>(bpp * 1000 + width);
                    if (bpp == 1) {
                        check_byte_walk<Variant::kGrey8>(bpp, width, in_place, seed);
                    } else {
                        check_byte_walk<Variant::kColour8>(bpp, width, in_place, seed);
                    }
                }
            }
        }
    });
}

}  // namespace
}  // namespace zbx::pipeline
