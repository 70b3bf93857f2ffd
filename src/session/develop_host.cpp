#include "session/develop_host.h"

#include "device/zorbex_530_sdk.h"
#include "dialogs/analog_dialog.h"
#include "dialogs/image_filter_dialog.h"
#include "session/zorbex.h"

namespace zbx::session {

using device::CZorbex530SRXNQTSdk;

std::int32_t SessionDevelopHost::sensor_gain() {
    CZorbex530SRXNQTSdk* sensor = session_.sensor_model();
    return sensor != nullptr ? sensor->global_gain() : 0;
}

void SessionDevelopHost::set_sensor_gain(std::int32_t gain) {
    if (CZorbex530SRXNQTSdk* sensor = session_.sensor_model()) (void)sensor->set_global_gain(gain);
}

std::int32_t SessionDevelopHost::min_gain() { return 0; }

std::int32_t SessionDevelopHost::max_gain() { return CZorbex530SRXNQTSdk::max_gain_index(); }

std::int32_t SessionDevelopHost::sensor_exposure() {
    CZorbex530SRXNQTSdk* sensor = session_.sensor_model();
    return sensor != nullptr ? sensor->exposure() : 0;
}

void SessionDevelopHost::set_sensor_exposure(std::int32_t lines) {
    if (CZorbex530SRXNQTSdk* sensor = session_.sensor_model())
        (void)sensor->set_exposure(static_cast<std::uint16_t>(lines));
}

std::int32_t SessionDevelopHost::min_exposure() { return CZorbex530SRXNQTSdk::min_exposure(); }

std::int32_t SessionDevelopHost::max_exposure() { return CZorbex530SRXNQTSdk::max_exposure(); }

void SessionDevelopHost::store_gain(std::int32_t gain) {
    AnalogValues& analog = session_.analog();
    analog.global_gain = gain;
    analog.color_gain_red = gain;
    analog.color_gain_green1 = gain;
    analog.color_gain_green2 = gain;
    analog.color_gain_blue = gain;
}

void SessionDevelopHost::store_exposure(std::int32_t lines) { session_.analog().exposure_lines = lines; }

void SessionDevelopHost::refresh_image_dialog() {
    if (dialogs::ImageFilterDialog* dialog = session_.open_image_filter_dialog().load()) (void)dialog->refresh();
}

void SessionDevelopHost::show_analog_value(std::int32_t control_id, std::int32_t value) {
    dialogs::AnalogDialog* dialog = session_.open_analog_dialog().load();
    if (dialog == nullptr) return;
    if (control_id == pipeline::kGainEditControl) {
        (void)dialog->show_global_gain(value);
    } else if (control_id == pipeline::kExposureEditControl) {
        (void)dialog->show_exposure(value);
    }
}

pipeline::DefectListView SessionDevelopHost::lock_defect_list() {
    session_.defect_lock().lock();
    const std::vector<DefectPixel>& list = session_.defects();
    defects_.clear();
    for (const DefectPixel& p : list) defects_.push_back(pipeline::DefectPosition{p.x, p.y});
    return pipeline::DefectListView{defects_.data(), defects_.size()};
}

void SessionDevelopHost::unlock_defect_list() { session_.defect_lock().unlock(); }

}  // namespace zbx::session
