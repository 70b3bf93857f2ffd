// Needs the library's acquisition and saving exports.
#include <filesystem>

#include "acquisition.h"
#include "capture_settings.h"
#include "commands.h"

namespace zbxcam {

int run_snap(const CommandInput& input, const SnapRequest& request) {
    Io& io = input.io;
    const std::string& path = request.path;
    const FileFormat* format = request.format;

    const std::unique_ptr<Camera> camera = Camera::open(io, "snap", input.global.camera);
    if (!camera) return kExitFailure;
    if (int status = apply_capture_settings(*camera, request.settings, io, "snap"); status != kExitOk)
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
