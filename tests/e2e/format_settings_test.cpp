// Colour mode, sub-sample, wait time, mirrors and the direct device access
// exports, with what each records or only posts.
#include <gtest/gtest.h>

#include <vector>

#include "e2e_session.h"

namespace zbx::test {
namespace {

using FormatSettings = OpenSession;

TEST_F(FormatSettings, ColourModeHasTwoNumberings) {
    const int set_bits[] = {8, 16, 24, 32, 48, 64};
    const int reported[] = {8, 12, 24, 32, 44, 60};
    for (int i = 0; i < 6; ++i) {
        ASSERT_EQ(Zorbex_SetColorMode(h_, set_bits[i]), 1);
        EXPECT_EQ(Zorbex_GetColorMode(h_), reported[i]);
    }
    EXPECT_EQ(Zorbex_SetColorMode(h_, 12), 0);
    EXPECT_EQ(Zorbex_SetColorMode(h_, 0), 0);
    EXPECT_EQ(Zorbex_GetColorMode(h_), 60);
    EXPECT_EQ(history(), (std::vector<int>{9, 9}));
}

TEST_F(FormatSettings, SubSampleAndWaitTimeFailWithoutACode) {
    EXPECT_EQ(Zorbex_SetSubSample(h_, 1), 0);
    EXPECT_EQ(Zorbex_SetSubSample(h_, 17), 0);
    EXPECT_EQ(Zorbex_GetSubSample(h_), 0);
    EXPECT_EQ(Zorbex_SetSubSample(h_, 0), 1);
    EXPECT_EQ(Zorbex_SetWaitTime(h_, 0), 1);
    EXPECT_EQ(Zorbex_GetWaitTime(h_), 0);
    EXPECT_EQ(Zorbex_SetWaitTime(h_, -1), 0);
    EXPECT_EQ(Zorbex_GetWaitTime(h_), 0);
    EXPECT_TRUE(history().empty());
    EXPECT_TRUE(posted().empty());
    EXPECT_EQ(Zorbex_Width(h_), 1280);
    EXPECT_EQ(Zorbex_Height(h_), 720);
}

TEST_F(FormatSettings, VideoFormatAndSamplingRateAreOneOperation) {
    int value = 77;
    EXPECT_EQ(Zorbex_GetVideoFormat(h_, &value), 0);
    EXPECT_EQ(value, 0);
    value = 77;
    EXPECT_EQ(Zorbex_GetSamplingRate(h_, &value), 0);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(Zorbex_GetVideoFormat(h_, nullptr), 0);
    value = 77;
    EXPECT_EQ(Zorbex_GetSamplingRate(h_ + 1, &value), 0);
    EXPECT_EQ(value, 77);
    EXPECT_EQ(reinterpret_cast<void*>(&Zorbex_GetVideoFormat), reinterpret_cast<void*>(&Zorbex_GetSamplingRate));
    EXPECT_TRUE(history().empty());
}

TEST_F(FormatSettings, MirrorsProgramRegister2AtOnce) {
    // A bit is cleared to switch mirroring on.
    ASSERT_EQ(Zorbex_SetMirrorH(h_, 5), 1);
    EXPECT_EQ(Zorbex_GetMirrorH(h_), 1);
    EXPECT_EQ(sensor_register(2) & 2, 0);
    ASSERT_EQ(Zorbex_SetMirrorV(h_, 1), 1);
    EXPECT_EQ(Zorbex_GetMirrorV(h_), 1);
    EXPECT_EQ(sensor_register(2) & 3, 0);
    ASSERT_EQ(Zorbex_SetMirrorH(h_, 0), 1);
    EXPECT_EQ(Zorbex_GetMirrorH(h_), 0);
    EXPECT_EQ(sensor_register(2) & 3, 2);
    EXPECT_EQ(sensor_register(1), 0);
}

TEST_F(FormatSettings, RegistersByShortAndFullAddress) {
    int ok = -1;
    EXPECT_EQ(Zorbex_ReadRegister(h_, 0x12E, &ok), 2944);  // register 46
    EXPECT_EQ(ok, 1);
    ASSERT_EQ(Zorbex_WriteRegister(h_, 0x130, 0xBEEF), 1);
    EXPECT_EQ(sensor_register(0x30), 0xBEEF);
    ASSERT_EQ(Zorbex_WriteRegisterEx(h_, 0x8001, 1234), 1);
    EXPECT_EQ(sensor_register(0x8001), 1234);
    EXPECT_EQ(Zorbex_ReadRegisterEx(h_, 0x8001, nullptr), 1234);
    EXPECT_TRUE(history().empty());

    ASSERT_EQ(ZbxVcam_SetRegisterFaults(0, 1, 1), ZBX_VCAM_OK);
    EXPECT_EQ(Zorbex_ReadRegister(h_, 46, &ok), 0);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(Zorbex_WriteRegisterEx(h_, 46, 1), 0);
    ASSERT_EQ(ZbxVcam_SetRegisterFaults(0, 0, 0), ZBX_VCAM_OK);
    EXPECT_EQ(history(), (std::vector<int>{6, 6}));
}

TEST_F(FormatSettings, IoPortAndSerialRomFailuresArePostedOnly) {
    ASSERT_EQ(Zorbex_SetIOPort(h_, 0x1A5), 1);
    EXPECT_EQ(controller_register(7), 0xA5);
    unsigned char port = 0;
    EXPECT_EQ(Zorbex_GetIOPort(h_, &port, nullptr, 0), 1);
    EXPECT_EQ(port, 0xA5);
    EXPECT_EQ(Zorbex_GetIOPort(h_, nullptr, nullptr, 0), 0);

    ASSERT_EQ(Zorbex_WriteSromID(h_, 3, 0x42), 1);
    std::uint8_t rom = 0;
    ASSERT_EQ(ZbxVcam_GetRomByte(0, 0x1803, &rom), ZBX_VCAM_OK);
    EXPECT_EQ(rom, 0x42);
    int ok = -1;
    EXPECT_EQ(Zorbex_ReadSromID(h_, 3, &ok), 0x42);
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(Zorbex_ReadSromID(h_, 256, &ok), 0);
    EXPECT_EQ(ok, 0);

    // A failed read still reports success, with 0.
    ASSERT_EQ(ZbxVcam_Unplug(0), ZBX_VCAM_OK);
    port = 9;
    EXPECT_EQ(Zorbex_GetIOPort(h_, &port, nullptr, 0), 1);
    EXPECT_EQ(port, 0);
    EXPECT_EQ(Zorbex_SetIOPort(h_, 1), 0);
    EXPECT_EQ(Zorbex_ReadSromID(h_, 3, &ok), 0);
    EXPECT_EQ(Zorbex_WriteSromID(h_, 3, 1), 0);
    ASSERT_EQ(ZbxVcam_Replug(0), ZBX_VCAM_OK);

    EXPECT_TRUE(history().empty());
    EXPECT_EQ(posted(), (std::vector<std::intptr_t>{9, 1, 1, 1}));
}

}  // namespace
}  // namespace zbx::test
