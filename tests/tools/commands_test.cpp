// The commands against the library and its virtual camera, in process:
// listing, camera information, settings handed to the library, and the
// messages for an empty slot or a refused value.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "capture_settings.h"
#include "cli.h"
#include "zorbex/vcam.h"

namespace zbxcam {
namespace {

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

class CommandsTest : public testing::Test {
protected:
    void SetUp() override { ZbxVcam_Reset(); }
    void TearDown() override { ZbxVcam_Reset(); }

    static Outcome zbxcam(std::vector<std::string> args) {
        std::ostringstream out, err;
        Io io{out, err, false};
        const int status = run(args, io);
        return {status, out.str(), err.str()};
    }
};

TEST_F(CommandsTest, ListShowsEachCameraWithItsSlot) {
    const Outcome two = zbxcam({"list", "--slots", "0,3"});
    EXPECT_EQ(two.status, 0) << two.err;
    EXPECT_EQ(two.out, "2 cameras attached:\n  camera 0  Zorbex530RD-NQT_01\n  camera 3  Zorbex530RD-NQT_04\n");
    // Listing needs no camera in slot 0.
    const Outcome one = zbxcam({"list", "--slots", "5"});
    EXPECT_EQ(one.status, 0) << one.err;
    EXPECT_EQ(one.out, "1 camera attached:\n  camera 5  Zorbex530RD-NQT_06\n");
    const Outcome none = zbxcam({"list", "--slots", "none"});
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.out, "no camera is attached\n");
    EXPECT_TRUE(none.err.empty());
}

TEST_F(CommandsTest, InfoDescribesTheChosenCamera) {
    const Outcome r = zbxcam({"--slots", "0,3", "info", "-c", "3"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("version 28640543 (0x01B5051F)"), std::string::npos);
    EXPECT_NE(r.out.find("camera        3  Zorbex530RD-NQT_04\n"), std::string::npos);
    EXPECT_NE(r.out.find("sensor        1280 x 720, gain steps 0 to 11, exposure 1 to 32767 lines\n"),
              std::string::npos);
    EXPECT_NE(r.out.find("18  ExposureTime"), std::string::npos);
    EXPECT_NE(r.out.find("28  GrayAutoBalance"), std::string::npos);
    EXPECT_TRUE(r.err.empty());
}

TEST_F(CommandsTest, AnEmptySlotIsNamedAndFails) {
    const Outcome absent = zbxcam({"--slots", "0", "info", "--camera", "3"});
    EXPECT_EQ(absent.status, 1);
    EXPECT_EQ(absent.err, "zbxcam info: could not open camera 3: ERR_DEVICE_UNAVAILABLE (2): camera 3 is not attached\n");
    EXPECT_TRUE(absent.out.empty());
    const Outcome no_camera = zbxcam({"--slots", "none", "info"});
    EXPECT_EQ(no_camera.status, 1);
    EXPECT_EQ(no_camera.err, "zbxcam info: could not open camera 0: ERR_DEVICE_UNAVAILABLE (2): camera 0 is not attached\n");
}

TEST_F(CommandsTest, SettingsReachTheLibraryAndRefusalsNameTheValue) {
    std::ostringstream out, err;
    Io io{out, err, false};
    const std::unique_ptr<Camera> camera = Camera::open(io, "snap", 0);
    ASSERT_TRUE(camera) << err.str();
    const ZbxHandle h = camera->handle();

    CaptureSettings good;
    good.mode = find_color_mode("mono16");
    good.exposure_lines = 1200;
    good.gain = 4;
    good.mirror_h = true;
    good.values.push_back(parse_filter_assignment("Gamma=120"));
    good.values.push_back(parse_filter_assignment("BayerGainRGB=0x00C86432"));
    ASSERT_EQ(apply_capture_settings(*camera, good, io, "snap"), kExitOk) << err.str();
    int ok = 0;
    EXPECT_EQ(Zorbex_GetColorMode(h), 12);
    EXPECT_EQ(Zorbex_GetFilterValue(h, ZBX_ID_EXPOSURE_TIME, &ok), 1200);
    EXPECT_EQ(Zorbex_GetFilterValue(h, ZBX_ID_GLOBAL_GAIN, &ok), 4);
    EXPECT_EQ(Zorbex_GetMirrorH(h), 1);
    EXPECT_EQ(Zorbex_GetFilterValue(h, ZBX_ID_GAMMA, &ok), 120);
    EXPECT_EQ(Zorbex_GetFilterValue(h, ZBX_ID_BAYER_GAIN_BLUE, &ok), 200);

    CaptureSettings too_long;
    too_long.exposure_lines = 99999;
    EXPECT_EQ(apply_capture_settings(*camera, too_long, io, "snap"), kExitFailure);
    EXPECT_EQ(err.str(),
              "zbxcam snap: could not set the exposure: ERR_PARAMETER (9): the library refused exposure 99999 "
              "(it accepts 1 to 32767 lines)\n");
    EXPECT_EQ(Zorbex_GetFilterValue(h, ZBX_ID_EXPOSURE_TIME, &ok), 1200);

    err.str("");
    CaptureSettings by_name;
    by_name.values.push_back(parse_filter_assignment("colorgainred=5"));
    EXPECT_EQ(apply_capture_settings(*camera, by_name, io, "snap"), kExitFailure);
    EXPECT_EQ(err.str(),
              "zbxcam snap: could not set ColorGainRed: ERR_PARAMETER (9): the library refused ColorGainRed 5 "
              "(it accepts 0 only)\n");

    // A code the library posts without recording still reaches the message.
    err.str("");
    CaptureSettings iris;
    iris.auto_iris = 3;
    EXPECT_EQ(apply_capture_settings(*camera, iris, io, "snap"), kExitFailure);
    EXPECT_NE(err.str().find("ERR_PARAMETER (9)"), std::string::npos) << err.str();
}

}  // namespace
}  // namespace zbxcam
