// Catalogue of format conversions between pixel layouts, each a conversion
// callback for TransferRect (or TransferScaled for the two scalers) with no
// step parameters; all return 1.
//
// "Flipped" callbacks take output row i from source row (bottom - 1 - i):
// they turn the top-first rows of the raw and developed buffers into the
// bottom-up order of a bitmap or file.  "Swapped" callbacks write red,
// green, blue instead of the buffers' blue, green, red.  A 16-bit value is
// reduced "by 4" as (v >> 4) & 0xFF and "by 2" as (v >> 2) & 0xFF; savers
// told of 12 significant bits use the "by 4" forms and the shifts left by 4,
// of 10 bits the "by 2" forms and the shifts left by 6.
#pragma once

#include "pipeline/transfer.h"

namespace zbx::pipeline {

#define ZBX_RECT_CALLBACK(name)                                                                \
    int name(std::uint8_t* dst, const std::uint8_t* src, const Rect* src_rect,                \
             std::int32_t dst_x, std::int32_t dst_y, std::uint16_t dst_bytes_pp,              \
             std::uint16_t src_bytes_pp, std::int32_t dst_stride, std::int32_t src_stride,    \
             void* params, void* extra)

// Raw rows packed at width × bytes per pixel moved to their stride positions
// in the same store, from the last row and pixel backwards (any pixel size;
// the 8- and 16-bit raw frames are the users).
ZBX_RECT_CALLBACK(Restride);
inline constexpr RectCallback Restride8 = &Restride;
inline constexpr RectCallback Restride16 = &Restride;

// 16-bit grey to 8-bit grey.
ZBX_RECT_CALLBACK(Gray16To8By4);
ZBX_RECT_CALLBACK(Gray16To8By4Flipped);
ZBX_RECT_CALLBACK(Gray16To8By2Flipped);
// 16-bit grey to 16-bit grey, v << 4 (12 significant bits) or v << 6 (10).
ZBX_RECT_CALLBACK(Gray12To16);
ZBX_RECT_CALLBACK(Gray10To16);

// 32-bit colour to 24-bit, fourth byte dropped.
ZBX_RECT_CALLBACK(Color32To24);
// 48- or 64-bit colour to 24-bit, each channel by 4.
ZBX_RECT_CALLBACK(Color48To24By4);
ZBX_RECT_CALLBACK(Color48To24By4Flipped);
// 48-bit to 48-bit, each channel shifted left by 4 or 6.
ZBX_RECT_CALLBACK(Color48To48By4);
ZBX_RECT_CALLBACK(Color48To48By4Swapped);
ZBX_RECT_CALLBACK(Color48To48By6);
ZBX_RECT_CALLBACK(Color48To48By6Swapped);
// 48- or 64-bit to 64-bit, channels shifted left, fourth sample 0xFFFF.
ZBX_RECT_CALLBACK(Color64By4Alpha);
ZBX_RECT_CALLBACK(Color64By4AlphaSwapped);
ZBX_RECT_CALLBACK(Color64By6Alpha);
ZBX_RECT_CALLBACK(Color64By6AlphaSwapped);
// 24- or 32-bit to 24-bit.
ZBX_RECT_CALLBACK(Color24CopyFlipped);
ZBX_RECT_CALLBACK(Color24Swapped);
// Any format to the same format, each row copied whole (the smaller of the
// two strides).
ZBX_RECT_CALLBACK(RowCopyFlipped);
// 32-bit to 32-bit; fourth byte = complement of the source's (0 -> 255).
ZBX_RECT_CALLBACK(Color32Alpha);
// 24-bit colour to 8-bit grey: (30 R + 59 G + 11 B) / 100.
ZBX_RECT_CALLBACK(ColorToGray);

#undef ZBX_RECT_CALLBACK

#define ZBX_SCALED_CALLBACK(name)                                                              \
    int name(std::uint8_t* dst, const std::uint8_t* src, const Rect* dst_rect,                \
             const Rect* src_rect, Size dst_size, Size src_size, std::uint16_t dst_bytes_pp,  \
             std::uint16_t src_bytes_pp, std::int32_t dst_stride, std::int32_t src_stride,    \
             void* params, void* extra)

// Nearest-neighbour scaling of whole buffers, flipped: destination row i
// reads source row (bottom - 1 - trunc(i × Hs / Hd)), column trunc(k × Ws / Wd),
// the ratios in single precision.
ZBX_SCALED_CALLBACK(ScaleColor24Flipped);
ZBX_SCALED_CALLBACK(ScaleGray8Flipped);

#undef ZBX_SCALED_CALLBACK

}  // namespace zbx::pipeline
