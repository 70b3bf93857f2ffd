// The one thread that uses GTK: it initialises the toolkit on the display
// named by the environment and runs its main loop until the process ends
// (it keeps running, with nothing to show, if the display goes away).
// Exports may open dialogs from any application thread; they hand their
// work to this thread and wait, so GTK is never used from two threads.
#pragma once

#include <functional>
#include <thread>

namespace zbx::platform::gtk {

class GtkUiThread {
public:
    // The thread, started on first use; null when no display is reachable
    // (no DISPLAY or WAYLAND_DISPLAY, or GTK could not open it).  Any thread.
    [[nodiscard]] static GtkUiThread* instance();
    // True once the X server has gone away under GTK; the GUI thread then
    // runs no more work.  Any thread.
    [[nodiscard]] static bool display_lost();
    // `end_dialogs` runs on the GUI thread when the display is lost, before
    // display_lost() turns true: the last chance to end what is on screen.
    static void on_display_lost(void (*end_dialogs)());

    // Runs `work` on the GUI thread, soon and without waiting.  Any thread.
    void post(std::function<void()> work);
    // Runs `work` on the GUI thread and waits for it (runs it at once when
    // called on the GUI thread); gives up when the display is lost first.
    void call(const std::function<void()>& work);
    [[nodiscard]] bool on_gui_thread() const { return std::this_thread::get_id() == thread_.get_id(); }

    GtkUiThread();
    ~GtkUiThread();
    GtkUiThread(const GtkUiThread&) = delete;
    GtkUiThread& operator=(const GtkUiThread&) = delete;

private:
    void main();

    std::thread thread_;
    void* loop_ = nullptr;  // GMainLoop, owned by the GUI thread
    bool ready_ = false;
    bool ok_ = false;
};

}  // namespace zbx::platform::gtk
