// The byte table walk of 8-bit pictures on every target of the portable
// vector layer: one vector of bytes per step through the table of
// byte_table-inl.h; with 4-byte pixels the fourth bytes are blended back
// from the destination.  The bytes after the last whole vector, and all of
// them on the one-lane target, take the table one at a time.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "pipeline/adjust_table_walk.cpp"
// Scalable (SVE) vectors cannot be held in a table object; NEON serves ARM.
#ifndef HWY_DISABLED_TARGETS
#define HWY_DISABLED_TARGETS (HWY_SVE | HWY_SVE2 | HWY_SVE_256 | HWY_SVE2_128)
#endif
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include <hwy/highway.h>

#include "pipeline/adjust_kernels.h"
#include "pipeline/byte_table-inl.h"

HWY_BEFORE_NAMESPACE();
namespace zbx::pipeline::kernels::HWY_NAMESPACE {

void TableBytes(const std::uint8_t* s, std::uint8_t* d, std::int32_t n, bool fourth,
                const std::uint8_t* lut) {
    std::int32_t i = 0;
#if HWY_TARGET != HWY_SCALAR
    const D8 d8;
    const hn::Repartition<std::uint32_t, D8> d32;
    const std::int32_t step = static_cast<std::int32_t>(hn::Lanes(d8));
    const ByteTable table(lut);
    if (fourth) {
        // Steps start at multiples of 4 bytes: the fourth bytes sit at 3,
        // 7, 11, ... within every step.
        const auto keep =
            hn::MaskFromVec(hn::BitCast(d8, hn::Set(d32, 0xFF000000u)));
        for (; i + step <= n; i += step) {
            const V8 fresh = table(hn::LoadU(d8, s + i));
            hn::StoreU(hn::IfThenElse(keep, hn::LoadU(d8, d + i), fresh), d8, d + i);
        }
    } else {
        for (; i + step <= n; i += step) hn::StoreU(table(hn::LoadU(d8, s + i)), d8, d + i);
    }
#endif
    for (; i < n; ++i) {
        if (!fourth || i % 4 != 3) d[i] = lut[s[i]];
    }
}

}  // namespace zbx::pipeline::kernels::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace zbx::pipeline::kernels {

HWY_EXPORT(TableBytes);

void table_bytes(const std::uint8_t* s, std::uint8_t* d, std::int32_t n, bool fourth,
                 const std::uint8_t* lut) {
    HWY_DYNAMIC_DISPATCH(TableBytes)(s, d, n, fourth, lut);
}

}  // namespace zbx::pipeline::kernels
#endif  // HWY_ONCE
