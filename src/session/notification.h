// The error notification message a session posts to the application.
#pragma once

#include <cstdint>

#include "zorbex/window.h"

namespace zbx::session {

// Posts the error message with `code` to `window` (the calling thread's
// queue when null).  A post that fails (full queue, destroyed window) is
// ignored: reporting never fails.
void post_error_message(ZbxWindow window, std::int32_t code);

}  // namespace zbx::session
