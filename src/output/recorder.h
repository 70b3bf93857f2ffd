// The recorder: the record thread that turns the session's newest developed
// frame into 24-bit AVI frames for a given duration, and a small owner of
// that thread.  It reaches the session only through RecordSource, so it
// knows nothing of cameras or sessions.
//
// Handshake: the streaming thread develops a frame under the frame lock and
// then calls Recorder::NotifyNewFrame (sets the new-frame flag).  The record
// thread polls every 10 ms, takes and clears the flag, and under the frame
// lock converts the output buffer and appends it to the file.  Frames
// developed between two polls are not recorded.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "output/avi_writer.h"
#include "pipeline/image_buffer.h"
#include "platform/sync.h"
#include "platform/threads.h"

namespace zbx::output {

inline constexpr std::uint32_t kRecordPollMs = 10;
// How often the measured frame rate is written into the open file.
inline constexpr std::uint32_t kRecordRateUpdateMs = 1000;

// Flags shared by the application's thread, the streaming thread and the
// record thread; borrowed.
struct RecordFlags {
    std::atomic<std::int32_t>& recording;  // 1 while a recording runs
    std::atomic<std::int32_t>& new_frame;  // set per developed frame, cleared when taken
    std::atomic<std::uint32_t>& start_ms;  // tick of the first frame taken
    std::atomic<std::uint32_t>& end_ms;    // the duration until the first frame, then start + duration
    // Where programs read how far a recording got (may be null): frames
    // written, and the measured rate once the file is finished.
    std::atomic<std::uint32_t>* written = nullptr;
    std::atomic<std::uint32_t>* rate = nullptr;
};

// Why a record thread ended.  Every end but kNoBuffers leaves a finished,
// indexed file holding exactly the frames written.
enum class RecordEnd {
    kDuration,     // the first frame taken after the duration was recorded
    kStopped,      // the recording flag was cleared
    kStreamEnded,  // the stream delivers no more frames
    kFileFull,     // the next frame would have passed the AVI 1.0 size limit
    kWriteFailed,  // the system refused a frame's bytes (disk full, I/O error)
    kNoBuffers,    // no output buffer or no conversion buffers; the file is finished empty
};

// What the record thread needs of its session.
class RecordSource {
public:
    virtual ~RecordSource() = default;
    // The session's frame lock, guarding the developed buffers.
    virtual platform::CriticalSection& frame_lock() = 0;
    // The current colour mode's output buffer (rows top of picture first),
    // or null.  Called with frame_lock() held.
    virtual pipeline::CImageBuffer* output_buffer() = 0;
    // Millisecond ticks of the multimedia clock.
    virtual std::uint32_t now_ms();
    // The pause between two polls.
    virtual void pause_ms(std::uint32_t ms);
    // True once the stream the recording rides on has ended (unplugged
    // camera, no frames): no frame will come any more.
    virtual bool stream_ended() { return false; }
    // Record thread, after it finished the file: how the recording ended.
    virtual void recording_ended(RecordEnd /*end*/) {}
};

// Converts a developed output buffer into the AVI's bottom-up 24-bit
// picture, in three buffers made once per recording.
class RecordConverter {
public:
    // Makes the buffers for pictures of this size; false when one cannot
    // be had.
    [[nodiscard]] bool Prepare(std::int32_t width, std::int32_t height);
    void Release();
    // The picture from `output` (top row first, 8, 16, 24, 32, 48 or 64
    // bits per pixel, the size given to Prepare): rows bottom first,
    // blue-green-red, 4-byte aligned.  Null when `output` does not match.
    const pipeline::CImageBuffer* Convert(pipeline::CImageBuffer& output);

private:
    pipeline::CImageBuffer first_;   // 24 bits
    pipeline::CImageBuffer second_;  // 24 bits
    pipeline::CImageBuffer grey_;    // 8 bits
};

// 8-bit grey to 24-bit colour through the source's colour table (`params`:
// 256 RgbQuad entries; equal bytes without one), same rows.  What the
// platform block copy does; used when a buffer has no device context.
int Gray8To24(std::uint8_t* dst, const std::uint8_t* src, const pipeline::Rect* src_rect,
              std::int32_t dst_x, std::int32_t dst_y, std::uint16_t dst_bytes_pp,
              std::uint16_t src_bytes_pp, std::int32_t dst_stride, std::int32_t src_stride,
              void* params, void* extra);

// Frame rate in hundredths of a frame per second for `frames` taken over
// `elapsed_ms`, never 0: 30 fps when no time passed.
[[nodiscard]] std::uint32_t MeasuredRate(std::uint32_t frames, std::uint32_t elapsed_ms);

// Record steps before the thread: under the frame lock the output buffer's
// size into the writer, Open(name), then recording = 1, start = 0,
// end = duration, new-frame = 0.  1, or 0 when there is no output buffer
// or the file cannot be opened (flags untouched).  Caller's thread.
[[nodiscard]] int BeginRecording(CAviWriter& writer, RecordSource& source, RecordFlags flags,
                                 const char* name, std::uint32_t duration_ms);

// The record thread's body (record thread; takes the frame lock per frame).
// Returns when the duration has passed, the recording flag is cleared, the
// stream ends, or the file cannot grow; in every case the file is finished (index, sizes,
// measured rate) and closed, the writer's rate and count are 0 and the
// recording flag, start and end are cleared.
RecordEnd RunRecordThread(CAviWriter& writer, RecordFlags flags, RecordSource& source);

// Owns the writer, the flags and the record thread of one session.
// Start/Stop/~Recorder: application threads (serialised inside), never with
// the frame lock held, since they wait for a thread that takes it.
// NotifyNewFrame: the streaming thread, after each developed frame.  The
// source must outlive the recorder (or Stop must come first).
class Recorder {
public:
    enum class StartResult { kStarted, kOpenFailed, kThreadFailed };

    explicit Recorder(RecordSource& source) : source_(source) {}
    ~Recorder() { Stop(); }
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // Ends a running recording first (its file is finished), then opens
    // `name` and starts the record thread.  kOpenFailed: no output buffer
    // or the file cannot be created; kThreadFailed: no thread (the file is
    // finished empty).
    [[nodiscard]] StartResult Start(const char* name, std::uint32_t duration_ms);
    // Clears the recording flag and waits for the record thread, which
    // finishes the file.  No frame is written after it returns.
    void Stop();
    // After each developed frame.
    void NotifyNewFrame() { new_frame_.store(1, std::memory_order_release); }

    [[nodiscard]] bool recording() const { return recording_.load() != 0; }
    // How the last record thread ended (kStopped before any ended).
    [[nodiscard]] RecordEnd last_end() const { return last_end_.load(); }
    [[nodiscard]] RecordFlags flags() {
        return RecordFlags{recording_, new_frame_, start_ms_, end_ms_, &written_, &rate_};
    }
    // Frames the running or last recording wrote, and its measured rate in
    // hundredths of a frame per second (0 until it is finished).
    [[nodiscard]] std::uint32_t frames_written() const { return written_.load(); }
    [[nodiscard]] std::uint32_t measured_rate() const { return rate_.load(); }

private:
    RecordSource& source_;
    std::mutex control_;  // serialises Start and Stop
    CAviWriter writer_;   // the record thread's between Open and Finish
    std::atomic<std::int32_t> recording_{0};
    std::atomic<std::int32_t> new_frame_{0};
    std::atomic<std::uint32_t> start_ms_{0};
    std::atomic<std::uint32_t> end_ms_{0};
    std::atomic<RecordEnd> last_end_{RecordEnd::kStopped};
    std::atomic<std::uint32_t> written_{0};
    std::atomic<std::uint32_t> rate_{0};
    platform::Thread thread_;
};

}  // namespace zbx::output
