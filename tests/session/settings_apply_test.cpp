// The settings apply on its own: buffers per colour mode, what the sensor
// receives, and its refusals.
#include <gtest/gtest.h>

#include <cstdint>

#include "device/camera_table.h"
#include "pipeline/image_buffer.h"
#include "platform/settings_store.h"
#include "session/settings_apply.h"
#include "session/zorbex.h"
#include "zorbex/vcam.h"

namespace zbx::session {
namespace {

class SettingsApply : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(ZbxVcam_Reset(), ZBX_VCAM_OK);
        (void)platform::delete_settings_tree("Software\\Tevrun\\Zorbex530RDNQTSdk");
    }
    void open() {
        s_ = std::make_unique<CZorbex>();
        ASSERT_EQ(s_->initialize(nullptr), 1);
        while (s_->pop_last_error() != 0) {
        }
    }
    // Bits of slots 0 to 6 (0 for a buffer never sized).
    std::array<int, 7> bits() const {
        std::array<int, 7> b{};
        for (std::size_t i = 0; i < b.size(); ++i) b[i] = s_->image_buffer(i)->bits_per_pixel();
        return b;
    }
    std::uint16_t reg(int address) const {
        std::uint16_t v = 0;
        EXPECT_EQ(ZbxVcam_GetSensorRegister(0, static_cast<std::uint32_t>(address), &v), ZBX_VCAM_OK);
        return v;
    }
    std::uint8_t controller(int number) const {
        std::uint8_t v = 0;
        EXPECT_EQ(ZbxVcam_GetControllerRegister(0, static_cast<std::uint32_t>(number), &v), ZBX_VCAM_OK);
        return v;
    }
    std::unique_ptr<CZorbex> s_;
};

TEST_F(SettingsApply, EachColourModeSizesItsBuffers) {
    struct Case {
        int mode;
        std::array<int, 7> bits;
    };
    const Case cases[] = {
        {0, {8, 0, 24, 0, 0, 0, 8}},   {1, {8, 16, 0, 0, 0, 0, 16}}, {2, {8, 0, 24, 0, 0, 0, 24}},
        {3, {8, 0, 24, 32, 0, 0, 32}}, {4, {0, 16, 24, 0, 48, 0, 48}}, {5, {0, 16, 24, 0, 0, 64, 64}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        open();  // fresh, empty buffers
        s_->geometry().width = 640;
        s_->geometry().height = 480;
        s_->acquisition().color_mode = c.mode;
        ASSERT_EQ(apply_settings(*s_), 1);
        EXPECT_EQ(bits(), c.bits);
        for (int slot = 0; slot < 7; ++slot) {
            if (c.bits[slot] == 0) continue;
            EXPECT_EQ(s_->image_buffer(slot)->width(), 640);
            EXPECT_EQ(s_->image_buffer(slot)->height(), 480);
        }
        const bool sixteen = c.mode == 1 || c.mode == 4 || c.mode == 5;
        EXPECT_EQ(controller(14), sixteen ? 5 : 4);
        EXPECT_EQ(s_->pop_last_error(), 0);
    }
}

TEST_F(SettingsApply, ProgramsWindowClockMirrorsGainAndExposure) {
    open();
    Geometry& g = s_->geometry();
    g.width = 1278;
    g.height = 700;
    g.h_start = 2;
    g.v_start = 20;
    s_->acquisition().clock = 0x101;  // low byte only
    s_->analog().mirror_v = 1;
    s_->analog().global_gain = 0x105;  // low byte: index 5
    s_->analog().exposure_lines = 0x10000 + 900;
    ASSERT_EQ(ZbxVcam_SetSensorRegister(0, 1, 1), ZBX_VCAM_OK);  // trigger mode on
    ASSERT_EQ(apply_settings(*s_), 1);
    EXPECT_EQ(reg(4), 84);
    EXPECT_EQ(reg(5), 700);
    EXPECT_EQ(reg(6), 134);
    EXPECT_EQ(reg(7), 1278);
    EXPECT_EQ(controller(15), 1);
    EXPECT_EQ(reg(2) & 3, 2);  // vertical on (bit cleared), horizontal off
    EXPECT_EQ(reg(1), 0);
    EXPECT_EQ(controller(11), 0);
    EXPECT_EQ(reg(35), 0x17 * 257);
    EXPECT_EQ(reg(15), 900);
    EXPECT_EQ(s_->exposure().line_length, 2950);
    // The model uses the stored lines, not the 16 bits the sensor got.
    EXPECT_EQ(s_->exposure().last_real_exposure_time, 1959861);
}

TEST_F(SettingsApply, RefusesAGeometryOffTheSensor) {
    open();
    s_->geometry().h_start = 1;  // 1 + 1280 > 1280
    EXPECT_EQ(apply_settings(*s_), 0);
    EXPECT_EQ(s_->pop_last_error(), ERR_GEOMETRY);
    EXPECT_EQ(s_->image_buffer(0)->bits_per_pixel(), 0);
    s_->geometry().h_start = 0;
    s_->acquisition().sub_sample = 18;
    EXPECT_EQ(apply_settings(*s_), 0);
    EXPECT_EQ(s_->pop_last_error(), ERR_GEOMETRY);
}

TEST_F(SettingsApply, AModeWithoutImageBufferFailsWithCode5) {
    open();
    s_->acquisition().color_mode = 9;
    EXPECT_EQ(apply_settings(*s_), 0);
    EXPECT_EQ(s_->pop_last_error(), ERR_MEMORY);
}

TEST_F(SettingsApply, RefusesACameraThatIsAbsentOrStreamingElsewhere) {
    ASSERT_EQ(ZbxVcam_SetSlots(0), ZBX_VCAM_OK);
    open();
    EXPECT_EQ(apply_settings(*s_), 0);
    EXPECT_EQ(s_->pop_last_error(), ERR_DEVICE_UNAVAILABLE);

    ASSERT_EQ(ZbxVcam_Reset(), ZBX_VCAM_OK);
    open();
    device::SharedCameraTable other;
    ASSERT_TRUE(other.open(device::kSharedBlockName));
    ASSERT_EQ(other.mark_running(0, 0x1234), 1);
    EXPECT_EQ(apply_settings(*s_), 0);
    EXPECT_EQ(s_->pop_last_error(), ERR_DEVICE_UNAVAILABLE);
    ASSERT_EQ(other.mark_stopped(0, 0x1234), 1);
    EXPECT_EQ(apply_settings(*s_), 1);
}

}  // namespace
}  // namespace zbx::session

namespace zbx::session {
namespace {

TEST(SessionLifetime, ReleaseMarksItsCameraStoppedOnlyForItsOwnEntry) {
    ASSERT_EQ(ZbxVcam_Reset(), ZBX_VCAM_OK);
    ZbxWindow window = ZbxWin_CreateMessageWindow();
    device::SharedCameraTable observer;
    {
        CZorbex s;
        ASSERT_EQ(s.initialize(window), 1);
        // The block exists now; a second holder sees the same table.
        ASSERT_TRUE(observer.open(device::kSharedBlockName));
        ASSERT_EQ(s.camera_table().mark_running(0, reinterpret_cast<std::uintptr_t>(window)), 1);
        ASSERT_EQ(observer.mark_running(1, 0x5678), 1);
        EXPECT_TRUE(observer.in_use(0));
    }
    EXPECT_FALSE(observer.in_use(0));
    EXPECT_TRUE(observer.in_use(1));  // not this session's camera
    ASSERT_EQ(observer.mark_stopped(1, 0x5678), 1);
    ZbxWin_DestroyWindow(window);
}

TEST(SessionLifetime, MissingFilterGroupAlsoClearsTheBalanceSwitches) {
    ASSERT_EQ(ZbxVcam_Reset(), ZBX_VCAM_OK);
    (void)platform::delete_settings_tree("Software\\Tevrun\\Zorbex530RDNQTSdk");
    {
        CZorbex s;
        s.adjustment_values()[AdjustmentIndex::kBayerGainAuto] = 1;
        s.adjustment_values()[AdjustmentIndex::kWhiteBalanceOnceA] = 1;
        s.adjustment_values()[AdjustmentIndex::kGrayAutoBalanceCount] = -1;
        ASSERT_EQ(s.initialize(nullptr), 1);
        EXPECT_EQ(s.adjustment_values()[AdjustmentIndex::kBayerGainAuto], 0);
        EXPECT_EQ(s.adjustment_values()[AdjustmentIndex::kWhiteBalanceOnceA], 0);
        // The gray auto-balance count is not among the values cleared.
        EXPECT_EQ(s.adjustment_values()[AdjustmentIndex::kGrayAutoBalanceCount], -1);
        s.adjustment_values()[AdjustmentIndex::kBayerGainAuto] = 1;
    }
    // With the group saved, a read leaves them alone.
    CZorbex s;
    s.adjustment_values()[AdjustmentIndex::kBayerGainAuto] = 1;
    ASSERT_EQ(s.initialize(nullptr), 1);
    EXPECT_EQ(s.adjustment_values()[AdjustmentIndex::kBayerGainAuto], 1);
}

}  // namespace
}  // namespace zbx::session
