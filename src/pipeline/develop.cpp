#include "pipeline/develop.h"

#include <algorithm>

#include "pipeline/auto_exposure.h"
#include "pipeline/conversions.h"
#include "pipeline/demosaic.h"
#include "pipeline/image_buffer.h"

namespace zbx::pipeline {

namespace {

constexpr std::int32_t kGainCap = 400;

// Slots of the session's buffers.
constexpr std::size_t kRaw8 = 0;
constexpr std::size_t kRaw16 = 1;
constexpr std::size_t kColor24 = 2;
constexpr std::size_t kScratch = 6;

bool sixteen_bit_raw(std::int32_t mode) { return mode == 1 || mode == 4 || mode == 5; }

PixelPlane plane_of(CImageBuffer& b) {
    return PixelPlane{b.pixels(), b.width(), b.height(), b.stride(), b.bytes_per_pixel()};
}

// Holds the session's defect-list lock for one correction.
class DefectListLock {
public:
    explicit DefectListLock(DevelopHost& host) : host_(host), view_(host.lock_defect_list()) {}
    ~DefectListLock() { host_.unlock_defect_list(); }
    DefectListLock(const DefectListLock&) = delete;
    DefectListLock& operator=(const DefectListLock&) = delete;
    [[nodiscard]] const DefectListView& view() const { return view_; }

private:
    DevelopHost& host_;
    DefectListView view_;
};

void correct_defects(CImageBuffer& raw, const DevelopInput& in) {
    DefectListLock lock(*in.host);
    DefectRegion region;
    region.x_start = in.x_start;
    region.y_start = in.y_start;
    region.width = in.width;
    region.height = in.height;
    region.mirror_h = in.mirror_h;
    region.mirror_v = in.mirror_v;
    CorrectDefects(plane_of(raw), std::span<const DefectPosition>(lock.view().data, lock.view().size),
                   region);
}

void gray_mode_1(const DevelopInput& in, CImageBuffer& output, std::int32_t phase) {
    AdjustmentBlock a(*in.adjust);
    GrayRecord rec;
    rec.phase = phase;
    rec.gain_r = a.GrayGainR();
    rec.gain_g1 = a.GrayGainG1();
    rec.gain_g2 = a.GrayGainG2();
    rec.gain_b = a.GrayGainB();
    rec.offset_r = a.GrayOffsetR();
    rec.offset_g1 = a.GrayOffsetG1();
    rec.offset_g2 = a.GrayOffsetG2();
    rec.offset_b = a.GrayOffsetB();
    rec.sample_bits = in.color_mode == 0 ? 8 : 12;
    if (a.GrayAutoBalanceCount() != 0) {
        (void)measure_gray_balance(plane_of(output), in.color_mode, rec);
        a.GrayGainR() = rec.gain_r;
        a.GrayGainG1() = rec.gain_g1;
        a.GrayGainG2() = rec.gain_g2;
        a.GrayGainB() = rec.gain_b;
        a.GrayOffsetR() = rec.offset_r;
        a.GrayOffsetG1() = rec.offset_g1;
        a.GrayOffsetG2() = rec.offset_g2;
        a.GrayOffsetB() = rec.offset_b;
        in.host->refresh_image_dialog();
        a.GrayAutoBalanceCount().fetch_sub(1);
    }
    if (rec.gain_r != 128 || rec.gain_g1 != 128 || rec.gain_g2 != 128 || rec.gain_b != 128)
        apply_gray_correction(plane_of(output), in.color_mode, rec);
}

void adjustments(const DevelopInput& in, CImageBuffer& output) {
    const AdjustmentBlock a(*in.adjust);
    AdjustmentValues v;
    v.brightness = a.Brightness();
    v.contrast = a.Contrast();
    v.hue = a.Hue();
    v.saturation = a.Saturation();
    v.sharpness = a.Sharpness();
    v.gamma = a.Gamma();
    ApplyAdjustments(plane_of(output), plane_of(*in.slots[kScratch]), in.color_mode, v);
}

// Phase of the window's first pixel.  The Bayer mode and the mirroring give
// the phase of the full frame; a window whose first pixel lies on the other
// column or row parity of the sensor (its last column or row when mirrored,
// the sensor being 1280 x 720) begins one filter cell further on.
std::int32_t window_phase(const DevelopInput& in, std::int32_t bayer_mode);

}  // namespace

std::int32_t EffectivePhase(std::int32_t bayer_mode, bool mirror_v, bool mirror_h) {
    std::int32_t p = bayer_mode;
    if (mirror_v) p ^= 1;  // 0 <-> 1, 2 <-> 3
    if (mirror_h) p ^= 2;  // 0 <-> 2, 1 <-> 3
    return p;
}

namespace {

std::int32_t window_phase(const DevelopInput& in, std::int32_t bayer_mode) {
    std::int32_t p = EffectivePhase(bayer_mode, in.mirror_v, in.mirror_h);
    const std::int32_t column = in.mirror_h ? in.x_start + in.width : in.x_start;
    const std::int32_t row = in.mirror_v ? in.y_start + in.height : in.y_start;
    if ((column & 1) != 0) p ^= 2;
    if ((row & 1) != 0) p ^= 1;
    return p;
}

}  // namespace

std::int32_t WindowPhase(const DevelopInput& in) {
    if (in.adjust == nullptr) return 0;
    return window_phase(in, AdjustmentBlock(*in.adjust).BayerMode());
}

int Demosaic(CImageBuffer& dst, CImageBuffer& raw, const DevelopInput& in) {
    AdjustmentBlock a(*in.adjust);
    const std::int32_t phase = window_phase(in, a.BayerMode());
    if (a.BayerGainAuto() != 0) {
        BayerRecord measured{phase, a.BayerGainRed(), a.BayerGainGreen(), a.BayerGainBlue()};
        TransferRect(raw, raw.bits_per_pixel() == 16 ? MeasureWhiteBalance16 : MeasureWhiteBalance8,
                     raw, nullptr, 0, 0, &measured, nullptr);
        a.BayerGainRed() = std::min(measured.red_gain, kGainCap);
        a.BayerGainBlue() = std::min(measured.blue_gain, kGainCap);
        a.BayerGainGreen() = std::min(100, kGainCap);
        in.host->refresh_image_dialog();
        if (a.WhiteBalanceOnceA() != 0 && a.WhiteBalanceOnceB() != 0) {
            a.BayerGainAuto() = 0;
            a.WhiteBalanceOnceA() = 0;
            a.WhiteBalanceOnceB() = 0;
        }
    }
    BayerRecord record{phase, a.BayerGainRed(), a.BayerGainGreen(), a.BayerGainBlue()};
    return DemosaicPasses(dst, raw, record);
}

void DevelopFrame(const DevelopInput& in) {
    if (in.adjust == nullptr || in.host == nullptr) return;
    for (const CImageBuffer* b : in.slots)
        if (b == nullptr) return;
    const std::int32_t mode = in.color_mode;
    if (mode < 0 || mode > 5) return;
    AdjustmentBlock a(*in.adjust);
    CImageBuffer& raw = *in.slots[sixteen_bit_raw(mode) ? kRaw16 : kRaw8];
    // The output buffer of mode m is slot m.
    CImageBuffer& output = *in.slots[static_cast<std::size_t>(mode)];

    if (in.defect_correction) correct_defects(raw, in);

    RunAutoExposure(raw, in.auto_iris_mode, *in.host);

    if (mode == 0 || mode == 1) {
        const std::int32_t gray_mode = a.GrayMode();
        if (gray_mode == 1) {
            gray_mode_1(in, output, window_phase(in, a.BayerMode()));
        } else if (gray_mode == 2) {
            // Colour picture and back to grey: only mode 0 sees the result.
            CImageBuffer& colour = *in.slots[kColor24];
            Demosaic(colour, *in.slots[kRaw8], in);
            TransferRect(*in.slots[kRaw8], ColorToGray, colour, nullptr, 0, 0, nullptr, nullptr);
        }
    } else {
        Demosaic(output, raw, in);
    }

    adjustments(in, output);
}

}  // namespace zbx::pipeline
