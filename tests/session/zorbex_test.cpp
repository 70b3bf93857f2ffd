// The session object on its own: construction, initialization, reporting.
#include <gtest/gtest.h>

#include <vector>

#include "platform/clock.h"
#include "platform/settings_store.h"
#include "session/zorbex.h"
#include "zorbex/window.h"

namespace zbx::session {
namespace {

std::vector<std::intptr_t> posted_codes(ZbxWindow window) {
    std::vector<std::intptr_t> codes;
    ZbxMessage m{};
    while (ZbxWin_PeekMessage(window, &m, 1) != 0) {
        EXPECT_EQ(m.message, kErrorMessage);
        EXPECT_EQ(m.wparam, 0u);
        codes.push_back(m.lparam);
    }
    return codes;
}

TEST(CZorbex, ConstructionTouchesNothingAndSetsTheDefaults) {
    const std::uint32_t before = platform::multimedia_time();
    CZorbex s;
    const std::uint32_t after = platform::multimedia_time();
    EXPECT_FALSE(s.has_camera());
    EXPECT_EQ(s.notification_window(), nullptr);
    EXPECT_EQ(s.geometry().width, 1280);
    EXPECT_EQ(s.geometry().height, 720);
    EXPECT_EQ(s.geometry().buffer, 4);
    EXPECT_EQ(s.acquisition().wait_time_ms, 10);
    EXPECT_EQ(s.acquisition().trigger_timeout_ms, 3000u);
    EXPECT_EQ(s.exposure().exposure_lines, 1);
    EXPECT_EQ(s.exposure().time_per_clock, 1.0);
    EXPECT_EQ(s.frame_record().size, 32u);
    EXPECT_EQ(s.preview().width, 1280);
    for (const auto& v : s.adjustment_values()) EXPECT_EQ(v, 0);
    EXPECT_EQ(s.error_history().snapshot(), ErrorHistory::Codes{});
    // The rate clock starts at construction.
    EXPECT_LE(platform::ticks_between(before, s.acquisition().last_rate_update), after - before);
}

TEST(CZorbex, InitializeStoresTheWindowAndPlacesThePreview) {
    ZbxWindow window = ZbxWin_CreateMessageWindow();
    {
        // The stored geometry preset in use.
        platform::SettingsKey camera;
        ASSERT_TRUE(camera.create("Software\\Tevrun\\Zorbex530RDNQTSdk\\Camera_00"));
        ASSERT_TRUE(camera.write_dword("Size", 0));
        platform::SettingsKey preset;
        ASSERT_TRUE(preset.create(camera, "Size_00"));
        ASSERT_TRUE(preset.write_dwords(std::vector<platform::NamedDword>{{"EH", 640}, {"EV", 480}}));
        CZorbex s;
        EXPECT_EQ(s.initialize(window), 1);
        EXPECT_EQ(s.notification_window(), window);
        EXPECT_EQ(s.preview().x, 0);
        EXPECT_EQ(s.preview().y, 0);
        EXPECT_EQ(s.preview().width, 640);
        EXPECT_EQ(s.preview().height, 480);
        EXPECT_TRUE(posted_codes(window).empty());  // nothing failed
    }
    ZbxWin_DestroyWindow(window);
}

TEST(CZorbex, ReportRecordsAndPostsPostNotificationOnlyPosts) {
    ZbxWindow window = ZbxWin_CreateMessageWindow();
    CZorbex s;
    ASSERT_EQ(s.initialize(window), 1);
    s.report(ERR_TRANSFER);
    s.post_notification(ERR_UNSUPPORTED);
    s.report(ERR_FILE);
    EXPECT_EQ(posted_codes(window), (std::vector<std::intptr_t>{8, 11, 12}));
    EXPECT_EQ(s.pop_last_error(), ERR_FILE);
    EXPECT_EQ(s.pop_last_error(), ERR_TRANSFER);
    EXPECT_EQ(s.pop_last_error(), 0);
    ZbxWin_DestroyWindow(window);
}

TEST(CZorbex, ReportWithoutWindowRecordsOnly) {
    posted_codes(nullptr);
    CZorbex s;
    ASSERT_EQ(s.initialize(nullptr), 1);
    s.report(ERR_PARAMETER);
    EXPECT_TRUE(posted_codes(nullptr).empty());
    EXPECT_EQ(s.pop_last_error(), ERR_PARAMETER);
    // A direct post has nowhere else to go: the calling thread's queue.
    s.post_notification(ERR_NOT_READY);
    EXPECT_EQ(posted_codes(nullptr), std::vector<std::intptr_t>{ERR_NOT_READY});
}

TEST(CZorbex, ReportsToADestroyedWindowAreIgnored) {
    ZbxWindow window = ZbxWin_CreateMessageWindow();
    CZorbex s;
    ASSERT_EQ(s.initialize(window), 1);
    ZbxWin_DestroyWindow(window);
    s.report(ERR_MEMORY);
    EXPECT_EQ(s.pop_last_error(), ERR_MEMORY);
}

}  // namespace
}  // namespace zbx::session
