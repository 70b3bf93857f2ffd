// Register file, answers on pipe 1, serial ROM, frame size and sample width.
#include "vcam_link.h"

namespace zbx::vcam::test {
namespace {

using RegistersTest = VcamTest;

TEST_F(RegistersTest, SecondAnswerReadCarriesTheAnswer) {
    Link link;
    ASSERT_TRUE(link.write_sensor(0x0123, 0xA55A));
    ASSERT_TRUE(link.write_sensor(0x0124, 0x1234));
    ASSERT_TRUE(link.read_sensor(0x0123));
    // Next read command: the first read still shows the previous answer.
    ASSERT_TRUE(link.send(packet({0x0C, 0x01, 0x24})));
    Packet first{}, second{};
    std::uint32_t moved = 0;
    ASSERT_TRUE(link.transfer(1, first, &moved, port::kIoctlPipeTransferA));
    EXPECT_EQ(moved, 64u);
    ASSERT_TRUE(link.transfer(1, second, &moved, port::kIoctlPipeTransferA));
    EXPECT_EQ(moved, 64u);
    EXPECT_EQ(first[0], 0xA5);
    EXPECT_EQ(first[1], 0x5A);
    EXPECT_EQ(second[0], 0x12);
    EXPECT_EQ(second[1], 0x34);
    EXPECT_TRUE(std::all_of(second.begin() + 2, second.end(), [](std::uint8_t b) { return b == 0; }));
}

TEST_F(RegistersTest, SensorRegistersKeepWhatIsWritten) {
    Link link;
    EXPECT_EQ(link.read_sensor(46), 2944);
    EXPECT_EQ(link.read_sensor(15), 637);
    EXPECT_EQ(link.read_sensor(0x9000), 0);
    // The library's start-up: register 62 <- 0, table blocks, then block 3.
    ASSERT_TRUE(link.write_sensor(62, 0));
    for (std::uint16_t a = 0x8000; a < 0x9000; ++a)
        if ((a & 3) != 3) {
            ASSERT_TRUE(link.write_sensor(a, static_cast<std::uint16_t>(a ^ 0x5555)));
        }
    const std::pair<std::uint16_t, std::uint16_t> block3_sample[] = {
        {0, 514}, {2, 256}, {4, 0}, {7, 1288}, {15, 1598}, {35, 12850}, {36, 12850}, {46, 2944}, {63, 53248}, {255, 1}};
    for (auto [a, v] : block3_sample) ASSERT_TRUE(link.write_sensor(a, v));
    for (auto [a, v] : block3_sample) EXPECT_EQ(link.read_sensor(a), v) << a;
    EXPECT_EQ(link.read_sensor(0x8001), 0x8001 ^ 0x5555);
    EXPECT_EQ(link.read_sensor(0x8FFE), 0x8FFE ^ 0x5555);
    EXPECT_EQ(link.read_sensor(0x8003), 0);
    EXPECT_EQ(link.read_sensor(62), 0);
    std::uint16_t v = 0;
    ASSERT_EQ(ZbxVcam_GetSensorRegister(0, 7, &v), ZBX_VCAM_OK);
    EXPECT_EQ(v, 1288);

    // Camera initialise restarts the sensor.
    ASSERT_TRUE(link.send(packet({0x06})));
    EXPECT_EQ(link.read_sensor(7), 1280);
    EXPECT_EQ(link.read_sensor(15), 637);
    EXPECT_EQ(link.read_sensor(0x8001), 0);
    EXPECT_EQ(link.read_sensor(62), 1);
}

TEST_F(RegistersTest, ControllerRegisters) {
    Link link;
    EXPECT_EQ(link.read_controller(0), 0x00);  // 921,600 samples
    EXPECT_EQ(link.read_controller(1), 0x10);
    EXPECT_EQ(link.read_controller(2), 0x0E);
    EXPECT_EQ(link.read_controller(3), 0x00);
    EXPECT_EQ(link.read_controller(14), 4);
    EXPECT_EQ(link.read_controller(15), 2);
    EXPECT_EQ(link.read_controller(11), 0);
    for (std::uint8_t r : {7, 11, 15, 200}) ASSERT_TRUE(link.write_controller(r, static_cast<std::uint8_t>(r + 1)));
    for (std::uint8_t r : {7, 11, 15, 200}) EXPECT_EQ(link.read_controller(r), r + 1);
    // The sample-width command and register 14 are one setting.
    ASSERT_TRUE(link.send(packet({0x0A, 1})));
    EXPECT_EQ(link.read_controller(14), 5);
    ASSERT_TRUE(link.send(packet({0x0A, 0})));
    EXPECT_EQ(link.read_controller(14), 4);
    // The frame-size command fills controller registers 0 to 3.
    ASSERT_TRUE(link.set_frame_size(1048576));
    EXPECT_EQ(link.read_controller(0), 0x00);
    EXPECT_EQ(link.read_controller(1), 0x00);
    EXPECT_EQ(link.read_controller(2), 0x10);
    EXPECT_EQ(link.read_controller(3), 0x00);
}

TEST_F(RegistersTest, SerialRom) {
    Link link;
    const char identifier[] = "ZBX530RDNQT1000";
    for (std::size_t i = 0; i < sizeof identifier; ++i)
        EXPECT_EQ(link.read_rom(static_cast<std::uint16_t>(0x1800 + i)), static_cast<std::uint8_t>(identifier[i]));
    EXPECT_EQ(link.read_rom(0x1EB0), 1);
    EXPECT_EQ(link.read_rom(0x1900), 0xFF);

    ASSERT_EQ(ZbxVcam_SetRomByte(0, 0x1EB0, 2), ZBX_VCAM_OK);
    EXPECT_EQ(link.read_rom(0x1EB0), 2);
    ASSERT_TRUE(link.write_rom(0x1805, 0x42));
    std::uint8_t b = 0;
    ASSERT_EQ(ZbxVcam_GetRomByte(0, 0x1805, &b), ZBX_VCAM_OK);
    EXPECT_EQ(b, 0x42);
    EXPECT_EQ(link.read_rom(0x1805), 0x42);

    // Each camera has its own identifier.
    ASSERT_EQ(ZbxVcam_SetSlots(0b101), ZBX_VCAM_OK);
    EXPECT_EQ(Link(2).read_rom(0x180E), '2');
}

TEST_F(RegistersTest, ReplugRestoresPowerOnStateButKeepsRom) {
    Link link;
    ASSERT_TRUE(link.write_sensor(15, 1000));
    ASSERT_TRUE(link.write_controller(15, 0));
    ASSERT_TRUE(link.set_timeout(60000));
    ASSERT_TRUE(link.write_rom(0x1810, 7));
    ASSERT_EQ(ZbxVcam_Unplug(0), ZBX_VCAM_OK);
    ASSERT_EQ(ZbxVcam_Replug(0), ZBX_VCAM_OK);
    Link fresh;
    EXPECT_EQ(fresh.read_sensor(15), 637);
    EXPECT_EQ(fresh.read_controller(15), 2);
    EXPECT_EQ(fresh.read_rom(0x1810), 7);
    ZbxVcamStats stats{};
    ASSERT_EQ(ZbxVcam_GetStats(0, &stats), ZBX_VCAM_OK);
    EXPECT_EQ(stats.transfer_timeout_ms, 3000u);
}

}  // namespace
}  // namespace zbx::vcam::test
