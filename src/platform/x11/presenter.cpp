// Xlib presenter: one display connection with its event thread, windows
// mirrored one for one, pictures sent through MIT shared memory when the
// server offers it and with plain XPutImage otherwise.
#include "platform/x11/presenter.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/x11/expand_row.h"

namespace zbx::platform::x11 {
namespace {

struct Mirror {
    std::uintptr_t id = 0;
    Window xid = 0;
    bool foreign = false;   // the application's window: never created or destroyed here
    bool top_level = false;
    bool gone = false;      // destroyed on the server
    bool visible = false;
    bool dirty = false;
    int width = 0;
    int height = 0;
    std::shared_ptr<Bitmap> surface;
    XImage* image = nullptr;
    XShmSegmentInfo shm{};
    bool image_shm = false;
};

class Connection {
public:
    Display* display = nullptr;
    std::string name;
    std::mutex mutex;  // guards everything below and every Xlib call on display
    std::unordered_map<std::uintptr_t, Mirror> mirrors;
    std::unordered_map<Window, std::uintptr_t> by_xid;
    std::atomic<bool> dead{false};
    int wake_fd = -1;
    bool shm = false;
    Visual* visual = nullptr;
    int depth = 0;
    Window root = 0;
    GC gc = nullptr;
    Atom wm_protocols = 0;
    Atom wm_delete = 0;
    Atom net_wm_name = 0;
    Atom utf8_string = 0;
    std::atomic<std::uint64_t> pushed{0};   // completed pushes
    std::atomic<std::uint64_t> requested{0};
    // Windows painted since the event thread last looked: kept apart from
    // `mutex` so that a painting thread never waits for a push in progress.
    std::mutex painted_mutex;
    std::vector<std::uintptr_t> painted;
};

std::mutex g_mutex;                  // serialises connecting; guards g_failed_display
// Connections are never freed: a thread may still hold one.  Read without
// a lock so that painting never waits for a connection being made.
std::atomic<Connection*> g_live{nullptr};
std::string g_failed_display;
std::chrono::steady_clock::time_point g_failed_at;
// A display that refused is tried again only after this long, so a
// headless process does not pay for a connection attempt per window.
constexpr auto kRetryAfter = std::chrono::seconds(5);
WindowSystemCallbacks g_callbacks;
std::atomic<bool> g_protocol_error{false};
std::atomic<bool> g_shm_allowed{true};
int (*g_previous_error_handler)(Display*, XErrorEvent*) = nullptr;
int (*g_previous_io_error_handler)(Display*) = nullptr;

Connection* live() {
    Connection* c = g_live.load();
    return c != nullptr && !c->dead ? c : nullptr;
}

bool is_ours(Display* display);

// Protocol errors on our connection (a window the application destroyed)
// are remembered, not fatal; other connections keep their handler.
int on_x_error(Display* display, XErrorEvent* event) {
    if (is_ours(display)) {
        g_protocol_error = true;
        return 0;
    }
    return g_previous_error_handler != nullptr ? g_previous_error_handler(display, event) : 0;
}

// Xlib ends the process when a connection breaks unless this handler
// returns: the presenter turns off and the library goes on headless.
void on_io_error_exit(Display*, void* context) { static_cast<Connection*>(context)->dead = true; }

// Xlib's default I/O error handler prints and exits: on our connections
// (the live one or one given up) it is skipped; others keep theirs.
std::mutex g_displays_mutex;  // a leaf lock: taken inside Xlib's handlers
// Never destroyed: the event threads are detached, and one may still be in
// Xlib's handler for its broken connection while the process runs its
// exit-time destructors.
std::vector<Display*>& our_displays() {
    static auto* displays = new std::vector<Display*>;
    return *displays;
}
bool is_ours(Display* display) {
    std::lock_guard lock(g_displays_mutex);
    for (Display* ours : our_displays())
        if (ours == display) return true;
    return false;
}
int on_io_error(Display* display) {
    if (is_ours(display)) return 0;
    return g_previous_io_error_handler != nullptr ? g_previous_io_error_handler(display) : 0;
}


void free_image(Connection& c, Mirror& m) {
    if (m.image == nullptr) return;
    if (m.image_shm) {
        if (!c.dead) XShmDetach(c.display, &m.shm);
        shmdt(m.shm.shmaddr);
        m.image->data = nullptr;
    }
    XDestroyImage(m.image);
    m.image = nullptr;
    m.image_shm = false;
}

// Needs c.mutex.  A picture buffer of the mirror's size, in shared memory
// when the server takes it.
bool ensure_image(Connection& c, Mirror& m) {
    if (m.image != nullptr && m.image->width == m.width && m.image->height == m.height) return true;
    free_image(c, m);
    if (c.shm) {
        XImage* image = XShmCreateImage(c.display, c.visual, static_cast<unsigned>(c.depth), ZPixmap, nullptr,
                                        &m.shm, static_cast<unsigned>(m.width), static_cast<unsigned>(m.height));
        if (image != nullptr) {
            m.shm.shmid = shmget(IPC_PRIVATE, static_cast<std::size_t>(image->bytes_per_line) * m.height,
                                 IPC_CREAT | 0600);
            void* address = m.shm.shmid >= 0 ? shmat(m.shm.shmid, nullptr, 0) : reinterpret_cast<void*>(-1);
            if (address != reinterpret_cast<void*>(-1)) {
                m.shm.shmaddr = image->data = static_cast<char*>(address);
                m.shm.readOnly = False;
                g_protocol_error = false;
                const bool attached = XShmAttach(c.display, &m.shm) != 0;
                XSync(c.display, False);
                shmctl(m.shm.shmid, IPC_RMID, nullptr);  // freed once both sides detach
                if (attached && !g_protocol_error && !c.dead) {
                    m.image = image;
                    m.image_shm = true;
                    return true;
                }
                shmdt(address);
            } else if (m.shm.shmid >= 0) {
                shmctl(m.shm.shmid, IPC_RMID, nullptr);
            }
            image->data = nullptr;
            XDestroyImage(image);
        }
        c.shm = false;  // a server that refuses once gets plain transfers from now on
    }
    const int bytes_per_line = m.width * 4;
    char* data = static_cast<char*>(std::malloc(static_cast<std::size_t>(bytes_per_line) * m.height));
    if (data == nullptr) return false;
    m.image = XCreateImage(c.display, c.visual, static_cast<unsigned>(c.depth), ZPixmap, 0, data,
                           static_cast<unsigned>(m.width), static_cast<unsigned>(m.height), 32, bytes_per_line);
    if (m.image == nullptr) {
        std::free(data);
        return false;
    }
    return true;
}

// Needs c.mutex.  Converts the surface (24-bit blue-green-red, top row
// first) into the 32-bit picture and sends it.
bool push(Connection& c, Mirror& m) {
    m.dirty = false;
    if (c.dead || m.gone || !m.visible || !m.surface || m.width <= 0 || m.height <= 0) return false;
    if (!ensure_image(c, m)) return false;
    {
        std::lock_guard lock(m.surface->mutex());
        if (is_retired(*m.surface) || m.surface->width() != m.width || m.surface->height() != m.height) return false;
        for (int y = 0; y < m.height; ++y) {
            expand_row(m.surface->picture_row(y),
                       reinterpret_cast<std::uint8_t*>(m.image->data) + static_cast<std::ptrdiff_t>(y) * m.image->bytes_per_line,
                       m.width);
        }
    }
    if (m.image_shm) {
        XShmPutImage(c.display, m.xid, c.gc, m.image, 0, 0, 0, 0, static_cast<unsigned>(m.width),
                     static_cast<unsigned>(m.height), False);
        XSync(c.display, False);  // the buffer is ours again only when the server has read it
    } else {
        XPutImage(c.display, m.xid, c.gc, m.image, 0, 0, 0, 0, static_cast<unsigned>(m.width),
                  static_cast<unsigned>(m.height));
        XFlush(c.display);
    }
    return !c.dead;
}

void wake(Connection& c) {
    const std::uint64_t one = 1;
    (void)!write(c.wake_fd, &one, sizeof one);
}

void set_title_locked(Connection& c, Window xid, const std::string& title) {
    XStoreName(c.display, xid, title.c_str());
    XChangeProperty(c.display, xid, c.net_wm_name, c.utf8_string, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(title.data()), static_cast<int>(title.size()));
}

void mark_gone_locked(Connection& c, Window xid) {
    auto it = c.by_xid.find(xid);
    if (it == c.by_xid.end()) return;
    auto m = c.mirrors.find(it->second);
    if (m != c.mirrors.end()) m->second.gone = true;
}

void event_loop(Connection* c) {
    const int x_fd = ConnectionNumber(c->display);
    while (!c->dead) {
        pollfd fds[2] = {{x_fd, POLLIN, 0}, {c->wake_fd, POLLIN, 0}};
        (void)poll(fds, 2, 200);
        if ((fds[1].revents & POLLIN) != 0) {
            std::uint64_t count = 0;
            (void)!read(c->wake_fd, &count, sizeof count);
        }
        std::vector<std::uintptr_t> closed;
        std::vector<std::tuple<std::uintptr_t, int, int>> resized;
        {
            std::lock_guard lock(c->mutex);
            while (!c->dead && XPending(c->display) > 0) {
                XEvent event;
                XNextEvent(c->display, &event);
                auto it = c->by_xid.find(event.xany.window);
                if (it == c->by_xid.end()) continue;
                auto found = c->mirrors.find(it->second);
                if (found == c->mirrors.end()) continue;
                Mirror& m = found->second;
                switch (event.type) {
                    case Expose:
                        if (event.xexpose.count == 0) m.dirty = true;
                        break;
                    case ConfigureNotify:
                        if (m.top_level && !m.foreign &&
                            (event.xconfigure.width != m.width || event.xconfigure.height != m.height))
                            resized.emplace_back(m.id, event.xconfigure.width, event.xconfigure.height);
                        break;
                    case DestroyNotify:
                        mark_gone_locked(*c, event.xdestroywindow.window);
                        break;
                    case ClientMessage:
                        if (event.xclient.message_type == c->wm_protocols &&
                            static_cast<Atom>(event.xclient.data.l[0]) == c->wm_delete)
                            closed.push_back(m.id);
                        break;
                    default:
                        break;
                }
            }
            if (!c->dead) {
                const std::uint64_t target = c->requested.load();
                std::vector<std::uintptr_t> painted;
                {
                    std::lock_guard painted_lock(c->painted_mutex);
                    painted.swap(c->painted);
                }
                for (std::uintptr_t id : painted)
                    if (auto m = c->mirrors.find(id); m != c->mirrors.end()) m->second.dirty = true;
                for (auto& [id, m] : c->mirrors) {
                    if (m.dirty) (void)push(*c, m);
                }
                c->pushed = target;
            }
        }
        // The window system is called without our lock: it calls back in.
        if (g_callbacks.closed_by_user != nullptr)
            for (std::uintptr_t id : closed) g_callbacks.closed_by_user(id);
        if (g_callbacks.resized_by_user != nullptr)
            for (auto [id, w, h] : resized) g_callbacks.resized_by_user(id, w, h);
    }
    // Nothing more is sent to a broken connection; its memory stays.
    std::lock_guard lock(c->mutex);
    for (auto& [id, m] : c->mirrors) {
        m.gone = true;
        free_image(*c, m);
    }
}

Connection* open_connection(const char* name) {
    Display* display = XOpenDisplay(name);
    if (display == nullptr) return nullptr;
    const int screen = DefaultScreen(display);
    Visual* visual = DefaultVisual(display, screen);
    const int depth = DefaultDepth(display, screen);
    // Pictures are sent as 32-bit pixels with red, green and blue bytes.
    if ((depth != 24 && depth != 32) || visual->red_mask != 0xFF0000 || visual->green_mask != 0xFF00 ||
        visual->blue_mask != 0xFF || ImageByteOrder(display) != LSBFirst) {
        XCloseDisplay(display);
        return nullptr;
    }
    {
        std::lock_guard lock(g_displays_mutex);
        our_displays().push_back(display);
    }
    auto* c = new Connection;
    c->name = name;
    c->display = display;
    c->visual = visual;
    c->depth = depth;
    c->root = RootWindow(display, screen);
    c->wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    XSetIOErrorExitHandler(display, on_io_error_exit, c);
    c->shm = XShmQueryExtension(display) != 0 && g_shm_allowed;
    c->gc = XCreateGC(display, c->root, 0, nullptr);
    c->wm_protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    c->wm_delete = XInternAtom(display, "WM_DELETE_WINDOW", False);
    c->net_wm_name = XInternAtom(display, "_NET_WM_NAME", False);
    c->utf8_string = XInternAtom(display, "UTF8_STRING", False);
    XSync(display, False);
    return c;
}

Window parent_xid_locked(Connection& c, const MirrorInfo& info) {
    if (info.top_level) return c.root;
    auto it = c.mirrors.find(info.parent_id);
    return it == c.mirrors.end() || it->second.gone ? 0 : it->second.xid;
}

}  // namespace

void set_callbacks(const WindowSystemCallbacks& callbacks) { g_callbacks = callbacks; }

bool ensure_connected() {
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0') return false;
    if (Connection* c = live(); c != nullptr && c->name == name) return true;
    std::lock_guard lock(g_mutex);
    if (Connection* old = g_live.load(); old != nullptr && !old->dead) {
        if (old->name == name) return true;
        // DISPLAY now names another server: the old connection is given up.
        old->dead = true;
        wake(*old);
    }
    const auto now = std::chrono::steady_clock::now();
    if (g_failed_display == name && now - g_failed_at < kRetryAfter) return false;
    static std::once_flag threads_once;
    std::call_once(threads_once, [] {
        XInitThreads();
        g_previous_error_handler = XSetErrorHandler(on_x_error);
        g_previous_io_error_handler = XSetIOErrorHandler(on_io_error);
    });
    Connection* c = open_connection(name);
    if (c == nullptr || c->wake_fd < 0) {
        g_failed_display = name;
        g_failed_at = now;
        return false;
    }
    g_failed_display.clear();
    g_live = c;
    std::thread(event_loop, c).detach();
    return true;
}

bool active() { return live() != nullptr; }

void window_created(const MirrorInfo& info) {
    Connection* c = live();
    if (c == nullptr) return;
    std::lock_guard lock(c->mutex);
    if (c->dead) return;
    const Window parent = parent_xid_locked(*c, info);
    if (parent == 0 || info.client_width <= 0 || info.client_height <= 0) return;
    XSetWindowAttributes attributes{};
    attributes.background_pixel = 0;
    attributes.border_pixel = 0;
    attributes.colormap = DefaultColormap(c->display, DefaultScreen(c->display));
    attributes.event_mask = ExposureMask | StructureNotifyMask;
    g_protocol_error = false;
    const Window xid = XCreateWindow(c->display, parent, info.x, info.y, static_cast<unsigned>(info.client_width),
                                     static_cast<unsigned>(info.client_height), 0, c->depth, InputOutput, c->visual,
                                     CWBackPixel | CWBorderPixel | CWColormap | CWEventMask, &attributes);
    if (info.top_level) {
        XSizeHints hints{};
        hints.flags = USPosition | PPosition;
        hints.x = info.x;
        hints.y = info.y;
        XSetWMNormalHints(c->display, xid, &hints);
        XSetWMProtocols(c->display, xid, &c->wm_delete, 1);
    }
    set_title_locked(*c, xid, info.title);
    if (info.visible) XMapWindow(c->display, xid);
    XFlush(c->display);
    Mirror m;
    m.id = info.id;
    m.xid = xid;
    m.top_level = info.top_level;
    m.visible = info.visible;
    m.width = info.client_width;
    m.height = info.client_height;
    m.surface = info.surface;
    m.dirty = true;
    c->by_xid[xid] = info.id;
    c->mirrors[info.id] = std::move(m);
    wake(*c);
}

void window_destroyed(std::uintptr_t id) {
    Connection* c = live();
    if (c == nullptr) return;
    std::lock_guard lock(c->mutex);
    auto it = c->mirrors.find(id);
    if (it == c->mirrors.end()) return;
    Mirror& m = it->second;
    free_image(*c, m);
    if (!m.foreign && !m.gone && !c->dead) {
        XDestroyWindow(c->display, m.xid);
        XFlush(c->display);
    }
    c->by_xid.erase(m.xid);
    c->mirrors.erase(it);
}

void window_shown(std::uintptr_t id, bool visible) {
    Connection* c = live();
    if (c == nullptr) return;
    std::lock_guard lock(c->mutex);
    auto it = c->mirrors.find(id);
    if (it == c->mirrors.end() || it->second.foreign || it->second.gone || c->dead) return;
    it->second.visible = visible;
    if (visible) {
        XMapWindow(c->display, it->second.xid);
        it->second.dirty = true;
        wake(*c);
    } else {
        XUnmapWindow(c->display, it->second.xid);
    }
    XFlush(c->display);
}

void window_titled(std::uintptr_t id, const std::string& title) {
    Connection* c = live();
    if (c == nullptr) return;
    std::lock_guard lock(c->mutex);
    auto it = c->mirrors.find(id);
    if (it == c->mirrors.end() || it->second.foreign || it->second.gone || c->dead) return;
    set_title_locked(*c, it->second.xid, title);
    XFlush(c->display);
}

void window_surface(std::uintptr_t id, std::shared_ptr<Bitmap> surface, int width, int height) {
    Connection* c = live();
    if (c == nullptr) return;
    std::lock_guard lock(c->mutex);
    auto it = c->mirrors.find(id);
    if (it == c->mirrors.end()) return;
    it->second.surface = std::move(surface);
    it->second.width = width;
    it->second.height = height;
    it->second.dirty = true;
    wake(*c);
}

void window_painted(std::uintptr_t id) {
    Connection* c = live();
    if (c == nullptr) return;
    {
        std::lock_guard lock(c->painted_mutex);
        if (std::find(c->painted.begin(), c->painted.end(), id) == c->painted.end()) c->painted.push_back(id);
    }
    ++c->requested;
    wake(*c);
}

bool adopt_foreign(std::uintptr_t id, unsigned long xid, int* width, int* height) {
    if (!ensure_connected()) return false;
    Connection* c = live();
    if (c == nullptr || xid == 0) return false;
    std::lock_guard lock(c->mutex);
    g_protocol_error = false;
    XWindowAttributes attributes{};
    const Status ok = XGetWindowAttributes(c->display, xid, &attributes);
    if (ok == 0 || g_protocol_error || c->dead) return false;
    // Told when the application destroys it, so nothing is sent there after.
    XSelectInput(c->display, xid, attributes.your_event_mask | StructureNotifyMask);
    XSync(c->display, False);
    if (g_protocol_error || c->dead) return false;
    Mirror m;
    m.id = id;
    m.xid = xid;
    m.foreign = true;
    m.visible = true;
    c->by_xid[xid] = id;
    c->mirrors[id] = std::move(m);
    if (width != nullptr) *width = attributes.width;
    if (height != nullptr) *height = attributes.height;
    return true;
}

unsigned long x_window_of(std::uintptr_t id) {
    Connection* c = live();
    if (c == nullptr) return 0;
    std::lock_guard lock(c->mutex);
    auto it = c->mirrors.find(id);
    return it == c->mirrors.end() || it->second.gone ? 0 : it->second.xid;
}

bool flush(int timeout_ms) {
    Connection* c = live();
    if (c == nullptr) return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    const std::uint64_t target = c->requested.load();
    wake(*c);
    while (c->pushed.load() < target || [&] {
        std::lock_guard lock(c->mutex);
        for (auto& [id, m] : c->mirrors)
            if (m.dirty && m.visible && !m.gone) return true;
        return false;
    }()) {
        if (c->dead || std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    std::lock_guard lock(c->mutex);
    if (!c->dead) XSync(c->display, False);
    return !c->dead;
}

bool push_now(std::uintptr_t id) {
    Connection* c = live();
    if (c == nullptr) return false;
    std::lock_guard lock(c->mutex);
    auto it = c->mirrors.find(id);
    return it != c->mirrors.end() && push(*c, it->second);
}

void allow_shared_memory(bool allowed) { g_shm_allowed = allowed; }

bool uses_shared_memory() {
    Connection* c = live();
    if (c == nullptr) return false;
    std::lock_guard lock(c->mutex);
    return c->shm;
}

}  // namespace zbx::platform::x11
