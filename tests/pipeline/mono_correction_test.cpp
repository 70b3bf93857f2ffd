// Gray gain and offset correction and the auto-balance measurement.
#include <gtest/gtest.h>

#include <algorithm>

#include "adjust_test_support.h"
#include "pipeline/mono_correction.h"

namespace zbx::pipeline {
namespace {

using testing::call;
using testing::Frame;

// Cell of pixel (x, y) of the rectangle: 0 R, 1 G1, 2 G2, 3 B.
int ref_cell(std::int32_t phase, std::int32_t x, std::int32_t y) {
    const int c = (x + ((phase == 2 || phase == 3) ? 1 : 0)) % 2;
    const int r = (y + ((phase == 1 || phase == 3) ? 1 : 0)) % 2;
    if (c == 0 && r == 0) return 1;
    if (c == 1 && r == 0) return 0;
    if (c == 0 && r == 1) return 3;
    return 2;
}

GrayRecord record(std::int32_t phase, std::array<std::int32_t, 4> gains,
                  std::array<std::int32_t, 4> offsets, std::int32_t bits) {
    return GrayRecord{phase,      gains[0],   gains[1],   gains[2],   gains[3],
                      offsets[0], offsets[1], offsets[2], offsets[3], bits};
}

TEST(MonoCorrection, LimitsAtBothEnds) {
    Frame f(2, 2, 1);
    f.fill(200);
    apply_gray_correction(f.plane(), kModeMono8, record(0, {255, 255, 255, 255}, {0, 0, 0, 0}, 8));
    EXPECT_EQ(f.get(0, 0), 255);  // 398 limited
    f.fill(10);
    apply_gray_correction(f.plane(), kModeMono8,
                          record(0, {128, 128, 128, 128}, {-20, -20, -20, -20}, 8));
    EXPECT_EQ(f.get(1, 1), 0);
    Frame w(2, 2, 2);
    w.fill(4000);
    apply_gray_correction(w.plane(), kModeMono10, record(0, {192, 192, 192, 192}, {0, 0, 0, 0}, 12));
    EXPECT_EQ(w.get(1, 0), 4095);  // 6000 limited
    w.fill(4000);
    apply_gray_correction(w.plane(), kModeMono10, record(0, {192, 192, 192, 192}, {0, 0, 0, 0}, 16));
    EXPECT_EQ(w.get(1, 0), 6000);
    EXPECT_EQ(gray_sample_maximum(10), 1023);
    EXPECT_EQ(gray_sample_maximum(14), 16383);
    EXPECT_EQ(gray_sample_maximum(9), 65535);
}

TEST(MonoCorrection, NeutralGainsKeepSamples) {
    std::mt19937 rng(41);
    Frame f(9, 7, 1);
    f.fill_random(rng, 255);
    const Frame before = f;
    apply_gray_correction(f.plane(), kModeMono8, record(3, {128, 128, 128, 128}, {0, 0, 0, 0}, 8));
    EXPECT_EQ(f.store, before.store);
}

TEST(MonoCorrection, CellsFollowThePhase) {
    // Gains 0 and distinct offsets make each pixel show its cell.
    for (std::int32_t phase = 0; phase < 4; ++phase) {
        Frame f(4, 4, 1);
        f.fill(50);
        apply_gray_correction(f.plane(), kModeMono8, record(phase, {0, 0, 0, 0}, {10, 20, 30, 40}, 8));
        for (std::int32_t y = 0; y < 4; ++y)
            for (std::int32_t x = 0; x < 4; ++x)
                ASSERT_EQ(f.get(x, y), 10 * (ref_cell(phase, x, y) + 1)) << phase << x << y;
    }
    // Phase 0: first row G1 R, second row B G2.
    Frame f(2, 2, 1);
    apply_gray_correction(f.plane(), kModeMono8, record(0, {0, 0, 0, 0}, {1, 2, 3, 4}, 8));
    EXPECT_EQ(f.get(0, 0), 2);
    EXPECT_EQ(f.get(1, 0), 1);
    EXPECT_EQ(f.get(0, 1), 4);
    EXPECT_EQ(f.get(1, 1), 3);
}

TEST(MonoCorrection, BothDepthsMatchFormulaOnSubRectangles) {
    std::mt19937 rng(42);
    std::uniform_int_distribution<std::int32_t> gain(0, 255);
    std::uniform_int_distribution<std::int32_t> offset(-255, 255);
    for (int mode : {kModeMono8, kModeMono10}) {
        const std::int32_t bpp = mode == kModeMono8 ? 1 : 2;
        const std::int32_t maximum = mode == kModeMono8 ? 255 : 4095;
        for (std::int32_t phase = 0; phase < 4; ++phase) {
            const GrayRecord rec = record(phase, {gain(rng), gain(rng), gain(rng), gain(rng)},
                                          {offset(rng), offset(rng), offset(rng), offset(rng)},
                                          mode == kModeMono8 ? 8 : 12);
            const std::int32_t g[4] = {rec.gain_r, rec.gain_g1, rec.gain_g2, rec.gain_b};
            const std::int32_t o[4] = {rec.offset_r, rec.offset_g1, rec.offset_g2, rec.offset_b};
            Frame src(15, 11, bpp);
            src.fill_random(rng, maximum);
            Frame dst(14, 12, bpp);
            dst.fill_random(rng, maximum);
            Frame expected = dst;
            const Rect r{3, 1, 14, 10};  // odd left edge: parity counts from the rectangle
            for (std::int32_t y = 0; y < r.height(); ++y) {
                for (std::int32_t x = 0; x < r.width(); ++x) {
                    const int k = ref_cell(phase, x, y);
                    const std::int32_t v = o[k] + g[k] * src.get(r.left + x, r.top + y) / 128;
                    expected.set(x + 2, y + 1, 0, std::clamp(v, 0, maximum));
                }
            }
            GrayRecord params = rec;
            ASSERT_EQ(call(gray_correction_callback(mode), dst, src, r, 2, 1, &params), 1);
            ASSERT_EQ(dst.store, expected.store) << mode << " phase " << phase;
        }
    }
}

// Fills a picture whose cells hold the given values (phase 0).
Frame cells(std::int32_t bpp, std::int32_t r, std::int32_t g1, std::int32_t g2, std::int32_t b) {
    Frame f(6, 4, bpp);
    for (std::int32_t y = 0; y < 4; ++y)
        for (std::int32_t x = 0; x < 6; ++x) {
            const int k = ref_cell(0, x, y);
            f.set(x, y, 0, k == 0 ? r : k == 1 ? g1 : k == 2 ? g2 : b);
        }
    return f;
}

TEST(MonoBalance, GainsFromTheMeans) {
    Frame f = cells(1, 50, 100, 100, 25);
    const Frame before = f;
    GrayRecord rec = record(0, {1, 2, 3, 4}, {5, 6, 7, 8}, 8);
    ASSERT_TRUE(measure_gray_balance(f.plane(), kModeMono8, rec));
    EXPECT_EQ(rec.gain_r, 256);
    EXPECT_EQ(rec.gain_g1, 128);
    EXPECT_EQ(rec.gain_g2, 128);
    EXPECT_EQ(rec.gain_b, 512);
    EXPECT_EQ(rec.offset_r, 5);
    EXPECT_EQ(rec.offset_b, 8);
    EXPECT_EQ(f.store, before.store);  // nothing written

    // 16-bit: a third of the brightest gives 384; 4095 samples are ignored.
    Frame w = cells(2, 3000, 1000, 3000, 3000);
    w.set(1, 0, 0, 4095);  // an R sample, saturated
    GrayRecord rw = record(0, {128, 128, 128, 128}, {0, 0, 0, 0}, 12);
    ASSERT_TRUE(measure_gray_balance(w.plane(), kModeMono10, rw));
    EXPECT_EQ(rw.gain_g1, 384);
    EXPECT_EQ(rw.gain_r, 128);
}

TEST(MonoBalance, NoUsableSampleKeepsTheRecord) {
    Frame f = cells(1, 255, 120, 120, 120);
    GrayRecord rec = record(0, {140, 130, 120, 110}, {0, 0, 0, 0}, 8);
    const GrayRecord before = rec;
    EXPECT_FALSE(measure_gray_balance(f.plane(), kModeMono8, rec));
    EXPECT_EQ(rec.gain_r, before.gain_r);
    EXPECT_EQ(rec.gain_b, before.gain_b);
    Frame z = cells(2, 100, 0, 100, 100);
    EXPECT_FALSE(measure_gray_balance(z.plane(), kModeMono10, rec));
    EXPECT_EQ(rec.gain_g1, before.gain_g1);
}

TEST(MonoBalance, PhaseDecidesWhichCellIsWhich) {
    // The same picture read with phase 3 swaps R with B and G1 with G2.
    Frame f = cells(1, 50, 100, 100, 25);
    GrayRecord rec = record(3, {128, 128, 128, 128}, {0, 0, 0, 0}, 8);
    ASSERT_TRUE(measure_gray_balance(f.plane(), kModeMono8, rec));
    EXPECT_EQ(rec.gain_r, 512);
    EXPECT_EQ(rec.gain_b, 256);
    EXPECT_EQ(gray_balance_callback(kModeColor24), nullptr);
}

}  // namespace
}  // namespace zbx::pipeline
