#include "requests.h"

namespace zbxcam {

namespace {

// The format from --format or the file name, then --quality; null with a
// message when none can be told.
const FileFormat* choose_format(const ParsedArgs& args, const std::string& path, std::string& error) {
    const FileFormat* format = nullptr;
    if (const std::optional<std::string> token = args.value("format")) {
        format = find_file_format(*token);
        if (!format) {
            error = "unknown format '" + *token + "' (bmp, raw, jpg, jpg-high, jpg-normal, jpg-low, png, tif)";
            return nullptr;
        }
    } else {
        format = file_format_from_name(path);
        if (!format) {
            error = "cannot tell the format of '" + path +
                    "' from its name; end it in .bmp, .raw, .jpg, .png or .tif, or give --format";
            return nullptr;
        }
    }
    if (const std::optional<std::string> quality = args.value("quality")) {
        if (format->extension != "jpg") {
            error = "--quality is for JPEG files only";
            return nullptr;
        }
        const std::string q = to_lower(*quality);
        if (q == "high" || q == "100") format = find_file_format("jpg-high");
        else if (q == "normal" || q == "70") format = find_file_format("jpg-normal");
        else if (q == "low" || q == "20") format = find_file_format("jpg-low");
        else {
            error = "--quality is high (100), normal (70) or low (20), not '" + *quality + "'";
            return nullptr;
        }
    }
    return format;
}

std::string no_positionals(const ParsedArgs& args) {
    return args.positionals.empty() ? std::string() : "unexpected argument '" + args.positionals[0] + "'";
}

}  // namespace

RequestResult<SnapRequest> snap_request_from(const ParsedArgs& args) {
    RequestResult<SnapRequest> result;
    SnapRequest& r = result.request;
    if (const std::optional<std::string> text = args.value("count")) {
        const std::optional<int> n = parse_int(*text);
        if (!n || *n < 1) {
            result.error = "-n wants a number of frames, 1 or more, not '" + *text + "'";
            return result;
        }
        r.count = *n;
    }
    if (const std::optional<std::string> text = args.value("interval")) {
        const std::optional<double> seconds = parse_seconds(*text);
        if (!seconds) {
            result.error = "--interval wants seconds such as 1 or 0.5, not '" + *text + "'";
            return result;
        }
        if (r.count < 2) {
            result.error = "--interval is the pause in a series; give -n N as well";
            return result;
        }
        r.interval_s = *seconds;
    }
    if (args.positionals.size() > 1) {
        result.error = "give one file name only";
        return result;
    }
    if (args.positionals.empty()) {
        if (r.count < 2) {
            result.error = "name the file to write, e.g. zbxcam snap frame.png, or - for standard output";
            return result;
        }
        r.path = "frame-%04d.png";
    } else {
        r.path = args.positionals[0];
    }
    if (r.to_stdout()) {
        if (r.count > 1) {
            result.error = "- writes one image to standard output; a series wants a file name pattern";
            return result;
        }
        // Standard output has no extension to tell the format by.
        if (!args.has("format")) r.format = find_file_format("png");
    } else if (r.count > 1 && !r.series()) {
        // "shot.png" becomes shot-0001.png, shot-0002.png ...
        const std::size_t slash = r.path.rfind('/');
        const std::size_t dot = r.path.rfind('.');
        const std::size_t at = dot != std::string::npos && (slash == std::string::npos || dot > slash) ? dot : r.path.size();
        r.path.insert(at, "-%04d");
    }
    if (r.series()) {
        if (series_file_name(r.path, 1).empty()) {
            result.error = "the file name pattern '" + r.path +
                           "' wants exactly one number conversion such as %04d (and %% for a %)";
            return result;
        }
    }
    if (!r.format) {
        r.format = choose_format(args, r.series() ? series_file_name(r.path, 1) : r.path, result.error);
        if (!r.format) return result;
    } else if (args.has("quality")) {
        result.error = "--quality is for JPEG files only";
        return result;
    }
    CaptureSettingsResult settings = capture_settings_from(args);
    result.error = settings.error;
    r.settings = std::move(settings.settings);
    return result;
}

std::string series_file_name(const std::string& pattern, int number) {
    std::string name;
    int conversions = 0;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%') {
            name += pattern[i];
            continue;
        }
        if (i + 1 < pattern.size() && pattern[i + 1] == '%') {
            name += '%';
            ++i;
            continue;
        }
        // %[0][width]d
        std::size_t j = i + 1;
        const bool zeros = j < pattern.size() && pattern[j] == '0';
        if (zeros) ++j;
        int width = 0;
        while (j < pattern.size() && pattern[j] >= '0' && pattern[j] <= '9' && width < 100) width = width * 10 + (pattern[j++] - '0');
        if (j >= pattern.size() || pattern[j] != 'd' || width > 12) return {};
        std::string digits = std::to_string(number);
        if (static_cast<int>(digits.size()) < width)
            digits.insert(0, static_cast<std::size_t>(width) - digits.size(), zeros ? '0' : ' ');
        name += digits;
        ++conversions;
        i = j;
    }
    return conversions == 1 ? name : std::string();
}

RequestResult<StreamRequest> stream_request_from(const ParsedArgs& args) {
    RequestResult<StreamRequest> result;
    result.error = no_positionals(args);
    if (!result.error.empty()) return result;
    if (const std::optional<std::string> text = args.value("seconds")) {
        const std::optional<double> seconds = parse_seconds(*text);
        if (!seconds) {
            result.error = "--seconds wants a number such as 5 or 2.5, not '" + *text + "'";
            return result;
        }
        result.request.seconds = *seconds;
    }
    result.request.json = args.has("json");
    CaptureSettingsResult settings = capture_settings_from(args);
    result.error = settings.error;
    result.request.settings = std::move(settings.settings);
    return result;
}

RequestResult<DemoRequest> demo_request_from(const ParsedArgs& args) {
    RequestResult<DemoRequest> result;
    result.error = no_positionals(args);
    if (!result.error.empty()) return result;
    if (const std::optional<std::string> folder = args.value("out")) {
        if (folder->empty()) {
            result.error = "--out wants a folder name";
            return result;
        }
        result.request.folder = *folder;
    }
    if (const std::optional<std::string> text = args.value("seconds")) {
        const std::optional<double> seconds = parse_seconds(*text);
        if (!seconds || *seconds <= 0) {
            result.error = "--seconds wants a number above 0, such as 3, not '" + *text + "'";
            return result;
        }
        result.request.seconds = *seconds;
    }
    return result;
}

RequestResult<RecordRequest> record_request_from(const ParsedArgs& args) {
    RequestResult<RecordRequest> result;
    RecordRequest& r = result.request;
    if (args.positionals.size() != 1) {
        result.error = args.positionals.empty() ? "name the file to write, e.g. zbxcam record clip.avi"
                                                : "give one file name only";
        return result;
    }
    r.path = args.positionals[0];
    const std::string lower = to_lower(r.path);
    if (lower.size() < 5 || !lower.ends_with(".avi")) {
        result.error = "record writes uncompressed AVI video; end the file name in .avi, not '" + r.path + "'";
        return result;
    }
    if (args.has("seconds") && args.has("frames")) {
        result.error = "give --seconds or --frames, not both";
        return result;
    }
    if (const std::optional<std::string> text = args.value("seconds")) {
        const std::optional<double> seconds = parse_seconds(*text);
        if (!seconds || *seconds > 86400) {
            result.error = "--seconds wants a number up to 86400 such as 5 or 2.5 (0: until Ctrl-C), not '" + *text + "'";
            return result;
        }
        r.seconds = *seconds;
    }
    if (const std::optional<std::string> text = args.value("frames")) {
        const std::optional<int> n = parse_int(*text);
        if (!n || *n < 1) {
            result.error = "--frames wants a number of frames, 1 or more, not '" + *text + "'";
            return result;
        }
        r.frames = *n;
        r.seconds = 0;
    }
    r.json = args.has("json");
    CaptureSettingsResult settings = capture_settings_from(args);
    result.error = settings.error;
    r.settings = std::move(settings.settings);
    return result;
}

RequestResult<GetRequest> get_request_from(const ParsedArgs& args) {
    RequestResult<GetRequest> result;
    result.request.json = args.has("json");
    for (const std::string& name : args.positionals) {
        const CameraValue* value = find_camera_value(name);
        if (!value) {
            result.error = "no value is called '" + name + "'; 'zbxcam get' lists them all";
            return result;
        }
        result.request.values.push_back(value);
    }
    return result;
}

RequestResult<SetRequest> set_request_from(const ParsedArgs& args) {
    RequestResult<SetRequest> result;
    if (args.positionals.empty()) {
        result.error = "give NAME=VALUE, e.g. zbxcam set Gamma=120 ExposureTime=800";
        return result;
    }
    for (const std::string& text : args.positionals) {
        const std::size_t equals = text.find('=');
        if (equals == std::string::npos) {
            result.error = "'" + text + "' is not NAME=VALUE";
            return result;
        }
        const std::string name = text.substr(0, equals);
        const CameraValue* value = find_camera_value(name);
        if (!value) {
            result.error = "no value is called '" + name + "'; 'zbxcam get' lists them all";
            return result;
        }
        const std::optional<int> number = parse_int(std::string_view(text).substr(equals + 1));
        if (!number) {
            result.error = std::string(value->name) + " wants a whole number (" + std::string(value->range) +
                           "), not '" + text.substr(equals + 1) + "'";
            return result;
        }
        result.request.values.push_back({value, *number});
    }
    return result;
}

}  // namespace zbxcam
