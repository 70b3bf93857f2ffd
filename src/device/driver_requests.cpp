#include "device/driver_requests.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "platform/clock.h"

namespace zbx::device {

namespace {

void put_le32(std::uint8_t* out, std::uint32_t value) {
    out[0] = static_cast<std::uint8_t>(value);
    out[1] = static_cast<std::uint8_t>(value >> 8);
    out[2] = static_cast<std::uint8_t>(value >> 16);
    out[3] = static_cast<std::uint8_t>(value >> 24);
}

int transfer(DriverHandle handle, std::uint32_t code, std::uint32_t pipe, std::uint32_t count,
             std::uint8_t* data, std::uint32_t* moved) {
    if (data == nullptr) return kRequestNullBuffer;
    if (handle == platform::kNullDriverHandle) return kRequestNullHandle;
    std::array<std::uint8_t, 4> pipe_index{};
    put_le32(pipe_index.data(), pipe);
    std::uint32_t returned = 0;
    const bool ok = platform::driver_control(handle, code, pipe_index, std::span(data, count), &returned);
    if (moved) *moved = returned;
    return ok ? kRequestOk : kRequestFailed;
}

int packet_transfer(DriverHandle handle, std::uint32_t pipe, std::uint32_t length, std::uint8_t* buffer,
                    TransferForm form) {
    if (handle == platform::kNullDriverHandle) return kLinkNoHandle;
    std::uint32_t moved = 0;
    if (pipe_transfer(handle, pipe, length, buffer, form, &moved) != kRequestOk || moved != length) {
        return kLinkTransferFailed;
    }
    return kLinkOk;
}

// Writes one packet with the given leading bytes on the command pipe.
int write_command(DriverHandle handle, std::initializer_list<std::uint8_t> bytes, Packet& packet) {
    packet.fill(0);
    std::copy(bytes.begin(), bytes.end(), packet.begin());
    return packet_write(handle, kPipeCommand, kPacketSize, packet.data());
}

// Two reads of the answer into `packet`; the first only clears the pipe.
int read_answer(DriverHandle handle, Packet& packet) {
    (void)packet_read(handle, kPipeResponse, kPacketSize, packet.data());
    return packet_read(handle, kPipeResponse, kPacketSize, packet.data());
}

bool send_simple(const char* name, std::initializer_list<std::uint8_t> bytes) {
    ScopedDevice device(name);
    if (!device.is_open()) return false;
    Packet packet{};
    return write_command(device.get(), bytes, packet) == kLinkOk;
}

}  // namespace

std::array<std::uint8_t, kSettingsRecordSize> make_transfer_timeout_record(std::uint32_t timeout_ms) {
    std::array<std::uint8_t, kSettingsRecordSize> record{};
    put_le32(record.data(), 1);
    put_le32(record.data() + 4, timeout_ms);
    return record;
}

DriverHandle open_device(const char* name) {
    if (name == nullptr) return platform::kNullDriverHandle;
    return platform::driver_open(name);
}

bool close_device(DriverHandle& slot) {
    if (slot == platform::kNullDriverHandle) return false;
    platform::driver_close(slot);
    slot = platform::kNullDriverHandle;
    return true;
}

int pipe_transfer(DriverHandle handle, std::uint32_t pipe, std::uint32_t count, std::uint8_t* data,
                  TransferForm form, std::uint32_t* moved) {
    const std::uint32_t code =
        form == TransferForm::kA ? platform::kIoctlPipeTransferA : platform::kIoctlPipeTransferB;
    return transfer(handle, code, pipe, count, data, moved);
}

int large_pipe_transfer(DriverHandle handle, std::uint32_t pipe, std::uint32_t count, std::uint8_t* data,
                        TransferForm form, std::uint32_t* moved) {
    const std::uint32_t code = form == TransferForm::kA ? platform::kIoctlLargePipeTransferA
                                                        : platform::kIoctlLargePipeTransferB;
    return transfer(handle, code, pipe, count, data, moved);
}

int settings_request(DriverHandle handle, const std::array<std::uint8_t, kSettingsRecordSize>& record) {
    if (handle == platform::kNullDriverHandle) return 0;
    std::uint32_t returned = 0;
    return platform::driver_control(handle, platform::kIoctlDriverSettings, record, {}, &returned) ? 1 : 0;
}

int packet_write(DriverHandle handle, std::uint32_t pipe, std::uint32_t length, std::uint8_t* buffer) {
    return packet_transfer(handle, pipe, length, buffer, TransferForm::kB);
}

int packet_read(DriverHandle handle, std::uint32_t pipe, std::uint32_t length, std::uint8_t* buffer) {
    return packet_transfer(handle, pipe, length, buffer, TransferForm::kA);
}

int command_with_payload(DriverHandle handle, std::uint32_t length, const std::uint8_t* payload) {
    Packet packet{};
    packet[0] = kCmdSensorWrite;
    if (payload) std::memcpy(packet.data() + 1, payload, std::min<std::uint32_t>(length, kPacketSize - 1));
    return packet_write(handle, kPipeCommand, kPacketSize, packet.data());
}

int sensor_read_exchange(DriverHandle handle, std::uint16_t address, std::uint8_t* out,
                         std::uint32_t out_length) {
    Packet packet{};
    const int written = write_command(
        handle,
        {kCmdSensorRead, static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)},
        packet);
    if (written != kLinkOk) return written;
    const int result = read_answer(handle, packet);
    if (out) std::memcpy(out, packet.data(), std::min(out_length, kPacketSize));
    return result;
}

bool sensor_register_write(const char* name, std::uint16_t address, std::uint16_t value) {
    ScopedDevice device(name);
    if (!device.is_open()) return false;
    const std::uint8_t payload[4] = {static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address),
                                     static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
    return command_with_payload(device.get(), sizeof payload, payload) == kLinkOk;
}

bool sensor_register_read(const char* name, std::uint16_t address, std::uint16_t* value) {
    if (value) *value = 0;
    ScopedDevice device(name);
    if (!device.is_open()) return false;
    std::uint8_t answer[2] = {};
    if (sensor_read_exchange(device.get(), address, answer, sizeof answer) != kLinkOk) return false;
    if (value) *value = static_cast<std::uint16_t>(answer[0] * 256 + answer[1]);
    return true;
}

bool controller_register_write(const char* name, std::uint8_t reg, std::uint8_t value) {
    return send_simple(name, {kCmdControllerWrite, reg, value});
}

bool controller_register_read(const char* name, std::uint8_t reg, std::uint8_t* value) {
    if (value) *value = 0;
    ScopedDevice device(name);
    if (!device.is_open()) return false;
    Packet packet{};
    if (write_command(device.get(), {kCmdControllerRead, reg}, packet) != kLinkOk) return false;
    if (read_answer(device.get(), packet) != kLinkOk) return false;
    if (value) *value = packet[0];
    return true;
}

bool serial_rom_read(const char* name, std::uint16_t address, std::uint8_t* byte) {
    if (byte) *byte = 0;
    if (address < kRomIdentifierBase) return false;
    ScopedDevice device(name);
    if (!device.is_open()) return false;
    Packet packet{};
    // A refused command leaves the previous answer on pipe 1: reading it
    // would hand back a stale byte as if it were this address's.
    if (write_command(device.get(),
                      {kCmdRomRead, 0x51, 0x02, 0x01, static_cast<std::uint8_t>(address >> 8),
                       static_cast<std::uint8_t>(address)},
                      packet) != kLinkOk)
        return false;
    platform::sleep_ms(6);
    const int result = read_answer(device.get(), packet);
    platform::sleep_ms(6);
    if (result != kLinkOk) return false;
    if (byte) *byte = packet[0];
    return true;
}

bool serial_rom_identifier_read(const char* name, std::uint8_t index, std::uint8_t* byte) {
    return serial_rom_read(name, static_cast<std::uint16_t>(kRomIdentifierBase + index), byte);
}

bool serial_rom_identifier_write(const char* name, std::uint8_t index, std::uint8_t byte) {
    ScopedDevice device(name);
    if (!device.is_open()) return false;
    Packet packet{};
    const int result =
        write_command(device.get(), {kCmdRomWrite, 0x51, 0x03, kRomIdentifierBase >> 8, index, byte}, packet);
    platform::sleep_ms(10);
    return result == kLinkOk;
}

bool prepare_frame(const char* name) {
    ScopedDevice device(name);
    if (!device.is_open()) return false;
    Packet packet{};
    (void)write_command(device.get(), {kCmdPrepareFrame}, packet);
    return true;
}

void camera_initialise(const char* name) { (void)send_simple(name, {kCmdCameraInitialise}); }

bool send_frame_size(const char* name, std::uint32_t sample_count) {
    (void)send_simple(name, {kCmdFrameSize, static_cast<std::uint8_t>(sample_count),
                             static_cast<std::uint8_t>(sample_count >> 8),
                             static_cast<std::uint8_t>(sample_count >> 16),
                             static_cast<std::uint8_t>(sample_count >> 24)});
    return true;
}

bool send_sample_width(const char* name, bool sixteen_bit) {
    (void)send_simple(name, {kCmdSampleWidth, static_cast<std::uint8_t>(sixteen_bit ? 1 : 0)});
    return true;
}

void set_transfer_timeout(const char* name, std::uint32_t timeout_ms) {
    ScopedDevice device(name);
    (void)settings_request(device.get(), make_transfer_timeout_record(timeout_ms));
}

}  // namespace zbx::device
