// The on-screen side of modal dialogs: a toolkit backend that realises a
// modal run as a real window.  Private to the dialog stand-in; built from
// platform/gtk/ when GTK 3 is available, else from dialog_headless.cpp.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/dialog.h"
#include "platform/dialog_run.h"

namespace zbx::platform {

// Calling thread: shows `root` (made, its init event not yet delivered) on
// the display and waits until the dialog has ended.  The root's init event
// and every event after it run on the backend's GUI thread meanwhile.
// False, with nothing done, when no display is reachable.
[[nodiscard]] bool run_on_display(ModalRun& run, Dialog& root);

// ---- What is on screen (for tests and tools) ------------------------------

struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// One control of a dialog on screen: where its template puts it (dialog
// units turned into pixels) and where the toolkit laid it out, both inside
// the dialog's client area.
struct DisplayedControl {
    int id = kStaticId;
    ControlKind kind = ControlKind::kLabel;
    int dialog_template = 0;  // the page's template, or the dialog's
    PixelRect expected;
    PixelRect allocated;
    bool shown = false;  // visible on screen now
};

struct DisplayedDialog {
    int template_id = 0;
    std::string title;
    int screen_x = 0;  // the client area's place on the screen
    int screen_y = 0;
    std::vector<DisplayedControl> controls;
};

// Any thread: the newest modal dialog on screen once it is mapped and laid
// out, or nullopt.
[[nodiscard]] std::optional<DisplayedDialog> displayed_dialog();
// Any thread: saves what the newest dialog shows as a PNG file.
[[nodiscard]] bool save_displayed_dialog(const std::string& png_path);

}  // namespace zbx::platform
