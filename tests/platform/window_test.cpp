// Window classes, windows, frames, the virtual screen and client surfaces.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <thread>
#include <string>
#include <vector>

#include "platform/window.h"
#include "zorbex/window.h"

namespace zbx::platform {
namespace {

constexpr std::uint32_t kPreviewChildStyle = 0x52000000;     // child, visible, clip siblings
constexpr std::uint32_t kPreviewTopLevelStyle = 0x16CF0000;  // overlapped window, visible, clips

std::string unique_class(const char* base) {
    static int counter = 0;
    return std::string(base) + "_" + std::to_string(++counter);
}

struct ClassGuard {
    std::string name;
    explicit ClassGuard(std::string n, RgbQuad background = {}) : name(std::move(n)) {
        EXPECT_TRUE(register_class(WindowClassInfo{name, 0, background}));
    }
    ~ClassGuard() { (void)unregister_class(name); }
};

TEST(WindowClasses, NamesAreUniqueAndUnregisterOnlyWhenUnused) {
    std::string name = unique_class("VideoRenderer");
    EXPECT_FALSE(is_class_registered(name));
    ASSERT_TRUE(register_class(WindowClassInfo{name, 0, {}}));
    EXPECT_TRUE(is_class_registered(name));
    EXPECT_FALSE(register_class(WindowClassInfo{name, 0, {}}));
    EXPECT_FALSE(register_class(WindowClassInfo{"", 0, {}}));

    WindowCreateInfo info;
    info.class_name = name;
    info.width = 10;
    info.height = 10;
    ZbxWindow w = create_window(info);
    ASSERT_NE(w, nullptr);
    EXPECT_FALSE(unregister_class(name));  // a window of it still exists
    destroy_window(w);
    EXPECT_TRUE(unregister_class(name));
    EXPECT_FALSE(unregister_class(name));
    EXPECT_FALSE(is_class_registered(name));
    // The name is free again.
    EXPECT_TRUE(register_class(WindowClassInfo{name, 0, {}}));
    EXPECT_TRUE(unregister_class(name));

    info.class_name = "no such class";
    EXPECT_EQ(create_window(info), nullptr);
}

TEST(WindowFrames, AdjustWindowRectGrowsByTheStylesFrame) {
    Rect rect{0, 0, 1280, 720};
    ASSERT_TRUE(adjust_window_rect_ex(&rect, kPreviewTopLevelStyle, false, 0));
    EXPECT_EQ(rect, (Rect{-8, -31, 1288, 728}));
    EXPECT_EQ(rect.width(), 1296);
    EXPECT_EQ(rect.height(), 759);

    rect = Rect{10, 20, 330, 260};
    ASSERT_TRUE(adjust_window_rect_ex(&rect, kPreviewChildStyle, false, 0));
    EXPECT_EQ(rect, (Rect{10, 20, 330, 260}));  // no frame at all

    rect = Rect{0, 0, 100, 100};
    adjust_window_rect_ex(&rect, kWsCaption, true, kWsExClientEdge);
    EXPECT_EQ(rect, (Rect{-5, -48, 105, 105}));  // dialog frame 3 + edge 2; caption and menu on top
    rect = Rect{0, 0, 100, 100};
    adjust_window_rect_ex(&rect, kWsBorder, false, 0);
    EXPECT_EQ(rect, (Rect{-1, -1, 101, 101}));
    EXPECT_FALSE(adjust_window_rect_ex(nullptr, 0, false, 0));
}

TEST(WindowFrames, TopLevelWindowCentredOnTheVirtualScreenHasTheAskedClientSize) {
    ASSERT_EQ(screen_size().width, 1920);
    ASSERT_EQ(screen_size().height, 1080);
    ClassGuard cls(unique_class("Centred"));

    Rect frame{0, 0, 1280, 720};
    adjust_window_rect_ex(&frame, kPreviewTopLevelStyle, false, 0);
    ScreenSize screen = screen_size();
    WindowCreateInfo info;
    info.class_name = cls.name;
    info.title = "Active Window";
    info.style = kPreviewTopLevelStyle;
    info.x = std::max((screen.width - frame.width()) / 2, 0);
    info.y = std::max((screen.height - frame.height()) / 2, 0);
    info.width = frame.width();
    info.height = frame.height();
    ZbxWindow w = create_window(info);
    ASSERT_NE(w, nullptr);

    Rect client;
    ASSERT_TRUE(get_client_rect(w, &client));
    EXPECT_EQ(client, (Rect{0, 0, 1280, 720}));
    Rect outer;
    ASSERT_TRUE(get_window_rect(w, &outer));
    EXPECT_EQ(outer, (Rect{312, 160, 312 + 1296, 160 + 759}));
    std::string title;
    ASSERT_TRUE(get_window_text(w, &title));
    EXPECT_EQ(title, "Active Window");
    EXPECT_TRUE(is_window_visible(w));
    EXPECT_EQ(get_parent(w), nullptr);
    auto tops = top_level_windows();
    EXPECT_NE(std::find(tops.begin(), tops.end(), w), tops.end());
    destroy_window(w);
    tops = top_level_windows();
    EXPECT_EQ(std::find(tops.begin(), tops.end(), w), tops.end());

    // A screen smaller than the frame: tests can set it, sides below 1 refused.
    EXPECT_FALSE(set_screen_size(0, 100));
    ASSERT_TRUE(set_screen_size(800, 600));
    EXPECT_EQ(screen_size().width, 800);
    ASSERT_TRUE(set_screen_size(1920, 1080));
}

TEST(Windows, ChildWindowsArePlacedInTheParentAndDestroyedWithIt) {
    ClassGuard cls(unique_class("Tree"));
    WindowCreateInfo top;
    top.class_name = cls.name;
    top.style = kPreviewTopLevelStyle;
    top.x = 100;
    top.y = 50;
    top.width = 800;
    top.height = 600;
    ZbxWindow parent = create_window(top);
    ASSERT_NE(parent, nullptr);

    WindowCreateInfo child;
    child.class_name = cls.name;
    child.title = "ActiveMovie Window";
    child.style = kPreviewChildStyle;
    child.x = 10;
    child.y = 20;
    child.width = 320;
    child.height = 240;
    child.parent = parent;
    child.child_id = 6540;
    ZbxWindow a = create_window(child);
    ZbxWindow b = create_window(child);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    child.parent = a;
    ZbxWindow grandchild = create_window(child);
    ASSERT_NE(grandchild, nullptr);

    EXPECT_EQ(get_parent(a), parent);
    EXPECT_EQ(get_first_child(parent), a);
    EXPECT_EQ(get_next_sibling(a), b);
    EXPECT_EQ(get_next_sibling(b), nullptr);
    std::intptr_t id = 0;
    ASSERT_TRUE(get_child_id(a, &id));
    EXPECT_EQ(id, 6540);
    Rect placement;
    ASSERT_TRUE(get_window_placement(a, &placement));
    EXPECT_EQ(placement, (Rect{10, 20, 330, 260}));
    Rect client;
    ASSERT_TRUE(get_client_rect(a, &client));
    EXPECT_EQ(client, (Rect{0, 0, 320, 240}));
    Rect screen_rect;
    ASSERT_TRUE(get_window_rect(a, &screen_rect));
    EXPECT_EQ(screen_rect.left, 100 + 8 + 10);   // parent origin + its frame + offset
    EXPECT_EQ(screen_rect.top, 50 + 31 + 20);
    auto tops = top_level_windows();
    EXPECT_EQ(std::find(tops.begin(), tops.end(), a), tops.end());

    // Visibility follows the ancestors.
    EXPECT_TRUE(is_window_visible(grandchild));
    ASSERT_TRUE(show_window(parent, false));
    EXPECT_FALSE(is_window_visible(grandchild));
    ASSERT_TRUE(show_window(parent, true));
    ASSERT_TRUE(show_window(a, false));
    EXPECT_FALSE(is_window_visible(grandchild));
    EXPECT_TRUE(is_window_visible(b));

    // Destroying one child leaves its sibling; destroying the parent takes all.
    ASSERT_TRUE(destroy_window(a));
    EXPECT_FALSE(is_window(grandchild));
    EXPECT_EQ(get_first_child(parent), b);
    ASSERT_TRUE(destroy_window(parent));
    EXPECT_FALSE(is_window(b));
    EXPECT_TRUE(unregister_class(cls.name));  // no window of the class is left
    ASSERT_TRUE(register_class(WindowClassInfo{cls.name, 0, {}}));
}

TEST(Windows, BadCreationArgumentsAreRefused) {
    ClassGuard cls(unique_class("Bad"));
    WindowCreateInfo info;
    info.class_name = cls.name;
    info.style = kWsChild;
    info.width = 10;
    info.height = 10;
    EXPECT_EQ(create_window(info), nullptr);  // child without parent
    ZbxWindow dead = create_message_window();
    destroy_window(dead);
    info.parent = dead;
    EXPECT_EQ(create_window(info), nullptr);
    info.parent = nullptr;
    info.style = 0;
    info.width = 1 << 20;
    info.height = 1 << 20;
    EXPECT_EQ(create_window(info), nullptr);  // surface too large
    info.width = -5;
    info.height = 3;
    ZbxWindow empty = create_window(info);  // negative sizes become 0
    ASSERT_NE(empty, nullptr);
    Rect client;
    ASSERT_TRUE(get_client_rect(empty, &client));
    EXPECT_EQ(client.width(), 0);
    auto dc = get_dc(empty);
    ASSERT_NE(dc, nullptr);
    destroy_window(empty);

    Rect r;
    EXPECT_FALSE(get_client_rect(dead, &r));
    EXPECT_FALSE(get_window_rect(dead, &r));
    EXPECT_FALSE(show_window(dead, true));
    EXPECT_FALSE(is_window_visible(dead));
    EXPECT_EQ(get_dc(dead), nullptr);
    std::uint8_t pixel[3];
    EXPECT_FALSE(read_client_pixels(dead, pixel, 3));
}

TEST(WindowSurfaces, ClientAreaStartsInTheClassBackgroundAndReadsBackTopFirst) {
    ClassGuard cls(unique_class("Surface"), RgbQuad{10, 20, 30, 0});
    WindowCreateInfo info;
    info.class_name = cls.name;
    info.style = kWsVisible;
    info.width = 5;
    info.height = 3;
    ZbxWindow w = create_window(info);
    ASSERT_NE(w, nullptr);
    std::vector<std::uint8_t> pixels(16 * 3, 0xEE);
    ASSERT_TRUE(read_client_pixels(w, pixels.data(), 16));
    EXPECT_EQ(pixels[0], 10);
    EXPECT_EQ(pixels[1], 20);
    EXPECT_EQ(pixels[2], 30);
    EXPECT_EQ(pixels[14], 30);    // last pixel of row 0
    EXPECT_EQ(pixels[15], 0xEE);  // padding untouched
    EXPECT_FALSE(read_client_pixels(w, pixels.data(), 14));  // stride below a row

    // Something drawn into the top row of the context is row 0 of the read-back.
    auto dc = get_dc(w);
    ASSERT_NE(dc, nullptr);
    EXPECT_FALSE(dc->is_memory());
    std::uint8_t* top = dc->bitmap()->picture_row(0);
    top[0] = 200;
    ASSERT_TRUE(read_client_pixels(w, pixels.data(), 16));
    EXPECT_EQ(pixels[0], 200);
    EXPECT_EQ(pixels[16], 10);

    // A context that outlives its window stops drawing.
    destroy_window(w);
    auto memory = create_compatible_dc();
    EXPECT_FALSE(bit_blt(dc.get(), 0, 0, 1, 1, memory.get(), 0, 0, kSrcCopy));
}

TEST(WindowSurfaces, ReadBackNeverSeesHalfABlitAndDestroyStopsTheDrawingThread) {
    ZbxWindow w = create_window(WindowCreateInfo{kApplicationWindowClass, "", kWsVisible, 0, 0, 0, 64, 48});
    ASSERT_NE(w, nullptr);
    BitmapInfoHeader header;
    header.biWidth = 64;
    header.biHeight = 48;
    header.biPlanes = 1;
    header.biBitCount = 24;
    std::array<std::unique_ptr<DeviceContext>, 2> sources;
    std::array<std::shared_ptr<Bitmap>, 2> frames;
    for (std::size_t i = 0; i < 2; ++i) {
        frames[i] = create_dib_section(header, {});
        std::fill_n(frames[i]->pixels(), frames[i]->size_bytes(), static_cast<std::uint8_t>(i == 0 ? 0x11 : 0x22));
        sources[i] = create_compatible_dc();
        ASSERT_NE(sources[i]->select_bitmap(frames[i]), nullptr);
    }

    std::atomic<bool> stop{false};
    std::atomic<int> drawn{0};
    std::thread painter([&] {
        auto dc = get_dc(w);
        for (int n = 0; !stop; ++n) {
            if (!bit_blt(dc.get(), 0, 0, 64, 48, sources[n % 2].get(), 0, 0, kSrcCopy)) break;
            ++drawn;
        }
    });
    std::vector<std::uint8_t> pixels(64 * 3 * 48);
    for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(read_client_pixels(w, pixels.data(), 64 * 3));
        std::uint8_t first = pixels[0];
        ASSERT_TRUE(std::all_of(pixels.begin(), pixels.end(), [&](std::uint8_t v) { return v == first; }));
    }
    while (drawn < 10) std::this_thread::yield();
    destroy_window(w);  // the painter's next blit fails and it ends by itself
    painter.join();
    stop = true;
}

TEST(WindowApi, ApplicationWindowsAndQueriesThroughTheCInterface) {
    ZbxWindow parent = ZbxWin_CreateWindow(nullptr, 0, 0, 640, 480, 1);
    ASSERT_NE(parent, nullptr);
    ZbxWindow child = ZbxWin_CreateWindow(parent, 10, 20, 320, 240, 1);
    ASSERT_NE(child, nullptr);

    int x = 0, y = 0, width = 0, height = 0;
    ASSERT_EQ(ZbxWin_GetWindowRect(child, &x, &y, &width, &height), 1);
    EXPECT_EQ(x, 10);
    EXPECT_EQ(y, 20);
    EXPECT_EQ(width, 320);
    EXPECT_EQ(height, 240);
    ASSERT_EQ(ZbxWin_GetClientSize(parent, &width, &height), 1);
    EXPECT_EQ(width, 640);  // application windows have no frame
    EXPECT_EQ(height, 480);
    ZbxWindow got = nullptr;
    ASSERT_EQ(ZbxWin_GetParent(child, &got), 1);
    EXPECT_EQ(got, parent);
    EXPECT_EQ(ZbxWin_GetFirstChild(parent), child);
    EXPECT_EQ(ZbxWin_GetNextSibling(child), nullptr);
    EXPECT_EQ(ZbxWin_IsVisible(child), 1);
    std::uint32_t style = 0;
    ASSERT_EQ(ZbxWin_GetStyle(child, &style), 1);
    EXPECT_NE(style & 0x40000000u, 0u);

    char text[32];
    ASSERT_EQ(ZbxWin_GetClassName(child, text, sizeof text), 1);
    EXPECT_STREQ(text, kApplicationWindowClass);
    EXPECT_EQ(ZbxWin_GetClassName(child, text, 4), 0);  // does not fit
    ASSERT_EQ(ZbxWin_GetTitle(child, text, 1), 1);       // empty title fits in one byte
    EXPECT_STREQ(text, "");

    int count = ZbxWin_GetTopLevelWindows(nullptr, 0);
    std::vector<ZbxWindow> tops(static_cast<std::size_t>(count));
    EXPECT_EQ(ZbxWin_GetTopLevelWindows(tops.data(), count), count);
    EXPECT_NE(std::find(tops.begin(), tops.end(), parent), tops.end());
    int sw = 0, sh = 0;
    ASSERT_EQ(ZbxWin_GetScreenSize(&sw, &sh), 1);
    EXPECT_EQ(sw, 1920);
    EXPECT_EQ(sh, 1080);

    std::vector<std::uint8_t> pixels(640 * 3 * 480);
    EXPECT_EQ(ZbxWin_ReadClientPixels(parent, pixels.data(), 640 * 3), 1);
    EXPECT_EQ(ZbxWin_ReadClientPixels(parent, pixels.data(), -1), 0);

    ASSERT_EQ(ZbxWin_DestroyWindow(parent), 1);
    EXPECT_EQ(ZbxWin_IsWindow(child), 0);
    EXPECT_EQ(ZbxWin_GetWindowRect(child, &x, &y, &width, &height), 0);
    EXPECT_EQ(ZbxWin_GetParent(child, &got), 0);
}

}  // namespace
}  // namespace zbx::platform
