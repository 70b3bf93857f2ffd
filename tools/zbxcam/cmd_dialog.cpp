// zbxcam dialog analog|image|camera: opens one of the library's property
// dialogs while the camera streams, and returns when it is closed.
#include <cstdlib>
#include <string>

#include "camera.h"
#include "commands.h"

namespace zbxcam {
namespace {

bool display_reachable() {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}

}  // namespace

int dialog_command(const CommandInput& input) {
    Io& io = input.io;
    const auto& positionals = input.args.positionals;
    if (positionals.size() != 1)
        return print_usage_error(io, "dialog", "name one dialog: analog, image or camera");
    const std::string& which = positionals[0];
    int (*open_dialog)(ZbxHandle, ZbxWindow) = nullptr;
    if (which == "analog") {
        open_dialog = Zorbex_SetAnalogDlg;
    } else if (which == "image") {
        open_dialog = Zorbex_SetImageDlg;
    } else if (which == "camera") {
        open_dialog = Zorbex_SetCameraDlg;
    } else {
        return print_usage_error(io, "dialog", "unknown dialog '" + which + "' (analog, image or camera)");
    }

    const std::unique_ptr<Camera> camera = Camera::open(io, "dialog", input.global.camera);
    if (!camera) return kExitFailure;
    const ZbxHandle h = camera->handle();
    // The camera streams while the dialog is open, so its changes show at
    // once in the preview.
    const bool streaming = Zorbex_SetPreviewWindow(h, nullptr, 0, 0, 0, 0) != 0 && Zorbex_Preview(h) != 0;
    if (!streaming) io.err << "zbxcam dialog: could not start streaming; opening the dialog anyway\n";
    camera->take_errors();
    if (!display_reachable())
        io.out << "no display: the library shows no dialog and ends it at once as Cancel\n";
    if (!open_dialog(h, nullptr)) {
        if (streaming) (void)Zorbex_StopPreview(h);
        return camera->fail(io, "dialog", "could not open the " + which + " dialog");
    }
    if (streaming) (void)Zorbex_StopPreview(h);
    io.out << "the " << which << " dialog has closed\n";
    return kExitOk;
}

}  // namespace zbxcam
