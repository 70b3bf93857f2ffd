#include "platform/gtk/gtk_ui_thread.h"

#include <X11/Xlib.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>

namespace zbx::platform::gtk {
namespace {

std::mutex start_mutex;
std::condition_variable start_cond;

gboolean run_work(gpointer data) {
    std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()>*>(data));
    (*work)();
    return G_SOURCE_REMOVE;
}

// GDK's handler for a lost X connection ends the process; the library never
// does that.  Ours lets GDK's display die quietly and passes every other
// display to the handler that was there before GTK (the preview presenter's,
// or Xlib's for the application's own connections).
std::atomic<Display*> g_gdk_display{nullptr};
XIOErrorHandler g_handler_before_gtk = nullptr;
std::atomic<bool> g_display_lost{false};
std::atomic<void (*)()> g_on_display_lost{nullptr};

int on_io_error(Display* display) {
    if (display == g_gdk_display.load()) return 0;
    return g_handler_before_gtk != nullptr ? g_handler_before_gtk(display) : 0;
}

[[noreturn]] void on_gdk_display_lost(Display*, void*) {
    // GDK cannot go on once its connection is gone (returning here ends in
    // a crash inside GDK), and its own handler ends the process.  So the
    // open dialogs end here, as Cancel, and this thread then stays parked
    // for the rest of the process: GTK is never entered again.
    if (void (*end_dialogs)() = g_on_display_lost.load()) end_dialogs();
    g_display_lost = true;
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

void keep_the_process_on_display_loss() {
    GdkDisplay* display = gdk_display_get_default();
    if (display == nullptr || !GDK_IS_X11_DISPLAY(display)) return;
    Display* x = GDK_DISPLAY_XDISPLAY(display);
    g_gdk_display = x;
    XSetIOErrorExitHandler(x, on_gdk_display_lost, nullptr);
    XSetIOErrorHandler(on_io_error);
}

bool display_named() {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}

}  // namespace

GtkUiThread* GtkUiThread::instance() {
    // Decided once per process: GTK opens one display and keeps it.
    static std::unique_ptr<GtkUiThread> thread = []() -> std::unique_ptr<GtkUiThread> {
        if (!display_named()) return nullptr;
        return std::make_unique<GtkUiThread>();
    }();
    // After the display is lost, dialogs run headless as without one.
    return thread != nullptr && thread->ok_ && !display_lost() ? thread.get() : nullptr;
}

bool GtkUiThread::display_lost() { return g_display_lost.load(); }

void GtkUiThread::on_display_lost(void (*end_dialogs)()) { g_on_display_lost = end_dialogs; }

GtkUiThread::GtkUiThread() {
    thread_ = std::thread([this] { main(); });
    std::unique_lock lock(start_mutex);
    start_cond.wait(lock, [this] { return ready_; });
}

GtkUiThread::~GtkUiThread() {
    if (display_lost()) {
        thread_.detach();  // parked for good
        return;
    }
    if (ok_) post([this] { g_main_loop_quit(static_cast<GMainLoop*>(loop_)); });
    if (thread_.joinable()) thread_.join();
}

void GtkUiThread::main() {
    // GTK's main context belongs to this thread from here on.
    GMainContext* context = g_main_context_default();
    g_main_context_acquire(context);
    g_handler_before_gtk = XSetIOErrorHandler(nullptr);
    XSetIOErrorHandler(g_handler_before_gtk);
    const bool ok = gtk_init_check(nullptr, nullptr) != FALSE;
    if (ok) keep_the_process_on_display_loss();
    GMainLoop* loop = ok ? g_main_loop_new(context, FALSE) : nullptr;
    {
        std::lock_guard lock(start_mutex);
        ok_ = ok;
        loop_ = loop;
        ready_ = true;
    }
    start_cond.notify_all();
    if (loop != nullptr) {
        g_main_loop_run(loop);
        g_main_loop_unref(loop);
    }
    g_main_context_release(context);
}

void GtkUiThread::post(std::function<void()> work) {
    g_idle_add_full(G_PRIORITY_DEFAULT, run_work, new std::function<void()>(std::move(work)), nullptr);
}

void GtkUiThread::call(const std::function<void()>& work) {
    if (on_gui_thread()) {
        work();
        return;
    }
    std::mutex mutex;
    std::condition_variable cond;
    bool done = false;
    post([&] {
        work();
        std::lock_guard lock(mutex);
        done = true;
        cond.notify_one();
    });
    std::unique_lock lock(mutex);
    // A display lost before the work ran leaves it unrun for good.
    while (!cond.wait_for(lock, std::chrono::milliseconds(100), [&] { return done; })) {
        if (display_lost()) return;
    }
}

}  // namespace zbx::platform::gtk
