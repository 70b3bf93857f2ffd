// A 256-entry byte table applied to every byte of a vector, for each
// target of the portable vector layer.  Included by the kernel sources once
// per target (after hwy/foreach_target.h), hence the toggled guard.
//
// With VBMI (AVX3_DL) the table sits in four registers and two
// two-register byte permutes look up entries 0-127 and 128-255; the
// index's top bit chooses.  Other x86 targets split the table into sixteen
// 16-entry pieces, stored as the XOR of each piece with the one before it
// within its half (entries 0-127 or 128-255).  The index, read as a signed
// byte, is stepped down by 16 with saturation: the byte shuffle gives 0
// where the stepped index is negative, so for an index in 16h..16h+15 the
// pieces 0..h of its half answer, and their XOR is piece h.  That is a
// shuffle, a subtraction and an XOR per piece, cheaper than the tree of
// blends that ARM and other targets keep (their shuffles give 0 for any
// index beyond 15, not only for negative ones): each piece is looked up by
// the low nibble and the high nibble's four bits pick among the sixteen
// results (8 + 4 + 2 + 1 blends keyed on a byte's sign bit after a shift).
// No gathers: measured on 1280 x 720 Color24, the tone table alone took
// twice as long with four 32-bit gathers per vector on AVX2, and 128-bit
// targets have none.
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

// x86 byte shuffles give 0 for negative indices only.
#undef ZBX_XOR_PIECES
#define ZBX_XOR_PIECES (HWY_ARCH_X86 && HWY_TARGET != HWY_EMU128 && HWY_TARGET != HWY_AVX3_DL)

class ByteTable {
public:
    explicit ByteTable(const std::uint8_t* lut) {
#if HWY_TARGET == HWY_AVX3_DL
        for (int k = 0; k < 4; ++k) t_[k] = _mm512_loadu_si512(lut + 64 * k);
#elif ZBX_XOR_PIECES
        const D8 d;
        for (int k = 0; k < 16; ++k) {
            piece_[k] = hn::LoadDup128(d, lut + 16 * k);
            if (k % 8 != 0) {
                piece_[k] = hn::Xor(piece_[k], hn::LoadDup128(d, lut + 16 * (k - 1)));
            }
        }
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
#elif ZBX_XOR_PIECES
        const D8 d;
        const hn::Repartition<std::int8_t, D8> di;
        const auto sixteen = hn::Set(di, 16);
        // Indices 0-127 stay as they are for the low half; the high half
        // looks up with the top bit flipped.
        auto low = hn::BitCast(di, v);
        auto high = hn::BitCast(di, hn::Xor(v, hn::Set(d, 0x80)));
        // Two sums per half keep the chains of XORs short.
        V8 sum[4] = {hn::TableLookupBytes(piece_[0], hn::BitCast(d, low)),
                     hn::TableLookupBytes(piece_[8], hn::BitCast(d, high)), hn::Zero(d),
                     hn::Zero(d)};
#pragma GCC unroll 8
        for (int k = 1; k < 8; ++k) {
            low = hn::SaturatedSub(low, sixteen);
            high = hn::SaturatedSub(high, sixteen);
            sum[2 * (k & 1)] = hn::Xor(sum[2 * (k & 1)], hn::TableLookupBytes(piece_[k], hn::BitCast(d, low)));
            sum[2 * (k & 1) + 1] =
                hn::Xor(sum[2 * (k & 1) + 1], hn::TableLookupBytes(piece_[8 + k], hn::BitCast(d, high)));
        }
        return hn::Xor(hn::Xor(sum[0], sum[1]), hn::Xor(sum[2], sum[3]));
#else
        const D8 d;
        const hn::Repartition<std::int8_t, D8> di;
        const hn::Repartition<std::uint16_t, D8> d16;
        const V8 lo = hn::And(v, hn::Set(d, 0x0F));
        // The sign bit of each byte is the high nibble's bit 3, 2, 1, 0 in
        // turn.
        V8 bits = v;
        Mask m[4];
        for (int level = 0; level < 4; ++level) {
            m[level] = hn::RebindMask(d, hn::Lt(hn::BitCast(di, bits), hn::Zero(di)));
            bits = hn::BitCast(d, hn::ShiftLeft<1>(hn::BitCast(d16, bits)));
        }
        // Depth first, so that few results are alive at once (16 registers
        // on AVX2 hold neither all pieces nor all their results).
        return pick<0, 16>(lo, m);
#endif
    }

private:
#if HWY_TARGET != HWY_AVX3_DL && !ZBX_XOR_PIECES
    using Mask = hn::Mask<D8>;
    // The piece of entries first*16.. chosen by the high nibble's bits
    // below `count`.
    template <int kFirst, int kCount>
    HWY_INLINE V8 pick(V8 lo, const Mask* m) const {
        if constexpr (kCount == 1) {
            return hn::TableLookupBytes(piece_[kFirst], lo);
        } else {
            constexpr int kHalf = kCount / 2;
            const V8 low = pick<kFirst, kHalf>(lo, m);
            const V8 high = pick<kFirst + kHalf, kHalf>(lo, m);
            // kHalf 8, 4, 2, 1 is the nibble's bit 3, 2, 1, 0.
            constexpr int kLevel = kHalf == 8 ? 0 : kHalf == 4 ? 1 : kHalf == 2 ? 2 : 3;
            return hn::IfThenElse(m[kLevel], high, low);
        }
    }
#endif
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
