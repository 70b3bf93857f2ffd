// Built without a toolkit: no dialog ever reaches a display.
#ifndef ZBX_HAVE_GTK
#include "platform/dialog_display.h"

namespace zbx::platform {

bool run_on_display(ModalRun&, Dialog&) { return false; }

std::optional<DisplayedDialog> displayed_dialog() { return std::nullopt; }

bool save_displayed_dialog(const std::string&) { return false; }

void let_displayed_dialogs_run() {}

}  // namespace zbx::platform
#endif
