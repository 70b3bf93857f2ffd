#include "platform/gtk/gtk_ui_thread.h"

#include <gtk/gtk.h>

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
    const bool ok = gtk_init_check(nullptr, nullptr) != FALSE;
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
