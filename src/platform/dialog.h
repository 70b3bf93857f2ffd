// Modal dialog stand-in: dialogs built from templates, holding the state
// of their controls and delivering init / command / scroll / notify events
// to a dialog procedure.
//
// On screen: when a display is reachable and no automation hook is
// installed, a toolkit backend (platform/gtk/) shows the dialog as a real
// window; the dialog's events then run on the backend's one GUI thread
// while the calling thread waits, and the user's input arrives through the
// same operations the automation interface uses.
//
// Headless: nothing is drawn and no user sits in front of the screen.  A
// modal dialog runs on the calling thread; when it opens, the automation
// hook (platform/dialog_automation.h) runs on that same thread and plays the
// user.  With no hook installed, nobody can answer the dialog, so it closes
// at once as if the user had pressed Cancel.
//
// Control state follows the conventions dialog procedures rely on:
// setting an edit's text (from the procedure or the user) reports an edit
// change to the procedure at once, before the setter returns; setting a
// trackbar, check box, combo-box or tab selection from code reports
// nothing; an up-down control writes its position into its buddy edit.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zorbex/window.h"

namespace zbx::platform {

// ---- Templates ------------------------------------------------------------

enum class ControlKind {
    kLabel,
    kGroupBox,
    kPushButton,
    kCheckBox,     // toggles itself when clicked
    kRadioButton,  // checks itself and clears its group when clicked
    kEdit,
    kTrackbar,
    kUpDown,
    kComboBox,  // drop-down list
    kTab,
};

// Control flags in templates.
inline constexpr std::uint32_t kControlDisabled = 1u << 0;
inline constexpr std::uint32_t kControlHidden = 1u << 1;
inline constexpr std::uint32_t kControlDefault = 1u << 2;    // default push button
inline constexpr std::uint32_t kControlReadOnly = 1u << 3;   // edit the user cannot type into
inline constexpr std::uint32_t kControlNumber = 1u << 4;     // edit that takes digits only
inline constexpr std::uint32_t kControlOwnerDraw = 1u << 5;  // the owner draws the labels

// Identifier of labels and group boxes, which nothing addresses.
inline constexpr int kStaticId = -1;
// Identifiers of the standard buttons, and the results dialogs end with.
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
// Result of run_modal_dialog when the dialog could not be created.
inline constexpr std::intptr_t kDialogFailed = -1;

struct ControlTemplate {
    int id = kStaticId;
    ControlKind kind = ControlKind::kLabel;
    std::string text;  // UTF-8
    // Position and size in dialog units.
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    std::uint32_t flags = 0;
    int group = 0;  // radio buttons sharing a non-zero group exclude each other
};

struct DialogTemplate {
    int resource_id = 0;
    std::string title;  // UTF-8
    int width = 0;      // dialog units
    int height = 0;
    std::string font_name;
    int font_size = 0;
    bool child = false;  // a page shown inside another dialog; starts hidden
    std::vector<ControlTemplate> controls;
};

// ---- Events ---------------------------------------------------------------

enum class CommandCode {
    kClicked,     // push button, check box or radio button clicked
    kEditChange,  // an edit's text changed
    kSelChange,   // the user chose a combo-box item
};

enum class NotifyCode {
    kTabSelChange,  // the user chose another tab
};

// First number free for messages that dialog procedures post to themselves.
inline constexpr std::uint32_t kDialogUserMessage = 0x0400;

class Dialog;

// Receives a dialog's events, always on the dialog's thread.  The
// procedure must outlive the dialog.  Handlers may change controls, create
// pages and end the dialog; edit changes they cause arrive re-entrantly.
class DialogProcedure {
public:
    virtual ~DialogProcedure() = default;
    virtual void on_init(Dialog& dialog) { (void)dialog; }
    virtual void on_command(Dialog& dialog, int id, CommandCode code) {
        (void)dialog, (void)id, (void)code;
    }
    // A trackbar moved by the user; `position` is its new position.
    virtual void on_scroll(Dialog& dialog, int id, int position) {
        (void)dialog, (void)id, (void)position;
    }
    virtual void on_notify(Dialog& dialog, int id, NotifyCode code) {
        (void)dialog, (void)id, (void)code;
    }
    // A message posted with post_dialog_message.
    virtual void on_message(Dialog& dialog, std::uint32_t message, std::uintptr_t wparam,
                            std::intptr_t lparam) {
        (void)dialog, (void)message, (void)wparam, (void)lparam;
    }
};

// ---- Controls -------------------------------------------------------------

// The state of one control, as a user would see it.
struct ControlState {
    int id = kStaticId;
    ControlKind kind = ControlKind::kLabel;
    std::uint32_t flags = 0;  // from the template
    int group = 0;
    // Place and size in dialog units, from the template.
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    std::string text;  // label, button or edit text
    bool enabled = true;
    bool visible = true;
    bool checked = false;
    // Trackbar and up-down: range, position; trackbar: tick spacing.
    int range_min = 0;
    int range_max = 100;
    int position = 0;
    int tick_frequency = 1;
    int buddy = 0;  // up-down: the edit it writes into (0: none)
    // Combo box items or tab labels, and the selection (-1: none).
    std::vector<std::string> items;
    int selection = -1;
};

// Opaque name of an open dialog, valid on any thread; never reused.
using DialogHandle = std::uint64_t;

class ModalRun;

// A dialog while it is open: the modal dialog itself or a page inside it.
// Made only by run_modal_dialog and create_page.  Every member is for the
// dialog's thread.  Operations on an unknown id, or of the wrong kind of
// control, do nothing and return false (or a neutral value).
class Dialog {
public:
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;
    ~Dialog();

    [[nodiscard]] DialogHandle handle() const { return handle_; }
    [[nodiscard]] int template_id() const { return template_id_; }
    [[nodiscard]] const std::string& title() const { return title_; }
    [[nodiscard]] int width() const { return width_; }
    [[nodiscard]] int height() const { return height_; }
    // The template's font size in points (dialog units derive from it).
    [[nodiscard]] int font_size() const { return font_size_; }
    [[nodiscard]] Dialog* parent() const { return parent_; }

    // Every control in template order, and one by id.
    [[nodiscard]] const std::vector<ControlState>& controls() const { return controls_; }
    [[nodiscard]] const ControlState* control(int id) const;

    bool enable(int id, bool enabled);
    [[nodiscard]] bool is_enabled(int id) const;
    bool show(int id, bool visible);
    [[nodiscard]] bool is_visible(int id) const;

    // Text of any control; for an edit, reports an edit change.
    bool set_text(int id, std::string_view text);
    [[nodiscard]] std::string text(int id) const;
    // The text as a decimal number, signed or as unsigned 32-bit; writing
    // reports an edit change like set_text.
    bool set_int(int id, std::int64_t value, bool is_signed);
    // nullopt unless the text is a number in range (blanks around it and,
    // when signed, one leading minus allowed).
    [[nodiscard]] std::optional<std::int64_t> get_int(int id, bool is_signed) const;

    // Check boxes and radio buttons.
    bool set_check(int id, bool checked);
    [[nodiscard]] bool is_checked(int id) const;

    // Trackbars and up-down controls share range and position; a position
    // is kept inside the range.  An up-down control with a buddy writes
    // each new position into the buddy as a signed number.
    bool set_range(int id, int minimum, int maximum);
    bool set_position(int id, int position);
    [[nodiscard]] int position(int id) const;
    bool set_tick_frequency(int id, int frequency);
    bool set_buddy(int updown_id, int edit_id);

    // Combo boxes and tabs: items and selection.
    bool reset_items(int id);
    // Index of the new item, or -1.  index -1 appends.
    int insert_item(int id, int index, std::string_view text);
    bool delete_item(int id, int index);
    [[nodiscard]] int item_count(int id) const;
    [[nodiscard]] std::string item_text(int id, int index) const;
    // -1 clears the selection; false for any other index outside the list.
    bool set_selection(int id, int index);
    [[nodiscard]] int selection(int id) const;

    // Pages: a dialog made from a child template inside `host_control` of
    // this dialog, hidden until shown, placed at (x, y) pixels inside that
    // control.  It lives until the modal dialog closes.  Null when the
    // template is not a child template or the control is unknown; the
    // page's init event has run when this returns.
    Dialog* create_page(const DialogTemplate& page, int host_control, DialogProcedure& procedure);
    void place(int x, int y);
    [[nodiscard]] int x() const { return x_; }
    [[nodiscard]] int y() const { return y_; }
    [[nodiscard]] int host_control() const { return host_control_; }
    void show_dialog(bool visible);
    [[nodiscard]] bool dialog_visible() const { return visible_; }
    // Visible itself and every dialog it sits in.
    [[nodiscard]] bool shown() const;
    [[nodiscard]] const std::vector<std::unique_ptr<Dialog>>& pages() const { return pages_; }

    // Ends the modal dialog with `result`; the modal loop returns it once
    // the running event handler has returned.  False on a page, and when
    // the dialog has already ended.
    bool end(std::intptr_t result);
    [[nodiscard]] bool ended() const;

    // For the automation interface: the procedure and the modal run.
    [[nodiscard]] DialogProcedure& procedure() const { return *procedure_; }
    [[nodiscard]] ModalRun& run() const { return *run_; }

private:
    friend class ModalRun;
    Dialog(const DialogTemplate& source, Dialog* parent, ModalRun& run, DialogProcedure& procedure);
    ControlState* find(int id);
    void report_edit_change(const ControlState& control);

    DialogHandle handle_;
    int template_id_;
    std::string title_;
    int width_;
    int height_;
    int font_size_;
    Dialog* parent_;
    ModalRun* run_;
    DialogProcedure* procedure_;
    std::vector<ControlState> controls_;
    std::vector<std::unique_ptr<Dialog>> pages_;
    int host_control_ = 0;
    int x_ = 0;
    int y_ = 0;
    bool visible_;
};

// ---- Running --------------------------------------------------------------

// Runs the dialog modally on the calling thread: creates it, delivers its
// init event, lets the automation hook play the user, and returns the
// result it ended with.  kDialogFailed when it cannot be created: `owner`
// is given but is no live window, or the template is a child template.
std::intptr_t run_modal_dialog(const DialogTemplate& source, ZbxWindow owner,
                               DialogProcedure& procedure);

// Marks the modal dialogs this thread opens while it lives as belonging to
// `owner` (for instance a session), so another thread can close them.
class ScopedDialogOwner {
public:
    explicit ScopedDialogOwner(const void* owner);
    ~ScopedDialogOwner();
    ScopedDialogOwner(const ScopedDialogOwner&) = delete;
    ScopedDialogOwner& operator=(const ScopedDialogOwner&) = delete;

private:
    const void* previous_;
};

// Any thread.  Ends every open modal dialog of `owner` as if the user had
// closed it (a Cancel command; ended as Cancel if the procedure ignores
// it) and waits until each has closed, except one whose events run on the
// calling thread.  Returns how many dialogs were asked to close.
int cancel_modal_dialogs(const void* owner);

// Any thread, for a wait on dialogs to end: when the calling thread runs the
// main loop that shows dialogs (an application's loop called into the
// library), runs what is ready there, so the dialogs it shows can end;
// otherwise does nothing.
void let_displayed_dialogs_run();

// Queues a message for an open dialog (its procedure's on_message runs on
// the dialog's thread when the dialog next processes its messages).  Any
// thread.  False when the dialog is closed or its queue is full.
bool post_dialog_message(DialogHandle dialog, std::uint32_t message, std::uintptr_t wparam,
                         std::intptr_t lparam);

}  // namespace zbx::platform
