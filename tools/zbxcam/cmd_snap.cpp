// Needs the library's acquisition and saving exports.
#include <filesystem>

#include "acquisition.h"
#include "capture_settings.h"
#include "commands.h"

namespace zbxcam {

namespace {

// The format from --format, --quality and the file name, in that order of
// precedence; null with a message when none can be told.
const FileFormat* choose_format(const CommandInput& input, const std::string& path, std::string& error) {
    const FileFormat* format = nullptr;
    if (const std::optional<std::string> token = input.args.value("format")) {
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
    if (const std::optional<std::string> quality = input.args.value("quality")) {
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

}  // namespace

int run_snap(const CommandInput& input) {
    Io& io = input.io;
    if (input.args.positionals.size() != 1)
        return print_usage_error(io, "snap", input.args.positionals.empty()
                                                 ? "name the file to write, e.g. zbxcam snap frame.png"
                                                 : "give one file name only");
    const std::string& path = input.args.positionals[0];
    std::string error;
    const FileFormat* format = choose_format(input, path, error);
    if (!format) return print_usage_error(io, "snap", error);
    const CaptureSettingsResult settings = capture_settings_from(input.args);
    if (!settings.error.empty()) return print_usage_error(io, "snap", settings.error);

    const std::unique_ptr<Camera> camera = Camera::open(io, "snap", input.global.camera);
    if (!camera) return kExitFailure;
    if (int status = apply_capture_settings(*camera, settings.settings, io, "snap"); status != kExitOk)
        return status;
    if (int status = take_frame(*camera, io, "snap"); status != kExitOk) return status;
    if (int status = save_frame(*camera, io, "snap", path, *format); status != kExitOk) return status;

    const ColorMode* mode = color_mode_from_reported(Zorbex_GetColorMode(camera->handle()));
    std::error_code ec;
    const std::uintmax_t bytes = std::filesystem::file_size(path, ec);
    io.out << "wrote " << path << " (" << format->description << ", "
           << Zorbex_Width(camera->handle()) << " x " << Zorbex_Height(camera->handle());
    if (mode) io.out << ", " << mode->display_name;
    if (!ec) io.out << ", " << human_size(bytes);
    io.out << ")\n";
    return kExitOk;
}

}  // namespace zbxcam
