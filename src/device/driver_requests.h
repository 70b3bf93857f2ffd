// Driver requests: every exchange between the library and the camera driver.
//
// Three layers.  Layer 1 issues one device-control request on an open
// handle; layer 2 moves 64-byte command packets and answers; layer 3 is a
// whole device operation that opens the device by name, makes its exchange
// and closes the handle again on every path, so no handle outlives a
// register operation.  Only the transfer thread and the single-frame read
// keep handles of their own.
#pragma once

#include <array>
#include <cstdint>

#include "platform/driver_port.h"

namespace zbx::device {

using platform::DriverHandle;

inline constexpr std::uint32_t kPacketSize = 64;
using Packet = std::array<std::uint8_t, kPacketSize>;

// Pipes: the direction of a transfer follows the pipe, not the control code.
inline constexpr std::uint32_t kPipeCommand = 0;   // host to camera, packets
inline constexpr std::uint32_t kPipeResponse = 1;  // camera to host, answers
inline constexpr std::uint32_t kPipeImage = 2;     // camera to host, frames

// Command codes (byte 0 of a packet).
inline constexpr std::uint8_t kCmdPrepareFrame = 0x01;
inline constexpr std::uint8_t kCmdStartFrame = 0x02;
inline constexpr std::uint8_t kCmdSensorWrite = 0x04;
inline constexpr std::uint8_t kCmdCameraInitialise = 0x06;
inline constexpr std::uint8_t kCmdFrameSize = 0x09;
inline constexpr std::uint8_t kCmdSampleWidth = 0x0A;
inline constexpr std::uint8_t kCmdSensorRead = 0x0C;
inline constexpr std::uint8_t kCmdControllerWrite = 0x25;
inline constexpr std::uint8_t kCmdControllerRead = 0x26;
inline constexpr std::uint8_t kCmdRomWrite = 0x40;
inline constexpr std::uint8_t kCmdRomRead = 0x41;

// The identifier area of the serial ROM starts here; nothing below it is read.
inline constexpr std::uint16_t kRomIdentifierBase = 0x1800;

// Results of layer 1.
inline constexpr int kRequestOk = 0;
inline constexpr int kRequestFailed = -1;
inline constexpr int kRequestNullBuffer = -2;
inline constexpr int kRequestNullHandle = -3;

// Results of layer 2 (and of the device link as a whole).
inline constexpr int kLinkOk = 0;
inline constexpr int kLinkNoHandle = 10;
inline constexpr int kLinkTransferFailed = 12;

// Which of the two transfer control codes carries a pipe transfer.
enum class TransferForm { kA, kB };

// Frames of this many bytes and more go through the large-frame codes.
inline constexpr std::uint32_t kLargeFrameBytes = 3'072'000;

// Driver settings record of the settings request (44 bytes).
inline constexpr std::uint32_t kSettingsRecordSize = 44;
std::array<std::uint8_t, kSettingsRecordSize> make_transfer_timeout_record(std::uint32_t timeout_ms);

// ---- Opening -------------------------------------------------------------

// Opens a device by name for write access shared with other writers.  The
// result counts as open whenever it is not kNullDriverHandle.
[[nodiscard]] DriverHandle open_device(const char* name);
// Closes the handle in `slot` when it holds one and clears the slot; true
// when something was closed.
bool close_device(DriverHandle& slot);

// RAII owner of a short-lived handle.
class ScopedDevice {
public:
    explicit ScopedDevice(const char* name) : handle_(open_device(name)) {}
    ~ScopedDevice() { close_device(handle_); }
    ScopedDevice(const ScopedDevice&) = delete;
    ScopedDevice& operator=(const ScopedDevice&) = delete;
    [[nodiscard]] bool is_open() const { return handle_ != platform::kNullDriverHandle; }
    [[nodiscard]] DriverHandle get() const { return handle_; }

private:
    DriverHandle handle_;
};

// ---- Layer 1: raw requests -----------------------------------------------

// One pipe transfer of `count` bytes from or into `data`; *moved receives
// the byte count the driver reports (may be null).  0, -1, -2 or -3.
[[nodiscard]] int pipe_transfer(DriverHandle handle, std::uint32_t pipe, std::uint32_t count,
                                std::uint8_t* data, TransferForm form, std::uint32_t* moved);
// The same through the large-frame twin codes.
[[nodiscard]] int large_pipe_transfer(DriverHandle handle, std::uint32_t pipe, std::uint32_t count,
                                      std::uint8_t* data, TransferForm form, std::uint32_t* moved);
// The driver settings request; 1 when the driver accepted it, 0 otherwise.
int settings_request(DriverHandle handle, const std::array<std::uint8_t, kSettingsRecordSize>& record);

// ---- Layer 2: packets ----------------------------------------------------

// Form-B transfer of `length` bytes: 0, 10 (no handle) or 12 (failed, or a
// byte count other than `length`).
[[nodiscard]] int packet_write(DriverHandle handle, std::uint32_t pipe, std::uint32_t length,
                               std::uint8_t* buffer);
// Form-A transfer, same results.
[[nodiscard]] int packet_read(DriverHandle handle, std::uint32_t pipe, std::uint32_t length,
                              std::uint8_t* buffer);
// A sensor-write packet (0x04) whose arguments are `payload` (at most 63
// bytes used), written on the command pipe.
[[nodiscard]] int command_with_payload(DriverHandle handle, std::uint32_t length,
                                       const std::uint8_t* payload);
// Sensor-read packet, then two reads of the answer; only the second read's
// result counts.  Copies min(out_length, 64) bytes of the answer buffer.
[[nodiscard]] int sensor_read_exchange(DriverHandle handle, std::uint16_t address, std::uint8_t* out,
                                       std::uint32_t out_length);

// ---- Layer 3: device operations on the device `name` ---------------------

[[nodiscard]] bool sensor_register_write(const char* name, std::uint16_t address, std::uint16_t value);
// *value is 0 on failure.
[[nodiscard]] bool sensor_register_read(const char* name, std::uint16_t address, std::uint16_t* value);
[[nodiscard]] bool controller_register_write(const char* name, std::uint8_t reg, std::uint8_t value);
[[nodiscard]] bool controller_register_read(const char* name, std::uint8_t reg, std::uint8_t* value);
// Any ROM address from the identifier base up; below it returns false at
// once without traffic.  A refused read command fails without reading the
// answer pipe.  Pauses 6 ms after the command and 6 ms after the answer,
// which the ROM needs.
[[nodiscard]] bool serial_rom_read(const char* name, std::uint16_t address, std::uint8_t* byte);
[[nodiscard]] bool serial_rom_identifier_read(const char* name, std::uint8_t index, std::uint8_t* byte);
// Pauses 10 ms after the write for the ROM to program the byte.
[[nodiscard]] bool serial_rom_identifier_write(const char* name, std::uint8_t index, std::uint8_t byte);
// True when the device opened; the packet's own result is not looked at.
bool prepare_frame(const char* name);
void camera_initialise(const char* name);
bool send_frame_size(const char* name, std::uint32_t sample_count);
bool send_sample_width(const char* name, bool sixteen_bit);
void set_transfer_timeout(const char* name, std::uint32_t timeout_ms);

}  // namespace zbx::device
