// Error codes a session records in its history and posts to the application.
// The numbers are part of the public interface (ZBX_ERR_* in zorbex.h).
#pragma once

#include <cstdint>

namespace zbx::session {

enum ErrorCode : std::int32_t {
    ERR_NONE = 0,
    ERR_NOT_READY = 1,
    ERR_DEVICE_UNAVAILABLE = 2,
    ERR_THREAD_START = 3,
    ERR_WINDOW = 4,
    ERR_MEMORY = 5,
    ERR_DEVICE_IO = 6,
    ERR_GEOMETRY = 7,
    ERR_TRANSFER = 8,
    ERR_PARAMETER = 9,
    // Initialization: the shared camera table's place is held by an object
    // that is not private to the user (told apart from ERR_MEMORY so that
    // nobody hunts for a memory shortage).
    ERR_UNTRUSTED = 10,
    ERR_UNSUPPORTED = 11,
    ERR_FILE = 12,
    ERR_FRAME_TIMEOUT = 13,
};

// Posted to the notification window with wParam 0 and lParam = the code
// (the platform's first application message number plus 3).
inline constexpr std::uint32_t kErrorMessage = 0x8003;

}  // namespace zbx::session
