// Needs the library's recording exports.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "acquisition.h"
#include "capture_settings.h"
#include "commands.h"
#include "interrupt.h"
#include "json.h"
#include "output_path.h"

namespace zbxcam {

namespace {

// The library's AVI file: headers up to the first frame chunk, one chunk of
// 8 + F bytes per frame; the RIFF size at offset 4 is 0 until the file is
// finished, the frame count sits at 48 and the time per frame at 32.
constexpr std::uintmax_t kFirstFrameAt = 232;
constexpr int kOneDayMs = 86'400'000;

struct AviHeader {
    std::uint32_t riff_size = 0;
    std::uint32_t microseconds_per_frame = 0;
    std::uint32_t frames = 0;
};

std::uint32_t le32(const unsigned char* b) {
    return static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
           static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}

AviHeader read_header(const std::string& path) {
    AviHeader header;
    std::ifstream in(path, std::ios::binary);
    unsigned char bytes[52] = {};
    if (!in.read(reinterpret_cast<char*>(bytes), sizeof bytes)) return header;
    header.riff_size = le32(bytes + 4);
    header.microseconds_per_frame = le32(bytes + 32);
    header.frames = le32(bytes + 48);
    return header;
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
    // Every frame is stored as 24-bit rows padded to 4 bytes.
    const std::uintmax_t chunk = 8 + static_cast<std::uintmax_t>(height) * ((3u * static_cast<unsigned>(width) + 3u) & ~3u);

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
    while (!interrupt_requested()) {
        std::error_code ec;
        bytes = std::filesystem::file_size(path, ec);
        if (ec) bytes = 0;
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        // The library finished the file: the duration has passed.
        if (read_header(path).riff_size != 0) break;
        frames = bytes > kFirstFrameAt ? (bytes - kFirstFrameAt) / chunk : 0;
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
    camera->take_errors();
    elapsed = std::chrono::duration<double>(Clock::now() - start).count();

    const AviHeader header = read_header(path);
    std::error_code ec;
    bytes = std::filesystem::file_size(path, ec);
    if (ec) bytes = 0;
    frames = header.frames;
    const double fps = header.microseconds_per_frame > 0 ? 1e6 / header.microseconds_per_frame : 0;
    draw();
    if (progress.live) progress.out << "\n";
    const bool stopped = interrupt_requested();

    if (request.json) {
        JsonObject summary;
        summary.add("file", path)
            .add("frames", static_cast<std::uint64_t>(frames))
            .add("width", width)
            .add("height", height)
            .add("fps", fps)
            .add("bytes", static_cast<std::uint64_t>(bytes))
            .add("seconds", elapsed)
            .add("stopped_by_user", stopped)
            .add("complete", header.riff_size != 0);
        io.out << summary.str() << "\n";
    } else {
        progress.out << "recorded " << frames << (frames == 1 ? " frame" : " frames") << " of " << width << " x "
                     << height << " into " << path << ": " << fixed1(fps) << " fps, " << human_size(bytes) << ", "
                     << fixed1(elapsed) << " s\n";
        if (stopped) progress.out << "stopped by the user\n";
    }
    if (header.riff_size == 0) {
        io.err << "zbxcam record: the library did not finish " << path << "\n";
        return kExitFailure;
    }
    if (!stopped && (gave_up || frames == 0)) {
        ErrorContext context = camera->context();
        const int codes[] = {ZBX_ERR_FRAME_TIMEOUT};
        return print_failure(io, "record", frames == 0 ? "the camera delivered no frames" : "the camera stopped delivering frames", codes, context);
    }
    return kExitOk;
}

}  // namespace zbxcam
