// Format settings of a session: colour mode with its two numberings,
// geometry and its check, sub-sample, wait time, mirrors, and the direct
// register, I/O-port and serial-ROM forwarding.
#pragma once

#include <cstdint>

namespace zbx::session {

class CZorbex;
struct Geometry;

inline constexpr int kColorModeCount = 6;

// Image bits of a colour mode's developed image (8 ... 64); 0 outside 0 to 5.
[[nodiscard]] int color_mode_bits(int mode);
// The mode that `Zorbex_SetColorMode` bits select; -1 for other values.
[[nodiscard]] int color_mode_from_bits(int bits);
// What `Zorbex_GetColorMode` reports (8, 12, 24, 32, 44, 60); -1 outside 0 to 5.
[[nodiscard]] int reported_color_mode(int mode);
// True for the modes that read 16-bit samples from the sensor (1, 4, 5).
[[nodiscard]] bool color_mode_uses_16_bit_samples(int mode);

// Window inside the 1280 x 720 sensor, at least as large as the sensor reads
// out, and a sub-sample mode the camera runs.
[[nodiscard]] bool geometry_is_valid(const Geometry& geometry, std::int32_t sub_sample);

int set_color_mode(CZorbex& session, int bits);
int get_color_mode(CZorbex& session);
int set_sub_sample(CZorbex& session, int mode);
int get_sub_sample(CZorbex& session);
int set_wait_time(CZorbex& session, int milliseconds);
int get_wait_time(CZorbex& session);
int width(CZorbex& session);
int height(CZorbex& session);
// Writes 0 through `value` when not null; returns 0.
int get_video_format(CZorbex& session, int* value);

// Store and program at once.  Without a camera the horizontal forms record
// error 1, the vertical ones only post it.
int set_mirror_h(CZorbex& session, int flag);
int set_mirror_v(CZorbex& session, int flag);
int get_mirror_h(CZorbex& session);
int get_mirror_v(CZorbex& session);

// Sensor registers: the short forms use the address's low 8 bits.
int read_register(CZorbex& session, int address, int* ok, bool full_address);
int write_register(CZorbex& session, int address, int value, bool full_address);
// Controller register 7; failures are posted only.
int get_io_port(CZorbex& session, unsigned char* value);
int set_io_port(CZorbex& session, int value);
// Serial-ROM identifier bytes 0 to 255; failures are posted only.
int read_srom_id(CZorbex& session, int index, int* ok);
int write_srom_id(CZorbex& session, int index, int value);

}  // namespace zbx::session
