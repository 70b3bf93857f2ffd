// Reads a PNG file back with libpng, without transformations, so tests can
// compare the file's own samples (16-bit ones high byte first).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zbx::test {

struct DecodedPng {
    bool ok = false;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int bit_depth = 0;
    int color_type = 0;
    int channels = 0;
    int interlace = 0;
    std::size_t row_bytes = 0;
    std::vector<std::uint8_t> pixels;  // height rows of row_bytes, top first

    [[nodiscard]] const std::uint8_t* row(std::size_t y) const { return pixels.data() + y * row_bytes; }
};

// ok is false when the file cannot be opened or libpng rejects it.
DecodedPng ReadPng(const std::string& path);

}  // namespace zbx::test
