// Defect-pixel correction: neighbour means, borders, adjacent defects,
// positions outside the region or the frame, mirroring, sub-sampling.
#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "adjust_test_support.h"
#include "pipeline/defect_correction.h"

namespace zbx::pipeline {
namespace {

using testing::Frame;

// A 16 x 8 frame read from sensor columns 100..115; unmirrored, its rows
// are sensor rows 669 (first in memory) down to 662 (last).
constexpr DefectRegion kRegion{100, 50, 16, 8, false, false, 1};

DefectPosition listed(std::int32_t u, std::int32_t memory_row) {
    return {100 + u, 662 + (7 - memory_row)};
}

Frame cross(std::int32_t bpp) {
    Frame f(16, 8, bpp);
    f.fill(0);
    f.set(4, 3, 0, 10);  // left
    f.set(6, 3, 0, 20);  // right
    f.set(5, 4, 0, 30);  // below
    f.set(5, 2, 0, 41);  // above
    f.set(5, 3, 0, 255);
    return f;
}

TEST(DefectCorrection, MeanOfTheFourNeighbours) {
    for (std::int32_t bpp : {1, 2}) {
        Frame f = cross(bpp);
        if (bpp == 2) f.set(5, 3, 0, 4095);
        const std::vector<DefectPosition> list{listed(5, 3)};
        EXPECT_EQ(CorrectDefects(f.plane(), list, kRegion), 1);
        EXPECT_EQ(f.get(5, 3), 25);  // (10 + 20 + 30 + 41) / 4
        EXPECT_EQ(f.get(4, 3), 10);
    }
}

TEST(DefectCorrection, BorderAndLoneCases) {
    Frame f(16, 8, 1);
    f.fill(0);
    f.set(1, 3, 0, 20);
    f.set(0, 4, 0, 30);
    f.set(0, 2, 0, 41);
    f.set(0, 3, 0, 200);
    const std::vector<DefectPosition> edge{listed(0, 3)};
    CorrectDefects(f.plane(), edge, kRegion);
    EXPECT_EQ(f.get(0, 3), 30);  // (20 + 30 + 41) / 3, no left neighbour

    // A corner has two neighbours.
    f.set(15, 0, 0, 99);
    f.set(14, 0, 0, 10);
    f.set(15, 1, 0, 21);
    const std::vector<DefectPosition> corner{listed(15, 0)};
    CorrectDefects(f.plane(), corner, kRegion);
    EXPECT_EQ(f.get(15, 0), 15);

    // A single pixel has no neighbour and stays.
    Frame one(1, 1, 1);
    one.set(0, 0, 0, 77);
    const DefectRegion tiny{100, 50, 1, 1, false, false, 1};
    const std::vector<DefectPosition> alone{{100, 669}};
    EXPECT_EQ(CorrectDefects(one.plane(), alone, tiny), 0);
    EXPECT_EQ(one.get(0, 0), 77);
}

TEST(DefectCorrection, AdjacentDefectsReachPastEachOther) {
    Frame f = cross(1);
    f.set(7, 3, 0, 60);
    f.set(6, 3, 0, 250);
    f.set(6, 4, 0, 8);
    f.set(6, 2, 0, 12);
    const std::vector<DefectPosition> list{listed(5, 3), listed(6, 3)};
    CorrectDefects(f.plane(), list, kRegion);
    EXPECT_EQ(f.get(5, 3), (10 + 60 + 30 + 41) / 4);  // right neighbour beyond (6, 3)
    EXPECT_EQ(f.get(6, 3), (10 + 60 + 8 + 12) / 4);   // left neighbour beyond (5, 3)

    // A column of three: the middle one searches past both.
    Frame g(16, 8, 1);
    g.fill(100);
    g.set(3, 0, 0, 40);
    g.set(3, 6, 0, 80);
    const std::vector<DefectPosition> column{listed(3, 2), listed(3, 3), listed(3, 4),
                                             listed(3, 5), listed(3, 1)};
    CorrectDefects(g.plane(), column, kRegion);
    EXPECT_EQ(g.get(3, 3), (100 + 100 + 40 + 80) / 4);
}

TEST(DefectCorrection, OutsideTheRegionOrFrameIsLeftAlone) {
    Frame f = cross(1);
    const Frame before = f;
    const std::vector<DefectPosition> outside{
        {99, 665}, {116, 665}, {105, 661}, {105, 670}, {INT_MIN, INT_MIN}, {INT_MAX, 665}};
    EXPECT_EQ(CorrectDefects(f.plane(), outside, kRegion), 0);
    EXPECT_EQ(f.store, before.store);
    const DefectRegion mirrored{100, 50, 16, 8, true, true, 1};
    EXPECT_EQ(CorrectDefects(f.plane(), outside, mirrored), 0);
    EXPECT_EQ(f.store, before.store);

    // A frame smaller than the region: positions beyond it are skipped,
    // never read or written (the store is exactly the frame's size).
    Frame small(8, 4, 2);
    small.fill(500);
    const Frame small_before = small;
    const std::vector<DefectPosition> beyond{{100 + 10, 665}, {100 + 2, 662 + 6}};
    EXPECT_EQ(CorrectDefects(small.plane(), beyond, kRegion), 0);
    EXPECT_EQ(small.store, small_before.store);
    EXPECT_EQ(CorrectDefects(f.plane(), {}, kRegion), 0);
}

TEST(DefectCorrection, MirroredNarrowRegion) {
    // Mirrored both ways: column window 1164..1179 (X = 1279 - x) and row
    // window 50..57 (Y = 719 - y); frame row j counts from the last row.
    const DefectRegion mirrored{100, 50, 16, 8, true, true, 1};
    Frame f(16, 8, 1);
    f.fill(0);
    // u = 3, j = 2 -> memory row 5.
    f.set(2, 5, 0, 10);
    f.set(4, 5, 0, 20);
    f.set(3, 6, 0, 30);
    f.set(3, 4, 0, 40);
    f.set(3, 5, 0, 255);
    const std::vector<DefectPosition> list{{1279 - 1167, 719 - 52}};
    EXPECT_EQ(CorrectDefects(f.plane(), list, mirrored), 1);
    EXPECT_EQ(f.get(3, 5), 25);
    // The unmirrored entry of pixel (3, 5) lands elsewhere when mirrored:
    // X = 1176 -> column 12, Y = 55 -> j 5, memory row 2.
    f.set(3, 5, 0, 255);
    f.set(12, 2, 0, 255);
    const std::vector<DefectPosition> plain{listed(3, 5)};
    EXPECT_EQ(CorrectDefects(f.plane(), plain, mirrored), 1);
    EXPECT_EQ(f.get(3, 5), 255);
    EXPECT_EQ(f.get(12, 2), 0);
}

TEST(DefectCorrection, FullWidthMirrorKeepsTheWindow) {
    const DefectRegion full{0, 0, kSensorWidth, kSensorHeight, true, true, 1};
    Frame f(kSensorWidth, kSensorHeight, 1);
    f.fill(0);
    // (0, 0) mirrored both ways is column 1279 of the first memory row.
    f.set(1279, 0, 0, 255);
    f.set(1278, 0, 0, 10);
    f.set(1279, 1, 0, 31);
    const std::vector<DefectPosition> list{{0, 0}};
    EXPECT_EQ(CorrectDefects(f.plane(), list, full), 1);
    EXPECT_EQ(f.get(1279, 0), 20);
    // Unmirrored, (0, 0) is the first column of the last memory row.
    const DefectRegion plain{0, 0, kSensorWidth, kSensorHeight, false, false, 1};
    f.set(0, 719, 0, 255);
    f.set(1, 719, 0, 7);
    f.set(0, 718, 0, 9);
    CorrectDefects(f.plane(), list, plain);
    EXPECT_EQ(f.get(0, 719), 8);
}

TEST(DefectCorrection, SubSampledFrameTakesTheCellOfAPosition) {
    const DefectRegion half{0, 0, kSensorWidth, kSensorHeight, false, false, 2};
    Frame f(640, 360, 2);
    f.fill(1000);
    // Sensor (11, 5) -> frame column 5, row j 2 -> memory row 357.
    f.set(5, 357, 0, 4000);
    f.set(4, 357, 0, 1200);
    const std::vector<DefectPosition> list{{11, 5}, {10, 4}, {2000, 5}, {11, 900}};
    EXPECT_EQ(CorrectDefects(f.plane(), list, half), 2);  // the same cell twice
    EXPECT_EQ(f.get(5, 357), (1200 + 1000 + 1000 + 1000) / 4);
}

}  // namespace
}  // namespace zbx::pipeline
