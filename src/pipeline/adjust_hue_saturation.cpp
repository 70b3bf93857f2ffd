// Per pixel, with mx/mn the largest/smallest channel, c = mx - mn and
// L = mx + mn: the sector and position d come from the largest channel;
// the new chroma c2 = min(sat[c], L < 256 ? L : 511 - L) keeps every
// channel within 0..255; the pixel is rebuilt around n = (L - c2) >> 1
// and width w = ((L + c2) >> 1) - n at the shifted position p.  No
// division per pixel: p uses the reciprocal 0xFF0000 / c, and the pixel is
// composed in one word as grey(n) + (grey(w) & mask[k]) + q * mul[k].
// Only constant tables are shared; the saturation table lives per call.
//
// The vector kernel (adjust_hue_rows.cpp) runs the same rule on whole
// vectors of pixels; row ends take the plain pixel function.
#include "pipeline/adjust_hue_saturation.h"

#include <algorithm>

#include "pipeline/adjust_kernels.h"

namespace zbx::pipeline {

std::int32_t hue_shift_steps(std::int32_t hue_degrees) {
    const auto t32 = static_cast<std::int64_t>(hue_degrees) * 65536 / 360;
    const auto t = static_cast<std::uint16_t>(t32);
    const std::int32_t u = (static_cast<std::int32_t>(t) * 6) >> 8;
    std::int32_t low = u & 511;
    if (low >= 256) low -= 512;
    std::int32_t shift = low + 510 * (((u + 256) >> 9) % 3);
    while (shift < 0) shift += kHueSteps;
    while (shift >= kHueSteps) shift -= kHueSteps;
    return shift;
}

std::array<std::int32_t, 256> saturation_table(std::int32_t saturation) {
    const std::int32_t s = std::clamp<std::int32_t>(saturation, -255, 255);
    std::array<std::int32_t, 256> table{};
    for (std::int32_t c = 0; c < 256; ++c) table[c] = ((s + 256) * 256 * c + 32768) >> 16;
    return table;
}

namespace {

constexpr std::array<std::int32_t, 256> make_reciprocals() {
    std::array<std::int32_t, 256> r{};
    for (std::int32_t c = 1; c < 256; ++c) r[c] = 0xFF0000 / c;
    return r;
}
constexpr std::array<std::int32_t, 256> kReciprocal = make_reciprocals();

// Sector k (0..5, twice so that k up to 11 needs no reduction): which
// channels carry the full width, and where the partial amount goes.
constexpr std::array<std::int32_t, 12> kMask = {0xFF00FF, 0xFF0000, 0xFFFF00, 0x00FF00,
                                                0x00FFFF, 0x0000FF, 0xFF00FF, 0xFF0000,
                                                0xFFFF00, 0x00FF00, 0x00FFFF, 0x0000FF};
constexpr std::array<std::int32_t, 12> kMul = {-1, 0x100, -0x10000, 1, -0x100, 0x10000,
                                               -1, 0x100, -0x10000, 1, -0x100, 0x10000};

constexpr std::int32_t grey(std::int32_t v) { return v * 0x010101; }

using HuePlan = HueSaturationRun::Plan;

// Blue, green, red in bits 0-7, 8-15, 16-23 of the result.  Written
// without branches (the choices compile to conditional moves): pictures
// change sector from pixel to pixel.  A grey pixel (c = 0) needs no case
// of its own: c2 = 0 gives w = 0 and q = 0, so the result is grey(n).
inline std::int32_t adjust_pixel(std::int32_t b, std::int32_t g, std::int32_t r,
                                 const HuePlan& plan) {
    const std::int32_t mx = std::max(std::max(r, g), b);
    const std::int32_t mn = std::min(std::min(r, g), b);
    const std::int32_t c = mx - mn;
    const std::int32_t l = mx + mn;
    const bool red = r >= g && r >= b;
    const bool green = !red && g >= b;
    std::int32_t sector = red ? 1 : (green ? 3 : 5);
    std::int32_t d = red ? g - b : (green ? b - r : r - g);
    const std::int32_t negative = d < 0 ? 1 : 0;
    sector -= negative;
    d += negative != 0 ? c : 0;
    const std::int32_t c2 = std::min(plan.sat[c], l < 256 ? l : 511 - l);
    const std::int32_t n = (l - c2) >> 1;
    std::int32_t p = ((d * kReciprocal[c] + 0x8000) >> 16) + plan.shift_mod;
    const std::int32_t wrap = p > 254 ? 1 : 0;
    const std::int32_t k = sector + wrap + plan.shift_div;
    p -= wrap != 0 ? 255 : 0;
    const std::int32_t w = ((l + c2) >> 1) - n;
    const std::int32_t q = (p * w + 128) >> 8;
    return grey(n) + (grey(w) & kMask[k]) + q * kMul[k];
}

// One pixel of a layout: 16-bit samples are shifted down by `shift` and
// limited to 255 first, the results shifted back up.
template <typename S>
inline void hue_pixel(const std::uint8_t* sp, std::uint8_t* dp, int shift, const HuePlan& plan) {
    using kernels::load;
    using kernels::store;
    constexpr int kSize = static_cast<int>(sizeof(S));
    std::int32_t b = load<S>(sp);
    std::int32_t g = load<S>(sp + kSize);
    std::int32_t r = load<S>(sp + 2 * kSize);
    if constexpr (kSize == 2) {
        b = std::min(b >> shift, 255);
        g = std::min(g >> shift, 255);
        r = std::min(r >> shift, 255);
    }
    const std::int32_t word = adjust_pixel(b, g, r, plan);
    store<S>(dp, static_cast<S>((word & 0xFF) << shift));
    store<S>(dp + kSize, static_cast<S>(((word >> 8) & 0xFF) << shift));
    store<S>(dp + 2 * kSize, static_cast<S>(((word >> 16) & 0xFF) << shift));
}

template <typename S, int kPixelBytes>
void hue_rows(const kernels::RectArgs& a, int pixel_bytes, const HuePlan& shared_plan, int shift) {
    // A private copy: byte stores into the picture could alias the
    // caller's plan, which would force reloads in every pixel.
    const HuePlan plan = shared_plan;
    const int pb = kPixelBytes != 0 ? kPixelBytes : pixel_bytes;
    const std::int32_t w = a.rect.width();
    for (std::int32_t y = 0; y < a.rect.height(); ++y) {
        const std::uint8_t* s = a.src_row(y);
        std::uint8_t* d = a.dst_row(y);
        for (std::int32_t x = 0; x < w; ++x) {
            const std::ptrdiff_t o = static_cast<std::ptrdiff_t>(x) * pb;
            hue_pixel<S>(s + o, d + o, shift, plan);
        }
    }
}

template <Variant V>
int hue_run(const kernels::RectArgs& args, const HuePlan& plan, const std::uint8_t* lut) {
    using S = typename kernels::Traits<V>::Sample;
    constexpr int kSize = static_cast<int>(sizeof(S));
    if (!kernels::layout_fits<V>(args)) return 0;
    const int down = kSize == 2 ? kernels::limit_bits(plan.sample_bits) - 8 : 0;
    const bool usual = args.src_bpp == 3 * kSize || args.src_bpp == 4 * kSize;
    // The vector kernel does whole vectors of pixels (and the table on
    // them); the rest of each row, or every pixel on the plain path, is
    // done here, the table then running over those bytes row by row so that
    // it finds them still in cache.
    std::int32_t done = 0;
    if (usual && kernels::vector_kernels()) {
        done = kernels::hue_rows(args, plan, kSize == 1 ? lut : nullptr, down);
    }
    if (done == args.rect.width()) return 1;
    kernels::RectArgs rest = args;
    rest.rect.left = args.rect.left + done;
    rest.dst_x = args.dst_x + done;
    const std::int32_t rows = lut != nullptr ? 1 : args.rect.height();
    for (std::int32_t y = 0; y < args.rect.height(); y += rows) {
        kernels::RectArgs part = rest;
        part.rect.top = rest.rect.top + y;
        part.rect.bottom = part.rect.top + rows;
        part.dst_y = rest.dst_y + y;
        if (args.src_bpp == 3 * kSize) {
            hue_rows<S, 3 * kSize>(part, args.src_bpp, plan, down);
        } else if (args.src_bpp == 4 * kSize) {
            hue_rows<S, 4 * kSize>(part, args.src_bpp, plan, down);
        } else {
            hue_rows<S, 0>(part, args.src_bpp, plan, down);
        }
        if constexpr (kSize == 1) {
            if (lut != nullptr) {
                // In place on the destination pixels just written.
                kernels::RectArgs again = part;
                again.src = part.dst;
                again.src_stride = part.dst_stride;
                again.rect = Rect{part.dst_x, part.dst_y, part.dst_x + part.rect.width(),
                                  part.dst_y + 1};
                (void)kernels::for_each_byte_lut<V>(again, lut);
            }
        }
    }
    return 1;
}

template <Variant V>
int hue_body(const kernels::RectArgs& args, void* params) {
    const HueSaturationRun run(*static_cast<const HueRecord*>(params));
    return run.run(V, args);
}

}  // namespace

HueSaturationRun::HueSaturationRun(const HueRecord& record)
    : plan_{saturation_table(record.saturation), 0, 0,
            std::clamp<std::int32_t>(record.saturation, -255, 255), record.sample_bits} {
    const std::int32_t shift = hue_shift_steps(record.hue);
    plan_.shift_mod = shift % 255;
    plan_.shift_div = shift / 255;
}

int HueSaturationRun::run(Variant variant, const kernels::RectArgs& args,
                          const std::uint8_t* lut) const {
    if (variant == Variant::kColour8) return hue_run<Variant::kColour8>(args, plan_, lut);
    if (variant == Variant::kColour16) return hue_run<Variant::kColour16>(args, plan_, nullptr);
    return 0;
}

RectCallback hue_saturation_callback(int colour_mode) {
    Variant v{};
    if (!variant_for_mode(colour_mode, v)) return nullptr;
    if (v == Variant::kColour8) return &kernels::as_callback<&hue_body<Variant::kColour8>>;
    if (v == Variant::kColour16) return &kernels::as_callback<&hue_body<Variant::kColour16>>;
    return nullptr;
}

int apply_hue_saturation(PixelPlane image, int colour_mode, const HueRecord& record) {
    HueRecord rec = record;
    return run_in_place(image, hue_saturation_callback(colour_mode), &rec);
}

}  // namespace zbx::pipeline
