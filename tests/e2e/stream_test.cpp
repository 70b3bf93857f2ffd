// The frame queue through its C interface and the C++ layer against the
// virtual camera: pixels, numbering, metadata, holding, cancel, bad input.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "e2e/e2e_session.h"
#include "zorbex/stream.h"
#include "zorbex/vcam.h"
#include "zorbex/zorbex.h"
#include "zorbex/zorbex.hpp"

namespace zbx::test {
namespace {

using Clock = std::chrono::steady_clock;

class Stream : public OpenSession {
protected:
    void SetUp() override {
        OpenSession::SetUp();
        ASSERT_EQ(Zorbex_SetPreviewWindow(h_, nullptr, 0, 0, 0, 0), 1);
        ASSERT_EQ(Zorbex_SetWaitTime(h_, 0), 1);
        ZbxVcamScene scene{};
        scene.kind = ZBX_VCAM_SCENE_CHART;
        scene.moving = 0;
        ASSERT_EQ(ZbxVcam_SetScene(0, &scene), ZBX_VCAM_OK);
        ASSERT_EQ(ZbxVcam_SetPacing(0, ZBX_VCAM_UNPACED), ZBX_VCAM_OK);
    }
    void TearDown() override {
        if (stream_ != nullptr) {
            EXPECT_EQ(ZbxStream_Close(stream_), ZBX_OK);
        }
        OpenSession::TearDown();
    }
    void open_stream(std::uint32_t buffers, std::uint32_t delivery = ZBX_DELIVER_ALL,
                     std::uint32_t output = ZBX_OUTPUT_DEVELOPED) {
        ZbxStreamConfig config = ZBX_STREAM_CONFIG_INIT;
        config.buffer_count = buffers;
        config.delivery = delivery;
        config.output = output;
        ASSERT_EQ(ZbxStream_Open(h_, &config, &stream_), ZBX_OK);
    }
    const ZbxFrame* next(std::int32_t timeout_ms = 5000) {
        const ZbxFrame* f = nullptr;
        EXPECT_EQ(ZbxStream_Wait(stream_, timeout_ms, &f), ZBX_OK);
        return f;
    }
    std::vector<std::uint8_t> snapshot(std::size_t size) {
        std::vector<std::uint8_t> still(size);
        EXPECT_EQ(Zorbex_SnapShot(h_, still.data(), static_cast<int>(size), 1), 1);
        return still;
    }

    ZbxStream* stream_ = nullptr;
};

// Colour mode bits, and whether a caller buffer makes the session develop
// its own picture too (the frame is then copied into the queue).
struct PixelCase {
    int bits;
    bool session_consumer;
};

class StreamPixels : public Stream, public testing::WithParamInterface<PixelCase> {};

TEST_P(StreamPixels, EveryFrameOfAStillSceneEqualsASnapshot) {
    const PixelCase c = GetParam();
    ASSERT_EQ(Zorbex_SetColorMode(h_, c.bits), 1);
    open_stream(3);
    ZbxFrameFormat format{};
    ASSERT_EQ(ZbxStream_GetFormat(stream_, &format), ZBX_OK);
    EXPECT_EQ(format.width, 1280);
    EXPECT_EQ(format.height, 720);
    EXPECT_EQ(format.size, static_cast<std::size_t>(format.stride) * 720);
    const std::vector<std::uint8_t> still = snapshot(format.size);
    std::vector<std::uint8_t> caller(format.size);
    ZbxWindow callback = nullptr;
    if (c.session_consumer) {
        callback = ZbxWin_CreateMessageWindow();
        ASSERT_EQ(Zorbex_CallBackPreview(h_, callback, caller.data(), static_cast<int>(caller.size()), 1), 1);
    } else {
        ASSERT_EQ(ZbxStream_Start(stream_), ZBX_OK);
    }
    for (int i = 0; i < 4; ++i) {
        const ZbxFrame* f = next();
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f->format, static_cast<std::uint32_t>(format.format));
        EXPECT_EQ(f->size, format.size);
        EXPECT_EQ(std::memcmp(f->data, still.data(), still.size()), 0) << "frame " << f->sequence;
        EXPECT_EQ(ZbxStream_Release(stream_, f), ZBX_OK);
    }
    EXPECT_EQ(ZbxStream_Stop(stream_), ZBX_OK);
    if (c.session_consumer) {
        EXPECT_EQ(std::memcmp(caller.data(), still.data(), still.size()), 0);
    }
    ZbxWin_DestroyWindow(callback);
}

INSTANTIATE_TEST_SUITE_P(Modes, StreamPixels,
                         testing::Values(PixelCase{8, false}, PixelCase{16, false}, PixelCase{24, false},
                                         PixelCase{32, false}, PixelCase{48, false}, PixelCase{64, false},
                                         PixelCase{24, true}, PixelCase{16, true}),
                         [](const auto& info) {
                             return std::to_string(info.param.bits) + (info.param.session_consumer ? "Shared" : "");
                         });

// A flat red scene lights only the red filter sites of the mosaic, wherever
// the mirroring puts them.
class StreamRaw : public Stream, public testing::WithParamInterface<std::tuple<int, bool, bool>> {};

TEST_P(StreamRaw, MosaicAndItsFilterOrderAgree) {
    const auto [bits, mirror_h, mirror_v] = GetParam();
    ZbxVcamScene scene{};
    scene.kind = ZBX_VCAM_SCENE_FLAT;
    scene.flat_red = 3000;
    ASSERT_EQ(ZbxVcam_SetScene(0, &scene), ZBX_VCAM_OK);
    ASSERT_EQ(Zorbex_SetColorMode(h_, bits), 1);
    ASSERT_EQ(Zorbex_SetMirrorH(h_, mirror_h ? 1 : 0), 1);
    ASSERT_EQ(Zorbex_SetMirrorV(h_, mirror_v ? 1 : 0), 1);
    open_stream(2, ZBX_DELIVER_ALL, ZBX_OUTPUT_RAW);
    ASSERT_EQ(ZbxStream_Start(stream_), ZBX_OK);
    const ZbxFrame* f = next();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->format, bits == 16 ? ZBX_FORMAT_RAW16 : ZBX_FORMAT_RAW8);
    ASSERT_NE(f->bayer, ZBX_BAYER_NONE);
    // Where red sits in the 2 x 2 cell the order names.
    const int red_x = (f->bayer == ZBX_BAYER_GRBG || f->bayer == ZBX_BAYER_BGGR) ? 1 : 0;
    const int red_y = (f->bayer == ZBX_BAYER_GBRG || f->bayer == ZBX_BAYER_BGGR) ? 1 : 0;
    const auto sample = [&](int x, int y) -> unsigned {
        const auto* row = static_cast<const std::uint8_t*>(f->data) + static_cast<std::size_t>(y) * f->stride;
        if (bits == 16) {
            std::uint16_t v = 0;
            std::memcpy(&v, row + 2 * x, 2);
            return v;
        }
        return row[x];
    };
    for (int y = 100; y < 104; ++y)
        for (int x = 200; x < 204; ++x) {
            const bool red = (x & 1) == red_x && (y & 1) == red_y;
            if (red) {
                EXPECT_GT(sample(x, y), 0u) << x << "," << y;
            } else {
                EXPECT_EQ(sample(x, y), 0u) << x << "," << y;
            }
        }
    EXPECT_EQ(ZbxStream_Release(stream_, f), ZBX_OK);
}

INSTANTIATE_TEST_SUITE_P(Mirrors, StreamRaw,
                         testing::Combine(testing::Values(8, 16), testing::Bool(), testing::Bool()));

TEST_F(Stream, NumbersAreContiguousWhenTheProgramKeepsUpAndCarryTheSettings) {
    ASSERT_EQ(Zorbex_SetColorMode(h_, 24), 1);
    ASSERT_EQ(Zorbex_SetExposureTime(h_, 800), 1);
    ASSERT_EQ(Zorbex_SetGlobalGain(h_, 3), 1);
    open_stream(4);
    ASSERT_EQ(ZbxStream_Start(stream_), ZBX_OK);
    int ok = 0;
    const int exposure_us = Zorbex_GetRealExposureTime(h_, &ok);
    std::uint64_t previous_time = 0;
    for (std::uint64_t expected = 1; expected <= 30; ++expected) {
        const ZbxFrame* f = next();
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f->sequence, expected);
        EXPECT_EQ(f->dropped, 0u);
        EXPECT_EQ(f->exposure_lines, 800);
        EXPECT_EQ(f->exposure_us, exposure_us);
        EXPECT_EQ(f->gain, 3);
        EXPECT_EQ(f->flags & ZBX_FRAME_TRIGGERED, 0u);
        EXPECT_GT(f->timestamp_ns, previous_time);
        previous_time = f->timestamp_ns;
        EXPECT_EQ(ZbxStream_Release(stream_, f), ZBX_OK);
    }
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const std::uint64_t now_ns = static_cast<std::uint64_t>(now.tv_sec) * 1000000000u + now.tv_nsec;
    EXPECT_LE(previous_time, now_ns);
    EXPECT_GT(previous_time + 2000000000u, now_ns);
}

TEST_F(Stream, HeldFramesNeverChangeAndDropsEqualTheGaps) {
    ASSERT_EQ(Zorbex_SetColorMode(h_, 8), 1);
    ZbxVcamScene scene{};
    scene.kind = ZBX_VCAM_SCENE_CHART;
    scene.moving = 1;  // every frame differs
    ASSERT_EQ(ZbxVcam_SetScene(0, &scene), ZBX_VCAM_OK);
    open_stream(3);
    ASSERT_EQ(ZbxStream_Start(stream_), ZBX_OK);
    std::vector<const ZbxFrame*> held;
    std::vector<std::vector<std::uint8_t>> copies;
    for (int i = 0; i < 3; ++i) {
        held.push_back(next());
        ASSERT_NE(held.back(), nullptr);
        const auto* p = static_cast<const std::uint8_t*>(held.back()->data);
        copies.emplace_back(p, p + held.back()->size);
    }
    // Every buffer is held: the camera goes on and its frames are dropped.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    for (std::size_t i = 0; i < held.size(); ++i)
        EXPECT_EQ(std::memcmp(held[i]->data, copies[i].data(), copies[i].size()), 0);
    const std::uint64_t last_held = held.back()->sequence;
    for (const ZbxFrame* f : held) EXPECT_EQ(ZbxStream_Release(stream_, f), ZBX_OK);
    const ZbxFrame* after = next();
    ASSERT_NE(after, nullptr);
    EXPECT_GT(after->dropped, 0u);
    EXPECT_EQ(after->sequence - last_held - 1, after->dropped);
    ZbxStreamStats stats{};
    ASSERT_EQ(ZbxStream_GetStats(stream_, &stats), ZBX_OK);
    EXPECT_GE(stats.dropped, after->dropped);
    EXPECT_EQ(ZbxStream_Release(stream_, after), ZBX_OK);
}

TEST_F(Stream, LentBuffersReceiveTheFrames) {
    // 32 bits: the fourth byte of each pixel is not the demosaic's, and the
    // lent memory is not clean, yet the frame equals a snapshot.
    ASSERT_EQ(Zorbex_SetColorMode(h_, 32), 1);
    open_stream(0);
    ZbxFrameFormat format{};
    ASSERT_EQ(ZbxStream_GetFormat(stream_, &format), ZBX_OK);
    std::vector<std::vector<std::uint64_t>> memory(2, std::vector<std::uint64_t>(format.size / 8 + 1, ~0ull));
    int tags[2] = {0, 1};
    EXPECT_EQ(ZbxStream_AddBuffer(stream_, memory[0].data(), format.size - 1, nullptr), ZBX_ERR_BUFFER);
    EXPECT_EQ(ZbxStream_AddBuffer(stream_, reinterpret_cast<char*>(memory[0].data()) + 1, format.size, nullptr),
              ZBX_ERR_BUFFER);
    for (int i = 0; i < 2; ++i) ASSERT_EQ(ZbxStream_AddBuffer(stream_, memory[i].data(), format.size, &tags[i]), ZBX_OK);
    const std::vector<std::uint8_t> still = snapshot(format.size);
    ASSERT_EQ(ZbxStream_Start(stream_), ZBX_OK);
    const ZbxFrame* f = next();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->data, memory[f->buffer_index].data());
    EXPECT_EQ(f->user, &tags[f->buffer_index]);
    EXPECT_EQ(std::memcmp(f->data, still.data(), still.size()), 0);
    EXPECT_EQ(ZbxStream_Release(stream_, f), ZBX_OK);
    // A colour mode with larger frames does not fit the lent memory.
    EXPECT_EQ(ZbxStream_Stop(stream_), ZBX_OK);
    ASSERT_EQ(Zorbex_SetColorMode(h_, 64), 1);
    EXPECT_EQ(ZbxStream_Start(stream_), ZBX_ERR_BUFFER);
}

TEST_F(Stream, LatestOnlyHandsOutTheNewestFrame) {
    ASSERT_EQ(ZbxVcam_SetPacing(0, ZBX_VCAM_PACED), ZBX_VCAM_OK);
    open_stream(3, ZBX_DELIVER_LATEST);
    ASSERT_EQ(ZbxStream_Start(stream_), ZBX_OK);
    const ZbxFrame* first = next();
    ASSERT_NE(first, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // about 9 frames at 45 per second
    const ZbxFrame* latest = next(0);
    ASSERT_NE(latest, nullptr);
    EXPECT_GT(latest->dropped, 2u);
    EXPECT_EQ(latest->sequence, first->sequence + latest->dropped + 1);
    EXPECT_EQ(ZbxStream_Release(stream_, first), ZBX_OK);
    EXPECT_EQ(ZbxStream_Release(stream_, latest), ZBX_OK);
}

TEST_F(Stream, TriggeredFramesAreMarked) {
    ZbxStreamConfig config = ZBX_STREAM_CONFIG_INIT;
    config.trigger = 1;
    ASSERT_EQ(ZbxStream_Open(h_, &config, &stream_), ZBX_OK);
    ASSERT_EQ(ZbxStream_Start(stream_), ZBX_OK);
    const ZbxFrame* none = nullptr;
    EXPECT_EQ(ZbxStream_Wait(stream_, 100, &none), ZBX_ERR_TIMEOUT);
    ASSERT_EQ(ZbxVcam_FireTrigger(0), ZBX_VCAM_OK);
    const ZbxFrame* f = next();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->sequence, 1u);
    EXPECT_NE(f->flags & ZBX_FRAME_TRIGGERED, 0u);
    EXPECT_EQ(ZbxStream_Release(stream_, f), ZBX_OK);
    std::uint64_t period = 1;
    EXPECT_EQ(ZbxCamera_GetFramePeriod(h_, &period), ZBX_OK);
    EXPECT_EQ(period, 0u);  // frames come with the triggers
}

TEST_F(Stream, FramePeriodFollowsTheExposure) {
    std::uint64_t period = 0;
    open_stream(2);
    ASSERT_EQ(ZbxStream_Start(stream_), ZBX_OK);
    ASSERT_EQ(ZbxCamera_GetFramePeriod(h_, &period), ZBX_OK);
    EXPECT_NEAR(static_cast<double>(period), 1e9 / 45.08, 1e9 / 45.08 * 0.02);
    ASSERT_EQ(ZbxStream_Stop(stream_), ZBX_OK);
    ASSERT_EQ(Zorbex_SetExposureTime(h_, 2 * (720 + 32)), 1);
    // Before the start: what the settings will give.
    std::uint64_t ahead = 0;
    ASSERT_EQ(ZbxCamera_GetFramePeriod(h_, &ahead), ZBX_OK);
    EXPECT_NEAR(static_cast<double>(ahead), 2.0 * static_cast<double>(period), static_cast<double>(period) * 0.02);
    ASSERT_EQ(ZbxStream_Start(stream_), ZBX_OK);
    std::uint64_t longer = 0;
    ASSERT_EQ(ZbxCamera_GetFramePeriod(h_, &longer), ZBX_OK);
    EXPECT_EQ(longer, ahead);
}

TEST_F(Stream, AStartThatFailsSaysWhy) {
    // Another session streams from the camera: it is in use.
    const ZbxHandle other = Zorbex_Initialize(window_);
    ASSERT_NE(other, 0u);
    ASSERT_EQ(Zorbex_StartPreview(other), 1);
    open_stream(2);
    EXPECT_EQ(ZbxStream_Start(stream_), ZBX_ERR_DEVICE_UNAVAILABLE);
    EXPECT_EQ(Zorbex_Release(other), 1);
}

TEST_F(Stream, RecordingStatusCountsFramesAndTellsHowItEnded) {
    const std::string path = testing::TempDir() + "stream-record-" + std::to_string(::getpid()) + ".avi";
    ASSERT_EQ(ZbxVcam_SetPacing(0, ZBX_VCAM_PACED), ZBX_VCAM_OK);
    ZbxRecordingStatus status{};
    EXPECT_EQ(ZbxCamera_GetRecording(h_, nullptr), ZBX_ERR_PARAMETER);
    for (const bool unplug : {false, true}) {
        ASSERT_EQ(Zorbex_Record(h_, path.c_str(), unplug ? 60000 : 400, 0), 1);
        ASSERT_EQ(ZbxCamera_GetRecording(h_, &status), ZBX_OK);
        EXPECT_EQ(status.running, 1);
        if (unplug) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            ASSERT_EQ(ZbxVcam_Unplug(0), ZBX_VCAM_OK);
        }
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        while (ZbxCamera_GetRecording(h_, &status) == ZBX_OK && status.running != 0 && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(status.running, 0);
        EXPECT_GT(status.frames, 3u);
        EXPECT_GT(status.rate_centi, 0u);
        EXPECT_EQ(status.end_code, unplug ? ZBX_ERR_FRAME_TIMEOUT : ZBX_OK);
        (void)Zorbex_StopPreview(h_);
    }
    std::remove(path.c_str());
}

TEST_F(Stream, CancelWakesAWaitingThreadAtOnce) {
    ASSERT_EQ(ZbxVcam_StopFrames(0, 1), ZBX_VCAM_OK);
    open_stream(2);
    ASSERT_EQ(ZbxStream_Start(stream_), ZBX_OK);
    std::atomic<int> result{-1};
    std::thread waiter([&] {
        const ZbxFrame* f = nullptr;
        result = ZbxStream_Wait(stream_, -1, &f);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto cancelled = Clock::now();
    ASSERT_EQ(ZbxStream_Cancel(stream_), ZBX_OK);
    waiter.join();
    EXPECT_EQ(result.load(), ZBX_ERR_CANCELLED);
    EXPECT_LT(Clock::now() - cancelled, std::chrono::seconds(1));  // no hang; the time is measured in bench/
    ASSERT_EQ(ZbxVcam_StopFrames(0, 0), ZBX_VCAM_OK);
}

TEST_F(Stream, AnUnpluggedCameraEndsTheWaitWithItsError) {
    open_stream(2);
    ASSERT_EQ(ZbxStream_Start(stream_), ZBX_OK);
    const ZbxFrame* f = next();
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(ZbxVcam_Unplug(0), ZBX_VCAM_OK);
    const ZbxFrame* g = nullptr;
    int code = ZBX_OK;
    for (int i = 0; i < 100 && code == ZBX_OK; ++i) {
        code = ZbxStream_Wait(stream_, 10000, &g);
        if (code == ZBX_OK) {
            EXPECT_EQ(ZbxStream_Release(stream_, g), ZBX_OK);
        }
    }
    EXPECT_EQ(code, ZBX_ERR_FRAME_TIMEOUT);
    EXPECT_EQ(ZbxStream_Release(stream_, f), ZBX_OK);
}

TEST_F(Stream, BadInputGivesClearErrors) {
    ZbxStreamConfig config = ZBX_STREAM_CONFIG_INIT;
    ZbxStream* s = nullptr;
    EXPECT_EQ(ZbxStream_Open(h_, nullptr, &s), ZBX_ERR_PARAMETER);
    EXPECT_EQ(ZbxStream_Open(h_, &config, nullptr), ZBX_ERR_PARAMETER);
    EXPECT_EQ(ZbxStream_Open(h_ + 1000, &config, &s), ZBX_ERR_INVALID_HANDLE);
    for (auto mutate : {+[](ZbxStreamConfig& c) { c.buffer_count = 1025; }, +[](ZbxStreamConfig& c) { c.delivery = 2; },
                        +[](ZbxStreamConfig& c) { c.output = 7; }, +[](ZbxStreamConfig& c) { c.struct_size = 4; }}) {
        ZbxStreamConfig bad = config;
        mutate(bad);
        EXPECT_EQ(ZbxStream_Open(h_, &bad, &s), ZBX_ERR_PARAMETER);
    }
    config.buffer_count = 0;
    ASSERT_EQ(ZbxStream_Open(h_, &config, &stream_), ZBX_OK);
    EXPECT_EQ(ZbxStream_Start(stream_), ZBX_ERR_BUFFER);  // no buffer at all
    EXPECT_EQ(ZbxStream_Open(h_, &config, &s), ZBX_ERR_BUSY);
    const ZbxFrame* f = nullptr;
    EXPECT_EQ(ZbxStream_Wait(stream_, 0, nullptr), ZBX_ERR_PARAMETER);
    EXPECT_EQ(ZbxStream_Wait(stream_, -1, &f), ZBX_ERR_ENDED);  // not started: no wait forever
    EXPECT_EQ(ZbxStream_Release(stream_, nullptr), ZBX_ERR_PARAMETER);
    EXPECT_EQ(ZbxStream_GetStats(stream_, nullptr), ZBX_ERR_PARAMETER);
    EXPECT_EQ(ZbxStream_GetFormat(stream_, nullptr), ZBX_ERR_PARAMETER);
    EXPECT_EQ(ZbxStream_Close(stream_), ZBX_OK);
    EXPECT_EQ(ZbxStream_Close(stream_), ZBX_ERR_INVALID_HANDLE);
    EXPECT_EQ(ZbxStream_Wait(stream_, 0, &f), ZBX_ERR_INVALID_HANDLE);
    stream_ = nullptr;
    EXPECT_EQ(ZbxStream_Wait(nullptr, 0, &f), ZBX_ERR_INVALID_HANDLE);
    EXPECT_EQ(ZbxCamera_GetFramePeriod(h_, nullptr), ZBX_ERR_PARAMETER);
}

TEST_F(Stream, HeldFramesOutliveTheQueueAndTheSession) {
    open_stream(2);
    ASSERT_EQ(ZbxStream_Start(stream_), ZBX_OK);
    const ZbxFrame* f = next();
    ASSERT_NE(f, nullptr);
    const std::vector<std::uint8_t> copy(static_cast<const std::uint8_t*>(f->data),
                                         static_cast<const std::uint8_t*>(f->data) + f->size);
    close();  // the session goes while the frame is held
    // Frames already queued are still handed out; then the end is told.
    const ZbxFrame* g = nullptr;
    int code = ZBX_OK;
    while ((code = ZbxStream_Wait(stream_, -1, &g)) == ZBX_OK) EXPECT_EQ(ZbxStream_Release(stream_, g), ZBX_OK);
    EXPECT_EQ(code, ZBX_ERR_INVALID_HANDLE);
    EXPECT_EQ(ZbxStream_Close(stream_), ZBX_OK);
    EXPECT_EQ(std::memcmp(f->data, copy.data(), copy.size()), 0);
    EXPECT_EQ(ZbxStream_Release(stream_, f), ZBX_OK);
    EXPECT_EQ(ZbxStream_Release(stream_, f), ZBX_ERR_INVALID_HANDLE);  // the handle is gone now
    stream_ = nullptr;
}

TEST_F(Stream, CppRangeGivesBuffersBackAndThrowsNamedErrors) {
    ASSERT_EQ(Zorbex_SetColorMode(h_, 16), 1);
    {
        zorbex::Stream frames(h_, {.buffers = 2, .count = 10});
        std::uint64_t expected = 1;
        for (const zorbex::Frame& frame : frames) {
            EXPECT_EQ(frame.sequence(), expected++);
            EXPECT_EQ(frame.samples<std::uint16_t>(0).size(), 1280u);
            EXPECT_LE(*std::max_element(frame.samples<std::uint16_t>(5).begin(), frame.samples<std::uint16_t>(5).end()),
                      4095);
        }
        EXPECT_EQ(expected, 11u);  // two buffers carried ten frames: each went back
        EXPECT_EQ(frames.stats().held, 0u);
    }
    try {
        zorbex::Stream second(h_, {.buffers = 1025});
        ADD_FAILURE() << "1025 buffers accepted";
    } catch (const zorbex::Error& e) {
        EXPECT_EQ(e.code(), ZBX_ERR_PARAMETER);
        EXPECT_STREQ(e.name(), "ERR_PARAMETER");
    }
}

}  // namespace
}  // namespace zbx::test
