// Hue rotation and saturation of colour pictures on an integer hue circle
// of 1530 steps (six sectors of 255, 0 at magenta, 255 at red, 510 at
// yellow, 765 at green, 1020 at cyan, 1275 at blue).
#pragma once

#include <array>
#include <cstdint>

#include "pipeline/adjust.h"

namespace zbx::pipeline {

inline constexpr std::int32_t kHueSteps = 1530;

// The shift in circle steps (0..1529) for a hue in degrees: t = the low 16
// bits of trunc(H * 65536 / 360), u = (6 t) >> 8, shift = (low 9 bits of u
// as a signed value) + 510 * (((u + 256) >> 9) mod 3), wrapped into range.
[[nodiscard]] std::int32_t hue_shift_steps(std::int32_t hue_degrees);

// New chroma per chroma 0..255 for a saturation (limited to -255..255):
// ((S + 256) * 256 * c + 32768) >> 16.  Built per call by the step, so
// sessions developing at once never share it.
[[nodiscard]] std::array<std::int32_t, 256> saturation_table(std::int32_t saturation);

namespace kernels {
struct RectArgs;
}

// One hue and saturation setting prepared (tables, shift) for any number
// of rectangles and rows of one picture.
class HueSaturationRun {
public:
    explicit HueSaturationRun(const HueRecord& record);

    // What the callback does on the rectangle for variant kColour8 or
    // kColour16.  With `lut` (kColour8 only) every written sample then also
    // goes through lut[], as a following table pass over the rectangle
    // would.  Returns 0, touching nothing, when the layout does not suit.
    int run(Variant variant, const kernels::RectArgs& args, const std::uint8_t* lut = nullptr) const;

    // The parts of the pixel rule the kernels share.
    struct Plan {
        std::array<std::int32_t, 256> sat;
        std::int32_t shift_mod;   // shift mod 255
        std::int32_t shift_div;   // shift div 255
        std::int32_t saturation;  // limited to -255..255
        std::int32_t sample_bits;
    };

private:
    Plan plan_;
};

namespace kernels {
// The vector kernel of pixels of 3 or 4 bytes (then with `lut`, when given,
// on every written byte) or of 6 or 8 bytes (samples >> `down`, limited to
// 255, results << `down`): whole vectors of pixels from the start of each
// row; returns how many pixels of every row it did (the rest is the
// caller's).  Fourth bytes or samples keep what the destination had.
[[nodiscard]] std::int32_t hue_rows(const RectArgs& a, const HueSaturationRun::Plan& plan,
                                    const std::uint8_t* lut, int down);
}  // namespace kernels

// The hand-written kernel for AVX-512 with VBMI (x86 only; the portable
// kernel hands its target's rows to it): pixels of 3 or 4 bytes, whole
// rows, then lut[] when given, fourth bytes kept from the destination.
void hue_rows_avx512(const kernels::RectArgs& args, const HueSaturationRun::Plan& plan,
                     const std::uint8_t* lut);

// The rectangle callback for a colour mode: the 8-bit variant for modes 2
// and 3, the 16-bit one for 4 and 5 (it works on samples >> (bits - 8) and
// writes the results << (bits - 8)), nullptr for the grey modes.  `params`
// is a HueRecord.  Each call builds its own tables; the callback keeps no
// state between calls and may run on several threads at once.  Returns 1,
// or 0 when the layout does not suit.
[[nodiscard]] RectCallback hue_saturation_callback(int colour_mode);

// Hue and saturation in place on the mode's output buffer; does nothing
// (returns 0) in the grey modes.
int apply_hue_saturation(PixelPlane image, int colour_mode, const HueRecord& record);

}  // namespace zbx::pipeline
