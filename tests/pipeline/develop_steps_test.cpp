// Development with the defect, gray-correction and adjustment steps in
// place.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "pipeline/develop.h"
#include "pipeline/develop_steps.h"
#include "pipeline/image_buffer.h"
#include "pipeline/pixel_access.h"

namespace zbx::pipeline {
namespace {

class StepsHost : public DevelopHost {
public:
    std::vector<DefectPosition> defects;
    int refreshes = 0, locks = 0, unlocks = 0;
    std::int32_t sensor_gain() override { return 0; }
    void set_sensor_gain(std::int32_t) override {}
    std::int32_t min_gain() override { return 0; }
    std::int32_t max_gain() override { return 11; }
    std::int32_t sensor_exposure() override { return 637; }
    void set_sensor_exposure(std::int32_t) override {}
    std::int32_t min_exposure() override { return 1; }
    std::int32_t max_exposure() override { return 32767; }
    void store_gain(std::int32_t) override {}
    void store_exposure(std::int32_t) override {}
    void refresh_image_dialog() override { ++refreshes; }
    void show_analog_value(std::int32_t, std::int32_t) override {}
    DefectListView lock_defect_list() override {
        ++locks;
        return {defects.data(), defects.size()};
    }
    void unlock_defect_list() override { ++unlocks; }
};

struct Frame {
    static constexpr int kW = 16;
    static constexpr int kH = 10;
    std::array<CImageBuffer, 7> slots;
    AdjustmentArray values{};
    AdjustmentBlock adjust{values};
    StepsHost host;
    DevelopInput in;
    explicit Frame(int mode) {
        const std::uint16_t bits[6] = {8, 16, 24, 32, 48, 64};
        for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(slots[i].Create(kW, kH, bits[i]), 1);
        EXPECT_EQ(slots[6].CreateLike(&slots[static_cast<std::size_t>(mode)]), 1);
        SetAdjustmentDefaults(values);
        adjust.BayerMode() = 0;
        in.adjust = &values;
        in.color_mode = mode;
        in.host = &host;
        in.x_start = 0;
        in.y_start = 0;
        in.width = kW;
        in.height = kH;
        for (std::size_t i = 0; i < 7; ++i) in.slots[i] = &slots[i];
    }
    std::uint8_t& px8(int x, int y) { return slots[0].pixels()[y * slots[0].stride() + x]; }
};

TEST(DevelopmentSteps, GrayCorrectionSkippedWithUnitGainsWhateverTheOffsets) {
    Frame f(0);
    std::memset(f.slots[0].pixels(), 60, f.slots[0].store_size());
    f.adjust.GrayMode() = 1;
    f.adjust.GrayOffsetR() = 40;
    DevelopFrame(f.in);
    for (int y = 0; y < Frame::kH; ++y)
        for (int x = 0; x < Frame::kW; ++x) ASSERT_EQ(f.px8(x, y), 60);

    // A red gain of 2.0 doubles the red cells: column parity 1, row parity 0
    // under phase 0.
    f.adjust.GrayGainR() = 256;
    f.adjust.GrayOffsetR() = 0;
    DevelopFrame(f.in);
    EXPECT_EQ(f.px8(1, 0), 120);
    EXPECT_EQ(f.px8(0, 0), 60);
    EXPECT_EQ(f.px8(1, 1), 60);
}

TEST(DevelopmentSteps, GrayBalanceWritesGainsBackAndCountsDown) {
    Frame f(0);
    for (int y = 0; y < Frame::kH; ++y)
        for (int x = 0; x < Frame::kW; ++x) f.px8(x, y) = (x % 2 == 1 && y % 2 == 0) ? 50 : 100;
    f.adjust.GrayMode() = 1;
    f.adjust.GrayAutoBalanceCount() = 1;
    f.adjust.GrayOffsetB() = 3;
    DevelopFrame(f.in);
    EXPECT_EQ(f.adjust.GrayGainR(), 256);
    EXPECT_EQ(f.adjust.GrayGainG1(), 128);
    EXPECT_EQ(f.adjust.GrayOffsetB(), 3);
    EXPECT_EQ(f.adjust.GrayAutoBalanceCount(), 0);
    EXPECT_EQ(f.host.refreshes, 1);
    EXPECT_EQ(f.px8(1, 0), 100);  // corrected with the measured gain

    f.adjust.GrayAutoBalanceCount() = -1;  // every frame
    DevelopFrame(f.in);
    EXPECT_EQ(f.adjust.GrayAutoBalanceCount(), -2);
    EXPECT_EQ(f.host.refreshes, 2);
}

TEST(DevelopmentSteps, AdjustmentsRunOnTheOutputAfterTheDemosaic) {
    Frame f(2);
    std::memset(f.slots[0].pixels(), 90, f.slots[0].store_size());
    f.adjust.Brightness() = -255;
    DevelopFrame(f.in);
    for (int y = 0; y < Frame::kH; ++y)
        for (int x = 0; x < 3 * Frame::kW; ++x) ASSERT_EQ(f.slots[2].pixels()[y * f.slots[2].stride() + x], 0);
    // The raw frame is left as it was.
    EXPECT_EQ(f.px8(3, 3), 90);
}

TEST(DevelopmentSteps, DefectCorrectionUnderTheListLock) {
    Frame f(0);
    std::memset(f.slots[0].pixels(), 10, f.slots[0].store_size());
    // (5, 715): the region's rows are 710 ... 719 counted from the bottom, so
    // the pixel lies in memory row kH - 1 - 5 = 4.
    f.host.defects = {DefectPosition{5, 715}};
    f.px8(5, 4) = 255;
    f.px8(4, 4) = 10;
    f.px8(6, 4) = 20;
    f.px8(5, 5) = 30;
    f.px8(5, 3) = 41;
    DevelopFrame(f.in);
    EXPECT_EQ(f.px8(5, 4), 255);  // switch off: untouched
    EXPECT_EQ(f.host.locks, 0);
    f.in.defect_correction = true;
    DevelopFrame(f.in);
    EXPECT_EQ(f.px8(5, 4), 25);
    EXPECT_EQ(f.host.locks, 1);
    EXPECT_EQ(f.host.unlocks, 1);
}

}  // namespace
}  // namespace zbx::pipeline

