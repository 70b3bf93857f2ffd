#include "capture_settings.h"

#include <array>
#include <string>

namespace zbxcam {

namespace {

// "(0 to 11)": what the library's table says image value `id` accepts.
std::string accepted(int id) {
    const FilterValue* f = find_filter_value(std::to_string(id));
    return f != nullptr ? " (" + std::string(f->range) + ")" : std::string();
}

// The help texts quote the library's ranges; they live as long as the options.
const std::array<std::string, 2>& range_helps() {
    static const std::array<std::string, 2> helps{
        "exposure" + accepted(ZBX_ID_EXPOSURE_TIME),
        "global gain step" + accepted(ZBX_ID_GLOBAL_GAIN),
    };
    return helps;
}

std::optional<int> parse_auto_iris(const std::string& text) {
    const std::string lower = to_lower(text);
    if (lower == "off" || lower == "0") return 0;
    if (lower == "exposure" || lower == "1") return 1;
    if (lower == "gain" || lower == "2") return 2;
    return std::nullopt;
}

}  // namespace

std::span<const OptionSpec> capture_option_specs() {
    static const std::array<OptionSpec, 8> options{{
        {"mode", 'm', "MODE",
         "colour mode: mono8, mono16, color24, color32, color48, color64 (or 8, 16, 24 ...)"},
        {"exposure", 'e', "LINES", range_helps()[0]},
        {"exposure-us", 0, "MICROSECONDS", "exposure in microseconds"},
        {"gain", 'g', "N", range_helps()[1]},
        {"mirror-h", 0, "on|off", "mirror left to right"},
        {"mirror-v", 0, "on|off", "mirror top to bottom"},
        {"auto", 0, "off|exposure|gain", "automatic exposure or gain"},
        {"set", 's', "NAME=VALUE", "any image value by name or id, e.g. Gamma=120 (repeatable)", true},
    }};
    return options;
}

CaptureSettingsResult capture_settings_from(const ParsedArgs& args) {
    CaptureSettingsResult result;
    CaptureSettings& s = result.settings;
    auto whole = [&](const char* name, std::optional<int>& into) {
        if (const std::optional<std::string> text = args.value(name)) {
            into = parse_int(*text);
            if (!into && result.error.empty())
                result.error = "--" + std::string(name) + " wants a whole number, not '" + *text + "'";
        }
    };
    auto flag = [&](const char* name, std::optional<bool>& into) {
        if (const std::optional<std::string> text = args.value(name)) {
            into = parse_flag(*text);
            if (!into && result.error.empty())
                result.error = "--" + std::string(name) + " wants on or off, not '" + *text + "'";
        }
    };
    if (const std::optional<std::string> text = args.value("mode")) {
        s.mode = find_color_mode(*text);
        if (!s.mode)
            result.error = "unknown colour mode '" + *text +
                           "' (mono8, mono16, color24, color32, color48 or color64)";
    }
    whole("exposure", s.exposure_lines);
    whole("exposure-us", s.exposure_us);
    whole("gain", s.gain);
    flag("mirror-h", s.mirror_h);
    flag("mirror-v", s.mirror_v);
    if (const std::optional<std::string> text = args.value("auto")) {
        s.auto_iris = parse_auto_iris(*text);
        if (!s.auto_iris && result.error.empty())
            result.error = "--auto wants off, exposure or gain, not '" + *text + "'";
    }
    for (const std::string& text : args.values("set")) {
        FilterAssignment a = parse_filter_assignment(text);
        if (!a.error.empty()) {
            if (result.error.empty()) result.error = a.error;
            continue;
        }
        s.values.push_back(std::move(a));
    }
    return result;
}

}  // namespace zbxcam
