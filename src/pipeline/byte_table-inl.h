// A 256-entry byte table applied to every byte of a vector, for each
// target of the portable vector layer.  Included by the kernel sources once
// per target (after hwy/foreach_target.h), hence the toggled guard.
//
// With VBMI (AVX3_DL) the table sits in four registers and two
// two-register byte permutes look up entries 0-127 and 128-255; the
// index's top bit chooses.  Elsewhere the table is sixteen 16-entry pieces:
// each piece is looked up by the low nibble with a byte shuffle, and the
// high nibble's four bits pick among the sixteen results in a tree of
// blends (8 + 4 + 2 + 1), every blend keyed on a byte's sign bit after a
// shift.  No gathers: they are slow on several processors and do not exist
// on 128-bit targets.
#if defined(ZBX_PIPELINE_BYTE_TABLE_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef ZBX_PIPELINE_BYTE_TABLE_INL_H_
#undef ZBX_PIPELINE_BYTE_TABLE_INL_H_
#else
#define ZBX_PIPELINE_BYTE_TABLE_INL_H_
#endif

#include <cstdint>

#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace zbx::pipeline::kernels::HWY_NAMESPACE {

namespace hn = hwy::HWY_NAMESPACE;

using D8 = hn::ScalableTag<std::uint8_t>;
using V8 = hn::Vec<D8>;

#if HWY_TARGET != HWY_SCALAR  // one-lane vectors hold no 16-entry piece

class ByteTable {
public:
    explicit ByteTable(const std::uint8_t* lut) {
#if HWY_TARGET == HWY_AVX3_DL
        for (int k = 0; k < 4; ++k) t_[k] = _mm512_loadu_si512(lut + 64 * k);
#else
        const D8 d;
        for (int k = 0; k < 16; ++k) piece_[k] = hn::LoadDup128(d, lut + 16 * k);
#endif
    }

    [[nodiscard]] HWY_INLINE V8 operator()(V8 v) const {
#if HWY_TARGET == HWY_AVX3_DL
        const __m512i low = _mm512_permutex2var_epi8(t_[0], v.raw, t_[1]);
        const __m512i high = _mm512_permutex2var_epi8(t_[2], v.raw, t_[3]);
        return V8{_mm512_mask_blend_epi8(_mm512_movepi8_mask(v.raw), low, high)};
#else
        const D8 d;
        const hn::Repartition<std::int8_t, D8> di;
        const hn::Repartition<std::uint16_t, D8> d16;
        const V8 lo = hn::And(v, hn::Set(d, 0x0F));
        V8 c[16];
        for (int k = 0; k < 16; ++k) c[k] = hn::TableLookupBytes(piece_[k], lo);
        V8 bits = v;
        for (int half = 8; half >= 1; half /= 2) {
            // The sign bit of each byte is the high nibble's next bit.
            const auto m = hn::RebindMask(d, hn::Lt(hn::BitCast(di, bits), hn::Zero(di)));
            for (int k = 0; k < half; ++k) c[k] = hn::IfThenElse(m, c[k + half], c[k]);
            bits = hn::BitCast(d, hn::ShiftLeft<1>(hn::BitCast(d16, bits)));
        }
        return c[0];
#endif
    }

private:
#if HWY_TARGET == HWY_AVX3_DL
    __m512i t_[4];
#else
    V8 piece_[16];
#endif
};
#endif

}  // namespace zbx::pipeline::kernels::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif  // include guard toggled per target
