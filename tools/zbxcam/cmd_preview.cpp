// zbxcam preview: streams into the library's own preview window, with
// frames, frame rate and failures in its title, until the window is closed,
// the time is up or Ctrl-C.  Needs the library's acquisition and window
// exports.
#include <csignal>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "acquisition.h"
#include "camera.h"
#include "capture_settings.h"
#include "commands.h"
#include "status_line.h"
#include "zorbex/window.h"
#include "zorbex/zorbex.h"

namespace zbxcam {

namespace {

volatile std::sig_atomic_t g_preview_stop = 0;
void request_preview_stop(int) { g_preview_stop = 1; }

// Ctrl-C closes the preview cleanly instead of leaving the camera in use.
class StopOnCtrlC {
public:
    StopOnCtrlC() {
        g_preview_stop = 0;
        struct sigaction action {};
        action.sa_handler = request_preview_stop;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, &old_int_);
        ::sigaction(SIGTERM, &action, &old_term_);
    }
    ~StopOnCtrlC() {
        ::sigaction(SIGINT, &old_int_, nullptr);
        ::sigaction(SIGTERM, &old_term_, nullptr);
    }
    StopOnCtrlC(const StopOnCtrlC&) = delete;
    StopOnCtrlC& operator=(const StopOnCtrlC&) = delete;
    [[nodiscard]] bool requested() const { return g_preview_stop != 0; }

private:
    struct sigaction old_int_ {};
    struct sigaction old_term_ {};
};

std::vector<ZbxWindow> top_level_windows() {
    std::vector<ZbxWindow> windows(256);
    const int n = ZbxWin_GetTopLevelWindows(windows.data(), static_cast<int>(windows.size()));
    windows.resize(static_cast<std::size_t>(n < 256 ? n : 256));
    return windows;
}

}  // namespace

int run_preview(const CommandInput& input, const StreamRequest& request) {
    Io& io = input.io;
    const std::unique_ptr<Camera> camera = Camera::open(io, "preview", input.global.camera);
    if (!camera) return kExitFailure;
    if (int status = apply_capture_settings(*camera, request.settings, io, "preview"); status != kExitOk)
        return status;
    const ZbxHandle h = camera->handle();
    ZbxWindow frames = ZbxWin_CreateMessageWindow();
    if (frames == nullptr) {
        io.err << "zbxcam preview: could not create a message window\n";
        return kExitFailure;
    }
    camera->take_errors();
    // The library's own top-level window, sized to the image and centred.
    const std::vector<ZbxWindow> before = top_level_windows();
    if (!Zorbex_SetPreviewWindow(h, nullptr, 0, 0, 1280, 720) || !Zorbex_CallBackPreview(h, frames, nullptr, 0, 1)) {
        ZbxWin_DestroyWindow(frames);
        return camera->fail(io, "preview", "could not start the preview");
    }
    ZbxWindow window = nullptr;
    for (ZbxWindow w : top_level_windows())
        if (std::find(before.begin(), before.end(), w) == before.end()) window = w;
    if (window != nullptr && ZbxWin_GetX11Window(window) != 0)
        io.out << "preview window open: close it or press Ctrl-C to stop\n";
    else
        io.out << "no X display (DISPLAY unset or unreachable): previewing headless; Ctrl-C stops\n";

    StopOnCtrlC interrupt;
    StreamStats stats;
    stats.duration_s = request.seconds;
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    Clock::time_point last_title = start;
    bool closed = false;
    bool camera_stopped = false;
    while (!interrupt.requested() && !camera_stopped) {
        stats.elapsed_s = std::chrono::duration<double>(Clock::now() - start).count();
        if (request.seconds > 0 && stats.elapsed_s >= request.seconds) break;
        if (window != nullptr && !ZbxWin_IsWindow(window)) {
            closed = true;  // the user closed it
            break;
        }
        if (Clock::now() - last_title >= std::chrono::milliseconds(250) && window != nullptr) {
            const std::string title = "Active Window - " + format_status(stats);
            (void)ZbxWin_SetTitle(window, title.c_str());
            last_title = Clock::now();
        }
        ZbxMessage message{};
        if (!ZbxWin_WaitMessage(frames, &message, 50)) continue;
        if (count_stream_message(message, stats, start)) camera_stopped = true;
    }
    stats.elapsed_s = std::chrono::duration<double>(Clock::now() - start).count();
    (void)Zorbex_Close(h);
    ZbxWin_DestroyWindow(frames);
    io.out << format_summary(stats) << "\n";
    if (closed) io.out << "preview window closed\n";
    if (interrupt.requested()) io.out << "stopped by the user\n";
    camera->take_errors();
    if (camera_stopped) io.err << "zbxcam preview: the camera stopped delivering frames\n";
    return camera_stopped ? kExitFailure : kExitOk;
}

}  // namespace zbxcam
