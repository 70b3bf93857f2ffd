// The preview window, Close and the capture window through the exported
// functions and the window API, against the virtual camera.
#include <gtest/gtest.h>

#include <algorithm>
#include <sys/stat.h>

#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "e2e/e2e_session.h"
#include "platform/x11/presenter.h"
#include "support/x11_display.h"
#include "zorbex/vcam.h"
#include "zorbex/window.h"
#include "zorbex/zorbex.h"

namespace zbx::test {
namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;

int stride_of(int width, int bits) { return (width * (bits / 8) + 3) & ~3; }

bool next_frame(ZbxWindow window, std::uint32_t timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    ZbxMessage m{};
    while (std::chrono::steady_clock::now() < deadline)
        if (ZbxWin_WaitMessage(window, &m, 50) != 0 && m.message == ZBX_MSG_FRAME && m.wparam != 0) return true;
    return false;
}

std::vector<ZbxWindow> top_level_windows() {
    std::vector<ZbxWindow> windows(64);
    const int n = ZbxWin_GetTopLevelWindows(windows.data(), static_cast<int>(windows.size()));
    windows.resize(static_cast<std::size_t>(std::min(n, 64)));
    return windows;
}

std::string title_of(ZbxWindow window) {
    char text[128] = {};
    EXPECT_EQ(ZbxWin_GetTitle(window, text, sizeof text), 1);
    return text;
}

std::string class_of(ZbxWindow window) {
    char text[128] = {};
    EXPECT_EQ(ZbxWin_GetClassName(window, text, sizeof text), 1);
    return text;
}

// Client pixels, top row first, blue-green-red, packed rows.
std::vector<std::uint8_t> client_pixels(ZbxWindow window, int* width, int* height) {
    EXPECT_EQ(ZbxWin_GetClientSize(window, width, height), 1);
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(*width) * *height * 3);
    EXPECT_EQ(ZbxWin_ReadClientPixels(window, pixels.data(), *width * 3), 1);
    return pixels;
}

// The colour the preview shows for pixel (x, y) of a developed image copied
// top row first.
struct Bgr {
    int b, g, r;
};
Bgr shown(const std::vector<std::uint8_t>& image, int bits, int x, int y) {
    const std::uint8_t* p = image.data() + static_cast<std::size_t>(stride_of(kWidth, bits)) * y + x * (bits / 8);
    const auto u16 = [](const std::uint8_t* q) { return (q[0] | (q[1] << 8)) >> 4; };
    switch (bits) {
        case 8:
            return {p[0], p[0], p[0]};
        case 16: {
            const int v = u16(p) & 0xFF;
            return {v, v, v};
        }
        case 24:
        case 32:
            return {p[0], p[1], p[2]};
        default:
            return {u16(p), u16(p + 2), u16(p + 4)};
    }
}

class Preview : public OpenSession {
protected:
    void SetUp() override {
        OpenSession::SetUp();
        ASSERT_EQ(ZbxVcam_SetPacing(0, ZBX_VCAM_UNPACED), ZBX_VCAM_OK);
        ZbxVcamScene scene{};
        scene.kind = ZBX_VCAM_SCENE_CHART;
        scene.moving = 0;  // every frame alike: the window shows what GetImage gives
        ASSERT_EQ(ZbxVcam_SetScene(0, &scene), ZBX_VCAM_OK);
        ASSERT_EQ(Zorbex_SetWaitTime(h_, 0), 1);
        ASSERT_EQ(Zorbex_SetExposureTime(h_, 637), 1);
        frames_ = ZbxWin_CreateMessageWindow();
        ASSERT_NE(frames_, nullptr);
    }
    void TearDown() override {
        OpenSession::TearDown();
        ZbxWin_DestroyWindow(frames_);
        if (parent_ != nullptr) ZbxWin_DestroyWindow(parent_);
    }

    // Streams until one frame has been painted, then stops, so the window
    // holds the picture of the current image.
    std::vector<std::uint8_t> stream_one_frame(int bits) {
        std::vector<std::uint8_t> image(static_cast<std::size_t>(stride_of(kWidth, bits)) * kHeight);
        EXPECT_EQ(Zorbex_CallBackPreview(h_, frames_, nullptr, 0, 1), 1);
        EXPECT_TRUE(next_frame(frames_, 3000));
        EXPECT_EQ(Zorbex_StopPreview(h_), 1);
        EXPECT_EQ(Zorbex_GetImage(h_, image.data(), static_cast<int>(image.size()), 1), 1);
        return image;
    }

    ZbxWindow frames_ = nullptr;
    ZbxWindow parent_ = nullptr;
};

TEST_F(Preview, DefaultTopLevelWindowIsCentredAndShowsTheImageUpright) {
    const std::vector<ZbxWindow> before = top_level_windows();
    ASSERT_EQ(Zorbex_SetColorMode(h_, 24), 1);
    const std::vector<std::uint8_t> image = stream_one_frame(24);

    std::vector<ZbxWindow> after = top_level_windows();
    ASSERT_EQ(after.size(), before.size() + 1);
    const ZbxWindow window = after.back();
    EXPECT_EQ(title_of(window), "Active Window");
    EXPECT_EQ(class_of(window).rfind("VideoRenderer_", 0), 0u);
    std::uint32_t style = 0;
    ASSERT_EQ(ZbxWin_GetStyle(window, &style), 1);
    EXPECT_EQ(style, 0x16CF0000u);
    EXPECT_EQ(ZbxWin_IsVisible(window), 1);
    int x = 0, y = 0, w = 0, h = 0, screen_w = 0, screen_h = 0;
    ASSERT_EQ(ZbxWin_GetWindowRect(window, &x, &y, &w, &h), 1);
    ASSERT_EQ(ZbxWin_GetScreenSize(&screen_w, &screen_h), 1);
    EXPECT_EQ(x, std::max(0, (screen_w - w) / 2));
    EXPECT_EQ(y, std::max(0, (screen_h - h) / 2));

    int cw = 0, ch = 0;
    const std::vector<std::uint8_t> pixels = client_pixels(window, &cw, &ch);
    ASSERT_EQ(cw, kWidth);
    ASSERT_EQ(ch, kHeight);
    // Same size: the picture as it is, top row at the top.
    EXPECT_EQ(pixels, image);

    EXPECT_EQ(Zorbex_Close(h_), 1);
    EXPECT_EQ(ZbxWin_IsWindow(window), 0);
    EXPECT_EQ(top_level_windows().size(), before.size());
}

// A child window of another size shows the picture scaled to it.
class PreviewChild : public Preview, public testing::WithParamInterface<int> {};

TEST_P(PreviewChild, ScaledPictureAtItsPlace) {
    const int bits = GetParam();
    parent_ = ZbxWin_CreateWindow(nullptr, 0, 0, 800, 600, 1);
    ASSERT_NE(parent_, nullptr);
    ASSERT_EQ(Zorbex_SetPreviewWindow(h_, parent_, 10, 20, 320, 240), 1);
    ASSERT_EQ(Zorbex_SetColorMode(h_, bits), 1);
    const std::vector<std::uint8_t> image = stream_one_frame(bits);

    const ZbxWindow child = ZbxWin_GetFirstChild(parent_);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(title_of(child), "ActiveMovie Window");
    std::uint32_t style = 0;
    ASSERT_EQ(ZbxWin_GetStyle(child, &style), 1);
    EXPECT_EQ(style, 0x52000000u);
    int x = 0, y = 0, w = 0, h = 0;
    ASSERT_EQ(ZbxWin_GetWindowRect(child, &x, &y, &w, &h), 1);
    EXPECT_EQ(x, 10);
    EXPECT_EQ(y, 20);
    EXPECT_EQ(w, 320);
    EXPECT_EQ(h, 240);

    int cw = 0, ch = 0;
    const std::vector<std::uint8_t> pixels = client_pixels(child, &cw, &ch);
    ASSERT_EQ(cw, 320);
    ASSERT_EQ(ch, 240);
    // Nearest neighbour: every 4th column; rows taken upwards from the
    // picture's bottom row for the window's bottom row.
    int wrong = 0;
    for (int j = 0; j < ch; ++j) {
        for (int k = 0; k < cw; ++k) {
            const Bgr expected = shown(image, bits, k * 4, kHeight - 1 - (ch - 1 - j) * 3);
            const std::uint8_t* p = pixels.data() + (static_cast<std::size_t>(j) * cw + k) * 3;
            if (p[0] != expected.b || p[1] != expected.g || p[2] != expected.r) ++wrong;
        }
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(Zorbex_Close(h_), 1);
    EXPECT_EQ(ZbxWin_GetFirstChild(parent_), nullptr);
}

INSTANTIATE_TEST_SUITE_P(ColourModes, PreviewChild, testing::Values(8, 16, 24, 32, 48, 64));

TEST_F(Preview, ExactSizeChildInAGreyMode) {
    // Mode 1 goes through the display buffer even at the image's size.
    for (const int bits : {8, 16}) {
        SCOPED_TRACE(bits);
        parent_ = ZbxWin_CreateWindow(nullptr, 0, 0, 1400, 800, 1);
        ASSERT_EQ(Zorbex_SetPreviewWindow(h_, parent_, 0, 0, kWidth, kHeight), 1);
        ASSERT_EQ(Zorbex_SetColorMode(h_, bits), 1);
        const std::vector<std::uint8_t> image = stream_one_frame(bits);
        int cw = 0, ch = 0;
        const std::vector<std::uint8_t> pixels = client_pixels(ZbxWin_GetFirstChild(parent_), &cw, &ch);
        ASSERT_EQ(cw, kWidth);
        int wrong = 0;
        for (int y = 0; y < kHeight; y += 3) {
            for (int x = 0; x < kWidth; x += 5) {
                const Bgr expected = shown(image, bits, x, y);
                if (pixels[(static_cast<std::size_t>(y) * kWidth + x) * 3] != expected.b) ++wrong;
            }
        }
        EXPECT_EQ(wrong, 0);
        EXPECT_EQ(Zorbex_Close(h_), 1);
        ZbxWin_DestroyWindow(parent_);
        parent_ = nullptr;
    }
}

TEST_F(Preview, HiddenOrMissingWindowDrawsNothing) {
    parent_ = ZbxWin_CreateWindow(nullptr, 0, 0, 800, 600, 0);
    ASSERT_EQ(Zorbex_SetPreviewWindow(h_, parent_, 0, 0, 320, 240), 1);
    (void)stream_one_frame(24);
    int cw = 0, ch = 0;
    const std::vector<std::uint8_t> pixels = client_pixels(ZbxWin_GetFirstChild(parent_), &cw, &ch);
    EXPECT_TRUE(std::all_of(pixels.begin(), pixels.end(), [](std::uint8_t v) { return v == 0; }));
    EXPECT_EQ(Zorbex_Close(h_), 1);

    // An all-zero rectangle without a parent: streaming without a window.
    const std::size_t windows = top_level_windows().size();
    ASSERT_EQ(Zorbex_SetPreviewWindow(h_, nullptr, 0, 0, 0, 0), 1);
    ZbxVcamStats before{};
    ASSERT_EQ(ZbxVcam_GetStats(0, &before), ZBX_VCAM_OK);
    ASSERT_EQ(Zorbex_Preview(h_), 1);
    EXPECT_EQ(top_level_windows().size(), windows);
    ZbxVcamStats now{};
    for (int i = 0; i < 100 && now.frames_delivered < before.frames_delivered + 3; ++i) {
        ASSERT_EQ(ZbxVcam_GetStats(0, &now), ZBX_VCAM_OK);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_GE(now.frames_delivered, before.frames_delivered + 3);
    EXPECT_EQ(Zorbex_Close(h_), 1);
    EXPECT_EQ(history(), std::vector<int>{});
}

TEST_F(Preview, WindowThatCannotBeMadeStartsNothing) {
    parent_ = ZbxWin_CreateWindow(nullptr, 0, 0, 800, 600, 1);
    ASSERT_EQ(Zorbex_SetPreviewWindow(h_, parent_, 10, 20, 320, 240), 1);
    ASSERT_EQ(ZbxWin_DestroyWindow(parent_), 1);
    parent_ = nullptr;
    EXPECT_EQ(Zorbex_Preview(h_), 0);
    EXPECT_EQ(Zorbex_CallBackPreview(h_, frames_, nullptr, 0, 1), 0);
    EXPECT_EQ(Zorbex_Trigger(h_, frames_, nullptr, 0, 1), 0);
    EXPECT_EQ(history(), (std::vector<int>{4, 4, 4}));
    // Still idle.
    EXPECT_EQ(Zorbex_Capture(h_), 1);
    EXPECT_EQ(Zorbex_StopPreview(h_), 1);
}

TEST_F(Preview, CloseStopsEverythingAndAWindowCanBeMadeAgain) {
    parent_ = ZbxWin_CreateWindow(nullptr, 0, 0, 800, 600, 1);
    ASSERT_EQ(Zorbex_SetPreviewWindow(h_, parent_, 0, 0, 160, 90), 1);
    ASSERT_EQ(Zorbex_CallBackPreview(h_, frames_, nullptr, 0, 1), 1);
    ASSERT_TRUE(next_frame(frames_, 3000));
    const ZbxWindow first = ZbxWin_GetFirstChild(parent_);
    const std::string first_class = class_of(first);
    // A second start keeps its window.
    EXPECT_EQ(Zorbex_Preview(h_), 1);
    EXPECT_EQ(ZbxWin_GetFirstChild(parent_), first);
    EXPECT_EQ(ZbxWin_GetNextSibling(first), nullptr);

    EXPECT_EQ(Zorbex_Close(h_), 1);
    EXPECT_EQ(ZbxWin_IsWindow(first), 0);
    ZbxMessage m{};
    while (ZbxWin_PeekMessage(frames_, &m, 1) != 0) {
    }
    EXPECT_FALSE(next_frame(frames_, 200));
    EXPECT_EQ(Zorbex_Close(h_), 1);

    ASSERT_EQ(Zorbex_CallBackPreview(h_, frames_, nullptr, 0, 1), 1);
    EXPECT_TRUE(next_frame(frames_, 3000));
    const ZbxWindow second = ZbxWin_GetFirstChild(parent_);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(class_of(second), first_class);
    EXPECT_EQ(Zorbex_Close(h_), 1);
}

// ---- Capture window -----------------------------------------------------------------

TEST_F(Preview, CaptureWindowSetDirectlyOrFromAStoredPreset) {
    int th = 0, ehs = 0, eh = 0, tv = 0, evs = 0, ev = 0;
    EXPECT_EQ(Zorbex_GetCaptureWindowEx(h_, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(Zorbex_SetCaptureWindowEx(h_, 1280, 100, 640, 720, 50, 480), 1);
    EXPECT_EQ(Zorbex_GetCaptureWindowEx(h_, &th, &ehs, &eh, &tv, &evs, &ev), 1);
    EXPECT_EQ((std::vector<int>{th, ehs, eh, tv, evs, ev}), (std::vector<int>{1280, 100, 640, 720, 50, 480}));
    ASSERT_EQ(Zorbex_SetColorMode(h_, 8), 1);
    std::vector<std::uint8_t> image(640 * 480);
    EXPECT_EQ(Zorbex_SnapShot(h_, image.data(), static_cast<int>(image.size()), 1), 1);

    EXPECT_EQ(Zorbex_SetCaptureWindowEx(h_, 1280, 1, 1280, 720, 0, 720), 0);
    EXPECT_EQ(history(), std::vector<int>{7});

    // Presets of the camera's key: Size_00 of the first run, and one more.
    store_values(camera_key(0, "Size_01"),
                 {{"TH", 1280}, {"TV", 720}, {"EH", 320}, {"EV", 240}, {"EHS", 8}, {"EVS", 4}, {"Buf", 4}});
    store_values(camera_key(0, "Size_02"),
                 {{"TH", 1280}, {"TV", 720}, {"EH", 400}, {"EV", 300}, {"EHS", 1000}, {"EVS", 0}, {"Buf", 4}});
    EXPECT_EQ(Zorbex_SetCaptureWindow(h_, 320, 240), 1);
    EXPECT_EQ(Zorbex_GetCaptureWindowEx(h_, &th, &ehs, &eh, &tv, &evs, &ev), 1);
    EXPECT_EQ((std::vector<int>{th, ehs, eh, tv, evs, ev}), (std::vector<int>{1280, 8, 320, 720, 4, 240}));
    EXPECT_EQ(Zorbex_SetCaptureWindow(h_, 100, 100), 0);
    EXPECT_EQ(history(), std::vector<int>{4});
    // A preset outside the sensor falls back to the whole sensor.
    EXPECT_EQ(Zorbex_SetCaptureWindow(h_, 400, 300), 1);
    EXPECT_EQ(history(), std::vector<int>{7});
    EXPECT_EQ(Zorbex_Width(h_), 1280);
    EXPECT_EQ(Zorbex_Height(h_), 720);
}

TEST_F(Preview, CaptureWindowChangedWhileStreamingTakesEffectAtTheNextStart) {
    ASSERT_EQ(Zorbex_SetPreviewWindow(h_, nullptr, 0, 0, 0, 0), 1);
    ASSERT_EQ(Zorbex_CallBackPreview(h_, frames_, nullptr, 0, 1), 1);
    ASSERT_TRUE(next_frame(frames_, 3000));
    EXPECT_EQ(Zorbex_SetCaptureWindowEx(h_, 1280, 0, 640, 720, 0, 480), 1);
    ZbxMessage m{};
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(ZbxWin_WaitMessage(frames_, &m, 3000), 1);
        ASSERT_NE(m.wparam, 0u);
        EXPECT_EQ(__atomic_load_n(&reinterpret_cast<const ZbxFrameRecord*>(m.wparam)->width, __ATOMIC_RELAXED), kWidth);
    }
    EXPECT_EQ(Zorbex_StopPreview(h_), 1);
    while (ZbxWin_PeekMessage(frames_, &m, 1) != 0) {
    }
    ASSERT_EQ(Zorbex_StartPreview(h_), 1);
    ASSERT_EQ(ZbxWin_WaitMessage(frames_, &m, 3000), 1);
    ASSERT_NE(m.wparam, 0u);
    EXPECT_EQ(__atomic_load_n(&reinterpret_cast<const ZbxFrameRecord*>(m.wparam)->width, __ATOMIC_RELAXED), 640);
    EXPECT_EQ(Zorbex_StopPreview(h_), 1);
    EXPECT_EQ(history(), std::vector<int>{});
}


// Stored rectangles near INT_MAX make no window (and no wrapped geometry):
// the start fails with the window error.
TEST_F(Preview, RectangleNearIntMaxIsAWindowError) {
    parent_ = ZbxWin_CreateWindow(nullptr, 0, 0, 800, 600, 1);
    ASSERT_EQ(Zorbex_SetPreviewWindow(h_, parent_, INT_MAX - 5, 0, 320, 240), 1);
    EXPECT_EQ(Zorbex_Preview(h_), 0);
    ASSERT_EQ(Zorbex_SetPreviewWindow(h_, parent_, 0, 0, INT_MAX, INT_MAX), 1);
    EXPECT_EQ(Zorbex_Preview(h_), 0);
    EXPECT_EQ(history(), (std::vector<int>{4, 4}));
    EXPECT_EQ(ZbxWin_GetFirstChild(parent_), nullptr);
}

// Pixels (packed, top row first) that differ from the picture scaled into
// a width x height client area by the preview's nearest-neighbour rule.
int scaled_mismatches(const std::vector<std::uint8_t>& image, int bits, const std::vector<std::uint8_t>& pixels,
                      int width, int height) {
    if (pixels.size() != static_cast<std::size_t>(width) * height * 3) return -1;
    int wrong = 0;
    for (int j = 0; j < height; ++j)
        for (int k = 0; k < width; ++k) {
            const Bgr expected =
                shown(image, bits, k * kWidth / width, kHeight - 1 - (height - 1 - j) * kHeight / height);
            const std::uint8_t* p = pixels.data() + (static_cast<std::size_t>(j) * width + k) * 3;
            if (p[0] != expected.b || p[1] != expected.g || p[2] != expected.r) ++wrong;
        }
    return wrong;
}

// The preview on a private X server.
class OnScreenPreview : public Preview {
protected:
    void SetUp() override {
        if (!server_.start()) GTEST_SKIP() << "no private X server: " << server_.why();
        Preview::SetUp();
        ::mkdir("/tmp/zbx-shots", 0755);
    }
    void TearDown() override {
        if (!IsSkipped()) Preview::TearDown();
        if (foreign_ != 0) (void)test::destroy_x_window(foreign_);
        server_.stop();
    }
    test::PrivateXServer server_;
    unsigned long foreign_ = 0;
};

TEST_F(OnScreenPreview, TopLevelShowsTheFramePixelForPixelAndScaledAfterTheUserResizesIt) {
    ASSERT_EQ(Zorbex_SetColorMode(h_, 24), 1);
    const std::vector<std::uint8_t> image = stream_one_frame(24);
    const ZbxWindow window = top_level_windows().back();
    const unsigned long xid = ZbxWin_GetX11Window(window);
    ASSERT_NE(xid, 0u);
    EXPECT_EQ(test::x_window_title(xid), "Active Window");
    ASSERT_TRUE(platform::x11::flush(5000));
    const std::vector<std::uint8_t> shot = test::screenshot(xid, 0, 0, kWidth, kHeight);
    EXPECT_EQ(shot, image);
    EXPECT_TRUE(test::save_png("/tmp/zbx-shots/preview-top-level.png", shot, kWidth, kHeight));

    // Half the size by the user: the next frames are scaled into it.
    ASSERT_TRUE(test::resize_x_window(xid, kWidth / 2, kHeight / 2));
    int cw = 0, ch = 0;
    for (int i = 0; i < 300 && cw != kWidth / 2; ++i) {
        ASSERT_EQ(ZbxWin_GetClientSize(window, &cw, &ch), 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(ch, kHeight / 2);
    const std::vector<std::uint8_t> again = stream_one_frame(24);
    ASSERT_TRUE(platform::x11::flush(5000));
    EXPECT_EQ(scaled_mismatches(again, 24, test::screenshot(xid, 0, 0, cw, ch), cw, ch), 0);
}

TEST_F(OnScreenPreview, ChildPreviewInsideTheApplicationsXWindow) {
    foreign_ = test::create_x_window(0, 0, 700, 420);
    ASSERT_NE(foreign_, 0u);
    parent_ = ZbxWin_WrapX11Window(foreign_);
    ASSERT_NE(parent_, nullptr);
    ASSERT_EQ(Zorbex_SetPreviewWindow(h_, parent_, 20, 30, 640, 360), 1);
    ASSERT_EQ(Zorbex_SetColorMode(h_, 24), 1);
    const std::vector<std::uint8_t> image = stream_one_frame(24);
    ASSERT_TRUE(platform::x11::flush(5000));
    const std::vector<std::uint8_t> whole = test::screenshot(foreign_, 0, 0, 700, 420);
    EXPECT_TRUE(test::save_png("/tmp/zbx-shots/preview-embedded.png", whole, 700, 420));
    EXPECT_EQ(scaled_mismatches(image, 24, test::screenshot(foreign_, 20, 30, 640, 360), 640, 360), 0);
}

TEST_F(OnScreenPreview, WindowManagerCloseAndADyingServerLeaveStreamingRunning) {
    ASSERT_EQ(Zorbex_CallBackPreview(h_, frames_, nullptr, 0, 1), 1);
    ASSERT_TRUE(next_frame(frames_, 3000));
    const ZbxWindow window = top_level_windows().back();
    ASSERT_TRUE(test::send_wm_delete(ZbxWin_GetX11Window(window)));
    for (int i = 0; i < 300 && ZbxWin_IsWindow(window) != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(ZbxWin_IsWindow(window), 0);
    EXPECT_TRUE(next_frame(frames_, 3000));  // still streaming, painting nothing
    EXPECT_EQ(Zorbex_Close(h_), 1);

    // Again with a window, then the X server is killed under the stream.
    ASSERT_EQ(Zorbex_CallBackPreview(h_, frames_, nullptr, 0, 1), 1);
    ASSERT_TRUE(next_frame(frames_, 3000));
    const ZbxWindow second = top_level_windows().back();
    ASSERT_NE(ZbxWin_GetX11Window(second), 0u);
    server_.stop(true);
    // The presenter learns of the loss on its own thread, a moment later.
    for (int i = 0; i < 300 && ZbxWin_GetX11Window(second) != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(ZbxWin_GetX11Window(second), 0u);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(next_frame(frames_, 3000));
    int cw = 0, ch = 0;
    EXPECT_EQ(client_pixels(second, &cw, &ch).size(), static_cast<std::size_t>(kWidth) * kHeight * 3);
    EXPECT_EQ(Zorbex_Close(h_), 1);
    EXPECT_EQ(history(), std::vector<int>{});
}

}  // namespace
}  // namespace zbx::test
