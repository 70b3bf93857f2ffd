// Companion calls that name error codes; they need no session.
#include "api/guard.h"
#include "session/error_text.h"
#include "zorbex/errors.h"

using zbx::api::guarded;

extern "C" const char* ZbxError_Name(int code) {
    return guarded<const char*>("ERR_UNKNOWN", [&] { return zbx::session::error_name(code); });
}

extern "C" const char* ZbxError_Describe(int code) {
    return guarded<const char*>("unknown error", [&] { return zbx::session::error_sentence(code); });
}
