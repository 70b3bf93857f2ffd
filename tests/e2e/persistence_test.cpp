// The settings tree: first-run defaults, the stored geometry and format
// values, the groups saved at release and loaded by the next session, and
// the defect list file.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "e2e_session.h"
#include "platform/text.h"
#include "support/fifo.h"
#include "support/temp_dir.h"

namespace zbx::test {
namespace {

using Persistence = E2eSession;

TEST_F(Persistence, FirstRunWritesTheTreeAndTheNextSessionReadsIt) {
    open();
    const std::string preset = camera_key(0, "Size_00");
    EXPECT_EQ(stored_value(preset, "TH"), 1280);
    EXPECT_EQ(stored_value(preset, "TV"), 720);
    EXPECT_EQ(stored_value(preset, "EH"), 1280);
    EXPECT_EQ(stored_value(preset, "EV"), 720);
    EXPECT_EQ(stored_value(preset, "EHS"), 0);
    EXPECT_EQ(stored_value(preset, "EVS"), 0);
    EXPECT_EQ(stored_value(preset, "Buf"), 4);
    EXPECT_EQ(stored_value(camera_key(0), "Size"), 0);
    EXPECT_EQ(stored_value(camera_key(0), "Color"), 2);
    EXPECT_EQ(stored_value(camera_key(0), "SubSample"), 0);
    EXPECT_EQ(stored_value(camera_key(0), "WaitTime"), 1);
    EXPECT_EQ(stored_value(camera_key(0), "Clock"), 2);
    // The same initialization's format load picks the new values up.
    EXPECT_EQ(Zorbex_GetColorMode(h_), 24);
    EXPECT_EQ(Zorbex_GetWaitTime(h_), 1);
    EXPECT_TRUE(history().empty());
    close();

    // A second session reads the tree back.
    store_values(camera_key(0), {{"Color", 0}, {"WaitTime", 25}});
    store_values(camera_key(0, "Size_00"), {{"EH", 640}, {"EV", 480}, {"EHS", 8}, {"EVS", 4}});
    open();
    EXPECT_EQ(Zorbex_GetColorMode(h_), 8);
    EXPECT_EQ(Zorbex_GetWaitTime(h_), 25);
    EXPECT_EQ(Zorbex_Width(h_), 640);
    EXPECT_EQ(Zorbex_Height(h_), 480);
    // The sensor runs the stored window: y + 64, height, x + 132, width.
    EXPECT_EQ(sensor_register(4), 68);
    EXPECT_EQ(sensor_register(5), 480);
    EXPECT_EQ(sensor_register(6), 140);
    EXPECT_EQ(sensor_register(7), 640);
    EXPECT_TRUE(history().empty());
}

TEST_F(Persistence, InvalidStoredGeometryGives7AndTheFullSensor) {
    store_values(camera_key(0), {{"Size", 0}});
    store_values(camera_key(0, "Size_00"), {{"EH", 1400}, {"EV", 720}, {"EHS", 0}, {"EVS", 0}});
    open();
    EXPECT_EQ(history(), std::vector<int>{7});
    EXPECT_EQ(posted(), std::vector<std::intptr_t>{7});
    EXPECT_EQ(Zorbex_Width(h_), 1280);
    EXPECT_EQ(Zorbex_Height(h_), 720);
    EXPECT_EQ(sensor_register(7), 1280);
    EXPECT_EQ(sensor_register(6), 132);
}

TEST_F(Persistence, MissingPresetOrValuesKeepTheDefaultsSilently) {
    store_values(camera_key(0), {{"Size", 3}});
    store_values(camera_key(0, "Size_00"), {{"EH", 320}});
    open();
    EXPECT_EQ(Zorbex_Width(h_), 1280);
    EXPECT_TRUE(history().empty());
    // The camera key exists but holds no format values: the defaults stay.
    EXPECT_EQ(Zorbex_GetColorMode(h_), 8);
    EXPECT_EQ(Zorbex_GetWaitTime(h_), 10);
}

TEST_F(Persistence, OutOfRangeFormatValuesAreKeptAsRead) {
    store_values(camera_key(0), {{"Color", 9}, {"SubSample", 2}, {"WaitTime", 0xFFFFFFFCu}});
    open();
    EXPECT_EQ(Zorbex_GetColorMode(h_), -1);
    EXPECT_EQ(Zorbex_GetSubSample(h_), 2);
    EXPECT_EQ(Zorbex_GetWaitTime(h_), -4);
    EXPECT_TRUE(history().empty());
}

TEST_F(Persistence, GroupsGetTheirDefaultsAndAreSavedAtRelease) {
    open();
    EXPECT_EQ(Zorbex_GetBayerGainRed(h_, nullptr), 100);
    EXPECT_EQ(Zorbex_GetGamma(h_, nullptr), 100);
    EXPECT_EQ(Zorbex_GetBayerMode(h_, nullptr), 3);
    EXPECT_EQ(Zorbex_GetGrayGainG2(h_, nullptr), 128);
    EXPECT_EQ(Zorbex_GetExposureTime(h_, nullptr), 637);
    EXPECT_EQ(sensor_register(15), 637);
    EXPECT_EQ(Zorbex_GetGlobalGain(h_, nullptr), 0);
    EXPECT_EQ(Zorbex_GetMirrorH(h_), 0);

    ASSERT_EQ(Zorbex_SetBrightness(h_, -40), 1);
    ASSERT_EQ(Zorbex_SetBayerGainBlue(h_, 250), 1);
    ASSERT_EQ(Zorbex_SetGrayMode(h_, 1), 1);
    ASSERT_EQ(Zorbex_SetGrayOffsetB(h_, -9), 1);
    ASSERT_EQ(Zorbex_SetGlobalGain(h_, 4), 1);
    ASSERT_EQ(Zorbex_SetExposureTime(h_, 900), 1);
    ASSERT_EQ(Zorbex_SetMirrorH(h_, 1), 1);
    ASSERT_EQ(Zorbex_SetAutoIris(h_, 1), 1);
    close();

    EXPECT_EQ(stored_value(camera_key(0, "Filter"), "Brightness"), -40);
    EXPECT_EQ(stored_value(camera_key(0, "Filter"), "B_Gain"), 250);
    EXPECT_EQ(stored_value(camera_key(0, "Filter"), "BayerMode"), 3);
    EXPECT_EQ(stored_value(camera_key(0, "Gray"), "Mode"), 1);
    EXPECT_EQ(stored_value(camera_key(0, "Gray"), "OffsetB1"), -9);
    EXPECT_EQ(stored_value(camera_key(0, "Gray"), "GainR1"), 128);
    EXPECT_EQ(stored_value(camera_key(0, "Gain"), "Global"), 4);
    EXPECT_EQ(stored_value(camera_key(0, "Gain"), "ColorR"), 4);
    EXPECT_EQ(stored_value(camera_key(0, "Gain"), "Exposure"), 900);
    EXPECT_EQ(stored_value(camera_key(0, "Gain"), "H_Mirror"), 1);
    EXPECT_EQ(stored_value(camera_key(0, "Gain"), "V_Mirror"), 0);
    EXPECT_EQ(stored_value(camera_key(0, "Gain"), "AutoIris"), 1);

    // The next session loads them and programs the sensor with them.
    ASSERT_EQ(ZbxVcam_Reset(), ZBX_VCAM_OK);
    open();
    EXPECT_EQ(Zorbex_GetBrightness(h_, nullptr), -40);
    EXPECT_EQ(Zorbex_GetBayerGainBlue(h_, nullptr), 250);
    EXPECT_EQ(Zorbex_GetGrayMode(h_, nullptr), 1);
    EXPECT_EQ(Zorbex_GetGrayOffsetB(h_, nullptr), -9);
    EXPECT_EQ(Zorbex_GetAutoIris(h_, nullptr), 1);
    EXPECT_EQ(Zorbex_GetMirrorH(h_), 1);
    EXPECT_EQ(sensor_register(15), 900);
    EXPECT_EQ(sensor_register(35), 0x16 * 257);
    EXPECT_EQ(sensor_register(2) & 2, 0);
    EXPECT_TRUE(history().empty());
}

TEST_F(Persistence, AGroupWithMissingValuesKeepsTheRest) {
    store_values(camera_key(0, "Filter"), {{"Contrast", 12}});
    store_values(camera_key(0, "Gray"), {{"GainG1", 77}});
    open();
    EXPECT_EQ(Zorbex_GetContrast(h_, nullptr), 12);
    // Values absent from a present group keep the construction value, 0.
    EXPECT_EQ(Zorbex_GetGamma(h_, nullptr), 0);
    EXPECT_EQ(Zorbex_GetGrayGainG1(h_, nullptr), 77);
    EXPECT_EQ(Zorbex_GetGrayGainR(h_, nullptr), 0);
}

TEST_F(Persistence, ACorruptSettingsFileGivesDefaultsAndIsKeptAside) {
    {
        std::ofstream garbage(platform::settings_file_path(), std::ios::trunc);
        garbage << "\x01\x02 this is not a settings file [[[";
    }
    open();
    EXPECT_EQ(Zorbex_Width(h_), 1280);
    EXPECT_EQ(Zorbex_GetBayerMode(h_, nullptr), 3);
    bool kept = false;
    for (const auto& e : std::filesystem::directory_iterator(platform::settings_file_path().parent_path()))
        kept |= e.path().filename().string().rfind("settings.reg.corrupt", 0) == 0;
    EXPECT_TRUE(kept);
}

class ConfigFile : public OpenSession {
protected:
    std::string write_file(const std::string& name, std::size_t bytes) {
        const auto path = dir_ / name;
        std::ofstream out(path, std::ios::binary);
        for (std::size_t i = 0; i < bytes; ++i) out.put(static_cast<char>(i));
        return path.string();
    }
    TempDir dir_{"zbxtest-config-"};
};

TEST_F(ConfigFile, NarrowAndWideNames) {
    EXPECT_EQ(Zorbex_LoadConfigFileA(h_, write_file("twenty.bin", 20).c_str()), 1);
    EXPECT_EQ(Zorbex_LoadConfigFileA(h_, write_file("seven.bin", 7).c_str()), 1);
    EXPECT_EQ(Zorbex_LoadConfigFileA(h_, write_file("empty.bin", 0).c_str()), 1);
    EXPECT_EQ(Zorbex_LoadConfigFileA(h_, (dir_ / "missing.bin").c_str()), 0);
    EXPECT_EQ(Zorbex_LoadConfigFileA(h_, nullptr), 0);
    EXPECT_TRUE(history().empty());

    const auto wide = platform::to_utf16(write_file("wide-\xC3\xA9.bin", 16));
    ASSERT_TRUE(wide);
    EXPECT_EQ(Zorbex_LoadConfigFileW(h_, wide->c_str()), 1);
    EXPECT_TRUE(history().empty());

    const char16_t unpaired[] = {u'a', 0xD800, u'b', 0};
    EXPECT_EQ(Zorbex_LoadConfigFileW(h_, unpaired), 0);
    EXPECT_EQ(Zorbex_LoadConfigFileW(h_, nullptr), 0);
    // 1022 bytes and a terminator fit; 1023 do not.
    const std::u16string fits(1022, u'x');
    const std::u16string too_long(1023, u'x');
    EXPECT_EQ(Zorbex_LoadConfigFileW(h_, fits.c_str()), 0);  // no such file: no code
    EXPECT_EQ(Zorbex_LoadConfigFileW(h_, too_long.c_str()), 0);
    EXPECT_EQ(history(), (std::vector<int>{12, 12, 12}));
}

// A FIFO as configuration file is refused at once, like a missing file,
// instead of waiting for a writer, and nothing is reported.
TEST_F(ConfigFile, AFifoIsRefusedWithoutWaiting) {
    ASSERT_EQ(Zorbex_LoadConfigFileA(h_, write_file("eight.bin", 8).c_str()), 1);
    const Fifo fifo;
    bool stuck = false;
    EXPECT_EQ(fifo.run([&] { return Zorbex_LoadConfigFileA(h_, fifo.path()); }, &stuck), 0);
    EXPECT_FALSE(stuck) << "waited for a writer on the FIFO";
    EXPECT_TRUE(history().empty());
}

}  // namespace
}  // namespace zbx::test
