// Listing and naming the attached cameras, switching a session to another
// one, and describing the camera model.
#pragma once

#include "zorbex/zorbex.h"

namespace zbx::session {

class CZorbex;

// Entries of the name lists; the list always gets at least this many.
inline constexpr int kNameEntryLength = 256;
inline constexpr int kMinNameEntries = 10;
// Buffers below this size are refused.
inline constexpr int kMinNameBuffer = 15;

// Probes again and lists the present cameras as "Zorbex530RD-NQT_01", _02 ...
// in slot order; the number found.  The session's selected camera is kept.
int enum_devices(CZorbex& session, char (*names)[kNameEntryLength]);
// The same in UTF-16, from the presence table as the last probe left it.
int enum_devices(CZorbex& session, char16_t (*names)[kNameEntryLength]);
// Name of the camera in `slot`, numbered slot + 1; cut to fit `size` (bytes
// or UTF-16 units), never written past it.
int get_device_name(CZorbex& session, int slot, char* buffer, int size);
int get_device_name(CZorbex& session, int slot, char16_t* buffer, int size);
// Saves the groups of the current camera, switches to `number`, loads its
// groups and programs them.  Error 2 when it is absent or fails to start.
int set_device_number(CZorbex& session, int number);
int get_camera_info(CZorbex& session, ZbxCameraInfo* info);

}  // namespace zbx::session
