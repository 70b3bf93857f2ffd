// Test helpers: a handle on one virtual camera, spoken to through the
// driver port exactly as the library speaks to the driver.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/driver_port.h"
#include "zorbex/vcam.h"

namespace zbx::vcam::test {

using Packet = std::array<std::uint8_t, 64>;
namespace port = zbx::platform;

inline std::string device_name(int slot) {
    static const char kTable[] = "0123456789ABCDEFGHIJKLNMOPQRSTUVWXYZ";
    return std::string("\\\\.\\Zbrx530RDNQT-") + kTable[slot];
}

inline Packet packet(std::initializer_list<std::uint8_t> bytes) {
    Packet p{};
    std::copy(bytes.begin(), bytes.end(), p.begin());
    return p;
}

class Link {
public:
    explicit Link(int slot = 0) : handle_(port::driver_open(device_name(slot).c_str())) {}
    ~Link() {
        if (handle_ != port::kNullDriverHandle) port::driver_close(handle_);
    }
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    bool is_open() const { return handle_ != port::kNullDriverHandle; }
    port::DriverHandle handle() const { return handle_; }

    // One transfer on a pipe; `returned` gets the byte count.
    bool transfer(std::uint32_t pipe, std::span<std::uint8_t> data, std::uint32_t* returned = nullptr,
                  std::uint32_t code = port::kIoctlPipeTransferB) {
        std::uint8_t in[4] = {static_cast<std::uint8_t>(pipe), static_cast<std::uint8_t>(pipe >> 8),
                              static_cast<std::uint8_t>(pipe >> 16), static_cast<std::uint8_t>(pipe >> 24)};
        std::uint32_t moved = 0xDEAD;
        const bool ok = port::driver_control(handle_, code, in, data, &moved);
        if (returned) *returned = moved;
        return ok;
    }
    bool send(Packet p, std::uint32_t code = port::kIoctlPipeTransferB) {
        std::uint32_t moved = 0;
        return transfer(0, p, &moved, code) && moved == 64;
    }
    // The library's rule: two reads, the second one counts.
    std::optional<Packet> answer() {
        Packet p{};
        std::uint32_t moved = 0;
        if (!transfer(1, p, &moved, port::kIoctlPipeTransferA)) return std::nullopt;
        if (!transfer(1, p, &moved, port::kIoctlPipeTransferA) || moved != 64) return std::nullopt;
        return p;
    }

    bool write_sensor(std::uint16_t address, std::uint16_t value) {
        return send(packet({0x04, static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address),
                            static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)}));
    }
    std::optional<std::uint16_t> read_sensor(std::uint16_t address) {
        if (!send(packet({0x0C, static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)})))
            return std::nullopt;
        auto a = answer();
        if (!a) return std::nullopt;
        return static_cast<std::uint16_t>((*a)[0] << 8 | (*a)[1]);
    }
    bool write_controller(std::uint8_t number, std::uint8_t value) {
        return send(packet({0x25, number, value}));
    }
    std::optional<std::uint8_t> read_controller(std::uint8_t number) {
        if (!send(packet({0x26, number}))) return std::nullopt;
        auto a = answer();
        if (!a) return std::nullopt;
        return (*a)[0];
    }
    bool write_rom(std::uint16_t address, std::uint8_t value) {
        return send(packet({0x40, 0x51, 0x03, static_cast<std::uint8_t>(address >> 8),
                            static_cast<std::uint8_t>(address), value}));
    }
    std::optional<std::uint8_t> read_rom(std::uint16_t address) {
        if (!send(packet({0x41, 0x51, 0x02, 0x01, static_cast<std::uint8_t>(address >> 8),
                          static_cast<std::uint8_t>(address)})))
            return std::nullopt;
        auto a = answer();
        if (!a) return std::nullopt;
        return (*a)[0];
    }
    bool set_timeout(std::uint32_t ms) {
        std::uint8_t record[44] = {1, 0, 0, 0, static_cast<std::uint8_t>(ms), static_cast<std::uint8_t>(ms >> 8),
                                   static_cast<std::uint8_t>(ms >> 16), static_cast<std::uint8_t>(ms >> 24)};
        std::uint32_t moved = 0;
        return port::driver_control(handle_, port::kIoctlDriverSettings, record, {}, &moved);
    }
    bool set_frame_size(std::uint32_t samples) {
        return send(packet({0x09, static_cast<std::uint8_t>(samples), static_cast<std::uint8_t>(samples >> 8),
                            static_cast<std::uint8_t>(samples >> 16), static_cast<std::uint8_t>(samples >> 24)}));
    }
    // Window as the library programs it: registers 4 to 7, then the frame
    // sample count (rounded up to 1024).
    bool set_window(int x, int y, int width, int height) {
        auto even = [](int v) { return (v + 1) & ~1; };
        const std::uint32_t samples = (static_cast<std::uint32_t>(width * height) + 1023u) & ~1023u;
        return write_sensor(4, static_cast<std::uint16_t>(y + 64)) &&
               write_sensor(5, static_cast<std::uint16_t>(even(height))) &&
               write_sensor(6, static_cast<std::uint16_t>(even(x) + 132)) &&
               write_sensor(7, static_cast<std::uint16_t>(even(width))) && set_frame_size(samples);
    }
    bool set_sixteen_bit(bool on) { return write_controller(14, on ? 5 : 4); }
    bool set_mirror(bool horizontal, bool vertical) {
        // A cleared bit switches mirroring on.
        return write_sensor(2, static_cast<std::uint16_t>((horizontal ? 0 : 2) | (vertical ? 0 : 1)));
    }

    // Start frame, then one frame read of `bytes` bytes.
    bool grab(std::vector<std::uint8_t>& frame, std::size_t bytes, std::uint32_t* returned = nullptr) {
        frame.assign(bytes, 0xAB);
        if (!send(packet({0x02}))) return false;
        return transfer(2, frame, returned);
    }

private:
    port::DriverHandle handle_;
};

inline std::uint16_t sample16(const std::vector<std::uint8_t>& f, std::size_t index) {
    return static_cast<std::uint16_t>(f[2 * index] | f[2 * index + 1] << 8);
}

inline ZbxVcamScene flat_scene(std::uint16_t r, std::uint16_t g, std::uint16_t b) {
    ZbxVcamScene s{};
    s.kind = ZBX_VCAM_SCENE_FLAT;
    s.flat_red = r;
    s.flat_green = g;
    s.flat_blue = b;
    return s;
}

inline ZbxVcamScene still_chart() {
    ZbxVcamScene s{};
    s.kind = ZBX_VCAM_SCENE_CHART;
    s.moving = 0;
    return s;
}

// Every test starts and ends with a fresh set of cameras (slot 0, unpaced
// unless a test wants real pacing).
class VcamTest : public ::testing::Test {
protected:
    void SetUp() override {
        unsetenv("ZBX_VCAM_SLOTS");
        ASSERT_EQ(ZbxVcam_Reset(), ZBX_VCAM_OK);
        ASSERT_EQ(ZbxVcam_SetPacing(0, ZBX_VCAM_UNPACED), ZBX_VCAM_OK);
    }
    void TearDown() override { ZbxVcam_Reset(); }
};

}  // namespace zbx::vcam::test
