// Hosts standing in for a camera session, recording what the dialogs ask
// of them, and a switch of the system language for one test.
#pragma once

#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "dialogs/analog_dialog.h"
#include "dialogs/dialog_host.h"
#include "dialogs/image_filter_dialog.h"

namespace zbx::test {

// Sets LC_ALL for the test's lifetime: "ja_JP.UTF-8" gives the Japanese
// templates, "C" the English ones.
class ScopedLanguage {
public:
    explicit ScopedLanguage(const char* locale) {
        if (const char* old = std::getenv("LC_ALL")) previous_ = old;
        ::setenv("LC_ALL", locale, 1);
    }
    ~ScopedLanguage() {
        if (previous_) {
            ::setenv("LC_ALL", previous_->c_str(), 1);
        } else {
            ::unsetenv("LC_ALL");
        }
    }

private:
    std::optional<std::string> previous_;
};

struct SensorCall {
    std::string what;  // "gain", "exposure", "mirror_v", "mirror_h"
    std::int32_t value;
    friend bool operator==(const SensorCall&, const SensorCall&) = default;
};

// A dialog on screen runs on the library's GUI thread and writes through
// its host while the test looks from its own thread: the fakes take
// `mutex` for those writes, and value() and last_call() take it to look.
class FakeAnalogHost : public dialogs::AnalogHost {
public:
    mutable std::mutex mutex;
    dialogs::AnalogBlock block{};
    dialogs::SensorLimits limits;
    // What the sensor reports when the dialog opens.
    std::int32_t sensor_gain = 3;
    std::int32_t sensor_exposure_value = 1000;
    std::int32_t sensor_v = 0;
    std::int32_t sensor_h = 1;
    std::vector<SensorCall> calls;
    dialogs::AnalogDialog* open_dialog = nullptr;
    int open_count = 0;

    std::int32_t& at(dialogs::AnalogSlot slot) { return block[static_cast<std::size_t>(slot)]; }
    std::int32_t value(dialogs::AnalogSlot slot) const {
        std::lock_guard lock(mutex);
        return block[static_cast<std::size_t>(slot)];
    }
    std::optional<SensorCall> last_call() const {
        std::lock_guard lock(mutex);
        if (calls.empty()) return std::nullopt;
        return calls.back();
    }

    std::int32_t analog_value(dialogs::AnalogSlot slot) const override {
        return block[static_cast<std::size_t>(slot)];
    }
    void set_analog_value(dialogs::AnalogSlot slot, std::int32_t value) override {
        std::lock_guard lock(mutex);
        at(slot) = value;
    }
    dialogs::SensorLimits sensor_limits() const override { return limits; }
    std::int32_t sensor_gain_index() override { return sensor_gain; }
    std::int32_t sensor_exposure() override { return sensor_exposure_value; }
    std::int32_t sensor_mirror_v() override { return sensor_v; }
    std::int32_t sensor_mirror_h() override { return sensor_h; }
    void program_global_gain(std::int32_t gain) override { record({"gain", gain}); }
    void program_exposure(std::int32_t lines) override { record({"exposure", lines}); }
    void program_mirror_v(std::int32_t on) override { record({"mirror_v", on}); }
    void program_mirror_h(std::int32_t on) override { record({"mirror_h", on}); }
    // A line of 2950 clocks at 10 microseconds per 1000 clocks.
    double exposure_time_ms(std::int32_t lines) override { return lines * 2950.0 * 0.00001; }
    void set_open_analog_dialog(dialogs::AnalogDialog* dialog) override {
        open_dialog = dialog;
        if (dialog != nullptr) ++open_count;
    }

private:
    void record(SensorCall call) {
        std::lock_guard lock(mutex);
        calls.push_back(std::move(call));
    }
};

class FakeImageHost : public dialogs::ImageHost {
public:
    mutable std::mutex mutex;  // as FakeAnalogHost's
    dialogs::AdjustmentBlock block{};
    std::int32_t mode = 2;
    dialogs::ImageFilterDialog* open_dialog = nullptr;
    int open_count = 0;

    std::int32_t& at(dialogs::AdjustmentSlot slot) { return block[static_cast<std::size_t>(slot)]; }
    std::int32_t value(dialogs::AdjustmentSlot slot) const {
        std::lock_guard lock(mutex);
        return block[static_cast<std::size_t>(slot)];
    }

    std::int32_t adjustment_value(dialogs::AdjustmentSlot slot) const override {
        return block[static_cast<std::size_t>(slot)];
    }
    void set_adjustment_value(dialogs::AdjustmentSlot slot, std::int32_t value) override {
        std::lock_guard lock(mutex);
        at(slot) = value;
    }
    std::int32_t color_mode() const override { return mode; }
    void set_open_image_dialog(dialogs::ImageFilterDialog* dialog) override {
        open_dialog = dialog;
        if (dialog != nullptr) ++open_count;
    }
};

class FakeCameraFormatHost : public dialogs::CameraFormatHost {
public:
    std::int32_t device = 0;
    std::vector<std::string> calls;

    std::int32_t device_number() const override { return device; }
    void suspend_acquisition() override { calls.push_back("suspend"); }
    void resume_acquisition() override { calls.push_back("resume"); }
    void reload_format_settings() override { calls.push_back("reload"); }
};

}  // namespace zbx::test
