#include "pipeline/adjust.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>

#include "pipeline/adjust_brightness.h"
#include "pipeline/adjust_contrast.h"
#include "pipeline/adjust_gamma.h"
#include "pipeline/adjust_hue_saturation.h"
#include "pipeline/adjust_kernels.h"
#include "pipeline/adjust_sharpness.h"

namespace zbx::pipeline {

namespace {
std::atomic<bool> g_force_plain{false};
}  // namespace

void ForcePlainAdjustments(bool plain) { g_force_plain.store(plain, std::memory_order_relaxed); }

bool kernels::vector_kernels() { return !g_force_plain.load(std::memory_order_relaxed); }

bool variant_for_mode(int colour_mode, Variant& variant) {
    switch (colour_mode) {
        case kModeMono8: variant = Variant::kGrey8; return true;
        case kModeMono10: variant = Variant::kGrey16; return true;
        case kModeColor24:
        case kModeColor32: variant = Variant::kColour8; return true;
        case kModeColor48:
        case kModeColor64: variant = Variant::kColour16; return true;
        default: return false;
    }
}

int run_in_place(PixelPlane plane, RectCallback callback, void* params) {
    return run_between(plane, plane, callback, params);
}

int run_between(PixelPlane dst, PixelPlane src, RectCallback callback, void* params) {
    if (callback == nullptr || dst.empty() || src.empty() ||
        dst.bytes_per_pixel != src.bytes_per_pixel) {
        return 0;
    }
    // Whole buffers at (0, 0): the common part, first memory row first.
    const Rect rect{0, 0, std::min(dst.width, src.width), std::min(dst.height, src.height)};
    return callback(dst.pixels, src.pixels, &rect, 0, 0, dst.bytes_per_pixel,
                    src.bytes_per_pixel, dst.stride, src.stride, params, nullptr);
}

namespace {

constexpr std::int32_t kSampleBits = 12;

// Which of the per-sample steps a table runs, in development order.
struct ToneSteps {
    bool gamma;
    bool contrast;
    bool brightness;
    [[nodiscard]] bool any() const { return gamma || contrast || brightness; }
};

// Consecutive per-sample steps composed into one table: each step maps any
// sample to a single value, so the chain of their tables gives what running
// them one after another gives.  With no step it is the identity, which
// copies the processed samples and keeps any fourth one of the destination.
template <Variant V>
class ToneMap {
    using S = typename kernels::Traits<V>::Sample;
    static constexpr bool kBytes = sizeof(S) == 1;
    static constexpr std::int32_t kEntries = kBytes ? 256 : 1 << kSampleBits;

public:
    ToneMap(const AdjustmentValues& v, ToneSteps steps)
        : steps_(steps), factor_(brightness_factor(v.brightness)), table_(kEntries) {
        // Only the tables of steps that run: a power per entry is not free.
        if (steps.gamma) {
            double exponent = gamma_exponent(v.gamma);
            if constexpr (V == Variant::kColour8) exponent = std::clamp(exponent, 0.001, 99.999);
            if constexpr (kBytes) {
                std::array<std::uint8_t, 256> gamma8{};
                build_gamma_table8(exponent, gamma8.data());
                std::copy(gamma8.begin(), gamma8.end(), gamma_.begin());
            } else {
                build_gamma_table16(exponent, kSampleBits, gamma_.data());
            }
        }
        if (steps.contrast) {
            build_contrast_table(v.contrast, kBytes ? 8 : kSampleBits, contrast_.data());
        }
        std::uint16_t* t = table_.data();
        for (std::int32_t i = 0; i < kEntries; ++i) t[i] = static_cast<std::uint16_t>(chain(i));
        if constexpr (kBytes) {
            for (std::int32_t i = 0; i < 256; ++i) bytes_[i] = static_cast<std::uint8_t>(t[i]);
        }
    }

    [[nodiscard]] bool active() const { return steps_.any(); }
    // The 256 entries of an 8-bit map.
    [[nodiscard]] const std::uint8_t* bytes() const { return bytes_.data(); }

    void apply(const kernels::RectArgs& a) const {
        if constexpr (kBytes) {
            (void)kernels::for_each_byte_lut<V>(a, bytes_.data());
        } else {
            const std::uint16_t* t = table_.data();
            (void)kernels::for_each_sample<V>(a, [this, t](S s) {
                return s < kEntries ? t[s] : static_cast<S>(chain(s));
            });
        }
    }

private:
    // Each step's own rule, 16-bit samples at or beyond the tables included.
    [[nodiscard]] std::int32_t chain(std::int32_t s) const {
        constexpr std::int32_t n = kEntries;
        if (steps_.gamma) s = gamma_[std::min(s, n - 1)];
        if (steps_.contrast) s = s < n ? contrast_[s] : n - 1;
        if (steps_.brightness) {
            s = std::clamp(static_cast<std::int32_t>(static_cast<float>(s) * factor_), 0, n - 1);
        }
        return s;
    }

    ToneSteps steps_;
    float factor_;
    std::array<std::uint16_t, kEntries> gamma_{};
    std::array<std::uint16_t, kEntries> contrast_{};
    kernels::Lut16 table_;
    std::array<std::uint8_t, kBytes ? 256 : 1> bytes_{};
};

// Rows of a plane as the argument pack of the kernels: `src_rows` of `src`
// from row `src_y` onto the same rows of `dst` from row `dst_y`.
kernels::RectArgs rows_of(const PixelPlane& dst, std::int32_t dst_y, const PixelPlane& src,
                          std::int32_t src_y, std::int32_t rows) {
    const Rect rect{0, src_y, src.width, src_y + rows};
    return kernels::make_args(dst.pixels, src.pixels, &rect, 0, dst_y, dst.bytes_per_pixel,
                              src.bytes_per_pixel, dst.stride, src.stride);
}

// The adjustment sequence of one variant in as few passes over the picture
// as its steps allow.  Without sharpening one pass runs hue and saturation
// and the table of gamma, contrast and brightness, row by row.  With
// sharpening the picture is read and written once: each row gets hue,
// gamma and contrast into a ring of four rows in the scratch store (what
// the whole copy would hold at those rows), the sharpened row goes back
// into the picture and then through the brightness table; the frame
// sharpening leaves alone gets the same table straight from the ring.  A
// row of the picture is overwritten only after the ring holds it.
template <Variant V>
class Sequence {
    using T = kernels::Traits<V>;
    static constexpr bool kBytes = sizeof(typename T::Sample) == 1;

public:
    Sequence(PixelPlane output, PixelPlane scratch, const AdjustmentValues& v, bool sharpen)
        : out_(output), ring_(scratch), hue_on_(T::kChannels == 3 && (v.hue != 0 || v.saturation != 0)),
          hue_(HueRecord{v.hue, 0, v.saturation, kSampleBits}),
          sharpen_(sharpen), sharpness_{v.sharpness, kSampleBits},
          pre_(v, ToneSteps{v.gamma != 100, v.contrast != 0, v.brightness != 0 && !sharpen}),
          post_(v, ToneSteps{false, false, v.brightness != 0 && sharpen}) {
        if constexpr (kBytes) {
            linear_post_ = post_.active() && kernels::find_byte_scale(post_.bytes(), post_scale_);
        }
    }

    void run() {
        const std::int32_t h = out_.height;
        if (!sharpen_) {
            if (!hue_on_ && !pre_.active()) return;  // every step neutral
            for (std::int32_t y = 0; y < h; ++y) prepare(rows_of(out_, y, out_, y, 1));
            return;
        }
        for (std::int32_t y = 0; y < 4; ++y) into_ring(y);
        finish_from_ring(0);
        finish_from_ring(1);
        for (std::int32_t y = 2; y <= h - 3; ++y) {
            if (y + 1 >= 4) into_ring(y + 1);
            sharpen_row_from_ring(y);
        }
        finish_from_ring(h - 2);
        // The last row is no input of sharpening: all its steps in place.
        prepare(rows_of(out_, h - 1, out_, h - 1, 1));
        if (post_.active()) post_.apply(rows_of(out_, h - 1, out_, h - 1, 1));
    }

private:
    std::uint8_t* ring_row(std::int32_t y) const {
        return ring_.pixels + static_cast<std::ptrdiff_t>(y % 4) * ring_.stride;
    }
    PixelPlane ring_plane(std::int32_t y) const {
        return PixelPlane{ring_row(y), out_.width, 1, ring_.stride, out_.bytes_per_pixel};
    }

    // Hue and saturation, then the table before sharpening, on one row.
    void prepare(const kernels::RectArgs& a) const {
        if (hue_on_) {
            const bool table = kBytes && pre_.active();
            (void)hue_.run(V, a, table ? byte_table() : nullptr);
            if (!kBytes && pre_.active()) {
                pre_.apply(rows_of(out_of(a), a.dst_y, out_of(a), a.dst_y, 1));
            }
        } else if (pre_.active()) {
            pre_.apply(a);
        } else if (a.src != a.dst) {
            // Nothing before sharpening: the row as it is (any fourth
            // samples too; the ring's are never written back).
            std::memcpy(a.dst_row(0), a.src_row(0),
                        static_cast<std::size_t>(a.rect.width()) * static_cast<std::size_t>(a.src_bpp));
        }
    }
    const std::uint8_t* byte_table() const {
        if constexpr (kBytes) return pre_.bytes();
        return nullptr;
    }
    // The destination of a one-row argument pack as a plane.
    PixelPlane out_of(const kernels::RectArgs& a) const {
        return PixelPlane{a.dst, out_.width, a.dst_y + 1, a.dst_stride, out_.bytes_per_pixel};
    }

    void into_ring(std::int32_t y) const {
        prepare(rows_of(ring_plane(y), 0, out_, y, 1));
    }

    void finish_from_ring(std::int32_t y) const {
        post_.apply(rows_of(out_, y, ring_plane(y), 0, 1));
    }

    void sharpen_row_from_ring(std::int32_t y) const {
        const std::uint8_t* rows[4] = {ring_row(y - 2), ring_row(y - 1), ring_row(y),
                                       ring_row(y + 1)};
        std::uint8_t* d = out_.pixels + static_cast<std::ptrdiff_t>(y) * out_.stride;
        if constexpr (kBytes) {
            const int bpp = out_.bytes_per_pixel;
            const bool usual = bpp == T::kChannels || (T::kChannels == 3 && bpp == 4);
            if (usual && kernels::vector_kernels()) {
                // Frame and brightness table in the same pass.
                const std::int32_t strength = std::clamp<std::int32_t>(sharpness_.value, 0, 30);
                kernels::sharpen_row8(rows, d, out_.width, bpp, strength,
                                      post_.active() ? post_.bytes() : nullptr,
                                      linear_post_ ? &post_scale_ : nullptr);
                return;
            }
        }
        sharpen_row(V, rows, d, out_.width, out_.bytes_per_pixel, sharpness_);
        // The two-pixel frame at both ends keeps the row's prepared values.
        const std::int32_t w = out_.width;
        const std::size_t samples = T::kChannels * sizeof(typename T::Sample);
        for (std::int32_t x : {0, 1, w - 2, w - 1}) {
            const std::ptrdiff_t o = static_cast<std::ptrdiff_t>(x) * out_.bytes_per_pixel;
            std::memcpy(d + o, rows[2] + o, samples);
        }
        if (post_.active()) post_.apply(rows_of(out_, y, out_, y, 1));
    }

    PixelPlane out_;
    PixelPlane ring_;
    bool hue_on_;
    HueSaturationRun hue_;
    bool sharpen_;
    AdjustRecord sharpness_;
    ToneMap<V> pre_;
    ToneMap<V> post_;
    // The brightness table's linear form, which vector kernels may apply
    // instead of looking it up.
    bool linear_post_ = false;
    kernels::ByteScale post_scale_;
};

// True when sharpening runs and changes pixels: a scratch plane of the
// output's format, and a picture with pixels two inside every edge.
bool sharpens(const PixelPlane& output, const PixelPlane& scratch, std::int32_t sharpness) {
    return sharpness != 0 && !scratch.empty() && scratch.pixels != output.pixels &&
           scratch.width == output.width && scratch.height == output.height &&
           scratch.stride == output.stride && scratch.bytes_per_pixel == output.bytes_per_pixel &&
           output.width >= 5 && output.height >= 5;
}

template <Variant V>
void run_sequence(PixelPlane output, PixelPlane scratch, const AdjustmentValues& v) {
    const Rect rect{0, 0, output.width, output.height};
    const kernels::RectArgs whole = kernels::make_args(
        output.pixels, output.pixels, &rect, 0, 0, output.bytes_per_pixel,
        output.bytes_per_pixel, output.stride, output.stride);
    if (!kernels::layout_fits<V>(whole)) return;
    Sequence<V> sequence(output, scratch, v, sharpens(output, scratch, v.sharpness));
    sequence.run();
}

}  // namespace

void ApplyAdjustments(PixelPlane output, PixelPlane scratch, int colour_mode,
                      const AdjustmentValues& values) {
    Variant variant{};
    if (output.empty() || !variant_for_mode(colour_mode, variant)) return;
    switch (variant) {
        case Variant::kGrey8: run_sequence<Variant::kGrey8>(output, scratch, values); break;
        case Variant::kGrey16: run_sequence<Variant::kGrey16>(output, scratch, values); break;
        case Variant::kColour8: run_sequence<Variant::kColour8>(output, scratch, values); break;
        case Variant::kColour16: run_sequence<Variant::kColour16>(output, scratch, values); break;
    }
}

}  // namespace zbx::pipeline
