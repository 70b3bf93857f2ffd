#include "dialogs/analog_dialog.h"

#include <array>
#include <cstdio>

#include "dialogs/analog_templates.h"
#include "platform/text.h"

namespace zbx::dialogs {

using platform::CommandCode;
using platform::Dialog;
namespace ids = analog_ids;

namespace {

constexpr std::uint32_t kShowGainMessage = platform::kDialogUserMessage + 1;
constexpr std::uint32_t kShowExposureMessage = platform::kDialogUserMessage + 2;
// Where the page sits inside the tab control, in pixels.
constexpr int kPageX = 30;
constexpr int kPageY = 25;

constexpr std::size_t kGainGroup = 0;
constexpr std::size_t kExposureGroup = 5;

int tick_spacing(int minimum, int maximum) { return (maximum - minimum) / 8; }

bool japanese_system() { return platform::system_default_language() == platform::kLanguageJapanese; }

}  // namespace

AnalogDialog::AnalogDialog(AnalogHost& host)
    : host_(host),
      limits_(host.sensor_limits()),
      japanese_(japanese_system()),
      groups_{{
          {ids::kGainSlider, ids::kGainEdit, ids::kGainUpDown, limits_.min_gain, limits_.max_gain,
           tick_spacing(limits_.min_gain, limits_.max_gain)},
          // The colour gains are shown but the camera has none to set.
          {ids::kGreen1Slider, ids::kGreen1Edit, ids::kGreen1UpDown, 0, 0, 0},
          {ids::kRedSlider, ids::kRedEdit, ids::kRedUpDown, 0, 0, 0},
          {ids::kBlueSlider, ids::kBlueEdit, ids::kBlueUpDown, 0, 0, 0},
          {ids::kGreen2Slider, ids::kGreen2Edit, ids::kGreen2UpDown, 0, 0, 0},
          {ids::kExposureSlider, ids::kExposureEdit, ids::kExposureUpDown, limits_.min_exposure,
           limits_.max_exposure, tick_spacing(limits_.min_exposure, limits_.max_exposure)},
      }},
      frame_(*this),
      page_(*this) {}

std::intptr_t AnalogDialog::run(ZbxWindow owner) {
    const std::intptr_t result =
        platform::run_modal_dialog(analog_frame_template(japanese_), owner, frame_);
    page_handle_ = 0;
    page_dialog_ = nullptr;
    return result;
}

bool AnalogDialog::post_to_page(std::uint32_t message, std::int32_t value) {
    const platform::DialogHandle page = page_handle_.load();
    return page != 0 && platform::post_dialog_message(page, message, 0, value);
}

bool AnalogDialog::show_global_gain(std::int32_t gain) { return post_to_page(kShowGainMessage, gain); }

bool AnalogDialog::show_exposure(std::int32_t lines) { return post_to_page(kShowExposureMessage, lines); }

void AnalogDialog::show_exposure_time(Dialog& page) {
    const double ms = host_.exposure_time_ms(host_.analog_value(AnalogSlot::kExposure));
    std::array<char, 64> text{};
    std::snprintf(text.data(), text.size(), "=%.2fms", ms);
    page.set_text(ids::kExposureTime, text.data());
}

void AnalogDialog::show_all(Dialog& page) {
    for (std::size_t i = 0; i < kGroupCount; ++i)
        show_slider_value(page, groups_[i], host_.analog_value(kGroupSlots[i]));
}

// ---- Frame ----------------------------------------------------------------

void AnalogDialog::Frame::on_init(Dialog& dialog) {
    dialog.insert_item(ids::kTab, 0, kAnalogTabLabel);
    dialog.set_selection(ids::kTab, 0);
    Dialog* page =
        dialog.create_page(analog_page_template(owner_.japanese_), ids::kTab, owner_.page_);
    if (page == nullptr) return;
    page->place(kPageX, kPageY);
    page->show_dialog(true);
    owner_.page_dialog_ = page;
    owner_.page_handle_ = page->handle();
}

void AnalogDialog::Frame::on_notify(Dialog& dialog, int id, platform::NotifyCode code) {
    if (id == ids::kTab && code == platform::NotifyCode::kTabSelChange &&
        dialog.selection(ids::kTab) == 0 && owner_.page_dialog_ != nullptr)
        owner_.page_dialog_->show_dialog(true);
}

void AnalogDialog::Frame::on_command(Dialog& dialog, int id, CommandCode code) {
    if (code != CommandCode::kClicked) return;
    AnalogHost& host = owner_.host_;
    Dialog* page = owner_.page_dialog_;
    switch (id) {
    case platform::kIdOk:
        if (page != nullptr) {
            for (std::size_t i = 0; i < kGroupCount; ++i) {
                if (const auto value = read_slider_edit(*page, owner_.groups_[i]))
                    host.set_analog_value(kGroupSlots[i], *value);
            }
        }
        dialog.end(platform::kIdOk);
        break;
    case platform::kIdCancel:
        dialog.end(platform::kIdCancel);
        break;
    case ids::kDefault:
        host.set_analog_value(AnalogSlot::kGlobalGain, owner_.limits_.min_gain);
        for (AnalogSlot slot : {AnalogSlot::kColorGainGreen1, AnalogSlot::kColorGainRed,
                                AnalogSlot::kColorGainBlue, AnalogSlot::kColorGainGreen2})
            host.set_analog_value(slot, 0);
        host.set_analog_value(AnalogSlot::kExposure, owner_.limits_.default_exposure);
        host.program_global_gain(owner_.limits_.min_gain);
        host.program_exposure(owner_.limits_.default_exposure);
        if (page != nullptr) owner_.show_all(*page);
        break;
    default:
        break;
    }
}

// ---- Page -----------------------------------------------------------------

void AnalogDialog::Page::on_init(Dialog& dialog) {
    AnalogHost& host = owner_.host_;
    for (std::size_t i = 0; i < kGroupCount; ++i) {
        const bool enabled = i == kGainGroup || i == kExposureGroup;
        setup_slider_group(dialog, owner_.groups_[i], host.analog_value(kGroupSlots[i]), enabled);
    }
    dialog.set_check(ids::kMirrorV, host.analog_value(AnalogSlot::kMirrorV) != 0);
    dialog.set_check(ids::kMirrorH, host.analog_value(AnalogSlot::kMirrorH) != 0);
    const std::int32_t iris = host.analog_value(AnalogSlot::kAutoIris);
    dialog.set_check(ids::kAutoIrisExposure, iris == 1);
    dialog.set_check(ids::kAutoIrisGain, iris == 2);
    owner_.show_exposure_time(dialog);
    acting_ = true;
}

void AnalogDialog::Page::on_command(Dialog& dialog, int id, CommandCode code) {
    AnalogHost& host = owner_.host_;
    if (code == CommandCode::kEditChange) {
        if (acting_) edit_changed(dialog, id);
        return;
    }
    if (code != CommandCode::kClicked) return;
    const std::int32_t checked = dialog.is_checked(id) ? 1 : 0;
    switch (id) {
    case ids::kMirrorV:
        host.program_mirror_v(checked);
        host.set_analog_value(AnalogSlot::kMirrorV, checked);
        break;
    case ids::kMirrorH:
        host.program_mirror_h(checked);
        host.set_analog_value(AnalogSlot::kMirrorH, checked);
        break;
    case ids::kAutoIrisGain:
        if (checked != 0) dialog.set_check(ids::kAutoIrisExposure, false);
        host.set_analog_value(AnalogSlot::kAutoIris, checked != 0 ? 2 : 0);
        break;
    case ids::kAutoIrisExposure:
        if (checked != 0) dialog.set_check(ids::kAutoIrisGain, false);
        host.set_analog_value(AnalogSlot::kAutoIris, checked != 0 ? 1 : 0);
        break;
    default:
        break;
    }
}

void AnalogDialog::Page::edit_changed(Dialog& dialog, int id) {
    AnalogHost& host = owner_.host_;
    for (std::size_t i = 0; i < kGroupCount; ++i) {
        const SliderGroup& group = owner_.groups_[i];
        if (group.edit != id) continue;
        const auto value = read_slider_edit(dialog, group);
        if (!value) return;  // no number yet: nothing to apply
        host.set_analog_value(kGroupSlots[i], *value);
        dialog.set_position(group.slider, *value);
        if (i == kGainGroup) {
            host.program_global_gain(*value);
        } else if (i == kExposureGroup) {
            host.program_exposure(*value);
            owner_.show_exposure_time(dialog);
        }
        return;
    }
}

void AnalogDialog::Page::on_scroll(Dialog& dialog, int id, int position) {
    for (const SliderGroup& group : owner_.groups_) {
        if (group.slider == id) {
            dialog.set_int(group.edit, position, true);  // the edit change acts
            return;
        }
    }
}

void AnalogDialog::Page::on_message(Dialog& dialog, std::uint32_t message, std::uintptr_t,
                                    std::intptr_t lparam) {
    const auto value = static_cast<std::int32_t>(lparam);
    if (message == kShowGainMessage) {
        dialog.set_int(ids::kGainEdit, value, true);
    } else if (message == kShowExposureMessage) {
        dialog.set_int(ids::kExposureEdit, value, true);
    }
}

// ---- Session operation ----------------------------------------------------

std::intptr_t run_analog_dialog(AnalogHost& host, ZbxWindow owner) {
    // The block starts from what the camera runs with now.
    host.set_analog_value(AnalogSlot::kGlobalGain, host.sensor_gain_index() & 0xFF);
    for (AnalogSlot slot : {AnalogSlot::kColorGainGreen1, AnalogSlot::kColorGainRed,
                            AnalogSlot::kColorGainBlue, AnalogSlot::kColorGainGreen2})
        host.set_analog_value(slot, 0);
    host.set_analog_value(AnalogSlot::kExposure, host.sensor_exposure() & 0xFFFF);
    host.set_analog_value(AnalogSlot::kMirrorV, host.sensor_mirror_v());
    host.set_analog_value(AnalogSlot::kMirrorH, host.sensor_mirror_h());

    AnalogBlock saved{};
    for (std::size_t i = 0; i < kAnalogBlockSize; ++i)
        saved[i] = host.analog_value(static_cast<AnalogSlot>(i));

    std::intptr_t result;
    {
        AnalogDialog dialog(host);
        host.set_open_analog_dialog(&dialog);
        result = dialog.run(owner);
        host.set_open_analog_dialog(nullptr);
    }
    if (result != platform::kIdOk) {
        host.program_global_gain(saved[static_cast<std::size_t>(AnalogSlot::kGlobalGain)]);
        host.program_exposure(saved[static_cast<std::size_t>(AnalogSlot::kExposure)]);
        host.program_mirror_v(saved[static_cast<std::size_t>(AnalogSlot::kMirrorV)]);
        host.program_mirror_h(saved[static_cast<std::size_t>(AnalogSlot::kMirrorH)]);
        for (std::size_t i = 0; i < kAnalogBlockSize; ++i)
            host.set_analog_value(static_cast<AnalogSlot>(i), saved[i]);
    }
    return result;
}

}  // namespace zbx::dialogs
