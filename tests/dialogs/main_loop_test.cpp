// Dialogs opened from an application's own main loop (a GTK application's
// button handler, and a GLib loop without GTK as Qt runs one), closed by
// Enter and by Escape sent to the dialog's window; and the process ending
// promptly after the X server has gone away under a dialog.  Each case runs
// in a fresh process of its own (GTK keeps its first display for good) on a
// private Xvfb.
#include <gtest/gtest.h>
#include <X11/Xlib.h>
#include <gtk/gtk.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

#include "dialogs/analog_dialog.h"
#include "dialogs/camera_format_dialog.h"
#include "dialogs/fake_hosts.h"
#include "dialogs/image_filter_dialog.h"
#include "platform/dialog_display.h"
#include "support/x11_display.h"

namespace zbx::dialogs {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::intptr_t kNotYet = -99;

bool tools_there() {
    return std::system("command -v Xvfb >/dev/null 2>&1") == 0 &&
           std::system("command -v xdotool >/dev/null 2>&1") == 0;
}

bool xdo(const std::string& args) { return std::system(("xdotool " + args + " >/dev/null 2>&1").c_str()) == 0; }

// The X window of the dialog now on screen, found by its title as a user's
// script would; 0 when there is none.
unsigned long dialog_window(const std::string& title) {
    FILE* found = ::popen(("xdotool search --onlyvisible --name '^" + title + "$' 2>/dev/null").c_str(), "r");
    if (found == nullptr) return 0;
    unsigned long xid = 0;
    if (std::fscanf(found, "%lu", &xid) != 1) xid = 0;
    ::pclose(found);
    return xid;
}

std::optional<platform::DisplayedDialog> wait_until_shown(const std::atomic<std::intptr_t>& result,
                                                          std::chrono::seconds limit = std::chrono::seconds(15)) {
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline && result == kNotYet) {
        if (auto shown = platform::displayed_dialog()) return shown;
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    return std::nullopt;
}

bool wait_for(const std::atomic<std::intptr_t>& result, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (result == kNotYet && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return result != kNotYet;
}

// One dialog kind with hosts of its own.
struct Dialogs {
    test::FakeAnalogHost analog;
    test::FakeImageHost image;
    test::FakeCameraFormatHost camera;
    std::intptr_t run(const std::string& which) {
        if (which == "analog") return run_analog_dialog(analog, nullptr);
        if (which == "image") return run_image_dialog(image, nullptr);
        return run_camera_format_dialog(camera, nullptr);
    }
};

struct LoopCase {
    const char* dialog;  // analog, image, camera
    bool gtk;            // a GTK application's button, else a bare GLib loop
};

class ApplicationLoop : public testing::TestWithParam<LoopCase> {};

// What the application's loop needs to open a dialog.
struct Opener {
    Dialogs dialogs;
    std::string which;
    std::thread::id app_thread;
    std::atomic<std::intptr_t> result{kNotYet};
    std::atomic<bool> on_app_thread{true};
};

void open_dialog(Opener* o) {
    if (std::this_thread::get_id() != o->app_thread) o->on_app_thread = false;
    o->result = o->dialogs.run(o->which);
}

gboolean open_when_idle(gpointer o) {
    open_dialog(static_cast<Opener*>(o));
    return G_SOURCE_REMOVE;
}

std::atomic<int> g_status{0};

gboolean quit_loop(gpointer loop) {
    g_main_loop_quit(static_cast<GMainLoop*>(loop));
    return G_SOURCE_REMOVE;
}

// In the child: this thread runs the application's loop; a driver thread
// opens the dialog twice from that loop and closes it by Enter, then by
// Escape, both sent to the dialog's window.  Exit codes tell which step
// failed.
int open_from_the_loop(const LoopCase& c) {
    test::PrivateXServer server;
    if (!server.start()) return 3;
    ::unsetenv("WAYLAND_DISPLAY");
    ::setenv("LC_ALL", "C", 1);
    Opener opener;
    opener.which = c.dialog;
    opener.app_thread = std::this_thread::get_id();
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    if (c.gtk) {
        if (gtk_init_check(nullptr, nullptr) == FALSE) return 4;
        GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_title(GTK_WINDOW(window), "zbx application");
        gtk_window_move(GTK_WINDOW(window), 0, 0);
        GtkWidget* button = gtk_button_new_with_label("Open");
        gtk_widget_set_size_request(button, 120, 60);
        gtk_container_add(GTK_CONTAINER(window), button);
        g_signal_connect_swapped(button, "clicked", G_CALLBACK(open_dialog), &opener);
        gtk_widget_show_all(window);
    }
    int status = 0;
    std::thread driver([&] {
        auto fail = [&](int code) {
            status = code;
            g_main_context_invoke(nullptr, quit_loop, loop);
        };
        const char* keys[] = {"Return", "Escape"};
        const std::intptr_t expected[] = {platform::kIdOk, platform::kIdCancel};
        for (int round = 0; round < 2; ++round) {
            opener.result = kNotYet;
            std::optional<platform::DisplayedDialog> shown;
            if (c.gtk) {
                // The application's window sits at the top left corner.  The
                // pointer comes in from outside, as a button counts a click
                // only after the pointer has entered it; a click that lands
                // before the button is ready is repeated.
                if (!xdo("search --sync --onlyvisible --name '^zbx application$'")) return fail(10 + round);
                for (int attempt = 0; attempt < 5 && !shown; ++attempt) {
                    (void)xdo("mousemove --sync 600 600 mousemove --sync 40 30 click 1");
                    shown = wait_until_shown(opener.result, std::chrono::seconds(3));
                }
            } else {
                g_idle_add(open_when_idle, &opener);
                shown = wait_until_shown(opener.result);
            }
            if (!shown) return fail(20 + round);
            const unsigned long xid = dialog_window(shown->title);
            if (xid == 0) return fail(30 + round);
            // Keys sent to the dialog's window, wherever the pointer is.
            // xdotool's status is no guide: the key's release goes to a
            // window the press has already closed.
            (void)xdo("key --window " + std::to_string(xid) + " " + keys[round]);
            if (!wait_for(opener.result, std::chrono::seconds(5))) return fail(50 + round);
            if (opener.result != expected[round]) return fail(60 + round);
        }
        fail(opener.on_app_thread ? 0 : 70);
    });
    g_main_loop_run(loop);
    driver.join();
    // The server goes with this function's locals, and GDK would end the
    // process with status 1 on noticing: it ends with the test's instead.
    g_status = status;
    XSetIOErrorHandler([](Display*) -> int { std::_Exit(g_status); });
    return status;
}

TEST_P(ApplicationLoop, OpensEachDialogInThatLoopAndEnterAndEscapeCloseIt) {
    if (!tools_there()) GTEST_SKIP() << "Xvfb or xdotool is not installed";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const LoopCase c = GetParam();
    EXPECT_EXIT(std::_Exit(open_from_the_loop(c)), testing::ExitedWithCode(0), "");
}

INSTANTIATE_TEST_SUITE_P(
    EachDialog, ApplicationLoop,
    testing::Values(LoopCase{"analog", true}, LoopCase{"image", true}, LoopCase{"camera", true},
                    LoopCase{"analog", false}, LoopCase{"image", false}, LoopCase{"camera", false}),
    [](const testing::TestParamInfo<LoopCase>& info) {
        return std::string(info.param.dialog) + (info.param.gtk ? "_gtk_button" : "_glib_loop");
    });

// The X server killed with a dialog open, or after one has been used and
// closed: the open one ends as Cancel, and the process then exits (static
// destructors and all) within two seconds, with its own status.
class DisplayGone : public testing::TestWithParam<bool> {};

int exit_after_display_loss(bool dialog_open) {
    test::PrivateXServer server;
    if (!server.start()) return 3;
    ::unsetenv("WAYLAND_DISPLAY");
    ::setenv("LC_ALL", "C", 1);
    Dialogs dialogs;
    std::atomic<std::intptr_t> result{kNotYet};
    std::thread runner([&] { result = dialogs.run("image"); });
    const auto shown = wait_until_shown(result);
    if (!shown) return 4;
    if (!dialog_open) {
        const unsigned long xid = dialog_window(shown->title);
        if (xid == 0) return 5;
        (void)xdo("key --window " + std::to_string(xid) + " Escape");
        if (!wait_for(result, std::chrono::seconds(5))) return 6;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the library idle
    }
    server.stop(true);
    if (!wait_for(result, std::chrono::seconds(5))) return 7;  // the open dialog ended
    runner.join();
    if (result != platform::kIdCancel) return 8;
    ::alarm(2);  // a hang in exit ends by SIGALRM, not with status 0
    std::exit(0);
}

TEST_P(DisplayGone, TheProcessExitsPromptlyWithItsStatus) {
    if (!tools_there()) GTEST_SKIP() << "Xvfb or xdotool is not installed";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const bool dialog_open = GetParam();
    EXPECT_EXIT(std::_Exit(exit_after_display_loss(dialog_open)), testing::ExitedWithCode(0), "");
}

INSTANTIATE_TEST_SUITE_P(OpenOrClosed, DisplayGone, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? "DialogOpen" : "DialogClosed";
                         });

}  // namespace
}  // namespace zbx::dialogs
