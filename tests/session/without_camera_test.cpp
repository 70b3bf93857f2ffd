// A session whose device link is missing: which operations fail with code
// 1, which only post it, and which work regardless.
#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "session/adjustment_values.h"
#include "session/device_selection.h"
#include "session/format_settings.h"
#include "session/image_copy.h"
#include "session/persistence.h"
#include "session/zorbex.h"
#include "support/temp_dir.h"

namespace zbx::session {
namespace {

std::vector<std::intptr_t> drain(ZbxWindow window) {
    std::vector<std::intptr_t> codes;
    ZbxMessage m{};
    while (ZbxWin_PeekMessage(window, &m, 1) != 0) codes.push_back(m.lparam);
    return codes;
}

std::vector<int> history(CZorbex& s) {
    std::vector<int> codes;
    for (int c = s.pop_last_error(); c != 0; c = s.pop_last_error()) codes.push_back(c);
    return codes;
}

TEST(WithoutCamera, DeviceOperationsRecordCode1) {
    CZorbex s;  // never initialised: no sensor model
    int ok = -1;
    EXPECT_EQ(set_filter_value(s, 1, 0), 0);
    EXPECT_EQ(get_filter_value(s, 1, &ok), 0);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(get_real_exposure_time(s, &ok), 0);
    EXPECT_EQ(set_real_exposure_time(s, 1000), 0);
    EXPECT_EQ(set_mirror_h(s, 1), 0);
    EXPECT_EQ(get_mirror_h(s), 0);
    EXPECT_EQ(read_register(s, 46, &ok, false), 0);
    EXPECT_EQ(write_register(s, 46, 1, true), 0);
    EXPECT_EQ(get_image(s, &ok, 4, 1), 0);
    ZbxCameraInfo info{36, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(get_camera_info(s, &info), 0);
    EXPECT_EQ(set_device_number(s, 0), 0);
    EXPECT_EQ(history(s), std::vector<int>(11, 1));
    drain(nullptr);
}

TEST(WithoutCamera, VerticalMirrorIoPortAndRomOnlyPost) {
    drain(nullptr);
    CZorbex s;
    int ok = -1;
    unsigned char port = 0;
    EXPECT_EQ(set_mirror_v(s, 1), 0);
    EXPECT_EQ(get_mirror_v(s), 0);
    EXPECT_EQ(get_io_port(s, &port), 0);
    EXPECT_EQ(set_io_port(s, 1), 0);
    EXPECT_EQ(read_srom_id(s, 0, &ok), 0);
    EXPECT_EQ(write_srom_id(s, 0, 1), 0);
    EXPECT_TRUE(history(s).empty());
    // No notification window: the calling thread's queue gets them.
    EXPECT_EQ(drain(nullptr), std::vector<std::intptr_t>(6, 1));
}

TEST(WithoutCamera, StoredSettingsNeedNoCamera) {
    CZorbex s;
    EXPECT_EQ(set_color_mode(s, 48), 1);
    EXPECT_EQ(get_color_mode(s), 44);
    EXPECT_EQ(set_config_filter(s, 1), 1);
    EXPECT_EQ(set_auto_iris(s, 2), 1);
    EXPECT_EQ(set_wait_time(s, 5), 1);
    EXPECT_TRUE(history(s).empty());
}

TEST(DefectList, RecordsAreReadWholeAndReplaceTheList) {
    test::TempDir dir("zbxtest-defects-");
    const auto write = [&](const char* name, std::vector<std::int32_t> words, std::size_t extra) {
        std::ofstream out(dir / name, std::ios::binary);
        for (std::int32_t w : words)
            for (int i = 0; i < 4; ++i) out.put(static_cast<char>((static_cast<std::uint32_t>(w) >> (8 * i)) & 0xFF));
        for (std::size_t i = 0; i < extra; ++i) out.put('\x7F');
        return (dir / name).string();
    };
    CZorbex s;
    ASSERT_EQ(load_config_file(s, write("a.bin", {3, 719, -1, 0x12345678}, 4).c_str()), 1);
    ASSERT_EQ(s.defects().size(), 2u);
    EXPECT_EQ(s.defects()[0].x, 3);
    EXPECT_EQ(s.defects()[0].y, 719);
    EXPECT_EQ(s.defects()[1].x, -1);
    EXPECT_EQ(s.defects()[1].y, 0x12345678);
    ASSERT_EQ(load_config_file(s, write("b.bin", {7, 8}, 0).c_str()), 1);
    ASSERT_EQ(s.defects().size(), 1u);
    EXPECT_EQ(s.defects()[0].x, 7);
    // A missing file leaves the list; a short one empties it.
    EXPECT_EQ(load_config_file(s, (dir / "none").c_str()), 0);
    EXPECT_EQ(s.defects().size(), 1u);
    EXPECT_EQ(load_config_file(s, write("c.bin", {}, 7).c_str()), 1);
    EXPECT_TRUE(s.defects().empty());
    EXPECT_TRUE(history(s).empty());
}

}  // namespace
}  // namespace zbx::session
