// What snap, stream and demo take from their arguments.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <tuple>
#include <vector>

#include "requests.h"
#include "zorbex/zorbex.h"

namespace zbxcam {
namespace {

ParsedArgs args_of(std::vector<std::string> positionals,
                   std::vector<std::pair<std::string, std::string>> options) {
    ParsedArgs args;
    args.positionals = std::move(positionals);
    for (auto& [name, value] : options) args.options.push_back({name, value});
    return args;
}

TEST(RequestsTest, SnapFormatFromNameOptionAndQuality) {
    auto r = snap_request_from(args_of({"a.JPG"}, {}));
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.request.format->number, ZBX_FILE_JPEG_HIGH);
    r = snap_request_from(args_of({"a.jpg"}, {{"quality", "low"}}));
    EXPECT_EQ(r.request.format->number, ZBX_FILE_JPEG_LOW);
    r = snap_request_from(args_of({"a.jpg"}, {{"quality", "70"}}));
    EXPECT_EQ(r.request.format->number, ZBX_FILE_JPEG_NORMAL);
    // --format wins over the name: a file without an extension can be written.
    r = snap_request_from(args_of({"frame"}, {{"format", "tif"}}));
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.request.format->number, ZBX_FILE_TIFF);
    r = snap_request_from(args_of({"a.png"}, {{"format", "raw"}}));
    EXPECT_EQ(r.request.format->number, ZBX_FILE_RAW);

    EXPECT_EQ(snap_request_from(args_of({"frame"}, {})).error,
              "cannot tell the format of 'frame' from its name; end it in .bmp, .raw, .jpg, .png or .tif, or give --format");
    EXPECT_EQ(snap_request_from(args_of({"a.png"}, {{"quality", "low"}})).error, "--quality is for JPEG files only");
    EXPECT_EQ(snap_request_from(args_of({"a.jpg"}, {{"quality", "50"}})).error,
              "--quality is high (100), normal (70) or low (20), not '50'");
    EXPECT_EQ(snap_request_from(args_of({"a.png"}, {{"format", "gif"}})).error,
              "unknown format 'gif' (bmp, raw, jpg, jpg-high, jpg-normal, jpg-low, png, tif)");
}

TEST(RequestsTest, SnapSettingsInEveryForm) {
    const auto r = snap_request_from(args_of({"a.png"}, {{"mode", "48"},
                                                         {"exposure", "1200"},
                                                         {"exposure-us", "29500"},
                                                         {"gain", "3"},
                                                         {"mirror-h", "on"},
                                                         {"mirror-v", "off"},
                                                         {"auto", "gain"},
                                                         {"set", "Gamma=120"},
                                                         {"set", "24=-7"}}));
    ASSERT_EQ(r.error, "");
    const CaptureSettings& s = r.request.settings;
    EXPECT_EQ(s.mode->token, "color48");
    EXPECT_EQ(s.exposure_lines, 1200);
    EXPECT_EQ(s.exposure_us, 29500);
    EXPECT_EQ(s.gain, 3);
    EXPECT_EQ(s.mirror_h, true);
    EXPECT_EQ(s.mirror_v, false);
    EXPECT_EQ(s.auto_iris, 2);
    ASSERT_EQ(s.values.size(), 2u);
    EXPECT_EQ(s.values[0].filter->id, ZBX_ID_GAMMA);
    EXPECT_EQ(s.values[0].value, 120);
    EXPECT_EQ(s.values[1].filter->id, ZBX_ID_GRAY_OFFSET_R);
    EXPECT_EQ(s.values[1].value, -7);

    // Nothing given: nothing is changed in the library.
    const auto none = snap_request_from(args_of({"a.png"}, {}));
    EXPECT_EQ(none.request.settings.mode, nullptr);
    EXPECT_FALSE(none.request.settings.exposure_lines || none.request.settings.gain ||
                 none.request.settings.mirror_h || none.request.settings.auto_iris);

    EXPECT_EQ(snap_request_from(args_of({"a.png"}, {{"mode", "rgb"}})).error,
              "unknown colour mode 'rgb' (mono8, mono16, color24, color32, color48 or color64)");
    EXPECT_EQ(snap_request_from(args_of({"a.png"}, {{"auto", "iris"}})).error,
              "--auto wants off, exposure or gain, not 'iris'");
    // The first mistake is the one reported.
    EXPECT_EQ(snap_request_from(args_of({"a.png"}, {{"set", "Nope=1"}, {"gain", "x"}})).error,
              "--gain wants a whole number, not 'x'");
}

TEST(RequestsTest, StreamAndDemoDurations) {
    EXPECT_EQ(stream_request_from(args_of({}, {})).request.seconds, 5.0);
    EXPECT_EQ(stream_request_from(args_of({}, {{"seconds", "0"}})).request.seconds, 0.0);  // until Ctrl-C
    EXPECT_EQ(stream_request_from(args_of({}, {{"seconds", "2.5"}, {"mode", "mono8"}})).request.settings.mode->set_bits, 8);
    EXPECT_EQ(stream_request_from(args_of({"x"}, {})).error, "unexpected argument 'x'");

    const auto demo = demo_request_from(args_of({}, {}));
    EXPECT_EQ(demo.request.folder, "out");
    EXPECT_EQ(demo.request.seconds, 3.0);
    EXPECT_EQ(demo_request_from(args_of({}, {{"out", "pics"}, {"seconds", "1"}})).request.folder, "pics");
    EXPECT_EQ(demo_request_from(args_of({}, {{"out", ""}})).error, "--out wants a folder name");
}

TEST(RequestsTest, SnapSeriesNamesAndStandardOutput) {
    // Pattern, number -> name; an empty name is a pattern refused.
    const std::vector<std::tuple<std::string, int, std::string>> names{
        {"frame-%04d.png", 7, "frame-0007.png"}, {"s%d.bmp", 123, "s123.bmp"},
        {"100%%-%3d.tif", 5, "100%-  5.tif"},    {"a%02d%d.png", 1, ""},
        {"none.png", 1, ""},                     {"bad-%s.png", 1, ""}};
    for (const auto& [pattern, number, name] : names)
        EXPECT_EQ(series_file_name(pattern, number), name) << pattern;

    auto r = snap_request_from(args_of({}, {{"count", "3"}}));
    EXPECT_EQ(r.request.path, "frame-%04d.png");
    EXPECT_EQ(r.request.format->number, ZBX_FILE_PNG);
    EXPECT_EQ(snap_request_from(args_of({"out/shot.v2.jpg"}, {{"count", "2"}})).request.path, "out/shot.v2-%04d.jpg");
    r = snap_request_from(args_of({"-"}, {}));
    EXPECT_TRUE(r.request.to_stdout());
    EXPECT_EQ(r.request.format->number, ZBX_FILE_PNG);
    EXPECT_EQ(snap_request_from(args_of({"-"}, {{"format", "bmp"}})).request.format->number, ZBX_FILE_BMP);
    EXPECT_NE(snap_request_from(args_of({"x%d%d.png"}, {{"count", "2"}})).error, "");
}

TEST(RequestsTest, RecordGetAndSetArguments) {
    EXPECT_EQ(record_request_from(args_of({"a.avi"}, {})).request.seconds, 5.0);
    const auto frames = record_request_from(args_of({"a.AVI"}, {{"frames", "10"}, {"json", ""}}));
    ASSERT_EQ(frames.error, "");
    EXPECT_EQ(frames.request.frames, 10);
    EXPECT_EQ(frames.request.seconds, 0.0);
    EXPECT_TRUE(frames.request.json);
    EXPECT_NE(record_request_from(args_of({"a.avi"}, {{"frames", "0"}})).error, "");

    const auto set = set_request_from(args_of({"gamma=120", "18=0x10"}, {}));
    ASSERT_EQ(set.error, "");
    EXPECT_EQ(set.request.values[0].value->id, ZBX_ID_GAMMA);
    EXPECT_EQ(set.request.values[1].number, 16);
    EXPECT_EQ(set_request_from(args_of({"Gamma=lots"}, {})).error,
              "Gamma wants a whole number (0 to 200), not 'lots'");
    EXPECT_EQ(get_request_from(args_of({"mirrorh"}, {})).request.values[0]->name, "MirrorH");
}

}  // namespace
}  // namespace zbxcam
