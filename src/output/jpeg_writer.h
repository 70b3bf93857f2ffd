// JPEG files through libjpeg(-turbo).
#pragma once

#include "output/image_view.h"

namespace zbx::output {

// Writes `image` (memory row 0 = top; 8 bits grey or 24 bits
// blue-green-red) as a JPEG of the given quality (0 to 100, baseline
// quantisation tables) with the library's defaults otherwise, progressive
// when `progressive` is not 0.  8 bits gives a one-component greyscale file,
// 24 bits a YCbCr colour file.  1 written; 0 for other depths, a file that
// cannot be created or any library error (a full disk ...), with the file
// closed; a library error never ends the process.
[[nodiscard]] int WriteJpegFile(const char* name, const ImageView& image, int quality,
                                int progressive);

}  // namespace zbx::output
