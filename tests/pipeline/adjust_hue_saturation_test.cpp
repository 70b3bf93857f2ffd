// Hue and saturation: the shift on the 1530-step circle, pure colours
// turned by +-120 degrees, greying by saturation -255, both variants
// against the sector table with real divisions, and two threads at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <vector>
#include <thread>

#include "adjust_test_support.h"
#include "pipeline/adjust_hue_saturation.h"

namespace zbx::pipeline {
namespace {

using testing::call;
using testing::Frame;
using testing::kModeBytes;

struct Bgr {
    std::int32_t b, g, r;
    bool operator==(const Bgr&) const = default;
};

// The pixel rule written out with divisions and the sector table.
Bgr ref_pixel(Bgr in, std::int32_t hue, std::int32_t sat) {
    const std::int32_t t = static_cast<std::uint16_t>(static_cast<std::int64_t>(hue) * 65536 / 360);
    const std::int32_t u = (t * 6) >> 8;
    std::int32_t low = u & 511;
    if (low > 255) low -= 512;
    std::int32_t shift = low + 510 * (((u + 256) >> 9) % 3);
    if (shift < 0) shift += 1530;
    if (shift >= 1530) shift -= 1530;

    const std::int32_t mx = std::max({in.r, in.g, in.b});
    const std::int32_t mn = std::min({in.r, in.g, in.b});
    const std::int32_t c = mx - mn;
    const std::int32_t l = mx + mn;
    std::int32_t sector = 0;
    std::int32_t d = 0;
    if (in.r >= in.g && in.r >= in.b) {
        sector = 1;
        d = in.g - in.b;
    } else if (in.g >= in.b) {
        sector = 3;
        d = in.b - in.r;
    } else {
        sector = 5;
        d = in.r - in.g;
    }
    if (d < 0) {
        sector -= 1;
        d += c;
    }
    const std::int32_t sat_c = ((sat + 256) * 256 * c + 32768) >> 16;
    const std::int32_t c2 = std::min(sat_c, l < 256 ? l : 511 - l);
    const std::int32_t n = (l - c2) >> 1;
    if (c == 0) return {n, n, n};
    std::int32_t p = ((d * (0xFF0000 / c) + 0x8000) >> 16) + shift % 255;
    const std::int32_t k = (sector + (p > 254 ? 1 : 0) + shift / 255) % 6;
    if (p >= 255) p -= 255;
    const std::int32_t w = ((l + c2) >> 1) - ((l - c2) >> 1);
    const std::int32_t q = (p * w + 128) >> 8;
    switch (k) {
        case 0: return {n + w - q, n, n + w};
        case 1: return {n, n + q, n + w};
        case 2: return {n, n + w, n + w - q};
        case 3: return {n + q, n + w, n};
        case 4: return {n + w, n + w - q, n};
        default: return {n + w, n, n + q};
    }
}

Bgr run_one(Bgr in, std::int32_t hue, std::int32_t sat) {
    Frame f(1, 1, 3);
    f.set(0, 0, 0, in.b);
    f.set(0, 0, 1, in.g);
    f.set(0, 0, 2, in.r);
    EXPECT_EQ(apply_hue_saturation(f.plane(), kModeColor24, HueRecord{hue, 0, sat, 12}), 1);
    return {f.get(0, 0, 0), f.get(0, 0, 1), f.get(0, 0, 2)};
}

TEST(AdjustHue, ShiftOnTheCircle) {
    EXPECT_EQ(hue_shift_steps(0), 0);
    EXPECT_EQ(hue_shift_steps(120), 509);
    EXPECT_EQ(hue_shift_steps(-120), 1020);
    // Truncation toward zero: -60 and 300 degrees differ by one step.
    EXPECT_EQ(hue_shift_steps(-60), 1274);
    EXPECT_EQ(hue_shift_steps(300), 1275);
    EXPECT_EQ(hue_shift_steps(360), 0);  // 65536 wraps to 0
    for (std::int32_t h = -360; h <= 360; ++h) {
        const std::int32_t s = hue_shift_steps(h);
        ASSERT_GE(s, 0);
        ASSERT_LT(s, kHueSteps);
    }
}

TEST(AdjustHue, PureColoursTurnByAThird) {
    // Red +120 lands just short of green (509 of 510 steps); -120 is blue.
    EXPECT_EQ(run_one({0, 0, 255}, 120, 0), (Bgr{0, 255, 2}));
    EXPECT_EQ(run_one({0, 0, 255}, -120, 0), (Bgr{255, 0, 0}));
    EXPECT_EQ(run_one({0, 255, 0}, -120, 0), (Bgr{0, 0, 255}));
    EXPECT_EQ(run_one({255, 0, 0}, 120, 0), (Bgr{2, 0, 255}));
    // Grey has no hue to turn.
    EXPECT_EQ(run_one({90, 90, 90}, 77, 0), (Bgr{90, 90, 90}));
}

TEST(AdjustHue, SaturationGreysAndBoosts) {
    const auto sat = saturation_table(-255);
    EXPECT_EQ(sat[127], 0);
    EXPECT_EQ(sat[128], 1);
    EXPECT_EQ(run_one({100, 120, 150}, 0, -255), (Bgr{125, 125, 125}));  // chroma 50 -> 0
    const Bgr one = run_one({50, 100, 200}, 0, -255);                    // chroma 150 -> 1
    EXPECT_EQ(std::max({one.b, one.g, one.r}) - std::min({one.b, one.g, one.r}), 1);
    EXPECT_EQ(saturation_table(0)[200], 200);
    // Boosting is limited by the lightness: every channel stays in range.
    const Bgr boosted = run_one({40, 60, 220}, 0, 255);
    EXPECT_EQ(boosted.r, 255);
    EXPECT_EQ(boosted.b, 4);  // c2 = 511 - 260 = 251, n = (260 - 251) >> 1
}

TEST(AdjustHue, BothVariantsMatchTheSectorTable) {
    std::mt19937 rng(21);
    for (int mode = kModeColor24; mode <= kModeColor64; ++mode) {
        const bool wide = mode >= kModeColor48;
        for (auto [hue, sat] : {std::pair{0, 10}, {45, 0}, {120, -80}, {-120, 200}, {359, 255},
                                {-360, -255}, {-7, 33}, {200, -1}}) {
            Frame src(29, 9, kModeBytes[mode]);
            src.fill_random(rng, wide ? 4095 : 255);
            if (wide) src.set(3, 3, 1, 65535);  // beyond 12 bits: taken as 255
            Frame dst(26, 10, kModeBytes[mode]);
            dst.fill_random(rng, 65535);
            Frame expected = dst;
            const Rect r{1, 1, 25, 8};
            const int sh = wide ? 4 : 0;
            for (std::int32_t y = 0; y < r.height(); ++y) {
                for (std::int32_t x = 0; x < r.width(); ++x) {
                    auto in = [&](int c) {
                        return std::min(src.get(r.left + x, r.top + y, c) >> sh, 255);
                    };
                    const Bgr o = ref_pixel({in(0), in(1), in(2)}, hue, sat);
                    expected.set(x, y + 2, 0, o.b << sh);
                    expected.set(x, y + 2, 1, o.g << sh);
                    expected.set(x, y + 2, 2, o.r << sh);
                }
            }
            HueRecord rec{hue, 0, sat, 12};
            ASSERT_EQ(call(hue_saturation_callback(mode), dst, src, r, 0, 2, &rec), 1);
            ASSERT_EQ(dst.store, expected.store) << "mode " << mode << " hue " << hue;
        }
    }
}

// Wide rows in place, with the SIMD kernels and with the plain path forced:
// eight-pixel steps, row tails of every length and a rectangle that starts
// inside the store.
TEST(AdjustHue, PlainAndSimdPathsMatchTheSectorTable) {
    std::mt19937 rng(22);
    testing::on_every_path([&](const testing::KernelPath& path) {
        for (int mode = kModeColor24; mode <= kModeColor64; ++mode) {
            const bool wide = mode >= kModeColor48;
            const int sh = wide ? 4 : 0;
            for (std::int32_t width : {7, 8, 9, 10, 11, 17, 64, 75}) {
                const auto [hue, sat] = std::pair{static_cast<std::int32_t>(rng() % 721) - 360,
                                                  static_cast<std::int32_t>(rng() % 511) - 255};
                Frame f(width + 3, 5, kModeBytes[mode]);
                f.fill_random(rng, wide ? 4095 : 255);
                if (wide) f.set(width, 2, 2, 65535);
                Frame expected = f;
                const Rect r{2, 1, width + 2, 4};
                for (std::int32_t y = r.top; y < r.bottom; ++y) {
                    for (std::int32_t x = r.left; x < r.right; ++x) {
                        auto in = [&](int c) { return std::min(f.get(x, y, c) >> sh, 255); };
                        const Bgr o = ref_pixel({in(0), in(1), in(2)}, hue, sat);
                        expected.set(x, y, 0, o.b << sh);
                        expected.set(x, y, 1, o.g << sh);
                        expected.set(x, y, 2, o.r << sh);
                    }
                }
                HueRecord rec{hue, 0, sat, 12};
                ASSERT_EQ(call(hue_saturation_callback(mode), f, f, r, r.left, r.top, &rec), 1);
                EXPECT_EQ(f.store, expected.store)
                    << "path " << path.name << " mode " << mode << " width " << width;
            }
        }
    });
}

// Every chroma c with every position d (0..c) in all six orders of the
// channels, at the darkest, middle and brightest lightness the chroma
// allows: all reciprocals and sector changes the SIMD kernels take apart
// and put together again, against the divisions of the sector table.
TEST(AdjustHue, EveryChromaAndPositionOnEveryPath) {
    std::vector<Bgr> colours;
    for (std::int32_t c = 0; c < 256; ++c) {
        for (std::int32_t d = 0; d <= c; ++d) {
            for (std::int32_t mn : {0, (255 - c) / 2, 255 - c}) {
                const std::int32_t hi = mn + c;
                const std::int32_t mid = mn + d;
                for (const Bgr& o : {Bgr{mn, mid, hi}, Bgr{mn, hi, mid}, Bgr{mid, mn, hi},
                                     Bgr{mid, hi, mn}, Bgr{hi, mn, mid}, Bgr{hi, mid, mn}}) {
                    colours.push_back(o);
                }
            }
        }
    }
    const std::int32_t width = 1021;  // rows end inside a 32-pixel step
    const auto height = static_cast<std::int32_t>((colours.size() + width - 1) / width);
    Frame original(width, height, 3);
    for (std::size_t i = 0; i < colours.size(); ++i) {
        const auto x = static_cast<std::int32_t>(i % width);
        const auto y = static_cast<std::int32_t>(i / width);
        original.set(x, y, 0, colours[i].b);
        original.set(x, y, 1, colours[i].g);
        original.set(x, y, 2, colours[i].r);
    }
    // Hues whose shifts span 0 to 5 whole sectors (10, 77, -200, 181, 280,
    // 359), as the kernels fold those into their sector tables.
    for (auto [hue, sat] : {std::pair{359, 255}, {-200, -100}, {77, 0}, {181, 130}, {10, -60}, {280, 40}}) {
        Frame expected = original;
        for (std::size_t i = 0; i < colours.size(); ++i) {
            const Bgr o = ref_pixel(colours[i], hue, sat);
            const auto x = static_cast<std::int32_t>(i % width);
            const auto y = static_cast<std::int32_t>(i / width);
            expected.set(x, y, 0, o.b);
            expected.set(x, y, 1, o.g);
            expected.set(x, y, 2, o.r);
        }
        testing::on_every_path([&](const testing::KernelPath& path) {
            Frame f = original;
            ASSERT_EQ(apply_hue_saturation(f.plane(), kModeColor24, HueRecord{hue, 0, sat, 12}), 1);
            ASSERT_EQ(f.store, expected.store) << path.name << " hue " << hue << " sat " << sat;
        });
    }
}

TEST(AdjustHue, NotForGreyModes) {
    EXPECT_EQ(hue_saturation_callback(kModeMono8), nullptr);
    EXPECT_EQ(hue_saturation_callback(kModeMono10), nullptr);
    Frame f(2, 2, 1);
    EXPECT_EQ(apply_hue_saturation(f.plane(), kModeMono8, HueRecord{30, 0, 30, 12}), 0);
}

// Two sessions developing at once with different saturations must each get
// the picture a lone run gives.
TEST(AdjustHue, ConcurrentSessionsKeepTheirOwnSaturation) {
    std::mt19937 rng(31);
    Frame original(128, 64, 4);
    original.fill_random(rng, 255);
    struct Job {
        HueRecord rec;
        Frame expected;
    };
    Job jobs[2] = {{HueRecord{20, 0, -200, 12}, original}, {HueRecord{-20, 0, 230, 12}, original}};
    for (Job& j : jobs) apply_hue_saturation(j.expected.plane(), kModeColor32, j.rec);
    ASSERT_NE(jobs[0].expected.store, jobs[1].expected.store);

    std::atomic<int> mismatches{0};
    std::atomic<bool> go{false};
    auto worker = [&](const Job& job) {
        Frame work = original;
        while (!go.load()) std::this_thread::yield();
        for (int i = 0; i < 150; ++i) {
            work.store = original.store;
            apply_hue_saturation(work.plane(), kModeColor32, job.rec);
            if (work.store != job.expected.store) mismatches.fetch_add(1);
        }
    };
    std::thread a(worker, std::cref(jobs[0]));
    std::thread b(worker, std::cref(jobs[1]));
    go.store(true);
    a.join();
    b.join();
    EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
}  // namespace zbx::pipeline
