#include "platform/gtk/gtk_modal_window.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <string>
#include <utility>

#include "platform/gtk/gtk_ui_thread.h"

namespace zbx::platform::gtk {
namespace {

// A drop-down's template height includes its open list; closed, it is as
// tall as an edit.
constexpr int kComboClosedHeight = 14;
// More ticks than this would only blacken the scale.
constexpr int kMaxTicks = 100;
constexpr guint kTickMs = 20;

std::vector<GtkModalWindow*>& open_windows() {
    static std::vector<GtkModalWindow*> windows;  // GUI thread only
    return windows;
}

// Template texts mark keyboard accelerators with '&'; "&&" is a literal one.
std::string without_accelerators(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&') {
            if (i + 1 < text.size() && text[i + 1] == '&') out.push_back('&'), ++i;
            continue;
        }
        out.push_back(text[i]);
    }
    return out;
}

// Compact widgets, so each fits the place its template gives it, in the
// template's font (fontconfig supplies Japanese glyphs from a CJK font).
void install_css(int points) {
    static bool installed = false;
    if (installed) return;
    installed = true;
    const std::string css =
        "#zbx-dialog, #zbx-dialog * { font-family: Sans; font-size: " + std::to_string(points) +
        "pt; }\n"
        "#zbx-dialog button, #zbx-dialog entry, #zbx-dialog combobox button,"
        " #zbx-dialog checkbutton, #zbx-dialog radiobutton"
        " { min-height: 0; min-width: 0; padding: 0 2px; margin: 0; }\n"
        "#zbx-dialog entry { padding: 0 3px; }\n"
        "#zbx-dialog .zbx-updown button { padding: 0; border-radius: 0; }\n"
        "#zbx-dialog .zbx-updown button label { font-size: 5px; min-height: 0; }\n"
        "#zbx-dialog checkbutton check, #zbx-dialog radiobutton radio"
        " { margin: 0 3px 0 0; min-width: 12px; min-height: 12px; }\n"
        "#zbx-dialog scale { padding: 0 4px; min-height: 0; margin: 0; }\n"
        "#zbx-dialog scale slider { min-width: 10px; min-height: 10px; margin: -4px; }\n"
        "#zbx-dialog scale marks { margin: 0; }\n"
        "#zbx-dialog scale mark indicator { min-height: 3px; min-width: 1px; }\n"
        "#zbx-dialog notebook tab { padding: 1px 6px; min-height: 0; }\n";
    GtkCssProvider* provider = gtk_css_provider_new();
    gtk_css_provider_load_from_data(provider, css.c_str(), -1, nullptr);
    gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(provider),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(provider);
}

template <typename F>
void connect(GtkWidget* widget, const char* signal, F handler, void* data) {
    g_signal_connect(widget, signal, G_CALLBACK(handler), data);
}

}  // namespace

GtkModalWindow::GtkModalWindow(ModalRun& run, Dialog& root, std::function<void()> closed)
    : run_(run), root_(root), automation_(root), closed_(std::move(closed)) {}

GtkModalWindow::~GtkModalWindow() {
    if (window_ != nullptr) gtk_widget_destroy(window_);
    for (auto& c : controls_) {
        if (c->unchecked != nullptr) {
            gtk_widget_destroy(c->unchecked);
            g_object_unref(c->unchecked);
        }
    }
}

GtkModalWindow* GtkModalWindow::newest() {
    auto& windows = open_windows();
    return windows.empty() ? nullptr : windows.back();
}

const ControlState& GtkModalWindow::state(const Control& c) const { return c.dialog->controls()[c.index]; }

PixelRect GtkModalWindow::to_pixels(int x, int y, int width, int height) const {
    auto px = [](int units, double base, int quarter) {
        return static_cast<int>(std::lround(units * base / quarter));
    };
    return {px(x, base_x_, 4), px(y, base_y_, 8), px(width, base_x_, 4), px(height, base_y_, 8)};
}

// Dialog units are a quarter of the font's average character width and an
// eighth of its height, as the template system defines them.
void GtkModalWindow::measure_font(int points) {
    PangoFontDescription* font = pango_font_description_from_string("Sans");
    pango_font_description_set_size(font, (points > 0 ? points : 8) * PANGO_SCALE);
    PangoLayout* layout =
        gtk_widget_create_pango_layout(window_, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    pango_layout_set_font_description(layout, font);
    int width = 0;
    int height = 0;
    pango_layout_get_pixel_size(layout, &width, &height);
    base_x_ = std::max(1.0, std::round(width / 52.0));
    base_y_ = std::max(1, height);
    g_object_unref(layout);
    pango_font_description_free(font);
}

void GtkModalWindow::build_controls(Dialog& dialog, GtkWidget* fixed, int origin_x, int origin_y) {
    const std::vector<ControlState>& states = dialog.controls();
    for (std::size_t i = 0; i < states.size(); ++i) {
        const ControlState& s = states[i];
        auto c = std::make_unique<Control>();
        c->owner = this;
        c->dialog = &dialog;
        c->index = i;
        const int height = s.kind == ControlKind::kComboBox ? std::min(s.height, kComboClosedHeight) : s.height;
        PixelRect r = to_pixels(s.x, s.y, s.width, height);
        const std::string text = without_accelerators(s.text);
        GtkWidget* w = nullptr;
        switch (s.kind) {
        case ControlKind::kLabel:
            w = gtk_label_new(text.c_str());
            gtk_label_set_xalign(GTK_LABEL(w), 0);
            gtk_label_set_yalign(GTK_LABEL(w), 0);
            // Several lines wrap; one line is cut rather than grown.
            if (s.height >= 16) {
                gtk_label_set_line_wrap(GTK_LABEL(w), TRUE);
            } else {
                gtk_label_set_ellipsize(GTK_LABEL(w), PANGO_ELLIPSIZE_END);
            }
            gtk_label_set_max_width_chars(GTK_LABEL(w), 1);
            break;
        case ControlKind::kGroupBox:
            w = gtk_frame_new(text.c_str());
            break;
        case ControlKind::kPushButton:
            w = gtk_button_new_with_label(text.c_str());
            connect(w, "clicked", on_clicked, c.get());
            if ((s.flags & kControlDefault) != 0 && &dialog == &root_) {
                gtk_widget_set_can_default(w, TRUE);
                default_button_ = w;
            }
            break;
        case ControlKind::kCheckBox:
            w = gtk_check_button_new_with_label(text.c_str());
            connect(w, "clicked", on_clicked, c.get());
            break;
        case ControlKind::kRadioButton:
            // Each in a GTK group of its own with a hidden partner that is
            // active when the button is not: the dialog state decides which
            // buttons of a template group are checked, and may check none.
            w = gtk_radio_button_new_with_label(nullptr, text.c_str());
            c->unchecked = gtk_radio_button_new_from_widget(GTK_RADIO_BUTTON(w));
            g_object_ref_sink(c->unchecked);
            connect(w, "clicked", on_clicked, c.get());
            break;
        case ControlKind::kEdit:
            w = gtk_entry_new();
            gtk_entry_set_width_chars(GTK_ENTRY(w), 1);
            gtk_editable_set_editable(GTK_EDITABLE(w), (s.flags & kControlReadOnly) == 0);
            if ((s.flags & kControlNumber) != 0) gtk_entry_set_input_purpose(GTK_ENTRY(w), GTK_INPUT_PURPOSE_DIGITS);
            connect(w, "changed", on_edit_changed, c.get());
            break;
        case ControlKind::kTrackbar:
            w = gtk_scale_new(s.height > s.width ? GTK_ORIENTATION_VERTICAL : GTK_ORIENTATION_HORIZONTAL, nullptr);
            gtk_scale_set_draw_value(GTK_SCALE(w), FALSE);
            gtk_range_set_increments(GTK_RANGE(w), 1, 10);
            gtk_range_set_round_digits(GTK_RANGE(w), 0);
            connect(w, "value-changed", on_value_changed, c.get());
            break;
        case ControlKind::kUpDown: {
            w = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
            gtk_box_set_homogeneous(GTK_BOX(w), TRUE);
            gtk_style_context_add_class(gtk_widget_get_style_context(w), "zbx-updown");
            c->up = gtk_button_new_from_icon_name("pan-up-symbolic", GTK_ICON_SIZE_MENU);
            c->down = gtk_button_new_from_icon_name("pan-down-symbolic", GTK_ICON_SIZE_MENU);
            for (GtkWidget* arrow : {c->up, c->down})
                gtk_image_set_pixel_size(GTK_IMAGE(gtk_button_get_image(GTK_BUTTON(arrow))), 6);
            gtk_widget_set_size_request(c->up, r.width, r.height / 2);
            gtk_widget_set_size_request(c->down, r.width, r.height - r.height / 2);
            gtk_box_pack_start(GTK_BOX(w), c->up, TRUE, TRUE, 0);
            gtk_box_pack_start(GTK_BOX(w), c->down, TRUE, TRUE, 0);
            connect(c->up, "clicked", on_up, c.get());
            connect(c->down, "clicked", on_down, c.get());
            break;
        }
        case ControlKind::kComboBox:
            w = gtk_combo_box_text_new();
            connect(w, "changed", on_combo_changed, c.get());
            break;
        case ControlKind::kTab:
            w = gtk_notebook_new();
            gtk_notebook_set_scrollable(GTK_NOTEBOOK(w), TRUE);
            connect(w, "switch-page", on_switch_page, c.get());
            break;
        }
        // Texts longer than their place are cut, as on the template's
        // system, rather than widening the control.
        if (GTK_IS_BUTTON(w) && GTK_IS_LABEL(gtk_bin_get_child(GTK_BIN(w)))) {
            GtkLabel* label = GTK_LABEL(gtk_bin_get_child(GTK_BIN(w)));
            gtk_label_set_ellipsize(label, PANGO_ELLIPSIZE_END);
            gtk_label_set_max_width_chars(label, 1);
        }
        gtk_widget_set_size_request(w, r.width, r.height);
        gtk_widget_show_all(w);
        gtk_fixed_put(GTK_FIXED(fixed), w, r.x, r.y);
        c->widget = w;
        c->expected = {r.x + origin_x, r.y + origin_y, r.width, r.height};
        controls_.push_back(std::move(c));
    }
}

void GtkModalWindow::realise_new_pages(Dialog& dialog) {
    for (const auto& page : dialog.pages()) {
        const bool known = std::any_of(pages_.begin(), pages_.end(),
                                       [&](const Page& p) { return p.dialog == page.get(); });
        if (!known) {
            // Pages sit inside their host control, at a place in pixels.
            int origin_x = page->x();
            int origin_y = page->y();
            if (const ControlState* host = dialog.control(page->host_control())) {
                const PixelRect h = to_pixels(host->x, host->y, host->width, host->height);
                origin_x += h.x;
                origin_y += h.y;
            }
            for (const Page& outer : pages_) {
                if (outer.dialog == &dialog) origin_x += outer.x, origin_y += outer.y;
            }
            Page p{page.get(), gtk_fixed_new(), origin_x, origin_y};
            const PixelRect size = to_pixels(0, 0, page->width(), page->height());
            gtk_widget_set_size_request(p.fixed, size.width, size.height);
            gtk_fixed_put(GTK_FIXED(fixed_), p.fixed, origin_x, origin_y);
            build_controls(*page, p.fixed, origin_x, origin_y);
            pages_.push_back(p);
        }
        realise_new_pages(*page);
    }
}

void GtkModalWindow::sync_control(Control& c) {
    const ControlState& s = state(c);
    GtkWidget* w = c.widget;
    gtk_widget_set_sensitive(w, s.enabled);
    gtk_widget_set_visible(w, s.visible);
    const std::string text = without_accelerators(s.text);
    switch (s.kind) {
    case ControlKind::kLabel:
        if (text != gtk_label_get_text(GTK_LABEL(w))) gtk_label_set_text(GTK_LABEL(w), text.c_str());
        break;
    case ControlKind::kGroupBox: {
        const char* shown = gtk_frame_get_label(GTK_FRAME(w));
        if (shown == nullptr || text != shown) gtk_frame_set_label(GTK_FRAME(w), text.c_str());
        break;
    }
    case ControlKind::kPushButton:
    case ControlKind::kCheckBox:
    case ControlKind::kRadioButton: {
        const char* shown = gtk_button_get_label(GTK_BUTTON(w));
        if (shown == nullptr || text != shown) gtk_button_set_label(GTK_BUTTON(w), text.c_str());
        if (s.kind != ControlKind::kPushButton &&
            (gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(w)) != FALSE) != s.checked) {
            GtkWidget* target = s.checked || c.unchecked == nullptr ? w : c.unchecked;
            gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(target), s.checked || c.unchecked != nullptr);
        }
        break;
    }
    case ControlKind::kEdit:
        if (s.text != gtk_entry_get_text(GTK_ENTRY(w))) gtk_entry_set_text(GTK_ENTRY(w), s.text.c_str());
        break;
    case ControlKind::kTrackbar: {
        const int low = std::min(s.range_min, s.range_max);
        const int high = std::max(s.range_min, s.range_max);
        gtk_range_set_range(GTK_RANGE(w), low, high > low ? high : low + 1);
        const int step = std::max(1, s.tick_frequency);
        if (c.marks_min != low || c.marks_max != high || c.marks_step != step) {
            gtk_scale_clear_marks(GTK_SCALE(w));
            if ((high - low) / step <= kMaxTicks) {
                for (int v = low; v <= high; v += step)
                    gtk_scale_add_mark(GTK_SCALE(w), v, GTK_POS_BOTTOM, nullptr);
            }
            c.marks_min = low, c.marks_max = high, c.marks_step = step;
        }
        if (std::lround(gtk_range_get_value(GTK_RANGE(w))) != s.position)
            gtk_range_set_value(GTK_RANGE(w), s.position);
        break;
    }
    case ControlKind::kUpDown:
        break;
    case ControlKind::kComboBox: {
        GtkTreeModel* model = gtk_combo_box_get_model(GTK_COMBO_BOX(w));
        bool same = gtk_tree_model_iter_n_children(model, nullptr) == static_cast<int>(s.items.size());
        for (std::size_t i = 0; same && i < s.items.size(); ++i) {
            GtkTreeIter iter;
            gchar* item = nullptr;
            if (gtk_tree_model_iter_nth_child(model, &iter, nullptr, static_cast<int>(i)))
                gtk_tree_model_get(model, &iter, 0, &item, -1);
            same = item != nullptr && s.items[i] == item;
            g_free(item);
        }
        if (!same) {
            gtk_combo_box_text_remove_all(GTK_COMBO_BOX_TEXT(w));
            for (const std::string& item : s.items) gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(w), item.c_str());
        }
        if (gtk_combo_box_get_active(GTK_COMBO_BOX(w)) != s.selection)
            gtk_combo_box_set_active(GTK_COMBO_BOX(w), s.selection);
        break;
    }
    case ControlKind::kTab: {
        GtkNotebook* book = GTK_NOTEBOOK(w);
        bool same = gtk_notebook_get_n_pages(book) == static_cast<int>(s.items.size());
        for (std::size_t i = 0; same && i < s.items.size(); ++i) {
            const char* label = gtk_notebook_get_tab_label_text(book, gtk_notebook_get_nth_page(book, static_cast<int>(i)));
            same = label != nullptr && s.items[i] == label;
        }
        if (!same) {
            while (gtk_notebook_get_n_pages(book) > 0) gtk_notebook_remove_page(book, -1);
            for (const std::string& item : s.items) {
                GtkWidget* blank = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
                gtk_widget_show(blank);
                gtk_notebook_append_page(book, blank, gtk_label_new(item.c_str()));
            }
        }
        if (s.selection >= 0 && gtk_notebook_get_current_page(book) != s.selection)
            gtk_notebook_set_current_page(book, s.selection);
        break;
    }
    }
}

void GtkModalWindow::sync() {
    syncing_ = true;
    realise_new_pages(root_);
    for (const Page& p : pages_) gtk_widget_set_visible(p.fixed, p.dialog->dialog_visible());
    for (auto& c : controls_) sync_control(*c);
    syncing_ = false;
}

void GtkModalWindow::open() {
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_widget_set_name(window_, "zbx-dialog");
    gtk_window_set_title(GTK_WINDOW(window_), root_.title().c_str());
    gtk_window_set_modal(GTK_WINDOW(window_), TRUE);
    gtk_window_set_resizable(GTK_WINDOW(window_), FALSE);
    gtk_window_set_position(GTK_WINDOW(window_), GTK_WIN_POS_CENTER);
    gtk_window_set_type_hint(GTK_WINDOW(window_), GDK_WINDOW_TYPE_HINT_DIALOG);
    install_css(root_.font_size());
    measure_font(root_.font_size());
    fixed_ = gtk_fixed_new();
    const PixelRect size = to_pixels(0, 0, root_.width(), root_.height());
    gtk_widget_set_size_request(fixed_, size.width, size.height);
    gtk_container_add(GTK_CONTAINER(window_), fixed_);
    build_controls(root_, fixed_, 0, 0);
    connect(window_, "delete-event", on_delete, this);
    connect(window_, "key-press-event", on_key, this);
    if (default_button_ != nullptr) gtk_window_set_default(GTK_WINDOW(window_), default_button_);
    open_windows().push_back(this);
    GtkUiThread::window_opened();

    run_.queue()->set_runner(std::this_thread::get_id());
    root_.procedure().on_init(root_);
    if (run_.ended()) {
        finish();
        return;
    }
    sync();
    gtk_widget_show(fixed_);
    gtk_widget_show(window_);
    gtk_window_present(GTK_WINDOW(window_));
    tick_ = g_timeout_add(kTickMs, on_tick, this);
}

void GtkModalWindow::after_event() {
    if (finished_) return;
    if (run_.ended()) {
        finish();
    } else {
        sync();
    }
}

void GtkModalWindow::finish() {
    if (finished_) return;
    finished_ = true;
    syncing_ = true;
    if (tick_ != 0) g_source_remove(tick_);
    tick_ = 0;
    std::erase(open_windows(), this);
    GtkUiThread::window_closed();
    gtk_widget_destroy(window_);
    window_ = nullptr;
    // Gone from the screen now, not at the next turn of the main loop.
    gdk_display_flush(gdk_display_get_default());
    // The dialog objects belong to the waiting caller from here on.
    closed_();
    g_idle_add(
        [](gpointer self) -> gboolean {
            delete static_cast<GtkModalWindow*>(self);
            return G_SOURCE_REMOVE;
        },
        this);
}

void GtkModalWindow::end_all_for_lost_display() {
    // Newest first, as nested dialogs close.  No GTK call: the connection
    // is dead, and the windows are left for good with the parked thread.
    auto& windows = open_windows();
    while (!windows.empty()) {
        GtkModalWindow* window = windows.back();
        windows.pop_back();
        window->finished_ = true;
        GtkUiThread::window_closed();
        window->run_.queue()->request_cancel();
        (void)window->run_.process_messages(0);
        window->closed_();
    }
}

// ---- User input, as the automation interface's operations -----------------

void GtkModalWindow::on_clicked(GtkWidget*, gpointer data) {
    auto* c = static_cast<Control*>(data);
    GtkModalWindow* self = c->owner;
    if (self->syncing_ || self->finished_) return;
    self->automation_.click(*c->dialog, self->state(*c).id);
    self->after_event();
}

void GtkModalWindow::on_edit_changed(GtkEditable* editable, gpointer data) {
    auto* c = static_cast<Control*>(data);
    GtkModalWindow* self = c->owner;
    if (self->syncing_ || self->finished_) return;
    gchar* text = gtk_editable_get_chars(editable, 0, -1);
    self->automation_.type(*c->dialog, self->state(*c).id, text != nullptr ? text : "");
    g_free(text);
    self->after_event();
}

void GtkModalWindow::on_value_changed(GtkRange* range, gpointer data) {
    auto* c = static_cast<Control*>(data);
    GtkModalWindow* self = c->owner;
    if (self->syncing_ || self->finished_) return;
    const int position = static_cast<int>(std::lround(gtk_range_get_value(range)));
    if (position != self->state(*c).position)
        self->automation_.move_trackbar(*c->dialog, self->state(*c).id, position);
    self->after_event();
}

void GtkModalWindow::on_up(GtkWidget*, gpointer data) {
    auto* c = static_cast<Control*>(data);
    GtkModalWindow* self = c->owner;
    if (self->syncing_ || self->finished_) return;
    self->automation_.step_updown(*c->dialog, self->state(*c).id, 1);
    self->after_event();
}

void GtkModalWindow::on_down(GtkWidget*, gpointer data) {
    auto* c = static_cast<Control*>(data);
    GtkModalWindow* self = c->owner;
    if (self->syncing_ || self->finished_) return;
    self->automation_.step_updown(*c->dialog, self->state(*c).id, -1);
    self->after_event();
}

void GtkModalWindow::on_combo_changed(GtkComboBox* combo, gpointer data) {
    auto* c = static_cast<Control*>(data);
    GtkModalWindow* self = c->owner;
    if (self->syncing_ || self->finished_) return;
    const int index = gtk_combo_box_get_active(combo);
    if (index >= 0) self->automation_.choose_item(*c->dialog, self->state(*c).id, index);
    self->after_event();
}

void GtkModalWindow::on_switch_page(GtkNotebook*, GtkWidget*, guint number, gpointer data) {
    auto* c = static_cast<Control*>(data);
    GtkModalWindow* self = c->owner;
    if (self->syncing_ || self->finished_) return;
    self->automation_.choose_tab(*c->dialog, self->state(*c).id, static_cast<int>(number));
    self->after_event();
}

gboolean GtkModalWindow::on_delete(GtkWidget*, GdkEvent*, gpointer data) {
    auto* self = static_cast<GtkModalWindow*>(data);
    if (!self->finished_) {
        self->automation_.close();
        self->after_event();
    }
    return TRUE;  // the window goes when the dialog ends
}

gboolean GtkModalWindow::on_key(GtkWidget*, GdkEventKey* event, gpointer data) {
    auto* self = static_cast<GtkModalWindow*>(data);
    if (self->finished_) return FALSE;
    if (event->keyval == GDK_KEY_Escape) {
        self->automation_.close();
        self->after_event();
        return TRUE;
    }
    const bool enter = event->keyval == GDK_KEY_Return || event->keyval == GDK_KEY_KP_Enter ||
                       event->keyval == GDK_KEY_ISO_Enter;
    const auto modifiers = event->state & gtk_accelerator_get_default_mod_mask();
    if (!enter || modifiers != 0) return FALSE;
    // Enter confirms the dialog from everywhere but a push button, which
    // takes Enter itself (check boxes and radio buttons do not toggle).
    GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(self->window_));
    if (focus != nullptr && GTK_IS_BUTTON(focus) && !GTK_IS_TOGGLE_BUTTON(focus)) return FALSE;
    self->automation_.click(self->root_, self->default_id());
    self->after_event();
    return TRUE;
}

int GtkModalWindow::default_id() const {
    for (const ControlState& c : root_.controls())
        if (c.kind == ControlKind::kPushButton && (c.flags & kControlDefault) != 0) return c.id;
    return kIdOk;
}

// Messages posted from other threads (and close requests) arrive here.
gboolean GtkModalWindow::on_tick(gpointer data) {
    auto* self = static_cast<GtkModalWindow*>(data);
    if (self->finished_) return G_SOURCE_REMOVE;
    const int delivered = self->run_.process_messages(0);
    if (self->run_.ended()) {
        self->tick_ = 0;
        self->finish();
        return G_SOURCE_REMOVE;
    }
    if (delivered > 0) self->sync();
    return G_SOURCE_CONTINUE;
}

// ---- What is on screen -----------------------------------------------------

std::optional<DisplayedDialog> GtkModalWindow::describe() const {
    if (window_ == nullptr || !gtk_widget_get_mapped(window_)) return std::nullopt;
    GtkAllocation base;
    gtk_widget_get_allocation(fixed_, &base);
    if (base.width <= 1) return std::nullopt;
    DisplayedDialog d;
    d.template_id = root_.template_id();
    d.title = root_.title();
    gdk_window_get_origin(gtk_widget_get_window(window_), &d.screen_x, &d.screen_y);
    d.screen_x += base.x;
    d.screen_y += base.y;
    for (const auto& c : controls_) {
        const ControlState& s = state(*c);
        GtkAllocation a;
        gtk_widget_get_allocation(c->widget, &a);
        d.controls.push_back(DisplayedControl{s.id, s.kind, c->dialog->template_id(), c->expected,
                                              {a.x - base.x, a.y - base.y, a.width, a.height},
                                              gtk_widget_is_visible(c->widget) != FALSE});
    }
    return d;
}

bool GtkModalWindow::save_png(const std::string& path) const {
    if (window_ == nullptr || !gtk_widget_get_realized(window_)) return false;
    GdkWindow* window = gtk_widget_get_window(window_);
    GdkPixbuf* picture = gdk_pixbuf_get_from_window(window, 0, 0, gdk_window_get_width(window),
                                                    gdk_window_get_height(window));
    if (picture == nullptr) return false;
    const bool saved = gdk_pixbuf_save(picture, path.c_str(), "png", nullptr, nullptr) != FALSE;
    g_object_unref(picture);
    return saved;
}

}  // namespace zbx::platform::gtk

// ---- The dialog stand-in's entry points -------------------------------------

namespace zbx::platform {

using gtk::GtkModalWindow;
using gtk::GtkUiThread;

bool run_on_display(ModalRun& run, Dialog& root) {
    GtkUiThread* ui = GtkUiThread::instance();
    if (ui == nullptr) return false;
    // Nobody can reach a dialog whose display has gone: it ends as Cancel,
    // so the call that opened it returns.
    GtkUiThread::on_display_lost(&GtkModalWindow::end_all_for_lost_display);
    if (GtkUiThread::owns_gtk()) {
        // Called from the thread that runs the main loop (an application's
        // own GTK loop, or another dialog's event): a nested loop there, as
        // modal dialogs do; waiting for another thread would wait for this
        // one.
        bool done = false;
        auto* window = new GtkModalWindow(run, root, [&done] { done = true; });
        window->open();
        while (!done) g_main_context_iteration(nullptr, TRUE);
        return true;
    }
    std::mutex mutex;
    std::condition_variable cond;
    bool done = false;
    ui->post([&] {
        auto* window = new GtkModalWindow(run, root, [&] {
            std::lock_guard lock(mutex);
            done = true;
            cond.notify_one();
        });
        window->open();
    });
    std::unique_lock lock(mutex);
    while (!cond.wait_for(lock, std::chrono::milliseconds(100), [&] { return done; })) {
        // Lost before the window was made: it never will be.
        if (GtkUiThread::display_lost()) {
            if (!run.ended()) run.end(kIdCancel);
            break;
        }
    }
    return true;
}

void let_displayed_dialogs_run() {
    if (!GtkUiThread::owns_gtk() || GtkUiThread::display_lost()) return;
    for (int i = 0; i < 100 && g_main_context_iteration(nullptr, FALSE); ++i) {
    }
}

std::optional<DisplayedDialog> displayed_dialog() {
    GtkUiThread* ui = GtkUiThread::instance();
    if (ui == nullptr) return std::nullopt;
    std::optional<DisplayedDialog> shown;
    ui->call([&] {
        if (GtkModalWindow* window = GtkModalWindow::newest()) shown = window->describe();
    });
    return shown;
}

bool save_displayed_dialog(const std::string& png_path) {
    GtkUiThread* ui = GtkUiThread::instance();
    if (ui == nullptr) return false;
    bool saved = false;
    ui->call([&] {
        if (GtkModalWindow* window = GtkModalWindow::newest()) saved = window->save_png(png_path);
    });
    return saved;
}

}  // namespace zbx::platform
