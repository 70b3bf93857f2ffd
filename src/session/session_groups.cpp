#include "session/session_groups.h"

#include "device/zorbex_530_sdk.h"
#include "dialogs/analog_group.h"
#include "dialogs/filter_group.h"
#include "dialogs/gray_group.h"
#include "session/adjustment_values.h"
#include "session/zorbex.h"

namespace zbx::session {

namespace {

using Ix = AdjustmentIndex;

dialogs::FilterGroup filter_of(const AdjustmentValues& v) {
    dialogs::FilterGroup g;
    g.brightness = v.at(Ix::kBrightness);
    g.contrast = v.at(Ix::kContrast);
    g.hue = v.at(Ix::kHue);
    g.saturation = v.at(Ix::kSaturation);
    g.sharpness = v.at(Ix::kSharpness);
    g.red_gain = v.at(Ix::kBayerGainRed);
    g.green_gain = v.at(Ix::kBayerGainGreen);
    g.blue_gain = v.at(Ix::kBayerGainBlue);
    g.gamma = v.at(Ix::kGamma);
    g.bayer_mode = v.at(Ix::kBayerMode);
    return g;
}

void store_filter(const dialogs::FilterGroup& g, AdjustmentValues& v) {
    v.at(Ix::kBrightness) = g.brightness;
    v.at(Ix::kContrast) = g.contrast;
    v.at(Ix::kHue) = g.hue;
    v.at(Ix::kSaturation) = g.saturation;
    v.at(Ix::kSharpness) = g.sharpness;
    v.at(Ix::kBayerGainRed) = g.red_gain;
    v.at(Ix::kBayerGainGreen) = g.green_gain;
    v.at(Ix::kBayerGainBlue) = g.blue_gain;
    v.at(Ix::kGamma) = g.gamma;
    v.at(Ix::kBayerMode) = g.bayer_mode;
}

dialogs::GrayGroup gray_of(const AdjustmentValues& v) {
    dialogs::GrayGroup g;
    g.mode = v.at(Ix::kGrayMode);
    g.gain_r = v.at(Ix::kGrayGainR);
    g.gain_g1 = v.at(Ix::kGrayGainG1);
    g.gain_g2 = v.at(Ix::kGrayGainG2);
    g.gain_b = v.at(Ix::kGrayGainB);
    g.offset_r = v.at(Ix::kGrayOffsetR);
    g.offset_g1 = v.at(Ix::kGrayOffsetG1);
    g.offset_g2 = v.at(Ix::kGrayOffsetG2);
    g.offset_b = v.at(Ix::kGrayOffsetB);
    return g;
}

void store_gray(const dialogs::GrayGroup& g, AdjustmentValues& v) {
    v.at(Ix::kGrayMode) = g.mode;
    v.at(Ix::kGrayGainR) = g.gain_r;
    v.at(Ix::kGrayGainG1) = g.gain_g1;
    v.at(Ix::kGrayGainG2) = g.gain_g2;
    v.at(Ix::kGrayGainB) = g.gain_b;
    v.at(Ix::kGrayOffsetR) = g.offset_r;
    v.at(Ix::kGrayOffsetG1) = g.offset_g1;
    v.at(Ix::kGrayOffsetG2) = g.offset_g2;
    v.at(Ix::kGrayOffsetB) = g.offset_b;
}

dialogs::AnalogGroup analog_of(const AnalogValues& a) {
    dialogs::AnalogGroup g;
    g.global_gain = a.global_gain;
    g.color_green1 = a.color_gain_green1;
    g.color_red = a.color_gain_red;
    g.color_blue = a.color_gain_blue;
    g.color_green2 = a.color_gain_green2;
    g.exposure = a.exposure_lines;
    g.mirror_v = a.mirror_v;
    g.mirror_h = a.mirror_h;
    g.auto_iris = a.auto_iris;
    return g;
}

void store_analog(const dialogs::AnalogGroup& g, AnalogValues& a) {
    a.global_gain = g.global_gain;
    a.color_gain_green1 = g.color_green1;
    a.color_gain_red = g.color_red;
    a.color_gain_blue = g.color_blue;
    a.color_gain_green2 = g.color_green2;
    a.exposure_lines = g.exposure;
    a.mirror_v = g.mirror_v;
    a.mirror_h = g.mirror_h;
    a.auto_iris = g.auto_iris;
}

}  // namespace

void load_dialog_groups(CZorbex& session, int device_number) {
    AdjustmentValues& values = session.adjustment_values();
    dialogs::FilterGroup filter = filter_of(values);
    if (dialogs::read_filter_group(device_number, &filter) == 0) {
        // A camera without saved filter values also starts with automatic
        // white balance off and no balance pending.
        for (std::size_t i = Ix::kUnaddressed20; i <= Ix::kUnaddressed28; ++i) values.at(i) = 0;
    }
    store_filter(filter, values);

    dialogs::GrayGroup gray = gray_of(values);
    (void)dialogs::read_gray_group(device_number, &gray);
    store_gray(gray, values);

    const device::CZorbex530SRXNQTSdk* sensor = session.sensor_model();
    if (sensor == nullptr) return;
    dialogs::AnalogGroupDefaults defaults;
    defaults.min_gain = 0;
    defaults.exposure = device::CZorbex530SRXNQTSdk::default_exposure();
    defaults.mirror_v = sensor->vertical_mirror() ? 1 : 0;
    defaults.mirror_h = sensor->horizontal_mirror() ? 1 : 0;
    dialogs::AnalogGroup analog = analog_of(session.analog());
    (void)dialogs::read_analog_group(device_number, defaults, &analog);
    store_analog(analog, session.analog());
}

void save_dialog_groups(CZorbex& session, int device_number) {
    (void)dialogs::write_analog_group(device_number, analog_of(session.analog()));
    (void)dialogs::write_filter_group(device_number, filter_of(session.adjustment_values()));
    (void)dialogs::write_gray_group(device_number, gray_of(session.adjustment_values()));
}

void program_analog_values(CZorbex& session) {
    device::CZorbex530SRXNQTSdk* sensor = session.sensor_model();
    if (sensor == nullptr) return;
    const AnalogValues& a = session.analog();
    sensor->set_global_gain(a.global_gain);
    sensor->set_exposure(static_cast<std::uint16_t>(a.exposure_lines));
    sensor->set_vertical_mirror(a.mirror_v != 0);
    sensor->set_horizontal_mirror(a.mirror_h != 0);
}

}  // namespace zbx::session
