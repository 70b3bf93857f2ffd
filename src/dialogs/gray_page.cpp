#include "dialogs/gray_page.h"

#include <utility>

#include "dialogs/image_templates.h"

namespace zbx::dialogs {

using platform::CommandCode;
using platform::Dialog;

namespace {
constexpr int kBayerModeCount = 4;
constexpr int kFilterModeCount = 3;
constexpr int kGainRangeMax = 400;
constexpr int kTick = 32;
constexpr std::int32_t kNeutralGain = 128;
}  // namespace

const std::array<AdjustmentSlot, GrayPage::kGroupCount> GrayPage::kSlots{
    AdjustmentSlot::kGrayGainR,   AdjustmentSlot::kGrayGainG1,   AdjustmentSlot::kGrayGainG2,
    AdjustmentSlot::kGrayGainB,   AdjustmentSlot::kGrayOffsetR,  AdjustmentSlot::kGrayOffsetG1,
    AdjustmentSlot::kGrayOffsetG2, AdjustmentSlot::kGrayOffsetB,
};

SliderGroup GrayPage::group(std::size_t index) {
    const int slider = gray_ids::kFirstSlider + 3 * static_cast<int>(index);
    return {slider, slider + 1, slider + 2, 0, kGainRangeMax, kTick};
}

void GrayPage::on_init(Dialog& dialog) {
    dialog_ = &dialog;
    for (std::size_t i = 0; i < kGroupCount; ++i)
        setup_slider_group(dialog, group(i), host_.adjustment_value(kSlots[i]), true);
    check_one_of(dialog, gray_ids::kFilterModeBayer, kFilterModeCount,
                 host_.adjustment_value(AdjustmentSlot::kGrayMode));
    check_one_of(dialog, image_ids::kBayerMode0, kBayerModeCount,
                 host_.adjustment_value(AdjustmentSlot::kBayerMode));
    dialog.set_check(image_ids::kAllFrames, false);
    acting_ = true;
}

void GrayPage::on_command(Dialog& dialog, int id, CommandCode code) {
    if (code == CommandCode::kEditChange) {
        if (!acting_) return;
        for (std::size_t i = 0; i < kGroupCount; ++i) {
            const SliderGroup g = group(i);
            if (g.edit != id) continue;
            if (const auto value = read_slider_edit(dialog, g)) {
                host_.set_adjustment_value(kSlots[i], *value);
                dialog.set_position(g.slider, *value);
            }
            return;
        }
        return;
    }
    if (code != CommandCode::kClicked) return;
    if (id >= gray_ids::kFilterModeBayer && id < gray_ids::kFilterModeBayer + kFilterModeCount) {
        host_.set_adjustment_value(AdjustmentSlot::kGrayMode, id - gray_ids::kFilterModeBayer);
    } else if (id >= image_ids::kBayerMode0 && id < image_ids::kBayerMode0 + kBayerModeCount) {
        host_.set_adjustment_value(AdjustmentSlot::kBayerMode, id - image_ids::kBayerMode0);
    } else if (id == image_ids::kOnce) {
        host_.set_adjustment_value(AdjustmentSlot::kGrayAutoCount, 1);
    } else if (id == image_ids::kAllFrames) {
        // -1 keeps the balance measuring frame after frame; the next click stops it.
        const std::int32_t count = host_.adjustment_value(AdjustmentSlot::kGrayAutoCount);
        host_.set_adjustment_value(AdjustmentSlot::kGrayAutoCount, count == 0 ? -1 : 0);
    }
}

void GrayPage::on_scroll(Dialog& dialog, int id, int position) {
    for (std::size_t i = 0; i < kGroupCount; ++i) {
        const SliderGroup g = group(i);
        if (g.slider != id) continue;
        host_.set_adjustment_value(kSlots[i], position);
        dialog.set_int(g.edit, position, true);
        return;
    }
}

void GrayPage::take_values() {
    if (dialog_ == nullptr) return;
    for (std::size_t i = 0; i < kGroupCount; ++i) {
        if (const auto value = read_slider_edit(*dialog_, group(i)))
            host_.set_adjustment_value(kSlots[i], *value);
    }
    const int mode = checked_one_of(*dialog_, image_ids::kBayerMode0, kBayerModeCount);
    if (mode >= 0) host_.set_adjustment_value(AdjustmentSlot::kBayerMode, mode);
}

void GrayPage::show_values() {
    if (dialog_ == nullptr) return;
    // As on the image filter page: shown values need not be written back.
    const bool was_acting = std::exchange(acting_, false);
    for (std::size_t i = 0; i < kGroupCount; ++i)
        show_slider_value(*dialog_, group(i), host_.adjustment_value(kSlots[i]));
    acting_ = was_acting;
}

void GrayPage::apply_defaults() {
    for (std::size_t i = 0; i < kGroupCount; ++i)
        host_.set_adjustment_value(kSlots[i], i < 4 ? kNeutralGain : 0);
    show_values();
}

}  // namespace zbx::dialogs
