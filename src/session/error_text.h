// Names and plain sentences for the error codes, shared by the library's
// companion calls and through them by the tool and the language bindings.
#pragma once

namespace zbx::session {

// "ERR_DEVICE_UNAVAILABLE"; "ERR_UNKNOWN" for numbers the library never reports.
const char* error_name(int code);
// "the camera is not attached, or it is in use by another process".
const char* error_sentence(int code);

}  // namespace zbx::session
