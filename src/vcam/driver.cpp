// The default driver backend: the virtual cameras of the registry.
#include "platform/driver_port.h"
#include "vcam/registry.h"

namespace zbx::vcam {
namespace {

class VirtualDriver final : public platform::DriverBackend {
public:
    platform::DriverHandle open(const char* name) override { return Registry::instance().open(name); }
    bool control(platform::DriverHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
                 std::span<std::uint8_t> output, std::uint32_t* returned) override {
        return Registry::instance().control(handle, code, input, output, returned);
    }
    bool close(platform::DriverHandle handle) override { return Registry::instance().close(handle); }
    bool cancel(platform::DriverHandle handle) override { return Registry::instance().cancel(handle); }
    bool frames_on_demand(platform::DriverHandle handle) override {
        return Registry::instance().frames_on_demand(handle);
    }
};

}  // namespace

platform::DriverBackend& driver() {
    static VirtualDriver backend;
    return backend;
}

}  // namespace zbx::vcam
