#include "fake_driver.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace zbx::device::testing {

FakeDriver::FakeDriver() {
    present_.insert("\\\\.\\Zbrx530RDNQT-0");
    platform::set_driver_backend(this);
}

FakeDriver::~FakeDriver() { platform::set_driver_backend(nullptr); }

platform::DriverHandle FakeDriver::open(const char* name) {
    std::lock_guard lock(mutex_);
    ++opens_;
    if (forced_open_result) return *forced_open_result;
    if (!present_.count(name)) return platform::kNullDriverHandle;
    const platform::DriverHandle handle = next_handle_++;
    open_.insert(handle);
    return handle;
}

bool FakeDriver::close(platform::DriverHandle handle) {
    if (close_hook) close_hook(handle);
    std::lock_guard lock(mutex_);
    return open_.erase(handle) > 0;
}

bool FakeDriver::control(platform::DriverHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
                         std::span<std::uint8_t> output, std::uint32_t* returned) {
    Request request;
    std::size_t index = 0;
    std::optional<Outcome> replaced;
    bool is_open = false;
    {
        std::lock_guard lock(mutex_);
        request.handle = handle;
        request.code = code;
        request.length = static_cast<std::uint32_t>(output.size());
        if (code == platform::kIoctlDriverSettings) {
            request.pipe = 0xFFFFFFFFu;
            request.data.assign(input.begin(), input.end());
        } else {
            std::uint32_t pipe = 0;
            std::memcpy(&pipe, input.data(), std::min<std::size_t>(4, input.size()));
            request.pipe = pipe;
            if (pipe == 0) request.data.assign(output.begin(), output.end());
        }
        is_open = open_.count(handle) > 0;
        index = log_.size();
        log_.push_back(request);
        if (hook) replaced = hook(request, index);
    }
    if (returned) *returned = 0;
    if (replaced) {
        if (returned) *returned = replaced->moved;
        return replaced->ok;
    }
    if (!is_open) return false;
    if (code == platform::kIoctlDriverSettings) return true;

    if (request.pipe == 2) {
        {
            std::unique_lock lock(mutex_);
            gate_cv_.wait(lock, [&] { return !gated_ || permits_ > 0; });
            if (gated_) --permits_;
        }
        if (frame_delay_ms) std::this_thread::sleep_for(std::chrono::milliseconds(frame_delay_ms));
        std::size_t frame = 0;
        {
            std::lock_guard lock(mutex_);
            frame = image_reads_++;
        }
        std::fill(output.begin(), output.end(), static_cast<std::uint8_t>(frame + 1));
        if (returned) *returned = static_cast<std::uint32_t>(output.size());
        return true;
    }

    std::lock_guard lock(mutex_);
    if (request.pipe == 1) {
        std::copy_n(answer_.begin(), std::min(answer_.size(), output.size()), output.begin());
    } else if (request.pipe == 0 && !output.empty()) {
        const auto& p = request.data;
        std::fill(answer_.begin(), answer_.end(), 0);
        switch (p[0]) {
        case 0x04: sensor[static_cast<std::uint16_t>(p[1] << 8 | p[2])] = static_cast<std::uint16_t>(p[3] << 8 | p[4]); break;
        case 0x0C: {
            const std::uint16_t value = sensor[static_cast<std::uint16_t>(p[1] << 8 | p[2])];
            answer_[0] = static_cast<std::uint8_t>(value >> 8);
            answer_[1] = static_cast<std::uint8_t>(value);
            break;
        }
        case 0x25: controller[p[1]] = p[2]; break;
        case 0x26: answer_[0] = controller[p[1]]; break;
        case 0x40: rom[static_cast<std::uint16_t>(p[3] << 8 | p[4])] = p[5]; break;
        case 0x41: answer_[0] = rom[static_cast<std::uint16_t>(p[4] << 8 | p[5])]; break;
        default: break;
        }
    } else {
        return false;
    }
    if (returned) *returned = static_cast<std::uint32_t>(output.size());
    return true;
}

void FakeDriver::gate_frames() {
    std::lock_guard lock(mutex_);
    gated_ = true;
}

void FakeDriver::allow_frames(std::size_t count) {
    {
        std::lock_guard lock(mutex_);
        permits_ += count;
    }
    gate_cv_.notify_all();
}

void FakeDriver::release_gate() {
    {
        std::lock_guard lock(mutex_);
        gated_ = false;
    }
    gate_cv_.notify_all();
}

void FakeDriver::set_present(const std::string& name, bool present) {
    std::lock_guard lock(mutex_);
    if (present) present_.insert(name);
    else present_.erase(name);
}

std::vector<Request> FakeDriver::requests() const {
    std::lock_guard lock(mutex_);
    return log_;
}

void FakeDriver::clear_log() {
    std::lock_guard lock(mutex_);
    log_.clear();
}

std::vector<std::vector<std::uint8_t>> FakeDriver::commands() const {
    std::vector<std::vector<std::uint8_t>> out;
    for (const auto& r : requests()) {
        if (r.pipe == 0 && r.code != platform::kIoctlDriverSettings) out.push_back(r.data);
    }
    return out;
}

std::vector<std::pair<std::uint16_t, std::uint16_t>> FakeDriver::sensor_writes() const {
    std::vector<std::pair<std::uint16_t, std::uint16_t>> out;
    for (const auto& c : commands()) {
        if (c.size() == 64 && c[0] == 0x04) {
            out.emplace_back(static_cast<std::uint16_t>(c[1] << 8 | c[2]), static_cast<std::uint16_t>(c[3] << 8 | c[4]));
        }
    }
    return out;
}

std::vector<std::pair<std::uint8_t, std::uint8_t>> FakeDriver::controller_writes() const {
    std::vector<std::pair<std::uint8_t, std::uint8_t>> out;
    for (const auto& c : commands()) {
        if (c.size() == 64 && c[0] == 0x25) out.emplace_back(c[1], c[2]);
    }
    return out;
}

std::size_t FakeDriver::open_handles() const {
    std::lock_guard lock(mutex_);
    return open_.size();
}

std::size_t FakeDriver::opens() const {
    std::lock_guard lock(mutex_);
    return opens_;
}

std::size_t FakeDriver::image_reads() const {
    std::lock_guard lock(mutex_);
    return image_reads_;
}

}  // namespace zbx::device::testing
