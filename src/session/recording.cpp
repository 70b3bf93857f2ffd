#include "session/recording.h"

#include <array>
#include <mutex>

#include "platform/text.h"
#include "session/acquisition.h"
#include "session/preview.h"
#include "session/zorbex.h"

namespace zbx::session {

namespace {

// The narrow name must fit a 1024-byte buffer that keeps a zero at its end.
constexpr std::size_t kMaxNarrowName = 1023;

}  // namespace

platform::CriticalSection& SessionRecordSource::frame_lock() { return session_.frame_lock(); }

pipeline::CImageBuffer* SessionRecordSource::output_buffer() { return session_.output_buffer(); }

bool SessionRecordSource::stream_ended() { return session_.acquisition_control().stream_failed(); }

void SessionRecordSource::recording_ended(output::RecordEnd end) {
    if (end == output::RecordEnd::kWriteFailed || end == output::RecordEnd::kFileFull) session_.report(ERR_FILE);
}

int Recording::record(const char* name, std::uint32_t duration_ms, int show) {
    if (name == nullptr || name[0] == '\0') {
        session_.report(ERR_PARAMETER);
        return 0;
    }
    // Held as Preview holds it, so no Stop or start runs in between.
    std::lock_guard control(session_.acquisition_control().control_lock());

    // Frames are no longer announced or copied to the application.
    CaptureTarget& target = session_.capture_target();
    target.callback_window = nullptr;
    target.buffer = nullptr;
    target.length = 0;
    target.copy_flag = 0;

    PreviewWindow& preview = session_.preview_window();
    if (show != 0 && preview.configured() && !preview.open()) {
        session_.report(ERR_WINDOW);
        return 0;
    }
    if (session_.acquisition_control().start() == 0) return fail_after_start(ERR_FILE);

    switch (recorder_.Start(name, duration_ms)) {
        case output::Recorder::StartResult::kStarted:
            return 1;
        case output::Recorder::StartResult::kOpenFailed:
            return fail_after_start(ERR_FILE);
        case output::Recorder::StartResult::kThreadFailed:
            break;
    }
    return fail_after_start(ERR_THREAD_START);
}

int Recording::record(const char16_t* name, std::uint32_t duration_ms, int show) {
    std::array<char, kMaxNarrowName + 1> narrow{};
    if (!platform::wide_to_narrow(name, narrow.data(), kMaxNarrowName)) {
        session_.report(ERR_FILE);
        return 0;
    }
    return record(narrow.data(), duration_ms, show);
}

int Recording::fail_after_start(std::int32_t code) {
    // Closing the preview also stops streaming and any recording.
    (void)session_.preview_window().close_all();
    session_.report(code);
    return 0;
}

std::int32_t Recording::end_code() const {
    switch (recorder_.last_end()) {
        case output::RecordEnd::kDuration:
        case output::RecordEnd::kStopped: return ERR_NONE;
        case output::RecordEnd::kStreamEnded: return ERR_FRAME_TIMEOUT;
        case output::RecordEnd::kFileFull:
        case output::RecordEnd::kWriteFailed: return ERR_FILE;
        case output::RecordEnd::kNoBuffers: return ERR_MEMORY;
    }
    return ERR_NONE;
}

}  // namespace zbx::session
