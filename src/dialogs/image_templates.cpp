#include "dialogs/image_templates.h"

#include <array>
#include <string>

#include "dialogs/template_builder.h"

namespace zbx::dialogs {

using platform::ControlKind;

namespace {

constexpr int kBayerGroup = 1;
constexpr int kFilterModeGroup = 2;

// The label, the "Once" button and "All frames" box of an automatic
// balance, and the four Bayer Mode buttons below.
void add_balance_and_bayer(platform::DialogTemplate& t, const char* balance_label, int x, int y) {
    t.controls.push_back(group_box(balance_label, x, y, 70, 40));
    t.controls.push_back(control(image_ids::kOnce, ControlKind::kPushButton, "Once", x + 6, y + 11, 40, 12));
    t.controls.push_back(
        control(image_ids::kAllFrames, ControlKind::kCheckBox, "All frames", x + 6, y + 26, 56, 10));
    t.controls.push_back(group_box("Bayer Mode", x, y + 44, 70, 40));
    for (int i = 0; i < 4; ++i) {
        t.controls.push_back(control(image_ids::kBayerMode0 + i, ControlKind::kRadioButton,
                                     std::to_string(i), x + 6 + (i % 2) * 30, y + 55 + (i / 2) * 13,
                                     26, 10, 0, kBayerGroup));
    }
}

}  // namespace

platform::DialogTemplate image_frame_template(bool japanese) {
    platform::DialogTemplate t =
        japanese ? dialog_template(image_ids::kFrameJapanese, "プロパティ", 294, 194, false)
                 : dialog_template(image_ids::kFrameEnglish, "Property", 294, 194, false);
    add_frame_controls(t, image_ids::kTab, japanese ? "キャンセル" : "Cancel",
                       japanese ? "規定値(&D)" : "Default(&D)");
    return t;
}

platform::DialogTemplate image_filter_page_template(bool japanese) {
    using namespace image_ids;
    platform::DialogTemplate t =
        dialog_template(japanese ? kPageJapanese : kPageEnglish, "", 251, 142, true);
    struct Row {
        const char* text;
        int slider, edit, updown;
    };
    const std::array<Row, 9> rows{{
        {"&Brightness", kBrightnessSlider, kBrightnessEdit, kBrightnessUpDown},
        {"&Contrast", kContrastSlider, kContrastEdit, kContrastUpDown},
        {"&Hue", kHueSlider, kHueEdit, kHueUpDown},
        {"&Saturation", kSaturationSlider, kSaturationEdit, kSaturationUpDown},
        {"Shar&pness", kSharpnessSlider, kSharpnessEdit, kSharpnessUpDown},
        {"&R Gain", kRedGainSlider, kRedGainEdit, kRedGainUpDown},
        {"&G Gain", kGreenGainSlider, kGreenGainEdit, kGreenGainUpDown},
        {"&B Gain", kBlueGainSlider, kBlueGainEdit, kBlueGainUpDown},
        {"&Gamma", kGammaSlider, kGammaEdit, kGammaUpDown},
    }};
    int y = 3;
    for (const Row& r : rows) {
        add_slider_row(t, r.text, r.slider, r.edit, r.updown, 3, y, 40, 80);
        y += 15;
    }
    add_balance_and_bayer(t, "Auto white balance", 176, 3);
    return t;
}

platform::DialogTemplate gray_page_template(bool japanese) {
    using namespace gray_ids;
    // Both languages carry the English texts.
    platform::DialogTemplate t =
        dialog_template(japanese ? kPageJapanese : kPageEnglish, "", 251, 142, true);
    const std::array<const char*, 4> cells{"Red", "Green1", "Green2", "Blue"};
    t.controls.push_back(group_box("Gain", 2, 1, 172, 66));
    t.controls.push_back(group_box("Offset", 2, 69, 172, 66));
    for (int i = 0; i < 8; ++i) {
        const int slider = kFirstSlider + 3 * i;
        const int y = (i < 4 ? 10 : 78) + (i % 4) * 14;
        add_slider_row(t, cells[static_cast<std::size_t>(i % 4)], slider, slider + 1, slider + 2, 6,
                       y, 30, 82);
    }
    t.controls.push_back(group_box("Filter mode", 178, 1, 70, 42));
    const std::array<const char*, 3> modes{"Bayer", "Bayer convert", "Grayscale"};
    for (int i = 0; i < 3; ++i) {
        t.controls.push_back(control(kFilterModeBayer + i, ControlKind::kRadioButton,
                                     modes[static_cast<std::size_t>(i)], 184, 10 + i * 11, 60, 10,
                                     0, kFilterModeGroup));
    }
    add_balance_and_bayer(t, "Auto Gain", 178, 46);
    return t;
}

}  // namespace zbx::dialogs
