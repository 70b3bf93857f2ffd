// Snapshots, capture mode, streaming and trigger mode through the exported
// functions against the virtual camera, as an application uses them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "e2e/e2e_session.h"
#include "support/child_process.h"
#include "zorbex/vcam.h"
#include "zorbex/window.h"
#include "zorbex/zorbex.h"

namespace zbx::test {
namespace {

// The library rewrites the record per frame while the application reads it.
template <typename T>
T read_field(const T& field) {
    return __atomic_load_n(&field, __ATOMIC_RELAXED);
}

constexpr int kWidth = 1280;
constexpr int kHeight = 720;

int stride_of(int width, int bits) { return (width * (bits / 8) + 3) & ~3; }

// The next 0x8002 message within `timeout_ms`; false when none came.
bool next_frame_message(ZbxWindow window, ZbxMessage* out, std::uint32_t timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < deadline) {
        ZbxMessage m{};
        if (ZbxWin_WaitMessage(window, &m, 50) != 0 && m.message == ZBX_MSG_FRAME) {
            *out = m;
            return true;
        }
    }
    return false;
}

void set_flat_scene(std::uint16_t red, std::uint16_t green, std::uint16_t blue) {
    ZbxVcamScene scene{};
    scene.kind = ZBX_VCAM_SCENE_FLAT;
    scene.flat_red = red;
    scene.flat_green = green;
    scene.flat_blue = blue;
    ASSERT_EQ(ZbxVcam_SetScene(0, &scene), ZBX_VCAM_OK);
}

void set_still_chart() {
    ZbxVcamScene scene{};
    scene.kind = ZBX_VCAM_SCENE_CHART;
    scene.moving = 0;
    ASSERT_EQ(ZbxVcam_SetScene(0, &scene), ZBX_VCAM_OK);
}

class Acquisition : public OpenSession {
protected:
    void SetUp() override {
        OpenSession::SetUp();
        ASSERT_EQ(ZbxVcam_SetPacing(0, ZBX_VCAM_UNPACED), ZBX_VCAM_OK);
        frames_ = ZbxWin_CreateMessageWindow();
        ASSERT_NE(frames_, nullptr);
        // No preview window unless a test asks for one.
        ASSERT_EQ(Zorbex_SetPreviewWindow(h_, nullptr, 0, 0, 0, 0), 1);
        ASSERT_EQ(Zorbex_SetWaitTime(h_, 0), 1);
        ASSERT_EQ(Zorbex_SetExposureTime(h_, 637), 1);
        ASSERT_EQ(Zorbex_SetGlobalGain(h_, 0), 1);
    }
    void TearDown() override {
        OpenSession::TearDown();
        ZbxWin_DestroyWindow(frames_);
    }

    std::vector<std::uint8_t> snapshot(int bits, int copy_flag, int width = kWidth, int height = kHeight) {
        std::vector<std::uint8_t> image(static_cast<std::size_t>(stride_of(width, bits)) * height, 0xEE);
        EXPECT_EQ(Zorbex_SnapShot(h_, image.data(), static_cast<int>(image.size()), copy_flag), 1);
        return image;
    }

    ZbxWindow frames_ = nullptr;
};

// ---- Snapshots --------------------------------------------------------------

TEST_F(Acquisition, SnapshotDevelopsTheSceneInEveryColourMode) {
    // 12-bit scene values; 8-bit samples carry them divided by 16.
    set_flat_scene(2000, 1000, 500);
    struct Case {
        int bits;
        int reported;
    };
    for (const Case c : {Case{8, 8}, Case{16, 12}, Case{24, 24}, Case{32, 32}, Case{48, 44}, Case{64, 60}}) {
        SCOPED_TRACE(c.bits);
        ASSERT_EQ(Zorbex_SetColorMode(h_, c.bits), 1);
        EXPECT_EQ(Zorbex_GetColorMode(h_), c.reported);
        const std::vector<std::uint8_t> image = snapshot(c.bits, 1);
        EXPECT_EQ(history(), std::vector<int>{});
        const std::size_t stride = static_cast<std::size_t>(stride_of(kWidth, c.bits));
        const int x = 640;
        const int y = 360;
        const std::uint8_t* row = image.data() + stride * y;
        const std::uint8_t* next = row + stride;
        const auto u16 = [](const std::uint8_t* p) { return static_cast<int>(p[0] | (p[1] << 8)); };
        switch (c.bits) {
            case 8:  // the mosaic as read: G R on even rows, B G on odd rows
                EXPECT_NEAR(row[x], 62, 1);
                EXPECT_NEAR(row[x + 1], 125, 1);
                EXPECT_NEAR(next[x], 31, 1);
                EXPECT_NEAR(next[x + 1], 62, 1);
                break;
            case 16:
                EXPECT_NEAR(u16(row + 2 * x), 1000, 2);
                EXPECT_NEAR(u16(row + 2 * (x + 1)), 2000, 2);
                EXPECT_NEAR(u16(next + 2 * x), 500, 2);
                break;
            case 24:
            case 32: {
                const std::uint8_t* p = row + x * (c.bits / 8);
                EXPECT_NEAR(p[0], 31, 2);   // blue
                EXPECT_NEAR(p[1], 62, 2);   // green
                EXPECT_NEAR(p[2], 125, 2);  // red
                break;
            }
            default: {
                const std::uint8_t* p = row + x * (c.bits / 8);
                EXPECT_NEAR(u16(p), 500, 8);
                EXPECT_NEAR(u16(p + 2), 1000, 8);
                EXPECT_NEAR(u16(p + 4), 2000, 8);
            }
        }
        // The caller's buffer is exactly the developed image.
        std::vector<std::uint8_t> again(image.size());
        EXPECT_EQ(Zorbex_GetImage(h_, again.data(), static_cast<int>(again.size()), 1), 1);
        EXPECT_EQ(again, image);
    }
}

TEST_F(Acquisition, CopyFlagChoosesTheRowOrder) {
    set_still_chart();
    ASSERT_EQ(Zorbex_SetColorMode(h_, 24), 1);
    const std::vector<std::uint8_t> top_first = snapshot(24, 1);
    const std::vector<std::uint8_t> bottom_first = snapshot(24, 0);
    const std::size_t stride = static_cast<std::size_t>(stride_of(kWidth, 24));
    bool symmetric = true;
    for (int r = 0; r < kHeight / 2 && symmetric; ++r)
        symmetric = std::memcmp(top_first.data() + stride * r, top_first.data() + stride * (kHeight - 1 - r), stride) == 0;
    EXPECT_FALSE(symmetric) << "the chart must not be the same upside down for this test";
    for (int r = 0; r < kHeight; ++r) {
        ASSERT_EQ(std::memcmp(top_first.data() + stride * r, bottom_first.data() + stride * (kHeight - 1 - r), stride),
                  0)
            << "row " << r;
    }
}

TEST_F(Acquisition, PaddedRowsAreMovedToTheirStride) {
    set_still_chart();
    ASSERT_EQ(Zorbex_SetColorMode(h_, 8), 1);
    const std::vector<std::uint8_t> full = snapshot(8, 1);
    // 1278 samples a row, stored in rows of 1280 bytes.
    ASSERT_EQ(Zorbex_SetCaptureWindowEx(h_, 1280, 2, 1278, 720, 0, 720), 1);
    EXPECT_EQ(Zorbex_Width(h_), 1278);
    const std::vector<std::uint8_t> window = snapshot(8, 1, 1278, kHeight);
    for (int r = 0; r < kHeight; r += 7) {
        ASSERT_EQ(std::memcmp(window.data() + 1280 * r, full.data() + 1280 * r + 2, 1278), 0) << "row " << r;
    }
}

TEST_F(Acquisition, SnapshotBufferAndReadFailures) {
    ASSERT_EQ(Zorbex_SetColorMode(h_, 24), 1);
    const int needed = stride_of(kWidth, 24) * kHeight;
    std::vector<std::uint8_t> image(static_cast<std::size_t>(needed));
    // No buffer: a frame is taken and kept for later copies.
    EXPECT_EQ(Zorbex_SnapShot(h_, nullptr, 0, 1), 1);
    EXPECT_EQ(Zorbex_GetImage(h_, image.data(), needed, 1), 1);
    EXPECT_EQ(Zorbex_GetImage(h_, nullptr, needed, 1), 0);
    EXPECT_EQ(history(), (std::vector<int>{5}));
    // One byte short: the copy and the snapshot both report.
    EXPECT_EQ(Zorbex_SnapShot(h_, image.data(), needed - 1, 1), 0);
    EXPECT_EQ(history(), (std::vector<int>{5, 5}));
    // A frame read that fails.
    ASSERT_EQ(ZbxVcam_FailFrameReads(0, 1), ZBX_VCAM_OK);
    EXPECT_EQ(Zorbex_SnapShot(h_, image.data(), needed, 1), 0);
    EXPECT_EQ(history(), (std::vector<int>{8}));
    EXPECT_EQ(Zorbex_SnapShot(h_, image.data(), needed, 1), 1);
}

// ---- Capture mode and modes that exclude each other ---------------------------------

TEST_F(Acquisition, CaptureModeTakesRepeatedSnapshots) {
    ASSERT_EQ(Zorbex_SetColorMode(h_, 8), 1);
    EXPECT_EQ(Zorbex_Capture(h_), 1);
    EXPECT_EQ(Zorbex_Capture(h_), 1);
    for (int i = 0; i < 3; ++i) (void)snapshot(8, 1);
    EXPECT_EQ(Zorbex_StartPreview(h_), 0);
    EXPECT_EQ(Zorbex_Trigger(h_, frames_, nullptr, 0, 1), 0);
    EXPECT_EQ(history(), (std::vector<int>{1, 1}));
    EXPECT_EQ(Zorbex_StopPreview(h_), 1);
    EXPECT_EQ(Zorbex_StartPreview(h_), 1);
    EXPECT_EQ(Zorbex_StopPreview(h_), 1);
}

TEST_F(Acquisition, StopWithNothingRunningReturnsOne) {
    EXPECT_EQ(Zorbex_StopPreview(h_), 1);
    EXPECT_EQ(Zorbex_StopPreview(h_), 1);
    EXPECT_EQ(history(), std::vector<int>{});
}

// ---- Streaming ------------------------------------------------------------------

TEST_F(Acquisition, StreamingPostsFrameRecordsAndFillsTheCallerBuffer) {
    ASSERT_EQ(ZbxVcam_SetPacing(0, ZBX_VCAM_PACED), ZBX_VCAM_OK);
    set_still_chart();
    ASSERT_EQ(Zorbex_SetColorMode(h_, 24), 1);
    const int length = stride_of(kWidth, 24) * kHeight;
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(length));
    ASSERT_EQ(Zorbex_CallBackPreview(h_, frames_, buffer.data(), length, 1), 1);

    ZbxMessage m{};
    ASSERT_TRUE(next_frame_message(frames_, &m, 3000));
    EXPECT_EQ(m.lparam, 0);
    const auto* record = reinterpret_cast<const ZbxFrameRecord*>(m.wparam);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(read_field(record->size), 32u);
    EXPECT_EQ(read_field(record->width), kWidth);
    EXPECT_EQ(read_field(record->height), kHeight);
    EXPECT_EQ(read_field(record->bits_per_pixel), 24);
    EXPECT_EQ(read_field(record->buffer), buffer.data());

    // The rate in the record (tenths of frames per second) agrees with the
    // frames that arrive, and the paced camera gives at most ~45 a second.
    int frames = 0;
    const auto begin = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - begin < std::chrono::milliseconds(2300))
        if (next_frame_message(frames_, &m, 200)) ++frames;
    const double elapsed_ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin).count();
    const double counted = frames * 10000.0 / elapsed_ms;
    const int rate = read_field(reinterpret_cast<const ZbxFrameRecord*>(m.wparam)->frame_rate);
    EXPECT_GT(rate, 0);
    EXPECT_NEAR(rate, counted, 0.35 * counted + 20);
    EXPECT_LT(rate, 600);

    EXPECT_EQ(Zorbex_StopPreview(h_), 1);
    std::vector<std::uint8_t> current(buffer.size());
    EXPECT_EQ(Zorbex_GetImage(h_, current.data(), length, 1), 1);
    EXPECT_EQ(current, buffer);
    EXPECT_EQ(history(), std::vector<int>{});
}

// An application that hands the library a new buffer per frame message
// owns the old one as soon as the call returns: no copy still under way
// may write into it afterwards.
TEST_F(Acquisition, ABufferReplacedWhileStreamingIsNeverWrittenAgain) {
    set_flat_scene(1000, 2000, 3000);
    ASSERT_EQ(Zorbex_SetColorMode(h_, 24), 1);
    const int length = stride_of(kWidth, 24) * kHeight;
    constexpr std::uint8_t kMark = 0xA5;
    std::array<std::vector<std::uint8_t>, 2> buffers{std::vector<std::uint8_t>(static_cast<std::size_t>(length)),
                                                     std::vector<std::uint8_t>(static_cast<std::size_t>(length))};
    ASSERT_EQ(Zorbex_CallBackPreview(h_, frames_, buffers[0].data(), length, 1), 1);
    ZbxMessage m{};
    ASSERT_TRUE(next_frame_message(frames_, &m, 3000));
    int written_after_release = 0;
    for (int round = 1; round <= 100; ++round) {
        std::vector<std::uint8_t>& given = buffers[round % 2];
        std::vector<std::uint8_t>& released = buffers[(round + 1) % 2];
        ASSERT_EQ(Zorbex_CallBackPreview(h_, frames_, given.data(), length, 1), 1);
        std::fill(released.begin(), released.end(), kMark);
        for (int frame = 0; frame < 2; ++frame) ASSERT_TRUE(next_frame_message(frames_, &m, 3000));
        if (std::any_of(released.begin(), released.end(), [](std::uint8_t v) { return v != kMark; }))
            ++written_after_release;
    }
    EXPECT_EQ(written_after_release, 0);
    EXPECT_EQ(Zorbex_StopPreview(h_), 1);
}

TEST_F(Acquisition, StartAndSnapshotWhileStreaming) {
    ASSERT_EQ(Zorbex_CallBackPreview(h_, frames_, nullptr, 0, 1), 1);
    ZbxMessage m{};
    ASSERT_TRUE(next_frame_message(frames_, &m, 3000));
    EXPECT_EQ(Zorbex_StartPreview(h_), 1);
    std::vector<std::uint8_t> image(static_cast<std::size_t>(stride_of(kWidth, 24)) * kHeight);
    EXPECT_EQ(Zorbex_SnapShot(h_, image.data(), static_cast<int>(image.size()), 1), 0);
    EXPECT_EQ(Zorbex_Capture(h_), 0);
    EXPECT_EQ(Zorbex_Trigger(h_, frames_, nullptr, 0, 1), 0);
    EXPECT_EQ(history(), (std::vector<int>{1, 1, 1}));
    // Streaming goes on.
    ZbxMessage stale{};
    while (ZbxWin_PeekMessage(frames_, &stale, 1) != 0) {
    }
    EXPECT_TRUE(next_frame_message(frames_, &m, 3000));
    EXPECT_EQ(Zorbex_StopPreview(h_), 1);
}

TEST_F(Acquisition, TooSmallCallerBufferSkipsTheFrameMessage) {
    std::vector<std::uint8_t> small(100);
    ASSERT_EQ(Zorbex_CallBackPreview(h_, frames_, small.data(), 100, 1), 1);
    ZbxMessage m{};
    bool failure_seen = false;
    for (int i = 0; i < 5 && ZbxWin_WaitMessage(frames_, &m, 3000) != 0; ++i) {
        EXPECT_EQ(m.message, ZBX_MSG_FRAME);
        EXPECT_EQ(m.wparam, 0u) << "no frame record may be sent for a frame that was not copied";
        failure_seen = failure_seen || m.lparam == ZBX_ERR_MEMORY;
    }
    EXPECT_TRUE(failure_seen);
    EXPECT_EQ(Zorbex_StopPreview(h_), 1);
    EXPECT_EQ(Zorbex_GetLastError(h_), ZBX_ERR_MEMORY);
}

// ---- Faults while streaming ----------------------------------------------------------

struct StreamFault {
    const char* name;
    void (*inject)();
};

class AcquisitionFault : public Acquisition, public testing::WithParamInterface<StreamFault> {};

TEST_P(AcquisitionFault, EndsTheRunWithError13AndStopStillReturns) {
    ASSERT_EQ(Zorbex_CallBackPreview(h_, frames_, nullptr, 0, 1), 1);
    ZbxMessage m{};
    ASSERT_TRUE(next_frame_message(frames_, &m, 3000));
    GetParam().inject();
    // Frames already in flight may still arrive; then the failure.
    bool failed = false;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!failed && std::chrono::steady_clock::now() < until) {
        if (next_frame_message(frames_, &m, 500)) failed = m.wparam == 0 && m.lparam == ZBX_ERR_FRAME_TIMEOUT;
    }
    EXPECT_TRUE(failed);
    EXPECT_EQ(Zorbex_GetLastError(h_), ZBX_ERR_FRAME_TIMEOUT);
    // The thread has ended: nothing more arrives.
    EXPECT_FALSE(next_frame_message(frames_, &m, 300));
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(Zorbex_StopPreview(h_), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
}

INSTANTIATE_TEST_SUITE_P(Faults, AcquisitionFault,
                         testing::Values(StreamFault{"NoFrames", [] { (void)ZbxVcam_StopFrames(0, 1); }},
                                         StreamFault{"Unplug", [] { (void)ZbxVcam_Unplug(0); }},
                                         StreamFault{"ReadFails", [] { (void)ZbxVcam_FailFrameReads(0, 1); }}),
                         [](const testing::TestParamInfo<StreamFault>& info) { return info.param.name; });

TEST_F(Acquisition, RunThatNeverDeliversEndsAfter6000ms) {
    // Unplugged before the start: the device link's run cannot open the
    // camera and ends without a transfer error.
    ASSERT_EQ(ZbxVcam_Unplug(0), ZBX_VCAM_OK);
    ASSERT_EQ(Zorbex_CallBackPreview(h_, frames_, nullptr, 0, 1), 1);
    const auto started = std::chrono::steady_clock::now();
    ZbxMessage m{};
    ASSERT_TRUE(next_frame_message(frames_, &m, 9000));
    EXPECT_EQ(m.wparam, 0u);
    EXPECT_EQ(m.lparam, ZBX_ERR_FRAME_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(5900));
    EXPECT_EQ(Zorbex_GetLastError(h_), ZBX_ERR_FRAME_TIMEOUT);
    EXPECT_EQ(Zorbex_StopPreview(h_), 1);
}

// ---- Trigger mode --------------------------------------------------------------------

TEST_F(Acquisition, TriggerModeDeliversOneFramePerTrigger) {
    ASSERT_EQ(Zorbex_SetColorMode(h_, 8), 1);
    const int length = stride_of(kWidth, 8) * kHeight;
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(length));
    ASSERT_EQ(Zorbex_Trigger(h_, frames_, buffer.data(), length, 0), 1);
    ZbxVcamStats stats{};
    ASSERT_EQ(ZbxVcam_GetStats(0, &stats), ZBX_VCAM_OK);
    EXPECT_EQ(stats.transfer_timeout_ms, 60000u);

    // A second Trigger would read single frames beside the first thread.
    EXPECT_EQ(Zorbex_Trigger(h_, frames_, buffer.data(), length, 0), 0);
    EXPECT_EQ(Zorbex_SnapShot(h_, nullptr, 0, 1), 0);
    EXPECT_EQ(Zorbex_StartPreview(h_), 0);
    EXPECT_EQ(history(), (std::vector<int>{1, 1, 1}));

    ZbxMessage m{};
    EXPECT_FALSE(next_frame_message(frames_, &m, 300)) << "no trigger, no frame";
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(ZbxVcam_FireTrigger(0), ZBX_VCAM_OK);
        ASSERT_TRUE(next_frame_message(frames_, &m, 3000)) << "trigger " << i;
        const auto* record = reinterpret_cast<const ZbxFrameRecord*>(m.wparam);
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(read_field(record->frame_rate), 0);
        EXPECT_EQ(read_field(record->bits_per_pixel), 8);
        EXPECT_EQ(read_field(record->buffer), buffer.data());
    }
    EXPECT_FALSE(next_frame_message(frames_, &m, 200));

    // Stop with the thread waiting for a trigger that never comes.
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(Zorbex_StopPreview(h_), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
    ASSERT_EQ(ZbxVcam_GetStats(0, &stats), ZBX_VCAM_OK);
    EXPECT_EQ(stats.transfer_timeout_ms, 3000u) << "the end of trigger mode sets the time-out back";
    // Idle again: other modes may start.
    EXPECT_EQ(Zorbex_SnapShot(h_, nullptr, 0, 1), 1);
}

TEST_F(Acquisition, TriggerModeUnpluggedStopsPromptly) {
    ASSERT_EQ(Zorbex_Trigger(h_, frames_, nullptr, 0, 1), 1);
    ASSERT_EQ(ZbxVcam_Unplug(0), ZBX_VCAM_OK);
    ZbxMessage m{};
    EXPECT_FALSE(next_frame_message(frames_, &m, 200));
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(Zorbex_StopPreview(h_), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
}

// A camera that refuses register writes stays in trigger mode: Stop cancels
// the read waiting for a trigger instead of waiting out its 60 s.
TEST_F(Acquisition, TriggerModeStopCancelsTheReadWhenTriggerModeCannotEnd) {
    ASSERT_EQ(Zorbex_Trigger(h_, frames_, nullptr, 0, 1), 1);
    ASSERT_EQ(ZbxVcam_SetRegisterFaults(0, 0, 1), ZBX_VCAM_OK);
    ZbxMessage m{};
    EXPECT_FALSE(next_frame_message(frames_, &m, 200));
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(Zorbex_StopPreview(h_), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(3));
    ZbxVcamStats stats{};
    ASSERT_EQ(ZbxVcam_GetStats(0, &stats), ZBX_VCAM_OK);
    EXPECT_EQ(stats.transfer_timeout_ms, 3000u);
    ASSERT_EQ(ZbxVcam_SetRegisterFaults(0, 0, 0), ZBX_VCAM_OK);
    EXPECT_EQ(Zorbex_SnapShot(h_, nullptr, 0, 1), 1);
}

// ---- Ending a run whose wait time is long ------------------------------------------------

// The pause before each streaming step ends as soon as the run is ended,
// whichever export ends it.  A hang check, with a generous bound.
class LongWaitTime : public Acquisition, public testing::WithParamInterface<int (*)(ZbxHandle)> {};

TEST_P(LongWaitTime, EndsTheRunPromptly) {
    ASSERT_EQ(Zorbex_SetWaitTime(h_, 100000), 1);
    ASSERT_EQ(Zorbex_StartPreview(h_), 1);
    ::usleep(100 * 1000);  // the thread is inside its pause
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(GetParam()(h_), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(3));
    if (GetParam() == &Zorbex_Release) h_ = 0;
}

INSTANTIATE_TEST_SUITE_P(Ends, LongWaitTime, testing::Values(&Zorbex_StopPreview, &Zorbex_Close, &Zorbex_Release),
                         [](const testing::TestParamInfo<int (*)(ZbxHandle)>& info) {
                             return std::string(info.index == 0 ? "Stop" : info.index == 1 ? "Close" : "Release");
                         });

// A camera that stops answering mid-stream: Stop cancels the transfer
// thread's read instead of waiting out the driver's 3 s time-out.
TEST_F(Acquisition, StopCancelsTheReadOfAStalledCamera) {
    ASSERT_EQ(Zorbex_StartPreview(h_), 1);
    ::usleep(200 * 1000);
    ASSERT_EQ(ZbxVcam_StopFrames(0, 1), ZBX_VCAM_OK);
    ::usleep(100 * 1000);  // the thread waits in a read
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(Zorbex_StopPreview(h_), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(2000));
    ASSERT_EQ(ZbxVcam_StopFrames(0, 0), ZBX_VCAM_OK);
}

// ---- Another process holds the camera ---------------------------------------------------

TEST_F(Acquisition, CameraStreamingInAnotherProcessIsRefused) {
    int to_parent[2];
    int to_child[2];
    ASSERT_EQ(::pipe(to_parent), 0);
    ASSERT_EQ(::pipe(to_child), 0);
    ChildProcess child([&] {
        ::close(to_parent[0]);
        ::close(to_child[1]);
        // The camera table names a streaming session by its window.
        const ZbxHandle other = Zorbex_Initialize(ZbxWin_CreateMessageWindow());
        (void)Zorbex_SetPreviewWindow(other, nullptr, 0, 0, 0, 0);
        const char started = Zorbex_StartPreview(other) == 1 ? 'y' : 'n';
        if (::write(to_parent[1], &started, 1) != 1) return 2;
        char go = 0;
        if (::read(to_child[0], &go, 1) != 1) return 3;
        const int stopped = Zorbex_StopPreview(other);
        (void)Zorbex_Release(other);
        if (::write(to_parent[1], &started, 1) != 1) return 4;
        return stopped == 1 ? 0 : 5;
    });
    ::close(to_parent[1]);
    ::close(to_child[0]);
    char started = 0;
    ASSERT_EQ(::read(to_parent[0], &started, 1), 1);
    ASSERT_EQ(started, 'y');

    EXPECT_EQ(Zorbex_StartPreview(h_), 0);
    EXPECT_EQ(history(), (std::vector<int>{1, 2}));
    EXPECT_EQ(Zorbex_SnapShot(h_, nullptr, 0, 1), 0);
    EXPECT_EQ(history(), (std::vector<int>{1, 2}));
    // Starting with a window reports the failed start once more.
    EXPECT_EQ(Zorbex_Preview(h_), 0);
    EXPECT_EQ(history(), (std::vector<int>{8, 1, 2}));

    const char go = 'g';
    ASSERT_EQ(::write(to_child[1], &go, 1), 1);
    ASSERT_EQ(::read(to_parent[0], &started, 1), 1);
    EXPECT_EQ(child.wait(), 0);
    ::close(to_parent[0]);
    ::close(to_child[1]);

    EXPECT_EQ(Zorbex_StartPreview(h_), 1);
    EXPECT_EQ(Zorbex_StopPreview(h_), 1);
}

}  // namespace
}  // namespace zbx::test
