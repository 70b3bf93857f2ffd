#include "device/driver_requests.h"

#include <gtest/gtest.h>

#include <chrono>

#include "fake_driver.h"

namespace zbx::device {
namespace {

using testing::FakeDriver;
using testing::Outcome;
using testing::Request;

constexpr const char* kName = "\\\\.\\Zbrx530RDNQT-0";
constexpr const char* kAbsent = "\\\\.\\Zbrx530RDNQT-5";

std::vector<std::uint8_t> packet(std::initializer_list<std::uint8_t> head) {
    std::vector<std::uint8_t> p(64, 0);
    std::copy(head.begin(), head.end(), p.begin());
    return p;
}

TEST(RawRequests, ChecksBufferBeforeHandleAndMapsTheCodes) {
    FakeDriver driver;
    std::uint8_t data[8] = {};
    std::uint32_t moved = 99;
    EXPECT_EQ(pipe_transfer(0, 0, 8, nullptr, TransferForm::kA, &moved), kRequestNullBuffer);
    EXPECT_EQ(pipe_transfer(0, 0, 8, data, TransferForm::kA, &moved), kRequestNullHandle);
    EXPECT_EQ(large_pipe_transfer(0, 0, 8, nullptr, TransferForm::kB, &moved), kRequestNullBuffer);
    EXPECT_TRUE(driver.requests().empty());

    DriverHandle handle = open_device(kName);
    ASSERT_NE(handle, platform::kNullDriverHandle);
    EXPECT_EQ(pipe_transfer(handle, 1, 8, data, TransferForm::kA, &moved), kRequestOk);
    EXPECT_EQ(moved, 8u);
    EXPECT_EQ(pipe_transfer(handle, 2, 8, data, TransferForm::kB, &moved), kRequestOk);
    EXPECT_EQ(large_pipe_transfer(handle, 2, 8, data, TransferForm::kA, &moved), kRequestOk);
    EXPECT_EQ(large_pipe_transfer(handle, 2, 8, data, TransferForm::kB, &moved), kRequestOk);
    EXPECT_EQ(pipe_transfer(handle, 7, 8, data, TransferForm::kB, &moved), kRequestFailed);
    const auto log = driver.requests();
    ASSERT_EQ(log.size(), 5u);
    EXPECT_EQ(log[0].code, 0x22204Eu);
    EXPECT_EQ(log[1].code, 0x222051u);
    EXPECT_EQ(log[2].code, 0x2220A6u);
    EXPECT_EQ(log[3].code, 0x2220A9u);
    EXPECT_EQ(log[4].pipe, 7u);

    EXPECT_EQ(settings_request(0, make_transfer_timeout_record(5)), 0);
    EXPECT_EQ(settings_request(handle, make_transfer_timeout_record(5)), 1);
    EXPECT_TRUE(close_device(handle));
    EXPECT_EQ(handle, platform::kNullDriverHandle);
    EXPECT_FALSE(close_device(handle));
    EXPECT_EQ(driver.open_handles(), 0u);
}

TEST(PacketTransfers, ReportWrongByteCountsAndMissingHandles) {
    FakeDriver driver;
    Packet buffer{};
    EXPECT_EQ(packet_write(0, 0, 64, buffer.data()), kLinkNoHandle);
    EXPECT_EQ(packet_read(0, 1, 64, buffer.data()), kLinkNoHandle);

    DriverHandle handle = open_device(kName);
    EXPECT_EQ(packet_write(handle, 0, 64, buffer.data()), kLinkOk);
    EXPECT_EQ(packet_read(handle, 1, 64, buffer.data()), kLinkOk);
    // A driver that completes 63 of 64 bytes has failed the transfer.
    driver.hook = [](const Request&, std::size_t) { return Outcome{true, 63}; };
    EXPECT_EQ(packet_write(handle, 0, 64, buffer.data()), kLinkTransferFailed);
    EXPECT_EQ(packet_read(handle, 1, 64, buffer.data()), kLinkTransferFailed);
    driver.hook = [](const Request&, std::size_t) { return Outcome{true, 65}; };
    EXPECT_EQ(packet_write(handle, 0, 64, buffer.data()), kLinkTransferFailed);
    driver.hook = [](const Request&, std::size_t) { return Outcome{false, 64}; };
    EXPECT_EQ(packet_read(handle, 1, 64, buffer.data()), kLinkTransferFailed);
    driver.hook = nullptr;
    const auto log = driver.requests();
    EXPECT_EQ(log[0].code, 0x222051u);  // writes use form B
    EXPECT_EQ(log[1].code, 0x22204Eu);  // reads use form A
    close_device(handle);
}

TEST(PacketTransfers, PayloadCommandCarriesAtMost63Bytes) {
    FakeDriver driver;
    DriverHandle handle = open_device(kName);
    std::vector<std::uint8_t> payload(80);
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i + 1);
    EXPECT_EQ(command_with_payload(handle, 80, payload.data()), kLinkOk);
    const auto sent = driver.commands().at(0);
    ASSERT_EQ(sent.size(), 64u);
    EXPECT_EQ(sent[0], 0x04);
    EXPECT_EQ(sent[1], 1);
    EXPECT_EQ(sent[63], 63);
    close_device(handle);
}

TEST(PacketTransfers, ReadExchangeUsesOnlyTheSecondAnswer) {
    FakeDriver driver;
    driver.sensor[0x1234] = 0xBEEF;
    DriverHandle handle = open_device(kName);
    std::uint8_t out[2] = {};
    EXPECT_EQ(sensor_read_exchange(handle, 0x1234, out, 2), kLinkOk);
    EXPECT_EQ(out[0], 0xBE);
    EXPECT_EQ(out[1], 0xEF);
    auto log = driver.requests();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].data, packet({0x0C, 0x12, 0x34}));
    EXPECT_EQ(log[1].pipe, 1u);
    EXPECT_EQ(log[2].pipe, 1u);

    // First read fails, second succeeds: success.  The reverse: failure.
    driver.clear_log();
    driver.hook = [](const Request& r, std::size_t i) -> std::optional<Outcome> {
        if (r.pipe == 1 && i == 1) return Outcome{false, 0};
        return std::nullopt;
    };
    EXPECT_EQ(sensor_read_exchange(handle, 0x1234, out, 2), kLinkOk);
    driver.clear_log();
    driver.hook = [](const Request& r, std::size_t i) -> std::optional<Outcome> {
        if (r.pipe == 1 && i == 2) return Outcome{false, 0};
        return std::nullopt;
    };
    EXPECT_EQ(sensor_read_exchange(handle, 0x1234, out, 2), kLinkTransferFailed);

    // A failed command write is returned as is and nothing is read.
    driver.clear_log();
    driver.hook = [](const Request& r, std::size_t) -> std::optional<Outcome> {
        if (r.pipe == 0) return Outcome{false, 0};
        return std::nullopt;
    };
    EXPECT_EQ(sensor_read_exchange(handle, 0x1234, out, 2), kLinkTransferFailed);
    EXPECT_EQ(driver.requests().size(), 1u);
    close_device(handle);
}

TEST(DeviceOperations, RegisterPacketsAndValues) {
    FakeDriver driver;
    EXPECT_TRUE(sensor_register_write(kName, 0x0102, 0xA1B2));
    EXPECT_TRUE(controller_register_write(kName, 14, 5));
    EXPECT_EQ(driver.commands().at(0), packet({0x04, 0x01, 0x02, 0xA1, 0xB2}));
    EXPECT_EQ(driver.commands().at(1), packet({0x25, 14, 5}));

    std::uint16_t value = 1;
    EXPECT_TRUE(sensor_register_read(kName, 0x0102, &value));
    EXPECT_EQ(value, 0xA1B2);
    std::uint8_t byte = 1;
    EXPECT_TRUE(controller_register_read(kName, 14, &byte));
    EXPECT_EQ(byte, 5);
    EXPECT_EQ(driver.commands().back(), packet({0x26, 14}));

    driver.clear_log();
    EXPECT_TRUE(send_frame_size(kName, 1'048'576));
    EXPECT_TRUE(send_sample_width(kName, true));
    EXPECT_TRUE(prepare_frame(kName));
    camera_initialise(kName);
    const auto commands = driver.commands();
    ASSERT_EQ(commands.size(), 4u);
    EXPECT_EQ(commands[0], packet({0x09, 0x00, 0x00, 0x10, 0x00}));
    EXPECT_EQ(commands[1], packet({0x0A, 0x01}));
    EXPECT_EQ(commands[2], packet({0x01}));
    EXPECT_EQ(commands[3], packet({0x06}));

    driver.clear_log();
    set_transfer_timeout(kName, 60000);
    const auto log = driver.requests();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].code, 0x2220A0u);
    EXPECT_EQ(log[0].length, 0u);
    std::vector<std::uint8_t> record(44, 0);
    record[0] = 1;
    record[4] = 0x60;
    record[5] = 0xEA;
    EXPECT_EQ(log[0].data, record);
    EXPECT_EQ(driver.open_handles(), 0u);
}

TEST(DeviceOperations, FailuresYieldZeroAndCloseTheHandle) {
    FakeDriver driver;
    driver.sensor[3] = 77;
    driver.controller[3] = 77;
    std::uint16_t value = 9;
    std::uint8_t byte = 9;
    EXPECT_FALSE(sensor_register_write(kAbsent, 1, 1));
    EXPECT_FALSE(sensor_register_read(kAbsent, 3, &value));
    EXPECT_EQ(value, 0);
    EXPECT_FALSE(controller_register_read(kAbsent, 3, &byte));
    EXPECT_EQ(byte, 0);
    EXPECT_FALSE(prepare_frame(kAbsent));
    EXPECT_TRUE(driver.requests().empty());

    // Every request fails: reads report 0, a failed controller-read command
    // performs no read.
    driver.hook = [](const Request&, std::size_t) { return Outcome{false, 0}; };
    value = 9;
    EXPECT_FALSE(sensor_register_read(kName, 3, &value));
    EXPECT_EQ(value, 0);
    driver.clear_log();
    EXPECT_FALSE(controller_register_read(kName, 3, &byte));
    EXPECT_EQ(byte, 0);
    EXPECT_EQ(driver.requests().size(), 1u);
    EXPECT_FALSE(sensor_register_write(kName, 1, 1));
    EXPECT_FALSE(controller_register_write(kName, 1, 1));
    EXPECT_TRUE(prepare_frame(kName));  // only the open counts
    EXPECT_TRUE(send_frame_size(kName, 1));
    EXPECT_EQ(driver.open_handles(), 0u);

    // An invalid handle counts as open: the request fails instead.
    driver.hook = nullptr;
    driver.forced_open_result = platform::kInvalidDriverHandle;
    driver.clear_log();
    EXPECT_FALSE(sensor_register_write(kName, 1, 1));
    EXPECT_EQ(driver.requests().size(), 1u);
}

TEST(SerialRom, AddressRangePacketsAndPauses) {
    FakeDriver driver;
    driver.rom[0x1800] = 0x5A;
    driver.rom[0x1EB0] = 0x33;
    std::uint8_t byte = 7;
    EXPECT_FALSE(serial_rom_read(kName, 0x17FF, &byte));
    EXPECT_EQ(byte, 0);
    EXPECT_EQ(driver.opens(), 0u);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(serial_rom_read(kName, 0x1800, &byte));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(12));
    EXPECT_EQ(byte, 0x5A);
    auto log = driver.requests();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].data, packet({0x41, 0x51, 0x02, 0x01, 0x18, 0x00}));
    EXPECT_TRUE(serial_rom_read(kName, 0x1EB0, &byte));
    EXPECT_EQ(byte, 0x33);
    EXPECT_TRUE(serial_rom_identifier_read(kName, 0xB0, &byte));
    EXPECT_EQ(driver.commands().back(), packet({0x41, 0x51, 0x02, 0x01, 0x18, 0xB0}));

    driver.clear_log();
    EXPECT_TRUE(serial_rom_identifier_write(kName, 0x10, 0xC3));
    EXPECT_EQ(driver.commands().at(0), packet({0x40, 0x51, 0x03, 0x18, 0x10, 0xC3}));
    EXPECT_TRUE(serial_rom_identifier_read(kName, 0x10, &byte));
    EXPECT_EQ(byte, 0xC3);

    // A refused command is a failed read: the answer pipe still holds the
    // previous answer (0xC3), which must not come back as this byte.
    driver.clear_log();
    driver.hook = [](const Request& r, std::size_t) -> std::optional<Outcome> {
        if (r.pipe == 0) return Outcome{false, 0};
        return std::nullopt;
    };
    byte = 7;
    EXPECT_FALSE(serial_rom_read(kName, 0x1800, &byte));
    EXPECT_EQ(byte, 0);
    EXPECT_EQ(driver.requests().size(), 1u) << "no answer read after a refused command";
    driver.hook = [](const Request& r, std::size_t) -> std::optional<Outcome> {
        if (r.pipe == 1) return Outcome{true, 12};
        return std::nullopt;
    };
    EXPECT_FALSE(serial_rom_read(kName, 0x1800, &byte));
    EXPECT_EQ(byte, 0);
    driver.hook = [](const Request& r, std::size_t) -> std::optional<Outcome> {
        if (r.pipe == 0) return Outcome{true, 63};
        return std::nullopt;
    };
    EXPECT_FALSE(serial_rom_identifier_write(kName, 0, 0));
    EXPECT_EQ(driver.open_handles(), 0u);
}

}  // namespace
}  // namespace zbx::device
