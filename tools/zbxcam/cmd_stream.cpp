// Needs the library's acquisition exports.
#include "acquisition.h"
#include "capture_settings.h"
#include "commands.h"

namespace zbxcam {

int run_stream(const CommandInput& input) {
    Io& io = input.io;
    if (!input.args.positionals.empty())
        return print_usage_error(io, "stream", "unexpected argument '" + input.args.positionals[0] + "'");
    double seconds = 5;
    if (const std::optional<std::string> text = input.args.value("seconds")) {
        const std::optional<double> parsed = parse_seconds(*text);
        if (!parsed) return print_usage_error(io, "stream", "--seconds wants a number such as 5 or 2.5, not '" + *text + "'");
        seconds = *parsed;
    }
    const CaptureSettingsResult settings = capture_settings_from(input.args);
    if (!settings.error.empty()) return print_usage_error(io, "stream", settings.error);

    const std::unique_ptr<Camera> camera = Camera::open(io, "stream", input.global.camera);
    if (!camera) return kExitFailure;
    if (int status = apply_capture_settings(*camera, settings.settings, io, "stream"); status != kExitOk)
        return status;
    if (seconds > 0)
        io.out << "streaming from camera " << camera->number() << " for " << seconds << " s (Ctrl-C stops)\n";
    else
        io.out << "streaming from camera " << camera->number() << " until Ctrl-C\n";
    StreamStats stats;
    return stream_for(*camera, io, "stream", seconds, stats);
}

}  // namespace zbxcam
