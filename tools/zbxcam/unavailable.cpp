// The commands whose library exports this build leaves out (see the
// ZBXCAM_SETTINGS and ZBXCAM_ACQUISITION switches in tools/CMakeLists.txt).
#include "camera.h"
#include "capture_settings.h"
#include "commands.h"

namespace zbxcam {

int print_unavailable(Io& io, std::string_view command, std::string_view needs) {
    io.err << "zbxcam " << command << ": not available in this build: it needs " << needs
           << ", which the library does not provide yet\n";
    return kExitFailure;
}

#if !ZBXCAM_SETTINGS
std::optional<bool> camera_present(Camera&, int) { return std::nullopt; }
// Without Zorbex_SetDeviceNumber only camera 0 can be used.
bool select_device(Camera&, int) { return false; }
int run_list(const CommandInput& input) {
    // What the library can tell without its device listing: the slots its
    // virtual camera fills.
    input.io.out << "the library's virtual camera holds cameras in slots "
                 << describe_slots(ZbxVcam_GetSlots()) << "\n";
    return print_unavailable(input.io, "list", "the device listing exports (Zorbex_EnumDevice ...)");
}
int run_info(const CommandInput& input) {
    return print_unavailable(input.io, "info", "the settings and camera information exports");
}
int apply_capture_settings(Camera&, const CaptureSettings&, Io& io, std::string_view command) {
    return print_unavailable(io, command, "the settings exports");
}
#endif

#if !ZBXCAM_ACQUISITION
int run_snap(const CommandInput& input, const SnapRequest&) {
    return print_unavailable(input.io, "snap", "Zorbex_SnapShot and Zorbex_SaveImage");
}
int run_stream(const CommandInput& input, const StreamRequest&) {
    return print_unavailable(input.io, "stream", "Zorbex_CallBackPreview and Zorbex_StopPreview");
}
int run_demo(const CommandInput& input, const DemoRequest&) {
    return print_unavailable(input.io, "demo", "Zorbex_SnapShot, Zorbex_SaveImage and Zorbex_CallBackPreview");
}
#endif

}  // namespace zbxcam
