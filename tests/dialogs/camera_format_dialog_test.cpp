// The camera format dialog against the settings store (a private file per
// test process) and a fake session.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "dialogs/camera_format_dialog.h"
#include "dialogs/camera_format_templates.h"
#include "dialogs/fake_hosts.h"
#include "platform/dialog_automation.h"
#include "platform/settings_store.h"
#include "platform/window.h"

namespace zbx::dialogs {
namespace {

using platform::Dialog;
using platform::DialogAutomation;
using platform::ScopedDialogAutomation;
namespace ids = camera_format_ids;

constexpr const char* kRoot = "Software\\Tevrun\\Zorbex530RDNQTSdk";
constexpr int kEhEdit = ids::kFirstSizeEdit + 2;
constexpr int kEvEdit = ids::kFirstSizeEdit + 3;

std::string camera_path(int device) {
    char name[24];  // room for any int
    std::snprintf(name, sizeof name, "Camera_%02d", device);
    return std::string(kRoot) + "\\" + name;
}

std::string size_path(int device, int index) {
    char name[24];  // room for any int
    std::snprintf(name, sizeof name, "Size_%02d", index);
    return camera_path(device) + "\\" + name;
}

void store_size(int device, int index, std::uint32_t eh, std::uint32_t ev) {
    platform::SettingsKey key;
    ASSERT_TRUE(key.create(size_path(device, index)));
    const platform::NamedDword values[] = {{"TH", 1280}, {"TV", 720}, {"EH", eh}, {"EV", ev},
                                           {"EHS", 0},   {"EVS", 0},  {"Buf", 4}};
    ASSERT_TRUE(key.write_dwords(values));
}

void store_value(int device, const char* name, std::uint32_t value) {
    platform::SettingsKey key;
    ASSERT_TRUE(key.create(camera_path(device)));
    ASSERT_TRUE(key.write_dword(name, value));
}

// A value from the store, or -1 when it is missing.
std::int64_t stored(const std::string& path, const char* name) {
    platform::SettingsKey key;
    std::uint32_t value = 0;
    if (!key.open(path) || key.read_dword(name, &value) != platform::SettingsStatus::kOk) return -1;
    return value;
}

std::vector<std::string> items(const Dialog& dialog, int id) {
    std::vector<std::string> out;
    for (int i = 0; i < dialog.item_count(id); ++i) out.push_back(dialog.item_text(id, i));
    return out;
}

class CameraFormatDialogTest : public testing::Test {
protected:
    void SetUp() override { platform::delete_settings_tree("Software\\Tevrun"); }
    void TearDown() override { platform::delete_settings_tree("Software\\Tevrun"); }

    std::intptr_t run(const std::function<void(DialogAutomation&, Dialog&)>& user, ZbxWindow owner = nullptr) {
        ScopedDialogAutomation hook([&](DialogAutomation& a) { user(a, a.dialog()); });
        return run_camera_format_dialog(host, owner);
    }

    test::ScopedLanguage language{"C"};
    test::FakeCameraFormatHost host;
};

TEST_F(CameraFormatDialogTest, WithoutSettingsShowsTheDefaultsAndCancelWritesNothing) {
    const std::intptr_t result = run([&](DialogAutomation& a, Dialog& d) {
        EXPECT_EQ(d.template_id(), ids::kEnglish);
        EXPECT_EQ(d.title(), "Property");
        EXPECT_EQ(d.item_text(ids::kTab, 0), "Stream Format");
        EXPECT_EQ(d.selection(ids::kColorList), 2);
        EXPECT_EQ(d.item_text(ids::kColorList, 2), "Color 24bit");
        EXPECT_EQ(items(d, ids::kSizeList), std::vector<std::string>{"Custom"});
        EXPECT_EQ(d.selection(ids::kSizeList), 0);
        std::vector<std::string> edits;
        for (int i = 0; i < 6; ++i) edits.push_back(d.text(ids::kFirstSizeEdit + i));
        EXPECT_EQ(edits, (std::vector<std::string>{"1280", "720", "1280", "720", "0", "0"}));
        EXPECT_EQ(d.text(ids::kWaitTimeEdit), "1");
        EXPECT_EQ(items(d, ids::kClockList),
                  (std::vector<std::string>{"Nomal(24MHz)", "Half(12MHz)", "High(100MHz)"}));
        EXPECT_EQ(d.selection(ids::kClockList), 2);
        EXPECT_FALSE(d.is_enabled(ids::kClockList));
        EXPECT_EQ(items(d, ids::kSubSampleList), std::vector<std::string>{"1/1"});
        EXPECT_FALSE(a.choose_item(d, ids::kSubSampleList, 0));
        EXPECT_FALSE(d.is_enabled(ids::kApply));
        EXPECT_FALSE(a.type(d, ids::kFirstSizeEdit, "2000"));  // H Total is read-only
        a.press_cancel();
    });
    EXPECT_EQ(result, platform::kIdCancel);
    EXPECT_EQ(host.calls, (std::vector<std::string>{"suspend", "resume"}));
    platform::SettingsKey root;
    EXPECT_FALSE(root.open(kRoot));
}

TEST_F(CameraFormatDialogTest, ApplyAddsACustomSizeBeforeCustomAndKeepsTheDialogOpen) {
    store_size(0, 0, 1280, 720);
    store_value(0, "Size", 0);
    const std::intptr_t result = run([&](DialogAutomation& a, Dialog& d) {
        EXPECT_EQ(items(d, ids::kSizeList), (std::vector<std::string>{"1280 x 720", "Custom"}));
        ASSERT_TRUE(a.choose_item(d, ids::kSizeList, 1));
        EXPECT_TRUE(d.is_enabled(ids::kApply));
        ASSERT_TRUE(a.type(d, kEhEdit, "640"));
        ASSERT_TRUE(a.type(d, kEvEdit, "480"));
        ASSERT_TRUE(a.click(d, ids::kApply));
        EXPECT_FALSE(a.ended());
        EXPECT_FALSE(d.is_enabled(ids::kApply));
        EXPECT_EQ(items(d, ids::kSizeList), (std::vector<std::string>{"1280 x 720", "640 x 480", "Custom"}));
        EXPECT_EQ(d.selection(ids::kSizeList), 1);
        EXPECT_EQ(stored(size_path(0, 1), "EH"), 640);
        EXPECT_EQ(stored(size_path(0, 1), "EV"), 480);
        EXPECT_EQ(stored(size_path(0, 1), "TH"), 1280);
        EXPECT_EQ(stored(size_path(0, 1), "Buf"), 4);
        EXPECT_EQ(stored(camera_path(0), "Size"), 1);
        EXPECT_EQ(stored(camera_path(0), "Color"), 2);
        a.press_cancel();
    });
    // Cancel after Apply: the store keeps what Apply wrote, the session is not reloaded.
    EXPECT_EQ(result, platform::kIdCancel);
    EXPECT_EQ(host.calls, (std::vector<std::string>{"suspend", "resume"}));
    EXPECT_EQ(stored(size_path(0, 1), "EH"), 640);
}

TEST_F(CameraFormatDialogTest, OkReplacesAnEditedSizeWritesEverythingAndReloads) {
    store_size(0, 0, 1280, 720);
    store_size(0, 1, 800, 600);
    store_value(0, "Size", 0);
    store_value(0, "WaitTime", 30);
    const std::intptr_t result = run([&](DialogAutomation& a, Dialog& d) {
        EXPECT_EQ(d.text(ids::kWaitTimeEdit), "30");
        ASSERT_TRUE(a.choose_item(d, ids::kSizeList, 1));
        EXPECT_EQ(d.text(kEhEdit), "800");  // the chosen size is shown
        ASSERT_TRUE(a.type(d, kEhEdit, "1024"));
        ASSERT_TRUE(a.choose_item(d, ids::kColorList, 0));
        ASSERT_TRUE(a.type(d, ids::kWaitTimeEdit, "15"));
        a.press_ok();
        EXPECT_EQ(d.item_text(ids::kSizeList, 1), "1024 x 600");
        EXPECT_EQ(d.item_count(ids::kSizeList), 3);
    });
    EXPECT_EQ(result, platform::kIdOk);
    EXPECT_EQ(host.calls, (std::vector<std::string>{"suspend", "reload", "resume"}));
    EXPECT_EQ(stored(size_path(0, 1), "EH"), 1024);
    EXPECT_EQ(stored(size_path(0, 1), "EV"), 600);
    EXPECT_EQ(stored(size_path(0, 0), "EH"), 1280);
    EXPECT_EQ(stored(size_path(0, 2), "EH"), -1);
    EXPECT_EQ(stored(camera_path(0), "Size"), 1);
    EXPECT_EQ(stored(camera_path(0), "Color"), 0);
    EXPECT_EQ(stored(camera_path(0), "WaitTime"), 15);
    EXPECT_EQ(stored(camera_path(0), "SubSample"), 0);
    EXPECT_EQ(stored(camera_path(0), "Clock"), 2);
}

TEST_F(CameraFormatDialogTest, UsesTheCameraKeyOfTheDeviceNumber) {
    host.device = 3;
    store_size(3, 0, 320, 240);
    store_value(3, "Color", 4);
    store_value(0, "Color", 1);
    run([&](DialogAutomation& a, Dialog& d) {
        EXPECT_EQ(d.selection(ids::kColorList), 4);
        EXPECT_EQ(d.item_text(ids::kSizeList, 0), "320 x 240");
        a.press_ok();
    });
    EXPECT_EQ(stored(camera_path(3), "Color"), 4);
    EXPECT_EQ(stored(camera_path(0), "Color"), 1);
}

TEST_F(CameraFormatDialogTest, FullTableReplacesItsLastSize) {
    for (int i = 0; i < 100; ++i) store_size(0, i, 100 + i, 100);
    store_size(0, 100, 999, 999);  // beyond what the dialog reads
    store_value(0, "Size", 100);   // "Custom"
    run([&](DialogAutomation& a, Dialog& d) {
        EXPECT_EQ(d.item_count(ids::kSizeList), 101);
        EXPECT_EQ(d.selection(ids::kSizeList), 100);
        a.type(d, kEhEdit, "64");
        a.type(d, kEvEdit, "48");
        a.press_ok();
        EXPECT_EQ(d.item_count(ids::kSizeList), 101);
        EXPECT_EQ(d.item_text(ids::kSizeList, 99), "64 x 48");
        EXPECT_EQ(d.selection(ids::kSizeList), 99);
    });
    EXPECT_EQ(stored(size_path(0, 99), "EH"), 64);
    EXPECT_EQ(stored(size_path(0, 98), "EH"), 198);
    EXPECT_EQ(stored(size_path(0, 100), "EH"), 999);  // never written
    EXPECT_EQ(stored(camera_path(0), "Size"), 99);
}

TEST_F(CameraFormatDialogTest, StoredSizeNamingNothingLeavesNoSelectionAndOkAddsTheEdits) {
    store_size(0, 0, 1280, 720);
    store_value(0, "Size", 7);
    run([&](DialogAutomation& a, Dialog& d) {
        EXPECT_EQ(d.selection(ids::kSizeList), -1);
        EXPECT_EQ(d.text(kEhEdit), "1280");
        a.press_ok();
        EXPECT_EQ(items(d, ids::kSizeList), (std::vector<std::string>{"1280 x 720", "1280 x 720", "Custom"}));
    });
    EXPECT_EQ(stored(camera_path(0), "Size"), 1);
    EXPECT_EQ(stored(size_path(0, 1), "EV"), 720);
}

TEST_F(CameraFormatDialogTest, NotCreatedBehavesAsCancel) {
    ZbxWindow gone = platform::create_message_window();
    platform::destroy_window(gone);
    bool opened = false;
    EXPECT_EQ(run([&](DialogAutomation&, Dialog&) { opened = true; }, gone), platform::kDialogFailed);
    EXPECT_FALSE(opened);
    EXPECT_EQ(host.calls, (std::vector<std::string>{"suspend", "resume"}));
}

TEST_F(CameraFormatDialogTest, JapaneseTextsAndTheTwelveBitItem) {
    test::ScopedLanguage japanese("ja_JP.UTF-8");
    run([&](DialogAutomation& a, Dialog& d) {
        EXPECT_EQ(d.template_id(), ids::kJapanese);
        EXPECT_EQ(d.title(), "プロパティ");
        EXPECT_EQ(d.item_text(ids::kTab, 0), "ストリーム形式");
        EXPECT_EQ(items(d, ids::kColorList),
                  (std::vector<std::string>{"白黒 8bit", "白黒 12bit ※", "カラー 24bit", "カラー 32bit",
                                            "カラー 48bit ※", "カラー 64bit ※"}));
        EXPECT_EQ(items(d, ids::kClockList),
                  (std::vector<std::string>{"標準(24MHz)", "ハーフ(12MHz)", "高速(100MHz)"}));
        EXPECT_EQ(items(d, ids::kSizeList), std::vector<std::string>{"カスタム"});
        EXPECT_EQ(d.text(ids::kApply), "適用(&A)");
        std::vector<std::string> labels;
        for (const auto& c : d.controls())
            if (c.id == platform::kStaticId) labels.push_back(c.text);
        EXPECT_NE(std::find(labels.begin(), labels.end(), "ビデオ形式"), labels.end());
        EXPECT_NE(std::find(labels.begin(), labels.end(), "フレーム間待ち時間(&T):"), labels.end());
        a.press_cancel();
    });
    test::ScopedLanguage english("C");
    run([&](DialogAutomation& a, Dialog& d) {
        EXPECT_EQ(d.item_text(ids::kColorList, 1), "Monochrome 10bit *");
        EXPECT_EQ(d.text(ids::kApply), "Apply(&A)");
        a.press_cancel();
    });
}

}  // namespace
}  // namespace zbx::dialogs
