#include "session/dialog_hosts.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <unordered_map>

#include "device/zorbex_530_sdk.h"
#include "dialogs/analog_dialog.h"
#include "dialogs/image_filter_dialog.h"
#include "platform/dialog.h"
#include "session/acquisition.h"
#include "session/adjustment_values.h"
#include "session/persistence.h"
#include "session/zorbex.h"

namespace zbx::session {

namespace {

using dialogs::AdjustmentSlot;
using dialogs::AnalogSlot;
using Sensor = device::CZorbex530SRXNQTSdk;
using Ix = AdjustmentIndex;

// A running flag other than run or stop holds the trigger thread.
constexpr std::int32_t kPaused = 2;

// The dialogs address the adjustment block by the same positions as the
// session stores it.
static_assert(dialogs::kAdjustmentBlockSize == kAdjustmentValueCount);
static_assert(static_cast<std::size_t>(AdjustmentSlot::kBayerMode) == Ix::kBayerMode);
static_assert(static_cast<std::size_t>(AdjustmentSlot::kGrayMode) == Ix::kGrayMode);
static_assert(static_cast<std::size_t>(AdjustmentSlot::kGrayOffsetB) == Ix::kGrayOffsetB);
static_assert(static_cast<std::size_t>(AdjustmentSlot::kBayerGainAuto) == Ix::kBayerGainAuto);
static_assert(static_cast<std::size_t>(AdjustmentSlot::kWhiteBalanceOnceB) == Ix::kWhiteBalanceOnceB);
static_assert(static_cast<std::size_t>(AdjustmentSlot::kGrayAutoCount) == Ix::kGrayAutoBalanceCount);

// The session keeps its colour gains in another order than the dialog's
// block, so every slot is mapped by name.
std::atomic<std::int32_t>& analog_field(AnalogValues& a, AnalogSlot slot) {
    switch (slot) {
        case AnalogSlot::kGlobalGain: return a.global_gain;
        case AnalogSlot::kColorGainGreen1: return a.color_gain_green1;
        case AnalogSlot::kColorGainRed: return a.color_gain_red;
        case AnalogSlot::kColorGainBlue: return a.color_gain_blue;
        case AnalogSlot::kColorGainGreen2: return a.color_gain_green2;
        case AnalogSlot::kExposure: return a.exposure_lines;
        case AnalogSlot::kMirrorV: return a.mirror_v;
        case AnalogSlot::kMirrorH: return a.mirror_h;
        case AnalogSlot::kAutoIris: break;
    }
    return a.auto_iris;
}

// Dialog exports still running, by session, so that releasing a session
// can wait for them.
struct RunningDialogs {
    std::mutex mutex;
    std::condition_variable cond;
    std::unordered_map<const CZorbex*, int> count;
};

RunningDialogs& running_dialogs() {
    static RunningDialogs instance;
    return instance;
}

// The session whose dialog export runs on this thread, if any: a Release
// from inside that dialog must not wait for the export it is part of.
thread_local const CZorbex* t_dialog_session = nullptr;

// One dialog export while it runs: counted, and the owner of the dialogs
// it opens, so close_session_dialogs can find them.
class DialogExportScope {
public:
    explicit DialogExportScope(CZorbex& session)
        : session_(session), owner_(&session), outer_(t_dialog_session) {
        t_dialog_session = &session;
        RunningDialogs& r = running_dialogs();
        std::lock_guard lock(r.mutex);
        ++r.count[&session_];
    }
    ~DialogExportScope() {
        t_dialog_session = outer_;
        RunningDialogs& r = running_dialogs();
        {
            std::lock_guard lock(r.mutex);
            if (--r.count[&session_] == 0) r.count.erase(&session_);
        }
        r.cond.notify_all();
    }
    DialogExportScope(const DialogExportScope&) = delete;
    DialogExportScope& operator=(const DialogExportScope&) = delete;

private:
    CZorbex& session_;
    platform::ScopedDialogOwner owner_;
    const CZorbex* outer_;
};

bool refuse_without_camera(CZorbex& session) {
    if (session.has_camera()) return false;
    session.report(ERR_NOT_READY);
    return true;
}

}  // namespace

// ---- Analog ---------------------------------------------------------------

std::int32_t SessionAnalogHost::analog_value(AnalogSlot slot) const {
    return analog_field(session_.analog(), slot).load();
}

void SessionAnalogHost::set_analog_value(AnalogSlot slot, std::int32_t value) {
    analog_field(session_.analog(), slot).store(value);
}

dialogs::SensorLimits SessionAnalogHost::sensor_limits() const {
    return dialogs::SensorLimits{0, Sensor::max_gain_index(), Sensor::min_exposure(), Sensor::max_exposure(),
                                 Sensor::default_exposure()};
}

// The sensor model exists for as long as the dialog runs: the exports
// refuse to open a dialog without it.
std::int32_t SessionAnalogHost::sensor_gain_index() { return session_.sensor_model()->global_gain(); }

std::int32_t SessionAnalogHost::sensor_exposure() { return session_.sensor_model()->exposure(); }

std::int32_t SessionAnalogHost::sensor_mirror_v() { return session_.sensor_model()->vertical_mirror() ? 1 : 0; }

std::int32_t SessionAnalogHost::sensor_mirror_h() {
    return session_.sensor_model()->horizontal_mirror() ? 1 : 0;
}

void SessionAnalogHost::program_global_gain(std::int32_t gain) {
    (void)session_.sensor_model()->set_global_gain(gain);
}

void SessionAnalogHost::program_exposure(std::int32_t lines) {
    (void)session_.sensor_model()->set_exposure(static_cast<std::uint16_t>(lines));
}

void SessionAnalogHost::program_mirror_v(std::int32_t on) {
    (void)session_.sensor_model()->set_vertical_mirror(on != 0);
}

void SessionAnalogHost::program_mirror_h(std::int32_t on) {
    (void)session_.sensor_model()->set_horizontal_mirror(on != 0);
}

double SessionAnalogHost::exposure_time_ms(std::int32_t lines) {
    // The stored model holds no line length until the application has asked
    // for the real exposure time; bring it up to date from the sensor so the
    // dialog never shows 0 ms.
    (void)update_real_exposure_time(session_);
    const ExposureModel& model = session_.exposure();
    return (static_cast<double>(lines) * model.line_length.load() + model.line_offset.load()) *
           model.time_per_clock.load();
}

void SessionAnalogHost::set_open_analog_dialog(dialogs::AnalogDialog* dialog) {
    // Development calls the dialog under the frame lock: once the pointer is
    // cleared under it, no such call is still running.
    std::lock_guard lock(session_.frame_lock());
    session_.open_analog_dialog() = dialog;
}

// ---- Image ----------------------------------------------------------------

std::int32_t SessionImageHost::adjustment_value(AdjustmentSlot slot) const {
    return session_.adjustment_values().at(static_cast<std::size_t>(slot)).load();
}

void SessionImageHost::set_adjustment_value(AdjustmentSlot slot, std::int32_t value) {
    session_.adjustment_values().at(static_cast<std::size_t>(slot)).store(value);
}

std::int32_t SessionImageHost::color_mode() const { return session_.acquisition().color_mode.load(); }

void SessionImageHost::set_open_image_dialog(dialogs::ImageFilterDialog* dialog) {
    std::lock_guard lock(session_.frame_lock());  // as for the analog dialog
    session_.open_image_filter_dialog() = dialog;
}

// ---- Camera format --------------------------------------------------------

std::int32_t SessionCameraFormatHost::device_number() const {
    return session_.sensor_model()->selected_device();
}

void SessionCameraFormatHost::suspend_acquisition() {
    suspended_mode_ = session_.acquisition().mode.load();
    switch (suspended_mode_) {
        case kModeStreaming:
        case kModeCapture:
            (void)session_.acquisition_control().stop();
            break;
        case kModeTrigger:
            session_.threads().acquisition_run = kPaused;
            break;
        default:
            break;
    }
}

// The new format takes effect here: starting runs the settings apply.
void SessionCameraFormatHost::resume_acquisition() {
    switch (suspended_mode_) {
        case kModeStreaming:
            (void)session_.acquisition_control().start();
            break;
        case kModeCapture:
            (void)session_.acquisition_control().capture();
            break;
        case kModeTrigger:
            session_.threads().acquisition_run = kRun;
            break;
        default:
            break;
    }
    suspended_mode_ = kModeIdle;
}

void SessionCameraFormatHost::reload_format_settings() {
    (void)load_geometry(session_);
    (void)load_format_values(session_);
}

// ---- Session operations ---------------------------------------------------

int set_analog_dialog(CZorbex& session, ZbxWindow owner) {
    if (refuse_without_camera(session)) return 0;
    const DialogExportScope scope(session);
    SessionAnalogHost host(session);
    (void)dialogs::run_analog_dialog(host, owner);
    return 1;
}

int set_image_dialog(CZorbex& session, ZbxWindow owner) {
    if (refuse_without_camera(session)) return 0;
    const DialogExportScope scope(session);
    SessionImageHost host(session);
    (void)dialogs::run_image_dialog(host, owner);
    return 1;
}

int set_camera_dialog(CZorbex& session, ZbxWindow owner) {
    if (refuse_without_camera(session)) return 0;
    const DialogExportScope scope(session);
    SessionCameraFormatHost host(session);
    (void)dialogs::run_camera_format_dialog(host, owner);
    return 1;
}

void close_session_dialogs(CZorbex& session) {
    if (t_dialog_session == &session) {
        // Called from inside the dialog: ask it to end and let the export
        // finish on its own; it still holds the session.
        (void)platform::cancel_modal_dialogs(&session);
        return;
    }
    RunningDialogs& r = running_dialogs();
    std::unique_lock lock(r.mutex);
    while (r.count.contains(&session)) {
        lock.unlock();
        // Asked again each round: a dialog may open between two asks.
        (void)platform::cancel_modal_dialogs(&session);
        // The dialog may be shown by the loop this thread runs.
        platform::let_displayed_dialogs_run();
        lock.lock();
        r.cond.wait_for(lock, std::chrono::milliseconds(10),
                        [&] { return !r.count.contains(&session); });
    }
}

}  // namespace zbx::session
