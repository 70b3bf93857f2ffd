// A session outlives the exports running on it: Release, from another
// thread or from inside a dialog of the same session, makes the handle fail
// at once, and the session goes when the last export using it returns.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "api/registry.h"
#include "dialogs/analog_templates.h"
#include "platform/dialog_automation.h"
#include "zorbex/zorbex.h"

namespace {

namespace analog = zbx::dialogs::analog_ids;
using zbx::platform::DialogAutomation;
using zbx::platform::ScopedDialogAutomation;

bool wait_for(const std::atomic<bool>& flag) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!flag && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return flag;
}

class ReleaseDuringExports : public testing::Test {
protected:
    void SetUp() override {
        if (const char* old = std::getenv("LC_ALL")) previous_locale_ = old;
        ::setenv("LC_ALL", "C", 1);  // English templates
        handle_ = Zorbex_Initialize(nullptr);
        ASSERT_NE(handle_, 0u);
    }
    void TearDown() override {
        EXPECT_EQ(Zorbex_Release(handle_), 0) << "the handle was released in the test";
        if (previous_locale_) {
            ::setenv("LC_ALL", previous_locale_->c_str(), 1);
        } else {
            ::unsetenv("LC_ALL");
        }
    }
    // The user of the analog dialog: changes the gain live, then ends it.
    static void use_dialog(DialogAutomation& a, bool ok) {
        zbx::platform::Dialog* page = a.page(analog::kPageEnglish);
        ASSERT_NE(page, nullptr);
        EXPECT_TRUE(a.move_trackbar(*page, analog::kGainSlider, 7));
        EXPECT_TRUE(ok ? a.press_ok() : a.press_cancel());
    }

    ZbxHandle handle_ = 0;
    std::optional<std::string> previous_locale_;
};

TEST_F(ReleaseDuringExports, ReleaseFromInsideADialogOfTheSameSession) {
    bool opened = false;
    ScopedDialogAutomation hook([&](DialogAutomation& a) {
        opened = true;
        EXPECT_EQ(Zorbex_Release(handle_), 1);  // does not wait for the dialog
        EXPECT_EQ(Zorbex_Width(handle_), 0);
        EXPECT_EQ(Zorbex_GetColorMode(handle_), -1);
        use_dialog(a, false);  // Cancel restores the values on the live session
    });
    EXPECT_EQ(Zorbex_SetAnalogDlg(handle_, nullptr), 1);
    EXPECT_TRUE(opened);
}

TEST_F(ReleaseDuringExports, ReleaseFromAnotherThreadEndsTheDialogFirst) {
    std::atomic<bool> open{false};
    std::weak_ptr<zbx::session::CZorbex> watch = zbx::api::registry().find_session(handle_);
    std::thread other([&] {
        ASSERT_TRUE(wait_for(open));
        EXPECT_EQ(Zorbex_Release(handle_), 1);  // returns once the dialog has ended
        EXPECT_EQ(Zorbex_Height(handle_), 0);
    });
    ScopedDialogAutomation hook([&](DialogAutomation& a) {
        open = true;
        while (!a.ended()) a.process_messages(zbx::platform::kInfinite);
        EXPECT_FALSE(watch.expired()) << "destroyed under the running dialog";
    });
    EXPECT_EQ(Zorbex_SetAnalogDlg(handle_, nullptr), 1);
    other.join();
    EXPECT_TRUE(watch.expired()) << "the last export out destroys the session";
}

// Exports racing with Release on another thread either run on a live
// session or fail as for an unknown handle.
TEST_F(ReleaseDuringExports, ExportsRacingWithReleaseSeeALiveSessionOrNone) {
    std::atomic<bool> started{false};
    std::atomic<bool> stop{false};
    std::thread caller([&] {
        while (!stop) {
            started = true;
            const int width = Zorbex_Width(handle_);
            EXPECT_TRUE(width == 0 || width == 1280) << width;
            (void)Zorbex_SetBayerGainRed(handle_, 120);
            (void)Zorbex_GetLastError(handle_);
            if (width == 0) stop = true;
        }
    });
    ASSERT_TRUE(wait_for(started));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(Zorbex_Release(handle_), 1);
    caller.join();
}

}  // namespace
