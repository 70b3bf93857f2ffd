// A recording driver backend for exact-packet and fault tests: a camera with
// sensor and controller registers and a serial ROM, frames on the image pipe,
// and a hook that can replace the outcome of any request.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/driver_port.h"

namespace zbx::device::testing {

struct Request {
    platform::DriverHandle handle = 0;
    std::uint32_t code = 0;
    std::uint32_t pipe = 0;          // from the 4-byte input, 0xFFFFFFFF for the settings request
    std::vector<std::uint8_t> data;  // bytes sent (command pipe, settings) or empty
    std::uint32_t length = 0;        // output buffer length
};

struct Outcome {
    bool ok = true;
    std::uint32_t moved = 0;
};

class FakeDriver final : public platform::DriverBackend {
public:
    FakeDriver();  // installs itself as the backend
    ~FakeDriver() override;

    platform::DriverHandle open(const char* name) override;
    bool control(platform::DriverHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
                 std::span<std::uint8_t> output, std::uint32_t* returned) override;
    bool close(platform::DriverHandle handle) override;

    // Camera presence by device name; "\\.\Zbrx530RDNQT-0" is present at start.
    void set_present(const std::string& name, bool present);
    // When set, open() returns this instead of a fresh handle.
    std::optional<platform::DriverHandle> forced_open_result;

    // Called for every request before the camera acts; a value replaces the
    // outcome (the camera then does nothing).  Runs under the driver's lock.
    std::function<std::optional<Outcome>(const Request&, std::size_t index)> hook;
    // Called (outside the driver's lock) before a handle is closed.
    std::function<void(platform::DriverHandle)> close_hook;
    // Milliseconds each image read takes.
    std::uint32_t frame_delay_ms = 0;
    // When gated, each image read waits for a permit from allow_frames();
    // release_gate() lets every read through from then on.
    void gate_frames();
    void allow_frames(std::size_t count);
    void release_gate();

    // The log, and views of it.
    std::vector<Request> requests() const;
    void clear_log();
    // Command packets sent on pipe 0, in order.
    std::vector<std::vector<std::uint8_t>> commands() const;
    // Sensor register writes (address, value) in order.
    std::vector<std::pair<std::uint16_t, std::uint16_t>> sensor_writes() const;
    // Controller register writes (register, value) in order.
    std::vector<std::pair<std::uint8_t, std::uint8_t>> controller_writes() const;
    std::size_t open_handles() const;
    std::size_t opens() const;
    std::size_t image_reads() const;

    std::map<std::uint16_t, std::uint16_t> sensor;
    std::map<std::uint8_t, std::uint8_t> controller;
    std::map<std::uint16_t, std::uint8_t> rom;

private:
    mutable std::mutex mutex_;
    std::condition_variable gate_cv_;
    bool gated_ = false;
    std::size_t permits_ = 0;
    std::set<std::string> present_;
    std::set<platform::DriverHandle> open_;
    platform::DriverHandle next_handle_ = 0x100;
    std::size_t opens_ = 0;
    std::size_t image_reads_ = 0;
    std::vector<Request> log_;
    std::vector<std::uint8_t> answer_ = std::vector<std::uint8_t>(64, 0);
};

}  // namespace zbx::device::testing
