// Listing, naming and switching cameras, and the camera information.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "e2e_session.h"

namespace zbx::test {
namespace {

// Cameras in slots 0 and 3.
class TwoCameras : public E2eSession {
protected:
    void SetUp() override {
        E2eSession::SetUp();
        ASSERT_EQ(ZbxVcam_SetSlots(0b1001), ZBX_VCAM_OK);
        open();
        history();
        posted();
    }
};

TEST_F(TwoCameras, EnumerationNumbersTheCamerasFound) {
    char names[12][256];
    for (auto& n : names) std::fill(std::begin(n), std::end(n), 'z');
    EXPECT_EQ(Zorbex_EnumDevice(h_, names), 2);
    EXPECT_STREQ(names[0], "Zorbex530RD-NQT_01");
    EXPECT_STREQ(names[1], "Zorbex530RD-NQT_02");
    for (int i = 2; i < 10; ++i) EXPECT_EQ(names[i][0], '\0') << i;
    EXPECT_EQ(names[10][0], 'z');  // nothing past the tenth entry

    char16_t wide[10][256] = {};
    EXPECT_EQ(Zorbex_EnumDeviceW(h_, wide), 2);
    EXPECT_EQ(std::u16string(wide[1]), u"Zorbex530RD-NQT_02");
    EXPECT_TRUE(history().empty());
}

TEST_F(TwoCameras, NamesFollowTheSlot) {
    char name[64] = {};
    EXPECT_EQ(Zorbex_GetDeviceName(h_, 3, name, sizeof name), 1);
    EXPECT_STREQ(name, "Zorbex530RD-NQT_04");
    char16_t wide[64] = {};
    EXPECT_EQ(Zorbex_GetDeviceNameW(h_, 0, wide, 64), 1);
    EXPECT_EQ(std::u16string(wide), u"Zorbex530RD-NQT_01");
    EXPECT_EQ(Zorbex_GetDeviceName(h_, 1, name, sizeof name), 0);
    EXPECT_EQ(Zorbex_GetDeviceName(h_, 3, name, 14), 0);
    EXPECT_EQ(Zorbex_GetDeviceName(h_, 32, name, sizeof name), 0);
    EXPECT_EQ(Zorbex_GetDeviceName(h_, -1, name, sizeof name), 0);
    EXPECT_EQ(history(), (std::vector<int>{9, 9, 9, 2}));

    // A buffer of 15 to 18 gets as much of the name as fits, terminated.
    char small[16];
    std::fill(std::begin(small), std::end(small), 'z');
    EXPECT_EQ(Zorbex_GetDeviceName(h_, 3, small, 15), 1);
    EXPECT_STREQ(small, "Zorbex530RD-NQ");
    EXPECT_EQ(small[15], 'z');
}

TEST_F(TwoCameras, SwitchingSavesTheOldGroupsAndLoadsTheNew) {
    store_values(camera_key(3, "Filter"), {{"Brightness", 55}});
    store_values(camera_key(3, "Gain"), {{"Global", 2}, {"Exposure", 700}, {"V_Mirror", 1}});
    ASSERT_EQ(Zorbex_SetBrightness(h_, 11), 1);

    // An absent slot: the old camera's values are saved, nothing switches.
    EXPECT_EQ(Zorbex_SetDeviceNumber(h_, 1), 0);
    EXPECT_EQ(history(), std::vector<int>{2});
    EXPECT_EQ(stored_value(camera_key(0, "Filter"), "Brightness"), 11);

    ASSERT_EQ(Zorbex_SetBrightness(h_, 12), 1);
    ASSERT_EQ(Zorbex_SetDeviceNumber(h_, 3), 1);
    EXPECT_EQ(stored_value(camera_key(0, "Filter"), "Brightness"), 12);
    EXPECT_EQ(Zorbex_GetBrightness(h_, nullptr), 55);
    EXPECT_EQ(sensor_register(15, 3), 700);
    EXPECT_EQ(sensor_register(35, 3), 0x14 * 257);
    EXPECT_EQ(sensor_register(2, 3) & 1, 0);
    EXPECT_EQ(Zorbex_GetExposureTime(h_, nullptr), 700);

    // Listing the cameras keeps the session on its camera.
    char names[10][256];
    EXPECT_EQ(Zorbex_EnumDevice(h_, names), 2);
    ASSERT_EQ(Zorbex_SetBrightness(h_, 66), 1);
    close();
    EXPECT_EQ(stored_value(camera_key(3, "Filter"), "Brightness"), 66);
    EXPECT_EQ(stored_value(camera_key(0, "Filter"), "Brightness"), 12);
}

// The camera cannot be switched under a running stream (its thread reads
// through the device link); once stopped it can.
TEST_F(TwoCameras, SwitchingWaitsForTheStreamToStop) {
    ASSERT_EQ(Zorbex_StartPreview(h_), 1);
    EXPECT_EQ(Zorbex_SetDeviceNumber(h_, 3), 0);
    EXPECT_EQ(history(), std::vector<int>{1});
    ASSERT_EQ(Zorbex_StopPreview(h_), 1);
    EXPECT_EQ(Zorbex_SetDeviceNumber(h_, 3), 1);
    EXPECT_TRUE(history().empty());
}

// Snapshots on one thread, switches and listings on another, one session:
// each call finds the device link whole (re-initialisation used to free
// the frame buffer a snapshot was reading into).
TEST_F(TwoCameras, SnapshotsAndSwitchesOnOneSessionTakeTurns) {
    constexpr int kRounds = 15;
    int snapshots = 0;
    std::thread shooter([&] {
        std::vector<unsigned char> image(1280 * 720 * 3);
        for (int i = 0; i < kRounds; ++i)
            snapshots += Zorbex_SnapShot(h_, image.data(), static_cast<int>(image.size()), 1);
    });
    int switches = 0;
    char names[10][256];
    for (int i = 0; i < kRounds; ++i) {
        switches += Zorbex_SetDeviceNumber(h_, i % 2 == 0 ? 3 : 0);
        EXPECT_EQ(Zorbex_EnumDevice(h_, names), 2);
    }
    shooter.join();
    EXPECT_EQ(snapshots, kRounds);
    EXPECT_EQ(switches, kRounds);
    EXPECT_TRUE(history().empty());
}

TEST_F(TwoCameras, CameraInformation) {
    ZbxCameraInfo info{};
    info.size = 35;
    EXPECT_EQ(Zorbex_GetCameraInfo(h_, &info), 0);
    EXPECT_EQ(info.sensor_width, 0);
    EXPECT_EQ(Zorbex_GetCameraInfo(h_, nullptr), 0);
    info.size = 36;
    ASSERT_EQ(Zorbex_GetCameraInfo(h_, &info), 1);
    EXPECT_EQ(info.size, 36u);
    EXPECT_EQ(info.sensor_width, 1280);
    EXPECT_EQ(info.sensor_height, 720);
    EXPECT_EQ(info.min_gain, 0);
    EXPECT_EQ(info.max_gain, 11);
    EXPECT_EQ(info.min_exposure, 1);
    EXPECT_EQ(info.max_exposure, 32767);
    EXPECT_EQ(history(), (std::vector<int>{9, 5}));
}

// A serial-ROM read whose command the camera refuses is a failed read: no
// stale byte from the read before it, ok = 0, code 1 posted (not recorded).
TEST_F(TwoCameras, RefusedRomReadFailsWithoutAStaleByte) {
    ASSERT_EQ(ZbxVcam_SetRomByte(0, 0x1803, 0x42), ZBX_VCAM_OK);
    ASSERT_EQ(ZbxVcam_SetRomByte(0, 0x1804, 0x07), ZBX_VCAM_OK);
    int ok = -1;
    ASSERT_EQ(Zorbex_ReadSromID(h_, 3, &ok), 0x42);
    ASSERT_EQ(ok, 1);
    ASSERT_EQ(ZbxVcam_SetRegisterFaults(0, 1, 0), ZBX_VCAM_OK);
    EXPECT_EQ(Zorbex_ReadSromID(h_, 4, &ok), 0);
    EXPECT_EQ(ok, 0);
    ASSERT_EQ(ZbxVcam_SetRegisterFaults(0, 0, 0), ZBX_VCAM_OK);
    EXPECT_EQ(Zorbex_ReadSromID(h_, 4, &ok), 0x07);
    EXPECT_EQ(ok, 1);
    EXPECT_TRUE(history().empty());
    EXPECT_EQ(posted(), (std::vector<std::intptr_t>{1}));
}

}  // namespace
}  // namespace zbx::test
