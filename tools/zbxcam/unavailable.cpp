// The commands whose library exports this build leaves out (see the
// ZBXCAM_ACQUISITION switch in tools/CMakeLists.txt).
#include "commands.h"

namespace zbxcam {

int print_unavailable(Io& io, std::string_view command, std::string_view needs) {
    io.err << "zbxcam " << command << ": not available in this build: it needs " << needs
           << ", which the library does not provide yet\n";
    return kExitFailure;
}

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
