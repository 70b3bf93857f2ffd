// The virtual driver's device namespace: which slots hold a camera, and the
// handles opened on them.  One per process; lock order is registry, then
// camera, and no request waits while holding the registry lock.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <unordered_map>

#include "platform/driver_port.h"
#include "vcam/camera.h"

namespace zbx::vcam {

inline constexpr int kSlotCount = 32;

// Slots chosen by ZBX_VCAM_SLOTS (slot 0 when unset).
std::uint32_t default_slots();
// Slot named by a device name, or -1.
int slot_of_device_name(const char* name);

class Registry {
public:
    static Registry& instance();

    platform::DriverHandle open(const char* name);
    bool control(platform::DriverHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
                 std::span<std::uint8_t> output, std::uint32_t* returned);
    bool close(platform::DriverHandle handle);
    // Fails the frame reads waiting on `handle`; true when one was waiting.
    bool cancel(platform::DriverHandle handle);
    // An unpaced camera in free run renders a frame at each read.
    bool frames_on_demand(platform::DriverHandle handle);

    void reset();
    std::uint32_t slots() const;
    void set_slots(std::uint32_t mask);
    // The camera in a slot, or null.
    std::shared_ptr<Camera> camera(int slot) const;

private:
    Registry();
    void set_slots_locked(std::uint32_t mask);

    struct Handle {
        std::shared_ptr<Camera> camera;
        std::uint64_t generation = 0;
    };

    mutable std::mutex mutex_;
    std::array<std::shared_ptr<Camera>, kSlotCount> cameras_;
    std::unordered_map<platform::DriverHandle, Handle> handles_;
    platform::DriverHandle next_handle_ = 0x100;
};

}  // namespace zbx::vcam
