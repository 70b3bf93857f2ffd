// Headless window system: a locked registry of live windows, their queues
// and client surfaces, plus one message queue per thread.
#include "platform/window.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "platform/x11/presenter.h"

namespace zbx::platform {
namespace {

struct WindowObject {
    std::uintptr_t id = 0;
    std::string class_name;
    std::string title;
    std::uint32_t style = 0;
    std::uint32_t ex_style = 0;
    Rect placement;     // outer rectangle relative to the parent's client area
    Rect client_frame;  // client rectangle inside the outer one (left/top offsets)
    int client_width = 0;
    int client_height = 0;
    std::uintptr_t parent = 0;
    std::vector<std::uintptr_t> children;
    std::intptr_t child_id = 0;
    bool message_only = false;
    bool foreign = false;  // an application's X window (create_foreign_window)
    bool destroyed = false;
    std::deque<ZbxMessage> queue;
    std::condition_variable arrived;
    std::shared_ptr<Bitmap> surface;
};

// Everything below is guarded by Registry::mutex.
struct Registry {
    std::mutex mutex;
    std::unordered_map<std::uintptr_t, std::shared_ptr<WindowObject>> windows;
    std::vector<std::uintptr_t> top_level;  // creation order
    std::map<std::string, WindowClassInfo, std::less<>> classes;
    std::uintptr_t next_id = 0x10000;
    std::uintptr_t focus = 0;
    ScreenSize screen{1920, 1080};
};

void closed_on_screen(std::uintptr_t id);
void resized_on_screen(std::uintptr_t id, int width, int height);

// Deliberately never destroyed: threads may still post while the process exits.
Registry& registry() {
    static Registry* instance = [] {
        x11::set_callbacks(x11::WindowSystemCallbacks{&closed_on_screen, &resized_on_screen});
        return new Registry;
    }();
    return *instance;
}

int clamp_to_int(std::int64_t value) {
    return static_cast<int>(std::clamp<std::int64_t>(value, INT_MIN, INT_MAX));
}

// Handle values are spaced so that a stray small integer is never a window.
constexpr std::uintptr_t kHandleStep = 0x10;

std::uintptr_t to_id(ZbxWindow window) { return reinterpret_cast<std::uintptr_t>(window); }
ZbxWindow to_handle(std::uintptr_t id) { return reinterpret_cast<ZbxWindow>(id); }

// Needs the registry lock.
WindowObject* find_locked(Registry& r, ZbxWindow window) {
    if (window == nullptr) return nullptr;
    auto it = r.windows.find(to_id(window));
    return it == r.windows.end() ? nullptr : it->second.get();
}

// Built-in classes of the public window API.
constexpr const char* kMessageClass = "ZbxMessageWindow";
constexpr const char* kApplicationClass = kApplicationWindowClass;

struct ThreadQueue {
    std::deque<ZbxMessage> queue;
};
ThreadQueue& thread_queue() {
    thread_local ThreadQueue queue;
    return queue;
}

bool take(std::deque<ZbxMessage>& queue, ZbxMessage* message, bool remove) {
    if (queue.empty()) return false;
    if (message != nullptr) *message = queue.front();
    if (remove) queue.pop_front();
    return true;
}

int frame_width(std::uint32_t style) {
    if ((style & kWsThickFrame) != 0) return kThickFrameWidth;
    if ((style & kWsDlgFrame) != 0) return kDialogFrameWidth;
    if ((style & kWsBorder) != 0) return kBorderWidth;
    return 0;
}

// Needs the registry lock.  Destroys children first, then the window.
void destroy_locked(Registry& r, std::uintptr_t id) {
    auto it = r.windows.find(id);
    if (it == r.windows.end()) return;
    std::shared_ptr<WindowObject> window = it->second;
    for (std::uintptr_t child : std::vector<std::uintptr_t>(window->children)) {
        destroy_locked(r, child);
    }
    if (auto parent = r.windows.find(window->parent); parent != r.windows.end()) {
        auto& siblings = parent->second->children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), id), siblings.end());
    }
    r.top_level.erase(std::remove(r.top_level.begin(), r.top_level.end(), id), r.top_level.end());
    if (r.focus == id) r.focus = 0;
    window->destroyed = true;
    if (!window->message_only) x11::window_destroyed(id);
    window->queue.clear();
    window->arrived.notify_all();
    if (window->surface) retire_bitmap(window->surface.get());
    r.windows.erase(it);
}

std::shared_ptr<Bitmap> make_surface(int width, int height, const RgbQuad& background) {
    BitmapInfoHeader header;
    header.biWidth = width;
    header.biHeight = -height;  // top row first, as a screen
    header.biPlanes = 1;
    header.biBitCount = 24;
    std::shared_ptr<Bitmap> surface = create_dib_section(header, {});
    if (!surface) return nullptr;
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = surface->picture_row(y);
        for (int x = 0; x < width; ++x) {
            row[3 * x] = background.rgbBlue;
            row[3 * x + 1] = background.rgbGreen;
            row[3 * x + 2] = background.rgbRed;
        }
    }
    return surface;
}

ZbxWindow insert_locked(Registry& r, std::shared_ptr<WindowObject> window) {
    std::uintptr_t id = r.next_id;
    r.next_id += kHandleStep;
    window->id = id;
    if (window->parent != 0) {
        r.windows.at(window->parent)->children.push_back(id);
    } else if (!window->message_only && !window->foreign) {
        r.top_level.push_back(id);
    }
    r.windows.emplace(id, std::move(window));
    return to_handle(id);
}

void ensure_builtin_classes_locked(Registry& r) {
    if (!r.classes.contains(kMessageClass)) {
        r.classes.emplace(kMessageClass, WindowClassInfo{kMessageClass, 0, {}});
    }
    if (!r.classes.contains(kApplicationClass)) {
        r.classes.emplace(kApplicationClass, WindowClassInfo{kApplicationClass, 0, {}});
    }
}

// The user closed a window on screen: as if the application destroyed it.
void closed_on_screen(std::uintptr_t id) { (void)destroy_window(to_handle(id)); }
void resized_on_screen(std::uintptr_t id, int width, int height) {
    (void)resize_client(to_handle(id), width, height);
}

}  // namespace

// ---- Messages -------------------------------------------------------------

bool post_message(ZbxWindow window, std::uint32_t message, std::uintptr_t wparam,
                  std::intptr_t lparam) {
    if (window == nullptr) {
        auto& queue = thread_queue().queue;
        if (queue.size() >= kMessageQueueLimit) return false;
        queue.push_back(ZbxMessage{nullptr, message, wparam, lparam});
        return true;
    }
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    WindowObject* target = find_locked(r, window);
    if (target == nullptr || target->queue.size() >= kMessageQueueLimit) return false;
    target->queue.push_back(ZbxMessage{window, message, wparam, lparam});
    target->arrived.notify_one();
    return true;
}

bool peek_message(ZbxWindow window, ZbxMessage* message, bool remove) {
    if (window == nullptr) return take(thread_queue().queue, message, remove);
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    WindowObject* target = find_locked(r, window);
    return target != nullptr && take(target->queue, message, remove);
}

bool wait_message(ZbxWindow window, ZbxMessage* message, std::uint32_t timeout_ms) {
    if (window == nullptr) {
        if (take(thread_queue().queue, message, true)) return true;
        if (timeout_ms != kInfinite) std::this_thread::sleep_for(std::chrono::milliseconds(timeout_ms));
        return take(thread_queue().queue, message, true);
    }
    Registry& r = registry();
    std::unique_lock lock(r.mutex);
    auto it = r.windows.find(to_id(window));
    if (it == r.windows.end()) return false;
    std::shared_ptr<WindowObject> target = it->second;  // keeps the condition alive
    auto ready = [&] { return target->destroyed || !target->queue.empty(); };
    if (timeout_ms == kInfinite) {
        target->arrived.wait(lock, ready);
    } else {
        target->arrived.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready);
    }
    return !target->destroyed && take(target->queue, message, true);
}

// ---- Classes --------------------------------------------------------------

bool register_class(const WindowClassInfo& info) {
    if (info.name.empty()) return false;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    ensure_builtin_classes_locked(r);
    return r.classes.emplace(info.name, info).second;
}

bool unregister_class(std::string_view name) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.classes.find(name);
    if (it == r.classes.end()) return false;
    for (const auto& [id, window] : r.windows) {
        if (window->class_name == name) return false;
    }
    r.classes.erase(it);
    return true;
}

bool is_class_registered(std::string_view name) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return r.classes.find(name) != r.classes.end();
}

// ---- Frames and screen ----------------------------------------------------

bool adjust_window_rect_ex(Rect* rect, std::uint32_t style, bool menu, std::uint32_t ex_style) {
    if (rect == nullptr) return false;
    int edge = frame_width(style);
    if ((ex_style & kWsExClientEdge) != 0) edge += kClientEdgeWidth;
    int top = edge;
    if ((style & kWsCaption) == kWsCaption) top += kCaptionHeight;
    if (menu) top += kMenuHeight;
    rect->left -= edge;
    rect->right += edge;
    rect->top -= top;
    rect->bottom += edge;
    return true;
}

ScreenSize screen_size() {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return r.screen;
}

bool set_screen_size(int width, int height) {
    if (width < 1 || height < 1) return false;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.screen = ScreenSize{width, height};
    return true;
}

// ---- Windows --------------------------------------------------------------

ZbxWindow create_window(const WindowCreateInfo& info) {
    auto window = std::make_shared<WindowObject>();
    window->class_name = info.class_name;
    window->title = info.title;
    window->style = info.style;
    window->ex_style = info.ex_style;
    window->child_id = info.child_id;
    int width = std::max(info.width, 0);
    int height = std::max(info.height, 0);
    // Far edges are computed wide: a rectangle near INT_MAX must not wrap.
    const std::int64_t right = std::int64_t{info.x} + width;
    const std::int64_t bottom = std::int64_t{info.y} + height;
    if (width > kMaxWindowSide || height > kMaxWindowSide || right > INT_MAX || bottom > INT_MAX) return nullptr;
    window->placement = Rect{info.x, info.y, static_cast<int>(right), static_cast<int>(bottom)};
    (void)registry();  // hands the presenter its callbacks before it starts
    (void)x11::ensure_connected();

    Rect frame{0, 0, 0, 0};
    adjust_window_rect_ex(&frame, info.style, false, info.ex_style);
    window->client_frame = Rect{-frame.left, -frame.top, -frame.right, -frame.bottom};
    window->client_width = std::max(width - frame.width(), 0);
    window->client_height = std::max(height - frame.height(), 0);

    RgbQuad background;
    {
        Registry& r = registry();
        std::lock_guard lock(r.mutex);
        ensure_builtin_classes_locked(r);
        auto cls = r.classes.find(info.class_name);
        if (cls == r.classes.end()) return nullptr;
        background = cls->second.background;
        if (info.parent != nullptr && find_locked(r, info.parent) == nullptr) return nullptr;
        if (info.parent == nullptr && (info.style & kWsChild) != 0) return nullptr;
    }
    // The surface is made outside the lock: it may be large.
    if (window->client_width > 0 && window->client_height > 0) {
        window->surface = make_surface(window->client_width, window->client_height, background);
        if (!window->surface) return nullptr;
    }

    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    // The parent may have gone while the surface was made.
    if (info.parent != nullptr && find_locked(r, info.parent) == nullptr) return nullptr;
    if (!r.classes.contains(info.class_name)) return nullptr;
    window->parent = to_id(info.parent);
    WindowObject& created = *window;
    ZbxWindow handle = insert_locked(r, std::move(window));
    x11::MirrorInfo mirror;
    mirror.id = created.id;
    mirror.parent_id = created.parent;
    mirror.top_level = created.parent == 0;
    mirror.x = clamp_to_int(std::int64_t{created.placement.left} + created.client_frame.left);
    mirror.y = clamp_to_int(std::int64_t{created.placement.top} + created.client_frame.top);
    mirror.client_width = created.client_width;
    mirror.client_height = created.client_height;
    mirror.title = created.title;
    mirror.visible = (created.style & kWsVisible) != 0;
    mirror.surface = created.surface;
    x11::window_created(mirror);
    return handle;
}

ZbxWindow create_foreign_window(unsigned long xid) {
    (void)registry();
    if (xid == 0 || !x11::ensure_connected()) return nullptr;
    auto window = std::make_shared<WindowObject>();
    window->class_name = kApplicationClass;
    window->style = kWsVisible;
    window->foreign = true;
    std::uintptr_t id = 0;
    {
        Registry& r = registry();
        std::lock_guard lock(r.mutex);
        ensure_builtin_classes_locked(r);
        id = to_id(insert_locked(r, window));
    }
    int width = 0;
    int height = 0;
    if (!x11::adopt_foreign(id, xid, &width, &height)) {
        (void)destroy_window(to_handle(id));
        return nullptr;
    }
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    WindowObject* target = find_locked(r, to_handle(id));
    if (target == nullptr) return nullptr;
    target->client_width = std::min(width, kMaxWindowSide);
    target->client_height = std::min(height, kMaxWindowSide);
    target->placement = Rect{0, 0, target->client_width, target->client_height};
    return to_handle(id);
}

unsigned long screen_window_of(ZbxWindow window) {
    return is_window(window) ? x11::x_window_of(to_id(window)) : 0;
}

ZbxWindow create_message_window() {
    auto window = std::make_shared<WindowObject>();
    window->class_name = kMessageClass;
    window->message_only = true;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    ensure_builtin_classes_locked(r);
    return insert_locked(r, std::move(window));
}

bool destroy_window(ZbxWindow window) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    if (find_locked(r, window) == nullptr) return false;
    destroy_locked(r, to_id(window));
    return true;
}

bool is_window(ZbxWindow window) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return find_locked(r, window) != nullptr;
}

bool show_window(ZbxWindow window, bool show) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    WindowObject* target = find_locked(r, window);
    if (target == nullptr || target->message_only) return false;
    target->style = show ? (target->style | kWsVisible) : (target->style & ~kWsVisible);
    x11::window_shown(target->id, show);
    return true;
}

bool is_window_visible(ZbxWindow window) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    WindowObject* target = find_locked(r, window);
    while (target != nullptr) {
        if ((target->style & kWsVisible) == 0) return false;
        if (target->parent == 0) return true;
        target = find_locked(r, to_handle(target->parent));
    }
    return false;
}

bool update_window(ZbxWindow window) { return is_window(window); }

bool set_focus(ZbxWindow window) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    if (find_locked(r, window) == nullptr) return false;
    r.focus = to_id(window);
    return true;
}

ZbxWindow get_focus() {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return to_handle(r.focus);
}

bool get_client_rect(ZbxWindow window, Rect* rect) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    WindowObject* target = find_locked(r, window);
    if (target == nullptr || rect == nullptr) return false;
    *rect = Rect{0, 0, target->client_width, target->client_height};
    return true;
}

bool get_window_rect(ZbxWindow window, Rect* rect) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    WindowObject* target = find_locked(r, window);
    if (target == nullptr || rect == nullptr) return false;
    // Shift by each ancestor's client origin on the screen, in 64 bits:
    // deep or far-placed windows are clamped to the int range, not wrapped.
    std::int64_t left = target->placement.left;
    std::int64_t top = target->placement.top;
    std::int64_t right = target->placement.right;
    std::int64_t bottom = target->placement.bottom;
    for (WindowObject* parent = find_locked(r, to_handle(target->parent)); parent != nullptr;
         parent = find_locked(r, to_handle(parent->parent))) {
        const std::int64_t dx = std::int64_t{parent->placement.left} + parent->client_frame.left;
        const std::int64_t dy = std::int64_t{parent->placement.top} + parent->client_frame.top;
        left += dx;
        right += dx;
        top += dy;
        bottom += dy;
    }
    *rect = Rect{clamp_to_int(left), clamp_to_int(top), clamp_to_int(right), clamp_to_int(bottom)};
    return true;
}

bool get_window_placement(ZbxWindow window, Rect* rect) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    WindowObject* target = find_locked(r, window);
    if (target == nullptr || rect == nullptr) return false;
    *rect = target->placement;
    return true;
}

bool get_window_text(ZbxWindow window, std::string* text) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    WindowObject* target = find_locked(r, window);
    if (target == nullptr || text == nullptr) return false;
    *text = target->title;
    return true;
}

bool set_window_text(ZbxWindow window, std::string_view text) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    WindowObject* target = find_locked(r, window);
    if (target == nullptr || target->message_only) return false;
    target->title = std::string(text);
    x11::window_titled(target->id, target->title);
    return true;
}

bool resize_client(ZbxWindow window, int client_width, int client_height) {
    if (client_width < 1 || client_height < 1 || client_width > kMaxWindowSide || client_height > kMaxWindowSide)
        return false;
    RgbQuad background;
    {
        Registry& r = registry();
        std::lock_guard lock(r.mutex);
        WindowObject* target = find_locked(r, window);
        if (target == nullptr || target->message_only || target->foreign) return false;
        if (auto cls = r.classes.find(target->class_name); cls != r.classes.end())
            background = cls->second.background;
    }
    std::shared_ptr<Bitmap> surface = make_surface(client_width, client_height, background);
    if (!surface) return false;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    WindowObject* target = find_locked(r, window);
    if (target == nullptr) return false;
    const int frame_w = target->client_frame.left - target->client_frame.right;
    const int frame_h = target->client_frame.top - target->client_frame.bottom;
    const Rect& p = target->placement;
    target->placement = Rect{p.left, p.top, clamp_to_int(std::int64_t{p.left} + client_width + frame_w),
                             clamp_to_int(std::int64_t{p.top} + client_height + frame_h)};
    // Contexts still bound to the old surface stop drawing; painters take a new one.
    if (target->surface) retire_bitmap(target->surface.get());
    target->surface = surface;
    target->client_width = client_width;
    target->client_height = client_height;
    x11::window_surface(target->id, std::move(surface), client_width, client_height);
    return true;
}

bool get_class_name(ZbxWindow window, std::string* name) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    WindowObject* target = find_locked(r, window);
    if (target == nullptr || name == nullptr) return false;
    *name = target->class_name;
    return true;
}

bool get_window_style(ZbxWindow window, std::uint32_t* style, std::uint32_t* ex_style) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    WindowObject* target = find_locked(r, window);
    if (target == nullptr) return false;
    if (style != nullptr) *style = target->style;
    if (ex_style != nullptr) *ex_style = target->ex_style;
    return true;
}

bool get_child_id(ZbxWindow window, std::intptr_t* child_id) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    WindowObject* target = find_locked(r, window);
    if (target == nullptr || child_id == nullptr) return false;
    *child_id = target->child_id;
    return true;
}

ZbxWindow get_parent(ZbxWindow window) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    WindowObject* target = find_locked(r, window);
    return target == nullptr ? nullptr : to_handle(target->parent);
}

ZbxWindow get_first_child(ZbxWindow window) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    WindowObject* target = find_locked(r, window);
    if (target == nullptr || target->children.empty()) return nullptr;
    return to_handle(target->children.front());
}

ZbxWindow get_next_sibling(ZbxWindow window) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    WindowObject* target = find_locked(r, window);
    if (target == nullptr || target->message_only) return nullptr;
    const std::vector<std::uintptr_t>* siblings = &r.top_level;
    if (WindowObject* parent = find_locked(r, to_handle(target->parent)); parent != nullptr) {
        siblings = &parent->children;
    }
    auto it = std::find(siblings->begin(), siblings->end(), target->id);
    if (it == siblings->end() || std::next(it) == siblings->end()) return nullptr;
    return to_handle(*std::next(it));
}

std::vector<ZbxWindow> top_level_windows() {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    std::vector<ZbxWindow> result;
    result.reserve(r.top_level.size());
    for (std::uintptr_t id : r.top_level) result.push_back(to_handle(id));
    return result;
}

// ---- Client area ----------------------------------------------------------

std::unique_ptr<DeviceContext> get_dc(ZbxWindow window) {
    std::shared_ptr<Bitmap> surface;
    {
        Registry& r = registry();
        std::lock_guard lock(r.mutex);
        WindowObject* target = find_locked(r, window);
        if (target == nullptr || target->message_only) return nullptr;
        surface = target->surface;
    }
    if (surface) {
        // Each paint is shown on screen too (nothing happens when headless).
        const std::uintptr_t id = to_id(window);
        return DeviceContext::for_surface(std::move(surface), [id] { x11::window_painted(id); });
    }
    if (!surface) {
        // A window without client area still gets a context; it draws nothing.
        BitmapInfoHeader header;
        header.biWidth = 1;
        header.biHeight = -1;
        header.biPlanes = 1;
        header.biBitCount = 24;
        surface = create_dib_section(header, {});
        if (!surface) return nullptr;
        retire_bitmap(surface.get());
    }
    return DeviceContext::for_surface(std::move(surface));
}

bool read_client_pixels(ZbxWindow window, std::uint8_t* pixels, std::size_t stride) {
    if (pixels == nullptr) return false;
    std::shared_ptr<Bitmap> surface;
    int width = 0;
    int height = 0;
    {
        Registry& r = registry();
        std::lock_guard lock(r.mutex);
        WindowObject* target = find_locked(r, window);
        if (target == nullptr) return false;
        surface = target->surface;
        width = target->client_width;
        height = target->client_height;
    }
    const std::size_t row_bytes = static_cast<std::size_t>(width) * 3;
    if (stride < row_bytes) return false;
    if (!surface) return true;  // nothing to read
    std::lock_guard lock(surface->mutex());
    for (int y = 0; y < height; ++y) {
        std::memcpy(pixels + static_cast<std::size_t>(y) * stride, surface->picture_row(y), row_bytes);
    }
    return true;
}

}  // namespace zbx::platform
