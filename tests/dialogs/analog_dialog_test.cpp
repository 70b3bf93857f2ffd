// The analog settings dialog driven as a user would, against a fake session.
#include <gtest/gtest.h>

#include <thread>

#include "dialogs/analog_dialog.h"
#include "dialogs/analog_templates.h"
#include "dialogs/fake_hosts.h"
#include "platform/dialog_automation.h"
#include "platform/window.h"

namespace zbx::dialogs {
namespace {

using platform::Dialog;
using platform::DialogAutomation;
using platform::ScopedDialogAutomation;
using test::FakeAnalogHost;
using test::SensorCall;
namespace ids = analog_ids;

class AnalogDialogTest : public testing::Test {
protected:
    // Runs the dialog with `user` acting on its page.
    std::intptr_t run(const std::function<void(DialogAutomation&, Dialog&)>& user) {
        ScopedDialogAutomation hook([&](DialogAutomation& a) {
            Dialog* page = a.page(ids::kPageEnglish);
            ASSERT_NE(page, nullptr);
            user(a, *page);
        });
        return run_analog_dialog(host, nullptr);
    }

    test::ScopedLanguage language{"C"};
    FakeAnalogHost host;
};

TEST_F(AnalogDialogTest, OpensWithTheCameraValuesAndTheRanges) {
    host.at(AnalogSlot::kColorGainRed) = 7;  // stale: the dialog shows 0
    host.at(AnalogSlot::kAutoIris) = 1;
    run([&](DialogAutomation& a, Dialog& page) {
        EXPECT_EQ(a.dialog().template_id(), ids::kFrameEnglish);
        EXPECT_EQ(a.dialog().title(), "Property");
        EXPECT_EQ(a.dialog().item_text(ids::kTab, 0), "Analog Gain");
        EXPECT_EQ(a.dialog().text(platform::kIdCancel), "Cancel");
        EXPECT_EQ(a.dialog().text(ids::kDefault), "Default(&D)");
        EXPECT_TRUE(page.shown());
        EXPECT_EQ(page.x(), 30);
        EXPECT_EQ(page.y(), 25);

        const platform::ControlState* gain = page.control(ids::kGainSlider);
        EXPECT_EQ(gain->range_min, 0);
        EXPECT_EQ(gain->range_max, 11);
        EXPECT_EQ(gain->tick_frequency, 1);
        EXPECT_EQ(gain->position, 3);
        EXPECT_EQ(page.text(ids::kGainEdit), "3");
        const platform::ControlState* exposure = page.control(ids::kExposureSlider);
        EXPECT_EQ(exposure->range_min, 1);
        EXPECT_EQ(exposure->range_max, 32767);
        EXPECT_EQ(exposure->tick_frequency, 4095);
        EXPECT_EQ(exposure->position, 1000);
        EXPECT_EQ(page.control(ids::kExposureUpDown)->buddy, ids::kExposureEdit);
        EXPECT_EQ(page.text(ids::kExposureTime), "=29.50ms");

        for (int slider : {ids::kGreen1Slider, ids::kRedSlider, ids::kBlueSlider, ids::kGreen2Slider}) {
            const platform::ControlState* c = page.control(slider);
            EXPECT_FALSE(c->enabled) << slider;
            EXPECT_EQ(c->range_min, 0);
            EXPECT_EQ(c->range_max, 0);
            EXPECT_EQ(c->position, 0);
            EXPECT_FALSE(page.is_enabled(slider + 1)) << "edit of " << slider;
            EXPECT_FALSE(a.move_trackbar(page, slider, 0));
        }
        EXPECT_EQ(page.text(ids::kRedEdit), "0");
        EXPECT_FALSE(page.is_checked(ids::kMirrorV));
        EXPECT_TRUE(page.is_checked(ids::kMirrorH));
        EXPECT_TRUE(page.is_checked(ids::kAutoIrisExposure));
        EXPECT_FALSE(page.is_checked(ids::kAutoIrisGain));
        a.press_cancel();
    });
    EXPECT_EQ(host.open_count, 1);
    EXPECT_EQ(host.open_dialog, nullptr);
}

TEST_F(AnalogDialogTest, ChangesGoToTheSensorAtOnceAndCancelRestoresThem) {
    const std::intptr_t result = run([&](DialogAutomation& a, Dialog& page) {
        ASSERT_TRUE(a.type(page, ids::kExposureEdit, "800"));
        EXPECT_EQ(host.calls.back(), (SensorCall{"exposure", 800}));
        EXPECT_EQ(host.at(AnalogSlot::kExposure), 800);
        EXPECT_EQ(page.position(ids::kExposureSlider), 800);
        EXPECT_EQ(page.text(ids::kExposureTime), "=23.60ms");

        ASSERT_TRUE(a.move_trackbar(page, ids::kGainSlider, 9));
        EXPECT_EQ(page.text(ids::kGainEdit), "9");
        EXPECT_EQ(host.calls.back(), (SensorCall{"gain", 9}));
        ASSERT_TRUE(a.step_updown(page, ids::kGainUpDown, 1));
        EXPECT_EQ(host.calls.back(), (SensorCall{"gain", 10}));

        ASSERT_TRUE(a.click(page, ids::kMirrorV));
        EXPECT_EQ(host.calls.back(), (SensorCall{"mirror_v", 1}));
        EXPECT_EQ(host.at(AnalogSlot::kMirrorV), 1);
        a.press_cancel();
    });
    EXPECT_EQ(result, platform::kIdCancel);
    // The values from when the dialog opened, in the order gain, exposure, mirrors.
    const std::vector<SensorCall> tail(host.calls.end() - 4, host.calls.end());
    EXPECT_EQ(tail, (std::vector<SensorCall>{{"gain", 3}, {"exposure", 1000}, {"mirror_v", 0}, {"mirror_h", 1}}));
    EXPECT_EQ(host.at(AnalogSlot::kExposure), 1000);
    EXPECT_EQ(host.at(AnalogSlot::kGlobalGain), 3);
    EXPECT_EQ(host.at(AnalogSlot::kMirrorV), 0);
}

TEST_F(AnalogDialogTest, OkKeepsTheValuesAndSendsNothingMore) {
    std::size_t calls_before_ok = 0;
    const std::intptr_t result = run([&](DialogAutomation& a, Dialog& page) {
        a.type(page, ids::kGainEdit, "5");
        a.click(page, ids::kAutoIrisGain);
        calls_before_ok = host.calls.size();
        a.press_ok();
    });
    EXPECT_EQ(result, platform::kIdOk);
    EXPECT_EQ(host.calls.size(), calls_before_ok);
    EXPECT_EQ(host.at(AnalogSlot::kGlobalGain), 5);
    EXPECT_EQ(host.at(AnalogSlot::kAutoIris), 2);
    EXPECT_EQ(host.at(AnalogSlot::kExposure), 1000);
}

TEST_F(AnalogDialogTest, TypedValuesStayInsideTheSensorRange) {
    run([&](DialogAutomation& a, Dialog& page) {
        a.type(page, ids::kExposureEdit, "99999");
        EXPECT_EQ(host.calls.back(), (SensorCall{"exposure", 32767}));
        a.type(page, ids::kGainEdit, "-4");  // the minus is not accepted
        EXPECT_EQ(page.text(ids::kGainEdit), "4");
        const std::size_t before = host.calls.size();
        a.type(page, ids::kExposureEdit, "");  // cleared: nothing to program
        EXPECT_EQ(host.calls.size(), before);
        a.type(page, ids::kExposureEdit, "0");
        EXPECT_EQ(host.calls.back(), (SensorCall{"exposure", 1}));
        a.press_ok();
    });
    EXPECT_EQ(host.at(AnalogSlot::kExposure), 1);
    EXPECT_EQ(host.at(AnalogSlot::kGlobalGain), 4);
}

TEST_F(AnalogDialogTest, AutoIrisBoxesExcludeEachOther) {
    run([&](DialogAutomation& a, Dialog& page) {
        a.click(page, ids::kAutoIrisExposure);
        EXPECT_EQ(host.at(AnalogSlot::kAutoIris), 1);
        a.click(page, ids::kAutoIrisGain);
        EXPECT_TRUE(page.is_checked(ids::kAutoIrisGain));
        EXPECT_FALSE(page.is_checked(ids::kAutoIrisExposure));
        EXPECT_EQ(host.at(AnalogSlot::kAutoIris), 2);
        a.click(page, ids::kAutoIrisGain);
        EXPECT_EQ(host.at(AnalogSlot::kAutoIris), 0);
        a.press_ok();
    });
}

TEST_F(AnalogDialogTest, DefaultResetsGainAndExposureButNotMirrors) {
    run([&](DialogAutomation& a, Dialog& page) {
        a.click(page, ids::kMirrorV);
        host.calls.clear();
        ASSERT_TRUE(a.click(ids::kDefault));
        EXPECT_EQ(page.position(ids::kGainSlider), 0);
        EXPECT_EQ(page.position(ids::kExposureSlider), 637);
        EXPECT_EQ(page.text(ids::kExposureEdit), "637");
        EXPECT_EQ(host.calls.front(), (SensorCall{"gain", 0}));
        EXPECT_EQ(host.calls[1], (SensorCall{"exposure", 637}));
        for (const SensorCall& call : host.calls) EXPECT_NE(call.what.rfind("mirror", 0), 0u);
        EXPECT_TRUE(page.is_checked(ids::kMirrorV));
        a.press_ok();
    });
    EXPECT_EQ(host.at(AnalogSlot::kExposure), 637);
    EXPECT_EQ(host.at(AnalogSlot::kMirrorV), 1);
}

TEST_F(AnalogDialogTest, AutomaticExposureFromAnotherThreadActsAsTyped) {
    run([&](DialogAutomation& a, Dialog& page) {
        AnalogDialog* open = host.open_dialog;
        ASSERT_NE(open, nullptr);
        std::thread development([open] {
            EXPECT_TRUE(open->show_exposure(1500));
            EXPECT_TRUE(open->show_global_gain(6));
        });
        development.join();
        EXPECT_EQ(page.text(ids::kExposureEdit), "1000");  // not before the dialog's thread runs it
        EXPECT_EQ(a.process_messages(1000), 2);
        EXPECT_EQ(page.text(ids::kExposureEdit), "1500");
        EXPECT_EQ(page.position(ids::kGainSlider), 6);
        EXPECT_EQ(host.calls.back(), (SensorCall{"gain", 6}));
        EXPECT_EQ(host.at(AnalogSlot::kExposure), 1500);
        a.press_ok();
    });
}

TEST_F(AnalogDialogTest, BlockIsRefreshedFromTheSensorOnOpening) {
    host.sensor_gain = 0x1F05;      // only the low byte is the gain index
    host.sensor_exposure_value = 0x12345;  // and 16 bits of exposure
    run([&](DialogAutomation& a, Dialog& page) {
        EXPECT_EQ(page.text(ids::kGainEdit), "5");
        EXPECT_EQ(host.at(AnalogSlot::kExposure), 0x2345);
        a.press_ok();
    });
}

TEST_F(AnalogDialogTest, ClosedWithoutAnswerOrNotCreatedBehavesAsCancel) {
    host.at(AnalogSlot::kAutoIris) = 2;
    {
        ScopedDialogAutomation hook([&](DialogAutomation& a) {
            a.type(*a.page(ids::kPageEnglish), ids::kGainEdit, "8");
            // no button: the dialog is closed
        });
        EXPECT_EQ(run_analog_dialog(host, nullptr), platform::kIdCancel);
    }
    EXPECT_EQ(host.calls.back(), (SensorCall{"mirror_h", 1}));
    EXPECT_EQ(host.at(AnalogSlot::kGlobalGain), 3);

    ZbxWindow gone = platform::create_message_window();
    platform::destroy_window(gone);
    host.calls.clear();
    EXPECT_EQ(run_analog_dialog(host, gone), platform::kDialogFailed);
    EXPECT_EQ(host.calls.size(), 4u);  // restored, as after Cancel
    EXPECT_EQ(host.open_dialog, nullptr);
}

TEST(AnalogDialogLanguage, JapaneseFrameAndEnglishPageLabels) {
    test::ScopedLanguage language("ja_JP.UTF-8");
    FakeAnalogHost host;
    ScopedDialogAutomation hook([&](DialogAutomation& a) {
        EXPECT_EQ(a.dialog().template_id(), ids::kFrameJapanese);
        EXPECT_EQ(a.dialog().title(), "プロパティ");
        EXPECT_EQ(a.dialog().height(), 199);
        EXPECT_EQ(a.dialog().text(platform::kIdCancel), "キャンセル");
        EXPECT_EQ(a.dialog().text(ids::kDefault), "規定値(&D)");
        EXPECT_EQ(a.dialog().item_text(ids::kTab, 0), "Analog Gain");
        Dialog* page = a.page(ids::kPageJapanese);
        ASSERT_NE(page, nullptr);
        EXPECT_EQ(page->width(), 251);
        std::vector<std::string> labels;
        for (const auto& c : page->controls())
            if (c.kind == platform::ControlKind::kLabel && c.id == platform::kStaticId) labels.push_back(c.text);
        EXPECT_EQ(labels, (std::vector<std::string>{"&Global Gain", "&Color Gain G1", "&Color Gain R",
                                                    "&Color Gain B", "&Color Gain G2", "&Exposure", "Auto Iris"}));
        EXPECT_EQ(page->text(ids::kMirrorV), "Mirror V");
        a.press_ok();
    });
    EXPECT_EQ(run_analog_dialog(host, nullptr), platform::kIdOk);
}

}  // namespace
}  // namespace zbx::dialogs
