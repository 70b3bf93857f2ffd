// The session's block of 30 image adjustment values, in the design's order.
// Exports and dialogs write them from application threads while development
// reads them on the acquisition thread without a common lock, hence atomics;
// each step reads a value once when it starts.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace zbx::pipeline {

inline constexpr std::size_t kAdjustmentCount = 30;
// The block as the session stores it.
using AdjustmentArray = std::array<std::atomic<std::int32_t>, kAdjustmentCount>;

// Named access to a block borrowed from its owner.
class AdjustmentBlock {
public:
    using Value = std::atomic<std::int32_t>;

    // Index of each value in the design's order.
    enum Index : std::size_t {
        kBrightness,
        kContrast,
        kHue,
        kSaturation,
        kSharpness,
        kBayerGainRed,
        kBayerGainGreen,
        kBayerGainBlue,
        kGamma,
        kBayerMode,
        kUnaddressed10,
        kGrayMode,
        kGrayGainR,
        kGrayGainG1,
        kGrayGainG2,
        kGrayGainB,
        kGrayOffsetR,
        kGrayOffsetG1,
        kGrayOffsetG2,
        kGrayOffsetB,
        kUnaddressed20,
        kUnaddressed21,
        kUnaddressed22,
        kUnaddressed23,
        kUnaddressed24,
        kBayerGainAuto,
        kWhiteBalanceOnceA,
        kWhiteBalanceOnceB,
        kUnaddressed28,
        kGrayAutoBalanceCount,
    };

    explicit AdjustmentBlock(AdjustmentArray& values) : values_(values) {}

    // The two WhiteBalanceOnce values are the white-balance once markers:
    // both set means "measure once, then switch auto off".
    Value& Brightness() const { return values_[kBrightness]; }
    Value& Contrast() const { return values_[kContrast]; }
    Value& Hue() const { return values_[kHue]; }
    Value& Saturation() const { return values_[kSaturation]; }
    Value& Sharpness() const { return values_[kSharpness]; }
    Value& BayerGainRed() const { return values_[kBayerGainRed]; }
    Value& BayerGainGreen() const { return values_[kBayerGainGreen]; }
    Value& BayerGainBlue() const { return values_[kBayerGainBlue]; }
    Value& Gamma() const { return values_[kGamma]; }
    Value& BayerMode() const { return values_[kBayerMode]; }
    Value& GrayMode() const { return values_[kGrayMode]; }
    Value& GrayGainR() const { return values_[kGrayGainR]; }
    Value& GrayGainG1() const { return values_[kGrayGainG1]; }
    Value& GrayGainG2() const { return values_[kGrayGainG2]; }
    Value& GrayGainB() const { return values_[kGrayGainB]; }
    Value& GrayOffsetR() const { return values_[kGrayOffsetR]; }
    Value& GrayOffsetG1() const { return values_[kGrayOffsetG1]; }
    Value& GrayOffsetG2() const { return values_[kGrayOffsetG2]; }
    Value& GrayOffsetB() const { return values_[kGrayOffsetB]; }
    Value& BayerGainAuto() const { return values_[kBayerGainAuto]; }
    Value& WhiteBalanceOnceA() const { return values_[kWhiteBalanceOnceA]; }
    Value& WhiteBalanceOnceB() const { return values_[kWhiteBalanceOnceB]; }
    Value& GrayAutoBalanceCount() const { return values_[kGrayAutoBalanceCount]; }

private:
    AdjustmentArray& values_;
};

// Neutral values: what a camera without saved groups starts with.
inline void SetAdjustmentDefaults(AdjustmentArray& values) {
    for (auto& v : values) v.store(0);
    AdjustmentBlock b(values);
    b.BayerGainRed() = 100;
    b.BayerGainGreen() = 100;
    b.BayerGainBlue() = 100;
    b.Gamma() = 100;
    b.BayerMode() = 3;
    b.GrayGainR() = 128;
    b.GrayGainG1() = 128;
    b.GrayGainG2() = 128;
    b.GrayGainB() = 128;
}

}  // namespace zbx::pipeline
