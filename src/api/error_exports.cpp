// Companion calls that name error codes; they need no session.
#include "session/error_text.h"
#include "zorbex/errors.h"

extern "C" const char* ZbxError_Name(int code) { return zbx::session::error_name(code); }
extern "C" const char* ZbxError_Describe(int code) { return zbx::session::error_sentence(code); }
