// The published value table against the exports: every entry's range is
// what its setter accepts, and a first run starts at its default.
#include <gtest/gtest.h>

#include <climits>
#include <set>
#include <string>

#include "e2e_session.h"
#include "zorbex/values.h"

namespace zbx::test {
namespace {

ZbxValueInfo entry(int index) {
    ZbxValueInfo info{};
    EXPECT_EQ(ZbxValues_At(index, &info), 1);
    return info;
}

int read_value(ZbxHandle h, int id) {
    int ok = 1;
    int value = 0;
    switch (id) {
        case ZBX_SETTING_MIRROR_H: value = Zorbex_GetMirrorH(h); break;
        case ZBX_SETTING_MIRROR_V: value = Zorbex_GetMirrorV(h); break;
        case ZBX_SETTING_AUTO_IRIS: value = Zorbex_GetAutoIris(h, &ok); break;
        case ZBX_SETTING_DEFECT_CORRECTION: value = Zorbex_GetConfigFilter(h); break;
        default: value = Zorbex_GetFilterValue(h, id, &ok); break;
    }
    EXPECT_EQ(ok, 1);
    return value;
}

int write_value(ZbxHandle h, int id, int value) {
    switch (id) {
        case ZBX_SETTING_MIRROR_H: return Zorbex_SetMirrorH(h, value);
        case ZBX_SETTING_MIRROR_V: return Zorbex_SetMirrorV(h, value);
        case ZBX_SETTING_AUTO_IRIS: return Zorbex_SetAutoIris(h, value);
        case ZBX_SETTING_DEFECT_CORRECTION: return Zorbex_SetConfigFilter(h, value);
        default: return Zorbex_SetFilterValue(h, id, value);
    }
}

class ValueTable : public OpenSession, public testing::WithParamInterface<int> {};

TEST_P(ValueTable, RangeEndsAreAcceptedAndOneBeyondIsRefused) {
    const ZbxValueInfo v = entry(GetParam());
    EXPECT_EQ(write_value(h_, v.id, v.min), 1);
    EXPECT_EQ(write_value(h_, v.id, v.max), 1);
    const int at_max = read_value(h_, v.id);
    if (v.max < INT_MAX) {
        EXPECT_EQ(write_value(h_, v.id, v.max + 1), 0);
    }
    if (v.min > INT_MIN) {
        EXPECT_EQ(write_value(h_, v.id, v.min - 1), 0);
    }
    EXPECT_EQ(read_value(h_, v.id), at_max);
    if ((v.flags & ZBX_VALUE_SWITCH) != 0) {
        EXPECT_EQ(at_max, 1);
    }
}

TEST_P(ValueTable, AFirstRunStartsAtTheDefault) {
    const ZbxValueInfo v = entry(GetParam());
    EXPECT_EQ(read_value(h_, v.id), v.default_value);
}

INSTANTIATE_TEST_SUITE_P(EveryEntry, ValueTable, testing::Range(0, ZbxValues_Count()),
                         [](const testing::TestParamInfo<int>& p) { return std::string(entry(p.param).name); });

TEST(ValueTableLookup, IdsAreUniqueAndTheImageValuesLeadInOrder) {
    std::set<int> ids;
    for (int i = 0; i < ZbxValues_Count(); ++i) {
        const ZbxValueInfo v = entry(i);
        EXPECT_TRUE(ids.insert(v.id).second) << v.name;
        if (i < ZBX_ID_GRAY_AUTO_BALANCE) {
            EXPECT_EQ(v.id, i + 1);
        }
        EXPECT_LE(v.min, v.max) << v.name;
        EXPECT_EQ(ZbxValues_FindId(v.id), i);
        EXPECT_EQ(ZbxValues_Find(v.name), i);
    }
    EXPECT_GT(ZbxValues_Count(), ZBX_ID_GRAY_AUTO_BALANCE);
}

TEST(ValueTableLookup, NamesMatchWithoutCaseOrSeparatorsAndMissesAreRefused) {
    const int index = ZbxValues_FindId(ZBX_ID_BAYER_GAIN_RGB);
    for (const char* name : {"BayerGainRGB", "bayer_gain_rgb", "bayer-gain-rgb", "BAYERGAINRGB"})
        EXPECT_EQ(ZbxValues_Find(name), index) << name;
    for (const char* name : {"", "BayerGain", "BayerGainRGBs", "x"}) EXPECT_EQ(ZbxValues_Find(name), -1) << name;
    EXPECT_EQ(ZbxValues_Find(nullptr), -1);
    EXPECT_EQ(ZbxValues_FindId(0), -1);
    ZbxValueInfo untouched{};
    untouched.id = 77;
    EXPECT_EQ(ZbxValues_At(-1, &untouched), 0);
    EXPECT_EQ(ZbxValues_At(ZbxValues_Count(), &untouched), 0);
    EXPECT_EQ(untouched.id, 77);
    EXPECT_EQ(ZbxValues_At(0, nullptr), 0);
}

}  // namespace
}  // namespace zbx::test
