#include "platform/driver_port.h"

#include <atomic>

namespace zbx::vcam {
// The virtual camera's driver, defined in vcam/.
platform::DriverBackend& driver();
}  // namespace zbx::vcam

namespace zbx::platform {

namespace {
std::atomic<DriverBackend*> g_backend{nullptr};
}  // namespace

DriverBackend& driver_backend() {
    DriverBackend* backend = g_backend.load(std::memory_order_acquire);
    return backend ? *backend : vcam::driver();
}

void set_driver_backend(DriverBackend* backend) {
    g_backend.store(backend, std::memory_order_release);
}

}  // namespace zbx::platform
