#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "device/register_tables.h"
#include "device/zorbex_530_sdk.h"
#include "fake_driver.h"

namespace zbx::device {
namespace {

using testing::FakeDriver;
using testing::Outcome;
using testing::Request;
using SensorWrite = std::pair<std::uint16_t, std::uint16_t>;
using SensorWrites = std::vector<SensorWrite>;
using ControllerWrite = std::pair<std::uint8_t, std::uint8_t>;
using ControllerWrites = std::vector<ControllerWrite>;

TEST(SensorModel, ConstructionProbesAndProgramsCameraZero) {
    FakeDriver driver;
    driver.set_present("\\\\.\\Zbrx530RDNQT-N", true);
    CZorbex530SRXNQTSdk sensor;
    EXPECT_EQ(sensor.initialise_result(), 0);
    EXPECT_TRUE(sensor.is_present(0));
    EXPECT_TRUE(sensor.is_present(22));
    EXPECT_FALSE(sensor.is_present(23));
    EXPECT_STREQ(sensor.device_name(), "\\\\.\\Zbrx530RDNQT-0");
    EXPECT_TRUE(sensor.register_table_loaded());
    EXPECT_EQ(driver.open_handles(), 0u);

    const auto commands = driver.commands();
    // Sample width first (the command always carries 1), then camera initialise.
    ASSERT_GE(commands.size(), 3u);
    EXPECT_EQ(commands[0][0], 0x0A);
    EXPECT_EQ(commands[0][1], 1);
    EXPECT_EQ(commands[1][0], 0x25);
    EXPECT_EQ(commands[1][1], 14);
    EXPECT_EQ(commands[1][2], 4);
    EXPECT_EQ(commands[2][0], 0x06);

    const SensorWrites writes = driver.sensor_writes();
    const std::size_t table = 1 + 1536 * 2 + 136;
    ASSERT_GT(writes.size(), table);
    EXPECT_EQ(writes[0], SensorWrite(62, 0));
    const SensorWrites block1_head = {{0x8000, 13}, {0x8001, 832}, {0x8002, 18436},
                                      {0x8004, 17}, {0x8005, 960}, {0x8006, 18438}};
    EXPECT_TRUE(std::equal(block1_head.begin(), block1_head.end(), writes.begin() + 1));
    const SensorWrites block2_head = {{0x8800, 40963}, {0x8801, 4352}, {0x8802, 16384},
                                      {0x8804, 8194},  {0x8805, 4358}, {0x8806, 16384}};
    EXPECT_TRUE(std::equal(block2_head.begin(), block2_head.end(), writes.begin() + 1 + 1536));
    for (std::size_t i = 1; i <= 3072; ++i) {
        ASSERT_NE(writes[i].first & 3, 3) << i;
        if (i > 1 && i != 1537) {
            ASSERT_GT(writes[i].first, writes[i - 1].first) << i;
        }
    }
    EXPECT_EQ(writes[1536].first, 0x87FE);
    EXPECT_EQ(writes[3072].first, 0x8FFE);
    // Block 3 in writing order, ending with 251 = 16, 255 = 1.
    EXPECT_EQ(writes[3073], SensorWrite(0, 514));
    EXPECT_EQ(writes[3073 + 14], SensorWrite(15, 1598));
    EXPECT_EQ(writes[table - 2], SensorWrite(251, 16));
    EXPECT_EQ(writes[table - 1], SensorWrite(255, 1));

    // Then the full window, the exposure again, vertical mirror off, trigger off.
    const SensorWrites window(writes.begin() + table, writes.begin() + table + 4);
    EXPECT_EQ(window, (SensorWrites{{4, 64}, {5, 720}, {6, 132}, {7, 1280}}));
    const ControllerWrites controller = driver.controller_writes();
    const ControllerWrites frame_size = {{0, 0x00}, {1, 0x10}, {2, 0x0E}, {3, 0x00}};
    EXPECT_NE(std::search(controller.begin(), controller.end(), frame_size.begin(), frame_size.end()),
              controller.end());
    EXPECT_EQ(controller.back(), ControllerWrite(11, 0));
    EXPECT_EQ(driver.sensor[1], 0);
    EXPECT_EQ(driver.sensor[2] & 1, 1);  // vertical mirror off sets bit 0
    EXPECT_FALSE(sensor.trigger_mode());
    EXPECT_EQ(sensor.frame_sample_count(), 921'600u);
    EXPECT_FALSE(sensor.large_frame());
}

TEST(SensorModel, InitialiseRefusesNumbersAbove32) {
    FakeDriver driver;
    CZorbex530SRXNQTSdk sensor;
    driver.clear_log();
    EXPECT_EQ(sensor.initialise(33), kCodeBadDevice);
    EXPECT_TRUE(driver.commands().empty());
}

TEST(SensorModel, WindowRegistersAndRefusals) {
    FakeDriver driver;
    CZorbex530SRXNQTSdk sensor;
    driver.clear_log();
    // Columns 0..5 and rows 0..3 are read out: the even window holding
    // columns 1..5 and rows 1..3; lines are transferred whole and cropped.
    EXPECT_EQ(sensor.set_window(1, 1, 5, 3, 0), 0);
    SensorWrites writes = driver.sensor_writes();
    ASSERT_GE(writes.size(), 4u);
    EXPECT_EQ(SensorWrites(writes.begin(), writes.begin() + 4), (SensorWrites{{4, 64}, {5, 4}, {6, 132}, {7, 6}}));
    EXPECT_EQ(sensor.frame_sample_count(), 1024u);
    EXPECT_EQ(sensor.written_sample_count(), 1024u);
    const ControllerWrites controller = driver.controller_writes();
    EXPECT_EQ(controller, (ControllerWrites{{0, 0x00}, {1, 0x04}, {2, 0x00}, {3, 0x00}}));
    EXPECT_EQ(sensor.window_x(), 1);
    EXPECT_EQ(sensor.window_width(), 5);
    EXPECT_EQ(sensor.pitch(), 6);
    EXPECT_EQ(sensor.total_lines(), 4);
    EXPECT_EQ(sensor.output_width(), 5);
    EXPECT_EQ(sensor.line_count(), 3);
    EXPECT_EQ(sensor.x_offset(), 1);
    EXPECT_EQ(sensor.first_line(), 1);
    // Mirroring flips the read-out window: the crop moves to the other side.
    sensor.set_horizontal_mirror(true);
    sensor.set_vertical_mirror(true);
    EXPECT_EQ(sensor.x_offset(), 0);
    EXPECT_EQ(sensor.first_line(), 0);
    // At the right and bottom edges the read-out stays inside the sensor.
    ASSERT_EQ(sensor.set_window(1275, 717, 5, 3, 0), 0);
    EXPECT_EQ(driver.sensor[6], 1274 + 132);
    EXPECT_EQ(driver.sensor[7], 6);
    EXPECT_EQ(driver.sensor[4], 716 + 64);
    EXPECT_EQ(driver.sensor[5], 4);
    EXPECT_EQ(sensor.x_offset(), 0);
    EXPECT_EQ(sensor.first_line(), 0);
    sensor.set_horizontal_mirror(false);
    sensor.set_vertical_mirror(false);
    EXPECT_EQ(sensor.x_offset(), 1);
    EXPECT_EQ(sensor.first_line(), 1);

    driver.clear_log();
    EXPECT_EQ(sensor.set_window(-1, 0, 100, 100, 0), 1);
    EXPECT_EQ(sensor.set_window(0, -1, 100, 100, 0), 1);
    EXPECT_EQ(sensor.set_window(0, 0, 3, 100, 0), 1);
    EXPECT_EQ(sensor.set_window(0, 0, 2, 2, 0), 1);
    EXPECT_EQ(sensor.set_window(0, 0, 100, 0, 0), 1);
    EXPECT_EQ(sensor.set_window(1, 0, 1280, 720, 0), 1);
    EXPECT_EQ(sensor.set_window(0, 1, 1280, 720, 0), 1);
    EXPECT_EQ(sensor.set_window(0, 0, 1280, 720, 4), 1);
    EXPECT_EQ(sensor.set_window(0, 0, 1280, 720, 16), 1);
    EXPECT_TRUE(driver.requests().empty());
    EXPECT_EQ(sensor.window_x(), 1275);
    EXPECT_EQ(sensor.set_window(0, 0, 1280, 720, 18), 0);
    EXPECT_EQ(sensor.subsample_mode(), 18);
}

TEST(SensorModel, ExposureDelayFollowsModeAndHeight) {
    FakeDriver driver;
    CZorbex530SRXNQTSdk sensor;
    driver.clear_log();
    EXPECT_EQ(sensor.set_exposure(0), 1);
    EXPECT_EQ(driver.sensor_writes(), (SensorWrites{{14, 124}, {15, 1}}));
    driver.clear_log();
    sensor.set_exposure(800);
    EXPECT_EQ(driver.sensor_writes(), (SensorWrites{{14, 81}, {15, 800}}));
    EXPECT_EQ(sensor.exposure(), 800);
    driver.clear_log();
    sensor.set_exposure(40000);
    EXPECT_EQ(driver.sensor_writes(), (SensorWrites{{14, 32767 - 720 + 1}, {15, 32767}}));

    sensor.set_sample_width(true);
    driver.clear_log();
    sensor.set_exposure(1000);
    EXPECT_EQ(driver.sensor_writes(), (SensorWrites{{14, 962}, {15, 1000}}));
    driver.clear_log();
    sensor.set_exposure(1682);
    EXPECT_EQ(driver.sensor_writes(), (SensorWrites{{14, 963}, {15, 1682}}));

    ASSERT_EQ(sensor.set_trigger_mode(true), 1);
    driver.clear_log();
    sensor.set_exposure(725);
    EXPECT_EQ(driver.sensor_writes(), (SensorWrites{{14, 6}, {15, 725}}));
    driver.clear_log();
    sensor.set_exposure(726);
    EXPECT_EQ(driver.sensor_writes(), (SensorWrites{{14, 7}, {15, 726}}));

    // A failed read of register 15 programs the minimum.
    driver.hook = [](const Request& r, std::size_t) -> std::optional<Outcome> {
        if (r.pipe == 1) return Outcome{false, 0};
        return std::nullopt;
    };
    ASSERT_EQ(sensor.set_window(0, 0, 640, 480, 0), 0);
    EXPECT_EQ(driver.sensor[15], 1);
}

TEST(SensorModel, GainCodesAndReadBack) {
    FakeDriver driver;
    CZorbex530SRXNQTSdk sensor;
    driver.clear_log();
    EXPECT_EQ(sensor.set_global_gain(12), 1);
    EXPECT_EQ(driver.sensor_writes(), (SensorWrites{{35, 0}, {36, 0}}));
    EXPECT_EQ(sensor.global_gain(), 0);
    driver.clear_log();
    sensor.set_global_gain(5);
    EXPECT_EQ(driver.sensor_writes(), (SensorWrites{{35, 0x1717}, {36, 0x1717}}));
    EXPECT_EQ(sensor.global_gain(), 5);
    sensor.set_global_gain(9);
    EXPECT_EQ(sensor.global_gain(), 9);
    sensor.set_global_gain(0x100 + 2);  // only the low byte counts
    EXPECT_EQ(driver.sensor[35], 0x1414);
    sensor.set_global_gain(200);  // limited to 12
    EXPECT_EQ(driver.sensor[35], 0);
}

TEST(SensorModel, MirrorsLatchRegisterTwo) {
    FakeDriver driver;
    CZorbex530SRXNQTSdk sensor;
    driver.sensor[2] = 3;
    driver.clear_log();
    EXPECT_EQ(sensor.set_horizontal_mirror(true), 0);
    EXPECT_EQ(driver.sensor_writes(), (SensorWrites{{1, 1}, {2, 1}, {1, 0}}));
    EXPECT_TRUE(sensor.horizontal_mirror());
    driver.clear_log();
    sensor.set_vertical_mirror(true);
    EXPECT_EQ(driver.sensor_writes(), (SensorWrites{{1, 1}, {2, 0}, {1, 0}}));
    driver.clear_log();
    sensor.set_horizontal_mirror(false);
    EXPECT_EQ(driver.sensor_writes(), (SensorWrites{{1, 1}, {2, 2}, {1, 0}}));
    EXPECT_FALSE(sensor.horizontal_mirror());
    EXPECT_TRUE(sensor.vertical_mirror());
}

TEST(SensorModel, TriggerModeReadoutAndSampleWidth) {
    FakeDriver driver;
    CZorbex530SRXNQTSdk sensor;
    driver.sensor[46] = 2944;
    driver.sensor[15] = 1598;
    driver.clear_log();
    const auto begun = std::chrono::steady_clock::now();
    EXPECT_EQ(sensor.set_trigger_mode(true), 1);
    // 1598 x 2950 / 80000 + 100 = 158 ms for the frame in flight.
    EXPECT_GE(std::chrono::steady_clock::now() - begun, std::chrono::milliseconds(158));
    EXPECT_TRUE(sensor.trigger_mode());
    const auto commands = driver.commands();
    std::vector<std::uint8_t> latch_on(64, 0);
    latch_on[0] = 0x04;
    latch_on[2] = 1;
    latch_on[4] = 1;
    EXPECT_EQ(commands.at(0), latch_on);
    EXPECT_EQ(commands.at(1)[0], 0x01);
    EXPECT_EQ(driver.controller_writes(), (ControllerWrites{{11, 1}}));
    EXPECT_EQ(driver.sensor[14], 1598 - 720 + 1);

    driver.clear_log();
    EXPECT_EQ(sensor.set_trigger_mode(false), 1);
    EXPECT_EQ(driver.controller_writes(), (ControllerWrites{{11, 0}}));
    EXPECT_FALSE(sensor.trigger_mode());

    driver.hook = [](const Request& r, std::size_t) -> std::optional<Outcome> {
        if (r.pipe == 0 && r.data[0] == 0x25) return Outcome{false, 0};
        return std::nullopt;
    };
    EXPECT_EQ(sensor.set_trigger_mode(false), 0);
    driver.hook = [](const Request& r, std::size_t) -> std::optional<Outcome> {
        if (r.pipe == 0 && r.data[0] == 0x04) return Outcome{false, 0};
        return std::nullopt;
    };
    driver.clear_log();
    EXPECT_EQ(sensor.set_trigger_mode(true), 0);
    EXPECT_EQ(driver.commands().size(), 1u);  // nothing after the failed write
    driver.hook = nullptr;

    driver.sensor[80] = 0x10;
    EXPECT_EQ(sensor.set_readout_option(2), 1);
    EXPECT_EQ(driver.sensor[80], 0x11);
    EXPECT_EQ(sensor.readout_option(), 2);
    sensor.set_readout_option(0);
    EXPECT_EQ(driver.sensor[80], 0x10);

    driver.clear_log();
    EXPECT_EQ(sensor.set_sample_width(true), 1);
    EXPECT_TRUE(sensor.sixteen_bit());
    EXPECT_EQ(driver.commands().at(0)[1], 1);
    EXPECT_EQ(driver.controller_writes(), (ControllerWrites{{14, 5}}));
}

TEST(SensorModel, RegisterAccessAndConstants) {
    FakeDriver driver;
    CZorbex530SRXNQTSdk sensor;
    EXPECT_TRUE(sensor.write_clock(3));
    std::uint8_t byte = 0;
    EXPECT_TRUE(sensor.read_clock(&byte));
    EXPECT_EQ(byte, 3);
    EXPECT_TRUE(sensor.write_io_port(0xA5));
    EXPECT_EQ(driver.controller[7], 0xA5);
    EXPECT_TRUE(sensor.read_io_port(&byte));
    EXPECT_EQ(byte, 0xA5);
    EXPECT_TRUE(sensor.write_identifier(4, 0x42));
    EXPECT_TRUE(sensor.read_identifier(4, &byte));
    EXPECT_EQ(byte, 0x42);
    driver.rom[0x1EB0] = 9;
    EXPECT_TRUE(sensor.read_rom(0x1EB0, &byte));
    EXPECT_EQ(byte, 9);
    EXPECT_EQ(CZorbex530SRXNQTSdk::min_exposure(), 1);
    EXPECT_EQ(CZorbex530SRXNQTSdk::max_exposure(), 32767);
    EXPECT_EQ(CZorbex530SRXNQTSdk::default_exposure(), 637);
    EXPECT_EQ(CZorbex530SRXNQTSdk::max_gain_index(), 11);
    EXPECT_FALSE(CZorbex530SRXNQTSdk::auto_iris_supported());
}

TEST(SensorModel, AbsentCameraLeavesNoHandle) {
    FakeDriver driver;
    driver.set_present("\\\\.\\Zbrx530RDNQT-0", false);
    CZorbex530SRXNQTSdk sensor;
    EXPECT_EQ(sensor.initialise_result(), 0);
    EXPECT_FALSE(sensor.is_present(0));
    EXPECT_TRUE(driver.requests().empty());
    EXPECT_EQ(sensor.exposure(), 0);
    EXPECT_EQ(sensor.read_single_frame(), kCodeNoDevice);
    EXPECT_EQ(driver.open_handles(), 0u);
}

}  // namespace
}  // namespace zbx::device
