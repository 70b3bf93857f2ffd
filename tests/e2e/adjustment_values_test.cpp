// Filter values by id and by name, the sensor values they program, the
// switches and the real exposure time, through the exported functions.
#include <gtest/gtest.h>

#include <vector>

#include "e2e_session.h"

namespace zbx::test {
namespace {

struct Range {
    int id;
    int min;
    int max;
};

// Every id with a checked range, with its ends.
const std::vector<Range> kRanges = {
    {1, -255, 255}, {2, -127, 127}, {3, -360, 360}, {4, -255, 255}, {5, 0, 30},   {7, 0, 400},
    {8, 0, 400},    {9, 0, 400},    {11, 0, 200},   {12, 0, 3},     {13, 0, 11},  {14, 0, 0},
    {15, 0, 0},     {16, 0, 0},     {17, 0, 0},     {18, 1, 32767}, {19, 0, 2},   {20, 0, 255},
    {21, 0, 255},   {22, 0, 255},   {23, 0, 255},   {24, -255, 255}, {25, -255, 255},
    {26, -255, 255}, {27, -255, 255}, {28, 0, 1},
};

using FilterValues = OpenSession;

TEST_F(FilterValues, EveryRangeEndIsAcceptedAndOneBeyondIsRefusedUnchanged) {
    for (const Range& r : kRanges) {
        SCOPED_TRACE(r.id);
        int ok = -1;
        ASSERT_EQ(Zorbex_SetFilterValue(h_, r.id, r.min), 1);
        // Colour gains always read 0; the others read what was stored.
        EXPECT_EQ(Zorbex_GetFilterValue(h_, r.id, &ok), r.min);
        EXPECT_EQ(ok, 1);
        ASSERT_EQ(Zorbex_SetFilterValue(h_, r.id, r.max), 1);
        const int at_max = Zorbex_GetFilterValue(h_, r.id, &ok);
        EXPECT_EQ(at_max, r.max);
        EXPECT_EQ(Zorbex_SetFilterValue(h_, r.id, r.max + 1), 0);
        EXPECT_EQ(Zorbex_SetFilterValue(h_, r.id, r.min - 1), 0);
        EXPECT_EQ(Zorbex_GetFilterValue(h_, r.id, &ok), at_max);
        EXPECT_EQ(history(), (std::vector<int>{9, 9}));
    }
}

TEST_F(FilterValues, UnknownIdsFailWithCode9) {
    int ok = -1;
    EXPECT_EQ(Zorbex_SetFilterValue(h_, 29, 0), 0);
    EXPECT_EQ(Zorbex_SetFilterValue(h_, 0, 0), 0);
    EXPECT_EQ(Zorbex_GetFilterValue(h_, 0, &ok), 0);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(Zorbex_GetFilterValue(h_, 29, nullptr), 0);
    EXPECT_EQ(history(), (std::vector<int>{9, 9, 9, 9}));
    EXPECT_EQ(posted(), (std::vector<std::intptr_t>{9, 9, 9, 9}));
}

TEST_F(FilterValues, PackedBayerGainsAndTheSwitch) {
    ASSERT_EQ(Zorbex_SetBayerGainRGB(h_, 0x00C86432), 1);
    EXPECT_EQ(Zorbex_GetBayerGainRed(h_, nullptr), 50);
    EXPECT_EQ(Zorbex_GetBayerGainGreen(h_, nullptr), 100);
    EXPECT_EQ(Zorbex_GetBayerGainBlue(h_, nullptr), 200);
    EXPECT_EQ(Zorbex_GetBayerGainRGB(h_, nullptr), 0x00C86432);
    ASSERT_EQ(Zorbex_SetBayerGainRGB(h_, 0x7F000000), 1);
    EXPECT_EQ(Zorbex_GetBayerGainRGB(h_, nullptr), 0);
    EXPECT_EQ(Zorbex_GetFilterValue(h_, 7, nullptr), 0);
    // Negative packed values are taken as bits.
    ASSERT_EQ(Zorbex_SetBayerGainRGB(h_, -1), 1);
    EXPECT_EQ(Zorbex_GetBayerGainRGB(h_, nullptr), 0xFFFFFF);

    ASSERT_EQ(Zorbex_SetBayerGainAuto(h_, -7), 1);
    EXPECT_EQ(Zorbex_GetBayerGainAuto(h_, nullptr), 1);
    ASSERT_EQ(Zorbex_SetBayerGainAuto(h_, 0), 1);
    EXPECT_EQ(Zorbex_GetBayerGainAuto(h_, nullptr), 0);
    EXPECT_TRUE(history().empty());
}

// Each named pair against the id pair it stands for.
TEST_F(FilterValues, NamedFormsAreTheIdForms) {
    struct Named {
        int id;
        int (*get)(ZbxHandle, int*);
        int (*set)(ZbxHandle, int);
        int value;
    };
    const Named named[] = {
        {1, Zorbex_GetBrightness, Zorbex_SetBrightness, -17},
        {2, Zorbex_GetContrast, Zorbex_SetContrast, 33},
        {3, Zorbex_GetHue, Zorbex_SetHue, -300},
        {4, Zorbex_GetSaturation, Zorbex_SetSaturation, 200},
        {5, Zorbex_GetSharpness, Zorbex_SetSharpness, 30},
        {6, Zorbex_GetBayerGainRGB, Zorbex_SetBayerGainRGB, 0x010203},
        {7, Zorbex_GetBayerGainRed, Zorbex_SetBayerGainRed, 399},
        {8, Zorbex_GetBayerGainGreen, Zorbex_SetBayerGainGreen, 398},
        {9, Zorbex_GetBayerGainBlue, Zorbex_SetBayerGainBlue, 397},
        {10, Zorbex_GetBayerGainAuto, Zorbex_SetBayerGainAuto, 1},
        {11, Zorbex_GetGamma, Zorbex_SetGamma, 150},
        {12, Zorbex_GetBayerMode, Zorbex_SetBayerMode, 2},
        {13, Zorbex_GetGlobalGain, Zorbex_SetGlobalGain, 7},
        {14, Zorbex_GetColorGainRed, Zorbex_SetColorGainRed, 0},
        {15, Zorbex_GetColorGainGreen1, Zorbex_SetColorGainGreen1, 0},
        {16, Zorbex_GetColorGainGreen2, Zorbex_SetColorGainGreen2, 0},
        {17, Zorbex_GetColorGainBlue, Zorbex_SetColorGainBlue, 0},
        {18, Zorbex_GetExposureTime, Zorbex_SetExposureTime, 1234},
        {19, Zorbex_GetGrayMode, Zorbex_SetGrayMode, 2},
        {20, Zorbex_GetGrayGainR, Zorbex_SetGrayGainR, 201},
        {21, Zorbex_GetGrayGainG1, Zorbex_SetGrayGainG1, 202},
        {22, Zorbex_GetGrayGainG2, Zorbex_SetGrayGainG2, 203},
        {23, Zorbex_GetGrayGainB, Zorbex_SetGrayGainB, 204},
        {24, Zorbex_GetGrayOffsetR, Zorbex_SetGrayOffsetR, -1},
        {25, Zorbex_GetGrayOffsetG1, Zorbex_SetGrayOffsetG1, -2},
        {26, Zorbex_GetGrayOffsetG2, Zorbex_SetGrayOffsetG2, -3},
        {27, Zorbex_GetGrayOffsetB, Zorbex_SetGrayOffsetB, -4},
    };
    for (const Named& n : named) {
        SCOPED_TRACE(n.id);
        ASSERT_EQ(n.set(h_, n.value), 1);
        int ok_named = -1;
        int ok_id = -1;
        EXPECT_EQ(n.get(h_, &ok_named), n.value);
        EXPECT_EQ(Zorbex_GetFilterValue(h_, n.id, &ok_id), n.value);
        EXPECT_EQ(ok_named, ok_id);
        // The named setter refuses what the id setter refuses.
        EXPECT_EQ(n.set(h_, 100000), n.id == 6 || n.id == 10 ? 1 : 0);
    }
}

TEST_F(FilterValues, GlobalGainProgramsTheSensorAndEveryColourGain) {
    const std::uint16_t codes[] = {0x02, 0x03, 0x14, 0x15, 0x16, 0x17, 0x38, 0x39, 0x3A, 0x3B, 0x3C, 0x3D};
    for (int index = 0; index <= 11; ++index) {
        ASSERT_EQ(Zorbex_SetGlobalGain(h_, index), 1);
        EXPECT_EQ(sensor_register(35), codes[index] * 257);
        EXPECT_EQ(sensor_register(36), codes[index] * 257);
        // Read back from the sensor, not from the stored value.
        EXPECT_EQ(Zorbex_GetGlobalGain(h_, nullptr), index);
    }
    EXPECT_EQ(Zorbex_SetGlobalGain(h_, 12), 0);
    EXPECT_EQ(sensor_register(35), 0x3D * 257);
    EXPECT_EQ(history(), std::vector<int>{9});
    // The colour gains hold the gain index but always read 0.
    EXPECT_EQ(Zorbex_GetColorGainRed(h_, nullptr), 0);
    EXPECT_EQ(Zorbex_SetColorGainRed(h_, 5), 0);
    EXPECT_EQ(history(), std::vector<int>{9});
}

TEST_F(FilterValues, ExposureProgramsRegisters15And14) {
    ASSERT_EQ(Zorbex_SetExposureTime(h_, 800), 1);
    EXPECT_EQ(sensor_register(15), 800);
    EXPECT_EQ(sensor_register(14), 81);  // 800 - 720 + 1 at 8-bit samples
    ASSERT_EQ(Zorbex_SetExposureTime(h_, 1), 1);
    EXPECT_EQ(sensor_register(15), 1);
    EXPECT_EQ(sensor_register(14), 124);
    // What the sensor holds now is what is reported.
    ASSERT_EQ(ZbxVcam_SetSensorRegister(0, 15, 4321), ZBX_VCAM_OK);
    EXPECT_EQ(Zorbex_GetExposureTime(h_, nullptr), 4321);
}

TEST_F(FilterValues, RealExposureTimeUsesTheSinglePrecisionFactor) {
    ASSERT_EQ(sensor_register(46), 2944);
    ASSERT_EQ(Zorbex_SetExposureTime(h_, 1598), 1);
    int ok = -1;
    EXPECT_EQ(Zorbex_GetRealExposureTime(h_, &ok), 47140);
    EXPECT_EQ(ok, 1);

    ASSERT_EQ(Zorbex_SetRealExposureTime(h_, 29500), 1);
    EXPECT_EQ(sensor_register(15), 1000);
    EXPECT_EQ(Zorbex_GetExposureTime(h_, nullptr), 1000);
    EXPECT_EQ(Zorbex_GetRealExposureTime(h_, nullptr), 29499);

    // Out of range on either side: code 9 and the exposure stays.
    EXPECT_EQ(Zorbex_SetRealExposureTime(h_, 0), 0);
    EXPECT_EQ(Zorbex_SetRealExposureTime(h_, 1'000'000'000), 0);
    EXPECT_EQ(Zorbex_SetRealExposureTime(h_, -5), 0);
    EXPECT_EQ(sensor_register(15), 1000);
    EXPECT_EQ(history(), (std::vector<int>{9, 9, 9}));

    // Without the line length every time fails.
    ASSERT_EQ(ZbxVcam_SetRegisterFaults(0, 1, 0), ZBX_VCAM_OK);
    EXPECT_EQ(Zorbex_SetRealExposureTime(h_, 29500), 0);
    EXPECT_EQ(Zorbex_GetRealExposureTime(h_, &ok), 0);
    EXPECT_EQ(ok, 1);
    ASSERT_EQ(ZbxVcam_SetRegisterFaults(0, 0, 0), ZBX_VCAM_OK);
    EXPECT_EQ(history(), std::vector<int>{9});
}

TEST_F(FilterValues, DefectSwitchAndAutoIris) {
    EXPECT_EQ(Zorbex_GetConfigFilter(h_), 0);
    EXPECT_EQ(Zorbex_SetConfigFilter(h_, 1), 1);
    EXPECT_EQ(Zorbex_GetConfigFilter(h_), 1);
    EXPECT_EQ(Zorbex_SetConfigFilter(h_, 2), 0);
    EXPECT_EQ(Zorbex_GetConfigFilter(h_), 1);
    EXPECT_EQ(history(), std::vector<int>{9});
    posted();

    int ok = -1;
    EXPECT_EQ(Zorbex_SetAutoIris(h_, 2), 1);
    EXPECT_EQ(Zorbex_GetAutoIris(h_, &ok), 2);
    EXPECT_EQ(ok, 1);
    // Refused modes are posted but not recorded.
    EXPECT_EQ(Zorbex_SetAutoIris(h_, 3), 0);
    EXPECT_EQ(Zorbex_SetAutoIris(h_, -1), 0);
    EXPECT_EQ(Zorbex_GetAutoIris(h_, nullptr), 2);
    EXPECT_TRUE(history().empty());
    EXPECT_EQ(posted(), (std::vector<std::intptr_t>{9, 9}));
}

}  // namespace
}  // namespace zbx::test
