// Needs the library's acquisition and saving exports.
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "acquisition.h"
#include "capture_settings.h"
#include "commands.h"
#include "interrupt.h"

namespace zbxcam {

namespace {

// A private folder for the image that goes to standard output: the library
// writes files only.  Removed with what it holds.
class PrivateFolder {
public:
    PrivateFolder() {
        std::error_code ec;
        std::filesystem::path base = std::filesystem::temp_directory_path(ec);
        if (ec) base = "/tmp";
        std::string pattern = (base / "zbxcam-XXXXXX").string();
        if (::mkdtemp(pattern.data())) path_ = pattern;
    }
    ~PrivateFolder() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;
    [[nodiscard]] const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Copies the file to standard output; false when a write failed (a closed
// pipe, a full disk).
bool copy_to_stdout(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    char block[1 << 16];
    while (in) {
        in.read(block, sizeof block);
        const std::streamsize got = in.gcount();
        const char* at = block;
        std::streamsize left = got;
        while (left > 0) {
            const ssize_t put = ::write(STDOUT_FILENO, at, static_cast<std::size_t>(left));
            if (put <= 0) return false;
            at += put;
            left -= put;
        }
    }
    return in.eof();
}

void describe_written(Camera& camera, std::ostream& out, const std::string& path, const FileFormat& format) {
    const ColorMode* mode = color_mode_from_reported(Zorbex_GetColorMode(camera.handle()));
    std::error_code ec;
    const std::uintmax_t bytes = std::filesystem::file_size(path, ec);
    out << "wrote " << path << " (" << format.description << ", " << Zorbex_Width(camera.handle()) << " x "
        << Zorbex_Height(camera.handle());
    if (mode) out << ", " << mode->display_name;
    if (!ec) out << ", " << human_size(bytes);
    out << ")\n";
}

}  // namespace

int run_snap(const CommandInput& input, const SnapRequest& request) {
    Io& io = input.io;
    const FileFormat& format = *request.format;
    if (request.to_stdout() && ::isatty(STDOUT_FILENO)) {
        return print_usage_error(io, "snap", "standard output is a terminal; pipe the image on, e.g. "
                                             "zbxcam snap - --format png | display");
    }

    const std::unique_ptr<Camera> camera = Camera::open(io, "snap", input.global.camera);
    if (!camera) return kExitFailure;
    if (int status = apply_capture_settings(*camera, request.settings, io, "snap"); status != kExitOk)
        return status;

    if (request.to_stdout()) {
        const PrivateFolder folder;
        if (folder.path().empty()) {
            io.err << "zbxcam snap: cannot make a private temporary folder for the image\n";
            return kExitFailure;
        }
        const std::string file = folder.path() + "/frame." + std::string(format.extension);
        if (int status = take_frame(*camera, io, "snap"); status != kExitOk) return status;
        if (int status = save_frame(*camera, io, "snap", file, format); status != kExitOk) return status;
        if (!copy_to_stdout(file)) {
            io.err << "zbxcam snap: could not write the image to standard output\n";
            return kExitFailure;
        }
        return kExitOk;
    }

    // Ctrl-C ends a series after the file being written.
    const InterruptCatcher interrupt;
    using Clock = std::chrono::steady_clock;
    Clock::time_point next = Clock::now();
    int written = 0;
    for (int n = 1; n <= request.count; ++n) {
        if (n > 1 && request.interval_s > 0) {
            next += std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(request.interval_s));
            const double wait = std::chrono::duration<double>(next - Clock::now()).count();
            if (wait > 0 && !sleep_unless_interrupted(wait)) break;
        }
        if (interrupt_requested()) break;
        const std::string path = request.series() ? series_file_name(request.path, n) : request.path;
        if (int status = take_frame(*camera, io, "snap"); status != kExitOk) return status;
        if (int status = save_frame(*camera, io, "snap", path, format); status != kExitOk) return status;
        describe_written(*camera, io.out, path, format);
        io.out.flush();
        ++written;
    }
    if (written < request.count) io.out << "stopped by the user after " << written << " of " << request.count << " frames\n";
    return kExitOk;
}

}  // namespace zbxcam
