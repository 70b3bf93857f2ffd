#include "session/notification.h"

#include "platform/window.h"
#include "session/error_codes.h"

namespace zbx::session {

void post_error_message(ZbxWindow window, std::int32_t code) {
    (void)platform::post_message(window, kErrorMessage, 0, code);
}

}  // namespace zbx::session
