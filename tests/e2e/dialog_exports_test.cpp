// The property dialogs opened through their exports against the virtual
// camera, driven as a user would: live changes reach the session and the
// sensor, OK keeps them, Cancel restores them, and the camera format dialog
// goes through the settings store.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "api/registry.h"
#include "dialogs/analog_templates.h"
#include "dialogs/camera_format_templates.h"
#include "dialogs/image_templates.h"
#include "dialogs/xvfb_server.h"
#include "e2e_session.h"
#include "platform/dialog_automation.h"
#include "platform/dialog_display.h"
#include "platform/sync.h"
#include "session/dialog_hosts.h"

namespace zbx::test {
namespace {

using platform::Dialog;
using platform::DialogAutomation;
using platform::ScopedDialogAutomation;
namespace analog = dialogs::analog_ids;
namespace image = dialogs::image_ids;
namespace gray = dialogs::gray_ids;
namespace format = dialogs::camera_format_ids;

constexpr int kExposureRegister = 15;
constexpr int kMirrorRegister = 2;  // bit 0 vertical, bit 1 horizontal; a clear bit mirrors

class DialogExports : public OpenSession {
protected:
    void SetUp() override {
        if (const char* old = std::getenv("LC_ALL")) previous_locale_ = old;
        ::setenv("LC_ALL", "C", 1);  // English templates
        OpenSession::SetUp();
    }
    void TearDown() override {
        OpenSession::TearDown();
        if (previous_locale_) {
            ::setenv("LC_ALL", previous_locale_->c_str(), 1);
        } else {
            ::unsetenv("LC_ALL");
        }
    }

    // Runs `export_call` with `user` acting on the open dialog; false when
    // no dialog opened.
    bool drive(const std::function<int()>& export_call, const std::function<void(DialogAutomation&)>& user) {
        bool opened = false;
        ScopedDialogAutomation hook([&](DialogAutomation& a) {
            opened = true;
            user(a);
        });
        EXPECT_EQ(export_call(), 1);
        return opened;
    }
    bool analog_dialog(const std::function<void(DialogAutomation&, Dialog&)>& user) {
        return drive([&] { return Zorbex_SetAnalogDlg(h_, nullptr); }, [&](DialogAutomation& a) {
            Dialog* page = a.page(analog::kPageEnglish);
            ASSERT_NE(page, nullptr);
            user(a, *page);
        });
    }
    bool image_dialog(const std::function<void(DialogAutomation&, Dialog&)>& user) {
        return drive([&] { return Zorbex_SetImageDlg(h_, nullptr); }, [&](DialogAutomation& a) {
            Dialog* page = a.page(image::kPageEnglish);
            ASSERT_NE(page, nullptr);
            user(a, *page);
        });
    }
    bool camera_dialog(const std::function<void(DialogAutomation&, Dialog&)>& user) {
        return drive([&] { return Zorbex_SetCameraDlg(h_, nullptr); },
                     [&](DialogAutomation& a) { user(a, a.dialog()); });
    }

    std::optional<std::string> previous_locale_;
};

int sensor_exposure() { return sensor_register(kExposureRegister); }
bool sensor_mirrored_v() { return (sensor_register(kMirrorRegister) & 1) == 0; }

// ---- Analog ---------------------------------------------------------------

TEST_F(DialogExports, AnalogChangesTheSensorLiveAndOkKeepsTheValues) {
    ASSERT_EQ(Zorbex_SetGlobalGain(h_, 3), 1);
    ASSERT_EQ(Zorbex_SetExposureTime(h_, 1000), 1);
    ASSERT_EQ(Zorbex_SetAutoIris(h_, 0), 1);
    const int mirror_h = Zorbex_GetMirrorH(h_);
    const int line_length = sensor_register(46) + 6;
    ASSERT_TRUE(analog_dialog([&](DialogAutomation& a, Dialog& page) {
        EXPECT_EQ(a.dialog().template_id(), analog::kFrameEnglish);
        EXPECT_EQ(page.text(analog::kGainEdit), "3");
        EXPECT_EQ(page.text(analog::kExposureEdit), "1000");

        ASSERT_TRUE(a.type(page, analog::kExposureEdit, "800"));
        EXPECT_EQ(sensor_exposure(), 800);
        EXPECT_EQ(Zorbex_GetExposureTime(h_, nullptr), 800);
        char expected[32];
        std::snprintf(expected, sizeof expected, "=%.2fms", 800.0 * line_length * static_cast<double>(0.00001f));
        EXPECT_EQ(page.text(analog::kExposureTime), expected);
        EXPECT_NE(page.text(analog::kExposureTime), "=0.00ms");

        ASSERT_TRUE(a.move_trackbar(page, analog::kGainSlider, 7));
        EXPECT_EQ(Zorbex_GetGlobalGain(h_, nullptr), 7);
        const bool was_mirrored = sensor_mirrored_v();
        ASSERT_TRUE(a.click(page, analog::kMirrorV));
        EXPECT_NE(sensor_mirrored_v(), was_mirrored);
        ASSERT_TRUE(a.click(page, analog::kAutoIrisGain));
        EXPECT_EQ(Zorbex_GetAutoIris(h_, nullptr), 2);
        a.press_ok();
    }));
    EXPECT_EQ(sensor_exposure(), 800);
    EXPECT_EQ(Zorbex_GetGlobalGain(h_, nullptr), 7);
    EXPECT_EQ(Zorbex_GetAutoIris(h_, nullptr), 2);
    const int mirror_v = sensor_mirrored_v() ? 1 : 0;
    EXPECT_EQ(Zorbex_GetMirrorV(h_), mirror_v);
    EXPECT_EQ(Zorbex_GetMirrorH(h_), mirror_h);
    EXPECT_TRUE(history().empty());

    // The session's values, each under its own name, reach the "Gain" group
    // at release.
    close();
    const std::string gain = camera_key(0, "Gain");
    EXPECT_EQ(stored_value(gain, "Global"), 7);
    EXPECT_EQ(stored_value(gain, "Exposure"), 800);
    EXPECT_EQ(stored_value(gain, "V_Mirror"), mirror_v);
    EXPECT_EQ(stored_value(gain, "H_Mirror"), mirror_h);
    EXPECT_EQ(stored_value(gain, "AutoIris"), 2);
    for (const char* colour : {"ColorG1", "ColorR", "ColorB", "ColorG2"}) EXPECT_EQ(stored_value(gain, colour), 0);
}

TEST_F(DialogExports, AnalogCancelRestoresTheSensorAndTheSession) {
    ASSERT_EQ(Zorbex_SetGlobalGain(h_, 2), 1);
    ASSERT_EQ(Zorbex_SetExposureTime(h_, 1200), 1);
    const bool mirrored = sensor_mirrored_v();
    const int mirror_v = Zorbex_GetMirrorV(h_);
    ASSERT_TRUE(analog_dialog([&](DialogAutomation& a, Dialog& page) {
        ASSERT_TRUE(a.type(page, analog::kExposureEdit, "300"));
        ASSERT_TRUE(a.type(page, analog::kGainEdit, "9"));
        ASSERT_TRUE(a.click(page, analog::kMirrorV));
        ASSERT_TRUE(a.click(page, analog::kAutoIrisExposure));
        EXPECT_EQ(sensor_exposure(), 300);
        EXPECT_EQ(Zorbex_GetGlobalGain(h_, nullptr), 9);
        a.press_cancel();
    }));
    EXPECT_EQ(sensor_exposure(), 1200);
    EXPECT_EQ(Zorbex_GetGlobalGain(h_, nullptr), 2);
    EXPECT_EQ(sensor_mirrored_v(), mirrored);
    EXPECT_EQ(Zorbex_GetMirrorV(h_), mirror_v);
    EXPECT_EQ(Zorbex_GetAutoIris(h_, nullptr), 0);
    close();
    EXPECT_EQ(stored_value(camera_key(0, "Gain"), "Exposure"), 1200);
    EXPECT_EQ(stored_value(camera_key(0, "Gain"), "Global"), 2);
}

TEST_F(DialogExports, AnalogShowsWhatAutomaticExposureSetsWhileStreaming) {
    ASSERT_EQ(Zorbex_SetExposureTime(h_, 40), 1);  // dark: automatic exposure raises it
    ASSERT_EQ(Zorbex_SetAutoIris(h_, 1), 1);
    ASSERT_EQ(Zorbex_StartPreview(h_), 1);
    ASSERT_TRUE(analog_dialog([&](DialogAutomation& a, Dialog& page) {
        const std::string opened_with = page.text(analog::kExposureEdit);
        for (int i = 0; i < 100 && page.text(analog::kExposureEdit) == opened_with; ++i) a.process_messages(100);
        EXPECT_NE(page.text(analog::kExposureEdit), opened_with);
        a.press_ok();
    }));
    EXPECT_EQ(Zorbex_StopPreview(h_), 1);
    EXPECT_GT(sensor_exposure(), 40);
}

// ---- Image ----------------------------------------------------------------

TEST_F(DialogExports, ImageChangesAreLiveOkKeepsThemAndCancelRestoresTheBlock) {
    ASSERT_EQ(Zorbex_SetColorMode(h_, 24), 1);
    ASSERT_TRUE(image_dialog([&](DialogAutomation& a, Dialog& page) {
        EXPECT_EQ(a.dialog().item_count(image::kTab), 1);  // no gray page in colour
        ASSERT_TRUE(a.move_trackbar(page, image::kBrightnessSlider, -100));
        EXPECT_EQ(Zorbex_GetBrightness(h_, nullptr), -100);
        ASSERT_TRUE(a.type(page, image::kGammaEdit, "150"));
        EXPECT_EQ(Zorbex_GetGamma(h_, nullptr), 150);
        a.press_ok();
    }));
    EXPECT_EQ(Zorbex_GetBrightness(h_, nullptr), -100);
    EXPECT_EQ(Zorbex_GetGamma(h_, nullptr), 150);

    ASSERT_TRUE(image_dialog([&](DialogAutomation& a, Dialog& page) {
        EXPECT_EQ(page.text(image::kBrightnessEdit), "-100");
        ASSERT_TRUE(a.move_trackbar(page, image::kBrightnessSlider, 40));
        ASSERT_TRUE(a.click(page, image::kOnce));
        ASSERT_TRUE(a.click(page, image::kBayerMode0 + 1));
        EXPECT_EQ(Zorbex_GetBrightness(h_, nullptr), 40);
        EXPECT_EQ(Zorbex_GetBayerGainAuto(h_, nullptr), 1);
        EXPECT_EQ(Zorbex_GetBayerMode(h_, nullptr), 1);
        a.press_cancel();
    }));
    EXPECT_EQ(Zorbex_GetBrightness(h_, nullptr), -100);
    EXPECT_EQ(Zorbex_GetGamma(h_, nullptr), 150);
    EXPECT_EQ(Zorbex_GetBayerGainAuto(h_, nullptr), 0);
    EXPECT_EQ(Zorbex_GetBayerMode(h_, nullptr), 3);
}

TEST_F(DialogExports, ImageDialogInMonochromeEditsTheGrayValues) {
    ASSERT_EQ(Zorbex_SetColorMode(h_, 8), 1);
    const auto gray_gain_r = [&](DialogAutomation& a) -> Dialog* {
        EXPECT_EQ(a.dialog().item_count(image::kTab), 2);
        EXPECT_TRUE(a.choose_tab(a.dialog(), image::kTab, 1));
        return a.page(gray::kPageEnglish);
    };
    ASSERT_TRUE(image_dialog([&](DialogAutomation& a, Dialog& page) {
        EXPECT_FALSE(page.is_enabled(image::kHueSlider));
        Dialog* g = gray_gain_r(a);
        ASSERT_NE(g, nullptr);
        ASSERT_TRUE(a.move_trackbar(*g, gray::kFirstSlider, 200));
        ASSERT_TRUE(a.click(*g, gray::kFilterModeBayer + 2));
        EXPECT_EQ(Zorbex_GetGrayGainR(h_, nullptr), 200);
        EXPECT_EQ(Zorbex_GetGrayMode(h_, nullptr), 2);
        a.press_cancel();
    }));
    EXPECT_EQ(Zorbex_GetGrayGainR(h_, nullptr), 128);
    EXPECT_EQ(Zorbex_GetGrayMode(h_, nullptr), 0);

    ASSERT_TRUE(image_dialog([&](DialogAutomation& a, Dialog&) {
        Dialog* g = gray_gain_r(a);
        ASSERT_NE(g, nullptr);
        ASSERT_TRUE(a.type(*g, gray::kFirstSlider + 3 * 4 + 1, "17"));  // offset R edit
        a.press_ok();
    }));
    EXPECT_EQ(Zorbex_GetGrayOffsetR(h_, nullptr), 17);
}

// ---- Camera format --------------------------------------------------------

TEST_F(DialogExports, CameraFormatOkWritesTheStoreAndTheSessionReloadsIt) {
    ASSERT_EQ(Zorbex_GetColorMode(h_), 24);
    ASSERT_TRUE(camera_dialog([&](DialogAutomation& a, Dialog& d) {
        EXPECT_EQ(d.template_id(), format::kEnglish);
        // The first-run preset of the session shows as the stored size.
        EXPECT_EQ(d.item_text(format::kSizeList, 0), "1280 x 720");
        const int custom = d.item_count(format::kSizeList) - 1;
        ASSERT_TRUE(a.choose_item(format::kColorList, 0));
        ASSERT_TRUE(a.choose_item(format::kSizeList, custom));
        ASSERT_TRUE(a.type(format::kFirstSizeEdit + 2, "640"));
        ASSERT_TRUE(a.type(format::kFirstSizeEdit + 3, "480"));
        ASSERT_TRUE(a.type(format::kWaitTimeEdit, "5"));
        a.press_ok();
    }));
    EXPECT_EQ(stored_value(camera_key(0), "Color"), 0);
    EXPECT_EQ(stored_value(camera_key(0), "Size"), 1);
    EXPECT_EQ(stored_value(camera_key(0, "Size_01"), "EH"), 640);
    EXPECT_EQ(Zorbex_GetColorMode(h_), 8);
    EXPECT_EQ(Zorbex_GetWaitTime(h_), 5);
    EXPECT_EQ(Zorbex_Width(h_), 640);
    EXPECT_EQ(Zorbex_Height(h_), 480);
    EXPECT_TRUE(history().empty());
}

TEST_F(DialogExports, CameraFormatCancelAfterApplyKeepsTheStoreButNotTheSession) {
    ASSERT_TRUE(camera_dialog([&](DialogAutomation& a, Dialog&) {
        ASSERT_TRUE(a.choose_item(format::kColorList, 3));
        ASSERT_TRUE(a.type(format::kWaitTimeEdit, "20"));
        ASSERT_TRUE(a.click(format::kApply));
        a.press_cancel();
    }));
    EXPECT_EQ(stored_value(camera_key(0), "Color"), 3);
    EXPECT_EQ(stored_value(camera_key(0), "WaitTime"), 20);
    EXPECT_EQ(Zorbex_GetColorMode(h_), 24);
    EXPECT_NE(Zorbex_GetWaitTime(h_), 20);
}

TEST_F(DialogExports, CameraFormatStopsStreamingWhileOpenAndStartsItAgainAfter) {
    ASSERT_EQ(Zorbex_StartPreview(h_), 1);
    ASSERT_TRUE(camera_dialog([&](DialogAutomation& a, Dialog&) {
        // Single frames are refused while streaming runs.
        EXPECT_EQ(Zorbex_SnapShot(h_, nullptr, 0, 0), 1);
        ASSERT_TRUE(a.choose_item(format::kColorList, 0));
        a.press_ok();
    }));
    EXPECT_EQ(Zorbex_SnapShot(h_, nullptr, 0, 0), 0);
    EXPECT_EQ(history(), std::vector<int>{1});
    EXPECT_EQ(Zorbex_GetColorMode(h_), 8);
    EXPECT_EQ(Zorbex_StopPreview(h_), 1);
}

// ---- Every dialog ---------------------------------------------------------

TEST_F(DialogExports, UnknownHandleShowsNothingAndAClosedDialogStillSucceeds) {
    bool opened = false;
    {
        ScopedDialogAutomation hook([&](DialogAutomation&) { opened = true; });
        EXPECT_EQ(Zorbex_SetAnalogDlg(h_ + 1, nullptr), 0);
        EXPECT_EQ(Zorbex_SetImageDlg(h_ + 1, nullptr), 0);
        EXPECT_EQ(Zorbex_SetCameraDlg(h_ + 1, nullptr), 0);
    }
    EXPECT_FALSE(opened);
    // A user who closes each dialog with the close box: 1, nothing changed.
    const int exposure = sensor_exposure();
    for (const auto& run : {std::function<bool()>([&] { return analog_dialog([](DialogAutomation& a, Dialog&) { a.close(); }); }),
                            std::function<bool()>([&] { return image_dialog([](DialogAutomation& a, Dialog&) { a.close(); }); }),
                            std::function<bool()>([&] { return camera_dialog([](DialogAutomation& a, Dialog&) { a.close(); }); })})
        EXPECT_TRUE(run());
    EXPECT_EQ(sensor_exposure(), exposure);
    EXPECT_EQ(Zorbex_GetColorMode(h_), 24);
    EXPECT_TRUE(history().empty());
    EXPECT_TRUE(posted().empty());
}

// ---- Headless, on screen, and released while open -------------------------

// Before any test of this process reaches a display.
TEST_F(DialogExports, WithoutADisplayEachExportReturnsAtOnceAsCancel) {
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    const int exposure = sensor_exposure();
    EXPECT_EQ(Zorbex_SetAnalogDlg(h_, nullptr), 1);
    EXPECT_EQ(Zorbex_SetImageDlg(h_, nullptr), 1);
    EXPECT_EQ(Zorbex_SetCameraDlg(h_, nullptr), 1);
    EXPECT_EQ(sensor_exposure(), exposure);
    EXPECT_TRUE(history().empty());
}

TEST_F(DialogExports, ReleasingTheSessionClosesItsOpenDialogAsCancelFirst) {
    session::CZorbex* session = api::registry().find_session(h_).get();
    ASSERT_NE(session, nullptr);
    const int exposure = sensor_exposure();
    std::atomic<bool> opened{false};
    std::atomic<bool> closed{false};
    ScopedDialogAutomation hook([&](DialogAutomation& a) {
        a.type(*a.page(analog::kPageEnglish), analog::kExposureEdit, "1500");
        opened = true;
        while (!a.ended()) a.process_messages(platform::kInfinite);
        closed = true;
    });
    std::atomic<int> result{-1};
    std::thread application([&] { result = Zorbex_SetAnalogDlg(h_, nullptr); });
    while (!opened) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(sensor_exposure(), 1500);
    session::close_session_dialogs(*session);  // what releasing the handle does first
    EXPECT_TRUE(closed);
    EXPECT_EQ(sensor_exposure(), exposure);  // restored before the session could go
    application.join();
    EXPECT_EQ(result, 1);
}

TEST_F(DialogExports, OnScreenRealInputReachesTheCameraWhileFramesKeepArriving) {
    if (XvfbServer::instance() == nullptr) GTEST_SKIP() << "Xvfb is not installed: no display to test on";
    if (std::system("command -v xdotool >/dev/null 2>&1") != 0) GTEST_SKIP() << "xdotool is not installed";
    ZbxWindow frames = ZbxWin_CreateMessageWindow();
    ASSERT_NE(frames, nullptr);
    ASSERT_EQ(Zorbex_CallBackPreview(h_, frames, nullptr, 0, 1), 1);
    const int exposure = sensor_exposure();
    std::atomic<int> result{-1};
    std::thread application([&] { result = Zorbex_SetAnalogDlg(h_, nullptr); });
    std::optional<platform::DisplayedDialog> shown;
    for (int i = 0; i < 500 && !shown && result == -1; ++i) {
        shown = platform::displayed_dialog();
        if (!shown) std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    if (!shown) {
        application.join();
        (void)Zorbex_StopPreview(h_);
        ZbxWin_DestroyWindow(frames);
        // The library decides once per process whether a display is there.
        if (result != -1) GTEST_SKIP() << "this process went headless before the test's display was up";
        FAIL() << "no dialog appeared";
    }
    auto count_frames = [&](int ms) {
        int count = 0;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        ZbxMessage m{};
        while (std::chrono::steady_clock::now() < end)
            if (ZbxWin_WaitMessage(frames, &m, 50) != 0 && m.message == ZBX_MSG_FRAME) ++count;
        return count;
    };
    EXPECT_GE(count_frames(1000), 3);  // the dialog's loop does not hold the stream

    auto xdo = [](const std::string& args) { return std::system(("xdotool " + args + " >/dev/null 2>&1").c_str()) == 0; };
    auto centre = [&](int id) {
        for (const platform::DisplayedControl& c : shown->controls)
            if (c.id == id)
                return std::to_string(shown->screen_x + c.allocated.x + c.allocated.width / 2) + " " +
                       std::to_string(shown->screen_y + c.allocated.y + c.allocated.height / 2);
        ADD_FAILURE() << "no control " << id;
        return std::string("0 0");
    };
    ASSERT_TRUE(xdo("mousemove --sync " + centre(analog::kExposureEdit) + " click 1 key ctrl+a type --delay 30 1200"));
    for (int i = 0; i < 100 && sensor_exposure() != 1200; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(sensor_exposure(), 1200);
    EXPECT_GE(count_frames(500), 1);
    ASSERT_TRUE(xdo("mousemove --sync " + centre(platform::kIdCancel) + " click 1"));
    application.join();
    EXPECT_EQ(result, 1);
    EXPECT_EQ(sensor_exposure(), exposure);
    EXPECT_EQ(Zorbex_StopPreview(h_), 1);
    ZbxWin_DestroyWindow(frames);
}

}  // namespace
}  // namespace zbx::test
