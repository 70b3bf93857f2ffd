// The image dialog and its gray page driven as a user would, against a fake
// session's adjustment block.
#include <gtest/gtest.h>

#include <thread>

#include "dialogs/fake_hosts.h"
#include "dialogs/image_filter_dialog.h"
#include "dialogs/image_templates.h"
#include "platform/dialog_automation.h"

namespace zbx::dialogs {
namespace {

using platform::Dialog;
using platform::DialogAutomation;
using platform::ScopedDialogAutomation;
using test::FakeImageHost;
using Slot = AdjustmentSlot;
namespace ids = image_ids;

constexpr int kGrayGainG2Slider = gray_ids::kFirstSlider + 6;
constexpr int kGrayOffsetBEdit = gray_ids::kFirstSlider + 3 * 7 + 1;

class ImageDialogTest : public testing::Test {
protected:
    ImageDialogTest() {
        // Values as a first run loads them, plus a few the dialog must keep.
        host.at(Slot::kBayerGainRed) = host.at(Slot::kBayerGainGreen) = host.at(Slot::kBayerGainBlue) = 100;
        host.at(Slot::kGamma) = 100;
        host.at(Slot::kBayerMode) = 3;
        for (Slot s : {Slot::kGrayGainR, Slot::kGrayGainG1, Slot::kGrayGainG2, Slot::kGrayGainB}) host.at(s) = 128;
        host.at(Slot::kBrightness) = 20;
        host.block[10] = 77;  // unaddressed values come back on Cancel too
    }

    std::intptr_t run(const std::function<void(DialogAutomation&, Dialog& filter, Dialog* gray)>& user) {
        ScopedDialogAutomation hook([&](DialogAutomation& a) {
            Dialog* filter = a.page(ids::kPageEnglish);
            ASSERT_NE(filter, nullptr);
            user(a, *filter, a.page(gray_ids::kPageEnglish));
        });
        return run_image_dialog(host, nullptr);
    }

    test::ScopedLanguage language{"C"};
    FakeImageHost host;
};

TEST_F(ImageDialogTest, ColourModeHasOnlyTheImageFilterPageAllEnabled) {
    host.mode = 2;
    run([&](DialogAutomation& a, Dialog& filter, Dialog* gray) {
        EXPECT_EQ(gray, nullptr);
        EXPECT_EQ(a.dialog().item_count(ids::kTab), 1);
        EXPECT_EQ(a.dialog().item_text(ids::kTab, 0), "Image Filter");
        EXPECT_TRUE(filter.shown());
        for (int slider = ids::kBrightnessSlider; slider <= ids::kGammaSlider; slider += 10)
            EXPECT_TRUE(filter.is_enabled(slider)) << slider;
        EXPECT_TRUE(filter.is_enabled(ids::kOnce));
        EXPECT_TRUE(filter.is_checked(ids::kBayerMode0 + 3));
        EXPECT_FALSE(filter.is_checked(ids::kAllFrames));

        const platform::ControlState* hue = filter.control(ids::kHueSlider);
        EXPECT_EQ(hue->range_min, -360);
        EXPECT_EQ(hue->range_max, 360);
        EXPECT_EQ(hue->tick_frequency, 90);
        EXPECT_EQ(filter.control(ids::kBrightnessSlider)->position, 20);
        EXPECT_EQ(filter.control(ids::kSharpnessSlider)->range_max, 30);
        EXPECT_EQ(filter.control(ids::kGammaSlider)->range_max, 200);
        EXPECT_EQ(filter.control(ids::kGreenGainUpDown)->buddy, ids::kGreenGainEdit);
        a.press_ok();
    });
}

TEST_F(ImageDialogTest, MonochromeModeDisablesColourControlsAndAddsTheGrayPage) {
    host.mode = 0;
    run([&](DialogAutomation& a, Dialog& filter, Dialog* gray) {
        ASSERT_NE(gray, nullptr);
        EXPECT_EQ(a.dialog().item_text(ids::kTab, 1), "Gray Filter");
        for (int slider : {ids::kHueSlider, ids::kSaturationSlider, ids::kRedGainSlider,
                           ids::kGreenGainSlider, ids::kBlueGainSlider})
            EXPECT_FALSE(filter.is_enabled(slider)) << slider;
        for (int slider : {ids::kBrightnessSlider, ids::kContrastSlider, ids::kSharpnessSlider, ids::kGammaSlider})
            EXPECT_TRUE(filter.is_enabled(slider)) << slider;
        EXPECT_FALSE(a.click(filter, ids::kOnce));
        EXPECT_FALSE(a.click(filter, ids::kBayerMode0));
        EXPECT_FALSE(filter.is_enabled(ids::kAllFrames));

        // The gray page is hidden until its tab is chosen.
        EXPECT_FALSE(gray->shown());
        EXPECT_FALSE(a.move_trackbar(*gray, gray_ids::kFirstSlider, 10));
        ASSERT_TRUE(a.choose_tab(a.dialog(), ids::kTab, 1));
        EXPECT_TRUE(gray->shown());
        EXPECT_FALSE(filter.shown());
        EXPECT_EQ(gray->x(), 30);
        EXPECT_EQ(gray->y(), 25);
        ASSERT_TRUE(a.choose_tab(a.dialog(), ids::kTab, 0));
        EXPECT_TRUE(filter.shown());
        EXPECT_FALSE(gray->shown());
        a.press_ok();
    });
}

TEST_F(ImageDialogTest, OtherColourModesDisableEverything) {
    host.mode = 7;
    run([&](DialogAutomation& a, Dialog& filter, Dialog* gray) {
        EXPECT_EQ(gray, nullptr);
        EXPECT_FALSE(filter.is_enabled(ids::kBrightnessSlider));
        EXPECT_FALSE(filter.is_enabled(ids::kGammaEdit));
        a.press_ok();
    });
}

TEST_F(ImageDialogTest, ChangesAreLiveAndCancelRestoresTheWholeBlock) {
    const dialogs::AdjustmentBlock before = host.block;
    const std::intptr_t result = run([&](DialogAutomation& a, Dialog& filter, Dialog*) {
        ASSERT_TRUE(a.move_trackbar(filter, ids::kBrightnessSlider, -100));
        EXPECT_EQ(host.at(Slot::kBrightness), -100);
        EXPECT_EQ(filter.text(ids::kBrightnessEdit), "-100");
        ASSERT_TRUE(a.type(filter, ids::kContrastEdit, "50"));
        EXPECT_EQ(host.at(Slot::kContrast), 50);
        EXPECT_EQ(filter.position(ids::kContrastSlider), 50);
        ASSERT_TRUE(a.step_updown(filter, ids::kHueUpDown, -3));
        EXPECT_EQ(host.at(Slot::kHue), -3);
        ASSERT_TRUE(a.click(filter, ids::kBayerMode0 + 1));
        EXPECT_EQ(host.at(Slot::kBayerMode), 1);
        EXPECT_FALSE(filter.is_checked(ids::kBayerMode0 + 3));
        host.at(Slot::kWhiteBalanceOnceA) = 5;  // as development might meanwhile
        a.press_cancel();
    });
    EXPECT_EQ(result, platform::kIdCancel);
    EXPECT_EQ(host.block, before);
}

TEST_F(ImageDialogTest, OkTakesTheEditsAndTheBayerButton) {
    const std::intptr_t result = run([&](DialogAutomation& a, Dialog& filter, Dialog*) {
        a.type(filter, ids::kGammaEdit, "150");
        a.type(filter, ids::kRedGainEdit, "900");  // beyond the range: kept at its end
        a.click(filter, ids::kBayerMode0 + 2);
        // A value changed behind the dialog's back is overwritten by its edit.
        host.at(Slot::kSharpness) = 9;
        a.press_ok();
    });
    EXPECT_EQ(result, platform::kIdOk);
    EXPECT_EQ(host.at(Slot::kGamma), 150);
    EXPECT_EQ(host.at(Slot::kBayerGainRed), 400);
    EXPECT_EQ(host.at(Slot::kBayerMode), 2);
    EXPECT_EQ(host.at(Slot::kSharpness), 0);
    EXPECT_EQ(host.block[10], 77);
}

TEST_F(ImageDialogTest, WhiteBalanceOnceAndAllFrames) {
    run([&](DialogAutomation& a, Dialog& filter, Dialog*) {
        ASSERT_TRUE(a.click(filter, ids::kAllFrames));
        EXPECT_EQ(host.at(Slot::kBayerGainAuto), 1);
        host.at(Slot::kWhiteBalanceOnceA) = 1;
        ASSERT_TRUE(a.click(filter, ids::kAllFrames));
        EXPECT_EQ(host.at(Slot::kBayerGainAuto), 0);
        EXPECT_EQ(host.at(Slot::kWhiteBalanceOnceA), 0);

        a.click(filter, ids::kAllFrames);
        ASSERT_TRUE(a.click(filter, ids::kOnce));
        EXPECT_EQ(host.at(Slot::kBayerGainAuto), 1);
        EXPECT_EQ(host.at(Slot::kWhiteBalanceOnceA), 1);
        EXPECT_EQ(host.at(Slot::kWhiteBalanceOnceB), 1);
        EXPECT_FALSE(filter.is_checked(ids::kAllFrames));
        a.press_ok();
    });
}

TEST_F(ImageDialogTest, RefreshFromDevelopmentShowsMeasuredValues) {
    host.mode = 0;
    run([&](DialogAutomation& a, Dialog& filter, Dialog* gray) {
        ImageFilterDialog* open = host.open_dialog;
        ASSERT_NE(open, nullptr);
        std::thread development([&] {
            // Development writes the block, then asks for a refresh.
            host.at(Slot::kBayerGainRed) = 160;
            host.at(Slot::kGrayGainG2) = 200;
            EXPECT_TRUE(open->refresh());
        });
        development.join();
        EXPECT_EQ(a.process_messages(1000), 1);
        EXPECT_EQ(filter.position(ids::kRedGainSlider), 160);
        EXPECT_EQ(filter.text(ids::kRedGainEdit), "160");
        EXPECT_EQ(gray->position(kGrayGainG2Slider), 200);
        a.press_ok();
    });
    EXPECT_EQ(host.open_dialog, nullptr);
}

TEST_F(ImageDialogTest, DefaultResetsBothPagesButNotTheModes) {
    host.mode = 1;
    host.at(Slot::kGrayMode) = 1;
    host.at(Slot::kBayerGainAuto) = 1;
    host.at(Slot::kGrayOffsetB) = 40;
    run([&](DialogAutomation& a, Dialog& filter, Dialog* gray) {
        ASSERT_NE(gray, nullptr);
        a.move_trackbar(filter, ids::kContrastSlider, 30);
        a.click(filter, ids::kBayerMode0);
        ASSERT_TRUE(a.click(ids::kDefault));
        EXPECT_EQ(host.at(Slot::kContrast), 0);
        EXPECT_EQ(host.at(Slot::kGamma), 100);
        EXPECT_EQ(host.at(Slot::kBayerMode), 3);
        EXPECT_TRUE(filter.is_checked(ids::kBayerMode0 + 3));
        EXPECT_EQ(host.at(Slot::kGrayMode), 1);
        EXPECT_EQ(host.at(Slot::kBayerGainAuto), 1);
        std::vector<int> gray_positions;
        for (int i = 0; i < 8; ++i) gray_positions.push_back(gray->position(gray_ids::kFirstSlider + 3 * i));
        EXPECT_EQ(gray_positions, (std::vector<int>{128, 128, 128, 128, 0, 0, 0, 0}));
        EXPECT_TRUE(gray->is_checked(gray_ids::kFilterModeBayer + 1));
        a.press_ok();
    });
    EXPECT_EQ(host.at(Slot::kGrayOffsetB), 0);
}

TEST_F(ImageDialogTest, GrayPageEditsTheMonochromeCorrection) {
    host.mode = 0;
    host.at(Slot::kGrayMode) = 2;
    const std::intptr_t result = run([&](DialogAutomation& a, Dialog&, Dialog* gray) {
        ASSERT_NE(gray, nullptr);
        EXPECT_TRUE(gray->is_checked(gray_ids::kFilterModeBayer + 2));  // "Grayscale"
        EXPECT_EQ(gray->text(gray_ids::kFilterModeBayer + 2), "Grayscale");
        const platform::ControlState* slider = gray->control(gray_ids::kFirstSlider);
        EXPECT_EQ(slider->range_max, 400);
        EXPECT_EQ(slider->tick_frequency, 32);
        a.choose_tab(a.dialog(), ids::kTab, 1);

        ASSERT_TRUE(a.move_trackbar(*gray, kGrayGainG2Slider, 300));
        EXPECT_EQ(host.at(Slot::kGrayGainG2), 300);
        ASSERT_TRUE(a.type(*gray, kGrayOffsetBEdit, "12"));
        EXPECT_EQ(host.at(Slot::kGrayOffsetB), 12);
        ASSERT_TRUE(a.click(*gray, gray_ids::kFilterModeBayer + 1));
        EXPECT_EQ(host.at(Slot::kGrayMode), 1);
        EXPECT_FALSE(gray->is_checked(gray_ids::kFilterModeBayer + 2));
        ASSERT_TRUE(a.click(*gray, ids::kBayerMode0));
        EXPECT_EQ(host.at(Slot::kBayerMode), 0);

        ASSERT_TRUE(a.click(*gray, ids::kOnce));
        EXPECT_EQ(host.at(Slot::kGrayAutoCount), 1);
        host.at(Slot::kGrayAutoCount) = 0;  // development measured once
        a.click(*gray, ids::kAllFrames);
        EXPECT_EQ(host.at(Slot::kGrayAutoCount), -1);
        a.click(*gray, ids::kAllFrames);
        EXPECT_EQ(host.at(Slot::kGrayAutoCount), 0);
        a.press_ok();
    });
    EXPECT_EQ(result, platform::kIdOk);
    EXPECT_EQ(host.at(Slot::kGrayGainG2), 300);
    EXPECT_EQ(host.at(Slot::kGrayMode), 1);
    // The gray page's Bayer choice survives OK (the colour page's buttons are disabled).
    EXPECT_EQ(host.at(Slot::kBayerMode), 0);
}

TEST(ImageDialogLanguage, JapaneseTemplatesKeepTheEnglishPageTexts) {
    test::ScopedLanguage language("ja_JP.UTF-8");
    FakeImageHost host;
    host.mode = 1;
    ScopedDialogAutomation hook([&](DialogAutomation& a) {
        EXPECT_EQ(a.dialog().template_id(), ids::kFrameJapanese);
        EXPECT_EQ(a.dialog().title(), "プロパティ");
        EXPECT_EQ(a.dialog().text(platform::kIdCancel), "キャンセル");
        EXPECT_EQ(a.dialog().item_text(ids::kTab, 1), "Gray Filter");
        Dialog* filter = a.page(ids::kPageJapanese);
        Dialog* gray = a.page(gray_ids::kPageJapanese);
        ASSERT_NE(filter, nullptr);
        ASSERT_NE(gray, nullptr);
        EXPECT_EQ(filter->text(ids::kOnce), "Once");
        EXPECT_EQ(gray->text(ids::kAllFrames), "All frames");
        EXPECT_EQ(gray->text(gray_ids::kFilterModeBayer + 1), "Bayer convert");
        a.press_cancel();
    });
    EXPECT_EQ(run_image_dialog(host, nullptr), platform::kIdCancel);
}

}  // namespace
}  // namespace zbx::dialogs
