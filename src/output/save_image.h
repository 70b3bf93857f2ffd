// The still-image save dispatcher: one picture, a format number chosen by
// the caller (never the file name's extension), one file.
#pragma once

#include <cstdint>

#include "output/image_view.h"

namespace zbx::pipeline {
class CImageBuffer;
}

namespace zbx::output {

// Format numbers of the save exports.
inline constexpr int kSaveBmp = 0;
inline constexpr int kSaveRaw = 1;
inline constexpr int kSaveJpeg100 = 2;
inline constexpr int kSaveJpeg70 = 3;
inline constexpr int kSaveJpeg20 = 4;
inline constexpr int kSavePng = 5;
inline constexpr int kSaveTiff = 6;

// What the camera's 16-bit samples carry.
inline constexpr int kSensorSignificantBits = 12;

// Writes `src` (rows top of the picture first, any of the library's six
// depths) as the file `format` names:
//   0 BMP, the store as it is; 1 raw dump of the store;
//   2, 3, 4 progressive JPEG of quality 100, 70, 20 (16-bit samples and
//     colour reduced to 8 bits per channel, a fourth channel dropped);
//   5 PNG (16-bit samples shifted to fill 16 bits, a 32-bit fourth byte
//     complemented into alpha, a 64-bit fourth sample made opaque);
//   6 TIFF, converted by its writer.
// `significant_bits` (12 or 10) tells how many bits of a 16-bit sample
// carry the picture.  Returns the writer's result: 1 written; 0 for a
// format outside 0 to 6, other significant bits, an empty source, a file
// that cannot be created or a failed write.  Any temporary picture lives
// only for the call.  Reads `src` only; the caller keeps it unchanged for
// the call.
[[nodiscard]] int SaveImageFile(const char* name, const pipeline::CImageBuffer* src, int format,
                                int significant_bits = kSensorSignificantBits);

// The view every writer gets of a buffer: its store, top row first.
[[nodiscard]] ImageView ViewOf(const pipeline::CImageBuffer& buffer);

}  // namespace zbx::output
