#include <cstdio>
#include <iomanip>

#include "camera.h"
#include "commands.h"
#include "json.h"
#include "names.h"

namespace zbxcam {

namespace {

const char* on_off(int flag) { return flag ? "on" : "off"; }

int print_info_json(Camera& camera, Io& io, int version, const ZbxCameraInfo& info, const char* name) {
    const ZbxHandle h = camera.handle();
    int ok = 0;
    const ColorMode* mode = color_mode_from_reported(Zorbex_GetColorMode(h));
    static constexpr const char* kAuto[] = {"off", "exposure", "gain"};
    const int auto_iris = Zorbex_GetAutoIris(h, &ok);
    JsonObject values;
    for (const FilterValue& f : filter_values()) {
        const int value = Zorbex_GetFilterValue(h, f.id, &ok);
        if (ok)
            values.add(f.name, value);
        else
            values.add_null(f.name);
    }
    JsonObject o;
    o.add("library_version", version)
        .add("camera", camera.number())
        .add("name", name)
        .add("sensor_width", static_cast<int>(info.sensor_width))
        .add("sensor_height", static_cast<int>(info.sensor_height))
        .add("min_gain", static_cast<int>(info.min_gain))
        .add("max_gain", static_cast<int>(info.max_gain))
        .add("min_exposure", static_cast<int>(info.min_exposure))
        .add("max_exposure", static_cast<int>(info.max_exposure));
    if (mode)
        o.add("mode", mode->token);
    else
        o.add_null("mode");
    o.add("width", Zorbex_Width(h))
        .add("height", Zorbex_Height(h))
        .add("mirror_h", Zorbex_GetMirrorH(h) != 0)
        .add("mirror_v", Zorbex_GetMirrorV(h) != 0)
        .add("exposure_lines", Zorbex_GetFilterValue(h, ZBX_ID_EXPOSURE_TIME, &ok))
        .add("exposure_us", Zorbex_GetRealExposureTime(h, &ok))
        .add("gain", Zorbex_GetFilterValue(h, ZBX_ID_GLOBAL_GAIN, &ok))
        .add("automatic", auto_iris >= 0 && auto_iris <= 2 ? kAuto[auto_iris] : "?")
        .add("defect_fix", Zorbex_GetConfigFilter(h) != 0)
        .add("wait_time_ms", Zorbex_GetWaitTime(h))
        .add_raw("values", values.str());
    const std::vector<int> codes = camera.take_errors();
    if (!codes.empty()) return print_failure(io, "info", "could not read every setting", codes, camera.context());
    io.out << o.str() << "\n";
    return kExitOk;
}

}  // namespace

int run_info(const CommandInput& input, bool json) {
    Io& io = input.io;
    const std::unique_ptr<Camera> camera = Camera::open(io, "info", input.global.camera);
    if (!camera) return kExitFailure;
    const ZbxHandle h = camera->handle();

    const int version = Zorbex_GetDllVersion();
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(version));
    if (!json) io.out << "library       ZorbexSdk_530RD_NQT version " << version << " (" << hex << ")\n";

    ZbxCameraInfo info{};
    info.size = sizeof info;
    if (!Zorbex_GetCameraInfo(h, &info))
        return camera->fail(io, "info", "could not read the camera information");
    std::array<char, 256> name{};
    Zorbex_GetDeviceName(h, camera->number(), name.data(), static_cast<int>(name.size()));
    if (json) return print_info_json(*camera, io, version, info, name.data());
    io.out << "camera        " << camera->number() << "  " << name.data() << "\n";
    io.out << "sensor        " << info.sensor_width << " x " << info.sensor_height << ", gain steps "
           << info.min_gain << " to " << info.max_gain << ", exposure " << info.min_exposure
           << " to " << info.max_exposure << " lines\n";

    const int reported = Zorbex_GetColorMode(h);
    const ColorMode* mode = color_mode_from_reported(reported);
    io.out << "colour mode   "
           << (mode ? std::string(mode->display_name) + " (" + std::string(mode->token) + ")"
                    : "unknown (" + std::to_string(reported) + ")")
           << "\n";

    io.out << "readout       " << Zorbex_Width(h) << " x " << Zorbex_Height(h) << "\n";
    io.out << "mirrors       horizontal " << on_off(Zorbex_GetMirrorH(h)) << ", vertical "
           << on_off(Zorbex_GetMirrorV(h)) << "\n";
    int ok = 0;
    const int lines = Zorbex_GetFilterValue(h, ZBX_ID_EXPOSURE_TIME, &ok);
    const int us = Zorbex_GetRealExposureTime(h, &ok);
    io.out << "exposure      " << lines << " lines, " << us << " us\n";
    io.out << "gain          " << Zorbex_GetFilterValue(h, ZBX_ID_GLOBAL_GAIN, &ok) << "\n";
    static constexpr const char* kAuto[] = {"off", "exposure", "gain"};
    const int auto_iris = Zorbex_GetAutoIris(h, &ok);
    io.out << "automatic     " << (auto_iris >= 0 && auto_iris <= 2 ? kAuto[auto_iris] : "?") << "\n";
    io.out << "defect fix    " << on_off(Zorbex_GetConfigFilter(h)) << "\n";
    io.out << "wait time     " << Zorbex_GetWaitTime(h) << " ms\n";
    io.out << "image values (set with --set NAME=VALUE):\n";
    for (const FilterValue& f : filter_values()) {
        const int value = Zorbex_GetFilterValue(h, f.id, &ok);
        // The packed gains read best as bytes.
        char packed[16];
        std::snprintf(packed, sizeof packed, "0x%06X", static_cast<unsigned>(value));
        const std::string shown = !ok ? std::string("-") : f.id == ZBX_ID_BAYER_GAIN_RGB ? std::string(packed) : std::to_string(value);
        io.out << "  " << std::setw(2) << f.id << "  " << std::left << std::setw(17) << f.name
               << std::right << std::setw(9) << shown
               << "   " << f.range << "\n";
    }
    const std::vector<int> codes = camera->take_errors();
    if (!codes.empty())
        return print_failure(io, "info", "could not read every setting", codes, camera->context());
    return kExitOk;
}

}  // namespace zbxcam
