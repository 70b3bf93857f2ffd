// Row conversion of the TIFF writer: from a view's layout (blue first,
// 16-bit samples little-endian) into the file's (red first, 16-bit samples
// in host order shifted up by s = 16 - significant bits, cut to 16 bits):
//   8:  copied
//   16: v -> v << s                 24: B G R -> R G B
//   32: B G R X -> R G B 0          48: B G R -> R<<s G<<s B<<s
//   64: B G R X -> R<<s G<<s B<<s 0xFFFF
#pragma once

#include <cstdint>

namespace zbx::output {

// Converts `width` pixels from `src` to `dst` (rows must not overlap;
// neither needs alignment).  Reads and writes only the row's own bytes.
using TiffRowKernel = void (*)(std::uint8_t* dst, const std::uint8_t* src, std::int32_t width,
                               int shift);

enum class TiffRowPath {
    kBest,   // vector kernels where the processor has them
    kPlain,  // portable kernels only; same bytes, for comparison
};

// The kernel for a depth of 8, 16, 24, 32, 48 or 64 bits; nullptr for any
// other.
[[nodiscard]] TiffRowKernel SelectTiffRowKernel(int bits_per_pixel,
                                                TiffRowPath path = TiffRowPath::kBest);

}  // namespace zbx::output
