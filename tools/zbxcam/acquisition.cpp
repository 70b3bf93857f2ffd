#include "acquisition.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "interrupt.h"
#include "output_path.h"

namespace zbxcam {

namespace {

// The 32-byte record of a frame message.
struct FrameRecord {
    std::int32_t size;
    std::int32_t width;
    std::int32_t height;
    std::int32_t bits;
    std::int32_t rate_tenths;
};

class MessageWindow {
public:
    MessageWindow() : window_(ZbxWin_CreateMessageWindow()) {}
    ~MessageWindow() {
        if (window_) ZbxWin_DestroyWindow(window_);
    }
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;
    [[nodiscard]] ZbxWindow get() const { return window_; }

private:
    ZbxWindow window_;
};

}  // namespace

bool count_stream_message(const ZbxMessage& message, StreamStats& stats,
                          std::chrono::steady_clock::time_point start) {
    if (message.message != ZBX_MSG_FRAME) return false;
    if (message.wparam == 0) {
        const int code = static_cast<int>(message.lparam);
        ++stats.failures[code];
        // The library ends the stream when frames stop coming.
        return code == ZBX_ERR_FRAME_TIMEOUT;
    }
    FrameRecord record{};
    std::memcpy(&record, reinterpret_cast<const void*>(message.wparam), sizeof record);
    ++stats.frames;
    stats.width = record.width;
    stats.height = record.height;
    stats.bits = record.bits;
    // The library's rate appears after its first second; until then show
    // what has been counted here.
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    stats.rate_tenths = record.rate_tenths > 0 ? record.rate_tenths
                        : elapsed > 0 ? static_cast<int>(static_cast<double>(stats.frames) * 10.0 / elapsed)
                                      : 0;
    return false;
}

std::string human_size(std::uintmax_t bytes) {
    char text[32];
    if (bytes >= 1024 * 1024)
        std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    else if (bytes >= 1024)
        std::snprintf(text, sizeof text, "%.0f KB", static_cast<double>(bytes) / 1024.0);
    else
        std::snprintf(text, sizeof text, "%ju bytes", bytes);
    return text;
}

int print_unwritable(Io& io, std::string_view command, const std::string& path, std::string_view why) {
    ErrorContext context;
    context.file = path;
    io.err << "zbxcam " << command << ": cannot write " << path << ": " << describe_error(ZBX_ERR_FILE, context)
           << " (" << why << ")\n";
    return kExitFailure;
}

int take_frame(Camera& camera, Io& io, std::string_view command) {
    camera.take_errors();
    if (!Zorbex_SnapShot(camera.handle(), nullptr, 0, 1))
        return camera.fail(io, command, "could not take a frame");
    return kExitOk;
}

int save_frame(Camera& camera, Io& io, std::string_view command, const std::string& path,
               const FileFormat& format) {
    if (const std::string problem = output_path_problem(path); !problem.empty())
        return print_unwritable(io, command, path, problem);
    camera.take_errors();
    if (Zorbex_SaveImage(camera.handle(), path.c_str(), format.number)) return kExitOk;
    std::vector<int> codes = camera.take_errors();
    if (!codes.empty()) {
        ErrorContext context = camera.context();
        context.file = path;
        return print_failure(io, command, "could not save " + path, codes, context);
    }
    // The library reports file and writer failures by the result only.
    return print_unwritable(io, command, path, "the " + std::string(format.description) + " writer failed");
}

int stream_for(Camera& camera, Io& io, std::string_view command, double seconds, StreamStats& stats) {
    const ZbxHandle h = camera.handle();
    camera.take_errors();
    // Frames come through a queue; the library need not paint a window.
    if (!Zorbex_SetPreviewWindow(h, nullptr, 0, 0, 0, 0))
        return camera.fail(io, command, "could not set up streaming");
    ZbxStreamConfig config = ZBX_STREAM_CONFIG_INIT;
    ZbxStream* stream = nullptr;
    int code = ZbxStream_Open(h, &config, &stream);
    if (code == ZBX_OK) {
        code = ZbxStream_Start(stream);
        if (code != ZBX_OK) (void)ZbxStream_Close(stream);
    }
    if (code != ZBX_OK) {
        ErrorContext context = camera.context();
        std::vector<int> codes = camera.take_errors();
        if (codes.empty()) codes.push_back(code);
        return print_failure(io, command, "could not start streaming", codes, context);
    }

    // Ctrl-C ends a stream cleanly: a stream left running would keep the
    // camera marked in use for every other process.
    const InterruptCatcher interrupt;
    stats.duration_s = seconds;
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    Clock::time_point last_draw = start;
    const auto draw_every = io.live ? std::chrono::milliseconds(200) : std::chrono::milliseconds(1000);
    int ended = ZBX_OK;
    std::size_t drawn_length = 0;
    // The rate over about a second of capture times.
    std::uint64_t rate_mark_ns = 0;
    std::uint64_t rate_mark_frames = 0;

    auto draw = [&] {
        const std::string line = format_status(stats);
        if (io.live) {
            // Pad over a longer previous line.
            io.out << "\r" << line << std::string(drawn_length > line.size() ? drawn_length - line.size() : 0, ' ');
            drawn_length = line.size();
        } else {
            io.out << line << "\n";
        }
        io.out.flush();
    };

    while (!interrupt_requested() && ended == ZBX_OK) {
        const Clock::time_point now = Clock::now();
        stats.elapsed_s = std::chrono::duration<double>(now - start).count();
        if (seconds > 0 && stats.elapsed_s >= seconds) break;
        if (now - last_draw >= draw_every) {
            draw();
            last_draw = now;
        }
        const ZbxFrame* frame = nullptr;
        code = ZbxStream_Wait(stream, 50, &frame);
        if (code == ZBX_ERR_TIMEOUT) continue;
        if (code != ZBX_OK) {
            ended = code;
            break;
        }
        ++stats.frames;
        stats.dropped += frame->dropped;
        stats.width = frame->width;
        stats.height = frame->height;
        constexpr int kBits[] = {8, 16, 24, 32, 48, 64};
        stats.bits = frame->format < 6 ? kBits[frame->format] : 0;
        if (rate_mark_ns == 0) {
            rate_mark_ns = frame->timestamp_ns;
            rate_mark_frames = stats.frames;
        } else if (frame->timestamp_ns - rate_mark_ns >= 1'000'000'000u) {
            stats.rate_tenths = static_cast<int>((stats.frames - rate_mark_frames) * 10'000'000'000u /
                                                 (frame->timestamp_ns - rate_mark_ns));
            rate_mark_ns = frame->timestamp_ns;
            rate_mark_frames = stats.frames;
        }
        (void)ZbxStream_Release(stream, frame);
    }
    stats.elapsed_s = std::chrono::duration<double>(Clock::now() - start).count();
    draw();
    if (io.live) io.out << "\n";

    const int stopped = ZbxStream_Close(stream);
    // What the library recorded during the run (frames it could not read,
    // the camera going away) fails the command.
    ErrorContext context = camera.context();
    std::vector<int> codes = camera.take_errors();
    if (ended != ZBX_OK && ended != ZBX_ERR_ENDED && std::find(codes.begin(), codes.end(), ended) == codes.end())
        codes.push_back(ended);
    for (const int c : codes) ++stats.failures[c];
    io.out << format_summary(stats) << "\n";
    if (interrupt_requested()) io.out << "stopped by the user\n";
    if (!codes.empty()) return print_failure(io, command, "streaming ended", codes, context);
    if (stopped != ZBX_OK) return camera.fail(io, command, "could not stop streaming");
    return kExitOk;
}

}  // namespace zbxcam
