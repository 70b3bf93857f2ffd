// Needs the library's acquisition and saving exports.
#include <filesystem>
#include <vector>

#include "acquisition.h"
#include "commands.h"
#include "interrupt.h"

namespace zbxcam {

namespace {

struct Written {
    std::string path;
    std::string what;
    std::uintmax_t bytes;
};

// "color24-q70.jpg": the mode, and the quality where one extension has three.
std::string demo_file_name(const ColorMode& mode, const FileFormat& format) {
    std::string name(mode.token);
    if (format.token.starts_with("jpg")) {
        const int quality = format.number == ZBX_FILE_JPEG_HIGH ? 100 : format.number == ZBX_FILE_JPEG_NORMAL ? 70 : 20;
        name += "-q" + std::to_string(quality);
    }
    return name + "." + std::string(format.extension);
}

}  // namespace

int run_demo(const CommandInput& input, const DemoRequest& request) {
    Io& io = input.io;
    const std::string& folder = request.folder;
    const double seconds = request.seconds;
    // The camera first: a run without one leaves no empty folder behind.
    const std::unique_ptr<Camera> camera = Camera::open(io, "demo", input.global.camera);
    if (!camera) return kExitFailure;
    std::error_code ec;
    const bool folder_existed = std::filesystem::exists(folder, ec);
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        io.err << "zbxcam demo: cannot create the folder " << folder << ": " << ec.message() << "\n";
        return kExitFailure;
    }
    // A folder made here and left empty by a failure goes again.
    struct EmptyFolderRemover {
        std::string path;
        bool armed;
        ~EmptyFolderRemover() {
            std::error_code ignored;
            if (armed && std::filesystem::is_empty(path, ignored)) std::filesystem::remove(path, ignored);
        }
    } remover{folder, !folder_existed};
    const ZbxHandle h = camera->handle();
    const int restore_bits = [&] {
        const ColorMode* m = color_mode_from_reported(Zorbex_GetColorMode(h));
        return m ? m->set_bits : 24;
    }();

    io.out << "zbxcam demo: camera " << camera->number() << ", one frame in each colour mode, saved in every format, into " << folder << "/\n";
    std::vector<Written> written;
    for (const ColorMode& mode : color_modes()) {
        // Ctrl-C skips what is left; the files so far are listed below.
        if (interrupt_requested()) break;
        if (!Zorbex_SetColorMode(h, mode.set_bits))
            return camera->fail(io, "demo", "could not set the colour mode " + std::string(mode.token));
        if (int status = take_frame(*camera, io, "demo"); status != kExitOk) return status;
        io.out << "  " << mode.display_name << " (" << mode.token << "), " << Zorbex_Width(h) << " x " << Zorbex_Height(h) << ":";
        for (const FileFormat& format : file_formats()) {
            const std::string path = folder + "/" + demo_file_name(mode, format);
            if (int status = save_frame(*camera, io, "demo", path, format); status != kExitOk) {
                io.out << "\n";
                return status;
            }
            const std::uintmax_t bytes = std::filesystem::file_size(path, ec);
            written.push_back({path, std::string(format.description) + ", " + std::string(mode.display_name), ec ? 0 : bytes});
            io.out << " " << demo_file_name(mode, format);
            io.out.flush();
        }
        io.out << "\n";
    }

    io.out << "\nstreaming " << seconds << " s in Color 24bit:\n";
    if (!Zorbex_SetColorMode(h, 24)) return camera->fail(io, "demo", "could not set the colour mode color24");
    StreamStats stats;
    const int stream_status = interrupt_requested() ? kExitOk : stream_for(*camera, io, "demo", seconds, stats);
    Zorbex_SetColorMode(h, restore_bits);
    if (interrupt_requested()) io.out << "\nstopped by the user\n";

    std::uintmax_t total = 0;
    io.out << "\nwrote " << written.size() << " files into " << folder << "/:\n";
    for (const Written& w : written) {
        const std::string size = human_size(w.bytes);
        io.out << "  " << w.path << std::string(w.path.size() < 26 ? 26 - w.path.size() : 1, ' ')
               << std::string(size.size() < 9 ? 9 - size.size() : 0, ' ') << size << "  " << w.what << "\n";
        total += w.bytes;
    }
    io.out << "  in all " << human_size(total) << ". Raw files hold the pixel rows only, top row first,\n"
           << "  each row padded to a multiple of 4 bytes; 16-bit samples are little-endian 12-bit values.\n"
           << "  Open " << folder << "/color24.png to see the virtual camera's test chart.\n";
    return stream_status;
}

}  // namespace zbxcam
