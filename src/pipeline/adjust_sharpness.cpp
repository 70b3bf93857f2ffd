// The 4 x 4 box sum slides along each row: four column sums (four rows
// each) are kept per channel, and one new column sum enters per pixel, so
// the blur costs five additions per sample instead of sixteen.
#include "pipeline/adjust_sharpness.h"

#include <algorithm>
#include <cstring>

#include "pipeline/adjust_kernels.h"

namespace zbx::pipeline {
namespace {

template <typename S, int kChannels, int kPixelBytes>
void sharpen_rows(const kernels::RectArgs& a, int pixel_bytes, std::int32_t s,
                  std::int32_t maximum) {
    using kernels::load;
    constexpr int kSize = static_cast<int>(sizeof(S));
    const int pb = kPixelBytes != 0 ? kPixelBytes : pixel_bytes;
    const std::int32_t w = a.rect.width();
    const std::int32_t h = a.rect.height();
    for (std::int32_t y = 2; y <= h - 3; ++y) {
        const std::uint8_t* r0 = a.src_row(y - 2);
        const std::uint8_t* r1 = a.src_row(y - 1);
        const std::uint8_t* r2 = a.src_row(y);
        const std::uint8_t* r3 = a.src_row(y + 1);
        std::uint8_t* d = a.dst_row(y);
        auto column = [&](std::int32_t x, int c) {
            const std::ptrdiff_t o = static_cast<std::ptrdiff_t>(x) * pb + c * kSize;
            return static_cast<std::int32_t>(load<S>(r0 + o)) + load<S>(r1 + o) +
                   load<S>(r2 + o) + load<S>(r3 + o);
        };
        std::int32_t c0[kChannels];
        std::int32_t c1[kChannels];
        std::int32_t c2[kChannels];
        for (int c = 0; c < kChannels; ++c) {
            c0[c] = column(0, c);
            c1[c] = column(1, c);
            c2[c] = column(2, c);
        }
        for (std::int32_t x = 2; x <= w - 3; ++x) {
            for (int c = 0; c < kChannels; ++c) {
                const std::int32_t c3 = column(x + 1, c);
                const std::int32_t blur = (c0[c] + c1[c] + c2[c] + c3) >> 4;
                const std::ptrdiff_t o = static_cast<std::ptrdiff_t>(x) * pb + c * kSize;
                const std::int32_t v = load<S>(r2 + o);
                const std::int32_t out = v + s * (v - blur) / 10;
                kernels::store<S>(d + o, static_cast<S>(std::clamp(out, 0, maximum)));
                c0[c] = c1[c];
                c1[c] = c2[c];
                c2[c] = c3;
            }
        }
    }
}

template <Variant V>
int sharpness_body(const kernels::RectArgs& args, void* params) {
    using T = kernels::Traits<V>;
    using S = typename T::Sample;
    constexpr int kSize = static_cast<int>(sizeof(S));
    if (!kernels::layout_fits<V>(args)) return 0;
    const auto& rec = *static_cast<const AdjustRecord*>(params);
    const std::int32_t s = std::clamp<std::int32_t>(rec.value, 0, 30);
    const std::int32_t maximum =
        kSize == 1 ? 255 : (1 << kernels::limit_bits(rec.sample_bits)) - 1;
    if (args.src_bpp == T::kChannels * kSize) {
        sharpen_rows<S, T::kChannels, T::kChannels * kSize>(args, args.src_bpp, s, maximum);
    } else if (args.src_bpp == 4 * kSize) {
        sharpen_rows<S, T::kChannels, 4 * kSize>(args, args.src_bpp, s, maximum);
    } else {
        sharpen_rows<S, T::kChannels, 0>(args, args.src_bpp, s, maximum);
    }
    return 1;
}

}  // namespace

RectCallback sharpness_callback(int colour_mode) {
    return kernels::select<&sharpness_body<Variant::kGrey8>, &sharpness_body<Variant::kGrey16>,
                           &sharpness_body<Variant::kColour8>,
                           &sharpness_body<Variant::kColour16>>(colour_mode);
}

int apply_sharpness(PixelPlane image, PixelPlane scratch, int colour_mode,
                    const AdjustRecord& record) {
    if (image.empty() || scratch.empty() || image.pixels == scratch.pixels ||
        image.width != scratch.width || image.height != scratch.height ||
        image.stride != scratch.stride || image.bytes_per_pixel != scratch.bytes_per_pixel) {
        return 0;
    }
    std::memcpy(scratch.pixels, image.pixels,
                static_cast<std::size_t>(image.height) * static_cast<std::size_t>(image.stride));
    AdjustRecord rec = record;
    return run_between(image, scratch, sharpness_callback(colour_mode), &rec);
}

}  // namespace zbx::pipeline
