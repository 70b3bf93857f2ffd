// Capture windows of any size and position the sensor can deliver: a window's
// picture is the same region of the full frame, pixel for pixel, whatever the
// parity of its start and size, on snapshots, streamed and triggered frames;
// windows below the sensor's minimum are refused where they are set.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "e2e_session.h"
#include "support/temp_dir.h"

namespace zbx::test {
namespace {

constexpr int kSensorWidth = 1280;
constexpr int kSensorHeight = 720;

struct Window {
    int x, y, w, h;
};

// Odd and even starts, widths and heights, the edges and the minimum size.
constexpr Window kWindows[] = {
    {100, 50, 201, 40},  {100, 50, 200, 40},   {101, 51, 200, 41}, {101, 50, 201, 39}, {1075, 3, 205, 717},
    {1, 1, 1279, 719},   {0, 0, 1279, 719},    {1276, 719, 4, 1},  {0, 0, 5, 3},       {641, 360, 7, 9},
};

int stride_of(int width, int bits) { return (width * (bits / 8) + 3) & ~3; }

struct Picture {
    int width = 0, height = 0, bits = 0;
    std::vector<std::uint8_t> bytes;
    [[nodiscard]] const std::uint8_t* pixel(int x, int y) const {
        return bytes.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(stride_of(width, bits)) +
               static_cast<std::size_t>(x) * static_cast<std::size_t>(bits / 8);
    }
};

Picture blank(int width, int height, int bits) {
    Picture p{width, height, bits, {}};
    p.bytes.resize(static_cast<std::size_t>(stride_of(width, bits)) * static_cast<std::size_t>(height));
    return p;
}

// Top row first.
Picture snapshot(ZbxHandle h, int width, int height, int bits) {
    Picture p = blank(width, height, bits);
    EXPECT_EQ(Zorbex_SnapShot(h, p.bytes.data(), static_cast<int>(p.bytes.size()), 1), 1);
    return p;
}

// Number of pixels of `window` that differ from the full frame's region at
// (fx, fy), leaving out `margin` pixels along each edge of the window (the
// demosaic takes its neighbours from inside the smaller window there).
int mismatches(const Picture& window, const Picture& full, int fx, int fy, int margin) {
    int bad = 0;
    const std::size_t bytes = static_cast<std::size_t>(window.bits / 8);
    for (int y = margin; y < window.height - margin; ++y)
        for (int x = margin; x < window.width - margin; ++x)
            if (std::memcmp(window.pixel(x, y), full.pixel(fx + x, fy + y), bytes) != 0) ++bad;
    return bad;
}

void set_still_chart() {
    ZbxVcamScene scene{};
    scene.kind = ZBX_VCAM_SCENE_CHART;
    scene.moving = 0;
    ASSERT_EQ(ZbxVcam_SetScene(0, &scene), ZBX_VCAM_OK);
}

class CaptureWindowBase : public OpenSession {
protected:
    void SetUp() override {
        OpenSession::SetUp();
        ASSERT_EQ(ZbxVcam_SetPacing(0, ZBX_VCAM_UNPACED), ZBX_VCAM_OK);
        set_still_chart();
        ASSERT_EQ(Zorbex_SetPreviewWindow(h_, nullptr, 0, 0, 0, 0), 1);
        ASSERT_EQ(Zorbex_SetWaitTime(h_, 0), 1);
    }
    bool set_window(const Window& w) {
        return Zorbex_SetCaptureWindowEx(h_, kSensorWidth, w.x, w.w, kSensorHeight, w.y, w.h) == 1;
    }
};

struct Mode {
    int bits;
    bool mirrored;
};

void PrintTo(const Mode& mode, std::ostream* os) { *os << mode.bits << (mode.mirrored ? " bits, mirrored" : " bits"); }

class CaptureWindow : public CaptureWindowBase, public testing::WithParamInterface<Mode> {};

TEST_P(CaptureWindow, SnapshotIsTheSameRegionOfTheFullFrame) {
    const Mode mode = GetParam();
    ASSERT_EQ(Zorbex_SetColorMode(h_, mode.bits), 1);
    ASSERT_EQ(Zorbex_SetMirrorH(h_, mode.mirrored ? 1 : 0), 1);
    ASSERT_EQ(Zorbex_SetMirrorV(h_, mode.mirrored ? 1 : 0), 1);
    // The colour picture of a pixel needs its neighbours up to two away.
    const int margin = mode.bits >= 24 ? 2 : 0;
    const Picture full = snapshot(h_, kSensorWidth, kSensorHeight, mode.bits);
    for (const Window& w : kWindows) {
        SCOPED_TRACE(testing::Message() << "window " << w.x << ", " << w.y << ", " << w.w << " x " << w.h);
        ASSERT_TRUE(set_window(w));
        const Picture part = snapshot(h_, w.w, w.h, mode.bits);
        // A mirrored read-out shows the window at the mirrored place.
        const int fx = mode.mirrored ? kSensorWidth - w.x - w.w : w.x;
        const int fy = mode.mirrored ? kSensorHeight - w.y - w.h : w.y;
        EXPECT_EQ(mismatches(part, full, fx, fy, margin), 0);
    }
    EXPECT_EQ(history(), std::vector<int>{});
}

INSTANTIATE_TEST_SUITE_P(Modes, CaptureWindow,
                         testing::Values(Mode{8, false}, Mode{16, false}, Mode{24, false}, Mode{8, true},
                                         Mode{24, true}),
                         [](const testing::TestParamInfo<Mode>& info) {
                             return "Bits" + std::to_string(info.param.bits) + (info.param.mirrored ? "Mirrored" : "");
                         });

// The next frame message within three seconds, or a failed one.
const ZbxFrameRecord* next_frame(ZbxWindow window) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    ZbxMessage m{};
    while (std::chrono::steady_clock::now() < deadline) {
        if (ZbxWin_WaitMessage(window, &m, 50) != 0 && m.message == ZBX_MSG_FRAME)
            return reinterpret_cast<const ZbxFrameRecord*>(m.wparam);
    }
    return nullptr;
}

TEST_F(CaptureWindowBase, StreamedTriggeredAndSavedFramesCarryTheRequestedWindow) {
    ASSERT_EQ(Zorbex_SetColorMode(h_, 8), 1);
    const Picture full = snapshot(h_, kSensorWidth, kSensorHeight, 8);
    const Window w{101, 51, 201, 41};
    ASSERT_TRUE(set_window(w));
    ZbxWindow frames = ZbxWin_CreateMessageWindow();
    ASSERT_NE(frames, nullptr);
    for (bool trigger : {false, true}) {
        SCOPED_TRACE(trigger ? "trigger" : "streaming");
        Picture part = blank(w.w, w.h, 8);
        const int length = static_cast<int>(part.bytes.size());
        ASSERT_EQ(trigger ? Zorbex_Trigger(h_, frames, part.bytes.data(), length, 1)
                          : Zorbex_CallBackPreview(h_, frames, part.bytes.data(), length, 1),
                  1);
        if (trigger) {
            ASSERT_EQ(ZbxVcam_FireTrigger(0), ZBX_VCAM_OK);
        }
        const ZbxFrameRecord* record = next_frame(frames);
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(__atomic_load_n(&record->width, __ATOMIC_RELAXED), w.w);
        EXPECT_EQ(__atomic_load_n(&record->height, __ATOMIC_RELAXED), w.h);
        EXPECT_EQ(Zorbex_StopPreview(h_), 1);
        EXPECT_EQ(mismatches(part, full, w.x, w.y, 0), 0);
        ZbxMessage stale{};
        while (ZbxWin_PeekMessage(frames, &stale, 1) != 0) {
        }
    }
    ZbxWin_DestroyWindow(frames);

    // A saved bitmap holds the window as it was asked for, bottom row first.
    const Picture part = snapshot(h_, w.w, w.h, 8);
    TempDir dir("zbx-window-");
    const auto file = dir / "window.bmp";
    ASSERT_EQ(Zorbex_SaveImage(h_, file.c_str(), ZBX_FILE_BMP), 1);
    std::ifstream in(file, std::ios::binary);
    const std::vector<std::uint8_t> bmp{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ASSERT_GE(bmp.size(), 26u);
    std::int32_t header[3] = {};  // pixel offset, then width and height
    std::memcpy(&header[0], bmp.data() + 10, 4);
    std::memcpy(&header[1], bmp.data() + 18, 8);
    EXPECT_EQ(header[1], w.w);
    EXPECT_EQ(header[2], w.h);
    const std::size_t stride = static_cast<std::size_t>(stride_of(w.w, 8));
    ASSERT_GE(bmp.size(), static_cast<std::size_t>(header[0]) + stride * static_cast<std::size_t>(w.h));
    for (int y = 0; y < w.h; ++y) {
        const std::uint8_t* row = bmp.data() + header[0] + stride * static_cast<std::size_t>(w.h - 1 - y);
        EXPECT_EQ(std::memcmp(row, part.pixel(0, y), static_cast<std::size_t>(w.w)), 0) << "row " << y;
    }
    EXPECT_EQ(history(), std::vector<int>{});
}

TEST_F(CaptureWindowBase, WindowsBelowTheMinimumAreRefusedAndChangeNothing) {
    ASSERT_EQ(Zorbex_SetColorMode(h_, 8), 1);
    const Window kept{8, 4, 320, 240};
    ASSERT_TRUE(set_window(kept));
    for (const Window& w : {Window{0, 0, 1, 1}, Window{0, 0, 2, 2}, Window{10, 10, 3, 100}, Window{10, 10, 100, 0}}) {
        SCOPED_TRACE(testing::Message() << w.w << " x " << w.h);
        EXPECT_FALSE(set_window(w));
        EXPECT_EQ(history(), std::vector<int>{7});
        int th = 0, ehs = 0, eh = 0, tv = 0, evs = 0, ev = 0;
        ASSERT_EQ(Zorbex_GetCaptureWindowEx(h_, &th, &ehs, &eh, &tv, &evs, &ev), 1);
        EXPECT_EQ((std::vector<int>{ehs, evs, eh, ev}), (std::vector<int>{kept.x, kept.y, kept.w, kept.h}));
    }
    // The smallest window the sensor reads out works.
    ASSERT_TRUE(set_window(Window{0, 0, 4, 1}));
    std::vector<std::uint8_t> image(4);
    EXPECT_EQ(Zorbex_SnapShot(h_, image.data(), static_cast<int>(image.size()), 1), 1);
    EXPECT_EQ(history(), std::vector<int>{});
}

}  // namespace
}  // namespace zbx::test
