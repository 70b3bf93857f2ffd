// Driver port: how the library reaches the camera driver.  It stands in for
// opening a driver device by name and issuing synchronous device-control
// requests on the handle.  The backend behind it is the virtual camera by
// default; a hardware backend can be installed without touching device/.
#pragma once

#include <cstdint>
#include <span>

namespace zbx::platform {

// Pointer-sized driver handle.  0 is "no handle"; kInvalidDriverHandle is
// the value an open that failed in the platform's own way may return.
using DriverHandle = std::uintptr_t;
inline constexpr DriverHandle kNullDriverHandle = 0;
inline constexpr DriverHandle kInvalidDriverHandle = ~DriverHandle{0};

// Device-control codes of the camera driver.
inline constexpr std::uint32_t kIoctlPipeTransferA = 0x22204E;
inline constexpr std::uint32_t kIoctlPipeTransferB = 0x222051;
inline constexpr std::uint32_t kIoctlLargePipeTransferA = 0x2220A6;
inline constexpr std::uint32_t kIoctlLargePipeTransferB = 0x2220A9;
inline constexpr std::uint32_t kIoctlDriverSettings = 0x2220A0;

class DriverBackend {
public:
    virtual ~DriverBackend() = default;
    // Opens a device by name; kNullDriverHandle (or kInvalidDriverHandle)
    // when there is no such device.  Several handles may be open at once.
    virtual DriverHandle open(const char* name) = 0;
    // One synchronous request.  `output` is the data buffer (read into or
    // written from, as the request says); *returned receives the byte count
    // moved.  True when the request succeeded.
    virtual bool control(DriverHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
                         std::span<std::uint8_t> output, std::uint32_t* returned) = 0;
    // Closes a handle from open(); true when it was open.
    virtual bool close(DriverHandle handle) = 0;
    // Makes the requests waiting on `handle` fail at once (requests made
    // later are not affected); true when one was waiting.  Any thread.  A
    // backend that cannot cancel leaves them to their time-out.
    virtual bool cancel(DriverHandle /*handle*/) { return false; }
    // True when the device behind `handle` makes a frame only when it is
    // read (a free-running camera does not): a reader then need not read
    // ahead of its consumer.  Any thread.
    virtual bool frames_on_demand(DriverHandle /*handle*/) { return false; }
};

// The backend in use (the virtual camera unless another was installed).
DriverBackend& driver_backend();
// Installs another backend (nullptr restores the default).  Not thread-safe:
// call before any session exists.
void set_driver_backend(DriverBackend* backend);

// Convenience forms over the installed backend.
inline DriverHandle driver_open(const char* name) { return driver_backend().open(name); }
inline bool driver_control(DriverHandle handle, std::uint32_t code,
                           std::span<const std::uint8_t> input, std::span<std::uint8_t> output,
                           std::uint32_t* returned) {
    return driver_backend().control(handle, code, input, output, returned);
}
inline bool driver_close(DriverHandle handle) { return driver_backend().close(handle); }
inline bool driver_cancel(DriverHandle handle) { return driver_backend().cancel(handle); }
inline bool driver_frames_on_demand(DriverHandle handle) { return driver_backend().frames_on_demand(handle); }

}  // namespace zbx::platform
