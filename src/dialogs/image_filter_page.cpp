#include "dialogs/image_filter_page.h"

#include <utility>

#include "dialogs/image_templates.h"

namespace zbx::dialogs {

using platform::CommandCode;
using platform::Dialog;
namespace ids = image_ids;

namespace {
constexpr int kBayerModeCount = 4;
}

const std::array<SliderGroup, ImageFilterPage::kGroupCount> ImageFilterPage::kGroups{{
    {ids::kBrightnessSlider, ids::kBrightnessEdit, ids::kBrightnessUpDown, -255, 255, 64},
    {ids::kContrastSlider, ids::kContrastEdit, ids::kContrastUpDown, -127, 127, 32},
    {ids::kHueSlider, ids::kHueEdit, ids::kHueUpDown, -360, 360, 90},
    {ids::kSaturationSlider, ids::kSaturationEdit, ids::kSaturationUpDown, -255, 255, 64},
    {ids::kSharpnessSlider, ids::kSharpnessEdit, ids::kSharpnessUpDown, 0, 30, 4},
    {ids::kRedGainSlider, ids::kRedGainEdit, ids::kRedGainUpDown, 0, 400, 32},
    {ids::kGreenGainSlider, ids::kGreenGainEdit, ids::kGreenGainUpDown, 0, 400, 32},
    {ids::kBlueGainSlider, ids::kBlueGainEdit, ids::kBlueGainUpDown, 0, 400, 32},
    {ids::kGammaSlider, ids::kGammaEdit, ids::kGammaUpDown, 0, 200, 32},
}};

const std::array<AdjustmentSlot, ImageFilterPage::kGroupCount> ImageFilterPage::kSlots{
    AdjustmentSlot::kBrightness,    AdjustmentSlot::kContrast,     AdjustmentSlot::kHue,
    AdjustmentSlot::kSaturation,    AdjustmentSlot::kSharpness,    AdjustmentSlot::kBayerGainRed,
    AdjustmentSlot::kBayerGainGreen, AdjustmentSlot::kBayerGainBlue, AdjustmentSlot::kGamma,
};

ImageFilterFlags image_filter_flags(std::int32_t color_mode) {
    if (color_mode == 0 || color_mode == 1) return {true, false, true};
    if (color_mode >= 2 && color_mode <= 5) return {true, true, false};
    return {};
}

ImageFilterPage::ImageFilterPage(ImageHost& host, ImageFilterFlags flags)
    : host_(host), flags_(flags) {}

bool ImageFilterPage::group_enabled(std::size_t index) const {
    const AdjustmentSlot slot = kSlots[index];
    const bool tone = slot == AdjustmentSlot::kBrightness || slot == AdjustmentSlot::kContrast ||
                      slot == AdjustmentSlot::kSharpness || slot == AdjustmentSlot::kGamma;
    return tone ? flags_.tone : flags_.color;
}

void ImageFilterPage::on_init(Dialog& dialog) {
    dialog_ = &dialog;
    for (std::size_t i = 0; i < kGroupCount; ++i)
        setup_slider_group(dialog, kGroups[i], host_.adjustment_value(kSlots[i]), group_enabled(i));
    dialog.enable(ids::kOnce, flags_.color);
    dialog.enable(ids::kAllFrames, flags_.color);
    for (int i = 0; i < kBayerModeCount; ++i) dialog.enable(ids::kBayerMode0 + i, flags_.color);
    check_one_of(dialog, ids::kBayerMode0, kBayerModeCount,
                 host_.adjustment_value(AdjustmentSlot::kBayerMode));
    dialog.set_check(ids::kAllFrames, false);
    acting_ = true;
}

void ImageFilterPage::on_command(Dialog& dialog, int id, CommandCode code) {
    if (code == CommandCode::kEditChange) {
        if (!acting_) return;
        for (std::size_t i = 0; i < kGroupCount; ++i) {
            if (kGroups[i].edit != id) continue;
            if (const auto value = read_slider_edit(dialog, kGroups[i])) {
                host_.set_adjustment_value(kSlots[i], *value);
                dialog.set_position(kGroups[i].slider, *value);
            }
            return;
        }
        return;
    }
    if (code != CommandCode::kClicked) return;
    if (id >= ids::kBayerMode0 && id < ids::kBayerMode0 + kBayerModeCount) {
        host_.set_adjustment_value(AdjustmentSlot::kBayerMode, id - ids::kBayerMode0);
    } else if (id == ids::kAllFrames) {
        host_.set_adjustment_value(AdjustmentSlot::kBayerGainAuto, dialog.is_checked(id) ? 1 : 0);
        host_.set_adjustment_value(AdjustmentSlot::kWhiteBalanceOnceA, 0);
        host_.set_adjustment_value(AdjustmentSlot::kWhiteBalanceOnceB, 0);
    } else if (id == ids::kOnce) {
        host_.set_adjustment_value(AdjustmentSlot::kBayerGainAuto, 1);
        host_.set_adjustment_value(AdjustmentSlot::kWhiteBalanceOnceA, 1);
        host_.set_adjustment_value(AdjustmentSlot::kWhiteBalanceOnceB, 1);
        dialog.set_check(ids::kAllFrames, false);
    }
}

void ImageFilterPage::on_scroll(Dialog& dialog, int id, int position) {
    for (std::size_t i = 0; i < kGroupCount; ++i) {
        if (kGroups[i].slider != id) continue;
        host_.set_adjustment_value(kSlots[i], position);
        dialog.set_int(kGroups[i].edit, position, true);
        return;
    }
}

void ImageFilterPage::take_values() {
    if (dialog_ == nullptr) return;
    for (std::size_t i = 0; i < kGroupCount; ++i) {
        if (const auto value = read_slider_edit(*dialog_, kGroups[i]))
            host_.set_adjustment_value(kSlots[i], *value);
    }
    // Disabled Bayer buttons (monochrome modes) hold a stale choice: the
    // gray page owns the Bayer mode then.
    if (!flags_.color) return;
    const int mode = checked_one_of(*dialog_, ids::kBayerMode0, kBayerModeCount);
    if (mode >= 0) host_.set_adjustment_value(AdjustmentSlot::kBayerMode, mode);
}

void ImageFilterPage::show_values() {
    if (dialog_ == nullptr) return;
    // The values come from the block: the edits' changes need not write
    // them back (and must not overwrite what development writes meanwhile).
    const bool was_acting = std::exchange(acting_, false);
    for (std::size_t i = 0; i < kGroupCount; ++i)
        show_slider_value(*dialog_, kGroups[i], host_.adjustment_value(kSlots[i]));
    check_one_of(*dialog_, ids::kBayerMode0, kBayerModeCount,
                 host_.adjustment_value(AdjustmentSlot::kBayerMode));
    acting_ = was_acting;
}

void ImageFilterPage::apply_defaults() {
    for (AdjustmentSlot slot : {AdjustmentSlot::kBrightness, AdjustmentSlot::kContrast,
                                AdjustmentSlot::kHue, AdjustmentSlot::kSaturation,
                                AdjustmentSlot::kSharpness})
        host_.set_adjustment_value(slot, 0);
    for (AdjustmentSlot slot : {AdjustmentSlot::kBayerGainRed, AdjustmentSlot::kBayerGainGreen,
                                AdjustmentSlot::kBayerGainBlue, AdjustmentSlot::kGamma})
        host_.set_adjustment_value(slot, 100);
    host_.set_adjustment_value(AdjustmentSlot::kBayerMode, 3);
    show_values();
}

}  // namespace zbx::dialogs
