// Unaligned little-endian sample access for the per-pixel routines (rows
// start on 4-byte boundaries, 16-bit samples inside 24-bit-aligned pixels
// need not be aligned).
#pragma once

#include <cstdint>
#include <cstring>

namespace zbx::pipeline {

inline std::uint16_t load16(const std::uint8_t* p) {
    std::uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void store16(std::uint8_t* p, std::uint16_t v) { std::memcpy(p, &v, sizeof v); }

}  // namespace zbx::pipeline
