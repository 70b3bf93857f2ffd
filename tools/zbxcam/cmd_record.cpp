// Needs the library's recording exports.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "zorbex/stream.h"

#include "acquisition.h"
#include "capture_settings.h"
#include "commands.h"
#include "interrupt.h"
#include "json.h"
#include "output_path.h"

namespace zbxcam {

namespace {

constexpr int kOneDayMs = 86'400'000;

// The library's account of the recording; all zero when it cannot say.
ZbxRecordingStatus recording_status(ZbxHandle h) {
    ZbxRecordingStatus status{};
    if (ZbxCamera_GetRecording(h, &status) != ZBX_OK) status = ZbxRecordingStatus{};
    return status;
}

std::string fixed1(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

}  // namespace

int run_record(const CommandInput& input, const RecordRequest& request) {
    Io& io = input.io;
    const std::string& path = request.path;
    // With --json, standard output holds the summary only.
    Io progress{request.json ? io.err : io.out, io.err, request.json ? false : io.live};

    const std::unique_ptr<Camera> camera = Camera::open(io, "record", input.global.camera);
    if (!camera) return kExitFailure;
    const ZbxHandle h = camera->handle();
    if (int status = apply_capture_settings(*camera, request.settings, io, "record"); status != kExitOk)
        return status;
    if (const std::string problem = output_path_problem(path); !problem.empty())
        return print_unwritable(io, "record", path, problem);
    const int width = Zorbex_Width(h);
    const int height = Zorbex_Height(h);

    const InterruptCatcher interrupt;
    // A count of frames or Ctrl-C ends the recording here; the library's
    // own duration then only has to be long enough.
    // The library adds the duration to a 32-bit millisecond tick, so it is
    // kept to a day; the 4 GiB limit of the file comes much sooner anyway.
    const int duration_ms = request.seconds > 0 ? static_cast<int>(request.seconds * 1000.0 + 0.5) : kOneDayMs;
    camera->take_errors();
    if (!Zorbex_Record(h, path.c_str(), duration_ms, 0)) {
        ErrorContext context = camera->context();
        context.file = path;
        const std::vector<int> codes = camera->take_errors();
        return print_failure(io, "record", "could not record " + path, codes, context);
    }
    if (request.frames > 0)
        progress.out << "recording " << request.frames << " frames from camera " << camera->number() << " into " << path << " (Ctrl-C stops)\n";
    else if (request.seconds > 0)
        progress.out << "recording " << request.seconds << " s from camera " << camera->number() << " into " << path << " (Ctrl-C stops)\n";
    else
        progress.out << "recording from camera " << camera->number() << " into " << path << " until Ctrl-C\n";

    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    Clock::time_point last_draw = start;
    const auto draw_every = progress.live ? std::chrono::milliseconds(200) : std::chrono::milliseconds(1000);
    std::size_t drawn_length = 0;
    std::uintmax_t frames = 0;
    std::uintmax_t bytes = 0;
    double elapsed = 0;
    auto draw = [&] {
        std::string line = "frames " + std::to_string(frames) + " | " +
                           fixed1(elapsed > 0 ? static_cast<double>(frames) / elapsed : 0) + " fps | " +
                           human_size(bytes) + " | " + fixed1(elapsed) + " s";
        if (request.seconds > 0) line += " of " + fixed1(request.seconds) + " s";
        if (progress.live) {
            progress.out << "\r" << line << std::string(drawn_length > line.size() ? drawn_length - line.size() : 0, ' ');
            drawn_length = line.size();
        } else {
            progress.out << line << "\n";
        }
        progress.out.flush();
    };

    // Past the duration the library finishes the file within a frame or
    // two; a camera that stopped delivering never does.
    const double give_up_s = request.seconds > 0 ? request.seconds + 10.0 : 0;
    bool gave_up = false;
    ZbxRecordingStatus status{};
    while (!interrupt_requested()) {
        std::error_code ec;
        bytes = std::filesystem::file_size(path, ec);
        if (ec) bytes = 0;
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        status = recording_status(h);
        frames = status.frames;
        // The library finished the file: the duration passed, or it had to stop.
        if (status.running == 0) break;
        if (request.frames > 0 && frames >= static_cast<std::uintmax_t>(request.frames)) break;
        if (give_up_s > 0 && elapsed > give_up_s) {
            gave_up = true;
            break;
        }
        if (Clock::now() - last_draw >= draw_every) {
            draw();
            last_draw = Clock::now();
        }
        // Frames come about every 22 ms: look often enough to stop a count
        // on time.
        std::this_thread::sleep_for(std::chrono::milliseconds(request.frames > 0 ? 2 : 20));
    }
    // Stopping ends the recording (the library finishes the file) and the
    // stream it rode on.
    (void)Zorbex_StopPreview(h);
    ErrorContext context = camera->context();
    context.file = path;
    // What the library recorded during the run (a refused write, the
    // camera going away) fails the command.
    std::vector<int> codes = camera->take_errors();
    elapsed = std::chrono::duration<double>(Clock::now() - start).count();

    status = recording_status(h);
    std::error_code ec;
    bytes = std::filesystem::file_size(path, ec);
    if (ec) bytes = 0;
    frames = status.frames;
    const double fps = status.rate_centi / 100.0;
    draw();
    if (progress.live) progress.out << "\n";
    if (status.end_code != ZBX_OK && std::find(codes.begin(), codes.end(), status.end_code) == codes.end())
        codes.push_back(status.end_code);
    if (!interrupt_requested() && (gave_up || frames == 0) &&
        std::find(codes.begin(), codes.end(), ZBX_ERR_FRAME_TIMEOUT) == codes.end())
        codes.push_back(ZBX_ERR_FRAME_TIMEOUT);
    const bool complete = codes.empty();
    const bool stopped = interrupt_requested();

    if (request.json) {
        std::string errors = "[";
        for (const int code : codes) errors += (errors.size() > 1 ? "," : "") + json_quote(error_name(code));
        errors += "]";
        JsonObject summary;
        summary.add("file", path)
            .add("frames", static_cast<std::uint64_t>(frames))
            .add("width", width)
            .add("height", height)
            .add("fps", fps)
            .add("bytes", static_cast<std::uint64_t>(bytes))
            .add("seconds", elapsed)
            .add("stopped_by_user", stopped)
            .add("complete", complete)
            .add_raw("errors", errors);
        io.out << summary.str() << "\n";
    } else {
        progress.out << "recorded " << frames << (frames == 1 ? " frame" : " frames") << " of " << width << " x "
                     << height << " into " << path << ": " << fixed1(fps) << " fps, " << human_size(bytes) << ", "
                     << fixed1(elapsed) << " s\n";
        if (stopped) progress.out << "stopped by the user\n";
    }
    if (!complete) {
        const bool camera_failed = std::find(codes.begin(), codes.end(), ZBX_ERR_FRAME_TIMEOUT) != codes.end();
        return print_failure(io, "record",
                             frames == 0 && camera_failed ? "the camera delivered no frames"
                             : camera_failed             ? "the camera stopped delivering frames"
                                                         : "the recording was cut short",
                             codes, context);
    }
    return kExitOk;
}

}  // namespace zbxcam
