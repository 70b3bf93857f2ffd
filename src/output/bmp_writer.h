// Uncompressed bitmap files and raw pixel dumps.
#pragma once

#include "output/image_view.h"

namespace zbx::output {

inline constexpr std::uint32_t kBmpFileHeaderBytes = 14;
inline constexpr std::uint32_t kBmpInfoHeaderBytes = 40;
inline constexpr std::uint32_t kBmpColorTableBytes = 4 * kColorTableEntries;

// Writes `image` (memory row 0 = top of the picture) as a bitmap file:
// file header, the 40-byte info header (width, positive height, 1 plane,
// the image's bit count, no compression, all else 0), the 256-entry colour
// table for 8 bits (the view's table, or a grey ramp), then the rows bottom
// of the picture first, each min(|stride|, file stride) bytes of the view's
// row and zeros up to the file stride (the 4-byte aligned row length).
// Depths of 16, 48 and 64 bits are stored as they are, with no bit masks.
// 1 written, 0 when the file cannot be opened, a write fails or the image
// is not valid().
[[nodiscard]] int WriteBmpFile(const ImageView& image, const char* name);

// Raw dump: height × |stride| bytes, memory row 0 first, row padding
// included, nothing before or after.  1 written, 0 on failure.
[[nodiscard]] int WriteRawFile(const ImageView& image, const char* name);

}  // namespace zbx::output
