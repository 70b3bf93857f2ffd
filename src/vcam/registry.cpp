#include "vcam/registry.h"

#include <cstdlib>
#include <cstring>
#include <string_view>

namespace zbx::vcam {
namespace {

constexpr std::string_view kNamePrefix = "\\\\.\\Zbrx530RDNQT-";
// N stands before M, as the driver numbers its devices.
constexpr std::string_view kNumberCharacters = "0123456789ABCDEFGHIJKLNMOPQRSTUVWXYZ";

}  // namespace

std::uint32_t default_slots() {
    const char* value = std::getenv("ZBX_VCAM_SLOTS");
    if (value == nullptr) return 1;
    std::uint32_t mask = 0;
    std::string_view rest(value);
    while (!rest.empty()) {
        const std::size_t comma = rest.find(',');
        std::string_view token = rest.substr(0, comma);
        rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
        while (!token.empty() && token.front() == ' ') token.remove_prefix(1);
        while (!token.empty() && token.back() == ' ') token.remove_suffix(1);
        if (token.empty() || token.size() > 2) continue;
        int slot = 0;
        bool digits = true;
        for (char c : token) {
            if (c < '0' || c > '9') digits = false;
            slot = slot * 10 + (c - '0');
        }
        if (digits && slot < kSlotCount) mask |= 1u << slot;
    }
    return mask;
}

int slot_of_device_name(const char* name) {
    if (name == nullptr) return -1;
    const std::string_view n(name);
    if (n.size() != kNamePrefix.size() + 1 || n.substr(0, kNamePrefix.size()) != kNamePrefix) return -1;
    const std::size_t slot = kNumberCharacters.find(n.back());
    return slot < static_cast<std::size_t>(kSlotCount) ? static_cast<int>(slot) : -1;
}

Registry& Registry::instance() {
    static Registry registry;
    return registry;
}

Registry::Registry() { set_slots_locked(default_slots()); }

platform::DriverHandle Registry::open(const char* name) {
    const int slot = slot_of_device_name(name);
    std::lock_guard lock(mutex_);
    if (slot < 0 || !cameras_[static_cast<std::size_t>(slot)]) return platform::kNullDriverHandle;
    Handle handle{cameras_[static_cast<std::size_t>(slot)], 0};
    if (!handle.camera->open(&handle.generation)) return platform::kNullDriverHandle;
    const platform::DriverHandle id = next_handle_;
    next_handle_ += 4;
    handles_.emplace(id, std::move(handle));
    return id;
}

bool Registry::control(platform::DriverHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
                       std::span<std::uint8_t> output, std::uint32_t* returned) {
    Handle target;
    {
        std::lock_guard lock(mutex_);
        const auto it = handles_.find(handle);
        if (it != handles_.end()) target = it->second;
    }
    if (!target.camera) {
        if (returned) *returned = 0;
        return false;
    }
    return target.camera->request(handle, target.generation, code, input, output, returned);
}

bool Registry::cancel(platform::DriverHandle handle) {
    std::shared_ptr<Camera> camera;
    {
        std::lock_guard lock(mutex_);
        const auto it = handles_.find(handle);
        if (it != handles_.end()) camera = it->second.camera;
    }
    return camera && camera->cancel(handle);
}

bool Registry::frames_on_demand(platform::DriverHandle handle) {
    std::shared_ptr<Camera> camera;
    {
        std::lock_guard lock(mutex_);
        const auto it = handles_.find(handle);
        if (it != handles_.end()) camera = it->second.camera;
    }
    return camera && camera->frames_on_demand();
}

bool Registry::close(platform::DriverHandle handle) {
    std::lock_guard lock(mutex_);
    const auto it = handles_.find(handle);
    if (it == handles_.end()) return false;
    it->second.camera->close();
    handles_.erase(it);
    return true;
}

void Registry::reset() {
    std::lock_guard lock(mutex_);
    set_slots_locked(0);
    handles_.clear();
    set_slots_locked(default_slots());
}

std::uint32_t Registry::slots() const {
    std::lock_guard lock(mutex_);
    std::uint32_t mask = 0;
    for (int slot = 0; slot < kSlotCount; ++slot)
        if (cameras_[static_cast<std::size_t>(slot)]) mask |= 1u << slot;
    return mask;
}

void Registry::set_slots(std::uint32_t mask) {
    std::lock_guard lock(mutex_);
    set_slots_locked(mask);
}

void Registry::set_slots_locked(std::uint32_t mask) {
    for (int slot = 0; slot < kSlotCount; ++slot) {
        auto& camera = cameras_[static_cast<std::size_t>(slot)];
        const bool wanted = (mask >> slot) & 1u;
        if (wanted && !camera) {
            camera = std::make_shared<Camera>(slot);
        } else if (!wanted && camera) {
            // Handles keep the camera alive until closed, but it is gone.
            camera->remove();
            camera.reset();
        }
    }
}

std::shared_ptr<Camera> Registry::camera(int slot) const {
    if (slot < 0 || slot >= kSlotCount) return nullptr;
    std::lock_guard lock(mutex_);
    return cameras_[static_cast<std::size_t>(slot)];
}

}  // namespace zbx::vcam
