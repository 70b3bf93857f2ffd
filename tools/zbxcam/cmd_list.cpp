#include <array>

#include "camera.h"
#include "commands.h"

namespace zbxcam {

int run_list(const CommandInput& input) {
    Io& io = input.io;
    const std::unique_ptr<Camera> camera = Camera::open(io, "list", 0, false);
    if (!camera) return kExitFailure;
    // Room for 32 entries: the library fills one per camera, at least 10.
    std::array<char[256], 32> names{};
    const int count = Zorbex_EnumDevice(camera->handle(), names.data());
    if (count == 0) {
        const std::vector<int> codes = camera->take_errors();
        if (!codes.empty())
            return print_failure(io, "list", "could not list the cameras", codes, ErrorContext{});
        io.out << "no camera is attached\n";
        return kExitOk;
    }
    io.out << count << (count == 1 ? " camera" : " cameras") << " attached:\n";
    for (int slot = 0; slot < 32; ++slot) {
        std::array<char, 256> name{};
        if (Zorbex_GetDeviceName(camera->handle(), slot, name.data(), static_cast<int>(name.size())))
            io.out << "  camera " << slot << "  " << name.data() << "\n";
    }
    // Absent slots each left ERR_DEVICE_UNAVAILABLE behind.
    camera->take_errors();
    return kExitOk;
}

}  // namespace zbxcam
