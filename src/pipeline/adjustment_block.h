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

struct AdjustmentBlock {
    using Value = std::atomic<std::int32_t>;
    static constexpr std::size_t kCount = 30;

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

    std::array<Value, kCount> values{};

    [[nodiscard]] Value& at(std::size_t index) { return values[index]; }
    [[nodiscard]] const Value& at(std::size_t index) const { return values[index]; }

    // Named access.  The two WhiteBalanceOnce values are the white-balance
    // once markers: both set means "measure once, then switch auto off".
    Value& Brightness() { return values[kBrightness]; }
    const Value& Brightness() const { return values[kBrightness]; }
    Value& Contrast() { return values[kContrast]; }
    const Value& Contrast() const { return values[kContrast]; }
    Value& Hue() { return values[kHue]; }
    const Value& Hue() const { return values[kHue]; }
    Value& Saturation() { return values[kSaturation]; }
    const Value& Saturation() const { return values[kSaturation]; }
    Value& Sharpness() { return values[kSharpness]; }
    const Value& Sharpness() const { return values[kSharpness]; }
    Value& BayerGainRed() { return values[kBayerGainRed]; }
    const Value& BayerGainRed() const { return values[kBayerGainRed]; }
    Value& BayerGainGreen() { return values[kBayerGainGreen]; }
    const Value& BayerGainGreen() const { return values[kBayerGainGreen]; }
    Value& BayerGainBlue() { return values[kBayerGainBlue]; }
    const Value& BayerGainBlue() const { return values[kBayerGainBlue]; }
    Value& Gamma() { return values[kGamma]; }
    const Value& Gamma() const { return values[kGamma]; }
    Value& BayerMode() { return values[kBayerMode]; }
    const Value& BayerMode() const { return values[kBayerMode]; }
    Value& GrayMode() { return values[kGrayMode]; }
    const Value& GrayMode() const { return values[kGrayMode]; }
    Value& GrayGainR() { return values[kGrayGainR]; }
    const Value& GrayGainR() const { return values[kGrayGainR]; }
    Value& GrayGainG1() { return values[kGrayGainG1]; }
    const Value& GrayGainG1() const { return values[kGrayGainG1]; }
    Value& GrayGainG2() { return values[kGrayGainG2]; }
    const Value& GrayGainG2() const { return values[kGrayGainG2]; }
    Value& GrayGainB() { return values[kGrayGainB]; }
    const Value& GrayGainB() const { return values[kGrayGainB]; }
    Value& GrayOffsetR() { return values[kGrayOffsetR]; }
    const Value& GrayOffsetR() const { return values[kGrayOffsetR]; }
    Value& GrayOffsetG1() { return values[kGrayOffsetG1]; }
    const Value& GrayOffsetG1() const { return values[kGrayOffsetG1]; }
    Value& GrayOffsetG2() { return values[kGrayOffsetG2]; }
    const Value& GrayOffsetG2() const { return values[kGrayOffsetG2]; }
    Value& GrayOffsetB() { return values[kGrayOffsetB]; }
    const Value& GrayOffsetB() const { return values[kGrayOffsetB]; }
    Value& BayerGainAuto() { return values[kBayerGainAuto]; }
    const Value& BayerGainAuto() const { return values[kBayerGainAuto]; }
    Value& WhiteBalanceOnceA() { return values[kWhiteBalanceOnceA]; }
    const Value& WhiteBalanceOnceA() const { return values[kWhiteBalanceOnceA]; }
    Value& WhiteBalanceOnceB() { return values[kWhiteBalanceOnceB]; }
    const Value& WhiteBalanceOnceB() const { return values[kWhiteBalanceOnceB]; }
    Value& GrayAutoBalanceCount() { return values[kGrayAutoBalanceCount]; }
    const Value& GrayAutoBalanceCount() const { return values[kGrayAutoBalanceCount]; }

    [[nodiscard]] std::array<std::int32_t, kCount> snapshot() const {
        std::array<std::int32_t, kCount> out{};
        for (std::size_t i = 0; i < kCount; ++i) out[i] = values[i].load(std::memory_order_relaxed);
        return out;
    }
    void assign(const std::array<std::int32_t, kCount>& in) {
        for (std::size_t i = 0; i < kCount; ++i) values[i].store(in[i], std::memory_order_relaxed);
    }
};

static_assert(sizeof(AdjustmentBlock) == AdjustmentBlock::kCount * sizeof(std::int32_t),
              "the block is 30 consecutive 32-bit values");

// Neutral values: what a camera without saved groups starts with.
inline void SetAdjustmentDefaults(AdjustmentBlock& b) {
    for (auto& v : b.values) v.store(0);
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
