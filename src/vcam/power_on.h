// The camera's power-on register contents.
#pragma once

#include <cstdint>
#include <span>

namespace zbx::vcam {

struct RegisterValue {
    std::uint16_t address;
    std::uint16_t value;
};

// Sensor registers that do not power on as 0.
std::span<const RegisterValue> sensor_power_on();

}  // namespace zbx::vcam
