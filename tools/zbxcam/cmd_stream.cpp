// Needs the library's acquisition exports.
#include "acquisition.h"
#include "capture_settings.h"
#include "commands.h"
#include "json.h"

namespace zbxcam {

int run_stream(const CommandInput& input, const StreamRequest& request) {
    Io& io = input.io;
    const double seconds = request.seconds;
    // With --json, standard output holds the summary only.
    Io progress{request.json ? io.err : io.out, io.err, request.json ? false : io.live};

    const std::unique_ptr<Camera> camera = Camera::open(io, "stream", input.global.camera);
    if (!camera) return kExitFailure;
    if (int status = apply_capture_settings(*camera, request.settings, io, "stream"); status != kExitOk)
        return status;
    if (seconds > 0)
        progress.out << "streaming from camera " << camera->number() << " for " << seconds << " s (Ctrl-C stops)\n";
    else
        progress.out << "streaming from camera " << camera->number() << " until Ctrl-C\n";
    StreamStats stats;
    const int status = stream_for(*camera, progress, "stream", seconds, stats);
    if (request.json) {
        JsonObject failures;
        for (const auto& [code, count] : stats.failures) failures.add(error_name(code), count);
        JsonObject summary;
        summary.add("camera", camera->number())
            .add("frames", stats.frames)
            .add("dropped", stats.dropped)
            .add("width", stats.width)
            .add("height", stats.height)
            .add("bits", stats.bits)
            .add("seconds", stats.elapsed_s)
            .add("fps", stats.elapsed_s > 0 ? static_cast<double>(stats.frames) / stats.elapsed_s : 0.0)
            .add_raw("failures", failures.str());
        io.out << summary.str() << "\n";
    }
    return status;
}

}  // namespace zbxcam
