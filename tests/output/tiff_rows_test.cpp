// The TIFF row kernels, vector and plain, against the conversion written
// out sample by sample, at every row length around the vector block sizes.
#include "output/tiff_rows.h"

#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

namespace zbx::output {
namespace {

// The file row for `width` pixels of `src`: red first, 16-bit samples
// shifted and cut, the fourth sample 0 (8 bits) or 0xFFFF (16 bits).
std::vector<std::uint8_t> Reference(const std::uint8_t* src, std::int32_t width, int bits,
                                    int shift) {
    const bool wide = bits == 16 || bits >= 48;
    const int size = wide ? 2 : 1;
    const int samples = bits / (8 * size);
    std::vector<std::uint8_t> out(std::size_t(width) * (bits / 8));
    for (std::int32_t x = 0; x < width; ++x) {
        for (int c = 0; c < samples; ++c) {
            const int from = samples >= 3 && c < 3 ? 2 - c : c;
            const std::size_t in = (std::size_t(x) * samples + std::size_t(from)) * size;
            const std::size_t at = (std::size_t(x) * samples + std::size_t(c)) * size;
            if (!wide) {
                out[at] = c == 3 ? 0 : src[in];
            } else {
                const unsigned v = c == 3 ? 0xFFFFu : ((src[in] | src[in + 1] << 8) << shift) & 0xFFFFu;
                out[at] = std::uint8_t(v);
                out[at + 1] = std::uint8_t(v >> 8);
            }
        }
    }
    return out;
}

TEST(TiffRows, EveryDepthAndLengthMatchesTheSampleRule) {
    std::mt19937 rng(11);
    constexpr std::size_t kGuard = 64;
    for (int bits : {8, 16, 24, 32, 48, 64}) {
        for (TiffRowPath path : {TiffRowPath::kBest, TiffRowPath::kPlain}) {
            const TiffRowKernel kernel = SelectTiffRowKernel(bits, path);
            ASSERT_NE(kernel, nullptr) << bits;
            for (std::int32_t width = 0; width <= 70; ++width) {
                for (int shift : {0, 4, 6}) {
                    SCOPED_TRACE(::testing::Message() << bits << " bits, width " << width
                                                      << ", shift " << shift << ", path "
                                                      << int(path));
                    const std::size_t bytes = std::size_t(width) * (bits / 8);
                    // The source row sits at the very end of its store, so
                    // a read past the row lands outside it (seen under ASan).
                    std::vector<std::uint8_t> src(bytes);
                    for (auto& b : src) b = std::uint8_t(rng());
                    std::vector<std::uint8_t> dst(bytes + 2 * kGuard, 0xA5);
                    kernel(dst.data() + kGuard, src.data(), width, shift);
                    const auto want = Reference(src.data(), width, bits, shift);
                    ASSERT_EQ(std::vector<std::uint8_t>(dst.begin() + kGuard,
                                                        dst.begin() + std::ptrdiff_t(kGuard + bytes)),
                              want);
                    for (std::size_t i = 0; i < kGuard; ++i) {
                        ASSERT_EQ(dst[i], 0xA5) << "written before the row";
                        ASSERT_EQ(dst[kGuard + bytes + i], 0xA5) << "written past the row";
                    }
                }
            }
        }
    }
}

TEST(TiffRows, OnlyLibraryDepthsHaveKernels) {
    for (int bits : {0, 1, 12, 40, 96})
        EXPECT_EQ(SelectTiffRowKernel(bits), nullptr) << bits;
}

}  // namespace
}  // namespace zbx::output
