// The user of headless dialogs: a hook that runs on the dialog's thread
// each time a modal dialog opens, reads its controls and acts as a user
// would.  Tests install it; the modal loop calls it once, after the init
// event, and closes the dialog (as Cancel) if the hook leaves it open.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "platform/dialog.h"
#include "platform/sync.h"

namespace zbx::platform {

// Acts on one open modal dialog.  A user cannot reach a control that is
// unknown, disabled, hidden, inside a hidden page, or of the wrong kind,
// nor any control once the dialog has ended: such actions do nothing and
// return false.
class DialogAutomation {
public:
    explicit DialogAutomation(Dialog& root) : root_(root) {}

    [[nodiscard]] Dialog& dialog() const { return root_; }
    // The open page made from template `template_id`, or null.
    [[nodiscard]] Dialog* page(int template_id) const;

    // A push button, check box or radio button.  Check boxes toggle,
    // radio buttons check themselves and clear the rest of their group.
    bool click(Dialog& dialog, int id);
    // Replaces an edit's text as typed: a read-only edit refuses it, and a
    // number-style edit drops every character but digits.  One edit change
    // is reported.
    bool type(Dialog& dialog, int id, std::string_view text);
    // Drags a trackbar (the position is kept inside its range).
    bool move_trackbar(Dialog& dialog, int id, int position);
    // Presses an up-down arrow `steps` times (negative: down): it starts
    // from its buddy's number when that parses, else from its position.
    bool step_updown(Dialog& dialog, int id, int steps);
    // Chooses a combo-box item or a tab.
    bool choose_item(Dialog& dialog, int id, int index);
    bool choose_tab(Dialog& dialog, int id, int index);

    // The same on the modal dialog itself.
    bool click(int id) { return click(root_, id); }
    bool type(int id, std::string_view text) { return type(root_, id, text); }
    bool choose_item(int id, int index) { return choose_item(root_, id, index); }
    bool press_ok() { return click(root_, kIdOk); }
    bool press_cancel() { return click(root_, kIdCancel); }
    // The close box or Escape: a Cancel command, even without a Cancel button.
    bool close();

    // Delivers messages posted to the dialog, waiting up to timeout_ms
    // (kInfinite: no limit) for the first; returns how many were delivered.
    int process_messages(std::uint32_t timeout_ms = 0);

    [[nodiscard]] bool ended() const { return root_.ended(); }
    [[nodiscard]] std::intptr_t result() const;

private:
    const ControlState* reachable(const Dialog& dialog, int id) const;
    Dialog& root_;
};

using DialogAutomationHook = std::function<void(DialogAutomation&)>;

// Installs the hook for every modal dialog opened from now on, in any
// thread; an empty function removes it.  Returns the previous hook.
DialogAutomationHook set_dialog_automation_hook(DialogAutomationHook hook);

// Whether a hook is installed (any thread).
[[nodiscard]] bool dialog_automation_hook_installed();

// Runs the installed hook, if any (used by the modal loop).
void run_dialog_automation_hook(DialogAutomation& automation);

// Installs a hook for its lifetime and puts the previous one back after.
class ScopedDialogAutomation {
public:
    explicit ScopedDialogAutomation(DialogAutomationHook hook)
        : previous_(set_dialog_automation_hook(std::move(hook))) {}
    ~ScopedDialogAutomation() { set_dialog_automation_hook(std::move(previous_)); }
    ScopedDialogAutomation(const ScopedDialogAutomation&) = delete;
    ScopedDialogAutomation& operator=(const ScopedDialogAutomation&) = delete;

private:
    DialogAutomationHook previous_;
};

}  // namespace zbx::platform
