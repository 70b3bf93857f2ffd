// Frame content: sizes, mosaic phase, window, mirroring, brightness,
// defective pixels, the moving square and noise.
#include <cmath>
#include <numeric>

#include "vcam_link.h"

namespace zbx::vcam::test {
namespace {

constexpr int kW = 1280;
constexpr int kH = 720;
constexpr std::size_t kFull16 = kW * kH * 2;

enum Colour { kGreen, kRed, kBlue };

// Colour of a frame position under a colour-filter phase, as the library's
// demosaic reads it.
Colour colour_at(int phase, int x, int y) {
    const int c = (x + (phase >= 2 ? 1 : 0)) & 1;
    const int r = (y + (phase == 1 || phase == 3 ? 1 : 0)) & 1;
    if (c == r) return kGreen;
    return c == 1 ? kBlue : kRed;
}

class FramesTest : public VcamTest {
protected:
    void SetUp() override {
        VcamTest::SetUp();
        link_holder_ = std::make_unique<Link>();
        ASSERT_TRUE(link().is_open());
    }
    std::vector<std::uint8_t> grab16(std::size_t bytes = kFull16) {
        std::vector<std::uint8_t> f;
        std::uint32_t got = 0;
        EXPECT_TRUE(link().set_sixteen_bit(true));
        EXPECT_TRUE(link().grab(f, bytes, &got));
        f.resize(got);
        return f;
    }
    static double mean16(const std::vector<std::uint8_t>& f) {
        double sum = 0;
        for (std::size_t i = 0; i < f.size() / 2; ++i) sum += sample16(f, i);
        return sum / static_cast<double>(f.size() / 2);
    }
    // Opened after the reset that SetUp makes.
    std::unique_ptr<Link> link_holder_;
    Link& link() { return *link_holder_; }
};

TEST_F(FramesTest, FrameSizesFollowSampleCountAndWidth) {
    std::vector<std::uint8_t> f;
    std::uint32_t got = 0;
    ASSERT_TRUE(link().grab(f, 921600, &got));
    EXPECT_EQ(got, 921600u);
    ASSERT_TRUE(link().set_sixteen_bit(true));
    ASSERT_TRUE(link().grab(f, 1843200, &got));
    EXPECT_EQ(got, 1843200u);
    for (std::size_t i = 0; i < 921600; ++i) ASSERT_LE(sample16(f, i), 4095) << i;
    // A read asking for another length gets the shorter of the two.
    ASSERT_TRUE(link().grab(f, 2'000'000, &got));
    EXPECT_EQ(got, 1843200u);
    EXPECT_EQ(f[1843200], 0xAB);
    ASSERT_TRUE(link().grab(f, 1000, &got));
    EXPECT_EQ(got, 1000u);
    // A 4 x 1 window: 1024 samples, the window's samples first, then zeros.
    ASSERT_TRUE(link().set_window(0, 0, 4, 1));
    ASSERT_TRUE(link().grab(f, 4096, &got));
    EXPECT_EQ(got, 2048u);
    EXPECT_NE(sample16(f, 0), 0);
    for (std::size_t i = 8; i < 1024; ++i) ASSERT_EQ(sample16(f, i), 0) << i;
    ASSERT_TRUE(link().set_sixteen_bit(false));
    ASSERT_TRUE(link().grab(f, 4096, &got));
    EXPECT_EQ(got, 1024u);
}

TEST_F(FramesTest, MosaicPhaseFollowsMirroringAndWindow) {
    const ZbxVcamScene scene = flat_scene(3200, 1600, 400);
    ASSERT_EQ(ZbxVcam_SetScene(0, &scene), ZBX_VCAM_OK);
    const std::uint16_t value[] = {1600, 3200, 400};
    struct Case {
        bool h, v;
        int phase;  // the library's effective phase for BayerMode 3
    };
    for (const Case& c : {Case{false, false, 3}, Case{false, true, 2}, Case{true, false, 1}, Case{true, true, 0}}) {
        ASSERT_TRUE(link().set_mirror(c.h, c.v));
        for (auto [wx, wy, ww, wh] : {std::array{0, 0, kW, kH}, std::array{200, 100, 64, 32}}) {
            ASSERT_TRUE(link().set_window(wx, wy, ww, wh));
            const auto f = grab16(static_cast<std::size_t>(ww * wh * 2));
            for (int y : {0, 1, 2, 7, wh - 1})
                for (int x : {0, 1, 2, 9, ww - 1})
                    ASSERT_EQ(sample16(f, static_cast<std::size_t>(y * ww + x)), value[colour_at(c.phase, x, y)])
                        << "h" << c.h << " v" << c.v << " window " << ww << " at " << x << "," << y;
        }
    }
    // An odd first row starts the window on a blue row.
    ASSERT_TRUE(link().set_mirror(false, false));
    ASSERT_TRUE(link().set_window(0, 1, 64, 32));
    const auto f = grab16(64 * 32 * 2);
    EXPECT_EQ(sample16(f, 0), 400);
    EXPECT_EQ(sample16(f, 1), 1600);
}

TEST_F(FramesTest, WindowAndMirrorCutTheSameScene) {
    const ZbxVcamScene scene = still_chart();
    ASSERT_EQ(ZbxVcam_SetScene(0, &scene), ZBX_VCAM_OK);
    const auto full = grab16();
    auto at = [&](int x, int y) { return sample16(full, static_cast<std::size_t>(y * kW + x)); };
    // The chart is not flat: patches, background and ramp differ.
    EXPECT_NE(at(100, 60), at(300, 60));
    EXPECT_NE(at(100, 650), at(1200, 650));

    const int x0 = 100, y0 = 30, w = 256, h = 100;
    ASSERT_TRUE(link().set_window(x0, y0, w, h));
    for (int m = 0; m < 4; ++m) {
        const bool mh = m & 1, mv = m & 2;
        ASSERT_TRUE(link().set_mirror(mh, mv));
        const auto f = grab16(static_cast<std::size_t>(w * h * 2));
        for (int i = 0; i < h; ++i)
            for (int j = 0; j < w; ++j) {
                const int sx = mh ? x0 + w - 1 - j : x0 + j;
                const int sy = mv ? y0 + h - 1 - i : y0 + i;
                ASSERT_EQ(sample16(f, static_cast<std::size_t>(i * w + j)), at(sx, sy))
                    << "mirror " << m << " at " << j << "," << i;
            }
    }
    // 8-bit samples are the 12-bit values without their low four bits.
    ASSERT_TRUE(link().set_mirror(false, false));
    ASSERT_TRUE(link().set_sixteen_bit(false));
    std::vector<std::uint8_t> f8;
    ASSERT_TRUE(link().grab(f8, static_cast<std::size_t>(w * h)));
    for (int i = 0; i < h; ++i)
        for (int j = 0; j < w; ++j) ASSERT_EQ(f8[static_cast<std::size_t>(i * w + j)], at(x0 + j, y0 + i) >> 4);
}

TEST_F(FramesTest, BrightnessRisesWithExposureAndGain) {
    const ZbxVcamScene scene = flat_scene(1000, 1000, 1000);
    ASSERT_EQ(ZbxVcam_SetScene(0, &scene), ZBX_VCAM_OK);
    EXPECT_EQ(mean16(grab16()), 1000.0);
    ASSERT_TRUE(link().write_sensor(15, 1274));
    EXPECT_EQ(mean16(grab16()), 2000.0);
    ASSERT_TRUE(link().write_sensor(15, 637 * 10));
    EXPECT_EQ(mean16(grab16()), 4095.0);  // saturated
    ASSERT_TRUE(link().write_sensor(15, 637));
    ASSERT_TRUE(link().write_sensor(35, 0x0404));
    ASSERT_TRUE(link().write_sensor(36, 0x0404));
    EXPECT_EQ(mean16(grab16()), 2000.0);
    ASSERT_TRUE(link().set_sixteen_bit(false));
    std::vector<std::uint8_t> f8;
    ASSERT_TRUE(link().grab(f8, 921600));
    EXPECT_TRUE(std::all_of(f8.begin(), f8.end(), [](std::uint8_t v) { return v == 2000 >> 4; }));

    // Over the library's gain table the chart brightens step by step.
    const ZbxVcamScene chart = still_chart();
    ASSERT_EQ(ZbxVcam_SetScene(0, &chart), ZBX_VCAM_OK);
    ASSERT_TRUE(link().write_sensor(15, 60));
    double previous = 0;
    for (std::uint16_t code : {0x02, 0x03, 0x14, 0x15, 0x16, 0x17, 0x38, 0x39, 0x3A, 0x3B, 0x3C, 0x3D}) {
        ASSERT_TRUE(link().write_sensor(35, static_cast<std::uint16_t>(code * 257)));
        ASSERT_TRUE(link().write_sensor(36, static_cast<std::uint16_t>(code * 257)));
        const double m = mean16(grab16());
        EXPECT_GT(m, previous) << "gain code " << code;
        previous = m;
    }
    // One colour's gain byte changes only that colour's samples.
    ASSERT_TRUE(link().write_sensor(35, 0x0204));  // red doubled
    const auto f = grab16();
    ASSERT_TRUE(link().write_sensor(35, 0x0202));
    const auto g = grab16();
    EXPECT_EQ(sample16(f, 0), sample16(g, 0));            // green
    EXPECT_EQ(sample16(f, kW), sample16(g, kW));          // blue
    EXPECT_NEAR(sample16(f, 1), 2 * sample16(g, 1), 1);   // red
}

TEST_F(FramesTest, DefectivePixelsStickAtSensorPositions) {
    const ZbxVcamScene scene = flat_scene(1000, 1000, 1000);
    ASSERT_EQ(ZbxVcam_SetScene(0, &scene), ZBX_VCAM_OK);
    const ZbxVcamDefect defects[] = {{10, 5, 4095, 0}, {1279, 719, 0, 0}, {640, 360, 3000, 0}};
    ASSERT_EQ(ZbxVcam_SetDefects(0, defects, 3), ZBX_VCAM_OK);
    ASSERT_TRUE(link().write_sensor(15, 1274));  // stuck values ignore exposure
    auto f = grab16();
    EXPECT_EQ(sample16(f, 5 * kW + 10), 4095);
    EXPECT_EQ(sample16(f, kH * kW - 1), 0);
    EXPECT_EQ(sample16(f, 360 * kW + 640), 3000);
    EXPECT_EQ(sample16(f, 5 * kW + 11), 2000);
    ASSERT_TRUE(link().set_mirror(true, true));
    f = grab16();
    EXPECT_EQ(sample16(f, (kH - 1 - 5) * kW + (kW - 1 - 10)), 4095);
    EXPECT_EQ(sample16(f, 0), 0);
    // A window that leaves them out shows none; one that holds one shows it moved.
    ASSERT_TRUE(link().set_mirror(false, false));
    ASSERT_TRUE(link().set_window(8, 4, 64, 32));
    f = grab16(64 * 32 * 2);
    EXPECT_EQ(sample16(f, 1 * 64 + 2), 4095);
    EXPECT_EQ(std::count_if(f.begin(), f.end(), [](std::uint8_t b) { return b == 0xFF; }), 1);
    ASSERT_EQ(ZbxVcam_SetDefects(0, nullptr, 0), ZBX_VCAM_OK);
    f = grab16(64 * 32 * 2);
    EXPECT_EQ(sample16(f, 1 * 64 + 2), 2000);
}

TEST_F(FramesTest, SquareMovesFromFrameToFrame) {
    const auto a = grab16();
    const auto b = grab16();
    int changed_rows = 0;
    for (int y = 0; y < kH; ++y) {
        const bool same = std::equal(a.begin() + y * kW * 2, a.begin() + (y + 1) * kW * 2, b.begin() + y * kW * 2);
        if (!same) {
            ++changed_rows;
            EXPECT_GE(y, 468);
            EXPECT_LT(y, 468 + 64);
        }
    }
    EXPECT_GT(changed_rows, 0);
}

TEST_F(FramesTest, NoiseVariesSamplesAroundTheScene) {
    ZbxVcamScene scene = flat_scene(1000, 1000, 1000);
    scene.noise = 30;
    ASSERT_EQ(ZbxVcam_SetScene(0, &scene), ZBX_VCAM_OK);
    const auto a = grab16();
    const auto b = grab16();
    EXPECT_NEAR(mean16(a), 1000.0, 3.0);
    double var = 0;
    for (std::size_t i = 0; i < a.size() / 2; ++i) var += std::pow(sample16(a, i) - 1000.0, 2);
    EXPECT_NEAR(std::sqrt(var / static_cast<double>(a.size() / 2)), 30.0, 3.0);
    EXPECT_NE(a, b);
}

}  // namespace
}  // namespace zbx::vcam::test
