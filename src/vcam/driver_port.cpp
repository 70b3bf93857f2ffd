// The driver port's backend selection.  It lives with the virtual camera,
// the default backend, so that the platform layer does not reach up to it:
// the device layer links the port through this layer.
#include "platform/driver_port.h"

#include <atomic>

namespace zbx::vcam {
// The virtual camera's driver (driver.cpp).
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
