#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "pipeline/demosaic.h"
#include "pipeline/image_buffer.h"
#include "pipeline/pixel_access.h"
#include "pipeline/simd_targets.h"

namespace zbx::pipeline {
namespace {

// Plain reference: the four-case kernel table, one pixel at a time, with the
// border replacement (4 further in) applied to every access.
struct Bgr {
    int b, g, r;
};

Bgr reference_pixel(const CImageBuffer& raw, int x, int y, int phase, int red_gain, int blue_gain) {
    const int w = raw.width();
    const int h = raw.height();
    const bool wide = raw.bits_per_pixel() == 16;
    const long long max = wide ? 4095 : 255;
    const auto S = [&](int i, int j) -> long long {
        if (i < 0) i += 4;
        if (i > w - 1) i -= 4;
        if (j < 0) j += 4;
        if (j > h - 1) j -= 4;
        const std::uint8_t* p = raw.pixels() + j * raw.stride();
        return wide ? load16(p + 2 * i) : p[i];
    };
    const int c = (x + ((phase == 2 || phase == 3) ? 1 : 0)) % 2;
    const int r = (y + ((phase == 1 || phase == 3) ? 1 : 0)) % 2;
    long long g, bs, rs;
    if (c == 0 && r == 0) {
        g = S(x - 1, y - 1) + S(x, y);
        bs = 9 * S(x - 1, y) + 3 * S(x - 1, y - 2) + 3 * S(x + 1, y) + S(x + 1, y - 2);
        rs = 9 * S(x, y - 1) + 3 * S(x - 2, y - 1) + 3 * S(x, y + 1) + S(x - 2, y + 1);
    } else if (c == 1 && r == 0) {
        g = S(x, y - 1) + S(x - 1, y);
        bs = 9 * S(x, y) + 3 * S(x, y - 2) + 3 * S(x - 2, y) + S(x - 2, y - 2);
        rs = 9 * S(x - 1, y - 1) + 3 * S(x + 1, y - 1) + 3 * S(x - 1, y + 1) + S(x + 1, y + 1);
    } else if (c == 0 && r == 1) {
        g = S(x, y - 1) + S(x - 1, y);
        bs = 9 * S(x - 1, y - 1) + 3 * S(x + 1, y - 1) + 3 * S(x - 1, y + 1) + S(x + 1, y + 1);
        rs = 9 * S(x, y) + 3 * S(x, y - 2) + 3 * S(x - 2, y) + S(x - 2, y - 2);
    } else {
        g = S(x - 1, y - 1) + S(x, y);
        bs = 9 * S(x, y - 1) + 3 * S(x - 2, y - 1) + 3 * S(x, y + 1) + S(x - 2, y + 1);
        rs = 9 * S(x - 1, y) + 3 * S(x - 1, y - 2) + 3 * S(x + 1, y) + S(x + 1, y - 2);
    }
    const long long kb = static_cast<long long>(blue_gain * 1.28);
    const long long kr = static_cast<long long>(red_gain * 1.28);
    const auto lim = [&](long long v) { return static_cast<int>(std::clamp(v, 0LL, max)); };
    return Bgr{lim((bs * kb) >> 11), lim(g >> 1), lim((rs * kr) >> 11)};
}

Bgr read_px(const CImageBuffer& d, int x, int y) {
    const std::uint8_t* p = d.pixels() + y * d.stride() + x * d.bytes_per_pixel();
    if (d.bits_per_pixel() >= 48) return Bgr{load16(p), load16(p + 2), load16(p + 4)};
    return Bgr{p[0], p[1], p[2]};
}

int fourth(const CImageBuffer& d, int x, int y) {
    const std::uint8_t* p = d.pixels() + y * d.stride() + x * d.bytes_per_pixel();
    return d.bits_per_pixel() == 64 ? load16(p + 6) : p[3];
}

void fill(CImageBuffer& raw, std::mt19937& rng, int max) {
    std::uniform_int_distribution<int> dist(0, max);
    for (int y = 0; y < raw.height(); ++y)
        for (int x = 0; x < raw.width(); ++x) {
            std::uint8_t* p = raw.pixels() + y * raw.stride();
            if (raw.bits_per_pixel() == 16) {
                store16(p + 2 * x, static_cast<std::uint16_t>(dist(rng)));
            } else {
                p[x] = static_cast<std::uint8_t>(dist(rng));
            }
        }
}

// Demosaics and compares every pixel (and the untouched fourth channel).
void expect_matches_reference(CImageBuffer& raw, std::uint16_t dst_bits, BayerRecord rec,
                              const char* what) {
    CImageBuffer dst;
    ASSERT_EQ(dst.Create(raw.width(), raw.height(), dst_bits), 1);
    std::memset(dst.pixels(), 0x5A, dst.store_size());
    DemosaicPasses(dst, raw, rec);
    for (int y = 0; y < raw.height(); ++y)
        for (int x = 0; x < raw.width(); ++x) {
            const Bgr want = reference_pixel(raw, x, y, rec.phase, rec.red_gain, rec.blue_gain);
            const Bgr got = read_px(dst, x, y);
            ASSERT_TRUE(got.b == want.b && got.g == want.g && got.r == want.r)
                << what << " at " << x << "," << y << " phase " << rec.phase << " bits " << dst_bits
                << " got " << got.b << "/" << got.g << "/" << got.r << " want " << want.b << "/"
                << want.g << "/" << want.r;
            if (dst_bits == 32 || dst_bits == 64) {
                ASSERT_EQ(fourth(dst, x, y), dst_bits == 64 ? 0x5A5A : 0x5A) << what;
            }
        }
}

// Each vector target this processor runs, pinned in turn, and the plain
// kernels (0).
std::vector<std::int64_t> kernels() {
    std::vector<std::int64_t> k = simd::runnable_targets();
    k.push_back(0);
    return k;
}

class DemosaicRandom : public ::testing::TestWithParam<std::int64_t> {
protected:
    void SetUp() override {
        ForcePlainDemosaic(GetParam() == 0);
        if (GetParam() != 0) {
            simd::force_target(GetParam());
            ASSERT_EQ(simd::current_target(), GetParam());
        }
    }
    void TearDown() override {
        ForcePlainDemosaic(false);
        simd::force_target(0);
    }
};

TEST_P(DemosaicRandom, MatchesReferenceBitForBit) {
    std::mt19937 rng(1234);
    // Widths around one and two vector steps of every target, odd and even.
    const int sizes[][2] = {{4, 4}, {5, 7}, {37, 9}, {64, 6}, {67, 11}, {130, 8}, {141, 5}};
    for (const auto& s : sizes) {
        for (int phase = 0; phase < 4; ++phase) {
            CImageBuffer raw8, raw12, raw16;
            ASSERT_EQ(raw8.Create(s[0], s[1], 8), 1);
            ASSERT_EQ(raw12.Create(s[0], s[1], 16), 1);
            ASSERT_EQ(raw16.Create(s[0], s[1], 16), 1);
            fill(raw8, rng, 255);
            fill(raw12, rng, 4095);   // what the sensor delivers
            fill(raw16, rng, 65535);  // beyond 12 bits too: the limits must hold
            const BayerRecord rec{phase, 60 + 37 * phase, 100, 400 - 50 * phase};
            for (const std::uint16_t bits : {24, 32}) expect_matches_reference(raw8, bits, rec, "8-bit");
            for (const std::uint16_t bits : {48, 64}) {
                expect_matches_reference(raw12, bits, rec, "12-bit");
                expect_matches_reference(raw16, bits, rec, "16-bit");
            }
            // One sample over 12 bits switches only the rows that see it.
            if (s[0] > 30) {
                store16(raw12.pixels() + 2 * raw12.stride() + 2 * 20, 40000);
                expect_matches_reference(raw12, 48, rec, "12-bit with one large sample");
            }
        }
    }
    // Gains outside the settable range take the plain path and still agree.
    CImageBuffer raw;
    ASSERT_EQ(raw.Create(40, 6, 8), 1);
    fill(raw, rng, 255);
    expect_matches_reference(raw, 24, BayerRecord{1, 30000, 100, -20}, "wild gains");
    CImageBuffer raw16;
    ASSERT_EQ(raw16.Create(70, 6, 16), 1);
    fill(raw16, rng, 4095);
    expect_matches_reference(raw16, 48, BayerRecord{2, 1800, 100, 30}, "large 16-bit gain");
    expect_matches_reference(raw16, 64, BayerRecord{3, 5000, 100, 100}, "huge 16-bit gain");
    expect_matches_reference(raw16, 48, BayerRecord{0, -5, 100, 100}, "negative 16-bit gain");
}

INSTANTIATE_TEST_SUITE_P(Kernels, DemosaicRandom, ::testing::ValuesIn(kernels()),
                         [](const auto& info) {
                             return info.param == 0 ? std::string("Plain") : simd::target_name(info.param);
                         });

TEST(Demosaic, FlatFieldStaysFlatEverywhere) {
    for (const std::uint16_t raw_bits : {8, 16}) {
        CImageBuffer raw, dst;
        ASSERT_EQ(raw.Create(9, 6, raw_bits), 1);
        const int v = raw_bits == 8 ? 173 : 3001;
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 9; ++x) {
                std::uint8_t* p = raw.pixels() + y * raw.stride();
                if (raw_bits == 16) store16(p + 2 * x, static_cast<std::uint16_t>(v));
                else p[x] = static_cast<std::uint8_t>(v);
            }
        ASSERT_EQ(dst.Create(9, 6, raw_bits == 8 ? 24 : 48), 1);
        BayerRecord rec{0, 100, 100, 100};
        DemosaicPasses(dst, raw, rec);
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 9; ++x) {
                const Bgr got = read_px(dst, x, y);
                ASSERT_EQ(got.b, v);
                ASSERT_EQ(got.g, v);
                ASSERT_EQ(got.r, v);
            }
    }
}

TEST(Demosaic, RedOnlyFrameUnderPhaseZero) {
    CImageBuffer raw, dst;
    ASSERT_EQ(raw.Create(12, 8, 8), 1);
    // Phase 0: G B / R G, red at even columns of odd rows.
    for (int y = 1; y < 8; y += 2)
        for (int x = 0; x < 12; x += 2) raw.pixels()[y * raw.stride() + x] = 200;
    ASSERT_EQ(dst.Create(12, 8, 24), 1);
    BayerRecord rec{0, 100, 100, 100};
    DemosaicPasses(dst, raw, rec);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 12; ++x) {
            const Bgr got = read_px(dst, x, y);
            ASSERT_EQ(got.b, 0);
            ASSERT_EQ(got.g, 0);
            ASSERT_EQ(got.r, 200);
        }
}

TEST(Demosaic, GainsClampAtTheSampleRange) {
    CImageBuffer raw8, dst8;
    ASSERT_EQ(raw8.Create(8, 8, 8), 1);
    std::memset(raw8.pixels(), 100, raw8.store_size());
    ASSERT_EQ(dst8.Create(8, 8, 24), 1);
    BayerRecord rec{0, 400, 100, 100};
    DemosaicPasses(dst8, raw8, rec);
    EXPECT_EQ(read_px(dst8, 4, 4).r, 255);
    EXPECT_EQ(read_px(dst8, 4, 4).b, 100);

    CImageBuffer raw16, dst16;
    ASSERT_EQ(raw16.Create(8, 8, 16), 1);
    for (int i = 0; i < 64; ++i) store16(raw16.pixels() + 2 * i, 4095);
    ASSERT_EQ(dst16.Create(8, 8, 64), 1);
    rec = BayerRecord{2, 101, 100, 101};
    DemosaicPasses(dst16, raw16, rec);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            const Bgr got = read_px(dst16, x, y);
            ASSERT_EQ(got.b, 4095);
            ASSERT_EQ(got.g, 4095);
            ASSERT_EQ(got.r, 4095);
        }
    EXPECT_EQ(BayerGainFactor(100), 128);
    EXPECT_EQ(BayerGainFactor(101), 129);
    EXPECT_EQ(BayerGainFactor(400), 512);
}

TEST(Demosaic, PhaseTwoReadsTheFirstPixelAsBlue) {
    // The raw pixel at the first position is blue under phase 2, its right
    // neighbour green.  A frame of blue samples only at that colour position
    // demosaics to pure blue.
    CImageBuffer raw, dst;
    ASSERT_EQ(raw.Create(10, 6, 8), 1);
    for (int y = 0; y < 6; y += 2)
        for (int x = 0; x < 10; x += 2) raw.pixels()[y * raw.stride() + x] = 90;
    ASSERT_EQ(dst.Create(10, 6, 24), 1);
    BayerRecord rec{2, 100, 100, 100};
    DemosaicPasses(dst, raw, rec);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 10; ++x) {
            const Bgr got = read_px(dst, x, y);
            ASSERT_EQ(got.b, 90);
            ASSERT_EQ(got.g, 0);
            ASSERT_EQ(got.r, 0);
        }
}

TEST(Demosaic, TooSmallOrMismatchedFramesAreLeftAlone) {
    CImageBuffer raw, dst;
    ASSERT_EQ(raw.Create(3, 8, 8), 1);
    std::memset(raw.pixels(), 50, raw.store_size());
    ASSERT_EQ(dst.Create(3, 8, 24), 1);
    std::memset(dst.pixels(), 7, dst.store_size());
    BayerRecord rec;
    DemosaicPasses(dst, raw, rec);
    for (std::size_t i = 0; i < dst.store_size(); ++i) ASSERT_EQ(dst.pixels()[i], 7);

    // A 16-bit frame into a 24-bit destination would not fit its channels.
    CImageBuffer raw16, dst24;
    ASSERT_EQ(raw16.Create(8, 8, 16), 1);
    ASSERT_EQ(dst24.Create(8, 8, 24), 1);
    DemosaicPasses(dst24, raw16, rec);
    for (std::size_t i = 0; i < dst24.store_size(); ++i) ASSERT_EQ(dst24.pixels()[i], 0);
}

// A frame with given means per colour under phase 0 (G B / R G).
void fill_classes(CImageBuffer& raw, int green, int red, int blue) {
    for (int y = 0; y < raw.height(); ++y)
        for (int x = 0; x < raw.width(); ++x) {
            const int c = x % 2, r = y % 2;
            const int v = c == r ? green : (c == 1 ? blue : red);
            std::uint8_t* p = raw.pixels() + y * raw.stride();
            if (raw.bits_per_pixel() == 16) store16(p + 2 * x, static_cast<std::uint16_t>(v));
            else p[x] = static_cast<std::uint8_t>(v);
        }
}

TEST(WhiteBalance, GreyWorldRatios) {
    CImageBuffer raw;
    ASSERT_EQ(raw.Create(16, 8, 8), 1);
    fill_classes(raw, 100, 50, 100);
    BayerRecord rec{0, 1, 2, 3};
    EXPECT_EQ(TransferRect(raw, MeasureWhiteBalance8, raw, nullptr, 0, 0, &rec, nullptr), 1);
    EXPECT_EQ(rec.red_gain, 200);
    EXPECT_EQ(rec.blue_gain, 100);
    EXPECT_EQ(rec.green_gain, 100);

    fill_classes(raw, 80, 40, 160);
    rec = BayerRecord{0, 0, 0, 0};
    TransferRect(raw, MeasureWhiteBalance8, raw, nullptr, 0, 0, &rec, nullptr);
    EXPECT_EQ(rec.red_gain, 200);
    EXPECT_EQ(rec.blue_gain, 50);

    CImageBuffer raw16;
    ASSERT_EQ(raw16.Create(16, 8, 16), 1);
    fill_classes(raw16, 3000, 1000, 4000);
    rec = BayerRecord{0, 0, 0, 0};
    TransferRect(raw16, MeasureWhiteBalance16, raw16, nullptr, 0, 0, &rec, nullptr);
    EXPECT_EQ(rec.red_gain, 300);
    EXPECT_EQ(rec.blue_gain, 75);
}

TEST(WhiteBalance, DegenerateMeansStayDefined) {
    CImageBuffer raw;
    ASSERT_EQ(raw.Create(8, 8, 8), 1);
    fill_classes(raw, 100, 0, 50);  // no red light at all
    BayerRecord rec{0, 1, 2, 3};
    TransferRect(raw, MeasureWhiteBalance8, raw, nullptr, 0, 0, &rec, nullptr);
    EXPECT_GE(rec.red_gain, 400);  // the caller caps it
    EXPECT_EQ(rec.blue_gain, 200);

    fill_classes(raw, 0, 0, 0);  // black frame: no information, neutral gains
    TransferRect(raw, MeasureWhiteBalance8, raw, nullptr, 0, 0, &rec, nullptr);
    EXPECT_EQ(rec.red_gain, 100);
    EXPECT_EQ(rec.blue_gain, 100);

    CImageBuffer line;  // one column: no blue samples, record unchanged
    ASSERT_EQ(line.Create(1, 8, 8), 1);
    rec = BayerRecord{0, 1, 2, 3};
    TransferRect(line, MeasureWhiteBalance8, line, nullptr, 0, 0, &rec, nullptr);
    EXPECT_EQ(rec.red_gain, 1);
    EXPECT_EQ(rec.blue_gain, 3);
}

}  // namespace
}  // namespace zbx::pipeline
