// Built when X11 is not available: the window system stays headless.
#include "platform/x11/presenter.h"

namespace zbx::platform::x11 {

void set_callbacks(const WindowSystemCallbacks&) {}
bool ensure_connected() { return false; }
bool active() { return false; }
void window_created(const MirrorInfo&) {}
void window_destroyed(std::uintptr_t) {}
void window_shown(std::uintptr_t, bool) {}
void window_titled(std::uintptr_t, const std::string&) {}
void window_surface(std::uintptr_t, std::shared_ptr<Bitmap>, int, int) {}
void window_painted(std::uintptr_t) {}
bool adopt_foreign(std::uintptr_t, unsigned long, int*, int*) { return false; }
unsigned long x_window_of(std::uintptr_t) { return 0; }
bool flush(int) { return false; }
bool push_now(std::uintptr_t) { return false; }
bool uses_shared_memory() { return false; }
void allow_shared_memory(bool) {}

}  // namespace zbx::platform::x11
