#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <vector>

#include "pipeline/auto_exposure.h"
#include "pipeline/conversions.h"
#include "pipeline/demosaic.h"
#include "pipeline/develop.h"
#include "pipeline/image_buffer.h"
#include "pipeline/pixel_access.h"

namespace zbx::pipeline {
namespace {

class FakeHost : public DevelopHost {
public:
    std::int32_t gain = 0;
    std::int32_t exposure = 637;
    std::vector<std::int32_t> gains_set, exposures_set, gains_stored, exposures_stored;
    std::vector<std::pair<std::int32_t, std::int32_t>> shown;
    int refreshes = 0;
    int locks = 0, unlocks = 0;

    std::int32_t sensor_gain() override { return gain; }
    void set_sensor_gain(std::int32_t g) override { gains_set.push_back(g); gain = g; }
    std::int32_t min_gain() override { return 0; }
    std::int32_t max_gain() override { return 11; }
    std::int32_t sensor_exposure() override { return exposure; }
    void set_sensor_exposure(std::int32_t e) override { exposures_set.push_back(e); exposure = e; }
    std::int32_t min_exposure() override { return 1; }
    std::int32_t max_exposure() override { return 32767; }
    void store_gain(std::int32_t g) override { gains_stored.push_back(g); }
    void store_exposure(std::int32_t e) override { exposures_stored.push_back(e); }
    void refresh_image_dialog() override { ++refreshes; }
    void show_analog_value(std::int32_t id, std::int32_t v) override { shown.emplace_back(id, v); }
    DefectListView lock_defect_list() override { ++locks; return {}; }
    void unlock_defect_list() override { ++unlocks; }
};

// Fills memory rows [h - bottom, h - top) of a picture-coordinate window,
// the rows the transfer hands the measurement.
void fill_window(CImageBuffer& raw, const Rect& w, int value) {
    for (int y = raw.height() - w.bottom; y < raw.height() - w.top; ++y)
        for (int x = w.left; x < w.right; ++x) {
            std::uint8_t* p = raw.pixels() + y * raw.stride();
            if (raw.bits_per_pixel() == 16) {
                store16(p + 2 * x, static_cast<std::uint16_t>(value));
            } else {
                p[x] = static_cast<std::uint8_t>(value);
            }
        }
}

void fill_all(CImageBuffer& raw, int value) { fill_window(raw, Rect{0, 0, raw.width(), raw.height()}, value); }

TEST(AutoExposure, WindowsAndFactor) {
    const auto w = ExposureWindows(1280, 720);
    const Rect want[5] = {{128, 72, 256, 144}, {128, 576, 256, 648}, {576, 324, 704, 396},
                          {1024, 72, 1152, 144}, {1024, 576, 1152, 648}};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(w[i].left, want[i].left) << i;
        EXPECT_EQ(w[i].top, want[i].top) << i;
        EXPECT_EQ(w[i].right, want[i].right) << i;
        EXPECT_EQ(w[i].bottom, want[i].bottom) << i;
    }
    const auto f = [](std::array<int, 5> m) { return ExposureFactor(m); };
    EXPECT_DOUBLE_EQ(f({120, 120, 120, 120, 120}), 1.0);
    EXPECT_NEAR(f({30, 30, 30, 30, 30}), 1.5, 1e-12);
    EXPECT_NEAR(f({201, 200, 161, 160, 100}), 1.0 - 0.15 - 0.10 - 0.10, 1e-12);
    EXPECT_NEAR(f({99, 50, 49, 0, 255}), 1.0 + 0.05 + 0.05 + 0.10 + 0.10 - 0.15, 1e-12);
}

TEST(AutoExposure, ExposureModeMovesExposureWithinLimits) {
    CImageBuffer raw;
    ASSERT_EQ(raw.Create(100, 60, 8), 1);
    FakeHost host;
    fill_all(raw, 120);
    RunAutoExposure(raw, 1, host);
    EXPECT_TRUE(host.exposures_set.empty());  // factor 1.0: nothing changes

    fill_all(raw, 30);
    RunAutoExposure(raw, 1, host);
    ASSERT_EQ(host.exposures_set.size(), 1u);
    EXPECT_EQ(host.exposures_set[0], 955);  // 637 × 1.5
    EXPECT_EQ(host.exposures_stored.back(), 955);
    EXPECT_EQ(host.shown.back(), std::make_pair(kExposureEditControl, 955));
    EXPECT_TRUE(host.gains_set.empty());

    host.exposure = 30000;
    RunAutoExposure(raw, 1, host);
    EXPECT_EQ(host.exposures_set.back(), 32767);

    host.exposure = 2;
    fill_all(raw, 255);  // factor 0.25
    RunAutoExposure(raw, 1, host);
    EXPECT_EQ(host.exposures_set.back(), 1);

    const std::size_t before = host.exposures_set.size();
    RunAutoExposure(raw, 0, host);  // off
    RunAutoExposure(raw, 3, host);  // unknown mode
    EXPECT_EQ(host.exposures_set.size(), before);
}

TEST(AutoExposure, SixteenBitSamplesOnTheEightBitScale) {
    CImageBuffer raw;
    ASSERT_EQ(raw.Create(100, 60, 16), 1);
    FakeHost host;
    fill_all(raw, 120 << 4);
    RunAutoExposure(raw, 1, host);
    EXPECT_TRUE(host.exposures_set.empty());
    fill_all(raw, 30 << 4);
    RunAutoExposure(raw, 1, host);
    ASSERT_EQ(host.exposures_set.size(), 1u);
    EXPECT_EQ(host.exposures_set[0], 955);
    fill_all(raw, 0xFFFF);  // beyond 12 bits saturates as bright, never wraps to dark
    host.exposure = 1000;
    RunAutoExposure(raw, 1, host);
    // 1 - 5 × 0.15 lands just under 0.25 in double precision.
    EXPECT_EQ(host.exposures_set.back(), 249);
}

TEST(AutoExposure, GainModeRaisesLowGainsToFourFirst) {
    CImageBuffer raw;
    ASSERT_EQ(raw.Create(200, 100, 8), 1);
    fill_all(raw, 120);
    const auto w = ExposureWindows(200, 100);
    fill_window(raw, w[0], 250);
    fill_window(raw, w[1], 250);
    fill_window(raw, w[2], 180);
    fill_window(raw, w[3], 180);  // factor 0.5
    FakeHost host;
    host.gain = 2;
    RunAutoExposure(raw, 2, host);
    ASSERT_EQ(host.gains_set.size(), 1u);
    EXPECT_EQ(host.gains_set[0], 2);  // 4 × 0.5
    EXPECT_EQ(host.gains_stored.back(), 2);
    EXPECT_EQ(host.shown.back(), std::make_pair(kGainEditControl, 2));
    EXPECT_TRUE(host.exposures_set.empty());

    fill_all(raw, 10);  // factor 1.5
    host.gain = 0;
    RunAutoExposure(raw, 2, host);
    EXPECT_EQ(host.gains_set.back(), 6);  // 4 × 1.5
    host.gain = 10;
    RunAutoExposure(raw, 2, host);
    EXPECT_EQ(host.gains_set.back(), 11);  // at or above the maximum gives the maximum
}

TEST(Development, EffectivePhaseFollowsMirrors) {
    const int table[4][3] = {{1, 2, 3}, {0, 3, 2}, {3, 0, 1}, {2, 1, 0}};
    for (int mode = 0; mode < 4; ++mode) {
        EXPECT_EQ(EffectivePhase(mode, false, false), mode);
        EXPECT_EQ(EffectivePhase(mode, true, false), table[mode][0]);
        EXPECT_EQ(EffectivePhase(mode, false, true), table[mode][1]);
        EXPECT_EQ(EffectivePhase(mode, true, true), table[mode][2]);
    }
}

// The session's seven slots, all sized and filled with noise so that any
// write shows.
struct Session {
    static constexpr int kW = 16;
    static constexpr int kH = 10;
    std::array<CImageBuffer, 7> buffers;
    AdjustmentArray values{};
    AdjustmentBlock adjust{values};
    FakeHost host;
    DevelopInput in;

    explicit Session(int mode) {
        const std::uint16_t bits[6] = {8, 16, 24, 32, 48, 64};
        std::mt19937 rng(static_cast<unsigned>(mode) + 1);
        for (int i = 0; i < 6; ++i) {
            EXPECT_EQ(buffers[static_cast<std::size_t>(i)].Create(kW, kH, bits[i]), 1);
        }
        EXPECT_EQ(buffers[6].CreateLike(&buffers[static_cast<std::size_t>(mode)]), 1);
        for (auto& b : buffers)
            for (std::size_t i = 0; i < b.store_size(); ++i) b.pixels()[i] = static_cast<std::uint8_t>(rng());
        // 12-bit raw samples.
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) {
                std::uint8_t* p = buffers[1].pixels() + y * buffers[1].stride() + 2 * x;
                store16(p, static_cast<std::uint16_t>(load16(p) & 0x0FFF));
            }
        SetAdjustmentDefaults(values);
        adjust.BayerMode() = 0;
        in.adjust = &values;
        in.color_mode = mode;
        in.host = &host;
        for (std::size_t i = 0; i < 7; ++i) in.slots[i] = &buffers[i];
    }
    std::vector<std::uint8_t> copy(std::size_t slot) const {
        const CImageBuffer& b = buffers[slot];
        return {b.pixels(), b.pixels() + b.store_size()};
    }
    std::array<std::vector<std::uint8_t>, 7> all() const {
        std::array<std::vector<std::uint8_t>, 7> out;
        for (std::size_t i = 0; i < 7; ++i) out[i] = copy(i);
        return out;
    }
};

std::vector<std::uint8_t> demosaic_of(const CImageBuffer& raw_in, std::uint16_t bits, BayerRecord rec,
                                      const std::vector<std::uint8_t>& old_dst) {
    CImageBuffer raw, dst;
    EXPECT_EQ(raw.CreateLike(&raw_in), 1);
    std::memcpy(raw.pixels(), raw_in.pixels(), raw.store_size());
    EXPECT_EQ(dst.Create(raw.width(), raw.height(), bits), 1);
    std::memcpy(dst.pixels(), old_dst.data(), dst.store_size());  // keeps the fourth channel
    DemosaicPasses(dst, raw, rec);
    return {dst.pixels(), dst.pixels() + dst.store_size()};
}

TEST(Development, EachColourModeWritesOnlyItsOutput) {
    for (int mode = 2; mode <= 5; ++mode) {
        Session s(mode);
        s.adjust.BayerGainRed() = 150;
        s.adjust.BayerGainBlue() = 80;
        const auto before = s.all();
        const std::size_t raw_slot = mode >= 4 ? 1 : 0;
        const std::uint16_t bits[6] = {8, 16, 24, 32, 48, 64};
        const auto want = demosaic_of(s.buffers[raw_slot], bits[mode], BayerRecord{0, 150, 100, 80},
                                      before[static_cast<std::size_t>(mode)]);
        DevelopFrame(s.in);
        const auto after = s.all();
        for (std::size_t i = 0; i < 7; ++i) {
            if (i == static_cast<std::size_t>(mode)) {
                EXPECT_EQ(after[i], want) << "mode " << mode;
                EXPECT_NE(after[i], before[i]) << "mode " << mode;
            } else {
                EXPECT_EQ(after[i], before[i]) << "mode " << mode << " slot " << i;
            }
        }
        EXPECT_EQ(s.host.refreshes, 0);
    }
}

TEST(Development, MirrorsChangeThePhaseOfTheDemosaic) {
    Session s(2);
    s.in.mirror_h = true;
    s.in.mirror_v = true;
    const auto want = demosaic_of(s.buffers[0], 24, BayerRecord{3, 100, 100, 100}, s.copy(2));
    DevelopFrame(s.in);
    EXPECT_EQ(s.copy(2), want);
}

TEST(Development, MonochromeModesWithoutGrayProcessingTouchNothing) {
    for (int mode = 0; mode <= 1; ++mode) {
        Session s(mode);
        const auto before = s.all();
        DevelopFrame(s.in);
        EXPECT_EQ(s.all(), before) << mode;
    }
}

TEST(Development, GrayModeTwoGoesThroughColourAndBack) {
    Session s(0);
    s.adjust.GrayMode() = 2;
    const auto before = s.all();
    const auto colour = demosaic_of(s.buffers[0], 24, BayerRecord{0, 100, 100, 100}, before[2]);
    DevelopFrame(s.in);
    EXPECT_EQ(s.copy(2), colour);
    CImageBuffer c, g;
    ASSERT_EQ(c.Create(Session::kW, Session::kH, 24), 1);
    ASSERT_EQ(g.Create(Session::kW, Session::kH, 8), 1);
    std::memcpy(c.pixels(), colour.data(), colour.size());
    TransferRect(g, ColorToGray, c, nullptr, 0, 0, nullptr, nullptr);
    EXPECT_EQ(s.copy(0), std::vector<std::uint8_t>(g.pixels(), g.pixels() + g.store_size()));

    // Mode 1: the 16-bit output stays as it was.
    Session m(1);
    m.adjust.GrayMode() = 2;
    const auto raw16 = m.copy(1);
    DevelopFrame(m.in);
    EXPECT_EQ(m.copy(1), raw16);
}

TEST(Development, WhiteBalanceOnceThenOff) {
    Session s(2);
    // Phase 0 frame: green 100, red 50, blue 100.
    CImageBuffer& raw = s.buffers[0];
    for (int y = 0; y < Session::kH; ++y)
        for (int x = 0; x < Session::kW; ++x) {
            const int c = x % 2, r = y % 2;
            raw.pixels()[y * raw.stride() + x] = static_cast<std::uint8_t>(c == r ? 100 : (c == 1 ? 100 : 50));
        }
    s.adjust.BayerGainAuto() = 1;
    s.adjust.WhiteBalanceOnceA() = 1;
    s.adjust.WhiteBalanceOnceB() = 1;
    s.adjust.BayerGainGreen() = 300;
    const auto want = demosaic_of(raw, 24, BayerRecord{0, 200, 100, 100}, s.copy(2));
    DevelopFrame(s.in);
    EXPECT_EQ(s.adjust.BayerGainRed(), 200);
    EXPECT_EQ(s.adjust.BayerGainBlue(), 100);
    EXPECT_EQ(s.adjust.BayerGainGreen(), 100);
    EXPECT_EQ(s.adjust.BayerGainAuto(), 0);
    EXPECT_EQ(s.adjust.WhiteBalanceOnceA(), 0);
    EXPECT_EQ(s.adjust.WhiteBalanceOnceB(), 0);
    EXPECT_EQ(s.host.refreshes, 1);
    EXPECT_EQ(s.copy(2), want);  // the new gains apply to this very frame

    // Without the markers every frame is measured; a dim red caps at 400.
    for (int y = 1; y < Session::kH; y += 2)
        for (int x = 0; x < Session::kW; x += 2) raw.pixels()[y * raw.stride() + x] = 20;
    s.adjust.BayerGainAuto() = 1;
    DevelopFrame(s.in);
    DevelopFrame(s.in);
    EXPECT_EQ(s.adjust.BayerGainRed(), 400);
    EXPECT_EQ(s.adjust.BayerGainAuto(), 1);
    EXPECT_EQ(s.host.refreshes, 3);
}

TEST(Development, AutoExposureMeasuresTheModesRawBuffer) {
    Session s(4);
    fill_all(s.buffers[1], 30 << 4);  // dark 16-bit raw
    fill_all(s.buffers[0], 120);      // the 8-bit slot would say "fine"
    s.in.auto_iris_mode = 1;
    DevelopFrame(s.in);
    ASSERT_EQ(s.host.exposures_set.size(), 1u);
    EXPECT_EQ(s.host.exposures_set[0], 955);
}

TEST(Development, IncompleteInputIsIgnored) {
    Session s(2);
    const auto before = s.all();
    DevelopInput in = s.in;
    in.slots[6] = nullptr;
    DevelopFrame(in);
    in = s.in;
    in.color_mode = 6;
    DevelopFrame(in);
    in = s.in;
    in.host = nullptr;
    DevelopFrame(in);
    EXPECT_EQ(s.all(), before);
}

}  // namespace
}  // namespace zbx::pipeline
