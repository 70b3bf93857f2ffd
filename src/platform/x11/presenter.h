// On-screen presenter of the window system: mirrors windows as X11 windows
// of the same placement, size, title and visibility and pushes their client
// surfaces to the screen.  The headless windows stay the truth; without a
// reachable display every call here does nothing and the system stays
// headless.  No X11 header is visible through this file.
//
// Threads: the notifications below may come from any thread, some with the
// window registry's lock held; the presenter never calls back into the
// window system while holding its own lock.  X events are read by one
// library thread per display connection.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/graphics.h"

namespace zbx::platform::x11 {

struct MirrorInfo {
    std::uintptr_t id = 0;
    std::uintptr_t parent_id = 0;     // 0 for a top-level window
    bool top_level = true;
    int x = 0;                         // client area origin relative to the parent's
    int y = 0;                         // client area (the screen for a top-level)
    int client_width = 0;
    int client_height = 0;
    std::string title;
    bool visible = false;
    std::shared_ptr<Bitmap> surface;   // may be null (no client area)
};

// What the presenter asks of the window system, from its event thread.
struct WindowSystemCallbacks {
    void (*closed_by_user)(std::uintptr_t id) = nullptr;
    void (*resized_by_user)(std::uintptr_t id, int client_width, int client_height) = nullptr;
};
void set_callbacks(const WindowSystemCallbacks& callbacks);

// Opens the display named by DISPLAY when no live connection exists (a
// display that refused is tried again only after a few seconds).  Call without the registry lock:
// connecting may take a moment.  True when a presenter is live.
bool ensure_connected();
[[nodiscard]] bool active();

void window_created(const MirrorInfo& info);
void window_destroyed(std::uintptr_t id);
void window_shown(std::uintptr_t id, bool visible);
void window_titled(std::uintptr_t id, const std::string& title);
// The client surface was replaced (new size).
void window_surface(std::uintptr_t id, std::shared_ptr<Bitmap> surface, int width, int height);
// The client surface was drawn into: shown on screen soon after, by the
// event thread (the drawing thread never waits for the X server).
void window_painted(std::uintptr_t id);

// An application's X window as a parent of mirrored windows: false when no
// display is live or the window does not exist there.  Sizes from the server.
[[nodiscard]] bool adopt_foreign(std::uintptr_t id, unsigned long xid, int* width, int* height);

// For tests and tools: the X window showing a window (0 when none), and
// a wait until every pending paint has reached the server.
[[nodiscard]] unsigned long x_window_of(std::uintptr_t id);
bool flush(int timeout_ms);

// One push of a surface to the screen, for the benchmark: converts and
// transfers the surface of a mirrored window now, on the calling thread.
bool push_now(std::uintptr_t id);
[[nodiscard]] bool uses_shared_memory();
// Connections made from now on use plain transfers only when false (as
// with a server without the extension); for tests.
void allow_shared_memory(bool allowed);

}  // namespace zbx::platform::x11
