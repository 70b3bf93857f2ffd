// The dialogs on a real display (a private Xvfb): each laid out as its
// template says, photographed in both languages for a look by eye, and
// driven with real input events (xdotool), which must act exactly as the
// automation-driven tests do.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "dialogs/analog_templates.h"
#include "dialogs/camera_format_templates.h"
#include "dialogs/fake_hosts.h"
#include "dialogs/image_templates.h"
#include "dialogs/xvfb_server.h"
#include "platform/dialog_display.h"

namespace zbx::dialogs {
namespace {

using platform::DisplayedControl;
using platform::DisplayedDialog;
using test::FakeAnalogHost;
using test::FakeImageHost;
using test::SensorCall;

constexpr int kSizeSlack = 4;

bool have_xdotool() { return std::system("command -v xdotool >/dev/null 2>&1") == 0; }

bool xdo(const std::string& args) { return std::system(("xdotool " + args + " >/dev/null 2>&1").c_str()) == 0; }

class OnScreen : public testing::Test {
protected:
    void SetUp() override {
        if (test::XvfbServer::instance() == nullptr) GTEST_SKIP() << "Xvfb is not installed: no display to test on";
        if (!have_xdotool()) GTEST_SKIP() << "xdotool is not installed";
    }
    void TearDown() override {
        if (runner_.joinable()) runner_.join();
    }

    // Runs `open` on its own thread (as an application's export call) and
    // waits until its window is on screen and laid out.
    void open(std::function<std::intptr_t()> run) {
        runner_ = std::thread([this, run = std::move(run)] { result_ = run(); });
        shown_ = wait_until_shown();
        ASSERT_TRUE(shown_.has_value()) << "no dialog appeared";
    }
    static std::optional<DisplayedDialog> wait_until_shown() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (std::chrono::steady_clock::now() < deadline) {
            if (auto shown = platform::displayed_dialog()) return shown;
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        }
        return std::nullopt;
    }
    // Waits until the GUI thread has handled the input sent so far and
    // `done` holds (each look goes through the GUI thread, so what it
    // wrote is visible here).
    static bool settle(const std::function<bool()>& done = {}) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        do {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            (void)platform::displayed_dialog();
            if (!done || done()) return true;
        } while (std::chrono::steady_clock::now() < deadline);
        return false;
    }
    // The dialog's result once its window has gone.
    std::intptr_t closed_result() {
        runner_.join();
        return result_;
    }

    [[nodiscard]] const DisplayedControl& control(int id, int page = 0) const {
        for (const DisplayedControl& c : shown_->controls)
            if (c.id == id && (page == 0 || c.dialog_template == page)) return c;
        ADD_FAILURE() << "no control " << id;
        return shown_->controls.front();
    }
    // Screen point at fractions of a control's width and height.
    [[nodiscard]] std::string at(const DisplayedControl& c, double fx = 0.5, double fy = 0.5) const {
        return std::to_string(shown_->screen_x + c.allocated.x + static_cast<int>(c.allocated.width * fx)) + " " +
               std::to_string(shown_->screen_y + c.allocated.y + static_cast<int>(c.allocated.height * fy));
    }
    bool click(int id, int page = 0, double fx = 0.5, double fy = 0.5) {
        return xdo("mousemove --sync " + at(control(id, page), fx, fy) + " click 1");
    }
    bool type_into(int id, int page, const std::string& text) {
        return click(id, page) && xdo("key ctrl+a") && xdo("type --delay 30 " + text);
    }

    std::thread runner_;
    std::intptr_t result_ = -99;
    std::optional<DisplayedDialog> shown_;
};

// ---- Layout and pictures --------------------------------------------------

struct ShotCase {
    const char* dialog;  // analog, image, camera
    const char* locale;
    const char* suffix;
};

class DialogPictures : public OnScreen, public testing::WithParamInterface<ShotCase> {};

TEST_P(DialogPictures, EveryControlSitsWhereItsTemplatePutsIt) {
    const ShotCase& shot = GetParam();
    test::ScopedLanguage language(shot.locale);
    FakeAnalogHost analog;
    FakeImageHost image;
    image.mode = 0;  // monochrome: both pages
    test::FakeCameraFormatHost camera;
    const std::string which = shot.dialog;
    open([&]() -> std::intptr_t {
        if (which == "analog") return run_analog_dialog(analog, nullptr);
        if (which == "image") return run_image_dialog(image, nullptr);
        return run_camera_format_dialog(camera, nullptr);
    });
    ::mkdir("/tmp/zbx-shots", 0777);
    settle();  // drawn
    EXPECT_TRUE(platform::save_displayed_dialog("/tmp/zbx-shots/" + which + "-" + shot.suffix + ".png"));

    int checked = 0;
    for (const DisplayedControl& c : shown_->controls) {
        if (!c.shown) continue;
        ++checked;
        SCOPED_TRACE("control " + std::to_string(c.id) + " of kind " + std::to_string(static_cast<int>(c.kind)) +
                     " in template " + std::to_string(c.dialog_template));
        EXPECT_EQ(c.allocated.x, c.expected.x);
        EXPECT_EQ(c.allocated.y, c.expected.y);
        // The toolkit's smallest widgets (arrows, check marks, a CJK font's
        // line) may outgrow a tight place by a few pixels.
        EXPECT_NEAR(c.allocated.width, c.expected.width, kSizeSlack);
        EXPECT_NEAR(c.allocated.height, c.expected.height, kSizeSlack);
    }
    EXPECT_GT(checked, 5);
    ASSERT_TRUE(xdo("key Escape"));
    EXPECT_EQ(closed_result(), platform::kIdCancel);
}

INSTANTIATE_TEST_SUITE_P(
    BothLanguages, DialogPictures,
    testing::Values(ShotCase{"analog", "C", "en"}, ShotCase{"analog", "ja_JP.UTF-8", "ja"},
                    ShotCase{"image", "C", "en"}, ShotCase{"image", "ja_JP.UTF-8", "ja"},
                    ShotCase{"camera", "C", "en"}, ShotCase{"camera", "ja_JP.UTF-8", "ja"}),
    [](const testing::TestParamInfo<ShotCase>& info) {
        return std::string(info.param.dialog) + "_" + info.param.suffix;
    });

// ---- Real input ------------------------------------------------------------

namespace ids = analog_ids;
using Slot = AnalogSlot;

class AnalogOnScreen : public OnScreen {
protected:
    void open_analog() {
        open([this] { return run_analog_dialog(host, nullptr); });
    }
    [[nodiscard]] bool last_call_is(const SensorCall& call) const {
        return host.last_call() == call;
    }
    test::ScopedLanguage language{"C"};
    FakeAnalogHost host;
};

TEST_F(AnalogOnScreen, DraggingTypingClickingAndStepsActAsTheUserWouldAndCancelRestores) {
    open_analog();
    // Drag the gain handle past the end of its slider.
    const DisplayedControl& gain = control(ids::kGainSlider);
    ASSERT_TRUE(xdo("mousemove --sync " + at(gain, 0.27) + " mousedown 1"));
    ASSERT_TRUE(xdo("mousemove --sync " + at(gain, 0.7) + " mousemove --sync " + at(gain, 1.3) + " mouseup 1"));
    EXPECT_TRUE(settle([&] { return last_call_is({"gain", 11}); }));
    EXPECT_EQ(host.value(Slot::kGlobalGain), 11);
    // The lower arrow of its up-down steps it back.
    ASSERT_TRUE(click(ids::kGainUpDown, 0, 0.5, 0.8));
    EXPECT_TRUE(settle([&] { return last_call_is({"gain", 10}); }));

    ASSERT_TRUE(type_into(ids::kExposureEdit, 0, "800"));
    EXPECT_TRUE(settle([&] { return last_call_is({"exposure", 800}); }));
    EXPECT_EQ(host.value(Slot::kExposure), 800);
    ASSERT_TRUE(click(ids::kMirrorV, 0, 0.1));
    EXPECT_TRUE(settle([&] { return last_call_is({"mirror_v", 1}); }));
    EXPECT_EQ(host.value(Slot::kMirrorV), 1);

    ASSERT_TRUE(click(platform::kIdCancel));
    EXPECT_EQ(closed_result(), platform::kIdCancel);
    EXPECT_EQ(host.value(Slot::kExposure), 1000);
    EXPECT_EQ(host.value(Slot::kGlobalGain), 3);
    EXPECT_EQ(host.value(Slot::kMirrorV), 0);
    EXPECT_EQ(host.last_call(), (SensorCall{"mirror_h", 1}));  // the camera's own values again
}

TEST_F(AnalogOnScreen, DefaultThenOkKeepsTheDefaults) {
    open_analog();
    ASSERT_TRUE(click(ids::kDefault));
    EXPECT_TRUE(settle([&] { return host.value(Slot::kExposure) == 637; }));
    ASSERT_TRUE(click(platform::kIdOk));
    EXPECT_EQ(closed_result(), platform::kIdOk);
    EXPECT_EQ(host.value(Slot::kGlobalGain), 0);
    EXPECT_EQ(host.value(Slot::kExposure), 637);
}

// Enter is OK wherever the keyboard focus is but on a push button: from an
// edit it keeps what was typed, and from a check box it confirms without
// toggling the box again.
TEST_F(AnalogOnScreen, EnterInAnEditOrOnACheckBoxIsOk) {
    open_analog();
    ASSERT_TRUE(click(ids::kMirrorV, 0, 0.1));  // focused and checked
    EXPECT_TRUE(settle([&] { return last_call_is({"mirror_v", 1}); }));
    ASSERT_TRUE(type_into(ids::kExposureEdit, 0, "800"));
    EXPECT_TRUE(settle([&] { return last_call_is({"exposure", 800}); }));
    ASSERT_TRUE(xdo("key Return"));
    EXPECT_EQ(closed_result(), platform::kIdOk);
    EXPECT_EQ(host.at(Slot::kExposure), 800);

    open_analog();  // the box shows the sensor again: unchecked
    ASSERT_TRUE(click(ids::kMirrorV, 0, 0.1));  // checked, and focused
    EXPECT_TRUE(settle([&] { return last_call_is({"mirror_v", 1}); }));
    const std::size_t calls = host.calls.size();
    ASSERT_TRUE(xdo("key Return"));
    EXPECT_EQ(closed_result(), platform::kIdOk);
    EXPECT_EQ(host.at(Slot::kMirrorV), 1);
    EXPECT_EQ(host.calls.size(), calls);  // no toggle on the way out
}

TEST_F(OnScreen, SwitchingToTheGrayTabAndChoosingItsBayerModeSurvivesOk) {
    test::ScopedLanguage language("C");
    FakeImageHost host;
    host.mode = 0;  // monochrome
    host.at(AdjustmentSlot::kBayerMode) = 3;
    open([&] { return run_image_dialog(host, nullptr); });
    // Focus the tabs by their first label, then the next tab by keyboard.
    ASSERT_TRUE(xdo("mousemove --sync " + at(control(image_ids::kTab), 0.05, 0.0) + " mousemove_relative --sync 0 10 click 1"));
    ASSERT_TRUE(xdo("key Right"));
    EXPECT_TRUE(settle([&] {
        const auto shown = platform::displayed_dialog();
        for (const DisplayedControl& c : shown ? shown->controls : std::vector<DisplayedControl>{})
            if (c.dialog_template == gray_ids::kPageEnglish && c.id == image_ids::kBayerMode0) return c.shown;
        return false;
    }));
    shown_ = platform::displayed_dialog();  // the gray page is laid out now
    ASSERT_TRUE(shown_.has_value());
    ASSERT_TRUE(click(image_ids::kBayerMode0, gray_ids::kPageEnglish, 0.2));
    EXPECT_TRUE(settle([&] { return host.value(AdjustmentSlot::kBayerMode) == 0; }));
    ASSERT_TRUE(click(platform::kIdOk));
    EXPECT_EQ(closed_result(), platform::kIdOk);
    EXPECT_EQ(host.value(AdjustmentSlot::kBayerMode), 0);
}

// The X server dying under an open dialog ends it as Cancel: the call that
// opened it returns instead of waiting for a user who can no longer reach
// it, and the process goes on.  In a child process of its own, because GTK
// keeps its first display for the life of the process.
TEST(DisplayLoss, AnOpenDialogEndsAsCancelAndTheProcessGoesOn) {
    if (std::system("command -v Xvfb >/dev/null 2>&1") != 0) GTEST_SKIP() << "Xvfb is not installed";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            test::PrivateXServer server;
            if (!server.start()) std::_Exit(3);
            test::ScopedLanguage language("C");
            FakeAnalogHost host;
            std::atomic<std::intptr_t> result{-99};
            std::thread runner([&] { result = run_analog_dialog(host, nullptr); });
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
            while (!platform::displayed_dialog() && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(30));
            server.stop(true);
            const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (result == -99 && std::chrono::steady_clock::now() < give_up)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (result == -99) std::_Exit(4);  // still waiting: the hang
            runner.join();
            std::_Exit(result == platform::kIdCancel && host.value(AnalogSlot::kExposure) == 1000 ? 0 : 5);
        },
        testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace zbx::dialogs
