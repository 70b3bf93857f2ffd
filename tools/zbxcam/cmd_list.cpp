#include <array>
#include <sstream>

#include "camera.h"
#include "commands.h"
#include "json.h"

namespace zbxcam {

namespace {

struct Entry {
    int slot;
    std::string name;
    bool in_use;
};

// The library tells whether another session streams from a camera only by
// refusing to start one: take a frame and see whether it says the camera
// is unavailable.  Which process holds it, it does not say.
bool in_use(int slot) {
    std::ostringstream quiet;
    Io silent{quiet, quiet, false};
    const std::unique_ptr<Camera> camera = Camera::open(silent, "list", slot);
    if (!camera) return false;
    camera->take_errors();
    if (Zorbex_SnapShot(camera->handle(), nullptr, 0, 1)) return false;
    for (int code : camera->take_errors())
        if (code == ZBX_ERR_DEVICE_UNAVAILABLE) return true;
    return false;
}

}  // namespace

int run_list(const CommandInput& input, bool json) {
    Io& io = input.io;
    std::vector<Entry> entries;
    {
        const std::unique_ptr<Camera> camera = Camera::open(io, "list", 0, false);
        if (!camera) return kExitFailure;
        // Room for 32 entries: the library fills one per camera, at least 10.
        std::array<char[256], 32> names{};
        const int count = Zorbex_EnumDevice(camera->handle(), names.data());
        if (count == 0) {
            const std::vector<int> codes = camera->take_errors();
            if (!codes.empty())
                return print_failure(io, "list", "could not list the cameras", codes, ErrorContext{});
        }
        for (int slot = 0; count > 0 && slot < 32; ++slot) {
            std::array<char, 256> name{};
            if (Zorbex_GetDeviceName(camera->handle(), slot, name.data(), static_cast<int>(name.size())))
                entries.push_back({slot, name.data(), false});
        }
        // Absent slots each left ERR_DEVICE_UNAVAILABLE behind.
        camera->take_errors();
    }
    for (Entry& e : entries) e.in_use = in_use(e.slot);

    if (json) {
        std::string array = "[";
        for (const Entry& e : entries) {
            JsonObject o;
            o.add("camera", e.slot).add("name", e.name).add("in_use", e.in_use).add_null("process");
            array += (array.size() > 1 ? ", " : "") + o.str();
        }
        io.out << JsonObject().add_raw("cameras", array + "]").str() << "\n";
        return kExitOk;
    }
    if (entries.empty()) {
        io.out << "no camera is attached\n";
        return kExitOk;
    }
    io.out << entries.size() << (entries.size() == 1 ? " camera" : " cameras") << " attached:\n";
    for (const Entry& e : entries)
        io.out << "  camera " << e.slot << "  " << e.name << (e.in_use ? "  (in use)" : "") << "\n";
    return kExitOk;
}

}  // namespace zbxcam
