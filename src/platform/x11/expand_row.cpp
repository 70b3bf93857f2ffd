// 24-bit to 32-bit pixels, one vector of 32-bit lanes at a time: a lane
// permute first moves each 128-bit block's four source pixels (12 bytes,
// starting at source lane 3 x block) into that block, then a byte shuffle
// inside each block spreads them to four bytes each with a zero fourth.
// The vector reads a whole vector's bytes from 3 x the first pixel, so it
// stops where that read would pass the row; the rest goes pixel by pixel.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "platform/x11/expand_row.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include <hwy/highway.h>

#include "platform/x11/expand_row.h"

HWY_BEFORE_NAMESPACE();
namespace zbx::platform::x11 {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

void ExpandRow(const std::uint8_t* HWY_RESTRICT in, std::uint8_t* HWY_RESTRICT out, int width) {
    int x = 0;
#if HWY_TARGET != HWY_SCALAR
    const hn::ScalableTag<std::uint32_t> d32;
    const hn::Repartition<std::uint8_t, decltype(d32)> d8;
    const int lanes = static_cast<int>(hn::Lanes(d32));
    const auto lane = hn::Iota(d32, 0);
    const auto from = hn::Add(hn::Mul(hn::ShiftRight<2>(lane), hn::Set(d32, 3)), hn::And(lane, hn::Set(d32, 3)));
    const auto blocks = hn::IndicesFromVec(d32, from);
    alignas(16) static constexpr std::uint8_t kSpread[16] = {0, 1, 2, 0x80, 3, 4, 5, 0x80,
                                                             6, 7, 8, 0x80, 9, 10, 11, 0x80};
    const auto spread = hn::LoadDup128(d8, kSpread);
    for (; 3 * x + 4 * lanes <= 3 * width; x += lanes) {
        const auto packed = hn::BitCast(d32, hn::LoadU(d8, in + 3 * x));
        const auto placed = hn::BitCast(d8, hn::TableLookupLanes(packed, blocks));
        hn::StoreU(hn::TableLookupBytesOr0(placed, spread), d8, out + 4 * x);
    }
#endif
    for (; x < width; ++x) {
        out[4 * x] = in[3 * x];
        out[4 * x + 1] = in[3 * x + 1];
        out[4 * x + 2] = in[3 * x + 2];
        out[4 * x + 3] = 0;
    }
}

}  // namespace HWY_NAMESPACE
}  // namespace zbx::platform::x11
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace zbx::platform::x11 {

HWY_EXPORT(ExpandRow);

void expand_row(const std::uint8_t* in, std::uint8_t* out, int width) {
    HWY_DYNAMIC_DISPATCH(ExpandRow)(in, out, width);
}

}  // namespace zbx::platform::x11
#endif
