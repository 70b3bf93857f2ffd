// Device namespace: names, slots, several handles, the slot variable.
#include "vcam_link.h"

namespace zbx::vcam::test {
namespace {

using NamingTest = VcamTest;

TEST_F(NamingTest, NamesUseTheNumberTableWithNBeforeM) {
    ASSERT_EQ(ZbxVcam_SetSlots((1u << 0) | (1u << 22) | (1u << 23) | (1u << 31)), ZBX_VCAM_OK);
    EXPECT_EQ(ZbxVcam_GetSlots(), (1u << 0) | (1u << 22) | (1u << 23) | (1u << 31));
    for (const char* name : {"\\\\.\\Zbrx530RDNQT-0", "\\\\.\\Zbrx530RDNQT-N", "\\\\.\\Zbrx530RDNQT-M",
                             "\\\\.\\Zbrx530RDNQT-V"}) {
        port::DriverHandle h = port::driver_open(name);
        EXPECT_NE(h, port::kNullDriverHandle) << name;
        EXPECT_TRUE(port::driver_close(h));
    }
    // Slot 22 is N, slot 23 is M: the camera behind each name is its own.
    Link n(22), m(23);
    ASSERT_TRUE(n.write_sensor(0x100, 22));
    EXPECT_EQ(m.read_sensor(0x100), 0);
    EXPECT_EQ(n.read_sensor(0x100), 22);
}

TEST_F(NamingTest, OtherNamesDoNotOpen) {
    for (const char* name : {"\\\\.\\Zbrx530RDNQT-1", "\\\\.\\Zbrx530RDNQT-W", "\\\\.\\Zbrx530RDNQT-",
                             "\\\\.\\Zbrx530RDNQT-00", "\\\\.\\zbrx530rdnqt-0", "Zbrx530RDNQT-0",
                             "\\\\.\\Zbrx530RDNQT+0", ""}) {
        EXPECT_EQ(port::driver_open(name), port::kNullDriverHandle) << name;
    }
    EXPECT_EQ(port::driver_open(nullptr), port::kNullDriverHandle);
    EXPECT_FALSE(port::driver_close(port::kNullDriverHandle));
    EXPECT_FALSE(port::driver_close(12345));
}

TEST_F(NamingTest, SeveralHandlesShareOneCamera) {
    Link a, b, c;
    ASSERT_TRUE(a.is_open() && b.is_open() && c.is_open());
    EXPECT_NE(a.handle(), b.handle());
    ZbxVcamStats stats{};
    ASSERT_EQ(ZbxVcam_GetStats(0, &stats), ZBX_VCAM_OK);
    EXPECT_EQ(stats.open_handles, 3u);

    ASSERT_TRUE(a.write_sensor(15, 900));
    EXPECT_EQ(b.read_sensor(15), 900);
    // A frame read on one handle while another handle does register work.
    std::vector<std::uint8_t> frame;
    std::uint32_t got = 0;
    ASSERT_TRUE(c.grab(frame, 921600, &got));
    EXPECT_EQ(got, 921600u);

    port::DriverHandle h = port::driver_open(device_name(0).c_str());
    EXPECT_TRUE(port::driver_close(h));
    EXPECT_FALSE(port::driver_close(h));
    ASSERT_EQ(ZbxVcam_GetStats(0, &stats), ZBX_VCAM_OK);
    EXPECT_EQ(stats.open_handles, 3u);
}

TEST_F(NamingTest, RemovedCameraFailsOpenHandles) {
    Link link;
    ASSERT_TRUE(link.write_sensor(15, 700));
    ASSERT_EQ(ZbxVcam_SetSlots(0), ZBX_VCAM_OK);
    EXPECT_FALSE(link.write_sensor(15, 701));
    EXPECT_EQ(port::driver_open(device_name(0).c_str()), port::kNullDriverHandle);
    // A camera attached again is a fresh one.
    ASSERT_EQ(ZbxVcam_SetSlots(1), ZBX_VCAM_OK);
    Link again;
    EXPECT_EQ(again.read_sensor(15), 637);
}

TEST_F(NamingTest, SlotVariableChoosesCamerasAtReset) {
    struct Case {
        const char* value;
        std::uint32_t mask;
    };
    for (const Case& c : {Case{"0,3", 0b1001u}, Case{"5", 1u << 5}, Case{"", 0u}, Case{"none", 0u},
                          Case{" 7, 40,x,31 ,", (1u << 7) | (1u << 31)}, Case{"22,22", 1u << 22}}) {
        setenv("ZBX_VCAM_SLOTS", c.value, 1);
        ASSERT_EQ(ZbxVcam_Reset(), ZBX_VCAM_OK);
        EXPECT_EQ(ZbxVcam_GetSlots(), c.mask) << '"' << c.value << '"';
    }
    setenv("ZBX_VCAM_SLOTS", "0,3", 1);
    ASSERT_EQ(ZbxVcam_Reset(), ZBX_VCAM_OK);
    EXPECT_TRUE(Link(3).is_open());
    EXPECT_FALSE(Link(1).is_open());
    unsetenv("ZBX_VCAM_SLOTS");
    ASSERT_EQ(ZbxVcam_Reset(), ZBX_VCAM_OK);
    EXPECT_EQ(ZbxVcam_GetSlots(), 1u);
}

}  // namespace
}  // namespace zbx::vcam::test
