// The sensor's register table: (address, value) pairs in writing order.
#pragma once

#include <array>
#include <cstdint>

namespace zbx::device {

struct RegisterPair {
    std::uint16_t address;
    std::uint16_t value;
};

extern const std::array<RegisterPair, 1536> kRegisterBlock1;  // 0x8000 to 0x87FF
extern const std::array<RegisterPair, 1536> kRegisterBlock2;  // 0x8800 to 0x8FFF
extern const std::array<RegisterPair, 136> kRegisterBlock3;   // 0 to 255

}  // namespace zbx::device
