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
    if (args.positionals.size() != 1) {
        result.error = args.positionals.empty() ? "name the file to write, e.g. zbxcam snap frame.png"
                                                : "give one file name only";
        return result;
    }
    result.request.path = args.positionals[0];
    result.request.format = choose_format(args, result.request.path, result.error);
    if (!result.request.format) return result;
    CaptureSettingsResult settings = capture_settings_from(args);
    result.error = settings.error;
    result.request.settings = std::move(settings.settings);
    return result;
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

}  // namespace zbxcam
