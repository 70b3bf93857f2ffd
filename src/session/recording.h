// Recording of a session: the AVI recorder riding on streaming, the source
// through which its record thread reaches the session's developed frames,
// and the session operation behind the record exports.
#pragma once

#include <cstdint>

#include "output/recorder.h"

namespace zbx::session {

class CZorbex;

// The session's frame lock and current output buffer, for the record thread.
class SessionRecordSource final : public output::RecordSource {
public:
    explicit SessionRecordSource(CZorbex& session) : session_(session) {}
    platform::CriticalSection& frame_lock() override;
    pipeline::CImageBuffer* output_buffer() override;
    // The streaming thread has ended on a failed stream.
    bool stream_ended() override;
    // A recording cut short by a refused write (disk full) or the file size
    // limit is reported as error 12; the stream's own end was reported by
    // the acquisition thread.  Record thread.
    void recording_ended(output::RecordEnd end) override;

private:
    CZorbex& session_;
};

class Recording {
public:
    explicit Recording(CZorbex& session) : session_(session), source_(session), recorder_(source_) {}
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;

    // `Zorbex_Record`: starts streaming (and the preview window when `show`
    // and one is configured), opens `name` and records for `duration_ms`.
    // 1 started; 0 with error 9 (no name), 4 (no window), 12 (no streaming
    // or the file cannot be created) or 3 (no record thread).  A recording
    // already running is finished first.  Application thread, no lock held.
    int record(const char* name, std::uint32_t duration_ms, int show);
    // `Zorbex_RecordW`: the name converted to narrow text first (error 12
    // when it cannot be or needs 1024 bytes or more).
    int record(const char16_t* name, std::uint32_t duration_ms, int show);

    // After each developed frame: the streaming thread, frame lock held.
    void notify_new_frame() { recorder_.NotifyNewFrame(); }
    // Ends a running recording (its file is finished) and waits for the
    // record thread.  Never with the frame lock held: that thread takes it.
    void stop() { recorder_.Stop(); }
    [[nodiscard]] bool recording() const { return recorder_.recording(); }
    // Frames written by the running or last recording, its measured rate
    // (hundredths of a frame per second, once finished) and how it ended
    // as an error code (0: its duration passed or it was stopped).
    [[nodiscard]] std::uint32_t frames_written() const { return recorder_.frames_written(); }
    [[nodiscard]] std::uint32_t measured_rate() const { return recorder_.measured_rate(); }
    [[nodiscard]] std::int32_t end_code() const;

private:
    // Undoes the preview and streaming a failed start brought up, and
    // reports `code`.
    int fail_after_start(std::int32_t code);

    CZorbex& session_;
    SessionRecordSource source_;
    output::Recorder recorder_;
};

}  // namespace zbx::session
