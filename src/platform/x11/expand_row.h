// Rows of 24-bit blue-green-red pixels widened to the 32-bit pixels the X
// server takes (blue, green, red, 0 in memory order).
#pragma once

#include <cstdint>

namespace zbx::platform::x11 {

// Any thread.  `in` holds 3 x width bytes, `out` 4 x width; they do not overlap.
void expand_row(const std::uint8_t* in, std::uint8_t* out, int width);

}  // namespace zbx::platform::x11
