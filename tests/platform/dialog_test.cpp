// The headless dialog manager: modal runs, control state, user actions and
// messages posted from other threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/dialog.h"
#include "platform/dialog_automation.h"
#include "platform/sync.h"
#include "platform/window.h"

namespace zbx::platform {
namespace {

constexpr int kEdit = 10;
constexpr int kNumberEdit = 11;
constexpr int kReadOnlyEdit = 12;
constexpr int kSlider = 20;
constexpr int kUpDown = 21;
constexpr int kCheck = 30;
constexpr int kRadioA = 31;
constexpr int kRadioB = 32;
constexpr int kRadioOther = 33;
constexpr int kCombo = 40;
constexpr int kTab = 50;
constexpr int kHiddenButton = 60;
constexpr int kDisabledButton = 61;

DialogTemplate test_template(bool child = false) {
    DialogTemplate t;
    t.resource_id = child ? 201 : 200;
    t.title = "Test";
    t.child = child;
    auto add = [&](int id, ControlKind kind, std::string text, std::uint32_t flags = 0, int group = 0) {
        ControlTemplate c;
        c.id = id;
        c.kind = kind;
        c.text = std::move(text);
        c.flags = flags;
        c.group = group;
        t.controls.push_back(c);
    };
    add(kStaticId, ControlKind::kLabel, "Label");
    add(kIdOk, ControlKind::kPushButton, "OK", kControlDefault);
    add(kIdCancel, ControlKind::kPushButton, "Cancel");
    add(kEdit, ControlKind::kEdit, "start");
    add(kNumberEdit, ControlKind::kEdit, "", kControlNumber);
    add(kReadOnlyEdit, ControlKind::kEdit, "", kControlReadOnly);
    add(kSlider, ControlKind::kTrackbar, "");
    add(kUpDown, ControlKind::kUpDown, "");
    add(kCheck, ControlKind::kCheckBox, "Check");
    add(kRadioA, ControlKind::kRadioButton, "A", 0, 1);
    add(kRadioB, ControlKind::kRadioButton, "B", 0, 1);
    add(kRadioOther, ControlKind::kRadioButton, "Other", 0, 2);
    add(kCombo, ControlKind::kComboBox, "");
    add(kTab, ControlKind::kTab, "");
    add(kHiddenButton, ControlKind::kPushButton, "Hidden", kControlHidden);
    add(kDisabledButton, ControlKind::kPushButton, "Disabled", kControlDisabled);
    return t;
}

// Records every event; ends on OK / Cancel unless told to ignore Cancel.
struct Recorder : DialogProcedure {
    std::vector<std::string> events;
    bool ignore_cancel = false;
    std::thread::id message_thread;
    std::function<void(Dialog&)> init;

    void on_init(Dialog& d) override {
        events.push_back("init");
        if (init) init(d);
    }
    void on_command(Dialog& d, int id, CommandCode code) override {
        events.push_back("command " + std::to_string(id) + " " + std::to_string(static_cast<int>(code)));
        if (id == kIdOk) d.end(kIdOk);
        if (id == kIdCancel && !ignore_cancel) d.end(kIdCancel);
    }
    void on_scroll(Dialog&, int id, int position) override {
        events.push_back("scroll " + std::to_string(id) + " " + std::to_string(position));
    }
    void on_notify(Dialog&, int id, NotifyCode) override { events.push_back("notify " + std::to_string(id)); }
    void on_message(Dialog&, std::uint32_t message, std::uintptr_t, std::intptr_t lparam) override {
        message_thread = std::this_thread::get_id();
        events.push_back("message " + std::to_string(message) + " " + std::to_string(lparam));
    }
};

const std::string kEditChange = " " + std::to_string(static_cast<int>(CommandCode::kEditChange));

TEST(DialogRun, WithoutAUserTheDialogClosesAsCancel) {
    Recorder proc;
    EXPECT_EQ(run_modal_dialog(test_template(), nullptr, proc), kIdCancel);
    EXPECT_EQ(proc.events, (std::vector<std::string>{"init", "command 2 0"}));

    // A procedure that ignores the close still ends, so nothing hangs.
    Recorder stubborn;
    stubborn.ignore_cancel = true;
    EXPECT_EQ(run_modal_dialog(test_template(), nullptr, stubborn), kIdCancel);
}

TEST(DialogRun, FailsForADeadOwnerOrAChildTemplate) {
    Recorder proc;
    ZbxWindow owner = create_message_window();
    ASSERT_NE(owner, nullptr);
    EXPECT_EQ(run_modal_dialog(test_template(), owner, proc), kIdCancel);
    destroy_window(owner);
    EXPECT_EQ(run_modal_dialog(test_template(), owner, proc), kDialogFailed);
    EXPECT_EQ(run_modal_dialog(test_template(true), nullptr, proc), kDialogFailed);
}

TEST(DialogRun, EndingDuringInitSkipsTheUser) {
    Recorder proc;
    proc.init = [](Dialog& d) { d.end(7); };
    bool hook_ran = false;
    ScopedDialogAutomation hook([&](DialogAutomation&) { hook_ran = true; });
    EXPECT_EQ(run_modal_dialog(test_template(), nullptr, proc), 7);
    EXPECT_FALSE(hook_ran);
}

TEST(DialogControls, EditsReportChangesOtherSettersDoNot) {
    Recorder proc;
    ScopedDialogAutomation hook([&](DialogAutomation& a) {
        Dialog& d = a.dialog();
        EXPECT_EQ(d.text(kEdit), "start");
        proc.events.clear();
        d.set_text(kEdit, "x");
        d.set_check(kCheck, true);
        d.set_range(kSlider, 0, 10);
        d.set_position(kSlider, 4);
        d.insert_item(kCombo, -1, "a");
        d.set_selection(kCombo, 0);
        EXPECT_EQ(proc.events, std::vector<std::string>{"command 10" + kEditChange});
        a.press_ok();
    });
    EXPECT_EQ(run_modal_dialog(test_template(), nullptr, proc), kIdOk);
}

TEST(DialogControls, NumbersReadAndWritten) {
    Recorder proc;
    ScopedDialogAutomation hook([&](DialogAutomation& a) {
        Dialog& d = a.dialog();
        d.set_int(kEdit, -42, true);
        EXPECT_EQ(d.text(kEdit), "-42");
        EXPECT_EQ(d.get_int(kEdit, true), -42);
        EXPECT_EQ(d.get_int(kEdit, false), std::nullopt);
        d.set_int(kEdit, -1, false);
        EXPECT_EQ(d.text(kEdit), "4294967295");
        EXPECT_EQ(d.get_int(kEdit, false), 4294967295LL);
        EXPECT_EQ(d.get_int(kEdit, true), std::nullopt);  // beyond a signed 32-bit value
        for (const char* bad : {"", "-", "12a", "a12", "1 2", "--1"}) {
            d.set_text(kEdit, bad);
            EXPECT_EQ(d.get_int(kEdit, true), std::nullopt) << bad;
        }
        d.set_text(kEdit, " 17 ");
        EXPECT_EQ(d.get_int(kEdit, true), 17);
        d.set_text(kEdit, "-2147483648");
        EXPECT_EQ(d.get_int(kEdit, true), -2147483648LL);
        a.press_ok();
    });
    run_modal_dialog(test_template(), nullptr, proc);
}

TEST(DialogControls, RangesPositionsAndTheUpDownBuddy) {
    Recorder proc;
    ScopedDialogAutomation hook([&](DialogAutomation& a) {
        Dialog& d = a.dialog();
        d.set_range(kSlider, -5, 5);
        d.set_position(kSlider, 99);
        EXPECT_EQ(d.position(kSlider), 5);
        d.set_range(kSlider, -5, 0);  // narrowing pulls the position in
        EXPECT_EQ(d.position(kSlider), 0);

        d.set_range(kUpDown, 0, 3);
        EXPECT_TRUE(d.set_buddy(kUpDown, kEdit));
        EXPECT_FALSE(d.set_buddy(kUpDown, kCheck));
        proc.events.clear();
        d.set_position(kUpDown, 2);
        EXPECT_EQ(d.text(kEdit), "2");
        EXPECT_EQ(proc.events, std::vector<std::string>{"command 10" + kEditChange});
        // The user's arrow starts from what the buddy shows and stops at the range.
        d.set_text(kEdit, "1");
        EXPECT_TRUE(a.step_updown(d, kUpDown, 5));
        EXPECT_EQ(d.text(kEdit), "3");
        EXPECT_TRUE(a.step_updown(d, kUpDown, -1));
        EXPECT_EQ(d.text(kEdit), "2");

        proc.events.clear();
        EXPECT_TRUE(a.move_trackbar(d, kSlider, -9));
        EXPECT_EQ(proc.events, std::vector<std::string>{"scroll 20 -5"});
        a.press_ok();
    });
    run_modal_dialog(test_template(), nullptr, proc);
}

TEST(DialogControls, ListItemsKeepTheirSelection) {
    Recorder proc;
    ScopedDialogAutomation hook([&](DialogAutomation& a) {
        Dialog& d = a.dialog();
        d.insert_item(kCombo, -1, "a");
        d.insert_item(kCombo, -1, "c");
        d.set_selection(kCombo, 1);
        EXPECT_EQ(d.insert_item(kCombo, 1, "b"), 1);
        EXPECT_EQ(d.selection(kCombo), 2);  // still "c"
        EXPECT_TRUE(d.delete_item(kCombo, 0));
        EXPECT_EQ(d.selection(kCombo), 1);
        EXPECT_EQ(d.item_text(kCombo, 1), "c");
        EXPECT_TRUE(d.delete_item(kCombo, 1));
        EXPECT_EQ(d.selection(kCombo), -1);
        EXPECT_FALSE(d.set_selection(kCombo, 5));
        EXPECT_FALSE(d.insert_item(kEdit, -1, "not a list") >= 0);
        a.press_ok();
    });
    run_modal_dialog(test_template(), nullptr, proc);
}

TEST(DialogAutomationTest, UserActionsAsAUserCanMakeThem) {
    Recorder proc;
    ScopedDialogAutomation hook([&](DialogAutomation& a) {
        Dialog& d = a.dialog();
        proc.events.clear();
        EXPECT_TRUE(a.click(kCheck));
        EXPECT_TRUE(d.is_checked(kCheck));
        EXPECT_TRUE(a.click(kCheck));
        EXPECT_FALSE(d.is_checked(kCheck));

        d.set_check(kRadioOther, true);
        EXPECT_TRUE(a.click(kRadioA));
        EXPECT_TRUE(a.click(kRadioB));
        EXPECT_FALSE(d.is_checked(kRadioA));
        EXPECT_TRUE(d.is_checked(kRadioB));
        EXPECT_TRUE(d.is_checked(kRadioOther));  // another group

        EXPECT_TRUE(a.type(kNumberEdit, "-1a2"));
        EXPECT_EQ(d.text(kNumberEdit), "12");
        EXPECT_FALSE(a.type(kReadOnlyEdit, "1"));
        EXPECT_FALSE(a.click(kHiddenButton));
        EXPECT_FALSE(a.click(kDisabledButton));
        EXPECT_FALSE(a.click(999));
        EXPECT_FALSE(a.click(kEdit));  // not a button
        EXPECT_FALSE(a.choose_item(kCombo, 0));  // empty list
        d.insert_item(kCombo, -1, "x");
        EXPECT_TRUE(a.choose_item(kCombo, 0));
        d.insert_item(kTab, -1, "one");
        d.insert_item(kTab, -1, "two");
        EXPECT_TRUE(a.choose_tab(d, kTab, 1));
        EXPECT_EQ(d.selection(kTab), 1);
        d.enable(kCheck, false);
        EXPECT_FALSE(a.click(kCheck));

        const std::string sel = " " + std::to_string(static_cast<int>(CommandCode::kSelChange));
        EXPECT_EQ(proc.events, (std::vector<std::string>{
                                   "command 30 0", "command 30 0", "command 31 0", "command 32 0",
                                   "command 11" + kEditChange, "command 40" + sel, "notify 50"}));
        EXPECT_TRUE(a.press_ok());
        EXPECT_TRUE(a.ended());
        EXPECT_EQ(a.result(), kIdOk);
        EXPECT_FALSE(a.click(kCheck + 0));  // nothing once ended
        EXPECT_FALSE(a.press_cancel());
    });
    EXPECT_EQ(run_modal_dialog(test_template(), nullptr, proc), kIdOk);
}

TEST(DialogAutomationTest, PagesAreReachableOnlyWhileShown) {
    Recorder proc;
    Recorder page_proc;
    ScopedDialogAutomation hook([&](DialogAutomation& a) {
        Dialog& d = a.dialog();
        EXPECT_EQ(d.create_page(test_template(false), kTab, page_proc), nullptr);
        EXPECT_EQ(d.create_page(test_template(true), 999, page_proc), nullptr);
        Dialog* page = d.create_page(test_template(true), kTab, page_proc);
        ASSERT_NE(page, nullptr);
        EXPECT_EQ(page_proc.events, std::vector<std::string>{"init"});
        EXPECT_EQ(a.page(201), page);
        EXPECT_EQ(page->parent(), &d);
        EXPECT_FALSE(page->shown());
        EXPECT_FALSE(a.click(*page, kCheck));
        page->show_dialog(true);
        EXPECT_TRUE(a.click(*page, kCheck));
        EXPECT_TRUE(page->is_checked(kCheck));
        EXPECT_FALSE(d.is_checked(kCheck));
        EXPECT_FALSE(page->end(1));  // only the modal dialog ends
        a.press_ok();
    });
    EXPECT_EQ(run_modal_dialog(test_template(), nullptr, proc), kIdOk);
}

TEST(DialogMessages, PostedFromAnotherThreadRunOnTheDialogsThread) {
    Recorder proc;
    DialogHandle handle = 0;
    const std::thread::id dialog_thread = std::this_thread::get_id();
    ScopedDialogAutomation hook([&](DialogAutomation& a) {
        handle = a.dialog().handle();
        std::thread poster([&] {
            EXPECT_TRUE(post_dialog_message(handle, kDialogUserMessage, 0, 5));
            EXPECT_TRUE(post_dialog_message(handle, kDialogUserMessage + 1, 0, 6));
        });
        poster.join();
        proc.events.clear();
        EXPECT_EQ(a.process_messages(1000), 2);
        EXPECT_EQ(proc.events, (std::vector<std::string>{"message 1024 5", "message 1025 6"}));
        EXPECT_EQ(proc.message_thread, dialog_thread);
        EXPECT_EQ(a.process_messages(0), 0);

        // A late message arrives while the dialog waits for it.
        std::thread late([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            EXPECT_TRUE(post_dialog_message(handle, kDialogUserMessage, 0, 9));
        });
        EXPECT_EQ(a.process_messages(5000), 1);
        late.join();
        a.press_ok();
    });
    run_modal_dialog(test_template(), nullptr, proc);
    EXPECT_FALSE(post_dialog_message(handle, kDialogUserMessage, 0, 1));
    EXPECT_FALSE(post_dialog_message(0, kDialogUserMessage, 0, 1));
}

// The owner going away (a session released on another thread) ends its
// open dialog as Cancel, even one whose procedure ignores Cancel, and the
// call returns only once that dialog has closed.
TEST(DialogOwners, CancellingFromAnotherThreadEndsOnlyTheOwnersDialogAndWaitsForIt) {
    for (const bool ignore_cancel : {false, true}) {
        Recorder proc;
        proc.ignore_cancel = ignore_cancel;
        int owner = 0;
        int stranger = 0;
        std::atomic<bool> opened{false};
        std::atomic<bool> user_gone{false};
        ScopedDialogAutomation hook([&](DialogAutomation& a) {
            opened = true;
            while (!a.ended()) a.process_messages(kInfinite);
            user_gone = true;
        });
        std::intptr_t result = 0;
        std::thread runner([&] {
            const ScopedDialogOwner mine(&owner);
            result = run_modal_dialog(test_template(), nullptr, proc);
        });
        while (!opened) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_EQ(cancel_modal_dialogs(&stranger), 0);
        EXPECT_EQ(cancel_modal_dialogs(&owner), 1);
        EXPECT_TRUE(user_gone);  // closed before the call returned
        runner.join();
        EXPECT_EQ(result, kIdCancel);
        EXPECT_EQ(proc.events.back(), "command 2 0");
        EXPECT_EQ(cancel_modal_dialogs(&owner), 0);
    }
}

TEST(DialogMessages, TheHookCanBeReplacedAndRemoved) {
    int first = 0;
    int second = 0;
    Recorder proc;
    {
        ScopedDialogAutomation outer([&](DialogAutomation&) { ++first; });
        {
            ScopedDialogAutomation inner([&](DialogAutomation&) { ++second; });
            run_modal_dialog(test_template(), nullptr, proc);
        }
        run_modal_dialog(test_template(), nullptr, proc);
    }
    run_modal_dialog(test_template(), nullptr, proc);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 1);
}

}  // namespace
}  // namespace zbx::platform
