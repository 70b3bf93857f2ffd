#include "platform/gtk/gtk_ui_thread.h"

#include <X11/Xlib.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>

namespace zbx::platform::gtk {
namespace {

// A turn of the GUI thread holding the main context lasts at most this
// long, so an application thread that wants the context waits no longer.
constexpr guint kTurnMs = 20;
// How often an idle GUI thread looks at the display (and so notices its
// loss) and how soon it looks again when another thread runs the context.
constexpr auto kIdleLook = std::chrono::milliseconds(200);
constexpr auto kBusyLook = std::chrono::milliseconds(10);
constexpr int kOpenAttempts = 5;
constexpr auto kOpenRetryAfter = std::chrono::milliseconds(100);

// Posted work not yet run plus open dialog windows: while there is any,
// the main context must be run.
std::atomic<int> g_busy{0};
std::atomic<GtkUiThread*> g_instance{nullptr};

gboolean run_work(gpointer data) {
    std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()>*>(data));
    (*work)();
    --g_busy;
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
std::thread::id g_gui_thread;

int on_io_error(Display* display) {
    if (display == g_gdk_display.load()) return 0;
    return g_handler_before_gtk != nullptr ? g_handler_before_gtk(display) : 0;
}

[[noreturn]] void on_gdk_display_lost(Display* display, void*) {
    // GDK cannot go on once its connection is gone (returning here ends in
    // a crash inside GDK), and its own handler ends the process.  So the
    // open dialogs end here, as Cancel, and this thread then stays parked
    // for the rest of the process: GTK is never entered again.
    if (void (*end_dialogs)() = g_on_display_lost.load()) end_dialogs();
    g_display_lost = true;
    if (GtkUiThread* thread = g_instance.load()) thread->wake();  // one ending waits for this
    // Xlib calls this handler holding the display's lock for the caller;
    // parked with it, any later use of the display (Xlib's and GTK's
    // teardown at exit) would wait forever.  The display is marked broken,
    // so those uses now return at once.
    XUnlockDisplay(display);
    // The main context goes free too, for an application that runs it.
    GMainContext* context = g_main_context_default();
    while (g_main_context_is_owner(context)) g_main_context_release(context);
    // Parked where no signal reaches it and nothing returns into the
    // library: exit and unloading need neither its end nor its code.
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
    for (;;) pause();
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

gboolean end_turn(gpointer) { return G_SOURCE_REMOVE; }

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

bool GtkUiThread::owns_gtk() { return g_main_context_is_owner(g_main_context_default()) != FALSE; }

void GtkUiThread::window_opened() {
    ++g_busy;
    if (GtkUiThread* thread = g_instance.load()) thread->wake();
}

void GtkUiThread::window_closed() { --g_busy; }

GtkUiThread::GtkUiThread() {
    thread_ = std::thread([this] { main(); });
    std::unique_lock lock(mutex_);
    wake_cond_.wait(lock, [this] { return ready_; });
    g_instance = this;
}

GtkUiThread::~GtkUiThread() {
    std::unique_lock lock(mutex_);
    quit_ = true;
    wake_cond_.notify_all();
    // The thread ends within a turn, unless it meets a lost display first
    // and stays parked there; a parked thread holds nothing and is left.
    wake_cond_.wait(lock, [this] { return exited_ || display_lost(); });
    lock.unlock();
    g_instance = nullptr;
    if (!thread_.joinable()) return;
    if (exited_) {
        thread_.join();
    } else {
        thread_.detach();
    }
}

void GtkUiThread::wake() {
    {
        std::lock_guard lock(mutex_);
        woken_ = true;
    }
    wake_cond_.notify_all();
}

void GtkUiThread::main() {
    g_gui_thread = std::this_thread::get_id();
    bool ok = true;
    // An application that has set GTK up itself keeps its display and its
    // handling of that display's loss.
    if (gdk_display_get_default() == nullptr) {
        g_handler_before_gtk = XSetIOErrorHandler(nullptr);
        XSetIOErrorHandler(g_handler_before_gtk);
        // An X server may refuse a connection for a moment (its queue of
        // new clients full); a dialog must not end unseen for that.
        for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
            ok = gtk_init_check(nullptr, nullptr) != FALSE;
            if (ok) break;
            std::this_thread::sleep_for(kOpenRetryAfter);
        }
        if (ok) keep_the_process_on_display_loss();
    }
    {
        std::lock_guard lock(mutex_);
        ok_ = ok;
        ready_ = true;
    }
    wake_cond_.notify_all();
    if (ok) run_turns();
    std::lock_guard lock(mutex_);
    exited_ = true;
    wake_cond_.notify_all();
}

void GtkUiThread::run_turns() {
    GMainContext* context = g_main_context_default();
    std::unique_lock lock(mutex_);
    while (!quit_) {
        woken_ = false;
        lock.unlock();
        const bool busy = g_busy.load() > 0;
        // Without waiting: another thread that runs the context (an
        // application's loop) runs our work and windows meanwhile.
        const bool turn = !display_lost() && g_main_context_acquire(context) != FALSE;
        if (turn) {
            if (busy) {
                // One bounded turn: the poll ends by the turn's timer at the
                // latest, so the context goes free between turns.
                GSource* timer = g_timeout_source_new(kTurnMs);
                g_source_set_callback(timer, end_turn, nullptr, nullptr);
                g_source_attach(timer, context);
                g_main_context_iteration(context, TRUE);
                g_source_destroy(timer);
                g_source_unref(timer);
            } else {
                for (int i = 0; i < 100 && g_main_context_iteration(context, FALSE); ++i) {
                }
            }
            g_main_context_release(context);
        }
        lock.lock();
        if (quit_) break;
        if (turn && g_busy.load() > 0) continue;
        wake_cond_.wait_for(lock, g_busy.load() > 0 ? kBusyLook : kIdleLook,
                            [this] { return quit_ || woken_; });
    }
}

void GtkUiThread::post(std::function<void()> work) {
    ++g_busy;
    g_idle_add_full(G_PRIORITY_DEFAULT, run_work, new std::function<void()>(std::move(work)), nullptr);
    wake();
}

void GtkUiThread::call(const std::function<void()>& work) {
    if (owns_gtk()) {
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
