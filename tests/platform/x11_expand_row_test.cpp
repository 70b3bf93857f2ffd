// The presenter's 24- to 32-bit widening on every vector target against a
// plain one, at every width around the vector steps.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "pipeline/simd_targets.h"
#include "platform/x11/expand_row.h"

namespace zbx::platform::x11 {
namespace {

std::vector<std::uint8_t> expand_plain(const std::uint8_t* in, int width) {
    std::vector<std::uint8_t> out(static_cast<std::size_t>(width) * 4);
    for (int x = 0; x < width; ++x) {
        for (int c = 0; c < 3; ++c) out[4 * x + c] = in[3 * x + c];
        out[4 * x + 3] = 0;
    }
    return out;
}

TEST(ExpandRow, EveryTargetMatchesThePlainWideningAtEveryWidth) {
    std::mt19937 random(5);
    std::vector<std::uint8_t> in(3 * 300);
    for (auto& v : in) v = static_cast<std::uint8_t>(random());
    for (std::int64_t target : pipeline::simd::runnable_targets()) {
        pipeline::simd::force_target(target);
        for (int width = 1; width <= 300; width += width < 70 ? 1 : 37) {
            // Bytes past the row stay as they were.
            std::vector<std::uint8_t> out(4 * static_cast<std::size_t>(width) + 64, 0xA5);
            expand_row(in.data(), out.data(), width);
            std::vector<std::uint8_t> expected = expand_plain(in.data(), width);
            expected.resize(out.size(), 0xA5);
            ASSERT_EQ(out, expected) << pipeline::simd::target_name(target) << " width " << width;
        }
    }
    pipeline::simd::force_target(0);
}


}  // namespace
}  // namespace zbx::platform::x11
