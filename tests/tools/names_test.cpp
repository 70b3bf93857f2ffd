// The library's numbers by the names a person types.
#include <gtest/gtest.h>

#include "names.h"
#include "vcam_setup.h"
#include "zorbex/zorbex.h"

namespace zbxcam {
namespace {

TEST(NamesTest, ColourModesByTokenBitsAndAlias) {
    ASSERT_EQ(color_modes().size(), 6u);
    EXPECT_EQ(find_color_mode("color24")->set_bits, 24);
    EXPECT_EQ(find_color_mode("COLOUR48")->set_bits, 48);
    EXPECT_EQ(find_color_mode("16")->token, "mono16");
    EXPECT_EQ(find_color_mode("mono10")->token, "mono16");
    EXPECT_EQ(find_color_mode("mono12")->token, "mono16");
    EXPECT_EQ(find_color_mode("color"), find_color_mode("24"));
    EXPECT_EQ(find_color_mode("12"), nullptr);  // a reported value, not one the setter takes
    EXPECT_EQ(find_color_mode("color16"), nullptr);
    // What Zorbex_GetColorMode returns maps back to the mode.
    EXPECT_EQ(color_mode_from_reported(12)->token, "mono16");
    EXPECT_EQ(color_mode_from_reported(44)->token, "color48");
    EXPECT_EQ(color_mode_from_reported(60)->token, "color64");
    EXPECT_EQ(color_mode_from_reported(16), nullptr);
    EXPECT_EQ(color_mode_from_reported(-1), nullptr);
}

TEST(NamesTest, FileFormatFromNameAndToken) {
    ASSERT_EQ(file_formats().size(), 7u);
    for (int i = 0; i < 7; ++i) EXPECT_EQ(file_formats()[i].number, i);
    EXPECT_EQ(file_format_from_name("frame.png")->number, ZBX_FILE_PNG);
    EXPECT_EQ(file_format_from_name("out/FRAME.JPEG")->number, ZBX_FILE_JPEG_HIGH);
    EXPECT_EQ(file_format_from_name("a.tiff")->number, ZBX_FILE_TIFF);
    EXPECT_EQ(file_format_from_name("a.raw")->number, ZBX_FILE_RAW);
    EXPECT_EQ(file_format_from_name("a.bmp")->number, ZBX_FILE_BMP);
    EXPECT_EQ(file_format_from_name("frame"), nullptr);
    EXPECT_EQ(file_format_from_name("folder.png/frame"), nullptr);  // the dot is in the folder
    EXPECT_EQ(file_format_from_name(".png"), nullptr);              // a hidden file, no extension
    EXPECT_EQ(file_format_from_name("frame.gif"), nullptr);
    EXPECT_EQ(find_file_format("jpg")->number, ZBX_FILE_JPEG_HIGH);
    EXPECT_EQ(find_file_format("jpg-normal")->number, ZBX_FILE_JPEG_NORMAL);
    EXPECT_EQ(find_file_format("JPEG-LOW")->number, ZBX_FILE_JPEG_LOW);
    EXPECT_EQ(find_file_format("tiff")->number, ZBX_FILE_TIFF);
    EXPECT_EQ(find_file_format("gif"), nullptr);
}

TEST(NamesTest, ImageValuesByNameOrId) {
    ASSERT_EQ(filter_values().size(), 28u);
    for (int i = 0; i < 28; ++i) EXPECT_EQ(filter_values()[i].id, i + 1);
    EXPECT_EQ(find_filter_value("gamma")->id, ZBX_ID_GAMMA);
    EXPECT_EQ(find_filter_value("ExposureTime")->id, ZBX_ID_EXPOSURE_TIME);
    EXPECT_EQ(find_filter_value("grayoffsetb")->id, ZBX_ID_GRAY_OFFSET_B);
    EXPECT_EQ(find_filter_value("28")->id, 28);
    EXPECT_EQ(find_filter_value("0"), nullptr);
    EXPECT_EQ(find_filter_value("29"), nullptr);
    EXPECT_EQ(find_filter_value("Gama"), nullptr);
}

TEST(NamesTest, ValueAssignments) {
    const FilterAssignment ok = parse_filter_assignment("BayerGainRGB=0x00C86432");
    ASSERT_TRUE(ok.error.empty());
    EXPECT_EQ(ok.filter->id, ZBX_ID_BAYER_GAIN_RGB);
    EXPECT_EQ(ok.value, 0x00C86432);
    EXPECT_EQ(parse_filter_assignment("Brightness=-255").value, -255);
    EXPECT_EQ(parse_filter_assignment("Gamma").error, "'Gamma' is not NAME=VALUE");
    EXPECT_EQ(parse_filter_assignment("Gama=1").error,
              "there is no image value named 'Gama' (see 'zbxcam info' for the names)");
    EXPECT_EQ(parse_filter_assignment("Gamma=high").error, "Gamma wants a whole number, not 'high'");
    EXPECT_EQ(parse_filter_assignment("Gamma=").filter, nullptr);
}

TEST(NamesTest, VirtualCameraSlotsAndScenes) {
    EXPECT_EQ(parse_slots("0,3").mask, 0b1001u);
    EXPECT_EQ(parse_slots("0-2,7").mask, 0b10000111u);
    EXPECT_EQ(parse_slots("31").mask, 1u << 31);
    EXPECT_EQ(parse_slots("none").mask, 0u);
    EXPECT_TRUE(parse_slots("").error.empty());
    EXPECT_FALSE(parse_slots("32").error.empty());
    EXPECT_FALSE(parse_slots("3-1").error.empty());
    EXPECT_FALSE(parse_slots("0,,1").error.empty());
    EXPECT_FALSE(parse_slots("-1").error.empty());
    EXPECT_EQ(describe_slots(0b1001u), "0, 3");
    EXPECT_EQ(describe_slots(0), "none");

    const SceneResult still = parse_scene("still", 10);
    ASSERT_TRUE(still.error.empty());
    EXPECT_EQ(still.scene.kind, ZBX_VCAM_SCENE_CHART);
    EXPECT_EQ(still.scene.moving, 0);
    EXPECT_EQ(still.scene.noise, 10);
    const SceneResult flat = parse_scene("flat:4095,2048,0", 0);
    ASSERT_TRUE(flat.error.empty());
    EXPECT_EQ(flat.scene.kind, ZBX_VCAM_SCENE_FLAT);
    EXPECT_EQ(flat.scene.flat_red, 4095);
    EXPECT_EQ(flat.scene.flat_green, 2048);
    EXPECT_EQ(flat.scene.flat_blue, 0);
    EXPECT_FALSE(parse_scene("flat:4096,0,0", 0).error.empty());
    EXPECT_FALSE(parse_scene("flat:1,2", 0).error.empty());
    EXPECT_FALSE(parse_scene("stripes", 0).error.empty());
}

}  // namespace
}  // namespace zbxcam
