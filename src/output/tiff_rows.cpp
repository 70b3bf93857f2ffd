// Plain kernels move pixels as whole words (memcpy: rows need not be
// aligned) and rearrange them with shifts and masks, so the loops carry no
// branches.  A 16-bit kernel shifts four samples in one 64-bit word: first
// clearing in every sample the bits that the shift pushes out (keep =
// 0xFFFF >> s per sample) makes the word's shift equal to four separate
// shifts.
//
// The AVX2 kernels do the same with byte shuffles inside 128-bit lanes and
// 16-bit shifts.  Three- and six-byte pixels do not tile a lane, so those
// kernels take 12 bytes per lane (loaded 16 wide, the last 4 bytes spare)
// and store the two lanes 12 bytes apart, low lane first, so the spare
// bytes are overwritten.  Each vector kernel stops where a load or store
// would leave the row and hands the last pixels to the plain kernel.
#include "output/tiff_rows.h"

#include <bit>
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define ZBX_TIFF_AVX2 1
#endif

namespace zbx::output {
namespace {

static_assert(std::endian::native == std::endian::little,
              "the kernels read little-endian samples as host words");

template <typename T>
inline T load(const std::uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <typename T>
inline void store(std::uint8_t* p, T v) {
    std::memcpy(p, &v, sizeof v);
}

// 16-bit sample i of a 64-bit word.
inline std::uint64_t lane(std::uint64_t w, int i) { return (w >> (16 * i)) & 0xFFFFu; }

// Per 16-bit sample: the bits that survive a shift by s.
inline std::uint64_t keep_mask(int s) {
    return (std::uint64_t{0xFFFF} >> s) * 0x0001000100010001ull;
}

void plain_gray8(std::uint8_t* dst, const std::uint8_t* src, std::int32_t width, int) {
    if (width > 0) std::memcpy(dst, src, static_cast<std::size_t>(width));
}

void plain_gray16(std::uint8_t* dst, const std::uint8_t* src, std::int32_t width, int s) {
    for (std::int32_t x = 0; x < width; ++x)
        store(dst + 2 * x, static_cast<std::uint16_t>(load<std::uint16_t>(src + 2 * x) << s));
}

void plain_rgb24(std::uint8_t* dst, const std::uint8_t* src, std::int32_t width, int) {
    for (std::int32_t x = 0; x < width; ++x) {
        dst[3 * x + 0] = src[3 * x + 2];
        dst[3 * x + 1] = src[3 * x + 1];
        dst[3 * x + 2] = src[3 * x + 0];
    }
}

void plain_rgb32(std::uint8_t* dst, const std::uint8_t* src, std::int32_t width, int) {
    for (std::int32_t x = 0; x < width; ++x) {
        const auto v = load<std::uint32_t>(src + 4 * x);
        store(dst + 4 * x, ((v >> 16) & 0xFFu) | (v & 0xFF00u) | ((v & 0xFFu) << 16));
    }
}

// Four pixels are three words, B0 G0 R0 B1 | G1 R1 B2 G2 | R2 B3 G3 R3
// (first sample lowest), becoming R0 G0 B0 R1 | G1 B1 R2 G2 | B2 R3 G3 B3;
// the last width % 4 pixels one by one.
void plain_rgb48(std::uint8_t* dst, const std::uint8_t* src, std::int32_t width, int s) {
    const std::uint64_t keep = keep_mask(s);
    const std::int32_t blocks = width / 4;
    for (std::int32_t i = 0; i < blocks; ++i, src += 24, dst += 24) {
        const std::uint64_t a = (load<std::uint64_t>(src) & keep) << s;
        const std::uint64_t b = (load<std::uint64_t>(src + 8) & keep) << s;
        const std::uint64_t c = (load<std::uint64_t>(src + 16) & keep) << s;
        store(dst, lane(a, 2) | lane(a, 1) << 16 | lane(a, 0) << 32 | lane(b, 1) << 48);
        store(dst + 8, lane(b, 0) | lane(a, 3) << 16 | lane(c, 0) << 32 | lane(b, 3) << 48);
        store(dst + 16, lane(b, 2) | lane(c, 3) << 16 | lane(c, 2) << 32 | lane(c, 1) << 48);
    }
    for (std::int32_t x = blocks * 4; x < width; ++x, src += 6, dst += 6) {
        store(dst + 0, static_cast<std::uint16_t>(load<std::uint16_t>(src + 4) << s));
        store(dst + 2, static_cast<std::uint16_t>(load<std::uint16_t>(src + 2) << s));
        store(dst + 4, static_cast<std::uint16_t>(load<std::uint16_t>(src + 0) << s));
    }
}

void plain_rgb64(std::uint8_t* dst, const std::uint8_t* src, std::int32_t width, int s) {
    const std::uint64_t keep = keep_mask(s);
    for (std::int32_t x = 0; x < width; ++x) {
        const std::uint64_t v = (load<std::uint64_t>(src + 8 * x) & keep) << s;
        store(dst + 8 * x, lane(v, 2) | (v & 0xFFFF0000u) | lane(v, 0) << 32 |
                               std::uint64_t{0xFFFF} << 48);
    }
}

TiffRowKernel plain_kernel(int bits_per_pixel) {
    switch (bits_per_pixel) {
        case 8: return plain_gray8;
        case 16: return plain_gray16;
        case 24: return plain_rgb24;
        case 32: return plain_rgb32;
        case 48: return plain_rgb48;
        case 64: return plain_rgb64;
        default: return nullptr;
    }
}

#ifdef ZBX_TIFF_AVX2

#define ZBX_AVX2 __attribute__((target("avx2")))

// Byte order within each 128-bit lane, repeated for both lanes; -1 gives 0.
ZBX_AVX2 inline __m256i lane_shuffle(const std::int8_t (&order)[16]) {
    __m128i v;
    std::memcpy(&v, order, sizeof v);
    return _mm256_broadcastsi128_si256(v);
}

// Whole 32-byte blocks: shuffle each lane, shift 16-bit samples by s, set
// the bits of `fill`.  Returns the bytes done.
ZBX_AVX2 inline std::int32_t blocks32(std::uint8_t* dst, const std::uint8_t* src,
                                      std::int32_t bytes, __m256i order, int s, __m256i fill,
                                      bool shuffle) {
    const __m128i count = _mm_cvtsi32_si128(s);
    std::int32_t o = 0;
    for (; o + 32 <= bytes; o += 32) {
        __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + o));
        if (shuffle) v = _mm256_shuffle_epi8(v, order);
        v = _mm256_or_si256(_mm256_sll_epi16(v, count), fill);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + o), v);
    }
    return o;
}

// 24 bytes per step as two lanes of 12 (loaded 16 wide, stored low lane
// first), shuffled and shifted.  Returns the bytes done.
ZBX_AVX2 inline std::int32_t blocks24(std::uint8_t* dst, const std::uint8_t* src,
                                      std::int32_t bytes, __m256i order, int s) {
    const __m128i count = _mm_cvtsi32_si128(s);
    std::int32_t o = 0;
    for (; o + 28 <= bytes; o += 24) {
        const __m256i v = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(src + o + 12),
                                              reinterpret_cast<const __m128i*>(src + o));
        const __m256i r = _mm256_sll_epi16(_mm256_shuffle_epi8(v, order), count);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + o), _mm256_castsi256_si128(r));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + o + 12), _mm256_extracti128_si256(r, 1));
    }
    return o;
}

ZBX_AVX2 void avx2_gray16(std::uint8_t* dst, const std::uint8_t* src, std::int32_t width,
                          int s) {
    const std::int32_t done =
        blocks32(dst, src, 2 * width, _mm256_setzero_si256(), s, _mm256_setzero_si256(), false);
    plain_gray16(dst + done, src + done, width - done / 2, s);
}

ZBX_AVX2 void avx2_rgb24(std::uint8_t* dst, const std::uint8_t* src, std::int32_t width,
                         int s) {
    static constexpr std::int8_t kOrder[16] = {2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, -1, -1, -1, -1};
    // 8-bit samples are not shifted.
    const std::int32_t done = blocks24(dst, src, 3 * width, lane_shuffle(kOrder), 0);
    plain_rgb24(dst + done, src + done, width - done / 3, s);
}

ZBX_AVX2 void avx2_rgb32(std::uint8_t* dst, const std::uint8_t* src, std::int32_t width,
                         int s) {
    static constexpr std::int8_t kOrder[16] = {2, 1, 0, -1, 6, 5, 4, -1, 10, 9, 8, -1, 14, 13, 12, -1};
    const std::int32_t done =
        blocks32(dst, src, 4 * width, lane_shuffle(kOrder), 0, _mm256_setzero_si256(), true);
    plain_rgb32(dst + done, src + done, width - done / 4, s);
}

ZBX_AVX2 void avx2_rgb48(std::uint8_t* dst, const std::uint8_t* src, std::int32_t width,
                         int s) {
    static constexpr std::int8_t kOrder[16] = {4, 5, 2, 3, 0, 1, 10, 11, 8, 9, 6, 7, -1, -1, -1, -1};
    const std::int32_t done = blocks24(dst, src, 6 * width, lane_shuffle(kOrder), s);
    plain_rgb48(dst + done, src + done, width - done / 6, s);
}

ZBX_AVX2 void avx2_rgb64(std::uint8_t* dst, const std::uint8_t* src, std::int32_t width,
                         int s) {
    static constexpr std::int8_t kOrder[16] = {4, 5, 2, 3, 0, 1, -1, -1, 12, 13, 10, 11, 8, 9, -1, -1};
    const __m256i opaque = _mm256_set1_epi64x(static_cast<long long>(0xFFFF'0000'0000'0000ULL));
    const std::int32_t done = blocks32(dst, src, 8 * width, lane_shuffle(kOrder), s, opaque, true);
    plain_rgb64(dst + done, src + done, width - done / 8, s);
}

TiffRowKernel avx2_kernel(int bits_per_pixel) {
    static const bool have = __builtin_cpu_supports("avx2");
    if (!have) return nullptr;
    switch (bits_per_pixel) {
        case 16: return avx2_gray16;
        case 24: return avx2_rgb24;
        case 32: return avx2_rgb32;
        case 48: return avx2_rgb48;
        case 64: return avx2_rgb64;
        default: return nullptr;
    }
}

#undef ZBX_AVX2
#endif  // ZBX_TIFF_AVX2

}  // namespace

TiffRowKernel SelectTiffRowKernel(int bits_per_pixel, [[maybe_unused]] TiffRowPath path) {
#ifdef ZBX_TIFF_AVX2
    if (path == TiffRowPath::kBest) {
        if (TiffRowKernel k = avx2_kernel(bits_per_pixel)) return k;
    }
#endif
    return plain_kernel(bits_per_pixel);
}

}  // namespace zbx::output
