// Vector row kernels of the bilinear demosaic, one source compiled for every
// instruction-set target of the portable vector layer and chosen at run time
// (pinned with simd::force_target).  The sums are those of demosaic.cpp;
// results equal the plain kernel's bit for bit.
#pragma once

#include <cstdint>

namespace zbx::pipeline::demosaic_rows {

// One interior-style output row: columns 2 ... width-3 from the four raw
// rows A = y-2, B = y-1, C = y, D = y+1 (border passes give replaced rows).
struct RowJob {
    const void* rows[4];  // samples of 8 or 16 bits, column 0 of each row
    int width;            // samples per row
    int c0;               // column phase: colour column of x is (x + c0) & 1
    int r;                // row parity of y: 0 when row C carries blue
    std::int32_t k_blue;  // gain factors in 1/128, (sum × k) >> 11
    std::int32_t k_red;
    std::uint8_t* out;    // output pixel at column 0 of the row
    int out_bpp;          // 3 or 4 (8-bit), 6 or 8 (16-bit); a fourth sample stays as it is
};

// Write columns 2 ... n-1 and return n (2 when the row is too narrow for one
// vector step); the caller finishes n ... width-3 with the plain kernel.
// Row8 needs k in [0, 32767], Row16 k in [0, 4095].
[[nodiscard]] int Row8(const RowJob& job);
[[nodiscard]] int Row16(const RowJob& job);

}  // namespace zbx::pipeline::demosaic_rows
