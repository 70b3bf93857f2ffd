// PNG files through libpng.
#pragma once

#include "output/image_view.h"

namespace zbx::output {

// Writes `image` (memory row 0 = top) as a non-interlaced PNG with the
// library's default compression and filters:
//   8 -> grey 8,  16 -> grey 16,  24 -> RGB 8,  32 -> RGBA 8,
//   48 -> RGB 16, 64 -> RGBA 16.
// Input channels are blue, green, red (, alpha); 16-bit samples are
// little-endian and written as they are (no shift).  1 written, 0 on any
// failure, with the file closed (a partly written file stays).  Safe to run
// in several threads at once: all error state belongs to the call.
[[nodiscard]] int WritePngFile(const char* name, const ImageView& image);

}  // namespace zbx::output
