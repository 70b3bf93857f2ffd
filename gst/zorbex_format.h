// Colour modes of the camera and the GStreamer raw-video formats that carry
// them, and the per-row work that turns the library's developed image into
// the buffer GStreamer sees.
//
// The library develops frames as device-independent bitmaps: rows top first
// (copy flag 1), each row padded to 4 bytes, channels blue, green, red;
// 16-bit samples hold 12 significant bits in their low bits (0..4095), and
// the fourth byte or sample of 32- and 64-bit pixels is never written.
//
//   mode (bits)  library pixel            GStreamer format
//   8            grey                     GRAY8
//   16           grey, 12 of 16 bits      GRAY16_LE
//   24           B G R                    BGR
//   32           B G R x                  BGRx
//   48           B G R, 16 bits each      BGRA64_LE (no 48-bit packed format
//                                         exists; alpha added, 0xFFFF)
//   64           B G R x, 16 bits each    BGRA64_LE (alpha set to 0xFFFF)
//
// With MSB alignment on, every 16-bit sample is shifted left by 4 so the
// 12 significant bits fill the top of the word (4095 -> 65520), as the
// library's own 16-bit PNG writer does; off, samples stay 0..4095.
#pragma once

#include <gst/video/video.h>

#include <cstddef>
#include <cstdint>

namespace zbx::gst {

inline constexpr int kColourModeBits[] = {8, 16, 24, 32, 48, 64};

// The GStreamer format of a colour mode (bits per pixel 8 .. 64);
// GST_VIDEO_FORMAT_UNKNOWN for other values.
GstVideoFormat format_of_mode(int bits);
// The colour mode that delivers `format`; `preferred` decides between 48 and
// 64 for BGRA64_LE.  0 when no mode delivers it.
int mode_of_format(GstVideoFormat format, int preferred);

// Bytes per row of the library's image of `width` pixels.
std::size_t library_stride(int width, int bits);

// Turns one library row into one GStreamer row (they may be the same
// memory for modes other than 48).  width is in pixels.
void finish_row(const std::uint8_t* source, std::uint8_t* destination, int width, int bits,
                bool msb_aligned);

// Turns a frame of the library, rows `source_stride` bytes apart, into the
// GStreamer picture in the same memory, rows `stride` bytes apart (more
// than source_stride for 48-bit pixels, which grow to 64).
void finish_frame_in_place(std::uint8_t* data, int width, int height, std::size_t source_stride,
                           std::size_t stride, int bits, bool msb_aligned);

// True when finish_row leaves the row as it is, so the library can write
// straight into the GStreamer buffer with nothing more to do.
bool row_is_final(int bits, bool msb_aligned);

}  // namespace zbx::gst
