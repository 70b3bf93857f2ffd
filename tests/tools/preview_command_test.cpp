// zbxcam preview: headless without a display; on a private X server a
// window whose title counts the frames, ended by the window manager's close.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli.h"
#include "support/x11_display.h"
#include "zorbex/vcam.h"
#include "zorbex/window.h"

namespace zbxcam {
namespace {

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

Outcome zbxcam(std::vector<std::string> args) {
    std::ostringstream out, err;
    Io io{out, err, false};
    const int status = run(args, io);
    return {status, out.str(), err.str()};
}

class PreviewCommand : public testing::Test {
protected:
    void SetUp() override { ZbxVcam_Reset(); }
    void TearDown() override { ZbxVcam_Reset(); }
};

TEST_F(PreviewCommand, WithoutADisplayItPreviewsHeadlessForTheTimeGiven) {
    const Outcome r = zbxcam({"preview", "--seconds", "0.5"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("previewing headless"), std::string::npos) << r.out;
    // "1 frame of" when slowed down (a sanitizer): as many as came in the time.
    EXPECT_NE(r.out.find(" of 1280 x 720"), std::string::npos) << r.out;
    EXPECT_EQ(zbxcam({"preview", "--seconds", "soon"}).status, 2);
}

TEST_F(PreviewCommand, OnScreenTheTitleCountsFramesAndClosingTheWindowEndsIt) {
    zbx::test::PrivateXServer server;
    if (!server.start()) GTEST_SKIP() << "no private X server: " << server.why();
    std::future<Outcome> running = std::async(std::launch::async, [] { return zbxcam({"preview", "--seconds", "0"}); });
    // The library's window, once its title shows the frame count.
    ZbxWindow window = nullptr;
    std::string title;
    for (int i = 0; i < 500 && title.find("frames") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ZbxWindow windows[8];
        const int n = ZbxWin_GetTopLevelWindows(windows, 8);
        if (n < 1) continue;
        window = windows[n - 1];
        title = zbx::test::x_window_title(ZbxWin_GetX11Window(window));
    }
    EXPECT_EQ(title.rfind("Active Window - frames ", 0), 0u) << title;
    ASSERT_TRUE(zbx::test::send_wm_delete(ZbxWin_GetX11Window(window)));
    ASSERT_EQ(running.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    const Outcome r = running.get();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("preview window open"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("preview window closed"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace zbxcam
