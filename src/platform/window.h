// Window system stand-in: headless windows, window classes, message queues
// and the device contexts of window client areas.
//
// Every window is an object in a process-wide registry, named by an opaque
// handle (ZbxWindow) that is never dereferenced: each call looks the handle
// up, so a destroyed or made-up handle fails harmlessly.  Handle values are
// never reused.  All functions may be called from any thread.
//
// Titles and class names are UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/graphics.h"
#include "platform/sync.h"  // kInfinite
#include "zorbex/window.h"

namespace zbx::platform {

// ---- Messages -------------------------------------------------------------

// First message number free for applications' own use.
inline constexpr std::uint32_t kWmApp = 0x8000;
// A queue holding this many messages refuses further posts, so a window
// nobody reads (or a thread queue that is never read) cannot grow forever.
inline constexpr std::size_t kMessageQueueLimit = 10000;

// Appends a message to the window's queue, or to the calling thread's queue
// when window is null.  False for an unknown or destroyed window or a full
// queue; nothing else happens then.
[[nodiscard]] bool post_message(ZbxWindow window, std::uint32_t message, std::uintptr_t wparam,
                                std::intptr_t lparam);
// Oldest message of the window's queue (the calling thread's when window is
// null); removed when remove is true.  False when there is none.
[[nodiscard]] bool peek_message(ZbxWindow window, ZbxMessage* message, bool remove);
// Waits up to timeout_ms (kInfinite: no limit) for a message and takes it.
// False on time-out or when the window is or becomes destroyed.  The thread
// queue can only be filled by its own thread, so waiting on an empty one
// just sleeps out the time-out (and returns at once for kInfinite).
[[nodiscard]] bool wait_message(ZbxWindow window, ZbxMessage* message, std::uint32_t timeout_ms);

// ---- Classes --------------------------------------------------------------

// Always-registered class of the windows that applications create.
inline constexpr const char* kApplicationWindowClass = "ZbxApplicationWindow";

struct WindowClassInfo {
    std::string name;             // unique in the process, not empty
    std::uint32_t style = 0;      // class style bits, kept as given
    RgbQuad background{0, 0, 0, 0};  // colour a new window's client area starts with
};

// False when the name is empty or already taken.
[[nodiscard]] bool register_class(const WindowClassInfo& info);
// False when the class is unknown or windows of it still exist.
[[nodiscard]] bool unregister_class(std::string_view name);
[[nodiscard]] bool is_class_registered(std::string_view name);

// ---- Styles and frames ----------------------------------------------------

inline constexpr std::uint32_t kWsPopup = 0x80000000;
inline constexpr std::uint32_t kWsChild = 0x40000000;
inline constexpr std::uint32_t kWsVisible = 0x10000000;
inline constexpr std::uint32_t kWsClipSiblings = 0x04000000;
inline constexpr std::uint32_t kWsClipChildren = 0x02000000;
inline constexpr std::uint32_t kWsCaption = 0x00C00000;  // border + dialog frame
inline constexpr std::uint32_t kWsBorder = 0x00800000;
inline constexpr std::uint32_t kWsDlgFrame = 0x00400000;
inline constexpr std::uint32_t kWsSysMenu = 0x00080000;
inline constexpr std::uint32_t kWsThickFrame = 0x00040000;
inline constexpr std::uint32_t kWsMinimizeBox = 0x00020000;
inline constexpr std::uint32_t kWsMaximizeBox = 0x00010000;
inline constexpr std::uint32_t kWsOverlappedWindow = 0x00CF0000;
inline constexpr std::uint32_t kWsExClientEdge = 0x00000200;

// Frame metrics of the virtual display (those of a 96-dpi desktop).
inline constexpr int kCaptionHeight = 23;
inline constexpr int kMenuHeight = 20;
inline constexpr int kThickFrameWidth = 8;
inline constexpr int kDialogFrameWidth = 3;
inline constexpr int kBorderWidth = 1;
inline constexpr int kClientEdgeWidth = 2;

struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    [[nodiscard]] int width() const { return right - left; }
    [[nodiscard]] int height() const { return bottom - top; }
    friend bool operator==(const Rect&, const Rect&) = default;
};

// Grows a client rectangle into the window rectangle that a window of the
// given style needs around it.  False only for a null rect.
bool adjust_window_rect_ex(Rect* rect, std::uint32_t style, bool menu, std::uint32_t ex_style);

// The virtual screen that top-level windows are centred on: 1920 x 1080
// unless a test sets another size (sides below 1 are refused).
struct ScreenSize {
    int width;
    int height;
};
ScreenSize screen_size();
bool set_screen_size(int width, int height);

// ---- Windows --------------------------------------------------------------

// Largest client side a window may have: what an X server can hold (its
// sizes are 16-bit); larger windows are refused.
inline constexpr int kMaxWindowSide = 32767;

struct WindowCreateInfo {
    std::string class_name;  // a registered class
    std::string title;
    std::uint32_t style = 0;
    std::uint32_t ex_style = 0;
    // Position relative to the parent's client area (the screen for a
    // top-level window) and the outer size, frame included.
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    ZbxWindow parent = nullptr;  // must be live when given
    std::intptr_t child_id = 0;
};

// Null when the class is unknown, the parent is not a live window, a child
// style has no parent, a side exceeds kMaxWindowSide, the rectangle's far
// edges do not fit an int, or the client surface cannot be allocated.
// When a display is reachable the window is also shown there (see
// platform/x11/presenter.h).
[[nodiscard]] ZbxWindow create_window(const WindowCreateInfo& info);
// A window standing for an application's X11 window `xid` on the display,
// so that library windows can be created inside it: no surface of its
// own, its size the X window's, never listed as top-level and never
// destroyed on the server by us.  Null without a reachable display or
// when no such X window exists.
[[nodiscard]] ZbxWindow create_foreign_window(unsigned long xid);
// The X11 window that shows a window on screen; 0 when headless.
[[nodiscard]] unsigned long screen_window_of(ZbxWindow window);
// A hidden window without client area that only receives messages.
[[nodiscard]] ZbxWindow create_message_window();
// Destroys the window and its children (deepest first) and drops their
// queued messages; waiters on their queues return false.  Device contexts
// still held on them stop drawing.  False for an unknown window.
bool destroy_window(ZbxWindow window);
[[nodiscard]] bool is_window(ZbxWindow window);

// Sets or clears the visible style bit; false for an unknown window.
bool show_window(ZbxWindow window, bool show);
// Visible when the window and all its ancestors have the visible bit.
[[nodiscard]] bool is_window_visible(ZbxWindow window);
// Headless windows are always up to date: true for a live window.
bool update_window(ZbxWindow window);
// Remembers the focus window; true for a live window.
bool set_focus(ZbxWindow window);
[[nodiscard]] ZbxWindow get_focus();

// Client rectangle: always at 0, 0, of the client size.
bool get_client_rect(ZbxWindow window, Rect* rect);
// Outer rectangle in screen coordinates.
bool get_window_rect(ZbxWindow window, Rect* rect);
// Outer rectangle relative to the parent's client area (for a top-level
// window the same as get_window_rect): what the creator asked for.
bool get_window_placement(ZbxWindow window, Rect* rect);
bool get_window_text(ZbxWindow window, std::string* text);
bool set_window_text(ZbxWindow window, std::string_view text);
// The user resized a window on screen: the client area takes the new size
// (a fresh black surface; the next paint fills it).  Sides are limited to
// 1 .. kMaxWindowSide.  Presenter thread.
bool resize_client(ZbxWindow window, int client_width, int client_height);
bool get_class_name(ZbxWindow window, std::string* name);
bool get_window_style(ZbxWindow window, std::uint32_t* style, std::uint32_t* ex_style);
bool get_child_id(ZbxWindow window, std::intptr_t* child_id);
// Null for a top-level or unknown window.
[[nodiscard]] ZbxWindow get_parent(ZbxWindow window);
// Children in creation order.
[[nodiscard]] ZbxWindow get_first_child(ZbxWindow window);
[[nodiscard]] ZbxWindow get_next_sibling(ZbxWindow window);
// Live top-level windows (message windows excluded) in creation order.
[[nodiscard]] std::vector<ZbxWindow> top_level_windows();

// ---- Client area ----------------------------------------------------------

// A device context drawing into the window's client area (24-bit BGR,
// top row first).  Null for an unknown or message-only window.  Releasing
// the context is destroying it.
[[nodiscard]] std::unique_ptr<DeviceContext> get_dc(ZbxWindow window);
// Copies the client area, top row first, 3 bytes per pixel (blue, green,
// red), rows `stride` bytes apart, into pixels.  False for an unknown
// window, a null buffer or a stride below 3 x width.
bool read_client_pixels(ZbxWindow window, std::uint8_t* pixels, std::size_t stride);

}  // namespace zbx::platform
