// GTK for the dialogs.  GTK is used only by the thread that owns GLib's
// default main context at the time (GDK's events arrive there), so that
// ownership is what keeps GTK to one thread at a time:
//  - an application whose own thread runs the default context (a GTK or
//    GLib application's main loop, Qt's GLib event dispatcher) runs the
//    dialogs there: an export called from that loop runs the dialog in a
//    nested loop, one called from another thread hands it to that loop;
//  - otherwise (a console tool, a plain Xlib application) the library's GUI
//    thread runs the context, in short turns, while a dialog is open or work
//    is waiting, and now and then when idle to notice a lost display.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace zbx::platform::gtk {

class GtkUiThread {
public:
    // The thread, started on first use; null when no display is reachable
    // (no DISPLAY or WAYLAND_DISPLAY, or GTK could not open it) and once the
    // display has been lost.  Any thread.
    [[nodiscard]] static GtkUiThread* instance();
    // True once the X server has gone away under GTK; GTK is then never
    // entered again.  Any thread.
    [[nodiscard]] static bool display_lost();
    // `end_dialogs` runs when the display is lost, on the thread that met
    // the loss, before display_lost() turns true: the last chance to end
    // what is on screen.
    static void on_display_lost(void (*end_dialogs)());
    // True when the calling thread owns the default main context, so may
    // use GTK now.
    [[nodiscard]] static bool owns_gtk();
    // Open dialog windows keep the main context running.  GTK users only.
    static void window_opened();
    static void window_closed();

    // Runs `work` with GTK, soon and without waiting.  Any thread.
    void post(std::function<void()> work);
    // Runs `work` with GTK and waits for it (at once when the caller owns
    // GTK); gives up when the display is lost first.
    void call(const std::function<void()>& work);
    // Has the thread look at the main context now.  Any thread.
    void wake();

    GtkUiThread();
    ~GtkUiThread();
    GtkUiThread(const GtkUiThread&) = delete;
    GtkUiThread& operator=(const GtkUiThread&) = delete;

private:
    void main();
    void run_turns();

    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_cond_;
    bool woken_ = false;
    bool quit_ = false;
    bool exited_ = false;
    bool ready_ = false;
    bool ok_ = false;
};

}  // namespace zbx::platform::gtk
