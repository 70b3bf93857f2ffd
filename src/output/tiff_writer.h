// TIFF files through libtiff.
#pragma once

#include "output/image_view.h"

namespace zbx::output {

// Writes `image` (memory row 0 = top, any of the six library depths) as an
// uncompressed, contiguous, single-strip TIFF in the host's byte order.
// 16-bit samples carry `significant_bits` (12 in this library) and are
// shifted left to fill 16 bits; colour is stored red first:
//   8  -> grey 8                 16 -> grey 16, v << (16 - bits)
//   24 -> RGB 8                  32 -> 4 samples of 8: R, G, B, 0
//   48 -> RGB 16, each shifted   64 -> 4 samples of 16: R, G, B shifted, 65535
// Tags: ImageWidth, ImageLength, Compression 1, PlanarConfiguration 1,
// BitsPerSample, Photometric (1 grey, 2 RGB), SamplesPerPixel, and for
// four samples ExtraSamples = 0 (unspecified); nothing else.  1 written, 0 when the file cannot be created, `significant_bits`
// is outside 1 to 16, or the strip or the directory cannot be written; the
// file is closed either way.
[[nodiscard]] int WriteTiffFile(const char* name, const ImageView& image, int significant_bits);

}  // namespace zbx::output
