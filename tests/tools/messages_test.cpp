// Error messages: every code by name with a plain sentence, the cause of a
// chain of codes first, and the status line and summary of a stream.
#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "console.h"
#include "error_text.h"
#include "status_line.h"
#include "zorbex/zorbex.h"

namespace zbxcam {
namespace {

TEST(MessagesTest, EveryCodeHasItsNameAndASentence) {
    const std::vector<std::pair<int, std::string>> names{
        {1, "ERR_NOT_READY"}, {2, "ERR_DEVICE_UNAVAILABLE"}, {3, "ERR_THREAD_START"},
        {4, "ERR_WINDOW"},    {5, "ERR_MEMORY"},             {6, "ERR_DEVICE_IO"},
        {7, "ERR_GEOMETRY"},  {8, "ERR_TRANSFER"},           {9, "ERR_PARAMETER"},
        {10, "ERR_UNTRUSTED"},   {11, "ERR_UNSUPPORTED"},    {12, "ERR_FILE"},
        {13, "ERR_FRAME_TIMEOUT"}};
    for (const auto& [code, name] : names) {
        EXPECT_EQ(error_name(code), name);
        EXPECT_FALSE(error_sentence(code, {}).empty());
    }
    EXPECT_EQ(error_name(14), "error 14");
    EXPECT_EQ(describe_error(14, {}), "error 14 (14): the library reported an error code it does not document");
}

TEST(MessagesTest, SentencesNameTheCameraFileAndValue) {
    ErrorContext context;
    context.camera = 3;
    EXPECT_EQ(error_sentence(ZBX_ERR_DEVICE_UNAVAILABLE, context),
              "camera 3 is not attached, or it is in use by another process");
    context.camera_present = false;
    EXPECT_EQ(error_sentence(ZBX_ERR_DEVICE_UNAVAILABLE, context), "camera 3 is not attached");
    context.camera = 0;
    context.camera_present = true;
    EXPECT_EQ(describe_error(ZBX_ERR_DEVICE_UNAVAILABLE, context),
              "ERR_DEVICE_UNAVAILABLE (2): camera 0 is in use by another process");
    EXPECT_EQ(error_sentence(ZBX_ERR_FRAME_TIMEOUT, context),
              "camera 0 stopped delivering frames (none for 6 seconds, or a transfer failed)");

    context.value = "ExposureTime 99999";
    context.range = "1 to 32767 lines";
    EXPECT_EQ(error_sentence(ZBX_ERR_PARAMETER, context),
              "the library refused ExposureTime 99999 (it accepts 1 to 32767 lines)");
    EXPECT_EQ(error_sentence(ZBX_ERR_PARAMETER, {}), "the library refused a value as out of range");
    context.file = "/x/y.avi";
    EXPECT_EQ(error_sentence(ZBX_ERR_FILE, context), "the file /x/y.avi could not be created");
}

TEST(MessagesTest, TheCauseComesFirstAndTheRestIsListedOnce) {
    // An acquisition start refused for a busy camera reports 2, then 1 on top.
    const std::vector<int> chain{ZBX_ERR_DEVICE_UNAVAILABLE, ZBX_ERR_NOT_READY, ZBX_ERR_NOT_READY};
    EXPECT_EQ(root_cause(chain), ZBX_ERR_DEVICE_UNAVAILABLE);
    EXPECT_FALSE(root_cause(std::vector<int>{}));

    std::ostringstream out, err;
    Io io{out, err, false};
    ErrorContext context;
    context.camera_present = true;
    EXPECT_EQ(print_failure(io, "snap", "could not take a frame", chain, context), kExitFailure);
    EXPECT_EQ(err.str(),
              "zbxcam snap: could not take a frame: ERR_DEVICE_UNAVAILABLE (2): camera 0 is in use by "
              "another process\n"
              "  the library also reported: ERR_NOT_READY (1)\n");
    EXPECT_TRUE(out.str().empty());

    std::ostringstream err2;
    Io io2{out, err2, false};
    print_failure(io2, "info", "could not read", std::vector<int>{}, {});
    EXPECT_EQ(err2.str(), "zbxcam info: could not read: no error (0): the operation failed without giving a reason\n");
}

TEST(MessagesTest, UsageErrorsPointAtTheHelp) {
    std::ostringstream out, err;
    Io io{out, err, false};
    EXPECT_EQ(print_usage_error(io, "stream", "unknown option '--x'"), kExitUsage);
    EXPECT_EQ(err.str(), "zbxcam stream: unknown option '--x'\nsee 'zbxcam stream --help'\n");
    std::ostringstream err2;
    Io io2{out, err2, false};
    print_usage_error(io2, "", "unknown command 'x'");
    EXPECT_EQ(err2.str(), "zbxcam: unknown command 'x'\nsee 'zbxcam --help'\n");
}

TEST(MessagesTest, StatusLineAndSummary) {
    StreamStats stats;
    stats.frames = 123;
    stats.rate_tenths = 450;
    stats.elapsed_s = 2.74;
    stats.duration_s = 5;
    EXPECT_EQ(format_status(stats), "frames 123 | 45.0 fps | failures 0 | 2.7 s of 5.0 s");
    stats.duration_s = 0;
    EXPECT_EQ(format_status(stats), "frames 123 | 45.0 fps | failures 0 | 2.7 s");

    stats.frames = 225;
    stats.elapsed_s = 5.0;
    stats.width = 1280;
    stats.height = 720;
    stats.bits = 24;
    EXPECT_EQ(format_summary(stats),
              "streamed 5.0 s: 225 frames of 1280 x 720 at 24 bits per pixel, 45.0 fps on average, no failures");
    stats.failures[ZBX_ERR_TRANSFER] = 2;
    stats.failures[ZBX_ERR_FRAME_TIMEOUT] = 1;
    EXPECT_EQ(format_status(stats), "frames 225 | 45.0 fps | failures 3 | 5.0 s");
    EXPECT_NE(format_summary(stats).find("3 failures (2 x ERR_TRANSFER, 1 x ERR_FRAME_TIMEOUT)"), std::string::npos);

    StreamStats none;
    EXPECT_EQ(format_summary(none), "streamed 0.0 s: 0 frames, 0.0 fps on average, no failures");
}

}  // namespace
}  // namespace zbxcam
