#include "session/adjustment_values.h"

#include <cmath>
#include <limits>

#include "device/zorbex_530_sdk.h"
#include "session/zorbex.h"

namespace zbx::session {

namespace {

using Sensor = device::CZorbex530SRXNQTSdk;
using Ix = AdjustmentIndex;

std::atomic<std::int32_t>& color_gain(AnalogValues& a, std::size_t which) {
    switch (which) {
        case 0: return a.color_gain_red;
        case 1: return a.color_gain_green1;
        case 2: return a.color_gain_green2;
        default: return a.color_gain_blue;
    }
}

// The time per clock is the single-precision 0.00001, slightly below the
// decimal value; the results depend on it (1598 lines x 2950 gives 47140).
double time_per_clock_ms() { return static_cast<double>(0.00001f); }

// Line length in clocks: sensor register 46 + 6, or 0 when it cannot be read.
std::int32_t line_length(Sensor& sensor) {
    std::uint16_t value = 0;
    return sensor.read_sensor(46, &value) ? value + 6 : 0;
}

std::int32_t saturate(double v) {
    if (!(v > std::numeric_limits<std::int32_t>::min())) return std::numeric_limits<std::int32_t>::min();
    if (v > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(v);
}

void set_ok(int* ok, int value) {
    if (ok != nullptr) *ok = value;
}

}  // namespace

int set_filter_value(CZorbex& session, int id, int value) {
    Sensor* sensor = session.sensor_model();
    if (sensor == nullptr) {
        session.report(ERR_NOT_READY);
        return 0;
    }
    const ValueEntry* spec = filter_value_spec(id);
    if (spec == nullptr || value < spec->min || value > spec->max) {
        session.report(ERR_PARAMETER);
        return 0;
    }
    AdjustmentValues& block = session.adjustment_values();
    AnalogValues& analog = session.analog();
    switch (spec->home) {
        case ValueHome::kBlock:
            block.at(spec->index) = value;
            break;
        case ValueHome::kSwitch:
            block.at(spec->index) = value != 0 ? 1 : 0;
            break;
        case ValueHome::kPackedGains: {
            const auto bits = static_cast<std::uint32_t>(value);
            block.at(Ix::kBayerGainRed) = static_cast<std::int32_t>(bits & 0xFF);
            block.at(Ix::kBayerGainGreen) = static_cast<std::int32_t>((bits >> 8) & 0xFF);
            block.at(Ix::kBayerGainBlue) = static_cast<std::int32_t>((bits >> 16) & 0xFF);
            break;
        }
        case ValueHome::kGlobalGain:
            analog.global_gain = value;
            analog.color_gain_red = value;
            analog.color_gain_green1 = value;
            analog.color_gain_green2 = value;
            analog.color_gain_blue = value;
            sensor->set_global_gain(value);
            break;
        case ValueHome::kColorGain:
            color_gain(analog, spec->index) = value;
            break;
        case ValueHome::kExposure:
            analog.exposure_lines = value;
            sensor->set_exposure(static_cast<std::uint16_t>(value));
            break;
        case ValueHome::kOwnExports:  // never a filter value id
            session.report(ERR_PARAMETER);
            return 0;
    }
    return 1;
}

int get_filter_value(CZorbex& session, int id, int* ok) {
    Sensor* sensor = session.sensor_model();
    if (sensor == nullptr) {
        set_ok(ok, 0);
        session.report(ERR_NOT_READY);
        return 0;
    }
    const ValueEntry* spec = filter_value_spec(id);
    if (spec == nullptr) {
        set_ok(ok, 0);
        session.report(ERR_PARAMETER);
        return 0;
    }
    set_ok(ok, 1);
    const AdjustmentValues& block = session.adjustment_values();
    switch (spec->home) {
        case ValueHome::kBlock:
        case ValueHome::kSwitch:
            return block.at(spec->index);
        case ValueHome::kPackedGains:
            return (block.at(Ix::kBayerGainRed) & 0xFF) | (block.at(Ix::kBayerGainGreen) & 0xFF) << 8 |
                   (block.at(Ix::kBayerGainBlue) & 0xFF) << 16;
        case ValueHome::kGlobalGain:
            return sensor->global_gain();
        case ValueHome::kColorGain:
            return 0;
        case ValueHome::kExposure:
            return sensor->exposure();
        case ValueHome::kOwnExports:  // never a filter value id
            return 0;
    }
    return 0;
}

int set_config_filter(CZorbex& session, int flag) {
    if (flag != 0 && flag != 1) {
        session.report(ERR_PARAMETER);
        return 0;
    }
    session.defect_correction() = flag;
    return 1;
}

int get_config_filter(CZorbex& session) { return session.defect_correction(); }

int set_auto_iris(CZorbex& session, int mode) {
    if (mode < 0 || mode > 2) {
        session.post_notification(ERR_PARAMETER);
        return 0;
    }
    session.analog().auto_iris = mode;
    return 1;
}

int get_auto_iris(CZorbex& session, int* ok) {
    set_ok(ok, 1);
    return session.analog().auto_iris;
}

std::int32_t update_real_exposure_time(CZorbex& session) {
    ExposureModel& model = session.exposure();
    const double f = time_per_clock_ms();
    model.time_per_clock = f;
    const std::int32_t length = line_length(*session.sensor_model());
    const std::int32_t lines = session.analog().exposure_lines;
    model.line_length = length;
    model.line_offset = 0;
    model.exposure_lines = lines;
    const double product = static_cast<double>(static_cast<std::int64_t>(lines) * length) + 0;
    const std::int32_t t = saturate(std::trunc(product * f * 1000.0));
    model.last_real_exposure_time = t;
    return t;
}

int get_real_exposure_time(CZorbex& session, int* ok) {
    if (!session.has_camera()) {
        set_ok(ok, 0);
        session.report(ERR_NOT_READY);
        return 0;
    }
    const std::int32_t t = update_real_exposure_time(session);
    set_ok(ok, 1);
    return t;
}

int set_real_exposure_time(CZorbex& session, int microseconds) {
    Sensor* sensor = session.sensor_model();
    if (sensor == nullptr) {
        session.report(ERR_NOT_READY);
        return 0;
    }
    ExposureModel& model = session.exposure();
    const double f = time_per_clock_ms();
    model.time_per_clock = f;
    const std::int32_t length = line_length(*sensor);
    model.line_length = length;
    model.line_offset = 0;
    // With no line length every time fails the range check.
    const double quotient = length == 0 ? 0.0 : (microseconds / 1000.0) / (length * f);
    const std::int32_t lines = saturate(std::trunc(quotient));
    model.exposure_lines = lines;
    if (lines < Sensor::kMinExposure || lines > Sensor::kMaxExposure) {
        session.report(ERR_PARAMETER);
        return 0;
    }
    session.analog().exposure_lines = lines;
    sensor->set_exposure(static_cast<std::uint16_t>(lines));
    return 1;
}

}  // namespace zbx::session
