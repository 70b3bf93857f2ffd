// Needs the library's acquisition exports.
#include "acquisition.h"
#include "capture_settings.h"
#include "commands.h"

namespace zbxcam {

int run_stream(const CommandInput& input, const StreamRequest& request) {
    Io& io = input.io;
    const double seconds = request.seconds;

    const std::unique_ptr<Camera> camera = Camera::open(io, "stream", input.global.camera);
    if (!camera) return kExitFailure;
    if (int status = apply_capture_settings(*camera, request.settings, io, "stream"); status != kExitOk)
        return status;
    if (seconds > 0)
        io.out << "streaming from camera " << camera->number() << " for " << seconds << " s (Ctrl-C stops)\n";
    else
        io.out << "streaming from camera " << camera->number() << " until Ctrl-C\n";
    StreamStats stats;
    return stream_for(*camera, io, "stream", seconds, stats);
}

}  // namespace zbxcam
