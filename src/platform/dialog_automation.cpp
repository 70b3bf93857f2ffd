#include "platform/dialog_automation.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <utility>

#include "platform/dialog_run.h"

namespace zbx::platform {
namespace {

std::mutex& hook_mutex() {
    static std::mutex mutex;
    return mutex;
}

DialogAutomationHook& installed_hook() {
    static DialogAutomationHook hook;
    return hook;
}

Dialog* find_page(Dialog& dialog, int template_id) {
    for (const auto& page : dialog.pages()) {
        if (page->template_id() == template_id) return page.get();
        if (Dialog* found = find_page(*page, template_id)) return found;
    }
    return nullptr;
}

}  // namespace

bool dialog_automation_hook_installed() {
    std::lock_guard lock(hook_mutex());
    return static_cast<bool>(installed_hook());
}

DialogAutomationHook set_dialog_automation_hook(DialogAutomationHook hook) {
    std::lock_guard lock(hook_mutex());
    return std::exchange(installed_hook(), std::move(hook));
}

void run_dialog_automation_hook(DialogAutomation& automation) {
    DialogAutomationHook hook;
    {
        // A copy, so the hook may open nested dialogs or replace itself.
        std::lock_guard lock(hook_mutex());
        hook = installed_hook();
    }
    if (hook) hook(automation);
}

Dialog* DialogAutomation::page(int template_id) const { return find_page(root_, template_id); }

const ControlState* DialogAutomation::reachable(const Dialog& dialog, int id) const {
    if (dialog.ended() || !dialog.shown()) return nullptr;
    const ControlState* c = dialog.control(id);
    if (c == nullptr || !c->enabled || !c->visible) return nullptr;
    return c;
}

bool DialogAutomation::click(Dialog& dialog, int id) {
    const ControlState* c = reachable(dialog, id);
    if (c == nullptr) return false;
    switch (c->kind) {
    case ControlKind::kPushButton:
        break;
    case ControlKind::kCheckBox:
        dialog.set_check(id, !c->checked);
        break;
    case ControlKind::kRadioButton:
        for (const ControlState& other : dialog.controls()) {
            if (other.kind == ControlKind::kRadioButton && other.id != id && c->group != 0 &&
                other.group == c->group)
                dialog.set_check(other.id, false);
        }
        dialog.set_check(id, true);
        break;
    default:
        return false;
    }
    dialog.procedure().on_command(dialog, id, CommandCode::kClicked);
    return true;
}

bool DialogAutomation::type(Dialog& dialog, int id, std::string_view text) {
    const ControlState* c = reachable(dialog, id);
    if (c == nullptr || c->kind != ControlKind::kEdit || (c->flags & kControlReadOnly) != 0)
        return false;
    std::string accepted;
    for (char ch : text) {
        if ((c->flags & kControlNumber) == 0 || (ch >= '0' && ch <= '9')) accepted.push_back(ch);
    }
    return dialog.set_text(id, accepted);
}

bool DialogAutomation::move_trackbar(Dialog& dialog, int id, int position) {
    const ControlState* c = reachable(dialog, id);
    if (c == nullptr || c->kind != ControlKind::kTrackbar) return false;
    dialog.set_position(id, position);
    dialog.procedure().on_scroll(dialog, id, dialog.position(id));
    return true;
}

bool DialogAutomation::step_updown(Dialog& dialog, int id, int steps) {
    const ControlState* c = reachable(dialog, id);
    if (c == nullptr || c->kind != ControlKind::kUpDown) return false;
    int from = c->position;
    if (c->buddy != 0) {
        if (const auto shown = dialog.get_int(c->buddy, true)) {
            from = static_cast<int>(std::clamp<std::int64_t>(*shown, std::min(c->range_min, c->range_max),
                                                             std::max(c->range_min, c->range_max)));
        }
    }
    // An up-down whose minimum is above its maximum counts the other way.
    const int direction = c->range_min <= c->range_max ? 1 : -1;
    dialog.set_position(id, from + steps * direction);
    return true;
}

bool DialogAutomation::choose_item(Dialog& dialog, int id, int index) {
    const ControlState* c = reachable(dialog, id);
    if (c == nullptr || c->kind != ControlKind::kComboBox) return false;
    if (index < 0 || index >= static_cast<int>(c->items.size())) return false;
    dialog.set_selection(id, index);
    dialog.procedure().on_command(dialog, id, CommandCode::kSelChange);
    return true;
}

bool DialogAutomation::choose_tab(Dialog& dialog, int id, int index) {
    const ControlState* c = reachable(dialog, id);
    if (c == nullptr || c->kind != ControlKind::kTab) return false;
    if (index < 0 || index >= static_cast<int>(c->items.size())) return false;
    dialog.set_selection(id, index);
    dialog.procedure().on_notify(dialog, id, NotifyCode::kTabSelChange);
    return true;
}

bool DialogAutomation::close() {
    if (root_.ended()) return false;
    root_.procedure().on_command(root_, kIdCancel, CommandCode::kClicked);
    return true;
}

int DialogAutomation::process_messages(std::uint32_t timeout_ms) {
    return root_.run().process_messages(timeout_ms);
}

std::intptr_t DialogAutomation::result() const { return root_.run().result(); }

}  // namespace zbx::platform
