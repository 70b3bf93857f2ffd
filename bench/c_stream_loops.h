// Callback streaming through the C interface, as an application of the
// library gets it, for benchmarks that compare another consumer (the
// GStreamer element, the Python package) with it in one run.
//
// Both loops: colour mode 24 (BGR) at 1280 x 720, no adjustments, no wait,
// no preview window, the unpaced virtual camera in slot 0.
// - CInterfaceStream counts frame messages into one caller buffer, also
//   those whose picture the next frame overwrote before it was looked at.
// - CInterfaceHandOver keeps every picture intact: per frame message it hands
//   the library its other buffer and keeps the one just filled, and counts
//   the frames it lost.
//
// The including program defines zbx_bench::private_environment(), which
// points settings and the camera table at places of its own (called before
// every camera is set up).
#pragma once

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/settings_store.h"
#include "zorbex/vcam.h"
#include "zorbex/window.h"
#include "zorbex/zorbex.h"

namespace zbx_bench {

// Defined by the including program; idempotent.
void private_environment();

// A first-run camera: no saved settings, a reset virtual camera, paced or not.
inline void fresh_camera(bool paced) {
    private_environment();
    (void)zbx::platform::delete_settings_tree("Software\\Tevrun\\Zorbex530RDNQTSdk");
    (void)ZbxVcam_Reset();
    (void)ZbxVcam_SetPacing(0, paced ? ZBX_VCAM_PACED : ZBX_VCAM_UNPACED);
}

// Waits for the next frame message; false when none came within ~10 s.
[[nodiscard]] inline bool next_frame(ZbxWindow window) {
    ZbxMessage m{};
    for (int tries = 0; tries < 100; ++tries) {
        if (ZbxWin_WaitMessage(window, &m, 100) == 0) continue;
        if (m.message == ZBX_MSG_FRAME && m.wparam != 0) return true;
    }
    return false;
}

// Frame messages are counted whether or not the picture was still in the
// buffer when the message was taken.  With start false the session is only
// set up; hand_over starts it.
class CInterfaceStream {
public:
    explicit CInterfaceStream(bool start = true) : buffer_(static_cast<std::size_t>(1280) * 720 * 3) {
        fresh_camera(false);
        h_ = Zorbex_Initialize(notify_);
        (void)Zorbex_SetColorMode(h_, 24);
        (void)Zorbex_SetWaitTime(h_, 0);
        (void)Zorbex_SetPreviewWindow(h_, nullptr, 0, 0, 0, 0);
        started_ = start && hand_over(buffer_) && next_frame(frames_);
    }
    ~CInterfaceStream() {
        (void)Zorbex_Close(h_);
        (void)Zorbex_Release(h_);
        (void)ZbxWin_DestroyWindow(frames_);
        (void)ZbxWin_DestroyWindow(notify_);
    }
    CInterfaceStream(const CInterfaceStream&) = delete;
    CInterfaceStream& operator=(const CInterfaceStream&) = delete;

    [[nodiscard]] bool started() const { return started_; }
    [[nodiscard]] bool next() { return next_frame(frames_); }
    [[nodiscard]] ZbxWindow window() const { return frames_; }
    // The library copies the next frames into `buffer` (starts streaming).
    [[nodiscard]] bool hand_over(std::vector<std::uint8_t>& buffer) {
        return Zorbex_CallBackPreview(h_, frames_, buffer.data(), static_cast<int>(buffer.size()), 1) == 1;
    }

private:
    ZbxWindow notify_ = ZbxWin_CreateMessageWindow();
    ZbxWindow frames_ = ZbxWin_CreateMessageWindow();
    ZbxHandle h_ = 0;
    std::vector<std::uint8_t> buffer_;
    bool started_ = false;
};

// A mark at the end of each buffer (overwritten by any frame) tells a frame
// that went into the buffer given before, so the one that buffer held was
// lost; frames queued behind a message are lost too.
class CInterfaceHandOver {
public:
    CInterfaceHandOver() {
        for (auto& buffer : buffers_) buffer.resize(static_cast<std::size_t>(1280) * 720 * 3);
        mark(0);
        started_ = give(0) && next_frame(frames_.window());
    }
    CInterfaceHandOver(const CInterfaceHandOver&) = delete;
    CInterfaceHandOver& operator=(const CInterfaceHandOver&) = delete;

    [[nodiscard]] bool started() const { return started_; }
    [[nodiscard]] std::uint64_t lost() const { return lost_; }
    // The next intact frame; false when none came.
    [[nodiscard]] bool next() {
        for (;;) {
            const std::size_t filled = given_;
            const std::size_t other = 1 - filled;
            mark(other);
            if (!next_frame(frames_.window()) || !give(other)) return false;
            ZbxMessage queued{};
            while (ZbxWin_PeekMessage(frames_.window(), &queued, 1) != 0)
                if (queued.message == ZBX_MSG_FRAME && queued.wparam != 0) ++lost_;
            if (!marked(filled)) return true;
            ++lost_;
        }
    }

private:
    void mark(std::size_t i) {
        ++generation_;
        std::memcpy(buffers_[i].data() + buffers_[i].size() - sizeof generation_, &generation_, sizeof generation_);
        marks_[i] = generation_;
    }
    [[nodiscard]] bool marked(std::size_t i) const {
        return std::memcmp(buffers_[i].data() + buffers_[i].size() - sizeof marks_[i], &marks_[i],
                           sizeof marks_[i]) == 0;
    }
    [[nodiscard]] bool give(std::size_t i) {
        given_ = i;
        return frames_.hand_over(buffers_[i]);
    }

    // Before the session: the library may copy into a buffer until the
    // session is closed, so the buffers must outlive it.
    std::vector<std::uint8_t> buffers_[2];
    CInterfaceStream frames_{false};
    std::uint64_t marks_[2] = {};
    std::uint64_t generation_ = 0x5a0b0000'00000000u;
    std::size_t given_ = 0;
    std::uint64_t lost_ = 0;
    bool started_ = false;
};

// Takes one frame per iteration from a started C-interface stream; false
// when the stream did not start.
template <typename Stream>
bool run_c_stream(benchmark::State& state, Stream& stream) {
    if (!stream.started()) {
        state.SkipWithError("streaming did not start");
        return false;
    }
    for (auto _ : state) {
        if (!stream.next()) {
            state.SkipWithError("no frame");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
    return true;
}

}  // namespace zbx_bench
