#include "dialogs/analog_templates.h"

#include "dialogs/template_builder.h"

namespace zbx::dialogs {

using platform::ControlKind;

platform::DialogTemplate analog_frame_template(bool japanese) {
    platform::DialogTemplate t =
        japanese ? dialog_template(analog_ids::kFrameJapanese, "プロパティ", 294, 199, false)
                 : dialog_template(analog_ids::kFrameEnglish, "Property", 294, 178, false);
    add_frame_controls(t, analog_ids::kTab, japanese ? "キャンセル" : "Cancel",
                       japanese ? "規定値(&D)" : "Default(&D)");
    return t;
}

platform::DialogTemplate analog_page_template(bool japanese) {
    using namespace analog_ids;
    // Both pages carry the English labels; the Japanese one is larger.
    platform::DialogTemplate t =
        japanese ? dialog_template(kPageJapanese, "", 251, 146, true)
                 : dialog_template(kPageEnglish, "", 238, 126, true);
    const int row = japanese ? 17 : 14;
    const int label_width = japanese ? 62 : 58;
    const int slider_width = japanese ? 90 : 86;
    int y = 4;
    add_slider_row(t, "&Global Gain", kGainSlider, kGainEdit, kGainUpDown, 4, y, label_width, slider_width);
    add_slider_row(t, "&Color Gain G1", kGreen1Slider, kGreen1Edit, kGreen1UpDown, 4, y += row,
                   label_width, slider_width);
    add_slider_row(t, "&Color Gain R", kRedSlider, kRedEdit, kRedUpDown, 4, y += row, label_width,
                   slider_width);
    add_slider_row(t, "&Color Gain B", kBlueSlider, kBlueEdit, kBlueUpDown, 4, y += row, label_width,
                   slider_width);
    add_slider_row(t, "&Color Gain G2", kGreen2Slider, kGreen2Edit, kGreen2UpDown, 4, y += row,
                   label_width, slider_width);
    add_slider_row(t, "&Exposure", kExposureSlider, kExposureEdit, kExposureUpDown, 4, y += row,
                   label_width, slider_width);
    const int right = 4 + label_width + slider_width + 50;
    t.controls.push_back(control(kExposureTime, ControlKind::kLabel, "= msec", right, y + 3,
                                 t.width - right - 2, 8));
    y += row + 2;
    t.controls.push_back(control(kMirrorV, ControlKind::kCheckBox, "Mirror V", 4, y, 44, 10));
    t.controls.push_back(control(kMirrorH, ControlKind::kCheckBox, "Mirror H", 52, y, 44, 10));
    t.controls.push_back(label("Auto Iris", 104, y + 1, 34));
    t.controls.push_back(control(kAutoIrisGain, ControlKind::kCheckBox, "Gain", 140, y, 34, 10));
    t.controls.push_back(control(kAutoIrisExposure, ControlKind::kCheckBox, "Exposure", 178, y, 46, 10));
    return t;
}

}  // namespace zbx::dialogs
