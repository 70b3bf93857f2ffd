#include "platform/gtk/gtk_ui_thread.h"

#include <X11/Xlib.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <atomic>

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

int on_io_error(Display* display) {
    if (display == g_gdk_display.load()) return 0;
    return g_handler_before_gtk != nullptr ? g_handler_before_gtk(display) : 0;
}

void on_gdk_display_lost(Display*, void*) {
    // Returning leaves the connection unusable instead of exiting; GTK's
    // later calls on it do nothing.
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
    return thread != nullptr && thread->ok_ ? thread.get() : nullptr;
}

GtkUiThread::GtkUiThread() {
    thread_ = std::thread([this] { main(); });
    std::unique_lock lock(start_mutex);
    start_cond.wait(lock, [this] { return ready_; });
}

GtkUiThread::~GtkUiThread() {
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
    cond.wait(lock, [&] { return done; });
}

}  // namespace zbx::platform::gtk
