// Placeholder driver with no cameras until the virtual camera lands.
#include "platform/driver_port.h"

namespace zbx::vcam {
namespace {
class NoCameras final : public platform::DriverBackend {
public:
    platform::DriverHandle open(const char*) override { return platform::kNullDriverHandle; }
    bool control(platform::DriverHandle, std::uint32_t, std::span<const std::uint8_t>,
                 std::span<std::uint8_t>, std::uint32_t* returned) override {
        if (returned) *returned = 0;
        return false;
    }
    bool close(platform::DriverHandle) override { return false; }
};
}  // namespace

platform::DriverBackend& driver() {
    static NoCameras backend;
    return backend;
}
}  // namespace zbx::vcam
