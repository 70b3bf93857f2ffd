// One modal dialog on screen: a GTK window realising a dialog template and
// its pages with real widgets.  The dialog stand-in keeps the state; this
// class copies that state into the widgets after every event and turns the
// user's input into the automation interface's operations, so dialog
// procedures see exactly the events tests produce.  GUI thread only.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <vector>

#include "platform/dialog.h"
#include "platform/dialog_automation.h"
#include "platform/dialog_display.h"
#include "platform/dialog_run.h"

namespace zbx::platform::gtk {

class GtkModalWindow {
public:
    // `closed` runs once the dialog has ended and its window is gone; the
    // window deletes itself after that.
    GtkModalWindow(ModalRun& run, Dialog& root, std::function<void()> closed);
    ~GtkModalWindow();
    GtkModalWindow(const GtkModalWindow&) = delete;
    GtkModalWindow& operator=(const GtkModalWindow&) = delete;

    // Delivers the init event and shows the window.
    void open();

    // The newest open window, for the display queries; null when none.
    [[nodiscard]] static GtkModalWindow* newest();
    [[nodiscard]] std::optional<DisplayedDialog> describe() const;
    [[nodiscard]] bool save_png(const std::string& path) const;

    // Ends every open dialog as Cancel without touching GTK, for a display
    // that has gone away.  GUI thread.
    static void end_all_for_lost_display();

private:
    // One control's widgets.
    struct Control {
        GtkModalWindow* owner = nullptr;
        Dialog* dialog = nullptr;
        std::size_t index = 0;  // in dialog->controls()
        GtkWidget* widget = nullptr;
        GtkWidget* up = nullptr;  // up-down arrows
        GtkWidget* down = nullptr;
        GtkWidget* unchecked = nullptr;  // a radio button's hidden partner
        PixelRect expected;
        int marks_min = 0, marks_max = -1, marks_step = 0;  // ticks drawn on a trackbar
    };
    struct Page {
        Dialog* dialog = nullptr;
        GtkWidget* fixed = nullptr;
        int x = 0;  // in the client area
        int y = 0;
    };

    [[nodiscard]] PixelRect to_pixels(int x, int y, int width, int height) const;
    void measure_font(int points);
    void build_controls(Dialog& dialog, GtkWidget* fixed, int origin_x, int origin_y);
    void realise_new_pages(Dialog& dialog);
    void sync();
    void sync_control(Control& c);
    void after_event();
    void finish();
    [[nodiscard]] const ControlState& state(const Control& c) const;
    [[nodiscard]] int default_id() const;  // the push button Enter clicks

    static void on_clicked(GtkWidget* widget, gpointer data);
    static void on_edit_changed(GtkEditable* editable, gpointer data);
    static void on_value_changed(GtkRange* range, gpointer data);
    static void on_up(GtkWidget* widget, gpointer data);
    static void on_down(GtkWidget* widget, gpointer data);
    static void on_combo_changed(GtkComboBox* combo, gpointer data);
    static void on_switch_page(GtkNotebook* notebook, GtkWidget* page, guint number, gpointer data);
    static gboolean on_delete(GtkWidget* widget, GdkEvent* event, gpointer data);
    static gboolean on_key(GtkWidget* widget, GdkEventKey* event, gpointer data);
    static gboolean on_tick(gpointer data);

    ModalRun& run_;
    Dialog& root_;
    DialogAutomation automation_;
    std::function<void()> closed_;
    GtkWidget* window_ = nullptr;
    GtkWidget* fixed_ = nullptr;
    GtkWidget* default_button_ = nullptr;
    GtkCssProvider* css_ = nullptr;
    std::vector<std::unique_ptr<Control>> controls_;
    std::vector<Page> pages_;
    double base_x_ = 6;  // dialog base units in pixels
    double base_y_ = 13;
    guint tick_ = 0;
    bool syncing_ = false;
    bool finished_ = false;
};

}  // namespace zbx::platform::gtk
