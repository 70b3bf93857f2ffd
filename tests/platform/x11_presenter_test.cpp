// The window system on screen: windows mirrored on a private X server,
// paints shown pixel for pixel, the window manager's close and resize,
// foreign parents, and a server that goes away.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/window.h"
#include "platform/x11/presenter.h"
#include "support/x11_display.h"
#include "zorbex/window.h"

namespace zbx::platform {
namespace {

constexpr std::uint32_t kTopLevelStyle = 0x16CF0000;
constexpr std::uint32_t kChildStyle = 0x52000000;

template <typename Predicate>
bool eventually(Predicate predicate, int timeout_ms = 3000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::vector<std::uint8_t> headless_pixels(ZbxWindow window) {
    Rect client;
    EXPECT_TRUE(get_client_rect(window, &client));
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(client.width()) * client.height() * 3);
    EXPECT_TRUE(read_client_pixels(window, pixels.data(), static_cast<std::size_t>(client.width()) * 3));
    return pixels;
}

// Paints a picture that differs in every pixel's position into the window.
void paint_pattern(ZbxWindow window, int seed) {
    Rect client;
    ASSERT_TRUE(get_client_rect(window, &client));
    BitmapInfoHeader header;
    header.biWidth = client.width();
    header.biHeight = -client.height();
    header.biPlanes = 1;
    header.biBitCount = 24;
    std::shared_ptr<Bitmap> picture = create_dib_section(header, {});
    ASSERT_NE(picture, nullptr);
    for (int y = 0; y < client.height(); ++y)
        for (int x = 0; x < client.width(); ++x) {
            std::uint8_t* p = picture->picture_row(y) + 3 * x;
            p[0] = static_cast<std::uint8_t>(x * 3 + seed);
            p[1] = static_cast<std::uint8_t>(y * 5 + seed);
            p[2] = static_cast<std::uint8_t>((x ^ y) + seed);
        }
    auto memory = create_compatible_dc();
    ASSERT_TRUE(memory->select_bitmap(picture));
    auto dc = get_dc(window);
    ASSERT_NE(dc, nullptr);
    ASSERT_TRUE(bit_blt(dc.get(), 0, 0, client.width(), client.height(), memory.get(), 0, 0, kSrcCopy));
}

class OnScreen : public testing::Test {
protected:
    void SetUp() override {
        if (!server_.start()) GTEST_SKIP() << "no private X server: " << server_.why();
        cls_ = "OnScreen_" + std::to_string(reinterpret_cast<std::uintptr_t>(this));
        ASSERT_TRUE(register_class(WindowClassInfo{cls_, 0, {}}));
    }
    void TearDown() override {
        for (ZbxWindow w : windows_) (void)destroy_window(w);
        (void)unregister_class(cls_);
        server_.stop();
    }
    ZbxWindow make(const char* title, std::uint32_t style, int x, int y, int w, int h, ZbxWindow parent = nullptr) {
        WindowCreateInfo info;
        info.class_name = cls_;
        info.title = title;
        info.style = style;
        info.x = x;
        info.y = y;
        info.width = w;
        info.height = h;
        info.parent = parent;
        ZbxWindow window = create_window(info);
        if (window != nullptr) windows_.push_back(window);
        return window;
    }
    // The window's client area as the X server shows it.
    std::vector<std::uint8_t> on_screen(ZbxWindow window) {
        Rect client;
        EXPECT_TRUE(get_client_rect(window, &client));
        EXPECT_TRUE(x11::flush(3000));
        return test::screenshot(screen_window_of(window), 0, 0, client.width(), client.height());
    }

    test::PrivateXServer server_;
    std::string cls_;
    std::vector<ZbxWindow> windows_;
};

TEST_F(OnScreen, TopLevelWindowIsMirroredAndPaintedPixelForPixelAlsoAfterAUserResize) {
    Rect frame{0, 0, 320, 240};
    ASSERT_TRUE(adjust_window_rect_ex(&frame, kTopLevelStyle, false, 0));
    const ZbxWindow window = make("Active Window", kTopLevelStyle, 100, 50, frame.width(), frame.height());
    ASSERT_NE(window, nullptr);
    const unsigned long xid = screen_window_of(window);
    ASSERT_NE(xid, 0u);
    EXPECT_EQ(test::x_window_title(xid), "Active Window");
    EXPECT_TRUE(eventually([&] { return test::x_window_mapped(xid); }));

    paint_pattern(window, 7);
    EXPECT_EQ(on_screen(window), headless_pixels(window));

    // Hidden and shown again, titled anew.
    ASSERT_TRUE(show_window(window, false));
    EXPECT_TRUE(eventually([&] { return !test::x_window_mapped(xid); }));
    ASSERT_TRUE(show_window(window, true));
    ASSERT_TRUE(set_window_text(window, "frames 3"));
    EXPECT_EQ(test::x_window_title(xid), "frames 3");

    // The user makes it larger: the client area follows, and paints fill it.
    ASSERT_TRUE(test::resize_x_window(xid, 400, 300));
    ASSERT_TRUE(eventually([&] {
        Rect c;
        return get_client_rect(window, &c) && c.width() == 400 && c.height() == 300;
    }));
    paint_pattern(window, 99);
    const std::vector<std::uint8_t> shown = on_screen(window);
    EXPECT_EQ(shown, headless_pixels(window));
    ::mkdir("/tmp/zbx-shots", 0755);
    EXPECT_TRUE(test::save_png("/tmp/zbx-shots/top-level-pattern.png", shown, 400, 300));
}

TEST_F(OnScreen, ChildIsShownInsideAForeignWindowAndSurvivesItsDestruction) {
    const unsigned long foreign = test::create_x_window(0, 0, 500, 400);
    ASSERT_NE(foreign, 0u);
    const ZbxWindow parent = ZbxWin_WrapX11Window(foreign);
    ASSERT_NE(parent, nullptr);
    windows_.push_back(parent);
    int w = 0, h = 0;
    ASSERT_EQ(ZbxWin_GetClientSize(parent, &w, &h), 1);
    EXPECT_EQ(w, 500);
    EXPECT_EQ(h, 400);

    const ZbxWindow child = make("ActiveMovie Window", kChildStyle, 10, 20, 320, 240, parent);
    ASSERT_NE(child, nullptr);
    paint_pattern(child, 3);
    ASSERT_TRUE(x11::flush(3000));
    // Found by a screenshot of the application's window at the child's place.
    EXPECT_EQ(test::screenshot(foreign, 10, 20, 320, 240), headless_pixels(child));

    // The application destroys its window under the running preview.
    ASSERT_TRUE(test::destroy_x_window(foreign));
    EXPECT_TRUE(eventually([&] { return screen_window_of(child) == 0; }));
    paint_pattern(child, 4);  // headless from now on
    EXPECT_EQ(headless_pixels(child)[0], 4);
    EXPECT_TRUE(x11::active());
}

TEST_F(OnScreen, WindowManagerCloseDestroysTheWindowAsTheUserWould) {
    const ZbxWindow window = make("Active Window", kTopLevelStyle, 0, 0, 200, 150);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(test::send_wm_delete(screen_window_of(window)));
    EXPECT_TRUE(eventually([&] { return !is_window(window); }));
    // A context taken before stops drawing; nothing else happens.
    EXPECT_EQ(get_dc(window), nullptr);
}

TEST_F(OnScreen, BadForeignWindowsAreRefused) {
    EXPECT_EQ(ZbxWin_WrapX11Window(0), nullptr);
    EXPECT_EQ(ZbxWin_WrapX11Window(0x7ABCDEFUL), nullptr);  // no such window
    const unsigned long gone = test::create_x_window(0, 0, 10, 10);
    ASSERT_TRUE(test::destroy_x_window(gone));
    EXPECT_EQ(ZbxWin_WrapX11Window(gone), nullptr);
}

TEST_F(OnScreen, PlainTransfersWithoutSharedMemoryShowTheSamePixels) {
    x11::allow_shared_memory(false);
    server_.stop();
    ASSERT_TRUE(server_.start()) << server_.why();
    const ZbxWindow window = make("Active Window", kTopLevelStyle, 0, 0, 160, 120);
    x11::allow_shared_memory(true);
    ASSERT_NE(window, nullptr);
    ASSERT_NE(screen_window_of(window), 0u) << "active " << x11::active() << " " << server_.name();
    EXPECT_FALSE(x11::uses_shared_memory());
    paint_pattern(window, 11);
    Rect c;
    ASSERT_TRUE(get_client_rect(window, &c));
    EXPECT_EQ(on_screen(window), headless_pixels(window));
}

TEST_F(OnScreen, AServerThatDiesTurnsThePresenterOffAndWindowsGoOnHeadless) {
    const ZbxWindow window = make("Active Window", kTopLevelStyle, 0, 0, 200, 150);
    ASSERT_NE(window, nullptr);
    ASSERT_NE(screen_window_of(window), 0u);
    server_.stop(true);
    EXPECT_TRUE(eventually([] { return !x11::active(); }));
    paint_pattern(window, 5);
    EXPECT_EQ(headless_pixels(window)[0], 5);
    EXPECT_EQ(screen_window_of(window), 0u);
    const ZbxWindow later = make("Active Window", kTopLevelStyle, 0, 0, 200, 150);
    EXPECT_NE(later, nullptr);
}

TEST(OffScreen, UnreachableDisplayLeavesTheWindowsHeadless) {
    ::setenv("DISPLAY", ":7331", 1);
    const ZbxWindow window = ZbxWin_CreateWindow(nullptr, 0, 0, 40, 30, 1);
    ::unsetenv("DISPLAY");
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(ZbxWin_GetX11Window(window), 0u);
    EXPECT_EQ(ZbxWin_WrapX11Window(0x400001), nullptr);
    EXPECT_EQ(ZbxWin_DestroyWindow(window), 1);
}

// Rectangles near INT_MAX (stored preview rectangles that nothing checked)
// must neither wrap around nor make windows the window system cannot hold.
TEST(WindowGeometry, RectanglesNearIntMaxAreRefusedOrKeptWithoutWrapping) {
    ASSERT_TRUE(register_class(WindowClassInfo{"Geometry", 0, {}}));
    WindowCreateInfo info;
    info.class_name = "Geometry";
    info.x = INT_MAX - 10;
    info.y = 0;
    info.width = 320;
    info.height = 240;
    EXPECT_EQ(create_window(info), nullptr);  // right edge past INT_MAX
    info.x = 0;
    info.width = kMaxWindowSide + 1;
    info.height = 1;
    EXPECT_EQ(create_window(info), nullptr);

    // A parent far out and a child at the far edge: screen rectangles clamp.
    info.x = INT_MAX - 100;
    info.width = 50;
    info.height = 50;
    const ZbxWindow parent = create_window(info);
    ASSERT_NE(parent, nullptr);
    info.parent = parent;
    info.style = kWsChild;
    info.x = INT_MAX - 60;
    info.width = 40;
    const ZbxWindow child = create_window(info);
    ASSERT_NE(child, nullptr);
    Rect r;
    ASSERT_TRUE(get_window_rect(child, &r));
    EXPECT_LE(r.left, r.right);
    EXPECT_EQ(r.right, INT_MAX);
    EXPECT_TRUE(destroy_window(parent));
    EXPECT_TRUE(unregister_class("Geometry"));
}

}  // namespace
}  // namespace zbx::platform
