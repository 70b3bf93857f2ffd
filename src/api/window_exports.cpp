// The window and message API of applications: shims over the window system,
// each under the export guard (failure: 0 or a null window).
#include <cstring>
#include <string>

#include "api/guard.h"
#include "platform/window.h"
#include "zorbex/window.h"

namespace wnd = zbx::platform;
using zbx::api::guarded;

extern "C" {

ZbxWindow ZbxWin_CreateMessageWindow(void) {
    return guarded(ZbxWindow{}, [] { return wnd::create_message_window(); });
}

ZbxWindow ZbxWin_CreateWindow(ZbxWindow parent, int x, int y, int width, int height, int visible) {
    return guarded(ZbxWindow{}, [&]() -> ZbxWindow {
        if (width < 0 || height < 0) return nullptr;
        wnd::WindowCreateInfo info;
        info.class_name = wnd::kApplicationWindowClass;
        // No frame, so the size given is the client size.
        info.style = (parent != nullptr ? wnd::kWsChild : wnd::kWsPopup) | (visible ? wnd::kWsVisible : 0);
        info.x = x;
        info.y = y;
        info.width = width;
        info.height = height;
        info.parent = parent;
        return wnd::create_window(info);
    });
}

int ZbxWin_DestroyWindow(ZbxWindow window) {
    return guarded(0, [&] { return wnd::destroy_window(window) ? 1 : 0; });
}

int ZbxWin_IsWindow(ZbxWindow window) { return guarded(0, [&] { return wnd::is_window(window) ? 1 : 0; }); }

int ZbxWin_PeekMessage(ZbxWindow window, ZbxMessage* message, int remove) {
    return guarded(0, [&] { return wnd::peek_message(window, message, remove != 0) ? 1 : 0; });
}

int ZbxWin_WaitMessage(ZbxWindow window, ZbxMessage* message, uint32_t timeout_ms) {
    return guarded(0, [&] { return wnd::wait_message(window, message, timeout_ms) ? 1 : 0; });
}

int ZbxWin_PostMessage(ZbxWindow window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
    return guarded(0, [&] { return wnd::post_message(window, message, wparam, lparam) ? 1 : 0; });
}

int ZbxWin_GetWindowRect(ZbxWindow window, int* x, int* y, int* width, int* height) {
    return guarded(0, [&]() -> int {
        wnd::Rect rect;
        if (!wnd::get_window_placement(window, &rect)) return 0;
        if (x != nullptr) *x = rect.left;
        if (y != nullptr) *y = rect.top;
        if (width != nullptr) *width = rect.width();
        if (height != nullptr) *height = rect.height();
        return 1;
    });
}

int ZbxWin_GetClientSize(ZbxWindow window, int* width, int* height) {
    return guarded(0, [&]() -> int {
        wnd::Rect rect;
        if (!wnd::get_client_rect(window, &rect)) return 0;
        if (width != nullptr) *width = rect.width();
        if (height != nullptr) *height = rect.height();
        return 1;
    });
}

int ZbxWin_IsVisible(ZbxWindow window) {
    return guarded(0, [&] { return wnd::is_window_visible(window) ? 1 : 0; });
}

int ZbxWin_GetParent(ZbxWindow window, ZbxWindow* parent) {
    return guarded(0, [&]() -> int {
        if (!wnd::is_window(window) || parent == nullptr) return 0;
        *parent = wnd::get_parent(window);
        return 1;
    });
}

int ZbxWin_GetTitle(ZbxWindow window, char* buffer, int size) {
    return guarded(0, [&]() -> int {
        std::string title;
        if (buffer == nullptr || size <= 0 || !wnd::get_window_text(window, &title)) return 0;
        if (title.size() >= static_cast<std::size_t>(size)) return 0;
        std::memcpy(buffer, title.c_str(), title.size() + 1);
        return 1;
    });
}

int ZbxWin_GetClassName(ZbxWindow window, char* buffer, int size) {
    return guarded(0, [&]() -> int {
        std::string name;
        if (buffer == nullptr || size <= 0 || !wnd::get_class_name(window, &name)) return 0;
        if (name.size() >= static_cast<std::size_t>(size)) return 0;
        std::memcpy(buffer, name.c_str(), name.size() + 1);
        return 1;
    });
}

int ZbxWin_GetStyle(ZbxWindow window, uint32_t* style) {
    return guarded(0, [&]() -> int {
        if (style == nullptr) return 0;
        return wnd::get_window_style(window, style, nullptr) ? 1 : 0;
    });
}

ZbxWindow ZbxWin_GetFirstChild(ZbxWindow window) {
    return guarded(ZbxWindow{}, [&] { return wnd::get_first_child(window); });
}

ZbxWindow ZbxWin_GetNextSibling(ZbxWindow window) {
    return guarded(ZbxWindow{}, [&] { return wnd::get_next_sibling(window); });
}

int ZbxWin_GetTopLevelWindows(ZbxWindow* windows, int capacity) {
    return guarded(0, [&]() -> int {
        std::vector<ZbxWindow> all = wnd::top_level_windows();
        if (windows != nullptr) {
            for (int i = 0; i < capacity && static_cast<std::size_t>(i) < all.size(); ++i) {
                windows[i] = all[static_cast<std::size_t>(i)];
            }
        }
        return static_cast<int>(all.size());
    });
}

int ZbxWin_GetScreenSize(int* width, int* height) {
    return guarded(0, [&]() -> int {
        wnd::ScreenSize screen = wnd::screen_size();
        if (width != nullptr) *width = screen.width;
        if (height != nullptr) *height = screen.height;
        return 1;
    });
}

int ZbxWin_ReadClientPixels(ZbxWindow window, uint8_t* pixels, int stride) {
    return guarded(0, [&]() -> int {
        if (stride < 0) return 0;
        return wnd::read_client_pixels(window, pixels, static_cast<std::size_t>(stride)) ? 1 : 0;
    });
}

ZbxWindow ZbxWin_WrapX11Window(unsigned long xid) {
    return guarded(ZbxWindow{}, [&] { return wnd::create_foreign_window(xid); });
}

unsigned long ZbxWin_GetX11Window(ZbxWindow window) {
    return guarded(0UL, [&] { return wnd::screen_window_of(window); });
}

int ZbxWin_SetTitle(ZbxWindow window, const char* title) {
    return guarded(0, [&]() -> int {
        if (title == nullptr) return 0;
        return wnd::set_window_text(window, title) ? 1 : 0;
    });
}

}  // extern "C"
