// The adjustment sequence against its five steps run one after another on
// the plain path: every kernel path, every choice of steps, pictures too
// small for sharpening, odd widths, rows with padding, fourth samples that
// must survive, and scratch planes sharpening cannot use.
#include <gtest/gtest.h>

#include <random>

#include "adjust_test_support.h"
#include "pipeline/adjust.h"
#include "pipeline/adjust_brightness.h"
#include "pipeline/adjust_contrast.h"
#include "pipeline/adjust_gamma.h"
#include "pipeline/adjust_hue_saturation.h"
#include "pipeline/adjust_sharpness.h"

namespace zbx::pipeline {
namespace {

using testing::Frame;
using testing::kModeBytes;

bool wide(int mode) { return mode == kModeMono10 || mode >= kModeColor48; }

// The five steps one at a time, each skipped when neutral, plain kernels.
void step_by_step(Frame& f, Frame& scratch, int mode, const AdjustmentValues& v) {
    ForcePlainAdjustments(true);
    if (v.hue != 0 || v.saturation != 0) {
        apply_hue_saturation(f.plane(), mode, HueRecord{v.hue, 0, v.saturation, 12});
    }
    if (v.gamma != 100) apply_gamma(f.plane(), mode, AdjustRecord{v.gamma, 12});
    if (v.contrast != 0) apply_contrast(f.plane(), mode, AdjustRecord{v.contrast, 12});
    if (v.sharpness != 0) {
        apply_sharpness(f.plane(), scratch.plane(), mode, AdjustRecord{v.sharpness, 12});
    }
    if (v.brightness != 0) apply_brightness(f.plane(), mode, AdjustRecord{v.brightness, 12});
}

AdjustmentValues random_values(std::mt19937& rng, int mask) {
    auto in = [&](std::int32_t lo, std::int32_t hi) {
        return std::uniform_int_distribution<std::int32_t>(lo, hi)(rng);
    };
    AdjustmentValues v{};
    // Non-neutral values only, so that the mask alone says which steps run.
    if ((mask & 1) != 0) v.brightness = in(0, 1) != 0 ? in(1, 255) : in(-255, -1);
    if ((mask & 2) != 0) v.contrast = in(0, 1) != 0 ? in(1, 127) : in(-127, -1);
    if ((mask & 4) != 0) {
        v.hue = in(-360, 360);
        v.saturation = in(-255, 255);
        if (v.hue == 0 && v.saturation == 0) v.saturation = 1;
    }
    if ((mask & 8) != 0) v.sharpness = in(1, 30);
    if ((mask & 16) != 0) v.gamma = in(0, 1) != 0 ? in(101, 200) : in(0, 99);
    return v;
}

struct Shape {
    std::int32_t width;
    std::int32_t height;
    std::int32_t extra;  // row padding beyond the usual 4-byte rounding
};

TEST(AdjustSequence, MatchesTheStepsOnEveryPathAndShape) {
    // Below five pixels either way sharpening writes nothing; 70 pixels
    // take two whole 32-pixel steps and a tail.
    const Shape shapes[] = {{1, 1, 0}, {4, 7, 3}, {9, 4, 0}, {5, 5, 1},
                            {6, 6, 0}, {35, 9, 5}, {70, 7, 0}, {37, 5, 2}};
    std::mt19937 rng(40);
    testing::on_every_path([&](const testing::KernelPath& path) {
        for (int mode = 0; mode < 6; ++mode) {
            for (const Shape& shape : shapes) {
                for (int mask = 1; mask < 32; ++mask) {
                    const AdjustmentValues v = random_values(rng, mask);
                    // Fourth samples and row padding are random too.
                    Frame f(shape.width, shape.height, kModeBytes[mode], shape.extra);
                    f.fill_random(rng, wide(mode) ? 4095 : 255);
                    if (wide(mode)) f.set(shape.width / 2, shape.height / 2, 0, 65535);
                    Frame scratch(shape.width, shape.height, kModeBytes[mode], shape.extra);
                    Frame expected = f;
                    step_by_step(expected, scratch, mode, v);
                    ForcePlainAdjustments(path.plain);
                    ApplyAdjustments(f.plane(), scratch.plane(), mode, v);
                    ASSERT_EQ(f.store, expected.store)
                        << path.name << " mode " << mode << " " << shape.width << "x"
                        << shape.height << "+" << shape.extra << " steps " << mask;
                }
            }
        }
    });
}

// The 8-bit sharpening rows work in 32- and 64-byte steps and 2048-byte
// chunks: row lengths on both sides of those, 1-, 3- and 4-byte pixels
// (fourth bytes random and kept), padded rows, with and without the
// brightness table the rows apply in the same pass.
TEST(AdjustSequence, SharpenedRowsAroundTheVectorStepsOnEveryPath) {
    std::mt19937 rng(43);
    testing::on_every_path([&](const testing::KernelPath& path) {
        for (int mode : {kModeMono8, kModeColor24, kModeColor32}) {
            const std::int32_t bpp = kModeBytes[mode];
            for (std::int32_t bytes : {32, 64, 96, 2048, 4096}) {
                // Output bytes (four pixels fewer than the row) around `bytes`.
                for (std::int32_t w = (bytes - 8) / bpp + 4; w <= (bytes + 8) / bpp + 4; ++w) {
                    for (int mask : {8, 9, 31}) {
                        const AdjustmentValues v = random_values(rng, mask);
                        const std::int32_t extra = w % 3 == 0 ? 0 : 5;
                        Frame f(w, 6, bpp, extra);
                        f.fill_random(rng, 255);
                        Frame scratch(w, 6, bpp, extra);
                        Frame expected = f;
                        step_by_step(expected, scratch, mode, v);
                        ForcePlainAdjustments(path.plain);
                        ApplyAdjustments(f.plane(), scratch.plane(), mode, v);
                        ASSERT_EQ(f.store, expected.store)
                            << path.name << " mode " << mode << " width " << w << " steps " << mask;
                    }
                }
            }
        }
    });
}

// Sharpening needs a scratch plane of the output's very format, other than
// the output itself; without one the other steps still run.
TEST(AdjustSequence, SharpeningSkippedWithoutAFittingScratch) {
    std::mt19937 rng(41);
    const AdjustmentValues v{30, 20, 10, 50, 15, 80};
    for (int mode : {kModeColor24, kModeColor32, kModeMono10}) {
        Frame f(12, 9, kModeBytes[mode]);
        f.fill_random(rng, wide(mode) ? 4095 : 255);
        Frame expected = f;
        Frame unused(12, 9, kModeBytes[mode]);
        step_by_step(expected, unused, mode, AdjustmentValues{30, 20, 10, 50, 0, 80});
        ForcePlainAdjustments(false);
        for (Frame other : {Frame(12, 8, kModeBytes[mode]), Frame(12, 9, kModeBytes[mode], 4)}) {
            Frame g = f;
            ApplyAdjustments(g.plane(), other.plane(), mode, v);
            EXPECT_EQ(g.store, expected.store) << "mode " << mode << " scratch " << other.height;
        }
        Frame g = f;
        ApplyAdjustments(g.plane(), g.plane(), mode, v);
        EXPECT_EQ(g.store, expected.store) << "mode " << mode << " scratch is the output";
        ApplyAdjustments(g.plane(), PixelPlane{}, mode, AdjustmentValues{0, 0, 0, 0, 15, 100});
        EXPECT_EQ(g.store, expected.store) << "mode " << mode << " no scratch";
    }
}

}  // namespace
}  // namespace zbx::pipeline
